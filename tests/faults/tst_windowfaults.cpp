// The running program against every fault of the simulated controller, on virtual time:
// whatever the main window is doing when the controller starts to fail (connecting,
// polling, a staged goto, a jog, a temperature update, a calibration in the options
// dialog), the readout freezes but the window keeps processing events, STOP and
// Disconnect still work, a reconnect works once the controller is back, and the settings
// file written at the close holds the settings and the saved positions it was started with.

#include "windowrig.h"

#include "core/device/calibration.h"
#include "core/link/focuserlink.h"
#include "core/motion/motionstate.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"
#include "window/app/temperaturepanel.h"
#include "window/options/frmoptions.h"
#include "window/positions/frmeditposition.h"
#include "window/positions/positionsframe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryFile>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;
using tarnivel::sim::Fault;

namespace {

const QByteArray kSettingsFile = "[TARNIVEL]\r\n"
                                 "   ScaleFactor          = 2924.414268\r\n"
                                 "   ScaleUnits           = thou\r\n"
                                 "   Decimals             = 2\r\n"
                                 "   Overshoot            = 20000\r\n"
                                 "   CompletionSound      = True\r\n"
                                 "   SensorName1          = Tube\r\n"
                                 "   SensorLimit1         = 12.5\r\n"
                                 "\r\n"
                                 "[POSITIONS]\r\n"
                                 "   Position             = 150000,Camera\r\n"
                                 "   Position             = 16700000,Eyepiece, low\r\n";

const QString kLost = QStringLiteral("Focuser connection lost");
const QString kNoFocuser = QStringLiteral("Cannot find focuser on port");
const QString kCannotOpen = QStringLiteral("Error attempting to open port");

// The slowest a tick may be under faults: a temperature update of five failing commands
// and a failing position read, each two attempts of a frame and two receive waits.
constexpr qint64 kWorstTickMs = 6 * 2 * (88 + 2 * 396) + 50;
// STOP sends one command.
constexpr qint64 kWorstStopMs = 2 * (88 + 2 * 396);

bool ControllerStillActs(Fault f) {
    // Answer faults damage only the answer: the frame itself is carried out.
    return f != Fault::GoSilent && f != Fault::PortVanish;
}

bool ReadoutFreezes(Fault) {
    // Every answer late is no answer: each arrives while the line is left to go quiet, and is
    // dropped rather than taken for the next question's.
    return true;
}

// From now on the controller fails with `fault` on every frame.
void StartFault(WindowRig& r, Fault fault) {
    sim::ControllerModel& model = r.rig->sim.model;
    if (fault == Fault::GoSilent)
        model.setSilent(true);
    else if (fault == Fault::PortVanish)
        r.rig->sim.port.vanish();
    else
        model.injectFault(sim::FaultRule{-1, fault, -1, -1});
}

// The controller is back: answering, the adapter plugged in again, the motor at rest.
void EndFault(WindowRig& r) {
    sim::ControllerModel& model = r.rig->sim.model;
    model.clearFaults();
    model.setSilent(false);
    r.rig->sim.port.setDevicePresent(true);
    model.placeAt(model.place());
}

QString ReadoutText(const WindowRig& r, int raw) {
    const FocuserSettings& s = r.rig->settings;
    return FormatPositionText(raw, s.ScaleFactor, s.Decimals).replace(QLatin1Char(','), '.');
}

// Settings and saved positions as a comparable text (window place and port left out:
// they follow the window and the port list).
QString SettingsFingerprint(const QByteArray& fileText) {
    QTemporaryFile file;
    if (!file.open())
        return QStringLiteral("(no file)");
    file.write(fileText);
    file.close();
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file.fileName(), s, list, WindowGeometryTwips());
    QStringList parts{QString::number(s.ScaleFactor, 'g', 17),
                      s.ScaleUnits,
                      QString::number(s.Decimals),
                      QString::number(s.Overshoot),
                      s.CompletionSound ? QStringLiteral("on") : QStringLiteral("off"),
                      s.SensorName1,
                      QString::number(s.SensorLimit1)};
    for (int i = 0; i < list.ListCount(); ++i)
        parts << list.List(i) + QLatin1Char('@') + QString::number(list.ItemData(i));
    return parts.join(QLatin1Char('|'));
}

// A pump hook for one scope: the platform keeps its hooks for its whole life, so the hook
// falls silent when this goes.
class ScopedPumpHook {
public:
    ScopedPumpHook(VirtualPlatform& platform, std::function<void()> hook)
        : alive_(std::make_shared<bool>(true)) {
        platform.onPump([alive = alive_, hook = std::move(hook)] {
            if (*alive)
                hook();
        });
    }
    ~ScopedPumpHook() { *alive_ = false; }
    ScopedPumpHook(const ScopedPumpHook&) = delete;
    ScopedPumpHook& operator=(const ScopedPumpHook&) = delete;

private:
    std::shared_ptr<bool> alive_;
};

template <typename W> W* Child(QObject* parent, const char* name) {
    return parent->findChild<W*>(QString::fromLatin1(name));
}

// Ticks until `done` or `limit` ticks; returns the longest tick in virtual time.
qint64 TickUntil(WindowRig& r, const std::function<bool()>& done, int limit) {
    qint64 longest = 0;
    for (int i = 0; i < limit && !done(); ++i) {
        const qint64 t0 = r.rig->sim.platform.nowMs();
        r.tick();
        longest = qMax(longest, r.rig->sim.platform.nowMs() - t0);
    }
    return longest;
}

} // namespace

class TestWindowFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void faultWhileRunning_data();
    void faultWhileRunning();
    void faultFromTheStart_data();
    void faultFromTheStart();
    void sessionUnderRandomFaults_data();
    void sessionUnderRandomFaults();
    void tickInsideStopStartsNoJog_data();
    void tickInsideStopStartsNoJog();
    void actInsideEveryWait_data();
    void actInsideEveryWait();

private:
    // Leaves the window as an operator would after a fault: STOP, Disconnect, the
    // controller back, a new connect, then a close while connected.
    void recoverAndClose(WindowRig& r, const QString& expectedSettings);
};

namespace {

const struct {
    const char* name;
    Fault fault;
} kFaults[] = {
    {"no answer", Fault::NoAnswer},       {"wrong terminator", Fault::WrongTerminator},
    {"dropped byte", Fault::DropByte},    {"extra byte", Fault::ExtraByte},
    {"slow answer", Fault::SlowAnswer},   {"goes silent", Fault::GoSilent},
    {"port vanishes", Fault::PortVanish},
};

const char* const kActivities[] = {"connect", "poll", "goto", "jog", "temperature", "calibration"};

} // namespace

void TestWindowFaults::faultWhileRunning_data() {
    QTest::addColumn<QString>("activity");
    QTest::addColumn<int>("faultKind");
    for (const char* activity : kActivities) {
        // Joined here, not by addRow's format: g++ -O3 takes the %s arguments for null and
        // fails the release build with -Werror=format-overflow.
        for (const auto& f : kFaults)
            QTest::newRow((QByteArray(activity) + ": " + f.name).constData())
                << QString::fromLatin1(activity) << int(f.fault);
    }
}

void TestWindowFaults::faultWhileRunning() {
    QFETCH(QString, activity);
    QFETCH(int, faultKind);
    const auto fault = static_cast<Fault>(faultKind);
    WindowRig r(ReadyController(), kSettingsFile);
    r.w->show();
    const QString expectedSettings = SettingsFingerprint(kSettingsFile);
    MotionState& m = r.rig->motion;
    sim::ControllerModel& model = r.rig->sim.model;
    VirtualPlatform& platform = r.rig->sim.platform;

    // ---- The activity, and the fault starting in its middle --------------------------------
    if (activity == QLatin1String("connect")) {
        // The controller answers the probe and fails from the position read on.
        bool started = false;
        const ScopedPumpHook hook(platform, [&] {
            if (!started && r.countMessage(msg::GetPosition) > 0) {
                started = true;
                StartFault(r, fault);
            }
        });
        const qint64 t0 = platform.nowMs();
        r.connectTo(1);
        QVERIFY(started);
        // Connect completes; the unreadable calibrated flag reads as "not calibrated".
        QVERIFY(r.rig->sim.link.LinkOpen());
        QVERIFY(r.w->rateTimer->isArmed());
        QVERIFY(r.w->cmdDisconnect->isEnabled());
        QVERIFY(platform.nowMs() - t0 < 20 * kWorstStopMs);
        if (ReadoutFreezes(fault)) {
            QVERIFY(r.rig->messages.texts().value(0).startsWith("Warning: Focuser requires"));
            for (QLineEdit* box : r.w->temperatures->txtTemp)
                QCOMPARE(box->text(), QStringLiteral("n/a"));
        }
    } else {
        r.connectTo(1);
        QCOMPARE(r.rig->messages.shown.size(), 0);
        r.tick(5);
        QCOMPARE(r.w->NumLED->text(), ReadoutText(r, model.position()));
        if (activity == QLatin1String("poll")) {
            StartFault(r, fault);
        } else if (activity == QLatin1String("goto")) {
            r.w->txtAdjust->setText(QStringLiteral("100")); // thou
            r.w->cmdIncrement->click();
            TickUntil(
                r, [&] { return m.GotoStage == 2 || m.GotoStage == 4; }, 10);
            QVERIFY(model.isGotoRunning());
            StartFault(r, fault);
        } else if (activity == QLatin1String("jog")) {
            QTest::mousePress(r.w->cmdFastRight, Qt::LeftButton);
            r.tick();
            QCOMPARE(m.ActiveJogRate, 9);
            QCOMPARE(model.rate(), 9);
            StartFault(r, fault);
        } else if (activity == QLatin1String("temperature")) {
            r.w->poll().StatusTicks = 500 / 4 - 1; // the next tick updates the temperatures
            StartFault(r, fault);
            r.tick();
            QCOMPARE(r.w->poll().StatusTicks, 0);
            if (ReadoutFreezes(fault)) {
                for (QLineEdit* box : r.w->temperatures->txtTemp)
                    QCOMPARE(box->text(), QStringLiteral("n/a"));
            }
        } else if (activity == QLatin1String("calibration")) {
            QString label;
            bool calibrationEnded = false;
            r.rig->console.RunModal = [&](QDialog& dialog) {
                dialog.show();
                const qint64 start = platform.nowMs();
                bool started = false;
                bool cancelled = false;
                const ScopedPumpHook hook(platform, [&, start] {
                    // The fault comes during the left-edge search; a calibration that
                    // never ends by itself would be cancelled after two minutes.
                    if (!started && platform.nowMs() - start >= 3000) {
                        started = true;
                        StartFault(r, fault);
                    }
                    if (!cancelled && m.CalibrationRunning && platform.nowMs() - start >= 120000) {
                        cancelled = true;
                        Child<QPushButton>(&dialog, "cmdCancelCalibrate")->click();
                    }
                });
                Child<QPushButton>(&dialog, "cmdCalibrate")->click();
                calibrationEnded = !m.CalibrationRunning;
                label = Child<QLabel>(&dialog, "lblCalibrate")->text();
                QVERIFY(started);
                Child<QPushButton>(&dialog, "cmdCancel")->click();
            };
            r.w->cmdOptions->click();
            r.tick();
            QVERIFY(calibrationEnded);
            if (ReadoutFreezes(fault))
                QCOMPARE(label, kLabelNotResponding);
            QVERIFY(!r.w->OptionsRequested);
            QVERIFY(r.w->rateTimer->isArmed());
        }
    }

    // ---- The window under the fault: frozen readout, events processed, nothing hangs ------
    if (!model.isMoving())
        model.placeAt(model.place() + 1000); // turned by hand: a readout that works shows it
    const QString frozen = r.w->NumLED->text();
    const int stage = m.GotoStage;
    int queued = 0;
    QMetaObject::invokeMethod(
        r.w.get(), [&queued] { ++queued; }, Qt::QueuedConnection);
    const qint64 longest = TickUntil(
        r, [] { return false; }, 10);
    QVERIFY2(longest <= kWorstTickMs, qPrintable(QString::number(longest)));
    QCOMPARE(queued, 1);
    QVERIFY(r.w->rateTimer->isArmed());
    if (ReadoutFreezes(fault))
        QCOMPARE(r.w->NumLED->text(), frozen);
    else if (!model.isMoving())
        QCOMPARE(r.w->NumLED->text(), ReadoutText(r, model.position()));
    else
        QVERIFY(r.w->NumLED->text() != frozen);
    QCOMPARE(r.w->lblStatus->text(), fault == Fault::PortVanish ? kLost : QString());
    if (activity == QLatin1String("goto") && ReadoutFreezes(fault) && fault != Fault::PortVanish) {
        // A goto has no time-out: it waits for a "done" that cannot come.
        QCOMPARE(m.GotoMode, kGotoModeGoto);
        QCOMPARE(m.GotoStage, stage);
        QVERIFY(!r.w->cmdIncrement->isEnabled());
    }
    if (fault == Fault::PortVanish) {
        // A lost connection ends a goto or a jog as STOP would, and gives the controls back.
        QVERIFY(m.GotoMode == GotoKind::None);
        QCOMPARE(m.ActiveJogRate, 0);
        QVERIFY(r.w->cmdIncrement->isEnabled() && r.w->cmdDisconnect->isEnabled());
        QVERIFY(!r.w->temperatures->txtTemp[0]->isEnabled());
    }
    if (activity == QLatin1String("jog"))
        QTest::mouseRelease(r.w->cmdFastRight, Qt::LeftButton);

    recoverAndClose(r, expectedSettings);
    if (activity == QLatin1String("jog") && ControllerStillActs(fault))
        QCOMPARE(model.rate(), 0);
}

void TestWindowFaults::recoverAndClose(WindowRig& r, const QString& expectedSettings) {
    MotionState& m = r.rig->motion;
    sim::ControllerModel& model = r.rig->sim.model;
    VirtualPlatform& platform = r.rig->sim.platform;
    const bool lost = r.rig->sim.port.connectionLost();
    const bool acting = !lost && !model.silent();

    // STOP: one command, failing by its time-out at worst.
    qint64 t0 = platform.nowMs();
    r.w->cmdStop->click();
    QVERIFY(platform.nowMs() - t0 <= kWorstStopMs);
    QVERIFY(m.GotoDone);
    QCOMPARE(m.JogRate, 0);
    QCOMPARE(m.MotionDirection, 0);
    QVERIFY(r.w->cmdStop->isEnabled());
    if (acting)
        QVERIFY(!model.isMoving());
    r.tick();
    QVERIFY(m.GotoMode == GotoKind::None);
    QVERIFY(r.w->cmdSlowLeft->isEnabled());
    QVERIFY(r.w->fraQuickAdjust->isEnabled());

    // Disconnect, carried out by the next tick.
    r.w->cmdDisconnect->click();
    t0 = platform.nowMs();
    r.tick();
    QVERIFY(platform.nowMs() - t0 <= kWorstStopMs + 50);
    QVERIFY(!r.rig->sim.link.LinkOpen());
    QVERIFY(!r.rig->sim.port.isOpen());
    QVERIFY(!r.w->rateTimer->isArmed());
    QVERIFY(r.w->cmdConnect->isEnabled());
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("---Off--"));

    // The controller back: a new connect reads it as before.
    EndFault(r);
    r.rig->messages.clear();
    r.connectTo(1);
    QVERIFY(r.rig->sim.link.LinkOpen());
    QCOMPARE(r.w->lblStatus->text(), QString());
    r.tick(6);
    QCOMPARE(r.w->NumLED->text(), ReadoutText(r, model.position()));

    // Closing while connected: the tick disconnects and the window unloads.
    r.w->close();
    QVERIFY(!r.w->unloaded());
    r.tick();
    QVERIFY(r.w->unloaded());
    QCOMPARE(SettingsFingerprint(r.settingsFileText()), expectedSettings);
}

void TestWindowFaults::faultFromTheStart_data() {
    QTest::addColumn<int>("faultKind");
    QTest::addColumn<QString>("message");
    for (const auto& f : kFaults) {
        QString message = kNoFocuser;
        if (f.fault == Fault::PortVanish)
            message = kCannotOpen; // the adapter is not there to open
        QTest::addRow("%s", f.name) << int(f.fault) << message;
    }
}

// A controller that fails before the first connect: the connect is refused with its
// message, the window stays disconnected and usable, and a later connect works.
void TestWindowFaults::faultFromTheStart() {
    QFETCH(int, faultKind);
    QFETCH(QString, message);
    const auto fault = static_cast<Fault>(faultKind);
    WindowRig r(ReadyController(), kSettingsFile);
    r.w->show();
    StartFault(r, fault);
    const qint64 t0 = r.rig->sim.platform.nowMs();
    r.connectTo(1);
    QVERIFY(r.rig->sim.platform.nowMs() - t0 <= kWorstStopMs);
    QCOMPARE(r.rig->messages.texts(), QStringList{message});
    QCOMPARE(int(r.rig->messages.shown[0].icon), int(MsgIcon::Error));
    QVERIFY(!r.rig->sim.link.LinkOpen());
    QVERIFY(!r.rig->sim.port.isOpen());
    QVERIFY(r.w->cmdConnect->isEnabled());
    QVERIFY(r.w->cboComPort->isEnabled());
    QVERIFY(!r.w->cmdStop->isEnabled());
    QVERIFY(!r.w->rateTimer->isArmed());

    EndFault(r);
    r.rig->messages.clear();
    r.connectTo(1);
    QVERIFY(r.rig->sim.link.LinkOpen());
    QVERIFY(r.rig->messages.shown.isEmpty());
    r.w->close();
    r.tick();
    QVERIFY(r.w->unloaded());
    QCOMPARE(SettingsFingerprint(r.settingsFileText()), SettingsFingerprint(kSettingsFile));
}

void TestWindowFaults::sessionUnderRandomFaults_data() {
    QTest::addColumn<quint32>("seed");
    QTest::newRow("seed 11") << 11u;
    QTest::newRow("seed 12") << 12u;
    QTest::newRow("seed 13") << 13u;
}

// A whole session on a controller whose answers are damaged now and then: the retry hides
// the faults, so every move ends where it should and the calibration completes.
void TestWindowFaults::sessionUnderRandomFaults() {
    QFETCH(quint32, seed);
    sim::SimConfig config = ReadyController();
    config.lowerEndStop = -60000;
    config.upperEndStop = 60000;
    config.startPosition = 0;
    config.faultSeed = seed;
    config.faultRates.noAnswer = 0.03;
    config.faultRates.wrongTerminator = 0.03;
    config.faultRates.dropByte = 0.03;
    config.faultRates.extraByte = 0.03;
    WindowRig r(config, kSettingsFile);
    r.w->show();
    MotionState& m = r.rig->motion;
    sim::ControllerModel& model = r.rig->sim.model;
    int damaged = 0;
    model.onExchange = [&damaged](const QByteArray& frame, const QByteArray& answer) {
        if (answer.size() != static_cast<quint8>(frame[7]) + 1 || !answer.endsWith('#'))
            ++damaged;
    };

    r.connectTo(1);
    QVERIFY(r.rig->sim.link.LinkOpen());
    r.tick(2);

    // A step move up: two stages, as the final approach comes from above.
    r.w->txtAdjust->setText(QStringLiteral("5")); // thou: 14622 steps
    r.w->cmdIncrement->click();
    TickUntil(
        r, [&] { return r.w->cmdIncrement->isEnabled(); }, 400);
    QVERIFY(r.w->cmdIncrement->isEnabled());
    QCOMPARE(int(model.position()), 14622);

    // A jog up and back down.
    QTest::mousePress(r.w->cmdSlowRight, Qt::LeftButton);
    r.tick(10);
    QTest::mouseRelease(r.w->cmdSlowRight, Qt::LeftButton);
    r.tick(2);
    QCOMPARE(model.rate(), 0);
    QVERIFY(int(model.position()) > 14622);

    // A temperature update.
    r.w->poll().StatusTicks = 500 / 4 - 1;
    r.tick();
    QCOMPARE(r.w->temperatures->txtTemp[0]->text(), QString::fromUtf8("18.0°C"));

    // A full calibration from the options dialog.
    QString label;
    r.rig->console.RunModal = [&](QDialog& dialog) {
        dialog.show();
        Child<QPushButton>(&dialog, "cmdCalibrate")->click();
        label = Child<QLabel>(&dialog, "lblCalibrate")->text();
        Child<QPushButton>(&dialog, "cmdCancel")->click();
    };
    r.w->cmdOptions->click();
    r.tick();
    QCOMPARE(label, kLabelComplete);
    QCOMPARE(int(model.memory(0x40)), 1);
    QCOMPARE(int(model.position()), 0);

    // Goto a saved position inside the calibrated travel.
    r.rig->positions.SetListIndex(0); // "Camera"
    r.rig->positions.SetItemData(0, 40000);
    r.w->fraPositions->cmdGoto->click();
    TickUntil(
        r, [&] { return r.w->cmdIncrement->isEnabled(); }, 400);
    QCOMPARE(int(model.position()), 40000);
    QCOMPARE(m.GotoMode, GotoKind::None);
    r.tick(5);
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("     13.68")); // thou, 2 decimals

    // Faults did happen, and often.
    QVERIFY2(damaged > 20, qPrintable(QString::number(damaged)));
    r.w->close();
    r.tick();
    QVERIFY(r.w->unloaded());
    QVERIFY(r.settingsFileText().contains("Position             = 40000,Camera\r\n"));
}

void TestWindowFaults::tickInsideStopStartsNoJog_data() {
    QTest::addColumn<bool>("answering");
    QTest::newRow("controller answers") << true;
    QTest::newRow("controller silent") << false;
}

// STOP's command waits for its answer, and the poll timer can fire inside that wait (the
// real one does). A jog pressed just before STOP (Esc while the button is held), not yet
// sent by a tick, must not be sent by the tick that runs inside STOP.
void TestWindowFaults::tickInsideStopStartsNoJog() {
    QFETCH(bool, answering);
    WindowRig r;
    r.connectTo(1);
    r.tick(2);
    if (!answering)
        StartFault(r, Fault::GoSilent);
    r.clearFrames();
    bool fired = false;
    const ScopedPumpHook hook(r.rig->sim.platform, [&] {
        if (!fired && r.w->rateTimer->isArmed()) {
            fired = true;
            r.w->rateTimer->fire();
        }
    });
    QTest::mousePress(r.w->cmdFastRight, Qt::LeftButton);
    r.w->cmdStop->click();
    QVERIFY(fired);
    const QString stop = FrameHex(18, msg::MoveUp, 0, 1, 0);
    for (const QString& frame : r.frames()) {
        const bool rateCommand = frame.mid(9, 2) == QStringLiteral("24");
        QVERIFY2(!rateCommand || frame == stop, qPrintable(frame));
    }
    QCOMPARE(r.rig->sim.model.rate(), 0);
    QCOMPARE(r.rig->motion.ActiveJogRate, 0);
    QTest::mouseRelease(r.w->cmdFastRight, Qt::LeftButton);
    r.tick(3);
    QCOMPARE(r.rig->sim.model.rate(), 0);
}

namespace {

// An operator's act that lands inside a wait of an activity: STOP (or the calibration's
// Cancel), the poll timer firing, or a second click on a control of the running exchange.
enum class Nested {
    StepUp,
    StepDown,
    GotoButton,
    DoubleClick,
    JogStart,
    JogStop,
    FullCalibration,
    QuickCalibration,
    ReAlign,
    Limits,
    AutoStop,
    ResetInsideLimits,
    Test,
};

bool IsMotionRow(Nested a) {
    return a <= Nested::QuickCalibration;
}

bool IsCalibrationRow(Nested a) {
    return a == Nested::FullCalibration || a == Nested::QuickCalibration;
}

// Answers 25 ms after each frame, so that every command spends pumps waiting; gotos and
// rates fast and the travel short, so that each activity is a few dozen commands.
sim::SimConfig NestedController(Nested a) {
    sim::SimConfig c = ReadyController();
    c.replyDelayMs = 25;
    c.slewSpeed = 400000;
    c.approachSpeed = 400000;
    c.rateSpeeds = {0, 10, 25, 50, 100, 250, 500, 1000, 2000, 20000};
    if (IsCalibrationRow(a)) {
        c.lowerEndStop = -3000;
        c.upperEndStop = 5000;
        c.startPosition = 0;
        // A full calibration of 8000 steps stored: travel and real limits -4000 / +4000.
        c.registers = {1, 0x00, 0x1F, 0x40, 0xFF, 0xF0, 0x60, 0x00, 0x0F, 0xA0};
    } else {
        // Real limits a few 65536-step blocks out, so that Limits on sets active limits.
        c.registers = {1, 0x7F, 0x00, 0x00, 0xF1, 0x00, 0x00, 0x0F, 0x00, 0x00};
    }
    return c;
}

const QByteArray kNestedSettings = "[TARNIVEL]\r\n"
                                   "   ScaleFactor          = 1\r\n"
                                   "   ScaleUnits           = user\r\n"
                                   "   Decimals             = 0\r\n"
                                   "   Overshoot            = 3000\r\n"
                                   "\r\n"
                                   "[POSITIONS]\r\n"
                                   "   Position             = 90000,Below\r\n"
                                   "   Position             = 104000,Above\r\n";

// A frame that sets the motor going: a goto, an approach, or a rate other than 0.
bool IsMotionFrame(const QString& frame) {
    const QStringList bytes = frame.split(QLatin1Char(' '));
    const int id = bytes.value(3).toInt(nullptr, 16);
    const bool rate = id == msg::MoveUp || id == msg::MoveDown;
    return id == msg::GotoPosition || id == msg::ApproachPosition ||
           (rate && bytes.value(4) != QStringLiteral("00"));
}

struct NestedRun {
    int waits = 0; // waits seen while the activity ran
    bool acted = false;
    QStringList frames; // the activity's frames, from the operator's action on
    int actedAt = -1;   // frames before the act
    bool motorStill = false;
    bool controlsIdle = false;
    bool boxesMatch = true;
    QStringList messages;
    QString label;
};

// Runs activity `a` once, acting at the first pump of its `actAt`-th wait (0: never). A wait is
// one command waiting for its answer, or one pass of pumps between commands.
NestedRun RunNested(Nested a, int actAt) {
    NestedRun run;
    WindowRig r(NestedController(a), kNestedSettings);
    r.w->show();
    MotionState& m = r.rig->motion;
    sim::ControllerModel& model = r.rig->sim.model;
    FocuserLink& link = r.rig->sim.link;
    r.connectTo(1);
    r.tick(2);

    bool counting = false;
    qint64 episode = 0;
    std::function<void()> act;
    const auto frameCount = [&] { return int(model.frames().size()); };
    const ScopedPumpHook hook(r.rig->sim.platform, [&] {
        if (!counting)
            return;
        const qint64 key = link.Busy() ? frameCount() + 1 : -frameCount() - 1;
        if (key == episode)
            return;
        episode = key;
        if (++run.waits == actAt && act) {
            run.acted = true;
            run.actedAt = frameCount();
            act();
        }
    });
    const int start = frameCount();
    const auto idle = [&] {
        return m.GotoMode == GotoKind::None && !model.isMoving() && r.w->cmdIncrement->isEnabled();
    };
    const auto stop = [&] { r.w->cmdStop->click(); };

    switch (a) {
    case Nested::StepUp:
    case Nested::StepDown:
        act = stop;
        r.w->txtAdjust->setText(QStringLiteral("2000"));
        counting = true;
        QTest::mouseClick(a == Nested::StepUp ? r.w->cmdIncrement : r.w->cmdDecrement,
                          Qt::LeftButton);
        TickUntil(r, idle, 200);
        break;
    case Nested::GotoButton:
    case Nested::DoubleClick: {
        act = stop;
        QListView* list = r.w->fraPositions->lstPosition;
        const QRect row =
            list->visualRect(list->model()->index(a == Nested::GotoButton ? 0 : 1, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
        counting = true;
        if (a == Nested::GotoButton)
            QTest::mouseClick(r.w->fraPositions->cmdGoto, Qt::LeftButton);
        else
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
        TickUntil(r, idle, 200);
        break;
    }
    case Nested::JogStart:
    case Nested::JogStop:
        act = stop;
        counting = a == Nested::JogStart;
        QTest::mousePress(r.w->cmdFastRight, Qt::LeftButton);
        r.tick(3);
        counting = true;
        QTest::mouseRelease(r.w->cmdFastRight, Qt::LeftButton);
        TickUntil(r, idle, 20);
        break;
    case Nested::FullCalibration:
    case Nested::QuickCalibration: {
        const bool quick = a == Nested::QuickCalibration;
        r.rig->console.RunModal = [&](QDialog& dialog) {
            dialog.show();
            auto* cancel = Child<QPushButton>(&dialog, "cmdCancelCalibrate");
            auto* label = Child<QLabel>(&dialog, "lblCalibrate");
            act = [cancel] { cancel->click(); };
            int middleMark = -1;
            // Only the move to the middle: the blocking goto and the reads just before it.
            const ScopedPumpHook phase(r.rig->sim.platform, [&] {
                const bool middle = label->text().endsWith(kLabelMiddle);
                if (middle && middleMark < 0)
                    middleMark = frameCount();
                const bool rateRunOver =
                    quick ||
                    (middleMark >= 0 &&
                     r.frames().mid(middleMark).contains(FrameHex(18, msg::SetAutoStop, 1, 1, 0)));
                counting = middle && rateRunOver && cancel->isVisible();
            });
            Child<QPushButton>(&dialog, quick ? "cmdQuickCalibrate" : "cmdCalibrate")->click();
            counting = false;
            run.label = label->text();
            Child<QPushButton>(&dialog, "cmdCancel")->click();
        };
        r.w->cmdOptions->click();
        r.tick();
        TickUntil(r, idle, 20);
        break;
    }
    case Nested::ReAlign:
        act = [&] { r.w->rateTimer->fire(); };
        r.rig->console.RunModal = [&](QDialog& dialog) {
            Child<QAbstractButton>(&dialog, "optUseOld")->setChecked(true);
            counting = true;
            Child<QPushButton>(&dialog, "cmdReAlign")->click();
            counting = false;
        };
        r.rig->positions.SetListIndex(0);
        r.w->fraPositions->cmdEdit->click();
        break;
    case Nested::Limits:
    case Nested::AutoStop:
    case Nested::ResetInsideLimits:
    case Nested::Test:
        r.rig->console.RunModal = [&](QDialog& dialog) {
            dialog.show();
            auto* limits = Child<QAbstractButton>(&dialog, "chkLimits");
            auto* autoStop = Child<QAbstractButton>(&dialog, "chkAutoStop");
            QAbstractButton* control = a == Nested::AutoStop ? autoStop
                                       : a == Nested::Test
                                           ? Child<QAbstractButton>(&dialog, "cmdShowStates")
                                           : limits;
            QAbstractButton* second = a == Nested::ResetInsideLimits
                                          ? Child<QAbstractButton>(&dialog, "cmdReset")
                                          : control;
            act = [second] { QTest::mouseClick(second, Qt::LeftButton); };
            counting = true;
            QTest::mouseClick(control, Qt::LeftButton);
            counting = false;
            run.boxesMatch =
                autoStop->isChecked() == model.autoStop() &&
                limits->isChecked() == (model.limitMinByte() != 0 || model.limitMaxByte() != 0);
            Child<QPushButton>(&dialog, "cmdCancel")->click();
        };
        r.w->cmdOptions->click();
        r.tick();
        break;
    }
    counting = false;
    // The tick after a stop puts the controls back.
    r.tick(2);
    run.frames = r.frames().mid(start);
    if (run.actedAt >= 0)
        run.actedAt -= start;
    run.motorStill = !model.isMoving();
    run.controlsIdle = idle() && r.w->cmdSlowLeft->isEnabled() && r.w->fraPositions->isEnabled() &&
                       m.MotionDirection == 0 && m.JogRate == 0 && m.ActiveJogRate == 0;
    run.messages = r.rig->messages.texts();
    return run;
}

} // namespace

void TestWindowFaults::actInsideEveryWait_data() {
    QTest::addColumn<int>("activity");
    QTest::newRow("step up: STOP") << int(Nested::StepUp);
    QTest::newRow("step down, two stages: STOP") << int(Nested::StepDown);
    QTest::newRow("Goto, two stages: STOP") << int(Nested::GotoButton);
    QTest::newRow("double-click: STOP") << int(Nested::DoubleClick);
    QTest::newRow("jog start: STOP") << int(Nested::JogStart);
    QTest::newRow("jog stop: STOP") << int(Nested::JogStop);
    QTest::newRow("full calibration, to the middle: Cancel") << int(Nested::FullCalibration);
    QTest::newRow("quick calibration, to the middle: Cancel") << int(Nested::QuickCalibration);
    QTest::newRow("ReAlign: poll tick") << int(Nested::ReAlign);
    QTest::newRow("Limits: Limits again") << int(Nested::Limits);
    QTest::newRow("Auto Stop: Auto Stop again") << int(Nested::AutoStop);
    QTest::newRow("Limits: Reset") << int(Nested::ResetInsideLimits);
    QTest::newRow("Test: Test again") << int(Nested::Test);
}

// Whatever an activity is waiting for, an act that lands inside the wait is handled so that
// nothing the activity started moves the focuser after a stop, no other frame goes between a
// command and its answer, and the window ends showing the controller's state.
void TestWindowFaults::actInsideEveryWait() {
    QFETCH(int, activity);
    const auto a = static_cast<Nested>(activity);
    const NestedRun plain = RunNested(a, 0);
    QVERIFY(plain.waits > 0);
    QVERIFY(plain.motorStill);
    QVERIFY(plain.controlsIdle);
    QVERIFY(plain.boxesMatch);
    if (IsCalibrationRow(a))
        QCOMPARE(plain.label, kLabelComplete);
    const QString stopFrame = FrameHex(18, msg::MoveUp, 0, 1, 0);

    for (int n = 1; n <= plain.waits; ++n) {
        const NestedRun run = RunNested(a, n);
        const QByteArray where =
            QByteArray("act in wait ") + QByteArray::number(n) + " of " +
            QByteArray::number(plain.waits) + ": " +
            run.frames.mid(qMax(0, run.actedAt - 2)).join(QLatin1Char('|')).toLatin1();
        QVERIFY2(run.acted, where.constData());
        QVERIFY2(run.motorStill, where.constData());
        QVERIFY2(run.controlsIdle, where.constData());
        QVERIFY2(run.boxesMatch, where.constData());
        if (IsMotionRow(a)) {
            const int stopAt = run.frames.indexOf(stopFrame, run.actedAt);
            QVERIFY2(stopAt >= 0, where.constData());
            for (const QString& f : run.frames.mid(stopAt + 1))
                QVERIFY2(!IsMotionFrame(f), where.constData());
            if (IsCalibrationRow(a))
                QVERIFY2(run.label.startsWith(QStringLiteral("Cancelled!")) ||
                             run.label == kLabelComplete,
                         where.constData());
        } else {
            // The act added no frame of its own and took no answer away.
            QVERIFY2(run.frames == plain.frames, where.constData());
            QVERIFY2(run.messages == plain.messages, where.constData());
        }
    }
}

QTEST_MAIN(TestWindowFaults)
#include "tst_windowfaults.moc"
