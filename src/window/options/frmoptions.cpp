#include "window/options/frmoptions.h"

#include "core/device/calibration.h"
#include "core/link/focusercommands.h"
#include "core/motion/motionstate.h"
#include "core/settings/focusersettings.h"
#include "core/units/positionunits.h"
#include "window/app/console.h"
#include "window/options/calibrationview.h"
#include "window/options/tempcompframe.h"
#include "window/ui/busycursor.h"
#include "window/ui/inputgate.h"
#include "window/ui/messagebox.h"
#include "window/ui/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSignalBlocker>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>

namespace tarnivel {

namespace {

// Positions the operator can pick in the lists; a hand-edited settings file may hold
// values outside them.
constexpr int kMaxDecimals = 8;
constexpr int kMinSpeed = 1;
constexpr int kMaxSpeed = 9;
// Where Alpaca clients look for a server first.
constexpr int kAlpacaDefaultPort = 11111;

// Whether a changed check box may talk to the controller: only while its frame is
// enabled, so code that sets a box behind a disabled frame sends nothing.
bool FrameEnabled(const QGroupBox* frame) {
    return frame->isEnabled();
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& title) {
    auto* f = new QGroupBox(title, parent);
    f->setObjectName(QString::fromLatin1(name));
    return f;
}

template <typename W> W* Named(W* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

const QString kLimitsTip =
    QStringLiteral("Let the controller enforce the travel limits found by the calibration");
const QString kLimitsOutOfReachTip = QStringLiteral(
    "Off: the focuser's travel is too short for the controller's limits, which it sets only in "
    "whole blocks of 65536 steps, one block inside each end stop");

// Limits asked for that the controller took as two 0 bytes (off on both sides).
bool LimitsOutOfReach(int minByte, int maxByte) {
    return minByte == 0 && maxByte == 0;
}

// The same for the limits a calibrated travel would get, one block inside its end stops.
bool TravelOutOfReach(const PositionMap& scale) {
    return scale.Anchored() &&
           LimitsOutOfReach(FocuserCommands::LimitByte(scale.ToRaw(0), +1),
                            FocuserCommands::LimitByte(scale.ToRaw(scale.Max()), -1));
}

} // namespace

frmOptions::frmOptions(Console& console, QWidget* parent)
    : QDialog(parent), console_(console),
      calibrationView_(std::make_unique<CalibrationView>(*this)),
      calibration_(std::make_unique<Calibration>(console.device, *calibrationView_)) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Tarnivel Options"));
    setModal(true);
    BuildControls();

    // Centred on the screen, in twips like the rest of the settings.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const QSize size = sizeHint();
        const double dpi = screen->logicalDotsPerInch();
        FormLeft = PixelsToTwips(area.left() + (area.width() - size.width()) / 2.0, dpi);
        FormTop = PixelsToTwips(area.top() + (area.height() - size.height()) / 2.0, dpi);
    }
}

frmOptions::~frmOptions() = default;

void frmOptions::BuildControls() {
    // Temperature sensors.
    Frame1 = MakeFrame(this, "Frame1", QStringLiteral("Temperature Sensors"));
    Frame3 = MakeFrame(Frame1, "Frame3", QStringLiteral("Log To Disk"));
    chkLogging = Named(new QCheckBox(QStringLiteral("Check1"), Frame3), "chkLogging");
    Frame2 = MakeFrame(Frame1, "Frame2", QStringLiteral("Degrees"));
    cboDegrees = Named(new QComboBox(Frame2), "cboDegrees");
    txtSensor3 = Named(new QLineEdit(QStringLiteral("Text3"), Frame1), "txtSensor3");
    txtSensor2 = Named(new QLineEdit(QStringLiteral("Text2"), Frame1), "txtSensor2");
    txtSensor1 = Named(new QLineEdit(QStringLiteral("Text1"), Frame1), "txtSensor1");
    Label3 = Named(new QLabel(QStringLiteral("3"), Frame1), "Label3");
    Label2 = Named(new QLabel(QStringLiteral("2"), Frame1), "Label2");
    Label1 = Named(new QLabel(QStringLiteral("1"), Frame1), "Label1");
    {
        auto* l3 = new QVBoxLayout(Frame3);
        l3->addWidget(chkLogging);
        auto* l2 = new QVBoxLayout(Frame2);
        l2->addWidget(cboDegrees);
        auto* g = new QGridLayout(Frame1);
        g->addWidget(Label1, 0, 0);
        g->addWidget(txtSensor1, 0, 1);
        g->addWidget(Label2, 1, 0);
        g->addWidget(txtSensor2, 1, 1);
        g->addWidget(Label3, 2, 0);
        g->addWidget(txtSensor3, 2, 1);
        auto* row = new QHBoxLayout;
        row->addWidget(Frame2);
        row->addWidget(Frame3, 1);
        g->addLayout(row, 3, 0, 1, 2);
    }

    cmdShowStates = Named(new QPushButton(QStringLiteral("Test"), this), "cmdShowStates");

    // Calibration.
    Frame9 = MakeFrame(this, "Frame9", QStringLiteral("Calibrate Focuser"));
    cmdQuickCalibrate =
        Named(new QPushButton(QStringLiteral("Quick Calibrate"), Frame9), "cmdQuickCalibrate");
    cmdCancelCalibrate =
        Named(new QPushButton(QStringLiteral("Cancel"), Frame9), "cmdCancelCalibrate");
    cmdCalibrate = Named(new QPushButton(QStringLiteral("Full Calibrate"), Frame9), "cmdCalibrate");
    lblCalibrate = Named(new QLabel(Frame9), "lblCalibrate");
    lblCalibrate->setTextFormat(Qt::PlainText);
    lblCalibrate->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblCalibrate->setMinimumHeight(fontMetrics().lineSpacing() * 3 + 4);
    lblCalibrate->setMinimumWidth(fontMetrics().horizontalAdvance(kLabelNotResponding) + 8);
    // A failed completion names its write in a line longer than the frame.
    lblCalibrate->setWordWrap(true);
    lblPosition = Named(new QLabel(Frame9), "lblPosition");
    lblPosition->setTextFormat(Qt::PlainText);
    lblPosition->setAlignment(Qt::AlignHCenter);
    cmdCancelCalibrate->setVisible(false);
    {
        auto* v = new QVBoxLayout(Frame9);
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(cmdQuickCalibrate);
        buttons->addWidget(cmdCancelCalibrate);
        buttons->addWidget(cmdCalibrate);
        v->addLayout(buttons);
        v->addWidget(lblCalibrate, 1);
        v->addWidget(lblPosition);
    }

    // Display, motion and controller options.
    fraOptions = MakeFrame(this, "fraOptions", QString());
    fraLimits = MakeFrame(fraOptions, "fraLimits", QStringLiteral("Min/Max Limts"));
    chkLimits = Named(new QCheckBox(QStringLiteral("Enabled"), fraLimits), "chkLimits");
    fraReset = MakeFrame(fraOptions, "fraReset", QStringLiteral("Reset Position to Zero"));
    cmdReset = Named(new QPushButton(QStringLiteral("Reset"), fraReset), "cmdReset");
    fraAutoStop = MakeFrame(fraOptions, "fraAutoStop", QStringLiteral("Auto Stop"));
    chkAutoStop = Named(new QCheckBox(QStringLiteral("Enabled"), fraAutoStop), "chkAutoStop");
    fraSoundEffects = MakeFrame(fraOptions, "fraSoundEffects", QStringLiteral("Sound Effects"));
    chkSlewingSound =
        Named(new QCheckBox(QStringLiteral("Slewing"), fraSoundEffects), "chkSlewingSound");
    chkCompletionSound =
        Named(new QCheckBox(QStringLiteral("Completion"), fraSoundEffects), "chkCompletionSound");
    fraDecimals = MakeFrame(fraOptions, "fraDecimals", QStringLiteral("LCD Decimals"));
    cboDecimals = Named(new QComboBox(fraDecimals), "cboDecimals");
    Frame5 = MakeFrame(fraOptions, "Frame5", QStringLiteral("Fast Slew Speed"));
    cboFastSlewSpeed = Named(new QComboBox(Frame5), "cboFastSlewSpeed");
    Frame4 = MakeFrame(fraOptions, "Frame4", QStringLiteral("Slow Slew Speed"));
    cboSlowSlewSpeed = Named(new QComboBox(Frame4), "cboSlowSlewSpeed");
    Frame8 = MakeFrame(fraOptions, "Frame8", QStringLiteral("Scaling Units"));
    cboScaleUnits = Named(new QComboBox(Frame8), "cboScaleUnits");
    fraScaleFactor = MakeFrame(fraOptions, "fraScaleFactor", QStringLiteral("Scaling Factor"));
    txtScaleFactor = Named(new QLineEdit(QStringLiteral("1"), fraScaleFactor), "txtScaleFactor");
    fraAlpaca = MakeFrame(fraOptions, "fraAlpaca", QStringLiteral("Imaging Programs"));
    chkServeAlpaca =
        Named(new QCheckBox(QStringLiteral("Serve Alpaca on port"), fraAlpaca), "chkServeAlpaca");
    txtAlpacaPort = Named(new QLineEdit(fraAlpaca), "txtAlpacaPort");
    txtAlpacaPort->setMaxLength(5);
    txtAlpacaPort->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    {
        const auto single = [](QGroupBox* frame, QWidget* w) {
            auto* l = new QVBoxLayout(frame);
            l->addWidget(w);
        };
        single(fraLimits, chkLimits);
        single(fraReset, cmdReset);
        single(fraAutoStop, chkAutoStop);
        auto* s = new QVBoxLayout(fraSoundEffects);
        s->addWidget(chkSlewingSound);
        s->addWidget(chkCompletionSound);
        single(fraDecimals, cboDecimals);
        single(Frame5, cboFastSlewSpeed);
        single(Frame4, cboSlowSlewSpeed);
        single(Frame8, cboScaleUnits);
        single(fraScaleFactor, txtScaleFactor);
        auto* g = new QGridLayout(fraOptions);
        g->addWidget(Frame8, 0, 0);
        g->addWidget(fraScaleFactor, 0, 1, 1, 2);
        g->addWidget(Frame4, 1, 0);
        g->addWidget(Frame5, 1, 1);
        g->addWidget(fraDecimals, 1, 2);
        g->addWidget(fraSoundEffects, 2, 0);
        g->addWidget(fraLimits, 2, 1);
        g->addWidget(fraAutoStop, 2, 2);
        g->addWidget(fraReset, 3, 0, 1, 3);
        auto* a = new QHBoxLayout(fraAlpaca);
        a->addWidget(chkServeAlpaca);
        a->addWidget(txtAlpacaPort);
        a->addStretch(1);
        g->addWidget(fraAlpaca, 4, 0, 1, 3);
    }

    cmdOk = Named(new QPushButton(QStringLiteral("Ok"), this), "cmdOk");
    cmdCancel = Named(new QPushButton(QStringLiteral("Cancel"), this), "cmdCancel");
    lblVersion = Named(new QLabel(QStringLiteral("Version Information"), this), "lblVersion");
    lblVersion->setTextFormat(Qt::PlainText);
    cmdOk->setDefault(true);

    auto* right = new QVBoxLayout;
    right->addWidget(Frame1);
    right->addWidget(Frame9, 1);
    auto* testRow = new QHBoxLayout;
    testRow->addStretch(1);
    testRow->addWidget(cmdShowStates);
    right->addLayout(testRow);
    auto* top = new QHBoxLayout;
    top->addWidget(fraOptions);
    top->addLayout(right);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblVersion, 1);
    bottom->addWidget(cmdOk);
    bottom->addWidget(cmdCancel);
    auto* outer = new QVBoxLayout(this);
    // Its values go back into the settings only with Ok.
    fraTempComp = new TempCompFrame(this);
    fraTempComp->Load(console_.settings);
    outer->addLayout(top);
    outer->addWidget(fraTempComp);
    outer->addLayout(bottom);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    // Reading order: the left column top to bottom, row by row, then the right column,
    // then the buttons.
    const QList<QWidget*> tabOrder = {cboScaleUnits,      txtScaleFactor,
                                      cboSlowSlewSpeed,   cboFastSlewSpeed,
                                      cboDecimals,        chkSlewingSound,
                                      chkCompletionSound, chkLimits,
                                      chkAutoStop,        cmdReset,
                                      chkServeAlpaca,     txtAlpacaPort,
                                      txtSensor1,         txtSensor2,
                                      txtSensor3,         cboDegrees,
                                      chkLogging,         cmdQuickCalibrate,
                                      cmdCancelCalibrate, cmdCalibrate,
                                      cmdShowStates,      cmdOk,
                                      cmdCancel};
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));
    // The compensation frame below both columns, before the buttons.
    QWidget* previous = cmdShowStates;
    for (QWidget* w : fraTempComp->TabChain()) {
        setTabOrder(previous, w);
        previous = w;
    }
    setTabOrder(previous, cmdOk);
    setTabOrder(cmdOk, cmdCancel);

    const struct {
        QWidget* control;
        const char* tip;
    } tips[] = {
        {cboScaleUnits, "Units of the readout, the step and the saved positions"},
        {txtScaleFactor, "Focuser steps per unit; choosing other units converts it"},
        {cboSlowSlewSpeed, "Rate of the slow jog buttons < and >"},
        {cboFastSlewSpeed, "Rate of the fast jog buttons < < and > >"},
        {cboDecimals, "Digits after the point on the readout and in the list"},
        {chkSlewingSound, "Play a sound while the focuser moves"},
        {chkCompletionSound, "Play a sound when a move ends"},
        {chkAutoStop, "The controller's auto-stop; every connect switches it on"},
        {cmdReset, "Make the present focuser position read zero"},
        {chkServeAlpaca, "Let imaging programs drive this focuser over the network (ASCOM "
                         "Alpaca) while this window keeps working; STOP here halts their moves"},
        {txtAlpacaPort, "The TCP port the Alpaca clients connect to (11111 is usual)"},
        {txtSensor1, "Name of temperature sensor 1, the one the automatic fan rules compare"},
        {txtSensor2, "Name of temperature sensor 2"},
        {txtSensor3, "Name of temperature sensor 3"},
        {cboDegrees, "Show temperatures and fan limits in Celsius or Fahrenheit"},
        {chkLogging, "Append every temperature reading to this file beside the settings"},
        {cmdQuickCalibrate,
         "Find the lower end stop and reuse the travel measured by the last full calibration"},
        {cmdCancelCalibrate, "Stop the calibration under way"},
        {cmdCalibrate, "Drive to both end stops, measure the travel and put zero in its middle"},
        {cmdShowStates, "Show the controller's limits, auto-stop and calibration data"},
        {lblCalibrate, "Progress of the calibration"},
        {lblPosition, "The focuser's position, as the main window's readout shows it"},
        {lblVersion, "Versions of this program and of the focuser's firmware"},
        {cmdOk, "Keep these settings"},
        {cmdCancel, "Close without changing any setting"},
    };
    for (const auto& t : tips)
        t.control->setToolTip(QString::fromUtf8(t.tip));
    chkLimits->setToolTip(kLimitsTip);

    connect(cboScaleUnits, &QComboBox::activated, this, [this] { cboScaleUnits_Click(); });
    connect(chkLimits, &QCheckBox::toggled, this, [this] { chkLimits_Click(); });
    connect(chkAutoStop, &QCheckBox::toggled, this, [this] { chkAutoStop_Click(); });
    connect(cmdShowStates, &QPushButton::clicked, this, [this] { cmdShowStates_Click(); });
    connect(cmdReset, &QPushButton::clicked, this, [this] { cmdReset_Click(); });
    connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(cmdCalibrate, &QPushButton::clicked, this, [this] { cmdCalibrate_Click(); });
    connect(cmdQuickCalibrate, &QPushButton::clicked, this, [this] { cmdQuickCalibrate_Click(); });
    connect(cmdCancelCalibrate, &QPushButton::clicked, this,
            [this] { cmdCancelCalibrate_Click(); });
    InputGate::LetThrough(cmdCancelCalibrate);
}

QString frmOptions::FormatScaleFactor(double value) {
    // The digits the settings file will hold; only the decimal mark is the operator's.
    QString text = FormatSettingsReal(value);
    text.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return text;
}

int frmOptions::UnitsIndex(const QString& name) const {
    if (name == kUnitMm)
        return 1;
    if (name == kUnitUser)
        return 2;
    return 0;
}

bool frmOptions::QuickCalibrationAvailable() {
    return console_.device.QuickCalibrationAllowed().ok();
}

void frmOptions::Display() {
    FocuserDevice& device = console_.device;

    txtScaleFactor->setText(FormatScaleFactor(ScaleFactor));

    cboScaleUnits->clear();
    cboScaleUnits->addItems({kUnitThou, kUnitMm, kUnitUser});
    fillingUnits_ = true;
    cboScaleUnits->setCurrentIndex(UnitsIndex(ScaleUnits));
    fillingUnits_ = false;

    cboDecimals->clear();
    for (int i = 0; i <= kMaxDecimals; ++i)
        cboDecimals->addItem(QString::number(i));
    cboDecimals->setCurrentIndex(std::clamp(Decimals, 0, kMaxDecimals));

    cboSlowSlewSpeed->clear();
    cboFastSlewSpeed->clear();
    for (int i = kMinSpeed; i <= kMaxSpeed; ++i) {
        cboSlowSlewSpeed->addItem(QString::number(i));
        cboFastSlewSpeed->addItem(QString::number(i));
    }
    cboSlowSlewSpeed->setCurrentIndex(std::clamp(SlowSlewSpeed, kMinSpeed, kMaxSpeed) - 1);
    cboFastSlewSpeed->setCurrentIndex(std::clamp(FastSlewSpeed, kMinSpeed, kMaxSpeed) - 1);

    chkSlewingSound->setChecked(SlewingSound);
    chkCompletionSound->setChecked(CompletionSound);

    // The boxes change behind disabled frames here, so opening the dialog sends nothing.
    fraLimits->setEnabled(false);
    if (device.ReadCalibratedInPlace() == 1) {
        const bool on = device.ReadActiveLimitsInPlace();
        ShowLimitsBox(on, !on && TravelOutOfReach(device.Scale()));
        // The limits cannot be switched on an uncalibrated focuser.
        fraLimits->setEnabled(true);
    }

    fraAutoStop->setEnabled(false);
    chkAutoStop->setChecked(device.ReadAutoStopInPlace() == 1);

    cmdQuickCalibrate->setEnabled(QuickCalibrationAvailable());

    const QString firmware = device.ReadFirmwareInPlace();
    lblVersion->setText(QStringLiteral("Tarnivel v%1.%2.%3\r\nFocuser  v%4")
                            .arg(TARNIVEL_VERSION_MAJOR)
                            .arg(TARNIVEL_VERSION_MINOR)
                            .arg(TARNIVEL_VERSION_PATCH)
                            .arg(firmware));

    fraAutoStop->setEnabled(true);

    txtSensor1->setText(SensorName1);
    txtSensor2->setText(SensorName2);
    txtSensor3->setText(SensorName3);

    cboDegrees->clear();
    cboDegrees->addItems({QStringLiteral("°C"), QStringLiteral("°F")});
    // The rest of the program reads any value but 0 as Fahrenheit.
    cboDegrees->setCurrentIndex(Degrees != 0 ? 1 : 0);

    chkLogging->setText(console_.logFileName);
    chkLogging->setChecked(Logging);

    chkServeAlpaca->setChecked(AlpacaPort != 0);
    txtAlpacaPort->setText(QString::number(AlpacaPort != 0 ? AlpacaPort : kAlpacaDefaultPort));

    // The dialog may lie over the main window's readout, and a calibration runs for
    // minutes: the position is shown here as well.
    const std::function<void()> display = console_.device.Readout();
    console_.device.SetReadout([this, display] {
        if (display)
            display();
        else
            console_.device.ReadPosition();
        ShowPosition();
    });
    ShowPosition();
    console_.RunModal(*this);
    console_.device.SetReadout(display);
}

void frmOptions::ShowPosition() {
    lblPosition->setText(
        QStringLiteral("Focuser at %1 %2")
            .arg(FormatPositionText(console_.motion.CurrentPosition, ScaleFactor, Decimals)
                     .trimmed(),
                 ScaleUnits));
}

void frmOptions::EnableOptionControls(bool enabled) {
    QWidget* const order[] = {
        cmdCalibrate,    cmdQuickCalibrate, fraOptions,  fraAutoStop, fraLimits,
        fraSoundEffects, fraReset,          fraDecimals, cmdCancel,   cmdOk};
    for (QWidget* w : order)
        w->setEnabled(enabled);
    if (!QuickCalibrationAvailable())
        cmdQuickCalibrate->setEnabled(false);
}

void frmOptions::cboScaleUnits_Click() {
    if (fillingUnits_)
        return;
    double factor = 0;
    if (txtScaleFactor->text().trimmed().isEmpty() ||
        !ParseOperatorNumber(txtScaleFactor->text(), factor))
        return;
    const QString newUnits = cboScaleUnits->currentText();
    txtScaleFactor->setText(FormatScaleFactor(ConvertScaleFactor(factor, ScaleUnits, newUnits)));
    ScaleUnits = newUnits;
}

bool frmOptions::RefusedDuringExchange(QCheckBox* box) {
    if (!exchanging_)
        return false;
    // The click came inside another exchange's wait, where its frames would take that
    // exchange's answer; the box goes back to what the controller was told last.
    const QSignalBlocker quiet(box);
    box->setChecked(!box->isChecked());
    return true;
}

void frmOptions::chkLimits_Click() {
    if (!FrameEnabled(fraLimits) || RefusedDuringExchange(chkLimits))
        return;
    const QScopedValueRollback<bool> exchanging(exchanging_, true);
    InlinePacer pacer(console_.platform);
    bool enforced = false;
    const bool on = chkLimits->isChecked();
    const int switched = console_.device.SwitchActiveLimits(pacer, on, enforced).RunToEnd();
    if (switched == 0) {
        ShowLimitsWritten(on);
        return;
    }
    {
        // The box shows what the controller enforces, without switching anything again.
        const QSignalBlocker quiet(chkLimits);
        chkLimits->setChecked(enforced);
    }
    console_.messages.show(MsgIcon::Warning, console_.appTitle,
                           switched == -1 ? kLimitsUnreadText : kLimitsUnconfirmedText);
}

void frmOptions::ShowLimitsBox(bool on, bool outOfReach) {
    const QSignalBlocker quiet(chkLimits);
    chkLimits->setChecked(on && !outOfReach);
    chkLimits->setToolTip(outOfReach ? kLimitsOutOfReachTip : kLimitsTip);
}

void frmOptions::ShowLimitsWritten(bool on) {
    const FocuserDevice::LimitBytes bytes = console_.device.ActiveLimitBytes();
    ShowLimitsBox(on, on && LimitsOutOfReach(bytes.lower, bytes.upper));
}

void frmOptions::chkAutoStop_Click() {
    if (!FrameEnabled(fraAutoStop) || RefusedDuringExchange(chkAutoStop))
        return;
    const QScopedValueRollback<bool> exchanging(exchanging_, true);
    console_.device.WriteAutoStop(chkAutoStop->isChecked());
}

void frmOptions::cmdShowStates_Click() {
    if (exchanging_)
        return;
    const QScopedValueRollback<bool> exchanging(exchanging_, true);
    cmdShowStates->setEnabled(false);
    console_.cursor.setBusy(true);
    const FocuserDevice::StatesReport r = console_.device.ReadStatesReport();
    console_.cursor.setBusy(false);

    const auto withSigned = [](const QString& label, qint32 v) {
        return QStringLiteral("%1%2 (%3)").arg(label).arg(v).arg(SignedSteps(v));
    };
    const QString text = QStringList{withSigned(QStringLiteral("Limit Min: "), r.limitMin),
                                     withSigned(QStringLiteral("Limit Max: "), r.limitMax),
                                     withSigned(QStringLiteral("Real Limit Min: "), r.realLimitMin),
                                     withSigned(QStringLiteral("Real Limit Max: "), r.realLimitMax),
                                     QStringLiteral("AutoStop: %1").arg(r.autoStop),
                                     QStringLiteral("Calibrated: %1").arg(r.calibrated),
                                     QStringLiteral("MaxTravel: %1").arg(r.maxTravel)}
                             .join(QStringLiteral("\r\n"));
    console_.messages.show(MsgIcon::None, console_.appTitle, text, MsgButtons::Ok);
    cmdShowStates->setEnabled(true);
}

void frmOptions::cmdReset_Click() {
    if (exchanging_ || calibration_->Active())
        return;
    const QScopedValueRollback<bool> exchanging(exchanging_, true);
    if (console_.device.ReadCalibratedInPlace().value_or(0) == 0) {
        console_.messages.show(MsgIcon::Warning, console_.appTitle,
                               QStringLiteral("Focuser must be Calibrated first."));
        return;
    }
    if (console_.messages.show(
            MsgIcon::Question, QStringLiteral("Reset Position to Zero"),
            QStringLiteral("Are you sure you want to Reset the Current Position to Zero?"),
            MsgButtons::YesNo) != MsgAnswer::Yes)
        return;

    const Outcome reset = console_.device.ShiftCounter(0, chkLimits->isChecked());
    // A second Reset in the same dialog must start from the new scale; a failed one may have
    // moved the counter all the same.
    console_.DisplayPosition();
    if (reset.ok())
        return;
    const FocuserDevice::LimitBytes bytes = console_.device.ActiveLimitBytes();
    if (bytes.lower >= 0 && bytes.upper >= 0) {
        // The box follows the limits as they were read back.
        const QSignalBlocker quiet(chkLimits);
        chkLimits->setChecked(bytes.lower > 0 || bytes.upper > 0);
    }
    console_.messages.show(MsgIcon::Warning, console_.appTitle, reset.reason);
}

bool frmOptions::ValidateScaleFactor() {
    const QString text = txtScaleFactor->text().trimmed();
    QString problem;
    double factor = 0;
    if (text.isEmpty())
        problem = QStringLiteral("Scale Factor must be specified.");
    else if (!ParseOperatorNumber(text, factor))
        problem = QStringLiteral("Scale Factor not numeric");
    else if (!(factor > 0))
        problem = QStringLiteral("Scale Factor must be greater than zero");
    if (problem.isEmpty())
        return true;
    console_.messages.show(MsgIcon::Warning, console_.appTitle, problem);
    return false;
}

void frmOptions::cmdOk_Click() {
    if (exchanging_ || calibration_->Active() || !ValidateScaleFactor() ||
        !fraTempComp->Validate() || !ValidateAlpacaPort())
        return;
    fraTempComp->Store(console_.settings);
    ParseOperatorNumber(txtScaleFactor->text(), ScaleFactor);
    ScaleUnits = cboScaleUnits->currentText();
    Decimals = cboDecimals->currentIndex();
    SlowSlewSpeed = cboSlowSlewSpeed->currentIndex() + 1;
    FastSlewSpeed = cboFastSlewSpeed->currentIndex() + 1;
    SlewingSound = chkSlewingSound->isChecked();
    CompletionSound = chkCompletionSound->isChecked();
    SensorName1 = txtSensor1->text();
    SensorName2 = txtSensor2->text();
    SensorName3 = txtSensor3->text();
    Degrees = cboDegrees->currentIndex();
    Logging = chkLogging->isChecked();
    AlpacaPort = chkServeAlpaca->isChecked() ? txtAlpacaPort->text().trimmed().toInt() : 0;
    Cancel = false;
    accept();
}

bool frmOptions::ValidateAlpacaPort() {
    if (!chkServeAlpaca->isChecked())
        return true;
    bool ok = false;
    const int port = txtAlpacaPort->text().trimmed().toInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        return true;
    console_.messages.show(
        MsgIcon::Warning, console_.appTitle,
        QStringLiteral("The Alpaca port must be a whole number from 1 to 65535."));
    txtAlpacaPort->setFocus();
    txtAlpacaPort->selectAll();
    return false;
}

void frmOptions::cmdCancel_Click() {
    reject();
}

void frmOptions::reject() {
    // Esc and the close box land here even while Cancel is disabled. During a calibration
    // they cancel it, as its Cancel button would; the dialog, like any other exchange with
    // the controller still running on it, must end before it may close.
    if (calibration_->Active()) {
        if (!cmdCancelCalibrate->isHidden())
            cmdCancelCalibrate_Click();
        return;
    }
    if (exchanging_)
        return;
    Cancel = true;
    QDialog::reject();
}

void frmOptions::cmdCalibrate_Click() {
    if (exchanging_)
        return;
    const QScopedValueRollback<bool> exchanging(exchanging_, true);
    if (calibration_->RunFull())
        CalibrationDone();
}

void frmOptions::cmdQuickCalibrate_Click() {
    if (exchanging_)
        return;
    const QScopedValueRollback<bool> exchanging(exchanging_, true);
    if (calibration_->RunQuick())
        CalibrationDone();
}

void frmOptions::CalibrationDone() {
    CalibrationNeeded = false;
    CalibrationCompleted = true;
}

void frmOptions::cmdCancelCalibrate_Click() {
    calibration_->CancelClick();
}

} // namespace tarnivel
