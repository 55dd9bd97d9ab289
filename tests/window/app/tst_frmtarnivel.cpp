// The main window: start-up, connection and its refusals, control states, the poll cycle,
// the deferred disconnect and close, the options exchange, and the mended faults.

#include "virtualscheduler.h"
#include "windowrig.h"

#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"
#include "window/app/temperaturepanel.h"
#include "window/options/frmoptions.h"
#include "window/positions/positionsframe.h"
#include "window/ui/colours.h"
#include "window/ui/twips.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

const QString kTitle = QStringLiteral("tarnivel");
const QString kCalibrationWarning =
    QStringLiteral("Warning: Focuser requires Calibrating before using.\r\n\r\n"
                   "Click on Options and then proceed with Calibrate.");

// Every control whose enabled state the window manages, with its state when
// disconnected, connected and idle, and while a goto runs.
struct ControlState {
    const char* name;
    bool disconnected;
    bool connected;
    bool gotoRunning;
};
const ControlState kControlStates[] = {
    {"cboComPort", true, false, false},     {"cmdConnect", true, false, false},
    {"cmdDisconnect", false, true, false},  {"cmdStop", false, true, true},
    {"cmdOptions", false, true, false},     {"fraManualAdjust", false, true, true},
    {"cmdFastLeft", false, true, false},    {"cmdSlowLeft", false, true, false},
    {"cmdSlowRight", false, true, false},   {"cmdFastRight", false, true, false},
    {"fraQuickAdjust", false, true, false}, {"txtAdjust", false, true, false},
    {"UpDownAdjust", false, true, false},   {"cmdIncrement", false, true, false},
    {"cmdDecrement", false, true, false},   {"fraPositions", false, true, false},
    {"lstPosition", false, true, false},    {"cmdGoto", false, true, false},
    {"cmdAdd", false, true, false},         {"cmdEdit", false, true, false},
    {"cmdDelete", false, true, false},      {"cmdManual", false, false, false},
    {"cmdAuto1", false, true, true},
};

QColor faceOf(const QWidget* w) {
    return BackColour(w);
}

} // namespace

class TestFrmTarnivel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startupFillsWindow();
    void startupPlacesLogos();
    void everyControlSaysWhatItDoes();
    void fillPortList_data();
    void fillPortList();
    void windowOffEveryScreenComesBack();
    void connectRefused_data();
    void connectRefused();
    void connectConversation();
    void connectWaitsOnTheLoop();
    void connectUncalibratedWarns();
    void connectWithRegistersThatDisagree();
    void connectSwitchesAutoStopOn();
    void controlStates_data();
    void controlStates();
    void stateColours();
    void renderedColours_data();
    void renderedColours();
    void disconnectSequence();
    void stopDuringGoto_data();
    void stopDuringGoto();
    void stopWinsOverLimitBox_data();
    void stopWinsOverLimitBox();
    void limitBoxWaitsForTheMove();
    void gotoSounds();
    void gotoEndingShortSaysSo_data();
    void gotoEndingShortSaysSo();
    void readoutDivider_data();
    void readoutDivider();
    void statusDivider();
    void calibrationRefresh();
    void readoutNeverShowsComma_data();
    void readoutNeverShowsComma();
    void failedReadKeepsReadout();
    void optionsExchange_data();
    void optionsExchange();
    void optionsTickSkipsPolling();
    void calibrationNoticeGoesWithACompletedCalibration();
    void stepEntryFollowsUnits_data();
    void stepEntryFollowsUnits();
    void closeWhileDisconnected();
    void closeWhileConnected();
    void closeMaximisedKeepsPosition();
    void closeDuringProbeHonoured();
    void connectClearsStaleClose();
    void messageBoxOpenedInATickLetsThePollRun();
    void lostConnection();
    void lostPortSwitchesCompensationOff();
    void longStatusKeepsWindowSize();
    void unreadableSettingsLeftAlone();
};

void TestFrmTarnivel::startupFillsWindow() {
    WindowRig r(ReadyController(), "[TARNIVEL]\r\n   ScaleUnits = thou\r\n   SensorName1 = Tube\r\n"
                                   "   SensorLimit2 = 2.5\r\n   COMport = 3\r\n");
    frmTarnivel& w = *r.w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarnivel"));
    QCOMPARE(w.objectName(), QStringLiteral("frmTarnivel"));
    QCOMPARE(w.fraPositions->title(), QStringLiteral("Saved Positions (thou)"));
    QCOMPARE(w.fraQuickAdjust->title(), QStringLiteral("Quick Adjust (thou)"));
    QCOMPARE(w.fraManualAdjust->title(), QStringLiteral("Manual Adjust"));
    QCOMPARE(w.Frame1->title(), QStringLiteral("COM Port"));
    QCOMPARE(w.temperatures->lblSensor[0]->text(), QStringLiteral("Tube"));
    QCOMPARE(w.temperatures->txtSensorLimit[1]->text(), QStringLiteral("2.5"));
    QCOMPARE(w.temperatures->txtSensorLimit[0]->text(), QStringLiteral("40"));
    QCOMPARE(w.cboComPort->currentIndex(), 3);
    QCOMPARE(r.rig->settings.COMport, 3);
    QCOMPARE(w.NumLED->text(), QStringLiteral("---Off--"));
    QVERIFY(w.NumLED->digitCount() >= 10);
    QCOMPARE(w.txtAdjust->text(), QStringLiteral("1"));
    QCOMPARE(w.txtAdjust->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(w.lblStatus->text(), QString());
    QCOMPARE(w.rateTimer->interval(), 0);
    QVERIFY(!r.rig->sim.link.LinkOpen());
    // Captions of the buttons.
    const QList<QPair<const char*, const char*>> captions = {
        {"cmdConnect", "Connect"}, {"cmdDisconnect", "Disconnect"},
        {"cmdFastLeft", "< <"},    {"cmdSlowLeft", "<"},
        {"cmdSlowRight", ">"},     {"cmdFastRight", "> >"},
        {"cmdStop", "STOP"},       {"cmdOptions", "Options"},
        {"cmdIncrement", "+"},     {"cmdDecrement", "-"},
        {"cmdDummy", "Dummy"}};
    for (const auto& [name, caption] : captions) {
        auto* b = w.findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY2(b, name);
        QCOMPARE(b->text(), QString::fromLatin1(caption));
    }
    QVERIFY(w.cmdStop->font().bold());
    QCOMPARE(w.cmdStop->font().family(), QStringLiteral("Arial"));
    QCOMPARE(w.imgLogo.size(), 8);
    QVERIFY(w.findChild<QLabel*>(QStringLiteral("picLogo1")));
    QVERIFY(w.findChild<RateTimer*>(QStringLiteral("RateTimer")));
}

void TestFrmTarnivel::startupPlacesLogos() {
    WindowRig r;
    frmTarnivel& w = *r.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const double dx = w.dpiX();
    const double dy = w.dpiY();
    QCOMPARE(w.picLogo1->pos(), QPoint(0, TwipsToPixels(120, dy)));
    QCOMPARE(w.picLogo2->geometry().right() + 1, w.width());
    QCOMPARE(w.picLogo2->y(), TwipsToPixels(120, dy));
    const int leftTwips =
        (PixelsToTwips(w.width(), dx) - PixelsToTwips(w.picLogo->width(), dx)) / 2;
    QCOMPARE(w.picLogo->pos(), QPoint(TwipsToPixels(leftTwips, dx), TwipsToPixels(80, dy)));
    QVERIFY(!w.picLogo1->pixmap().isNull());
    QVERIFY(!w.picLogo->pixmap().isNull());
    // Nothing of the frames lies under the logos.
    QVERIFY(w.Frame1->y() >= w.picLogo1->geometry().bottom());
}

void TestFrmTarnivel::everyControlSaysWhatItDoes() {
    WindowRig r(ReadyController(), "[TARNIVEL]\r\n   Degrees = 1\r\n");
    for (QWidget* w : r.w->findChildren<QWidget*>()) {
        const bool operated = (w->focusPolicy() & Qt::TabFocus) ||
                              qobject_cast<QAbstractButton*>(w) || w == r.w->UpDownAdjust;
        if (operated && w != r.w->cmdDummy && !w->objectName().startsWith(QLatin1String("qt_")))
            QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
    }
    const TemperaturePanel& t = *r.w->temperatures;
    QCOMPARE(t.txtSensorLimit[0]->toolTip(),
             QStringLiteral("Fan on while Primary is above this limit (°F)"));
    QCOMPARE(t.txtSensorLimit[2]->toolTip(),
             QStringLiteral("Fan on while Primary is more than this above Secondary (°F)"));
    QCOMPARE(t.txtTemp[1]->toolTip(), QStringLiteral("Temperature of Ambient"));
}

void TestFrmTarnivel::fillPortList_data() {
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("index");
    QTest::newRow("none") << 0 << 0;
    QTest::newRow("COM1") << 1 << 1;
    QTest::newRow("COM16") << 16 << 16;
    QTest::newRow("17 keeps None") << 17 << 0;
    QTest::newRow("-1 keeps None") << -1 << 0;
}

void TestFrmTarnivel::fillPortList() {
    QFETCH(int, selected);
    QFETCH(int, index);
    WindowRig r;
    r.rig->settings.COMport = 9;
    r.w->FillPortList(selected);
    QCOMPARE(r.w->cboComPort->count(), 17);
    QCOMPARE(r.w->cboComPort->itemText(0), QStringLiteral("None"));
    QCOMPARE(r.w->cboComPort->itemText(1), QStringLiteral("COM1"));
    QCOMPARE(r.w->cboComPort->itemText(16), QStringLiteral("COM16"));
    QCOMPARE(r.w->cboComPort->currentIndex(), index);
    QCOMPARE(r.rig->settings.COMport, index);
    // Choosing from the list sets the port number.
    r.w->cboComPort->setCurrentIndex(5);
    QCOMPARE(r.rig->settings.COMport, 5);
}

void TestFrmTarnivel::windowOffEveryScreenComesBack() {
    WindowRig far(ReadyController(), "[TARNIVEL]\r\n   Top = -90000\r\n   Left = 400000\r\n");
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(area.contains(far.w->pos()),
             qPrintable(QStringLiteral("%1,%2").arg(far.w->x()).arg(far.w->y())));
    QVERIFY(area.intersects(QRect(far.w->pos(), far.w->size())));

    // A reachable place is kept as stored.
    WindowRig near(ReadyController(), "[TARNIVEL]\r\n   Top = 1500\r\n   Left = 3000\r\n");
    QCOMPARE(near.w->pos(),
             QPoint(TwipsToPixels(3000, near.w->dpiX()), TwipsToPixels(1500, near.w->dpiY())));
}

void TestFrmTarnivel::connectRefused_data() {
    QTest::addColumn<int>("comPort");
    QTest::addColumn<bool>("attached");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("framesSent");
    QTest::addColumn<QString>("status");
    QTest::newRow("None chosen") << 0 << true << int(MsgIcon::Warning)
                                 << QStringLiteral("Please choose a COM port!") << 0 << QString();
    QTest::newRow("port will not open")
        << 2 << true << int(MsgIcon::Error) << QStringLiteral("Error attempting to open port") << 0
        << QStringLiteral("COM2: No such device");
    QTest::newRow("no controller")
        << 1 << false << int(MsgIcon::Error) << QStringLiteral("Cannot find focuser on port") << 0
        << QString();
}

void TestFrmTarnivel::connectRefused() {
    QFETCH(int, comPort);
    QFETCH(bool, attached);
    QFETCH(int, icon);
    QFETCH(QString, text);
    QFETCH(int, framesSent);
    QFETCH(QString, status);
    WindowRig r;
    r.rig->sim.port.setControllerAttached(attached);
    r.connectTo(comPort);

    QCOMPARE(r.rig->messages.shown.size(), 1);
    QCOMPARE(int(r.rig->messages.shown[0].icon), icon);
    QCOMPARE(r.rig->messages.shown[0].title, kTitle);
    QCOMPARE(r.rig->messages.shown[0].text, text);
    QCOMPARE(r.w->lblStatus->text(), status);
    QCOMPARE(r.frames().size(), framesSent);
    QVERIFY(!r.rig->sim.link.LinkOpen());
    QVERIFY(!r.rig->sim.port.isOpen());
    QVERIFY(r.w->cmdConnect->isEnabled());
    QVERIFY(r.w->cboComPort->isEnabled());
    QVERIFY(!r.w->cmdDisconnect->isEnabled());
    QVERIFY(!r.w->fraManualAdjust->isEnabled());
    QCOMPARE(faceOf(r.w->cmdConnect), ColourOff);
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("---Off--"));
    QVERIFY(!r.w->NumLED->isLive());
    QVERIFY(!r.w->rateTimer->isArmed());
    QCOMPARE(r.rig->settings.COMport, comPort);
}

// The connect on ReadyController(): two sensors fitted, two slot reads.
const QStringList kConnectFrames = {
    "50 01 12 FE 00 00 00 02", // firmware version: the probe
    "50 01 12 01 00 00 00 03", // position
    "50 01 12 2B 00 00 00 01", // sensor count
    "50 02 12 2E 00 00 00 01", // slots 1 and 2
    "50 02 12 2E 01 00 00 01",
    "50 02 12 30 40 00 00 01", // calibrated flag (register 0x40)
    "50 02 12 30 41 00 00 01", // its travel (0x41..0x43)
    "50 02 12 30 42 00 00 01", "50 02 12 30 43 00 00 01",
    "50 02 12 30 47 00 00 01", // its real upper limit (0x47..0x49)
    "50 02 12 30 48 00 00 01", "50 02 12 30 49 00 00 01",
    "50 02 12 30 44 00 00 01", // its real lower limit (0x44..0x46)
    "50 02 12 30 45 00 00 01", "50 02 12 30 46 00 00 01",
    "50 01 12 EE 00 00 00 01", // auto-stop
    "50 01 12 1C 00 00 00 03", // lower limit
    "50 01 12 1D 00 00 00 03", // upper limit
    "50 02 12 26 00 00 00 02", // temperatures 1..3
    "50 02 12 26 01 00 00 02", "50 02 12 26 02 00 00 02",
    "50 01 13 28 00 00 00 01", // fan state, on the fan address
};

void TestFrmTarnivel::connectConversation() {
    WindowRig r;
    r.connectTo(1);
    QVERIFY(r.rig->messages.shown.isEmpty());
    QVERIFY(r.rig->sim.link.LinkOpen());

    const QStringList frames = r.frames();
    QCOMPARE(frames, kConnectFrames);
    QCOMPARE(r.rig->motion.CurrentPosition, 100000);

    // The fan-off queued by the manual mode goes out with the first tick, and the timer
    // runs at 50 ms.
    QCOMPARE(r.w->rateTimer->interval(), 50);
    QVERIFY(r.w->rateTimer->isArmed());
    r.clearFrames();
    QCOMPARE(r.tick(), 1);
    QCOMPARE(r.frames(), QStringList{"50 02 13 27 00 00 00 00"});
    QCOMPARE(r.rig->cursor.changes, (QList<bool>{true, false}));
}

// With the program's scheduler the connect's waits are turns of the window's loop: no pump
// of events inside them, and the same conversation.
void TestFrmTarnivel::connectWaitsOnTheLoop() {
    WindowRig r;
    VirtualScheduler loop(r.rig->sim.platform);
    r.rig->console.scheduler = &loop;
    const int pumps = r.rig->sim.platform.pumpCalls;
    r.connectTo(1);
    QCOMPARE(r.frames(), QStringList{"50 01 12 FE 00 00 00 02"});
    QVERIFY(r.rig->sim.link.Busy());
    QVERIFY(loop.RunUntil([&] { return r.w->rateTimer->isArmed(); }, 10000));
    QCOMPARE(r.frames(), kConnectFrames);
    QCOMPARE(r.rig->sim.platform.pumpCalls, pumps);
    QCOMPARE(r.rig->motion.CurrentPosition, 100000);
}

void TestFrmTarnivel::connectUncalibratedWarns() {
    sim::SimConfig config = ReadyController();
    config.registers[0] = 0;
    WindowRig r(config);
    r.connectTo(1);
    QCOMPARE(r.rig->messages.shown.size(), 1);
    QCOMPARE(int(r.rig->messages.shown[0].icon), int(MsgIcon::Warning));
    QCOMPARE(r.rig->messages.shown[0].title, kTitle);
    QCOMPARE(r.rig->messages.shown[0].text, kCalibrationWarning);
    // The box is read under the normal cursor; the connect then finishes.
    QCOMPARE(r.rig->cursor.changes, (QList<bool>{true, false, true, false}));
    // The connection stays up and usable.
    QVERIFY(r.rig->sim.link.LinkOpen());
    QVERIFY(r.w->cmdDisconnect->isEnabled());
    QVERIFY(r.w->fraManualAdjust->isEnabled());
    QVERIFY(r.w->cmdOptions->isEnabled());
    QVERIFY(r.w->rateTimer->isArmed());
}

void TestFrmTarnivel::connectWithRegistersThatDisagree() {
    sim::SimConfig config = ReadyController();
    // Travel 8000 (0x001F40), limits -4000 (0xFFF060) and +40000 (0x009C40): no span fits.
    const quint8 registers[] = {0x00, 0x1F, 0x40, 0xFF, 0xF0, 0x60, 0x00, 0x9C, 0x40};
    std::copy(std::begin(registers), std::end(registers), config.registers.begin() + 1);
    WindowRig r(config);
    r.connectTo(1);
    QCOMPARE(r.w->lblStatus->text(),
             QStringLiteral("The controller's calibration registers do not agree with each "
                            "other; the end stops are not known until the next connect."));
    // Read twice, then left unknown: no goto is clamped to ends that may be wrong.
    QCOMPARE(r.frames().count("50 02 12 30 44 00 00 01"), 2);
    QVERIFY(r.w->fraManualAdjust->isEnabled());
}

void TestFrmTarnivel::connectSwitchesAutoStopOn() {
    sim::SimConfig config = ReadyController();
    config.autoStop = false;
    WindowRig r(config);
    r.connectTo(1);
    QVERIFY(r.rig->sim.model.autoStop());
    const QStringList frames = r.frames();
    const int read = frames.indexOf("50 01 12 EE 00 00 00 01");
    const int write = frames.indexOf("50 02 12 EF 01 00 00 00");
    QVERIFY(read >= 0);
    QVERIFY(write > read);
    QVERIFY(r.rig->messages.shown.isEmpty());

    // With auto-stop already on, nothing is written.
    WindowRig on;
    on.connectTo(1);
    QVERIFY(!on.frames().contains("50 02 12 EF 01 00 00 00"));
}

void TestFrmTarnivel::controlStates_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kControlStates)); ++i)
        QTest::newRow(kControlStates[i].name) << i;
}

void TestFrmTarnivel::controlStates() {
    QFETCH(int, row);
    const ControlState& c = kControlStates[row];
    WindowRig r;
    auto* control = r.w->findChild<QWidget*>(QString::fromLatin1(c.name));
    QVERIFY2(control, c.name);
    QCOMPARE(control->isEnabled(), c.disconnected);

    r.connectTo(1);
    r.tick();
    QCOMPARE(control->isEnabled(), c.connected);

    r.w->txtAdjust->setText("0.1");
    r.w->cmdIncrement->click();
    QCOMPARE(r.rig->motion.GotoMode, GotoKind::Goto);
    r.tick();
    QCOMPARE(control->isEnabled(), c.gotoRunning);

    // The goto runs to its end; the tick after it gives the controls back.
    for (int i = 0; i < 400 && r.rig->motion.GotoMode != GotoKind::None; ++i)
        r.tick();
    QVERIFY(r.rig->motion.GotoMode == GotoKind::None);
    r.tick();
    QCOMPARE(control->isEnabled(), c.connected);

    r.w->cmdDisconnect->click();
    r.tick();
    QCOMPARE(control->isEnabled(), c.disconnected);
}

void TestFrmTarnivel::stateColours() {
    WindowRig r;
    const QList<QWidget*> faces = {r.w->cmdConnect,  r.w->cmdDisconnect, r.w->cmdFastLeft,
                                   r.w->cmdSlowLeft, r.w->cmdSlowRight,  r.w->cmdFastRight};
    for (QWidget* f : faces)
        QCOMPARE(faceOf(f), ColourOff);
    QCOMPARE(r.w->cmdStop->palette().color(QPalette::Active, QPalette::Button), QColor(192, 0, 0));
    r.connectTo(1);
    QCOMPARE(faceOf(r.w->cmdConnect), ColourOn);
    QCOMPARE(faceOf(r.w->cmdDisconnect), ColourOn);
    QCOMPARE(faceOf(r.w->cmdSlowLeft), ColourOff);
    QCOMPARE(r.w->cmdStop->palette().color(QPalette::Active, QPalette::Button), QColor(192, 0, 0));
    r.w->cmdDisconnect->click();
    r.tick();
    QCOMPARE(faceOf(r.w->cmdConnect), ColourOff);
    QCOMPARE(faceOf(r.w->cmdDisconnect), ColourOff);
}

void TestFrmTarnivel::renderedColours_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QColor>("colour");
    const QColor on(192, 255, 192);
    const QColor off(255, 192, 192);
    QTest::newRow("Connect, disconnected") << "cmdConnect" << false << off;
    QTest::newRow("Connect, connected") << "cmdConnect" << true << on;
    QTest::newRow("Disconnect, connected") << "cmdDisconnect" << true << on;
    QTest::newRow("jog button") << "cmdFastLeft" << true << off;
    QTest::newRow("STOP") << "cmdStop" << true << QColor(192, 0, 0);
    QTest::newRow("Manual, active") << "cmdManual" << true << on;
    QTest::newRow("Auto, inactive") << "cmdAuto2" << true << off;
    QTest::newRow("fan lamp, off") << "shpFanLED" << true << off;
}

// What the operator sees: a pixel of the drawn face, inside the border and clear of the
// caption.
void TestFrmTarnivel::renderedColours() {
    QFETCH(QString, control);
    QFETCH(bool, connected);
    QFETCH(QColor, colour);
    WindowRig r;
    r.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.w.get()));
    if (connected)
        r.connectTo(1);
    auto* w = r.w->findChild<QWidget*>(control);
    QVERIFY(w);
    const QImage face = w->grab().toImage();
    const bool lamp = control == QLatin1String("shpFanLED");
    const QPoint at = lamp ? face.rect().center() : QPoint(5, face.height() / 2);
    QCOMPARE(face.pixelColor(at), colour);
}

void TestFrmTarnivel::disconnectSequence() {
    WindowRig r;
    r.rig->settings.CompletionSound = true;
    r.connectTo(1);
    r.tick(3);
    r.clearFrames();
    r.rig->sound.calls.clear();

    r.w->cmdDisconnect->click();
    QVERIFY(!r.w->cmdDisconnect->isEnabled());
    QVERIFY(r.w->DisconnectRequested);
    // Nothing happens before the tick.
    QVERIFY(r.frames().isEmpty());
    QVERIFY(r.rig->sim.link.LinkOpen());

    r.tick();
    QCOMPARE(r.frames(), QStringList{"50 02 12 24 00 00 00 00"}); // rate 0
    QCOMPARE(r.rig->sound.calls, (QList<SoundCall>{{"EndSlew", false}}));
    QVERIFY(!r.rig->sim.link.LinkOpen());
    QVERIFY(!r.rig->sim.port.isOpen());
    QVERIFY(!r.w->DisconnectRequested);
    QCOMPARE(r.w->rateTimer->interval(), 0);
    QVERIFY(!r.w->rateTimer->isArmed());
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("---Off--"));
    QCOMPARE(r.w->temperatures->FanMode, 0);
    QVERIFY(!r.w->cmdDisconnect->isEnabled());
    QVERIFY(r.w->isVisible() || !r.w->unloaded());
    QVERIFY(!r.w->unloaded());
    // The timer stays off: further ticks do not run.
    QCOMPARE(r.tick(5), 0);

    // Without the completion sound the end of the connection only silences.
    WindowRig quiet;
    quiet.connectTo(1);
    quiet.rig->sound.calls.clear();
    quiet.w->cmdDisconnect->click();
    quiet.tick();
    QCOMPARE(quiet.rig->sound.calls, (QList<SoundCall>{{QString(), false}}));
}

void TestFrmTarnivel::stopDuringGoto_data() {
    QTest::addColumn<int>("stage");
    QTest::newRow("stage 2") << 2;
    QTest::newRow("stage 4") << 4;
}

void TestFrmTarnivel::stopDuringGoto() {
    QFETCH(int, stage);
    WindowRig r;
    r.rig->settings.SlewingSound = true;
    r.rig->settings.CompletionSound = true;
    r.connectTo(1);
    r.tick();
    // Up by 0.5 mm with the final approach from above: out past the target, then back.
    r.w->txtAdjust->setText("0.5");
    r.w->cmdIncrement->click();
    QCOMPARE(r.rig->motion.GotoStage, 1);
    for (int i = 0; i < 400 && r.rig->motion.GotoStage != stage; ++i)
        r.tick();
    QCOMPARE(r.rig->motion.GotoStage, stage);
    QVERIFY(r.rig->sim.model.isMoving());
    r.clearFrames();
    r.rig->sound.calls.clear();

    r.w->cmdStop->click();
    // STOP acts at once.
    QCOMPARE(r.frames(), QStringList{"50 02 12 24 00 00 00 00"});
    QVERIFY(!r.rig->sim.model.isMoving());
    QVERIFY(r.rig->motion.GotoDone);
    QCOMPARE(r.rig->motion.MotionDirection, 0);
    QVERIFY(r.w->cmdStop->isEnabled());
    QCOMPARE(r.w->focusWidget(), r.w->cmdDummy);

    r.clearFrames();
    r.tick();
    QVERIFY(r.rig->motion.GotoMode == GotoKind::None);
    QCOMPARE(r.rig->motion.GotoStage, 0);
    QVERIFY(!r.rig->motion.GotoDone);
    QVERIFY(r.w->cmdSlowLeft->isEnabled());
    QVERIFY(r.w->fraQuickAdjust->isEnabled());
    QVERIFY(r.w->cmdDisconnect->isEnabled());
    // No move and no end sound: STOP's silence was the last word.
    QCOMPARE(r.countMessage(23), 0);
    QCOMPARE(r.rig->sound.calls, (QList<SoundCall>{{QString(), false}}));
}

void TestFrmTarnivel::stopWinsOverLimitBox_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("letters") << "x"
                             << "SensorLimit1 must be Numeric!";
    QTest::newRow("nothing") << ""
                             << "SensorLimit1 cannot be blank!";
}

void TestFrmTarnivel::stopWinsOverLimitBox() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    WindowRig r;
    r.w->show();
    QApplication::setActiveWindow(r.w.get());
    QVERIFY(QTest::qWaitForWindowActive(r.w.get()));
    r.connectTo(1);
    r.tick();
    r.w->txtAdjust->setText("0.5");
    r.w->cmdIncrement->click();
    for (int i = 0; i < 400 && r.rig->motion.GotoStage != 2; ++i)
        r.tick();
    QVERIFY(r.rig->sim.model.isMoving());
    QLineEdit* box = r.w->temperatures->txtSensorLimit[0];
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
    QCOMPARE(box->text(), text);
    r.clearFrames();
    bool stoppedFirst = false;
    r.rig->messages.onShow = [&](const ShownMessage&) {
        stoppedFirst =
            r.frames().contains("50 02 12 24 00 00 00 00") && !r.rig->sim.model.isMoving();
    };

    QTest::mousePress(r.w->cmdStop, Qt::LeftButton);
    QTest::mouseRelease(r.w->cmdStop, Qt::LeftButton);
    QCOMPARE(r.frames(), QStringList{"50 02 12 24 00 00 00 00"});
    QVERIFY(!r.rig->sim.model.isMoving());
    QVERIFY(r.rig->messages.shown.isEmpty());
    // The ticks that end the goto run undisturbed; then the box speaks.
    r.tick(2);
    QVERIFY(r.rig->motion.GotoMode == GotoKind::None);
    QVERIFY(r.w->cmdIncrement->isEnabled());
    QVERIFY(r.rig->messages.shown.isEmpty());
    r.settle();
    QCOMPARE(r.rig->messages.texts(), QStringList{message});
    QVERIFY(stoppedFirst);
    QCOMPARE(r.w->focusWidget(), box);
    QCOMPARE(r.rig->settings.SensorLimit1, 40.0);
}

void TestFrmTarnivel::limitBoxWaitsForTheMove() {
    WindowRig r;
    r.w->show();
    QApplication::setActiveWindow(r.w.get());
    QVERIFY(QTest::qWaitForWindowActive(r.w.get()));
    r.connectTo(1);
    r.tick();
    r.w->txtAdjust->setText("0.5");
    QLineEdit* box = r.w->temperatures->txtSensorLimit[0];
    box->setFocus();
    QTest::keyClicks(box, "x");
    QTest::mouseClick(r.w->cmdIncrement, Qt::LeftButton);
    QCOMPARE(r.rig->motion.GotoMode, kGotoModeGoto);
    QTest::qWait(100); // idle moments of the event loop, the goto under way
    QVERIFY(r.rig->messages.shown.isEmpty());
    r.clearFrames();
    QTest::mouseClick(r.w->cmdStop, Qt::LeftButton);
    QCOMPARE(r.frames(), QStringList{"50 02 12 24 00 00 00 00"});
    r.tick(2);
    r.settle();
    QCOMPARE(r.rig->messages.texts(), QStringList{"SensorLimit1 must be Numeric!"});
}

void TestFrmTarnivel::gotoSounds() {
    WindowRig r;
    r.rig->settings.SlewingSound = true;
    r.rig->settings.CompletionSound = true;
    r.connectTo(1);
    r.tick();
    r.rig->sound.calls.clear();
    r.w->txtAdjust->setText("0.1");
    r.w->cmdDecrement->click(); // from above: one move
    QCOMPARE(r.rig->sound.calls, (QList<SoundCall>{{"BegSlew", true}}));
    for (int i = 0; i < 400 && r.rig->motion.GotoMode != GotoKind::None; ++i)
        r.tick();
    QCOMPARE(r.rig->sound.calls, (QList<SoundCall>{{"BegSlew", true}, {"EndSlew", false}}));
    QCOMPARE(r.rig->sim.model.position(), quint32(100000 - 11513));
}

void TestFrmTarnivel::gotoEndingShortSaysSo_data() {
    QTest::addColumn<qint64>("upperEndStop");
    QTest::addColumn<QString>("status");
    QTest::newRow("end stop on the way")
        << qint64(130000) << QStringLiteral("Goto stopped short at 1.129 mm (target 1.369 mm)");
    QTest::newRow("target reached") << qint64(4000000) << QString();
}

void TestFrmTarnivel::gotoEndingShortSaysSo() {
    QFETCH(qint64, upperEndStop);
    QFETCH(QString, status);
    sim::SimConfig config = ReadyController();
    config.upperEndStop = upperEndStop;
    WindowRig r(config);
    r.connectTo(1);
    r.tick();
    r.w->lblStatus->setText(QStringLiteral("Goto stopped short at 0.500 mm (target 0.600 mm)"));
    r.w->txtAdjust->setText("0.5"); // up 57567 steps to 157567
    r.w->cmdIncrement->click();
    for (int i = 0; i < 400 && r.rig->motion.GotoMode != GotoKind::None; ++i)
        r.tick();
    QVERIFY(r.rig->motion.GotoMode == GotoKind::None);
    QCOMPARE(r.w->lblStatus->text(), status);
}

void TestFrmTarnivel::readoutDivider_data() {
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QList<int>>("readTicks");
    QTest::newRow("4: every 5th tick") << 4 << 12 << QList<int>{5, 10};
    QTest::newRow("11: every tick") << 11 << 4 << QList<int>{1, 2, 3, 4};
    QTest::newRow("7: every 2nd tick") << 7 << 6 << QList<int>{2, 4, 6};
    QTest::newRow("0 counts as the default 4") << 0 << 12 << QList<int>{5, 10};
}

void TestFrmTarnivel::readoutDivider() {
    QFETCH(int, frequency);
    QFETCH(int, ticks);
    QFETCH(QList<int>, readTicks);
    WindowRig r;
    r.connectTo(1);
    r.rig->settings.Frequency = frequency;
    QList<int> seen;
    for (int t = 1; t <= ticks; ++t) {
        r.clearFrames();
        r.tick();
        if (r.countMessage(1) > 0)
            seen << t;
    }
    QCOMPARE(seen, readTicks);
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("     0.869")); // 100000 / 115134.42
}

void TestFrmTarnivel::statusDivider() {
    WindowRig r;
    r.connectTo(1);
    r.tick(124);
    r.clearFrames();
    r.rig->sim.model.setTemperature(1, 21.5);
    r.tick(); // tick 125
    QCOMPARE(r.countMessage(38), 3);
    QCOMPARE(r.countMessage(40), 1);
    QVERIFY(r.w->temperatures->txtTemp[0]->text().startsWith(QStringLiteral("21.5")));
    r.clearFrames();
    r.tick(124);
    QCOMPARE(r.countMessage(38), 0);
    r.tick();
    QCOMPARE(r.countMessage(38), 3);
}

void TestFrmTarnivel::calibrationRefresh() {
    WindowRig r;
    r.connectTo(1);
    r.rig->settings.Frequency = 20;
    r.rig->motion.CalibrationRunning = true;
    QList<int> seen;
    for (int t = 1; t <= 130; ++t) {
        r.clearFrames();
        r.tick();
        if (r.countMessage(1) > 0)
            seen << t;
        QCOMPARE(r.countMessage(38), 0);
    }
    QCOMPARE(seen.mid(0, 3), (QList<int>{5, 10, 15}));
    QCOMPARE(seen.size(), 26);
}

void TestFrmTarnivel::readoutNeverShowsComma_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("comma") << QLocale(QLocale::German, QLocale::Germany);
    // Neither a comma nor a point: the readout has no segment for it.
    QTest::newRow("arabic separator") << QLocale(QLocale::Arabic, QLocale::Egypt);
}

void TestFrmTarnivel::readoutNeverShowsComma() {
    QFETCH(QLocale, locale);
    const QLocale saved;
    QLocale::setDefault(locale);
    WindowRig r;
    r.rig->sim.model.setPosition(16777216 - 115219); // -1.000735 mm
    r.connectTo(1);
    r.w->DisplayPosition();
    QLocale::setDefault(saved);
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("    -1.001"));
    QCOMPARE(r.rig->motion.CurrentPosition, 16777216 - 115219);

    // More digits than the readout has cells widen it instead of losing the sign.
    r.rig->settings.Decimals = 8;
    r.w->DisplayPosition();
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("-1.00073462"));
    QVERIFY(r.w->NumLED->digitCount() >= 11);
}

void TestFrmTarnivel::failedReadKeepsReadout() {
    WindowRig r;
    r.connectTo(1);
    r.w->DisplayPosition();
    const QString shown = r.w->NumLED->text();
    r.rig->sim.model.setPosition(5000);
    r.rig->sim.port.setControllerAttached(false);
    QVERIFY(r.w->NumLED->isLive());
    r.w->DisplayPosition();
    QCOMPARE(r.w->NumLED->text(), shown);
    QCOMPARE(r.rig->motion.CurrentPosition, 100000);
    // Frozen, and drawn so; the first good read brings it back.
    QVERIFY(!r.w->NumLED->isLive());
    r.rig->sim.port.setControllerAttached(true);
    r.w->DisplayPosition();
    QVERIFY(r.w->NumLED->isLive());
}

void TestFrmTarnivel::optionsExchange_data() {
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<double>("scaleFactor");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("units");
    QTest::addColumn<QString>("row"); // the row was "stale" before: only a refresh changes it
    const QString name = QStringLiteral("Focus A             ");
    QTest::newRow("cancelled") << true << 2924.414268 << 1 << QStringLiteral("thou")
                               << name + "     stale";
    QTest::newRow("units only") << false << 115134.42 << 3 << QStringLiteral("user")
                                << name + "     stale";
    QTest::newRow("decimals") << false << 115134.42 << 1 << QStringLiteral("mm")
                              << name + "       0.9";
    QTest::newRow("scale factor") << false << 2924.414268 << 3 << QStringLiteral("thou")
                                  << name + "    34.195";
}

void TestFrmTarnivel::optionsExchange() {
    QFETCH(bool, cancel);
    QFETCH(double, scaleFactor);
    QFETCH(int, decimals);
    QFETCH(QString, units);
    QFETCH(QString, row);
    WindowRig r(ReadyController(), "[POSITIONS]\r\n   Position = 100000,Focus A\r\n");
    r.connectTo(1);
    r.tick();
    r.rig->positions.SetList(0, QStringLiteral("Focus A                  stale"));
    r.w->move(0, 200);
    const double twipsPerPixel = 1440.0 / r.w->dpiY();
    const int top =
        qRound(200 * twipsPerPixel) + qRound(r.w->frameGeometry().height() * twipsPerPixel) / 2;
    bool shown = false;
    r.rig->console.RunModal = [&](QDialog& dialog) {
        shown = true;
        auto* options = qobject_cast<frmOptions*>(&dialog);
        QVERIFY(options);
        QCOMPARE(options->ScaleFactor, 115134.42);
        QCOMPARE(options->ScaleUnits, QStringLiteral("mm"));
        QCOMPARE(options->Decimals, 3);
        QCOMPARE(options->SlowSlewSpeed, 4);
        QCOMPARE(options->FastSlewSpeed, 9);
        QVERIFY(!options->SlewingSound);
        QVERIFY(!options->CompletionSound);
        QCOMPARE(options->SensorName1, QStringLiteral("Primary"));
        QCOMPARE(options->SensorName2, QStringLiteral("Ambient"));
        QCOMPARE(options->SensorName3, QStringLiteral("Secondary"));
        QCOMPARE(options->Degrees, 0);
        QVERIFY(!options->Logging);
        QCOMPARE(options->FormTop, top);
        options->ScaleFactor = scaleFactor;
        options->Decimals = decimals;
        options->ScaleUnits = units;
        options->SlowSlewSpeed = 2;
        options->FastSlewSpeed = 7;
        options->SlewingSound = true;
        options->CompletionSound = true;
        options->SensorName1 = QStringLiteral("Mirror");
        options->SensorName2 = QStringLiteral("Dome");
        options->SensorName3 = QStringLiteral("Tube");
        options->Degrees = 1;
        options->Logging = true;
        options->Cancel = cancel;
    };
    r.w->cmdOptions->click();
    QVERIFY(r.w->OptionsRequested);
    QVERIFY(!shown);
    r.tick();
    QVERIFY(shown);
    QVERIFY(!r.w->OptionsRequested);
    QVERIFY(r.w->rateTimer->isArmed());
    const FocuserSettings& s = r.rig->settings;
    QCOMPARE(r.rig->positions.List(0), row);
    const QLabel* const* labels = r.w->temperatures->lblSensor;
    if (cancel) {
        QCOMPARE(s.ScaleFactor, 115134.42);
        QCOMPARE(s.ScaleUnits, QStringLiteral("mm"));
        QCOMPARE(s.Decimals, 3);
        QCOMPARE(s.SlowSlewSpeed, 4);
        QCOMPARE(s.FastSlewSpeed, 9);
        QVERIFY(!s.SlewingSound);
        QVERIFY(!s.CompletionSound);
        QCOMPARE(s.SensorName1, QStringLiteral("Primary"));
        QCOMPARE(s.SensorName2, QStringLiteral("Ambient"));
        QCOMPARE(s.SensorName3, QStringLiteral("Secondary"));
        QCOMPARE(s.Degrees, 0);
        QVERIFY(!s.Logging);
        QCOMPARE(r.w->fraQuickAdjust->title(), QStringLiteral("Quick Adjust (mm)"));
        QCOMPARE(labels[1]->text(), QStringLiteral("Ambient"));
    } else {
        QCOMPARE(s.ScaleFactor, scaleFactor);
        QCOMPARE(s.ScaleUnits, units);
        QCOMPARE(s.Decimals, decimals);
        QCOMPARE(s.SlowSlewSpeed, 2);
        QCOMPARE(s.FastSlewSpeed, 7);
        QVERIFY(s.SlewingSound);
        QVERIFY(s.CompletionSound);
        QCOMPARE(s.SensorName1, QStringLiteral("Mirror"));
        QCOMPARE(s.SensorName2, QStringLiteral("Dome"));
        QCOMPARE(s.SensorName3, QStringLiteral("Tube"));
        QCOMPARE(s.Degrees, 1);
        QVERIFY(s.Logging);
        QCOMPARE(r.w->fraQuickAdjust->title(), QStringLiteral("Quick Adjust (%1)").arg(units));
        QCOMPARE(r.w->fraPositions->title(), QStringLiteral("Saved Positions (%1)").arg(units));
        QCOMPARE(labels[0]->text(), QStringLiteral("Mirror"));
        QCOMPARE(labels[1]->text(), QStringLiteral("Dome"));
        QCOMPARE(labels[2]->text(), QStringLiteral("Tube"));
    }
}

void TestFrmTarnivel::stepEntryFollowsUnits_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("unit"); // thou, mm, user
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("steps"); // of the next "+", 0 for none
    const QByteArray user = "[TARNIVEL]\r\n   ScaleFactor = 1\r\n   ScaleUnits = user\r\n"
                            "   Decimals = 6\r\n";
    QTest::newRow("user to mm") << user << "50" << 1 << "0.000434" << 50;
    // 0.5 mm = 57567 steps = 19.684968 thou, shown with the 3 decimals.
    QTest::newRow("mm to thou") << QByteArray() << "0.5" << 0 << "19.685" << 57567;
    QTest::newRow("letters stay") << user << "abc" << 1 << "abc" << 0;
}

void TestFrmTarnivel::stepEntryFollowsUnits() {
    QFETCH(QByteArray, settings);
    QFETCH(QString, typed);
    QFETCH(int, unit);
    QFETCH(QString, shown);
    QFETCH(int, steps);
    WindowRig r(ReadyController(), settings);
    r.w->show();
    r.connectTo(1);
    r.tick();
    r.w->txtAdjust->selectAll();
    QTest::keyClicks(r.w->txtAdjust, typed);
    r.rig->console.RunModal = [&](QDialog& dialog) {
        auto* units = dialog.findChild<QComboBox*>(QStringLiteral("cboScaleUnits"));
        units->setCurrentIndex(unit);
        Q_EMIT units->activated(unit);
        dialog.findChild<QPushButton*>(QStringLiteral("cmdOk"))->click();
    };
    r.w->cmdOptions->click();
    r.tick();
    QCOMPARE(r.w->txtAdjust->text(), shown);

    const int from = r.rig->motion.CurrentPosition;
    r.w->cmdIncrement->click();
    if (steps == 0) {
        QVERIFY(r.rig->motion.GotoMode == GotoKind::None);
        return;
    }
    QCOMPARE(r.rig->motion.GotoTarget, from + steps);
}

void TestFrmTarnivel::optionsTickSkipsPolling() {
    WindowRig r;
    r.connectTo(1);
    r.tick(4);
    r.rig->console.RunModal = [](QDialog&) {};
    r.rig->motion.JogRate = 4; // a jog asked for while the options wait
    r.w->cmdOptions->click();
    r.clearFrames();
    r.tick(); // the 5th tick would read the position and start the jog
    // Only the dialog talked to the controller.
    QCOMPARE(r.countMessage(1), 0);
    QCOMPARE(r.countMessage(36), 0);
    r.clearFrames();
    r.tick();
    QCOMPARE(r.frames(), (QStringList{"50 02 12 24 04 00 00 00", "50 01 12 01 00 00 00 03"}));
}

// The notice of a calibration lost in the dialog goes when a later dialog completes one.
void TestFrmTarnivel::calibrationNoticeGoesWithACompletedCalibration() {
    WindowRig r;
    r.connectTo(1);
    r.w->lblStatus->setText(
        QStringLiteral("Focuser requires Calibrating: click on Options and then Calibrate"));
    r.rig->console.RunModal = [](QDialog& d) {
        static_cast<frmOptions&>(d).CalibrationCompleted = true;
    };
    r.w->cmdOptions->click();
    r.tick();
    QCOMPARE(r.w->lblStatus->text(), QString());
}

void TestFrmTarnivel::closeWhileDisconnected() {
    WindowRig r;
    r.w->show();
    r.w->move(96, 48);
    r.w->close();
    QVERIFY(r.w->unloaded());
    QVERIFY(!r.w->isVisible());
    const QByteArray text = r.settingsFileText();
    QVERIFY(text.contains("   Top                  = " +
                          QByteArray::number(PixelsToTwips(48, r.w->dpiY())) + "\r\n"));
    QVERIFY(text.contains("   Left                 = " +
                          QByteArray::number(PixelsToTwips(96, r.w->dpiX())) + "\r\n"));
}

void TestFrmTarnivel::closeWhileConnected() {
    WindowRig r;
    r.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.w.get()));
    r.w->move(150, 120);
    r.connectTo(1);
    r.tick();
    r.rig->motion.JogRate = 9;
    r.tick();
    QVERIFY(r.rig->sim.model.isMoving());

    r.w->close();
    QVERIFY(r.w->isVisible());
    QVERIFY(!r.w->unloaded());
    QVERIFY(r.w->DisconnectRequested);
    QVERIFY(r.w->CloseRequested);
    QVERIFY(r.settingsFileText().isEmpty());

    r.clearFrames();
    r.tick();
    QCOMPARE(r.frames(), QStringList{"50 02 12 24 00 00 00 00"});
    QVERIFY(!r.rig->sim.model.isMoving());
    QVERIFY(!r.rig->sim.link.LinkOpen());
    QVERIFY(!r.rig->sim.port.isOpen());
    QVERIFY(r.w->unloaded());
    QVERIFY(!r.w->isVisible());
    const QByteArray text = r.settingsFileText();
    QVERIFY(text.startsWith("[TARNIVEL]\r\n"));
    QVERIFY(text.contains("   Top                  = " +
                          QByteArray::number(PixelsToTwips(120, r.w->dpiY())) + "\r\n"));
    QVERIFY(text.contains("   Left                 = " +
                          QByteArray::number(PixelsToTwips(150, r.w->dpiX())) + "\r\n"));
    QVERIFY(text.contains("   COMport              = 1\r\n"));
    // Exit silences whatever still plays.
    QCOMPARE(r.rig->sound.calls.last(), (SoundCall{QString(), false}));
}

void TestFrmTarnivel::closeMaximisedKeepsPosition() {
    WindowRig r(ReadyController(), "[TARNIVEL]\r\n   Top = 1500\r\n   Left = 3000\r\n");
    r.w->showMaximized();
    r.w->close();
    QVERIFY(r.w->unloaded());
    const QByteArray text = r.settingsFileText();
    QVERIFY(text.contains("   Top                  = 1500\r\n"));
    QVERIFY(text.contains("   Left                 = 3000\r\n"));
}

void TestFrmTarnivel::closeDuringProbeHonoured() {
    WindowRig r;
    r.w->show();
    r.rig->sim.port.setControllerAttached(false);
    bool closed = false;
    r.rig->sim.platform.onPump([&] {
        if (!closed && r.rig->sim.link.LinkOpen()) {
            closed = true;
            r.w->close(); // refused: the probe holds the link open
        }
    });
    r.connectTo(1);
    QVERIFY(closed);
    QCOMPARE(r.rig->messages.texts(), QStringList{"Cannot find focuser on port"});
    // With nothing left to take down, the close went ahead at once.
    QVERIFY(r.w->unloaded());
    QVERIFY(!r.w->isVisible());
    QVERIFY(!r.rig->sim.port.isOpen());
    QVERIFY(r.settingsFileText().contains("[TARNIVEL]"));
}

void TestFrmTarnivel::connectClearsStaleClose() {
    WindowRig r;
    r.w->show();
    r.w->CloseRequested = true; // left over from an earlier attempt
    r.connectTo(1);
    QVERIFY(!r.w->CloseRequested);
    r.w->cmdDisconnect->click();
    r.tick();
    QVERIFY(!r.rig->sim.link.LinkOpen());
    // An ordinary disconnect leaves the window open.
    QVERIFY(!r.w->unloaded());
    QVERIFY(r.w->isVisible());
}

// Delete clicked while the tick waits for a position read: the question comes once the tick
// is over, and the poll goes on while it is open.
void TestFrmTarnivel::messageBoxOpenedInATickLetsThePollRun() {
    WindowRig r(ReadyController(), "[POSITIONS]\r\n   Position = 100000,Focus A\r\n");
    r.w->show();
    r.connectTo(1);
    r.rig->positions.SetListIndex(0);
    QStringList framesWhileOpen;
    r.rig->messages.defaultAnswer = MsgAnswer::No;
    r.rig->messages.onShow = [&](const ShownMessage&) {
        r.clearFrames();
        r.tick(20);
        framesWhileOpen = r.frames();
    };
    bool clicked = false;
    r.rig->sim.platform.onPump([&] {
        if (!clicked && r.rig->sim.link.Busy()) {
            clicked = true;
            QTest::mouseClick(r.w->fraPositions->cmdDelete, Qt::LeftButton);
        }
    });
    r.tick(5);
    QVERIFY(clicked);
    QTRY_COMPARE(r.rig->messages.shown.size(), 1);
    QCOMPARE(framesWhileOpen.count(QStringLiteral("50 01 12 01 00 00 00 03")), 4);
}

void TestFrmTarnivel::lostConnection() {
    WindowRig r;
    r.connectTo(1);
    r.tick(2);
    r.rig->sim.port.vanish();
    r.tick();
    QCOMPARE(r.w->lblStatus->text(), QStringLiteral("Focuser connection lost"));
    // Nothing is torn down by itself.
    r.tick(10);
    QVERIFY(r.rig->sim.link.LinkOpen());
    QVERIFY(r.w->cmdDisconnect->isEnabled());
    QVERIFY(r.w->rateTimer->isArmed());
    QCOMPARE(r.w->lblStatus->text(), QStringLiteral("Focuser connection lost"));
    // Commands fail by their time-out, in bounded virtual time.
    const qint64 before = r.rig->sim.platform.nowMs();
    r.w->cmdStop->click();
    QVERIFY(r.rig->motion.GotoDone);
    QVERIFY(r.rig->sim.platform.nowMs() - before < 2000);
    r.w->cmdDisconnect->click();
    r.tick();
    QVERIFY(!r.rig->sim.link.LinkOpen());
    QVERIFY(r.w->cmdConnect->isEnabled());
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("---Off--"));

    // A new connect (device back) clears the status line.
    r.rig->sim.port.setDevicePresent(true);
    r.connectTo(1);
    QVERIFY(r.rig->sim.link.LinkOpen());
    QCOMPARE(r.w->lblStatus->text(), QString());
}

void TestFrmTarnivel::lostPortSwitchesCompensationOff() {
    WindowRig r(ReadyController(), "[TARNIVEL]\r\n   TempCompCoefficient = -80\r\n");
    r.connectTo(1);
    r.tick(2);
    r.w->temperatures->chkComp->click();
    QVERIFY(r.rig->device.State().tempCompOn);
    r.rig->sim.port.vanish();
    r.tick();
    QVERIFY(!r.w->temperatures->chkComp->isChecked());
    QCOMPARE(r.rig->device.State().tempCompStatus,
             QStringLiteral("Temp comp off: focuser connection lost"));
    QCOMPARE(r.w->lblStatus->text(), QStringLiteral("Focuser connection lost"));
}

void TestFrmTarnivel::longStatusKeepsWindowSize() {
    WindowRig r;
    r.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.w.get()));
    const QSize size = r.w->size();
    const QString message = QStringLiteral("Temperature log not written: ") + QString(200, 'x');
    r.w->lblStatus->setText(message);
    r.w->layout()->activate();
    QCOMPARE(r.w->size(), size);
    const QString shown = static_cast<QLabel*>(r.w->lblStatus)->text();
    QVERIFY(shown.startsWith(QStringLiteral("Temperature log")));
    QVERIFY(shown.endsWith(QChar(0x2026)));
    QCOMPARE(r.w->lblStatus->toolTip(), message);
    QCOMPARE(r.w->lblStatus->text(), message);
}

void TestFrmTarnivel::unreadableSettingsLeftAlone() {
    WindowRig r;
    // A folder where the file should be cannot be read (or written).
    QDir().remove(r.settingsPath);
    QVERIFY(QDir().mkpath(r.settingsPath));
    QFile marker(QDir(r.settingsPath).filePath(QStringLiteral("keep")));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    auto console = std::make_unique<ConsoleRig>(ReadyController());
    auto w = std::make_unique<frmTarnivel>(console->console, r.settingsPath);
    QVERIFY(w->loadResult().unreadable);
    QCOMPARE(console->messages.shown.size(), 1);
    QCOMPARE(int(console->messages.shown[0].icon), int(MsgIcon::Warning));
    QCOMPARE(console->messages.shown[0].title, kTitle);
    QVERIFY(console->messages.shown[0].text.contains(r.settingsPath));
    w->close();
    QVERIFY(w->unloaded());
    QVERIFY(QFileInfo(r.settingsPath).isDir());
    QVERIFY(QFileInfo::exists(marker.fileName()));
    QCOMPARE(console->messages.shown.size(), 1);
    QCOMPARE(console->sound.calls.last(), (SoundCall{QString(), false}));
    w.reset();
}

QTEST_MAIN(TestFrmTarnivel)
#include "tst_frmtarnivel.moc"
