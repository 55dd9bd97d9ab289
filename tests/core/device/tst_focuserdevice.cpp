// The device core as the served front ends drive it: its verbs on a virtual event loop against
// the simulated controller, and the rules every front end shares.
#include "core/device/focuserdevice.h"
#include "frames.h"
#include "recorders.h"
#include "simrig.h"
#include "virtualscheduler.h"

#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

const QString kLimitMaxPrefix = QStringLiteral("50 02 12 1B");

// Travel 8000 centred on 0: MaxTravel 0x001F40, real limits -4000 (0xFFF060) and +4000.
sim::SimConfig Controller(bool calibrated) {
    sim::SimConfig c;
    c.lowerEndStop = -4000;
    c.upperEndStop = 4000;
    c.approachSpeed = 8000;
    c.slewSpeed = 8000;
    c.autoStop = true;
    if (calibrated)
        c.registers = {1, 0x00, 0x1F, 0x40, 0xFF, 0xF0, 0x60, 0x00, 0x0F, 0xA0};
    return c;
}

struct Messages final : DeviceObserver {
    QStringList texts;
    void Message(const QString& text, bool) override { texts << text; }
};

struct DeviceRig {
    explicit DeviceRig(const sim::SimConfig& config)
        : sim(config), scheduler(sim.platform), device(sim.commands, sound, &scheduler) {
        device.AddObserver(&messages);
        device.settings().Overshoot = 1000;
        sim.connect();
    }
    bool ConnectAndWait() {
        return device.Connect().ok() &&
               scheduler.RunUntil([this] { return device.State().ready(); }, 5000);
    }
    bool Idle() { return !device.State().moving() && !sim.model.isMoving(); }

    SimRig sim;
    VirtualScheduler scheduler;
    RecordingSoundPlayer sound;
    FocuserDevice device;
    Messages messages;
};

using Verb = std::function<Outcome(FocuserDevice&)>;

// The console's window as the host of its Alpaca clients.
struct Host final : DeviceHost {
    QString refusal;
    int movesStarted = 0;
    int stops = 0;
    QString GuestRefusal() const override { return refusal; }
    void GuestMoveStarted() override { ++movesStarted; }
    void GuestStop() override { ++stops; }
};

} // namespace

Q_DECLARE_METATYPE(Verb)
Q_DECLARE_METATYPE(TemperatureReadings)

class TestFocuserDevice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scaleFromTheController_data();
    void scaleFromTheController();
    void shiftCounter_data();
    void shiftCounter();
    void sync_data();
    void sync();
    void statusCycle_data();
    void statusCycle();
    void manualFanDuringAChore();
    void timedMoveThenGoto();
    void gotoStoppedShort();
    void gotoStagesFollowTheirAnswers_data();
    void gotoStagesFollowTheirAnswers();
    void stopBeforeTheLimitsSwitchEnds();
    void lostPortEndsTheGoto();
    void abortBeforeTheNextCommand_data();
    void abortBeforeTheNextCommand();
    void silentControllerGivesTheGotoUp();
    void gotoAskedWhileConnecting();
    void moveWhileMovingAndHaltReadFirst();
    void calibrationAskedDuringAChore();
    void legGivenUpForARequestIsSentAgain();
    void compensationSwitchedOnWhileConnecting();
    void compensationWaitsForAPendingCalibration();
    void calibrationMovesTheFocusPoints();
    void fanRule_data();
    void fanRule();
    void guestVerbs_data();
    void guestVerbs();
    void statusBetweenBackToBackMoves_data();
    void statusBetweenBackToBackMoves();
    void statusInsideALongMove();
};

void TestFocuserDevice::scaleFromTheController_data() {
    QTest::addColumn<bool>("calibrated");
    QTest::addColumn<int>("failedReads"); // ReadMemory answers lost or late at connect
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("knownAtConnect");
    QTest::addColumn<uint>("maxAfterRetry");
    QTest::addColumn<uint>("positionAfterRetry");
    QTest::addColumn<int>("limitBytes"); // lower << 8 | upper, held by the controller

    const int lost = int(sim::Fault::NoAnswer);
    const int late = int(sim::Fault::SlowAnswer);
    QTest::newRow("calibrated") << true << 0 << lost << true << 8000u << 4000u << 0;
    QTest::newRow("uncalibrated: the whole counter")
        << false << 0 << lost << true << 16777215u << 8388607u << 0;
    // -65536 .. +131072: what the controller lets the focuser reach.
    QTest::newRow("uncalibrated, both active limits: counted from the lower one")
        << false << 0 << lost << true << 196608u << 65536u << 0xFF02;
    QTest::newRow("uncalibrated, one side without a limit: the whole counter")
        << false << 0 << lost << true << 16777215u << 8388607u << 0xFF00;
    // Both tries of one register byte lost: the scale waits for a read that succeeds.
    QTest::newRow("failed read kept back, then read again")
        << true << 2 << lost << false << 8000u << 4000u << 0;
    // Each late answer lands while the line is left to go quiet: no byte shifts.
    QTest::newRow("a late answer never shifts a register")
        << true << 1 << late << true << 8000u << 4000u << 0;
}

void TestFocuserDevice::scaleFromTheController() {
    QFETCH(bool, calibrated);
    QFETCH(int, failedReads);
    QFETCH(int, fault);
    QFETCH(bool, knownAtConnect);
    QFETCH(uint, maxAfterRetry);
    QFETCH(uint, positionAfterRetry);
    QFETCH(int, limitBytes);
    sim::SimConfig controller = Controller(calibrated);
    controller.limitMinByte = limitBytes >> 8;
    controller.limitMaxByte = limitBytes & 0xFF;
    DeviceRig r(controller);
    if (failedReads > 0)
        r.sim.model.injectFault(
            sim::FaultRule{48, static_cast<sim::Fault>(fault), failedReads, -1});
    QVERIFY(r.device.Connect().ok());
    QVERIFY(r.scheduler.RunUntil([&] { return r.device.State().ready(); }, 5000));
    QCOMPARE(r.device.State().scaleKnown, knownAtConnect);
    // A client position means nothing until the scale is read.
    QCOMPARE(r.device.MoveTo(positionAfterRetry).ok(), knownAtConnect);
    QCOMPARE(r.messages.texts.contains(QStringLiteral(
                 "The calibration could not be read; the position scale is kept and read again.")),
             !knownAtConnect);
    r.scheduler.RunFor(3000);
    QVERIFY(r.device.State().scaleKnown);
    QCOMPARE(r.device.State().clientMax, maxAfterRetry);
    QCOMPARE(r.device.State().clientPosition, positionAfterRetry);
}

void TestFocuserDevice::shiftCounter_data() {
    QTest::addColumn<int>("faultId"); // both attempts of this message are hit; 0 none
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QByteArray>("realLimits"); // registers 0x44..0x49 afterwards
    QTest::addColumn<quint32>("counter");

    const int lost = int(sim::Fault::NoAnswer);
    // Reset at +1500: the limits -4000/+4000 become -5500 (0xFFEA84) and +2500 (0x0009C4).
    QTest::newRow("reset moves the stored limits with the counter")
        << 0 << lost << QString() << QByteArray::fromHex("FFEA840009C4") << 0u;
    QTest::newRow("unreadable limits: nothing changes")
        << 48 << lost << "The focuser did not answer; the position was not reset."
        << QByteArray::fromHex("FFF060000FA0") << 1500u;
    QTest::newRow("counter loaded, its answer lost: the limits follow")
        << 4 << lost << QString() << QByteArray::fromHex("FFEA840009C4") << 0u;
    QTest::newRow("counter not loaded: the limits stay")
        << 4 << int(sim::Fault::GoSilent)
        << "Reset failed: the controller did not confirm the new position; the stored limits "
           "were not moved"
        << QByteArray::fromHex("FFF060000FA0") << 1500u;
}

void TestFocuserDevice::shiftCounter() {
    QFETCH(int, faultId);
    QFETCH(int, fault);
    QFETCH(QString, reason);
    QFETCH(QByteArray, realLimits);
    QFETCH(quint32, counter);
    SimRig sim(Controller(true));
    RecordingSoundPlayer sound;
    FocuserDevice device(sim.commands, sound);
    sim.connect();
    sim.model.setPosition(1500);
    device.ReadPosition();
    sim.model.injectFault(faultId, sim::Fault(fault), 2);
    const Outcome o = device.ShiftCounter(0, true);
    QCOMPARE(o.reason, reason);
    QByteArray registers;
    for (int reg = 0x44; reg <= 0x49; ++reg)
        registers.append(static_cast<char>(sim.model.memory(reg)));
    QCOMPARE(registers.toHex(), realLimits.toHex());
    QCOMPARE(sim.model.position(), counter);
}

void TestFocuserDevice::sync_data() {
    QTest::addColumn<bool>("calibrated");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("frame"); // SetPosition sent, "" for none

    QTest::newRow("refused while the end stops define the scale") << true << false << QString();
    // Client 8389607 is counter 1000 on the uncalibrated scale.
    QTest::newRow("uncalibrated: the counter is set")
        << false << true << QStringLiteral("50 04 12 04 00 03 E8 00");
}

void TestFocuserDevice::sync() {
    QFETCH(bool, calibrated);
    QFETCH(bool, accepted);
    QFETCH(QString, frame);
    DeviceRig r(Controller(calibrated));
    QVERIFY(r.ConnectAndWait());
    r.sim.clearFrames();
    const Outcome o = r.device.Sync(8389607);
    QCOMPARE(o.ok(), accepted);
    const QStringList sets = r.sim.framesHex().filter(QStringLiteral("50 04 12 04"));
    QCOMPARE(sets, frame.isEmpty() ? QStringList() : QStringList{frame});
}

void TestFocuserDevice::statusCycle_data() {
    QTest::addColumn<int>("mode"); // SetFanMode: 0 Off, 1 On, 2..4 rules 1..3
    QTest::addColumn<double>("sensor1");
    QTest::addColumn<bool>("fanWasOn");
    QTest::addColumn<QStringList>("fanFrames");
    QTest::addColumn<bool>("fanOn");
    QTest::addColumn<int>("lostReads"); // GetTemperature answers lost after the connect
    QTest::addColumn<int>("runMs");

    // SensorLimit1 is 20 in the rows below.
    QTest::newRow("rule 1 above its limit starts the fan")
        << 2 << 25.0 << false << QStringList{kFanOnFrame} << true << 0 << 2000;
    QTest::newRow("rule 1 above its limit, fan running: nothing sent")
        << 2 << 25.0 << true << QStringList() << true << 0 << 2000;
    QTest::newRow("rule 1 below its limit stops the fan")
        << 2 << 15.0 << true << QStringList{kFanOffFrame} << false << 0 << 2000;
    // Rule 3 needs sensor 3, which is not fitted: the fan is sent off each time.
    QTest::newRow("a rule's missing sensor rests the fan")
        << 4 << 25.0 << false << QStringList{kFanOffFrame} << false << 0 << 2000;
    QTest::newRow("manual on") << 1 << 25.0 << false << QStringList{kFanOnFrame} << true << 0
                               << 2000;
    // Sensor 1's read fails: the reading from the connect stays, stale.
    QTest::newRow("a failed read keeps the last reading")
        << 0 << 25.0 << false << QStringList{kFanOffFrame} << false << 2 << 2500;
}

void TestFocuserDevice::statusCycle() {
    QFETCH(int, mode);
    QFETCH(double, sensor1);
    QFETCH(bool, fanWasOn);
    QFETCH(QStringList, fanFrames);
    QFETCH(bool, fanOn);
    QFETCH(int, lostReads);
    QFETCH(int, runMs);
    DeviceRig r(Controller(true));
    r.sim.model.setTemperature(1, sensor1);
    QVERIFY(r.ConnectAndWait());
    r.sim.model.injectFault(sim::FaultRule{38, sim::Fault::NoAnswer, lostReads, -1});
    r.device.SetFanLimits(20, 5, 5);
    r.sim.model.setFanOn(fanWasOn);
    r.sim.clearFrames();
    QVERIFY(r.device.SetFanMode(mode).ok());
    r.scheduler.RunFor(runMs);
    QCOMPARE(r.sim.framesHex().filter(QStringLiteral("50 02 13 27")), fanFrames);
    QCOMPARE(r.device.State().fanOn, fanOn);
    QCOMPARE(*r.device.State().celsius[0], sensor1);
    QCOMPARE(r.device.State().sensorFailed[0], lostReads > 0);
    QVERIFY(!r.device.State().celsius[2]);
}

void TestFocuserDevice::manualFanDuringAChore() {
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    r.sim.clearFrames();
    QCOMPARE(r.device.SetActiveLimits(true).result, Outcome::Started);
    QVERIFY(r.device.SetFanMode(1).ok());
    r.scheduler.RunFor(2000);
    QCOMPARE(r.sim.framesHex().filter(QStringLiteral("50 02 13 27")), QStringList{kFanOnFrame});
    QVERIFY(r.sim.model.fanOn());
}

void TestFocuserDevice::timedMoveThenGoto() {
    // A goto asked for during a timed move ends the move; the move's timer must not end the
    // goto when it runs out.
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    QVERIFY(r.device.Jog(+1, true, 300).ok());
    r.scheduler.RunFor(100);
    QVERIFY(r.device.MoveTo(6000).ok());
    QVERIFY(r.scheduler.RunUntil([&] { return r.Idle(); }, 10000));
    QVERIFY(r.device.State().lastGoto);
    QVERIFY(!r.device.State().lastGoto->stopped);
    QCOMPARE(r.sim.model.position(), 2000u); // client 6000
}

void TestFocuserDevice::gotoStoppedShort() {
    // The upper end stop sits 1000 steps below where the stored calibration puts it.
    sim::SimConfig config = Controller(true);
    config.upperEndStop = 3000;
    DeviceRig r(config);
    QVERIFY(r.ConnectAndWait());
    QVERIFY(r.device.MoveTo(8000).ok());
    QVERIFY(r.scheduler.RunUntil([&] { return r.Idle() && r.device.State().lastGoto; }, 10000));
    const GotoEnd end = *r.device.State().lastGoto;
    QCOMPARE(end.target, 4000);
    QCOMPARE(end.reached, 3000);
    QVERIFY(end.shortText.startsWith(QStringLiteral("Goto stopped short at ")));
    QVERIFY(r.messages.texts.contains(end.shortText));
}

void TestFocuserDevice::gotoStagesFollowTheirAnswers_data() {
    QTest::addColumn<uint>("target");
    QTest::addColumn<QString>("frames"); // message id @ ms after the request, every frame

    // 132 ms a position read (01), 99 a leg (17), 110 a slew-done query (13); the legs take 375
    // and 125 ms. The fan limits change 200 ms in, so a status cycle (26, 28) falls due then;
    // it runs from the first poll tick after the goto, 250 ms on.
    QTest::newRow("two moves: each stage right after the last answer, the status cycle after")
        << 6000u
        << QStringLiteral("01@99 17@231 13@330 01@440 13@572 01@682 13@814 01@924 01@1056 17@1188 "
                          "13@1287 01@1397 13@1529 01@1639 01@1771 26@2153 26@2274 26@2395 "
                          "28@2516");
}

void TestFocuserDevice::gotoStagesFollowTheirAnswers() {
    QFETCH(uint, target);
    QFETCH(QString, frames);
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    r.sim.clearFrames();
    const qint64 start = r.sim.platform.nowMs();
    QStringList timed;
    r.sim.platform.onPump([&] {
        for (const QString& f : r.sim.framesHex().mid(timed.size()))
            timed << QStringLiteral("%1@%2").arg(f.mid(9, 2)).arg(r.sim.platform.nowMs() - start);
    });
    QVERIFY(r.device.MoveTo(target).ok());
    r.scheduler.RunFor(200);
    r.device.SetFanLimits(20, 5, 5);
    QVERIFY(r.scheduler.RunUntil([&] { return r.Idle(); }, 5000));
    r.scheduler.RunFor(700);
    QCOMPARE(timed.join(QLatin1Char(' ')), frames);
}

void TestFocuserDevice::stopBeforeTheLimitsSwitchEnds() {
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    r.sim.clearFrames();
    QCOMPARE(r.device.SetActiveLimits(true).result, Outcome::Started);
    r.device.Stop();
    r.scheduler.RunFor(2000);
    const QStringList frames = r.sim.framesHex();
    QVERIFY(frames.contains(kStopFrame));
    QVERIFY(frames.indexOf(kStopFrame) <
            frames.indexOf(QRegularExpression(kLimitMaxPrefix + ".*")));
}

void TestFocuserDevice::lostPortEndsTheGoto() {
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    QVERIFY(r.device.MoveTo(7000).ok());
    r.scheduler.RunFor(150);
    r.sim.model.injectFault(sim::FaultRule{-1, sim::Fault::PortVanish, 1, -1});
    QVERIFY(r.scheduler.RunUntil([&] { return r.device.State().lost(); }, 5000));
    // Told of the loss rather than shown a focuser never connected.
    QVERIFY(r.device.State().connected() && r.device.State().ready());
    QVERIFY(!r.device.State().gotoRunning);
    QVERIFY(r.device.State().lastGoto && r.device.State().lastGoto->stopped);
    QVERIFY(r.messages.texts.contains(QStringLiteral("Focuser connection lost")));
    QVERIFY(!r.device.MoveTo(1000).ok());
}

void TestFocuserDevice::abortBeforeTheNextCommand_data() {
    QTest::addColumn<Verb>("start");
    QTest::addColumn<QString>("onTheWire"); // the abort comes while this frame waits
    QTest::addColumn<int>("silentId");      // a message whose first answer is lost, -1 none

    const Verb twoLegGoto = [](FocuserDevice& d) { return d.MoveTo(6000); };
    const Verb limitsOn = [](FocuserDevice& d) { return d.SetActiveLimits(true); };
    QTest::newRow("a leg on the wire: the stop next") << twoLegGoto << "50 04 12 17" << -1;
    QTest::newRow("the read before a leg: the leg held back") << twoLegGoto << "50 01 12 01" << -1;
    QTest::newRow("the limits switch's first read") << limitsOn << "50 02 12 30" << -1;
    QTest::newRow("the quick calibration's check")
        << Verb([](FocuserDevice& d) { return d.Calibrate(false); }) << "50 02 12 30" << -1;
    QTest::newRow("a silent controller: no second attempt") << limitsOn << "50 02 12 30" << 48;
}

void TestFocuserDevice::abortBeforeTheNextCommand() {
    QFETCH(Verb, start);
    QFETCH(QString, onTheWire);
    QFETCH(int, silentId);
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    r.sim.clearFrames();
    r.sim.model.injectFault(sim::FaultRule{silentId, sim::Fault::NoAnswer, silentId < 0 ? 0 : 1});
    bool sent = false;
    r.sim.platform.onPump([&] {
        if (!sent && r.sim.framesHex().value(r.sim.framesHex().size() - 1).startsWith(onTheWire)) {
            sent = true;
            r.scheduler.Post([&] { r.device.Stop(); });
        }
    });
    QVERIFY(start(r.device).ok());
    r.scheduler.RunFor(3000);
    const QStringList frames = r.sim.framesHex();
    const qsizetype at = frames.indexOf(QRegularExpression(onTheWire + ".*"));
    QVERIFY(sent);
    QCOMPARE(frames.value(at + 1), kStopFrame);
    // Nothing that was running moves the focuser afterwards.
    QCOMPARE(frames.mid(at + 2).filter(QRegularExpression("^50 0. 12 (02|17|25|24 (?!00))")),
             QStringList());
}

void TestFocuserDevice::silentControllerGivesTheGotoUp() {
    // Unanswered reads keep the goto running; ten seconds of them give it up with a stop.
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    QVERIFY(r.device.MoveTo(1000).ok());
    r.scheduler.RunFor(200);
    r.sim.model.injectFault(sim::FaultRule{-1, sim::Fault::NoAnswer, 1000});
    r.scheduler.RunFor(8000);
    QVERIFY(r.device.State().gotoRunning);
    QVERIFY(r.scheduler.RunUntil([&] { return !r.device.State().gotoRunning; }, 5000));
    QCOMPARE(r.device.State().lastGoto->failure,
             QStringLiteral("Focuser not responding for 10 seconds: the move was given up and a "
                            "stop sent."));
    QVERIFY(r.sim.framesHex().contains(kStopFrame));
    QVERIFY(r.device.State().silent());
    QVERIFY(!r.device.State().answering());
}

void TestFocuserDevice::gotoAskedWhileConnecting() {
    DeviceRig r(Controller(true));
    QVERIFY(r.device.Connect().ok());
    QCOMPARE(r.device.MoveTo(6000).result, Outcome::Started);
    QVERIFY(r.device.State().gotoRunning);
    QVERIFY(r.scheduler.RunUntil([&] { return r.device.State().ready() && r.Idle(); }, 10000));
    QCOMPARE(r.sim.model.position(), 2000u); // client 6000
}

void TestFocuserDevice::moveWhileMovingAndHaltReadFirst() {
    // Down towards client 1000, then up to 6000: past it by the overshoot and back down.
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    QVERIFY(r.device.MoveTo(1000).ok());
    r.scheduler.RunFor(150);
    r.sim.clearFrames();
    QVERIFY(r.device.MoveTo(6000).ok());
    QCOMPARE(r.sim.framesHex(),
             (QStringList{kStopFrame, QStringLiteral("50 01 12 01 00 00 00 03")}));
    QVERIFY(r.scheduler.RunUntil([&] { return r.Idle(); }, 10000));
    QCOMPARE(r.sim.framesHex().filter(QStringLiteral("50 04 12 17")),
             (QStringList{QStringLiteral("50 04 12 17 00 0B B8 00"),
                          QStringLiteral("50 04 12 17 00 07 D0 00")}));
    // After a halt the motion ends with the position read after the stop, not with a read
    // that went unanswered.
    QVERIFY(r.device.MoveTo(1000).ok());
    r.scheduler.RunFor(150);
    r.sim.model.injectFault(sim::FaultRule{1, sim::Fault::NoAnswer, 2});
    r.sim.clearFrames();
    QVERIFY(r.device.Stop().ok() && r.device.State().moving());
    QVERIFY(r.scheduler.RunUntil([&] { return r.sim.framesHex().size() == 3; }, 3000));
    QCOMPARE(r.sim.framesHex().mid(1), QStringList(2, QStringLiteral("50 01 12 01 00 00 00 03")));
    QVERIFY(r.device.State().moving());
    QVERIFY(r.scheduler.RunUntil([&] { return !r.device.State().moving(); }, 1000));
    QCOMPARE(quint32(r.device.State().position), r.sim.model.position());
}

void TestFocuserDevice::calibrationAskedDuringAChore() {
    // Asked while the limits switch runs, it starts once the switch has ended.
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    QCOMPARE(r.device.SetActiveLimits(true).result, Outcome::Started);
    QCOMPARE(r.device.Calibrate(false).result, Outcome::Started);
    QVERIFY(r.device.State().calibrating);
    QVERIFY(r.scheduler.RunUntil([&] { return r.device.State().calibrationOk; }, 60000));
}

void TestFocuserDevice::legGivenUpForARequestIsSentAgain() {
    // The controller misses the leg's frame while a request (not an abort) waits: the link
    // tries no second time, so the stage sends the leg again once the request has run.
    DeviceRig r(Controller(true));
    QVERIFY(r.ConnectAndWait());
    r.sim.model.injectFault(sim::FaultRule{23, sim::Fault::GoSilent, 1});
    bool sent = false;
    r.sim.platform.onPump([&] {
        if (!sent && r.sim.model.silent()) {
            sent = true;
            r.scheduler.Post([&] { r.sim.model.setSilent(false); });
        }
    });
    QVERIFY(r.device.MoveTo(2000).ok());
    QVERIFY(r.scheduler.RunUntil([&] { return r.Idle() && r.device.State().lastGoto; }, 10000));
    QCOMPARE(r.device.State().lastGoto->shortText, QString());
    QCOMPARE(r.sim.model.position(), 16775216u); // client 2000
}

void TestFocuserDevice::compensationSwitchedOnWhileConnecting() {
    // The reference is the position and temperature once the controller has been read, not
    // the 0 of a device still connecting.
    sim::SimConfig config = Controller(true);
    config.startPosition = 1500;
    DeviceRig r(config);
    r.device.settings().TempCompCoefficient = -80;
    r.device.settings().TempCompAverage = 0;
    QVERIFY(r.device.Connect().ok());
    QVERIFY(r.device.SetTempComp(true).ok());
    QCOMPARE(r.device.State().tempCompStatus,
             QStringLiteral("Temp comp waits: reading the controller"));
    QVERIFY(r.scheduler.RunUntil([&] { return r.device.State().ready(); }, 5000));
    r.scheduler.RunUntil([] { return false; }, 8000); // a status cycle at 18.0 °C
    r.sim.model.setTemperature(1, 17.5);
    QVERIFY(r.scheduler.RunUntil([&] { return r.device.State().tempCompMoves == 1 && r.Idle(); },
                                 20000));
    QCOMPARE(r.sim.model.position(), 1540u);
}

void TestFocuserDevice::compensationWaitsForAPendingCalibration() {
    DeviceRig r(Controller(true));
    r.device.settings().TempCompCoefficient = -80;
    QVERIFY(r.ConnectAndWait());
    QVERIFY(r.device.SetTempComp(true).ok());
    QCOMPARE(r.device.SetActiveLimits(true).result, Outcome::Started);
    QCOMPARE(r.device.Calibrate(false).result, Outcome::Started);
    QCOMPARE(r.device.TempCompTarget(), std::optional<int>());
    QCOMPARE(r.device.State().tempCompStatus,
             QStringLiteral("Temp comp waits: calibration running"));
}

void TestFocuserDevice::calibrationMovesTheFocusPoints() {
    // The middle of the travel is 2000 as the counter reads at power-on: it reads 0 after.
    sim::SimConfig config = Controller(false);
    config.lowerEndStop = -2000;
    config.upperEndStop = 6000;
    config.startPosition = 1000;
    DeviceRig r(config);
    r.device.settings().FocusPoints = {{12.0, 1000, QDateTime()}};
    QVERIFY(r.ConnectAndWait());
    QCOMPARE(r.device.Calibrate(true).result, Outcome::Started);
    QVERIFY(r.scheduler.RunUntil([&] { return r.device.State().calibrationOk; }, 120000));
    QCOMPARE(r.device.settings().FocusPoints[0].Position, -1000);
    QVERIFY(!r.device.settings().FocusPoints[0].BeforeCalibration);
    // 8000 steps hold no 65536-step limit block: both limit bytes are 0, nothing is enforced.
    QVERIFY(!r.device.State().limitsOn);
}

void TestFocuserDevice::fanRule_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("degrees"); // 0 Celsius, 1 Fahrenheit
    QTest::addColumn<TemperatureReadings>("celsius");
    QTest::addColumn<double>("limit"); // the mode's own, in the chosen degrees
    QTest::addColumn<int>("running");  // what the controller said of the fan
    QTest::addColumn<int>("verdict");
    QTest::addColumn<bool>("commandDue");

    const int run = int(FanVerdict::Run);
    const int rest = int(FanVerdict::Rest);
    const int missing = int(FanVerdict::SensorMissing);
    const TemperatureReading none;
    // Mode 1: reading 1 against SensorLimit1.
    QTest::newRow("1 above, fan off")
        << 1 << 0 << TemperatureReadings{40.5, 12.5, none} << 40.0 << 0 << run << true;
    QTest::newRow("1 above, fan running")
        << 1 << 0 << TemperatureReadings{40.5, 12.5, none} << 40.0 << 1 << run << false;
    QTest::newRow("1 equal, fan running")
        << 1 << 0 << TemperatureReadings{40.0, 12.5, none} << 40.0 << 1 << rest << true;
    QTest::newRow("1 equal, fan off")
        << 1 << 0 << TemperatureReadings{40.0, 12.5, none} << 40.0 << 0 << rest << false;
    QTest::newRow("1 below, fan running")
        << 1 << 0 << TemperatureReadings{39.5, 12.5, none} << 40.0 << 1 << rest << true;
    QTest::newRow("1 sensor 1 missing, fan off: sent off all the same")
        << 1 << 0 << TemperatureReadings{none, 12.5, 9.0} << 40.0 << 0 << missing << true;
    QTest::newRow("1 fahrenheit") << 1 << 1 << TemperatureReadings{40.5, 12.5, none} << 100.0 << 0
                                  << run << true;
    // Mode 2: reading 1 - reading 2 against SensorLimit2.
    QTest::newRow("2 above") << 2 << 0 << TemperatureReadings{15.625, 12.5, none} << 3.0 << 0 << run
                             << true;
    QTest::newRow("2 equal") << 2 << 0 << TemperatureReadings{15.5, 12.5, none} << 3.0 << 1 << rest
                             << true;
    QTest::newRow("2 below") << 2 << 0 << TemperatureReadings{15.0, 12.5, none} << 3.0 << 0 << rest
                             << false;
    QTest::newRow("2 sensor 2 missing")
        << 2 << 0 << TemperatureReadings{40.0, none, 9.0} << 3.0 << 0 << missing << true;
    QTest::newRow("2 sensor 1 missing")
        << 2 << 0 << TemperatureReadings{none, 12.5, 9.0} << 3.0 << 1 << missing << true;
    // 3.0 degrees Celsius apart are 5.4 degrees Fahrenheit apart.
    QTest::newRow("2 fahrenheit difference above")
        << 2 << 1 << TemperatureReadings{15.5, 12.5, none} << 5.0 << 0 << run << true;
    QTest::newRow("2 fahrenheit difference below")
        << 2 << 1 << TemperatureReadings{15.5, 12.5, none} << 5.5 << 1 << rest << true;
    // Mode 3: reading 1 - reading 3 against SensorLimit3.
    QTest::newRow("3 above") << 3 << 0 << TemperatureReadings{13.625, 12.5, 10.5} << 3.0 << 0 << run
                             << true;
    QTest::newRow("3 equal") << 3 << 0 << TemperatureReadings{13.5, 12.5, 10.5} << 3.0 << 1 << rest
                             << true;
    QTest::newRow("3 below") << 3 << 0 << TemperatureReadings{13.0, 12.5, 10.5} << 3.0 << 1 << rest
                             << true;
    QTest::newRow("3 sensor 3 missing")
        << 3 << 0 << TemperatureReadings{40.0, 12.5, none} << 3.0 << 0 << missing << true;
    QTest::newRow("3 ignores sensor 2")
        << 3 << 0 << TemperatureReadings{14.0, none, 10.5} << 3.0 << 0 << run << true;
    QTest::newRow("manual: the operator decides") << 0 << 0 << TemperatureReadings{90.0, 12.5, 10.5}
                                                  << 3.0 << 0 << int(FanVerdict::Manual) << false;
}

void TestFocuserDevice::fanRule() {
    QFETCH(int, mode);
    QFETCH(int, degrees);
    QFETCH(TemperatureReadings, celsius);
    QFETCH(double, limit);
    QFETCH(int, running);
    QFETCH(int, verdict);
    QFETCH(bool, commandDue);
    FocuserSettings settings;
    // Only the mode's own limit may matter.
    settings.SensorLimit1 = settings.SensorLimit2 = settings.SensorLimit3 = -1000;
    (mode == 1   ? settings.SensorLimit1
     : mode == 2 ? settings.SensorLimit2
                 : settings.SensorLimit3) = limit;
    const FanVerdict decided = DecideFan(mode, celsius, degrees, settings);
    QCOMPARE(int(decided), verdict);
    QCOMPARE(FanCommandDue(decided, running), commandDue);
}

// The console's guests check the same rules and move on the console's own engine.
void TestFocuserDevice::guestVerbs_data() {
    QTest::addColumn<bool>("connected"); // the console connected in place
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<Verb>("verb");
    QTest::addColumn<QString>("reason"); // "" for a verb obeyed
    QTest::addColumn<int>("movesStarted");
    QTest::addColumn<int>("stops");
    const Verb move = [](FocuserDevice& d) { return d.MoveTo(6000); };
    const QString options = QStringLiteral("The console's Options dialog is open.");
    QTest::newRow("connect while the console is not connected")
        << false << QString() << Verb([](FocuserDevice& d) { return d.Connect(); })
        << QStringLiteral(
               "The console is not connected to the focuser: press Connect in Tarnivel first.")
        << 0 << 0;
    QTest::newRow("move while the console is not connected")
        << false << QString() << move
        << QStringLiteral(
               "The console is not connected to the focuser: press Connect in Tarnivel first.")
        << 0 << 0;
    QTest::newRow("move starts on the console's engine")
        << true << QString() << move << QString() << 1 << 0;
    QTest::newRow("move refused with the console's reason")
        << true << options << move << options << 0 << 0;
    QTest::newRow("halt is the console's STOP")
        << true << options << Verb([](FocuserDevice& d) { return d.Stop(); }) << QString() << 0
        << 1;
    QTest::newRow("calibration stays the console's")
        << true << QString() << Verb([](FocuserDevice& d) { return d.Calibrate(true); })
        << QStringLiteral(
               "The focuser is calibrated from the console's Options while the console serves it.")
        << 0 << 0;
}

void TestFocuserDevice::guestVerbs() {
    QFETCH(bool, connected);
    QFETCH(QString, refusal);
    QFETCH(Verb, verb);
    QFETCH(QString, reason);
    QFETCH(int, movesStarted);
    QFETCH(int, stops);
    SimRig sim(Controller(true));
    RecordingSoundPlayer sound;
    FocuserDevice device(sim.commands, sound);
    sim.connect();
    Host host;
    host.refusal = refusal;
    device.SetHost(&host);
    if (connected) {
        device.ConnectedInPlace();
        QCOMPARE(device.ReadTravelInPlace(), 1);
        device.ReadyInPlace();
    }
    const Outcome o = verb(device);
    QCOMPARE(o.reason, reason);
    QCOMPARE(o.ok(), reason.isEmpty());
    QCOMPARE(host.movesStarted, movesStarted);
    QCOMPARE(host.stops, stops);
    QCOMPARE(device.motion().GotoMode == kGotoModeGoto, movesStarted == 1);
}

void TestFocuserDevice::statusBetweenBackToBackMoves_data() {
    QTest::addColumn<int>("lostReads"); // of sensor 1 at the connect
    QTest::addColumn<int>("movingMs");
    QTest::newRow("held two more periods") << 0 << 25000;
    QTest::newRow("after a failed read, as soon as due") << 2 << 10000;
}

void TestFocuserDevice::statusBetweenBackToBackMoves() {
    // A client that sends its next move as soon as the last has ended never leaves the status
    // cycle a free tick: held long enough, it goes before the next move's first stage.
    QFETCH(int, lostReads);
    QFETCH(int, movingMs);
    DeviceRig r(Controller(true));
    r.sim.model.injectFault(0x26, sim::Fault::NoAnswer, lostReads);
    QVERIFY(r.ConnectAndWait());
    QCOMPARE(r.device.State().sensorFailed[0], lostReads > 0);
    r.sim.clearFrames();
    const qint64 start = r.sim.platform.nowMs();
    for (int n = 0; r.sim.platform.nowMs() - start < movingMs; ++n) {
        QVERIFY(r.device.MoveTo(n % 2 == 0 ? 2000 : 6000).ok());
        QVERIFY(r.scheduler.RunUntil([&] { return !r.device.State().moving(); }, 10000));
    }
    QVERIFY(UpdateBetweenGotos(r.sim.framesHex()));
}

void TestFocuserDevice::statusInsideALongMove() {
    // 40 s of one move: the temperatures held two more periods are read between two polls.
    sim::SimConfig slow = Controller(true);
    slow.approachSpeed = 100;
    DeviceRig r(slow);
    QVERIFY(r.ConnectAndWait());
    r.sim.clearFrames();
    QVERIFY(r.device.MoveTo(6000).ok());
    QVERIFY(r.scheduler.RunUntil([&] { return !r.device.State().moving(); }, 60000));
    QCOMPARE(r.device.State().clientPosition, 6000u);
    QVERIFY(UpdateInsideAMove(r.sim.framesHex()));
}

QTEST_GUILESS_MAIN(TestFocuserDevice)
#include "tst_focuserdevice.moc"
