#include "window/app/temperaturepanel.h"

#include "core/device/fanrule.h"
#include "core/link/focusercommands.h"
#include "core/motion/motionstate.h"
#include "core/settings/focusersettings.h"
#include "core/units/positionunits.h"
#include "window/app/console.h"
#include "window/ui/colours.h"
#include "window/ui/messagebox.h"

#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <iterator>

namespace tarnivel {

namespace {

constexpr int kLampSize = 16;

// The round fan lamp; its fill is the button colour of its palette, so BackColour reads it.
class FanLamp : public QWidget {
public:
    explicit FanLamp(QWidget* parent) : QWidget(parent) {
        setFixedSize(kLampSize, kLampSize);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(BackColour(this));
        painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
};

double& LimitSetting(FocuserSettings& settings, int n) {
    switch (n) {
    case 1:
        return settings.SensorLimit1;
    case 2:
        return settings.SensorLimit2;
    default:
        return settings.SensorLimit3;
    }
}

const QString& SensorName(const FocuserSettings& settings, int n) {
    switch (n) {
    case 1:
        return settings.SensorName1;
    case 2:
        return settings.SensorName2;
    default:
        return settings.SensorName3;
    }
}

// A limit as the operator would write it: no forced decimals, every digit (Auto takes the
// box's text back), no grouping, and of the locale only the decimal mark: the minus stays
// '-' where a locale writes U+2212.
QString LimitText(double limit) {
    QString text = QString::number(limit, 'f', QLocale::FloatingPointShortest);
    text.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return text;
}

} // namespace

TemperaturePanel::TemperaturePanel(Console& console, QWidget* parent)
    : QObject(parent), console_(console) {
    limitCheck_ = new QuietCall([this] { ValidatePendingLimits(); }, this);
    limitCheck_->holdWhile([this] { return console_.motion.Moving(); });
    Frame2 = new QGroupBox(QStringLiteral("Temperature"), parent);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    auto* temperatures = new QGridLayout(Frame2);
    for (int i = 0; i < 3; ++i) {
        const QString number = QString::number(i + 1);
        lblSensor[i] = new QLabel(QStringLiteral("Sensor ") + number, Frame2);
        lblSensor[i]->setObjectName(QStringLiteral("lblSensor") + number);
        txtTemp[i] = new QLineEdit(Frame2);
        txtTemp[i]->setObjectName(QStringLiteral("txtTemp") + number);
        txtTemp[i]->setReadOnly(true);
        txtTemp[i]->setFocusPolicy(Qt::NoFocus);
        txtTemp[i]->setAlignment(Qt::AlignRight);
        temperatures->addWidget(lblSensor[i], i, 0);
        temperatures->addWidget(txtTemp[i], i, 1);
    }
    chkComp = new QCheckBox(QStringLiteral("Comp"), Frame2);
    chkComp->setObjectName(QStringLiteral("chkComp"));
    chkComp->setEnabled(false);
    // clicked, not toggled: the box also shows compensation switched off by STOP or the cap.
    connect(chkComp, &QCheckBox::clicked, this, [this] { chkComp_Click(); });
    temperatures->addWidget(chkComp, 3, 0);
    cmdMarkFocus = new QPushButton(QStringLiteral("Mark focus"), Frame2);
    cmdMarkFocus->setObjectName(QStringLiteral("cmdMarkFocus"));
    cmdMarkFocus->setAutoDefault(false);
    cmdMarkFocus->setEnabled(false);
    cmdMarkFocus->setToolTip(QStringLiteral(
        "Record this position as best focus at the present temperature, to learn the "
        "compensation coefficient"));
    connect(cmdMarkFocus, &QPushButton::clicked, this, [this] { cmdMarkFocus_Click(); });
    temperatures->addWidget(cmdMarkFocus, 3, 1);
    ShowTempComp();

    Frame3 = new QGroupBox(QStringLiteral("Fan Control"), parent);
    Frame3->setObjectName(QStringLiteral("Frame3"));
    auto* fans = new QGridLayout(Frame3);

    cmdManual = new QPushButton(QStringLiteral("Manual"), Frame3);
    cmdManual->setObjectName(QStringLiteral("cmdManual"));
    connect(cmdManual, &QPushButton::clicked, this, [this] { cmdManual_Click(); });
    fans->addWidget(cmdManual, 0, 0);

    Label1 = new QLabel(QStringLiteral("OFF"), Frame3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("ON"), Frame3);
    Label2->setObjectName(QStringLiteral("Label2"));
    QLabel* captions[2] = {Label1, Label2};
    for (int i = 0; i < 2; ++i) {
        optFan[i] = new QRadioButton(Frame3);
        optFan[i]->setObjectName(QStringLiteral("optFan") + QString::number(i));
        optFan[i]->setAccessibleName(captions[i]->text());
        captions[i]->setBuddy(optFan[i]);
        // clicked, not toggled: a selection made by the program is no operator's choice.
        connect(optFan[i], &QRadioButton::clicked, this, [this, i] { optFan_Click(i); });
        fans->addWidget(captions[i], 0, 1 + 2 * i, Qt::AlignRight);
        fans->addWidget(optFan[i], 0, 2 + 2 * i);
    }
    optFan[0]->setChecked(true);

    shpFanLED = new FanLamp(Frame3);
    shpFanLED->setObjectName(QStringLiteral("shpFanLED"));
    fans->addWidget(shpFanLED, 0, 5, Qt::AlignCenter);

    for (int i = 0; i < 3; ++i) {
        const QString number = QString::number(i + 1);
        cmdAuto[i] = new QPushButton(QStringLiteral("Auto"), Frame3);
        cmdAuto[i]->setObjectName(QStringLiteral("cmdAuto") + number);
        connect(cmdAuto[i], &QPushButton::clicked, this, [this, i] { cmdAuto_Click(i + 1); });
        txtSensorLimit[i] = new QLineEdit(Frame3);
        txtSensorLimit[i]->setObjectName(QStringLiteral("txtSensorLimit") + number);
        txtSensorLimit[i]->setAlignment(Qt::AlignRight);
        txtSensorLimit[i]->installEventFilter(this);
        connect(txtSensorLimit[i], &QLineEdit::returnPressed, this,
                [this, i] { LimitBoxLeft(i + 1); });
        fans->addWidget(cmdAuto[i], i + 1, 0);
        fans->addWidget(txtSensorLimit[i], i + 1, 1, 1, 5);
    }

    // The disconnected state the window starts in.
    DisableFanControls();
    DimReadings();
}

void TemperaturePanel::LoadFromSettings() {
    UpdateSensorNames();
    for (int n = 1; n <= 3; ++n)
        txtSensorLimit[n - 1]->setText(LimitText(LimitSetting(console_.settings, n)));
}

void TemperaturePanel::UpdateSensorNames() {
    for (int n = 1; n <= 3; ++n)
        lblSensor[n - 1]->setText(SensorName(console_.settings, n));
    UpdateToolTips();
}

void TemperaturePanel::UpdateToolTips() {
    const FocuserSettings& s = console_.settings;
    const QString unit = s.Degrees == 0 ? QStringLiteral("°C") : QStringLiteral("°F");
    const QString reference = SensorName(s, 1);
    for (int n = 1; n <= 3; ++n) {
        const QString name = SensorName(s, n);
        txtTemp[n - 1]->setToolTip(QStringLiteral("Temperature of ") + name);
        if (n == 1) {
            txtSensorLimit[0]->setToolTip(
                QStringLiteral("Fan on while %1 is above this limit (%2)").arg(reference, unit));
            cmdAuto[0]->setToolTip(
                QStringLiteral("Automatic fan: on while %1 is above the limit beside this button")
                    .arg(reference));
        } else {
            txtSensorLimit[n - 1]->setToolTip(
                QStringLiteral("Fan on while %1 is more than this above %2 (%3)")
                    .arg(reference, name, unit));
            cmdAuto[n - 1]->setToolTip(QStringLiteral("Automatic fan: on while %1 is more than "
                                                      "the limit beside this button above %2")
                                           .arg(reference, name));
        }
    }
    cmdManual->setToolTip(QStringLiteral("Switch the fan by hand with OFF and ON"));
    optFan[0]->setToolTip(QStringLiteral("Fan off"));
    optFan[1]->setToolTip(QStringLiteral("Fan on"));
    shpFanLED->setToolTip(QStringLiteral("Fan lamp: green while the fan is switched on"));
}

void TemperaturePanel::UpdateStatus() {
    InlinePacer pacer(console_.platform);
    UpdateStatus(pacer).RunToEnd();
}

Sequence<bool> TemperaturePanel::UpdateStatus(Pacer& pacer) {
    // The reads give events a turn, so the mode is read only once they are done.
    const StatusReport report =
        co_await console_.device.ReadStatus(pacer, [this] { return FanMode; });
    const int degrees = console_.settings.Degrees;
    const auto toDisplay = [degrees](double celsius) {
        return degrees == 0 ? celsius : FocuserCommands::CelsiusToFahrenheit(celsius);
    };
    for (int n = 1; n <= 3; ++n) {
        const TemperatureReading& c = report.celsius[n - 1];
        txtTemp[n - 1]->setEnabled(report.answered[n - 1]);
        txtTemp[n - 1]->setText(
            TemperatureText(c ? TemperatureReading(toDisplay(*c)) : std::nullopt, degrees));
    }

    if (report.verdict == FanVerdict::SensorMissing) {
        FillLamp(ColourOff);
        SelectFan(0);
    } else if (report.verdict == FanVerdict::Run) {
        SelectFan(1);
        if (report.commandSent)
            FillLamp(ColourOn);
    } else if (report.verdict == FanVerdict::Rest) {
        SelectFan(0);
        if (report.commandSent)
            FillLamp(ColourOff);
    }

    console_.device.FanShownInPlace(FanMode, !optFan[0]->isChecked());
    if (console_.settings.Logging)
        WriteLogLine(report.celsius);
    else
        SetLogStatus(QString());
    // The window starts a compensation move just after this update: the next one tells of it.
    const int compMoves = console_.device.State().tempCompMoves;
    const bool compMove = compMoves != compMovesSeen_;
    compMovesSeen_ = compMoves;
    // With the port lost the last position read is no reading: the plot leaves a gap, as it
    // does for the temperatures, rather than draw it on for as long as the cable is out.
    const std::optional<int> position = console_.device.State().lost()
                                            ? std::nullopt
                                            : std::optional<int>(console_.motion.CurrentPosition);
    Q_EMIT statusUpdated(Now(), report.celsius, FanMode, !optFan[0]->isChecked(), position,
                         compMove);
    ShowTempComp();
    co_return true;
}

void TemperaturePanel::ShowTempComp() {
    const FocuserSettings& s = console_.settings;
    const DeviceState& state = console_.device.State();
    const bool connected = console_.link.LinkOpen();
    const bool coefficient = s.TempCompCoefficient != 0;
    chkComp->setEnabled(connected && coefficient);
    chkComp->setChecked(state.tempCompOn);
    chkComp->setToolTip(
        coefficient
            ? QStringLiteral("Temperature compensation: follow %1 at %2 steps per degree "
                             "Celsius; STOP switches it off")
                  .arg(SensorName(s, std::clamp(s.TempCompSensor, 1, 3)))
                  .arg(s.TempCompCoefficient)
            : QStringLiteral("No compensation coefficient yet: mark focus at a few "
                             "temperatures and use the fit in the options, or enter one there"));
    cmdMarkFocus->setEnabled(connected);
    const QString text = state.tempCompStatus.isEmpty() ? state.tempCompMove : state.tempCompStatus;
    if (text != compStatus_) {
        compStatus_ = text;
        Q_EMIT compStatusChanged(text);
    }
}

void TemperaturePanel::chkComp_Click() {
    const Outcome o = console_.device.SetTempComp(chkComp->isChecked());
    if (!o.ok())
        console_.messages.show(MsgIcon::Information, console_.appTitle, o.reason);
    ShowTempComp();
}

void TemperaturePanel::cmdMarkFocus_Click() {
    const Outcome o = console_.device.MarkFocus();
    const QString text =
        o.ok() ? QStringLiteral("Focus point %1 marked").arg(console_.settings.FocusPoints.size())
               : o.reason;
    Q_EMIT compStatusChanged(text);
}

void TemperaturePanel::cmdManual_Click() {
    FanMode = 0;
    cmdManual->setEnabled(false);
    for (QPushButton* button : cmdAuto)
        button->setEnabled(true);
    SetBackColour(cmdManual, ColourOn);
    for (QPushButton* button : cmdAuto)
        SetBackColour(button, ColourOff);
    optFan[0]->setEnabled(true);
    optFan[1]->setEnabled(true);
    LockLimits(false);
    SelectFan(0);
    FillLamp(ColourOff);
    FanRequest = -1;
}

void TemperaturePanel::cmdAuto_Click(int n) {
    if (n < 1 || n > 3)
        return;
    // The boxes are about to be locked, and a locked box must show the limit the rule
    // uses. One holding no number stops the click, gets the focus and gives the warning
    // that leaving it gives, at the next quiet moment like that one (this click may run
    // inside a command's wait); the others' numbers are taken even if their focus never left.
    double limits[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (!ParseOperatorNumber(txtSensorLimit[i]->text(), limits[i])) {
            txtSensorLimit[i]->setFocus(Qt::OtherFocusReason);
            limitPending_[i] = true;
            limitCheck_->request();
            return;
        }
    }
    for (int i = 0; i < 3; ++i)
        LimitSetting(console_.settings, i + 1) = limits[i];
    FanMode = n;
    cmdManual->setEnabled(true);
    for (int i = 0; i < 3; ++i)
        cmdAuto[i]->setEnabled(i != n - 1);
    SetBackColour(cmdManual, ColourOff);
    for (int i = 0; i < 3; ++i)
        SetBackColour(cmdAuto[i], i == n - 1 ? ColourOn : ColourOff);
    optFan[0]->setEnabled(false);
    optFan[1]->setEnabled(false);
    LockLimits(true);
    SelectFan(0);
}

void TemperaturePanel::optFan_Click(int index) {
    if (FanMode != 0)
        return;
    if (index == 1) {
        FillLamp(ColourOn);
        FanRequest = 1;
    } else if (index == 0) {
        FillLamp(ColourOff);
        FanRequest = -1;
    }
}

void TemperaturePanel::SetDisconnectedState() {
    console_.device.SetTempComp(false);
    ShowTempComp();
    cmdMarkFocus->setEnabled(false);
    cmdManual_Click();
    FanMode = 0;
    DisableFanControls();
    DimReadings();
    LockLimits(false);
}

void TemperaturePanel::DimReadings() {
    for (QLineEdit* box : txtTemp)
        box->setEnabled(false);
}

void TemperaturePanel::DisableFanControls() {
    for (QPushButton* button : {cmdManual, cmdAuto[0], cmdAuto[1], cmdAuto[2]}) {
        button->setEnabled(false);
        SetBackColour(button, ColourOff);
    }
    optFan[0]->setEnabled(false);
    optFan[1]->setEnabled(false);
    FillLamp(ColourOff);
}

void TemperaturePanel::SendQueuedFanCommand() {
    StraightPacer straight;
    SendQueuedFanCommand(straight).RunToEnd();
}

Sequence<bool> TemperaturePanel::SendQueuedFanCommand(Pacer& pacer) {
    // Taken before sending: SetFan gives events a turn, and a click arriving meanwhile must
    // stay queued for the next tick rather than be cleared with this one.
    const int request = FanRequest;
    if (request == 0)
        co_return false;
    FanRequest = 0;
    if (request == -1 || request == 1)
        co_await console_.device.SetFan(pacer, request == 1);
    co_return true;
}

bool TemperaturePanel::txtSensorLimit_Validate(int n) {
    if (n < 1 || n > 3)
        return true;
    QLineEdit* box = txtSensorLimit[n - 1];
    const QString name = QStringLiteral("SensorLimit") + QString::number(n);
    const QString text = box->text();
    QString complaint;
    double value = 0;
    // A box of blanks is not blank in this sense: it holds text, just no number.
    if (text.isEmpty())
        complaint = name + QStringLiteral(" cannot be blank!");
    else if (!ParseOperatorNumber(text, value))
        complaint = name + QStringLiteral(" must be Numeric!");
    if (complaint.isEmpty()) {
        LimitSetting(console_.settings, n) = value;
        return true;
    }

    // The message box and the focus change below cause focus events of their own.
    const bool nested = validating_;
    validating_ = true;
    console_.messages.show(MsgIcon::Warning, console_.appTitle, complaint);
    box->setFocus(Qt::OtherFocusReason);
    validating_ = nested;
    return false;
}

void TemperaturePanel::LimitBoxLeft(int n) {
    if (n < 1 || n > 3)
        return;
    double value = 0;
    if (ParseOperatorNumber(txtSensorLimit[n - 1]->text(), value)) {
        LimitSetting(console_.settings, n) = value;
        limitPending_[n - 1] = false;
        return;
    }
    limitPending_[n - 1] = true;
    limitCheck_->request();
}

void TemperaturePanel::ValidatePendingLimits() {
    // One complaint at a time: the focus goes back into that box, and the others speak
    // when the focus leaves them again.
    bool pending[3];
    std::copy(std::begin(limitPending_), std::end(limitPending_), std::begin(pending));
    std::fill(std::begin(limitPending_), std::end(limitPending_), false);
    for (int i = 0; i < 3; ++i) {
        if (pending[i] && !txtSensorLimit_Validate(i + 1))
            break;
    }
}

bool TemperaturePanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !validating_) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // Focus that leaves with the whole window (another program, a message box, a popup)
        // has not moved to another control: nothing to validate yet.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            for (int i = 0; i < 3; ++i) {
                if (watched == txtSensorLimit[i])
                    LimitBoxLeft(i + 1);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void TemperaturePanel::FillLamp(const QColor& colour) {
    SetBackColour(shpFanLED, colour);
    // The lamp paints its own round face; a filled rectangle behind it would show.
    shpFanLED->setAutoFillBackground(false);
    shpFanLED->update();
}

void TemperaturePanel::SelectFan(int index) {
    optFan[index]->setChecked(true);
}

void TemperaturePanel::LockLimits(bool locked) {
    for (QLineEdit* box : txtSensorLimit)
        box->setReadOnly(locked);
}

void TemperaturePanel::WriteLogLine(const TemperatureReadings& celsius) {
    TemperatureLog log(console_.logPath);
    if (log.Append(Now(), celsius, FanMode, !optFan[0]->isChecked())) {
        SetLogStatus(QString());
        return;
    }
    // Dropped, and said on the status line rather than in a box that would come back at
    // every update until someone frees the file.
    SetLogStatus(QStringLiteral("Temperature log not written: ") + log.lastError());
}

void TemperaturePanel::SetLogStatus(const QString& text) {
    const bool changed = text != logStatus_;
    logStatus_ = text;
    // A failure is repeated each time (the main window may have emptied the status line at a
    // connect meanwhile); the all-clear only once.
    if (changed || !text.isEmpty())
        Q_EMIT logStatusChanged(text);
}

} // namespace tarnivel
