#include "window/app/frmtarnivel.h"

#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/seams/serialport.h"
#include "core/seams/soundplayer.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"
#include "window/app/console.h"
#include "window/app/logoart.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"
#include "window/app/stopkey.h"
#include "window/app/temperaturepanel.h"
#include "window/options/frmoptions.h"
#include "window/plot/temperatureplot.h"
#include "window/positions/positionsframe.h"
#include "window/ui/busycursor.h"
#include "window/ui/colours.h"
#include "window/ui/inputgate.h"
#include "window/ui/messagebox.h"
#include "window/ui/twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace tarnivel {

namespace {

constexpr int kComPorts = 16;
constexpr int kPollIntervalMs = 50;
constexpr int kSettleRetryMs = 5;
constexpr int kLogoTopTwips = 120;
constexpr int kIndicatorTopTwips = 80;
// Room above the frames for the logos and the moving indicator.
constexpr int kHeaderTwips = 900;
// Part of the window's top edge that must lie on some screen for it to be reachable.
constexpr int kReachableStripPx = 40;

const QColor kStopColour{192, 0, 0};
const QColor kStopDisabledColour{206, 150, 150};

const QString kOffText = QStringLiteral("---Off--");
const QString kCalibrationNeededText =
    QStringLiteral("Focuser requires Calibrating: click on Options and then Calibrate");

QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

JogButton* makeJogButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new JogButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setMinimumSize(46, 38);
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    SetBackColour(b, ColourOff);
    return b;
}

double screenDpiX(const QScreen* screen) {
    return screen ? screen->logicalDotsPerInchX() : 96.0;
}
double screenDpiY(const QScreen* screen) {
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

} // namespace

frmTarnivel::frmTarnivel(Console& console, QString settingsPath, QWidget* parent)
    : QWidget(parent), console_(console), poll_(console.device),
      settingsPath_(std::move(settingsPath)), inPlacePacer_(console.platform) {
    setObjectName(QStringLiteral("frmTarnivel"));
    setWindowTitle(QStringLiteral("Tarnivel"));
    rateTimer = new RateTimer(this);
    rateTimer->setObjectName(QStringLiteral("RateTimer"));
    connect(rateTimer, &RateTimer::timeout, this, &frmTarnivel::RateTimer_Timer);
    inputGate = new InputGate([this] { return console_.link.Busy(); }, this);
    console_.inputGate = inputGate;

    console_.device.SetReadout([this] { DisplayPosition(); });
    console_.EnableMotionControls = [this](bool enabled) { EnableMotionControls(enabled); };
    console_.gotos.setDisplayPosition([this](Pacer& pacer) { return DisplayPosition(pacer); });
    console_.gotos.setGotoFinished(
        [this](int reached, int target) { GotoFinished(reached, target); });
    console_.link.SetBeforeFrame([this] { SendHeldGuestStop(); });

    BuildControls();
    Form_Initialize();
    Form_Load();
}

frmTarnivel::~frmTarnivel() {
    // A tick or a connect waiting on the loop goes first: it holds a wait on the input gate.
    if (enginePacer_)
        enginePacer_->Cancel();
    engine_.Reset();
    // The shared console outlives the window; leave it nothing that points here.
    console_.device.SetReadout(nullptr);
    console_.EnableMotionControls = nullptr;
    console_.inputGate = nullptr;
    console_.gotos.setDisplayPosition(nullptr);
    console_.gotos.setGotoFinished(nullptr);
    console_.link.SetBeforeFrame({});
}

double frmTarnivel::dpiX() const {
    return screenDpiX(screen());
}
double frmTarnivel::dpiY() const {
    return screenDpiY(screen());
}

void frmTarnivel::BuildControls() {
    // ---- COM port -----------------------------------------------------------------------
    Frame1 = new QGroupBox(QStringLiteral("COM Port"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    cboComPort = new QComboBox(Frame1);
    cboComPort->setObjectName(QStringLiteral("cboComPort"));
    cboComPort->setMinimumContentsLength(6);
    cmdConnect = makeButton(QStringLiteral("cmdConnect"), QStringLiteral("Connect"), Frame1);
    cmdDisconnect =
        makeButton(QStringLiteral("cmdDisconnect"), QStringLiteral("Disconnect"), Frame1);
    SetBackColour(cmdConnect, ColourOff);
    SetBackColour(cmdDisconnect, ColourOff);
    cmdDisconnect->setEnabled(false);
    auto* portLayout = new QGridLayout(Frame1);
    portLayout->addWidget(cboComPort, 0, 0, 1, 2);
    portLayout->addWidget(cmdConnect, 1, 0);
    portLayout->addWidget(cmdDisconnect, 1, 1);

    // ---- Readout, status, options -------------------------------------------------------
    NumLED = new LedReadout(this);
    NumLED->setObjectName(QStringLiteral("NumLED"));
    NumLED->setText(kOffText);
    NumLED->setLive(false);
    lblStatus = new StatusLine(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setMinimumWidth(240);
    {
        QFont f = lblStatus->font();
        f.setBold(true);
        lblStatus->setFont(f);
        QPalette p = lblStatus->palette();
        p.setColor(QPalette::WindowText, QColor(160, 0, 0));
        lblStatus->setPalette(p);
    }
    cmdOptions = makeButton(QStringLiteral("cmdOptions"), QStringLiteral("Options"), this);
    cmdOptions->setEnabled(false);

    // ---- Manual adjust ------------------------------------------------------------------
    fraManualAdjust = new QGroupBox(QStringLiteral("Manual Adjust"), this);
    fraManualAdjust->setObjectName(QStringLiteral("fraManualAdjust"));
    fraManualAdjust->setEnabled(false);
    cmdFastLeft =
        makeJogButton(QStringLiteral("cmdFastLeft"), QStringLiteral("< <"), fraManualAdjust);
    cmdSlowLeft =
        makeJogButton(QStringLiteral("cmdSlowLeft"), QStringLiteral("<"), fraManualAdjust);
    cmdSlowRight =
        makeJogButton(QStringLiteral("cmdSlowRight"), QStringLiteral(">"), fraManualAdjust);
    cmdFastRight =
        makeJogButton(QStringLiteral("cmdFastRight"), QStringLiteral("> >"), fraManualAdjust);
    cmdStop = makeButton(QStringLiteral("cmdStop"), QStringLiteral("STOP"), fraManualAdjust);
    {
        QFont f(QStringLiteral("Arial"));
        f.setPointSizeF(font().pointSizeF() + 2);
        f.setBold(true);
        cmdStop->setFont(f);
        // Disabled, it fades, so that it does not call for a press that cannot happen.
        SetBackColour(cmdStop, kStopColour, kStopDisabledColour);
        QPalette p = cmdStop->palette();
        p.setColor(QPalette::ButtonText, Qt::white);
        p.setColor(QPalette::Disabled, QPalette::Button, kStopDisabledColour);
        p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(240, 222, 222));
        cmdStop->setPalette(p);
        cmdStop->setMinimumHeight(44);
        cmdStop->setEnabled(false);
    }
    // Jog buttons in a row, slow ones inside, with a wide STOP under them.
    auto* jogLayout = new QGridLayout(fraManualAdjust);
    jogLayout->addWidget(cmdFastLeft, 0, 0);
    jogLayout->addWidget(cmdSlowLeft, 0, 1);
    jogLayout->addWidget(cmdSlowRight, 0, 2);
    jogLayout->addWidget(cmdFastRight, 0, 3);
    jogLayout->addWidget(cmdStop, 1, 0, 1, 4);
    jogLayout->setVerticalSpacing(8);

    const struct {
        JogButton* button;
        int sign;
        bool fast;
    } jogs[] = {{cmdFastLeft, -1, true},
                {cmdSlowLeft, -1, false},
                {cmdSlowRight, 1, false},
                {cmdFastRight, 1, true}};
    for (const auto& j : jogs) {
        JogButton* b = j.button;
        const int sign = j.sign;
        const bool fast = j.fast;
        connect(b, &JogButton::jogPressed, this, [this, b, sign, fast] {
            const FocuserSettings& s = console_.settings;
            JogPress(b, sign * (fast ? s.FastSlewSpeed : s.SlowSlewSpeed));
        });
        connect(b, &JogButton::jogReleased, this, [this, b] { JogRelease(b); });
    }

    // ---- Quick adjust -------------------------------------------------------------------
    fraQuickAdjust = new QGroupBox(QStringLiteral("Quick Adjust"), this);
    fraQuickAdjust->setObjectName(QStringLiteral("fraQuickAdjust"));
    fraQuickAdjust->setEnabled(false);
    txtAdjust = new QLineEdit(QStringLiteral("1"), fraQuickAdjust);
    txtAdjust->setObjectName(QStringLiteral("txtAdjust"));
    txtAdjust->setAlignment(Qt::AlignCenter);
    txtAdjust->setMinimumWidth(70);
    UpDownAdjust = new UpDownControl(fraQuickAdjust);
    UpDownAdjust->setObjectName(QStringLiteral("UpDownAdjust"));
    cmdDecrement = makeButton(QStringLiteral("cmdDecrement"), QStringLiteral("-"), fraQuickAdjust);
    cmdIncrement = makeButton(QStringLiteral("cmdIncrement"), QStringLiteral("+"), fraQuickAdjust);
    for (QPushButton* b : {cmdDecrement, cmdIncrement}) {
        QFont f = b->font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() + 2);
        b->setFont(f);
        b->setMinimumSize(40, 30);
    }
    auto* quickLayout = new QHBoxLayout(fraQuickAdjust);
    quickLayout->addWidget(cmdDecrement);
    quickLayout->addWidget(txtAdjust, 1);
    quickLayout->setSpacing(4);
    quickLayout->addWidget(UpDownAdjust);
    quickLayout->addSpacing(4);
    quickLayout->addWidget(cmdIncrement);
    connect(UpDownAdjust, &UpDownControl::pressedAt, this, &frmTarnivel::UpDownAdjust_Press);
    connect(cmdIncrement, &QPushButton::clicked, this, &frmTarnivel::cmdIncrement_Click);
    connect(cmdDecrement, &QPushButton::clicked, this, &frmTarnivel::cmdDecrement_Click);

    // ---- Saved positions, temperatures and fans (their own rooms) -----------------------
    fraPositions = new PositionsFrame(console_, this);
    fraPositions->setEnabled(false);
    temperatures = new TemperaturePanel(console_, this);
    // The log's notices share the status line; a lost connection matters more.
    connect(temperatures, &TemperaturePanel::logStatusChanged, this, [this](const QString& text) {
        if (!(console_.link.LinkOpen() && console_.link.port().connectionLost()))
            lblStatus->setText(text);
    });
    connect(temperatures, &TemperaturePanel::compStatusChanged, this, [this](const QString& text) {
        if (console_.link.LinkOpen() && console_.link.port().connectionLost())
            return;
        // A move text no longer current goes; a notice that came after it stays.
        if (text.isEmpty() && !lblStatus->text().startsWith(QStringLiteral("Temp comp")))
            return;
        lblStatus->setText(text);
    });
    // The "Plot" button in the Temperature frame and the "Temperatures" window behind it.
    new TemperaturePlot(console_, *temperatures, this);

    // ---- Pictures ------------------------------------------------------------------------
    picLogo1 = new QLabel(this);
    picLogo1->setObjectName(QStringLiteral("picLogo1"));
    picLogo1->setPixmap(DrawTelescopeLogo(false));
    picLogo2 = new QLabel(this);
    picLogo2->setObjectName(QStringLiteral("picLogo2"));
    picLogo2->setPixmap(DrawTelescopeLogo(true));
    imgLogo = DrawIndicatorFrames();
    picLogo = new QLabel(this);
    picLogo->setObjectName(QStringLiteral("picLogo"));
    picLogo->setPixmap(imgLogo.at(0));
    for (QLabel* l : {picLogo1, picLogo2, picLogo})
        l->resize(l->sizeHint());
    auto* title = new QLabel(QStringLiteral("Tarnivel"), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    {
        QFont f = title->font();
        f.setPointSizeF(f.pointSizeF() + 7);
        f.setBold(true);
        f.setLetterSpacing(QFont::PercentageSpacing, 112);
        title->setFont(f);
        QPalette p = title->palette();
        p.setColor(QPalette::WindowText, QColor(30, 60, 130));
        title->setPalette(p);
    }

    // Focus sink: takes the keyboard focus after a motion button was used, so that no
    // moving button keeps it. It is on the window (focus needs a shown widget) but has
    // no size, and Tab never stops on it.
    cmdDummy = makeButton(QStringLiteral("cmdDummy"), QStringLiteral("Dummy"), this);
    cmdDummy->setFocusPolicy(Qt::NoFocus);
    cmdDummy->setGeometry(0, 0, 0, 0);
    cmdDummy->setFlat(true);

    // ---- Layout ---------------------------------------------------------------------------
    auto* readout = new QVBoxLayout;
    readout->addWidget(NumLED, 1);
    auto* optionsRow = new QHBoxLayout;
    optionsRow->addStretch(1);
    optionsRow->addWidget(cmdOptions);
    readout->addLayout(optionsRow);

    auto* grid = new QGridLayout(this);
    const int headerPx = TwipsToPixels(kHeaderTwips, dpiY());
    grid->setContentsMargins(10, headerPx, 10, 10);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addWidget(Frame1, 0, 0);
    grid->addLayout(readout, 0, 1);
    grid->addWidget(fraManualAdjust, 1, 0);
    grid->addWidget(fraQuickAdjust, 2, 0);
    grid->addWidget(fraPositions, 1, 1, 3, 1);
    grid->addWidget(temperatures->Frame2, 4, 0);
    grid->addWidget(temperatures->Frame3, 4, 1);
    // The whole width: a notice names a device, a file or a target, and must read whole.
    grid->addWidget(lblStatus, 5, 0, 1, 2);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    // The window keeps the size its contents ask for, so the logo places stay right.
    grid->setSizeConstraint(QLayout::SetFixedSize);

    const struct {
        QWidget* control;
        const char* tip;
    } tips[] = {
        {cboComPort, "The serial port the focuser controller hangs on"},
        {cmdConnect, "Open the port and connect to the focuser controller"},
        {cmdDisconnect, "Stop the focuser and close the connection"},
        {NumLED, "Focuser position in the display units; dimmed while it is not being read"},
        {cmdOptions, "Units, speeds, sounds, sensor names, limits and calibration"},
        {cmdFastLeft, "Hold to move fast toward lower positions"},
        {cmdSlowLeft, "Hold to move slowly toward lower positions"},
        {cmdSlowRight, "Hold to move slowly toward higher positions"},
        {cmdFastRight, "Hold to move fast toward higher positions"},
        {cmdStop, "Stop all motion at once (Esc)"},
        {txtAdjust, "Size of one step of + and -, in the display units"},
        {UpDownAdjust, "Double the step (upper arrow) or halve it (lower arrow)"},
        {cmdIncrement, "Move up by one step"},
        {cmdDecrement, "Move down by one step"},
        {picLogo, "Turns while the focuser moves"},
    };
    for (const auto& t : tips)
        t.control->setToolTip(QString::fromUtf8(t.tip));
    lblStatus->setIdleToolTip(
        QStringLiteral("Notices about the port, the connection, gotos and the temperature log"));

    // STOP is the window's cancel button.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, this, [this] {
        if (cmdStop->isEnabled())
            cmdStop->click();
    });
    // And in every other window of the program.
    new StopKey(
        this, [this] { return console_.motion.Moving(); },
        [this] { return console_.motion.CalibrationRunning; },
        [this] {
            if (!cmdStop->isEnabled())
                return false;
            cmdStop_Click();
            return true;
        });

    connect(cboComPort, &QComboBox::currentIndexChanged, this, [this] { cboComPort_Click(); });
    connect(cmdConnect, &QPushButton::clicked, this, &frmTarnivel::cmdConnect_Click);
    connect(cmdDisconnect, &QPushButton::clicked, this, &frmTarnivel::cmdDisconnect_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmTarnivel::cmdStop_Click);
    InputGate::LetThrough(cmdStop);
    connect(cmdOptions, &QPushButton::clicked, this, &frmTarnivel::cmdOptions_Click);
}

void frmTarnivel::Form_Initialize() {
    layout()->activate();
    PlaceLogos();
}

void frmTarnivel::PlaceLogos() {
    const double dx = dpiX();
    const double dy = dpiY();
    const int clientTwips = PixelsToTwips(width(), dx);
    const int logoTop = TwipsToPixels(kLogoTopTwips, dy);
    picLogo1->move(0, logoTop);
    picLogo2->move(width() - picLogo2->width(), logoTop);
    const int indicatorTwips = PixelsToTwips(picLogo->width(), dx);
    const int leftTwips = (clientTwips - indicatorTwips) / 2;
    picLogo->move(TwipsToPixels(leftTwips, dx), TwipsToPixels(kIndicatorTopTwips, dy));
    // The name sits between the left logo and the indicator.
    if (auto* title = findChild<QLabel*>(QStringLiteral("lblTitle"))) {
        title->resize(title->sizeHint());
        const int room = picLogo->x() - picLogo1->width();
        title->move(picLogo1->width() + qMax(0, (room - title->width()) / 2),
                    picLogo->y() + (picLogo->height() - title->height()) / 2);
        title->setVisible(room >= title->width());
    }
}

void frmTarnivel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceLogos();
}

void frmTarnivel::Form_Load() {
    FocuserSettings& s = console_.settings;
    MotionState& m = console_.motion;

    // The defaults centre the window on the primary screen.
    WindowGeometryTwips geometry;
    const QScreen* primary = QGuiApplication::primaryScreen();
    const double dx = screenDpiX(primary);
    const double dy = screenDpiY(primary);
    if (primary) {
        geometry.screenWidth = primary->geometry().width() * kTwipsPerInch / dx;
        geometry.screenHeight = primary->geometry().height() * kTwipsPerInch / dy;
    }
    const QSize size = layout()->totalSizeHint();
    geometry.windowWidth = size.width() * kTwipsPerInch / dx;
    geometry.windowHeight = size.height() * kTwipsPerInch / dy;
    loadResult_ = LoadSettings(settingsPath_, s, console_.positions, geometry);
    console_.device.AddressFromSettings();

    PlaceWindow();
    SetUnitCaptions();

    temperatures->LoadFromSettings();

    console_.link.SetLinkOpen(false);
    m.JogRate = 0;
    m.ActiveJogRate = 0;
    m.MotionDirection = 0;
    FillPortList(s.COMport);
    // Not a limit box with its text selected, where stray typing would replace a limit.
    cmdConnect->setFocus();

    if (loadResult_.unreadable) {
        console_.messages.show(
            MsgIcon::Warning, console_.appTitle,
            QStringLiteral("The settings file %1 could not be read.\r\n\r\nThe program starts "
                           "with the default settings and leaves that file as it is when it "
                           "closes.")
                .arg(settingsPath_));
    }
}

void frmTarnivel::PlaceWindow() {
    const FocuserSettings& s = console_.settings;
    const QScreen* primary = QGuiApplication::primaryScreen();
    QPoint pos(TwipsToPixels(s.Left, screenDpiX(primary)),
               TwipsToPixels(s.Top, screenDpiY(primary)));
    const QSize size = layout()->totalSizeHint();

    // A position saved on a screen that is no longer there would put the window out of
    // reach: its title strip must lie on some screen.
    const QRect strip(pos.x() + kReachableStripPx / 2, pos.y(),
                      qMax(1, size.width() - kReachableStripPx), kReachableStripPx);
    bool reachable = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect overlap = screen->availableGeometry().intersected(strip);
        if (overlap.width() >= kReachableStripPx && overlap.height() >= kReachableStripPx / 2) {
            reachable = true;
            break;
        }
    }
    if (!reachable && primary) {
        const QRect area = primary->availableGeometry();
        pos.setX(qBound(area.left(), pos.x(), qMax(area.left(), area.right() + 1 - size.width())));
        pos.setY(qBound(area.top(), pos.y(), qMax(area.top(), area.bottom() + 1 - size.height())));
    }
    move(pos);
}

void frmTarnivel::SetUnitCaptions() {
    const QString& units = console_.settings.ScaleUnits;
    fraPositions->SetUnits(units);
    fraQuickAdjust->setTitle(QStringLiteral("Quick Adjust (") + units + QStringLiteral(")"));
}

void frmTarnivel::FillPortList(int selectedIndex) {
    {
        const QSignalBlocker block(cboComPort);
        cboComPort->clear();
        cboComPort->addItem(QStringLiteral("None"));
        for (int n = 1; n <= kComPorts; ++n)
            cboComPort->addItem(QStringLiteral("COM%1").arg(n));
        // A port number the list cannot show leaves "None" chosen.
        cboComPort->setCurrentIndex(selectedIndex >= 0 && selectedIndex <= kComPorts ? selectedIndex
                                                                                     : 0);
    }
    cboComPort_Click();
}

void frmTarnivel::cboComPort_Click() {
    const int index = cboComPort->currentIndex();
    if (index >= 0)
        console_.settings.COMport = index;
}

void frmTarnivel::cmdConnect_Click() {
    FocuserSettings& s = console_.settings;
    FocuserLink& link = console_.link;
    SerialPort& port = link.port();
    if (engine_.Valid())
        return;

    cmdConnect->setEnabled(false);
    // A close asked for during an earlier attempt belongs to that attempt.
    CloseRequested = false;
    s.COMport = cboComPort->currentIndex();
    if (s.COMport < 1) {
        console_.messages.show(MsgIcon::Warning, console_.appTitle,
                               QStringLiteral("Please choose a COM port!"));
        cmdConnect->setEnabled(true);
        return;
    }
    DisconnectRequested = false;
    port.open(s.COMport);
    if (!port.isOpen()) {
        // The box keeps its one sentence; which device and why go to the status line.
        lblStatus->setText(port.openError());
        console_.messages.show(MsgIcon::Error, console_.appTitle,
                               QStringLiteral("Error attempting to open port"));
        cmdConnect->setEnabled(true);
        return;
    }
    link.SetLinkOpen(true);
    RunOnEngine(ConnectSteps(EnginePacer()));
}

Sequence<bool> frmTarnivel::ConnectSteps(Pacer& pacer) {
    const InputGate::Scope connecting(*inputGate);
    FocuserLink& link = console_.link;
    const bool answered = co_await console_.device.Probe(pacer);
    if (!answered) {
        console_.messages.show(MsgIcon::Error, console_.appTitle,
                               QStringLiteral("Cannot find focuser on port"));
        link.port().close();
        link.SetLinkOpen(false);
        cmdConnect->setEnabled(true);
        // The operator closed the window while the probe ran; with no connection left to
        // take down, the close goes ahead now.
        if (CloseRequested) {
            DisconnectRequested = false;
            UnloadWindow();
        }
        co_return false;
    }

    cboComPort->setEnabled(false);
    SetBackColour(cmdConnect, ColourOn);
    SetBackColour(cmdDisconnect, ColourOn);
    console_.cursor.setBusy(true);
    lblStatus->clear();

    // A failed read keeps the last known place, as the readout does.
    co_await console_.device.ReadPosition(pacer);

    fraPositions->setEnabled(true);
    fraQuickAdjust->setEnabled(true);
    fraManualAdjust->setEnabled(true);
    cmdStop->setEnabled(true);
    cmdOptions->setEnabled(true);

    co_await CheckControllerState(pacer);
    co_await temperatures->UpdateStatus(pacer);
    temperatures->cmdManual_Click();

    rateTimer->setInterval(kPollIntervalMs);
    rateTimer->setEnabled(true);

    console_.cursor.setBusy(false);
    cmdDisconnect->setEnabled(true);
    console_.device.ReadyInPlace();
    co_return true;
}

Sequence<bool> frmTarnivel::CheckControllerState(Pacer& pacer) {
    FocuserDevice& device = console_.device;
    co_await device.ReadSensors(pacer);
    // The travel and the limits are read here so that gotos stay inside them.
    QString disagreement;
    const qint32 calibrated = co_await device.ReadTravel(pacer, &disagreement);
    if (!disagreement.isEmpty())
        lblStatus->setText(disagreement);
    co_await device.ReadAutoStopAndLimits(pacer);
    if (calibrated != 0)
        co_return true;
    // The operator reads and answers the box; the wait cursor would say otherwise.
    console_.cursor.setBusy(false);
    console_.messages.show(MsgIcon::Warning, console_.appTitle,
                           QStringLiteral("Warning: Focuser requires Calibrating before using."
                                          "\r\n\r\n"
                                          "Click on Options and then proceed with Calibrate."));
    console_.cursor.setBusy(true);
    co_return false;
}

void frmTarnivel::cmdDisconnect_Click() {
    cmdDisconnect->setEnabled(false);
    DisconnectRequested = true;
}

void frmTarnivel::RunDisconnect() {
    MotionState& m = console_.motion;
    m.GotoDone = false;
    m.JogRate = 0;
    m.ActiveJogRate = 0;
    m.MotionDirection = 0;
    ClearGoto();
    console_.device.StopInPlace();
    console_.gotos.PlayEndSound();
    rateTimer->setInterval(0);
    SetDisconnectedState();
    console_.device.DisconnectedInPlace();
    // The connection is now closed, not lost.
    if (lblStatus->text() == kLostText)
        lblStatus->clear();
    DisconnectRequested = false;
    if (CloseRequested)
        UnloadWindow();
}

void frmTarnivel::SetDisconnectedState() {
    console_.link.port().close();
    cboComPort->setEnabled(true);
    NumLED->setText(kOffText);
    NumLED->setLive(false);
    SetBackColour(cmdConnect, ColourOff);
    SetBackColour(cmdDisconnect, ColourOff);
    fraPositions->setEnabled(false);
    fraQuickAdjust->setEnabled(false);
    fraManualAdjust->setEnabled(false);
    cmdStop->setEnabled(false);
    cmdOptions->setEnabled(false);
    temperatures->SetDisconnectedState();
    cmdConnect->setEnabled(true);
    console_.link.SetLinkOpen(false);
}

void frmTarnivel::EnableMotionControls(bool enabled) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{cmdFastLeft, cmdSlowLeft, cmdSlowRight, cmdFastRight,
                                         cmdDisconnect, cmdOptions, fraQuickAdjust, fraPositions})
        w->setEnabled(enabled);
}

void frmTarnivel::cmdStop_Click() {
    MotionState& m = console_.motion;
    console_.device.StopTempComp();
    temperatures->ShowTempComp();
    if (console_.link.LinkOpen()) {
        cmdStop->setEnabled(false);
        m.GotoDone = true;
        // Cleared before the stop command: a poll tick can run inside its wait, and would
        // otherwise send a jog that was asked for just before STOP.
        m.MotionDirection = 0;
        m.JogRate = 0;
        // Sent from here even inside another command's wait; whatever was moving the
        // focuser ends instead of sending its next move.
        console_.device.StopInPlace();
        cmdStop->setEnabled(true);
    }
    console_.gotos.PlaySlewSound(QString(), false, false);
    cmdDummy->setFocus();
}

void frmTarnivel::cmdOptions_Click() {
    OptionsRequested = true;
}

void frmTarnivel::ShowOptions() {
    FocuserSettings& s = console_.settings;
    // A calibration or ReAlign run from the dialog moves the focuser: a new reference.
    const int positionBefore = console_.motion.CurrentPosition;
    // The wait cursor belongs to the main window only; the dialog keeps the normal one.
    setCursor(Qt::WaitCursor);
    optionsOpen_ = true;
    {
        frmOptions dialog(console_, this);
        dialog.ScaleFactor = s.ScaleFactor;
        dialog.ScaleUnits = s.ScaleUnits;
        dialog.Decimals = s.Decimals;
        dialog.SlowSlewSpeed = s.SlowSlewSpeed;
        dialog.FastSlewSpeed = s.FastSlewSpeed;
        dialog.SlewingSound = s.SlewingSound;
        dialog.CompletionSound = s.CompletionSound;
        dialog.SensorName1 = s.SensorName1;
        dialog.SensorName2 = s.SensorName2;
        dialog.SensorName3 = s.SensorName3;
        dialog.Degrees = s.Degrees;
        dialog.Logging = s.Logging;
        dialog.AlpacaPort = s.AlpacaPort;
        dialog.FormTop =
            PixelsToTwips(y(), dpiY()) + PixelsToTwips(frameGeometry().height(), dpiY()) / 2;

        dialog.Display();
        if (dialog.CalibrationNeeded)
            lblStatus->setText(kCalibrationNeededText);
        else if (dialog.CalibrationCompleted && lblStatus->text() == kCalibrationNeededText)
            lblStatus->clear();

        if (!dialog.Cancel) {
            const double oldScaleFactor = s.ScaleFactor;
            const QString oldUnits = s.ScaleUnits;
            const int oldDecimals = s.Decimals;
            if (dialog.ScaleFactor != s.ScaleFactor) {
                s.ScaleFactor = dialog.ScaleFactor;
                fraPositions->RefreshPositionRows();
            }
            s.ScaleUnits = dialog.ScaleUnits;
            if (dialog.Decimals != s.Decimals) {
                s.Decimals = dialog.Decimals;
                fraPositions->RefreshPositionRows();
            }
            SetUnitCaptions();
            s.SlowSlewSpeed = dialog.SlowSlewSpeed;
            s.FastSlewSpeed = dialog.FastSlewSpeed;
            s.SlewingSound = dialog.SlewingSound;
            s.CompletionSound = dialog.CompletionSound;
            s.SensorName1 = dialog.SensorName1;
            s.SensorName2 = dialog.SensorName2;
            s.SensorName3 = dialog.SensorName3;
            temperatures->UpdateSensorNames();
            s.Degrees = dialog.Degrees;
            temperatures->UpdateToolTips();
            s.Logging = dialog.Logging;
            if (dialog.AlpacaPort != s.AlpacaPort) {
                s.AlpacaPort = dialog.AlpacaPort;
                ServeAlpaca(s.AlpacaPort);
            }
            if (s.ScaleFactor != oldScaleFactor || s.ScaleUnits != oldUnits)
                ConvertStepEntry(oldScaleFactor);
            // Its figures were in the display units of its time.
            if (s.ScaleFactor != oldScaleFactor || s.ScaleUnits != oldUnits ||
                dialog.Decimals != oldDecimals)
                ClearShortNote();
        }
    }
    unsetCursor();
    optionsOpen_ = false;
    OptionsRequested = false;
    if (console_.motion.CurrentPosition != positionBefore)
        console_.device.MoveEnded();
    temperatures->ShowTempComp();
}

void frmTarnivel::ServeAlpaca(int port) {
    if (!console_.ServeAlpaca)
        return;
    const QString why = console_.ServeAlpaca(port);
    if (!why.isEmpty())
        lblStatus->setText(QStringLiteral("Alpaca not served: %1").arg(why));
    else if (port != 0)
        lblStatus->setText(QStringLiteral("Serving Alpaca on port %1").arg(port));
    else if (lblStatus->text().startsWith(QStringLiteral("Serving Alpaca")))
        lblStatus->clear();
}

QString frmTarnivel::GuestRefusal() const {
    // The dialog's exchanges and calibrations talk to the controller, and the poll (which
    // runs the stages of a goto) stays stopped while it is open.
    if (optionsOpen_ || OptionsRequested)
        return QStringLiteral("The console's Options dialog is open: the focuser takes no move "
                              "until it is closed.");
    if (DisconnectRequested)
        return QStringLiteral("The console is disconnecting from the focuser.");
    return QString();
}

void frmTarnivel::GuestMoveStarted() {
    // As for a goto of the window's own: the controls wait, the readout and the moving
    // indicator follow it, STOP ends it.
    EnableMotionControls(false);
    ClearShortNote();
    for (JogButton* b : {cmdFastLeft, cmdSlowLeft, cmdSlowRight, cmdFastRight})
        SetBackColour(b, ColourOff);
    // Its first stage at once, as on a served device, not at the poll's next tick.
    rateTimer->fireSoon();
}

void frmTarnivel::GuestStop() {
    // A command waiting for its answer gets it first, as on a served device: cut into, it
    // would be asked again after a quiet line, and the client would wait for both. The stop
    // goes out before the next frame, or as soon as the tick leaves the line free.
    guestStopHeld_ = true;
    SettleGuestStop();
}

void frmTarnivel::SendHeldGuestStop() {
    if (!guestStopHeld_ || console_.link.Busy())
        return;
    guestStopHeld_ = false;
    cmdStop_Click();
}

void frmTarnivel::SettleGuestStop() {
    SendHeldGuestStop();
    if (!console_.link.LinkOpen()) {
        // Nothing left to stop; a halt kept for a later connection would stop its first move.
        guestStopHeld_ = false;
        return;
    }
    // The client watches IsMoving: the clean-up and the position after the stop come as soon
    // as no tick or command waits, rather than at the tick's next readout.
    if (!guestStopHeld_ && !console_.device.State().stopping)
        return;
    // A halt still held means the line is still taken.
    if (console_.link.Busy() || inputGate->Holding() || engine_.Valid()) {
        QTimer::singleShot(kSettleRetryMs, this, [this] { SettleGuestStop(); });
        return;
    }
    if (console_.motion.GotoDone)
        GotoCleanUp();
    // The read waits on the window's loop, like the tick's; the tick waits for it.
    RunOnEngine(DisplayPosition(EnginePacer()));
}

void frmTarnivel::closeEvent(QCloseEvent* event) {
    if (unloading_ || !console_.link.LinkOpen()) {
        Form_Unload();
        event->accept();
        return;
    }
    // The connection comes down first, between two ticks; the tick then closes the window.
    event->ignore();
    DisconnectRequested = true;
    CloseRequested = true;
}

void frmTarnivel::UnloadWindow() {
    unloading_ = true;
    close();
    unloading_ = false;
}

void frmTarnivel::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    rateTimer->setInterval(0);
    FocuserSettings& s = console_.settings;
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
        s.Top = PixelsToTwips(y(), dpiY());
        s.Left = PixelsToTwips(x(), dpiX());
    }
    SaveSettingsOnExit(settingsPath_, s, console_.positions, console_.sound, loadResult_);
}

} // namespace tarnivel
