// The controller model on virtual time: the catalogue's answers byte by byte, the mechanics,
// the registers and their state file, the sensors and fans, every fault, and a full
// calibration driven through the command set.

#include "simrig.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace tarnivel;
using tarnivel::sim::ControllerModel;
using tarnivel::sim::Fault;
using tarnivel::sim::SimConfig;
using tarnivel::test::SimRig;

namespace {

constexpr qint64 kLater = 1'000'000'000;

QByteArray frame(int device, int id, qint32 data, int nData, int nReply) {
    return FocuserLink::CommandFrame(device, id, data, nData, nReply);
}

// Feeds a whole frame at time t and collects every answer byte, however late.
QByteArray ask(ControllerModel& model, const QByteArray& bytes, qint64 t = 0) {
    for (char c : bytes)
        model.receiveByte(static_cast<quint8>(c), t);
    QByteArray answer;
    for (int b = model.takeByte(kLater); b >= 0; b = model.takeByte(kLater))
        answer.append(static_cast<char>(b));
    return answer;
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

qint64 wrapSteps(qint64 v) {
    v %= 16777216;
    return v < 0 ? v + 16777216 : v;
}

// Half the travel, halves to the even neighbour.
qint64 halfToEven(qint64 travel) {
    const qint64 half = travel / 2;
    if (travel % 2 == 0)
        return half;
    return half % 2 == 0 ? half : half + 1;
}

SimConfig wideConfig() {
    SimConfig c;
    c.lowerEndStop = -2'000'000;
    c.upperEndStop = 2'000'000;
    return c;
}

// The calibration of the options dialog, step by step as the console runs it, with the
// controller reached only through the command set and all waits on the rig's clock.
class CalibrationScript {
public:
    explicit CalibrationScript(SimRig& rig) : rig_(rig) {}

    qint32 current = 0;
    qint64 travel = -1;
    qint64 half = 0;
    bool runaway = false;

    bool full() {
        FocuserCommands& c = rig_.commands;
        c.SetLimitMax(0, 0);
        c.SetLimitMin(0, 0);
        c.SetRealLimitMax(0);
        c.SetRealLimitMin(0);
        c.SetAutoStop(1);
        c.SetCalibrated(0);
        pause(1000);
        if (!edgeSearch(-9, false))
            return false;
        c.SetPosition(0);
        display();
        c.SetAutoStop(0);
        pause(1000);
        if (!edgeSearch(9, true))
            return false;
        travel = current;
        half = halfToEven(travel);
        c.SetPosition(static_cast<int>(half));
        display();
        pump();
        pause(500);
        pump();
        c.SetAutoStop(0);
        pause(1000);
        c.MoveAtRate(-9);
        pump();
        pause(500);
        pump();
        display();
        const qint64 since = now();
        for (;;) {
            display();
            const bool leave = now() - since >= 5000;
            if (leave)
                c.SetAutoStop(1);
            pump();
            pause(100);
            if (leave)
                break;
        }
        if (!gotoAndWait(0))
            return false;
        c.MoveAtRate(0);
        const auto upper = static_cast<int>(wrapSteps(half));
        const auto lower = static_cast<int>(wrapSteps(-half));
        c.SetLimitMax(upper, -1);
        c.SetLimitMin(lower, +1);
        c.SetRealLimitMax(upper);
        c.SetRealLimitMin(lower);
        c.SetAutoStop(1);
        c.SetMaxTravel(static_cast<int>(travel));
        c.SetCalibrated(1);
        display();
        return true;
    }

    bool quick() {
        FocuserCommands& c = rig_.commands;
        c.SetLimitMax(0, 0);
        c.SetLimitMin(0, 0);
        c.SetAutoStop(1);
        c.SetCalibrated(0);
        qint32 stored = 0;
        c.GetMaxTravel(stored);
        pause(1000);
        if (!edgeSearch(-9, false))
            return false;
        c.SetPosition(static_cast<int>(wrapSteps(-halfToEven(stored))));
        display();
        pump();
        pause(500);
        pump();
        c.SetAutoStop(1);
        pause(1000);
        if (!gotoAndWait(0))
            return false;
        c.MoveAtRate(0);
        qint32 lower = 0;
        qint32 upper = 0;
        c.GetRealLimitMin(lower);
        c.GetRealLimitMax(upper);
        c.SetLimitMax(upper, -1);
        c.SetLimitMin(lower, +1);
        c.SetAutoStop(1);
        c.SetCalibrated(1);
        display();
        return true;
    }

private:
    static constexpr int kMaxPasses = 20000;

    qint64 now() const { return rig_.platform.nowMs(); }
    void pause(int ms) { rig_.platform.sleepMs(ms); }
    void pump() { rig_.link.platform().pumpEvents(); }
    void display() {
        const int p = rig_.commands.GetPosition();
        if (p != -1)
            current = p;
    }

    bool edgeSearch(int rate, bool rightEdge) {
        FocuserCommands& c = rig_.commands;
        c.MoveAtRate(rate);
        pump();
        if (rightEdge) {
            pause(500);
            pump();
        }
        display();
        qint32 last = current;
        qint64 stillSince = now();
        const qint64 rearmSince = now();
        bool armed = rightEdge;
        for (int pass = 0; pass < kMaxPasses; ++pass) {
            if (armed && now() - rearmSince >= 5000) {
                c.SetAutoStop(1);
                armed = false;
            }
            display();
            if (current == last) {
                if (now() - stillSince >= 1000) {
                    pump();
                    pause(100);
                    c.MoveAtRate(0);
                    pump();
                    pause(500);
                    return true;
                }
            } else {
                last = current;
                stillSince = now();
            }
            pump();
            pause(100);
        }
        runaway = true;
        return false;
    }

    bool gotoAndWait(int raw) {
        FocuserCommands& c = rig_.commands;
        c.GotoPosition(raw);
        for (int pass = 0; pass < kMaxPasses; ++pass) {
            display();
            qint32 flag = 0;
            c.IsSlewDone(flag);
            for (int i = 0; i < 5; ++i) {
                pump();
                rig_.platform.sleepMs(20);
            }
            if (flag != 0)
                return true;
        }
        runaway = true;
        return false;
    }

    SimRig& rig_;
};

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void catalogueAnswers_data();
    void catalogueAnswers();
    void replyLengthFollowsTheFrame();
    void frameResynchronises();

    void gotoMovesAtSlewSpeed_data();
    void gotoMovesAtSlewSpeed();
    void slewDoneWhileMoving();
    void setPositionLoadsWithoutMoving();
    void ratesMoveAtTheirSpeeds_data();
    void ratesMoveAtTheirSpeeds();
    void stallAtEndStops_data();
    void stallAtEndStops();
    void gotoBeyondTravelWithoutAutoStop();
    void activeLimits();

    void memoryRegisters();
    void stateFileRoundTrip();
    void stateFileUnreadable();
    void temperatureEncoding_data();
    void temperatureEncoding();
    void temperaturesThroughCommands();
    void temperatureDrift();
    void sensorDiscovery();
    void fanStateMapping();
    void firmwareVersion();

    void faultsRecovered_data();
    void faultsRecovered();
    void faultOnlyHitsItsMessage();
    void persistentFaultAndClear();
    void goSilent();
    void portVanishesAndReturns();
    void randomFaultsAreSeeded();
    void slowAnswerArrivesLate();
    void answerBytesWaitForTheirTime();
    void otherAddressesAreIgnored();
    void portOpensOnlyKnownNumbers();
    void noControllerAttached();
    void conversationIsRecorded();

    void fullCalibrationMeasuresTravel_data();
    void fullCalibrationMeasuresTravel();
    void quickCalibrationAfterRestart();
};

// ---- Catalogue -------------------------------------------------------------------------------

void TestSimulator::catalogueAnswers_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("GetPosition") << frame(18, 1, 0, 0, 3) << hex("0004d223");
    QTest::newRow("GotoPosition") << frame(18, 2, 1300, 3, 0) << hex("23");
    QTest::newRow("SetPosition") << frame(18, 4, 5, 3, 0) << hex("23");
    QTest::newRow("IsSlewDone idle") << frame(18, 19, 0, 0, 1) << hex("ff23");
    QTest::newRow("ApproachPosition") << frame(18, 23, 1300, 3, 0) << hex("23");
    QTest::newRow("SetLimitMin") << frame(18, 26, 0xF9, 1, 0) << hex("23");
    QTest::newRow("SetLimitMax") << frame(18, 27, 6, 1, 0) << hex("23");
    QTest::newRow("GetLimitMin off") << frame(18, 28, 0, 0, 3) << hex("00000023");
    QTest::newRow("GetLimitMax off") << frame(18, 29, 0, 0, 3) << hex("00000023");
    QTest::newRow("MoveUp") << frame(18, 36, 3, 1, 0) << hex("23");
    QTest::newRow("MoveDown") << frame(18, 37, 3, 1, 0) << hex("23");
    QTest::newRow("GetTemperature 1") << frame(18, 38, 0, 1, 2) << hex("200123");
    QTest::newRow("GetTemperature 2") << frame(18, 38, 1, 1, 2) << hex("c80023");
    QTest::newRow("GetTemperature 3 unfitted") << frame(18, 38, 2, 1, 2) << hex("7f7f23");
    QTest::newRow("SetFan") << frame(19, 39, 3, 1, 0) << hex("23");
    QTest::newRow("GetFanState off") << frame(19, 40, 0, 0, 1) << hex("0323");
    QTest::newRow("GetSensorCount") << frame(18, 43, 0, 0, 1) << hex("0223");
    QTest::newRow("GetSensorSlot 1") << frame(18, 46, 0, 1, 1) << hex("0023");
    QTest::newRow("GetSensorSlot 2") << frame(18, 46, 1, 1, 1) << hex("0123");
    QTest::newRow("GetSensorSlot past count") << frame(18, 46, 2, 1, 1) << hex("ff23");
    QTest::newRow("ReadMemory 0x41") << frame(18, 48, 0x41, 1, 1) << hex("0323");
    QTest::newRow("ReadMemory outside") << frame(18, 48, 0x3F, 1, 1) << hex("0023");
    QTest::newRow("WriteMemory") << frame(18, 49, 0x4001, 2, 0) << hex("23");
    QTest::newRow("GetAutoStop") << frame(18, 238, 0, 0, 1) << hex("0023");
    QTest::newRow("SetAutoStop") << frame(18, 239, 1, 1, 0) << hex("23");
    QTest::newRow("GetFirmwareVersion") << frame(18, 254, 0, 0, 2) << hex("020723");
    QTest::newRow("fan message at the focuser") << frame(18, 40, 0, 0, 1) << QByteArray();
    QTest::newRow("focuser message at the fan") << frame(19, 1, 0, 0, 3) << QByteArray();
    QTest::newRow("unknown message") << frame(18, 99, 0, 0, 1) << QByteArray();
    QTest::newRow("other device") << frame(20, 1, 0, 0, 3) << QByteArray();
}

void TestSimulator::catalogueAnswers() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    SimConfig config;
    config.startPosition = 1234;
    config.registers[1] = 3;
    ControllerModel model(config);
    QCOMPARE(ask(model, request).toHex(' '), answer.toHex(' '));
    QCOMPARE(model.frames(), QList<QByteArray>{request});
}

void TestSimulator::replyLengthFollowsTheFrame() {
    SimConfig config;
    config.startPosition = 0x1234;
    ControllerModel model(config);
    // Fewer bytes than the value has keep its low end; more are padded in front.
    QCOMPARE(ask(model, frame(18, 1, 0, 0, 1)), hex("3423"));
    QCOMPARE(ask(model, frame(18, 19, 0, 0, 2)), hex("00ff23"));
    QCOMPARE(ask(model, frame(18, 4, 0, 3, 3)), hex("00000023"));
}

void TestSimulator::frameResynchronises() {
    SimConfig config;
    config.startPosition = 7;
    ControllerModel model(config);
    // Noise before a marker is skipped.
    QCOMPARE(ask(model, hex("0023ff") + frame(18, 1, 0, 0, 3)), hex("00000723"));
    // Half a frame that is never finished goes after the frame time-out.
    ask(model, frame(18, 1, 0, 0, 3).left(5), 1000);
    QCOMPARE(ask(model, frame(18, 1, 0, 0, 3), 1000 + config.frameTimeoutMs + 1), hex("00000723"));
    QCOMPARE(model.frames().size(), 2);
}

// ---- Mechanics -------------------------------------------------------------------------------

void TestSimulator::gotoMovesAtSlewSpeed_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("expected");

    // Slew 4000 steps/s, approach 1000 steps/s, from 0.
    QTest::newRow("goto up, midway") << 2 << 10000 << 1000 << 4000;
    QTest::newRow("goto up, arrived") << 2 << 10000 << 3000 << 10000;
    QTest::newRow("approach up, midway") << 23 << 10000 << 1000 << 1000;
    QTest::newRow("goto below zero") << 2 << 16767216 << 1000 << 16773216;
    QTest::newRow("goto below zero, arrived") << 2 << 16767216 << 5000 << 16767216;
    QTest::newRow("approach down, arrived") << 23 << 16776716 << 600 << 16776716;
}

void TestSimulator::gotoMovesAtSlewSpeed() {
    QFETCH(int, id);
    QFETCH(int, target);
    QFETCH(int, after);
    QFETCH(int, expected);
    SimConfig config;
    config.approachSpeed = 1000;
    ControllerModel model(config);
    ask(model, frame(18, id, target, 3, 0), 0);
    model.advanceTo(after);
    QCOMPARE(static_cast<int>(model.position()), expected);
}

void TestSimulator::slewDoneWhileMoving() {
    SimRig rig;
    rig.connect();
    qint32 done = -5;
    QCOMPARE(rig.commands.IsSlewDone(done), 0);
    QVERIFY(done != 0);
    QCOMPARE(rig.commands.GotoPosition(2000), 0);
    QVERIFY(rig.model.isGotoRunning());
    QCOMPARE(rig.commands.IsSlewDone(done), 0);
    QCOMPARE(done, 0);
    rig.platform.sleepMs(600);
    QCOMPARE(rig.commands.IsSlewDone(done), 0);
    QVERIFY(done != 0);
    QCOMPARE(rig.commands.GetPosition(), 2000);
    // A rate move keeps the motor running too; STOP ends it.
    rig.commands.MoveAtRate(4);
    QCOMPARE(rig.commands.IsSlewDone(done), 0);
    QCOMPARE(done, 0);
    rig.commands.MoveAtRate(0);
    QCOMPARE(rig.commands.IsSlewDone(done), 0);
    QVERIFY(done != 0);
}

void TestSimulator::setPositionLoadsWithoutMoving() {
    SimConfig config;
    config.startPosition = 500;
    ControllerModel model(config);
    ask(model, frame(18, 4, 16777000, 3, 0), 0);
    QCOMPARE(model.position(), 16777000u);
    QCOMPARE(model.place(), 500);
    QVERIFY(!model.isMoving());
    // A goto to 0 now runs 216 steps up, the short way round the counter.
    ask(model, frame(18, 2, 0, 3, 0), 0);
    model.advanceTo(10000);
    QCOMPARE(model.position(), 0u);
    QCOMPARE(model.place(), 716);
    // Loading the counter during a goto keeps the goto on its counter value.
    ask(model, frame(18, 2, 1000, 3, 0), 10000);
    model.advanceTo(10100); // 400 steps done
    ask(model, frame(18, 4, 0, 3, 0), 10100);
    model.advanceTo(20000);
    QCOMPARE(model.position(), 1000u);
    QCOMPARE(model.place(), 716 + 400 + 1000);
}

void TestSimulator::ratesMoveAtTheirSpeeds_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("steps"); // in 2 s
    const SimConfig c;
    for (int r = -9; r <= 9; ++r) {
        const int speed = c.rateSpeeds[static_cast<size_t>(std::abs(r))];
        QTest::addRow("rate %d", r) << r << (r < 0 ? -2 * speed : 2 * speed);
    }
}

void TestSimulator::ratesMoveAtTheirSpeeds() {
    QFETCH(int, rate);
    QFETCH(int, steps);
    SimRig rig;
    rig.connect();
    const qint64 start = rig.model.place();
    const qint64 t0 = rig.platform.nowMs();
    rig.commands.MoveAtRate(rate);
    // The motor starts when the frame's last byte arrives, 77 ms into its 88.
    const qint64 started = t0 + 7 * kCharPacingMs;
    rig.platform.advance(started + 2000 - rig.platform.nowMs());
    QCOMPARE(rig.model.place() - start, static_cast<qint64>(steps));
    QCOMPARE(rig.model.rate(), rate);
    QCOMPARE(rig.model.isMoving(), rate != 0);
    rig.commands.MoveAtRate(0);
    const qint64 stopped = rig.model.place();
    rig.platform.sleepMs(1000);
    QCOMPARE(rig.model.place(), stopped);
    QVERIFY(!rig.model.isMoving());
}

void TestSimulator::stallAtEndStops_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("autoStop");
    QTest::newRow("down, auto-stop on") << -9 << true;
    QTest::newRow("down, auto-stop off") << -9 << false;
    QTest::newRow("up, auto-stop on") << 9 << true;
    QTest::newRow("up, auto-stop off") << 9 << false;
}

void TestSimulator::stallAtEndStops() {
    QFETCH(int, rate);
    QFETCH(bool, autoStop);
    SimConfig config;
    config.lowerEndStop = -1000;
    config.upperEndStop = 3000;
    SimRig rig(config);
    rig.connect();
    rig.commands.SetAutoStop(autoStop ? 1 : 0);
    rig.commands.MoveAtRate(rate);
    rig.platform.sleepMs(3000);
    const int stop = rate < 0 ? 16776216 : 3000;
    QCOMPARE(rig.commands.GetPosition(), stop);
    rig.platform.sleepMs(1000);
    QCOMPARE(rig.commands.GetPosition(), stop);
    QVERIFY(rate < 0 ? rig.model.atLowerEndStop() : rig.model.atUpperEndStop());
    // Auto-stop ends the push; without it the motor keeps going until told.
    QCOMPARE(rig.model.isMoving(), !autoStop);
    rig.commands.SetAutoStop(1);
    QVERIFY(!rig.model.isMoving());
    // Away from the stop it moves again.
    rig.commands.MoveAtRate(-rate);
    rig.platform.sleepMs(100);
    QVERIFY(rig.commands.GetPosition() != stop);
}

void TestSimulator::gotoBeyondTravelWithoutAutoStop() {
    SimConfig config;
    config.upperEndStop = 1000;
    SimRig rig(config);
    rig.connect();
    rig.commands.GotoPosition(5000);
    rig.platform.sleepMs(2000);
    qint32 done = 7;
    rig.commands.IsSlewDone(done);
    QCOMPARE(done, 0);
    QCOMPARE(rig.commands.GetPosition(), 1000);
    rig.commands.SetAutoStop(1);
    rig.commands.IsSlewDone(done);
    QVERIFY(done != 0);
    // With auto-stop on, a goto into the stop ends there.
    rig.commands.GotoPosition(0);
    rig.platform.sleepMs(1000);
    rig.commands.GotoPosition(9000);
    rig.platform.sleepMs(1000);
    rig.commands.IsSlewDone(done);
    QVERIFY(done != 0);
    QCOMPARE(rig.commands.GetPosition(), 1000);
}

void TestSimulator::activeLimits() {
    SimRig rig(wideConfig());
    rig.connect();
    // Real limits +-500000 give the bytes 6 (upper) and 0xF9 (lower).
    rig.commands.SetLimitMax(500000, -1);
    rig.commands.SetLimitMin(16277216, +1);
    QCOMPARE(rig.model.limitMaxByte(), 6);
    QCOMPARE(rig.model.limitMinByte(), 0xF9);
    qint32 value = 0;
    QCOMPARE(rig.commands.GetLimitMax(value), 0);
    QCOMPARE(value, 0x060000);
    QCOMPARE(rig.commands.GetLimitMin(value), 0);
    QCOMPARE(value, 0xF90000);

    rig.commands.MoveAtRate(9);
    rig.platform.sleepMs(200000);
    QCOMPARE(rig.commands.GetPosition(), 0x060000);
    QVERIFY(!rig.model.isMoving());
    // Beyond a limit nothing moves further out; back inside is free.
    rig.commands.MoveAtRate(9);
    rig.platform.sleepMs(1000);
    QCOMPARE(rig.commands.GetPosition(), 0x060000);
    rig.commands.GotoPosition(0);
    rig.platform.sleepMs(200000);
    QCOMPARE(rig.commands.GetPosition(), 0);
    // A goto past the lower limit ends on it, done.
    rig.commands.GotoPosition(16000000);
    rig.platform.sleepMs(200000);
    QCOMPARE(rig.commands.GetPosition(), 0xF90000);
    qint32 done = 0;
    rig.commands.IsSlewDone(done);
    QVERIFY(done != 0);
    // Off again: the goto goes all the way.
    rig.commands.SetLimitMin(0, 0);
    rig.commands.SetLimitMax(0, 0);
    QCOMPARE(rig.model.limitMinByte(), 0);
    rig.commands.GotoPosition(16000000);
    rig.platform.sleepMs(200000);
    QCOMPARE(rig.commands.GetPosition(), 16000000);
}

// ---- Registers, sensors, fans ----------------------------------------------------------------

void TestSimulator::memoryRegisters() {
    SimRig rig;
    rig.connect();
    QCOMPARE(rig.commands.SetMaxTravel(0x123456), 0);
    QCOMPARE(rig.commands.SetRealLimitMin(658188), 0);
    QCOMPARE(rig.commands.SetRealLimitMax(0xFEDCBA), 0);
    QCOMPARE(rig.commands.SetCalibrated(1), 0);
    const QList<quint8> expected{1, 0x12, 0x34, 0x56, 0x0A, 0x0B, 0x0C, 0xFE, 0xDC, 0xBA};
    for (int i = 0; i < sim::kRegisterCount; ++i)
        QCOMPARE(rig.model.memory(0x40 + i), expected[i]);
    qint32 v = 0;
    rig.commands.GetMaxTravel(v);
    QCOMPARE(v, 0x123456);
    rig.commands.GetRealLimitMax(v);
    QCOMPARE(v, 0xFEDCBA);
    rig.commands.GetCalibrated(v);
    QCOMPARE(v, 1);
    // Outside 0x40..0x49 nothing is kept.
    rig.model.setMemory(0x4A, 9);
    QCOMPARE(rig.model.memory(0x4A), quint8(0));
    rig.model.setMemory(0x49, 0x77);
    QCOMPARE(rig.model.memory(0x49), quint8(0x77));
}

void TestSimulator::stateFileRoundTrip() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimConfig config;
    config.stateFile = dir.filePath(QStringLiteral("state.txt"));
    {
        SimRig rig(config);
        rig.connect();
        rig.commands.SetMaxTravel(60000);
        rig.commands.SetRealLimitMin(16747216);
        rig.commands.SetCalibrated(1);
        rig.commands.SetAutoStop(1);
        rig.commands.SetLimitMin(16747216, +1);
        rig.commands.GotoPosition(2500);
        rig.platform.sleepMs(2000);
        rig.commands.SetPosition(100);
        QVERIFY(rig.model.saveState());
    }
    SimRig again(config);
    again.connect();
    qint32 v = 0;
    again.commands.GetMaxTravel(v);
    QCOMPARE(v, 60000);
    again.commands.GetRealLimitMin(v);
    QCOMPARE(v, 16747216);
    again.commands.GetCalibrated(v);
    QCOMPARE(v, 1);
    again.commands.GetAutoStop(v);
    QCOMPARE(v, 1);
    QCOMPARE(again.model.limitMinByte(), 0); // 0xFF + 1 is outside a byte: off
    QCOMPARE(again.commands.GetPosition(), 100);
    QCOMPARE(again.model.place(), 2500);
}

void TestSimulator::stateFileUnreadable() {
    QTemporaryDir dir;
    SimConfig config;
    config.startPosition = 42;
    config.stateFile = dir.filePath(QStringLiteral("missing/state.txt"));
    ControllerModel model(config);
    QCOMPARE(model.position(), 42u);
    QCOMPARE(model.memory(0x40), quint8(0));
    // A folder that does not exist cannot take the file; the model goes on regardless.
    QVERIFY(!model.saveState());
    ask(model, frame(18, 49, 0x4001, 2, 0));
    QCOMPARE(model.memory(0x40), quint8(1));
}

void TestSimulator::temperatureEncoding_data() {
    QTest::addColumn<double>("celsius");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<double>("decoded");
    QTest::newRow("25.0") << 25.0 << hex("9001") << 25.0;
    QTest::newRow("25.5") << 25.5 << hex("9801") << 25.5;
    QTest::newRow("zero") << 0.0 << hex("0000") << 0.0;
    QTest::newRow("-0.5") << -0.5 << hex("f8ff") << -0.5;
    QTest::newRow("-10.25") << -10.25 << hex("5cff") << -10.2;
    QTest::newRow("-40") << -40.0 << hex("80fd") << -40.0;
    QTest::newRow("a sixteenth") << 0.0625 << hex("0100") << 0.0;
    QTest::newRow("minus a sixteenth") << -0.0625 << hex("ffff") << 0.0;
    QTest::newRow("125") << 125.0 << hex("d007") << 125.0;
}

void TestSimulator::temperatureEncoding() {
    QFETCH(double, celsius);
    QFETCH(QByteArray, bytes);
    QFETCH(double, decoded);
    QCOMPARE(ControllerModel::encodeTemperature(celsius).toHex(' '), bytes.toHex(' '));
    const qint32 replyValue = static_cast<quint8>(bytes[0]) * 256 + static_cast<quint8>(bytes[1]);
    QCOMPARE(FocuserCommands::DecodeTemperature(replyValue), decoded);
}

void TestSimulator::temperaturesThroughCommands() {
    SimRig rig;
    rig.connect();
    rig.model.setTemperature(1, -3.5);
    rig.model.setTemperature(2, 21.0);
    rig.model.setSensorFitted(3, false);
    bool ok = false;
    QCOMPARE(rig.commands.GetTemperature(1, &ok), -3.5);
    QVERIFY(ok);
    QCOMPARE(rig.commands.GetTemperature(2, &ok), 21.0);
    QCOMPARE(rig.commands.GetTemperature(3, &ok), kNotFittedTemperature);
    QVERIFY(ok);
    rig.model.setSensorFitted(3, true);
    rig.model.setTemperature(3, 4.0);
    QCOMPARE(rig.commands.GetTemperature(3, &ok), 4.0);
}

void TestSimulator::temperatureDrift() {
    SimConfig config;
    config.driftAmplitude = 0.5;
    config.driftPeriodMs = 600000;
    ControllerModel model(config);
    double low = 100;
    double high = -100;
    double previous = model.temperature(1);
    for (qint64 t = 0; t <= 600000; t += 1000) {
        model.advanceTo(t);
        const double v = model.temperature(1);
        low = std::min(low, v);
        high = std::max(high, v);
        // Slowly: a second changes a reading by far less than its 1/16 degree resolution.
        QVERIFY(std::abs(v - previous) < 0.01);
        previous = v;
    }
    QVERIFY(low >= 17.5 - 1e-9 && low < 17.6);
    QVERIFY(high <= 18.5 + 1e-9 && high > 18.4);
    // The slots do not move together.
    model.advanceTo(150000);
    QVERIFY(std::abs((model.temperature(1) - 18.0) - (model.temperature(2) - 12.5)) > 0.1);
}

void TestSimulator::sensorDiscovery() {
    SimConfig config;
    config.sensors[0].fitted = false;
    config.sensors[1].fitted = true;
    config.sensors[2].fitted = true;
    SimRig rig(config);
    rig.connect();
    qint32 count = 0;
    QCOMPARE(rig.commands.GetSensorCount(count), 0);
    QCOMPARE(count, 2);
    qint32 slot = 0;
    rig.commands.GetSensorSlot(1, slot);
    QCOMPARE(slot, 2);
    rig.commands.GetSensorSlot(2, slot);
    QCOMPARE(slot, 3);
    QCOMPARE(rig.framesHex().mid(1), (QStringList{QStringLiteral("50 02 12 2E 00 00 00 01"),
                                                  QStringLiteral("50 02 12 2E 01 00 00 01")}));
}

void TestSimulator::fanStateMapping() {
    SimRig rig;
    rig.connect();
    qint32 running = 5;
    QCOMPARE(rig.commands.GetFanState(running), 0);
    QCOMPARE(running, 0);
    QCOMPARE(rig.commands.SetFan(true), 0);
    QVERIFY(rig.model.fanOn());
    QCOMPARE(rig.commands.GetFanState(running), 0);
    QCOMPARE(running, 1);
    QCOMPARE(rig.commands.SetFan(false), 0);
    QVERIFY(!rig.model.fanOn());
    QCOMPARE(rig.commands.GetFanState(running), 0);
    QCOMPARE(running, 0);
    QCOMPARE(rig.framesHex(), (QStringList{QStringLiteral("50 01 13 28 00 00 00 01"),
                                           QStringLiteral("50 02 13 27 03 00 00 00"),
                                           QStringLiteral("50 01 13 28 00 00 00 01"),
                                           QStringLiteral("50 02 13 27 00 00 00 00"),
                                           QStringLiteral("50 01 13 28 00 00 00 01")}));
}

void TestSimulator::firmwareVersion() {
    SimConfig config;
    config.firmwareMajor = 3;
    config.firmwareMinor = 14;
    SimRig rig(config);
    rig.connect();
    qint32 major = 0;
    qint32 minor = 0;
    QCOMPARE(rig.commands.GetFirmwareVersion(major, minor), 0);
    QCOMPARE(major, 3);
    QCOMPARE(minor, 14);
    rig.model.setFirmwareVersion(1, 0);
    rig.commands.GetFirmwareVersion(major, minor);
    QCOMPARE(major, 1);
    QCOMPARE(minor, 0);
    QVERIFY(rig.commands.ProbeFocuser());
}

// ---- Faults ----------------------------------------------------------------------------------

void TestSimulator::faultsRecovered_data() {
    QTest::addColumn<int>("fault");
    QTest::newRow("no answer") << int(Fault::NoAnswer);
    QTest::newRow("wrong terminator") << int(Fault::WrongTerminator);
    QTest::newRow("dropped byte") << int(Fault::DropByte);
    QTest::newRow("extra byte") << int(Fault::ExtraByte);
    QTest::newRow("slow answer") << int(Fault::SlowAnswer);
}

void TestSimulator::faultsRecovered() {
    QFETCH(int, fault);
    SimConfig config;
    config.startPosition = 4321;
    SimRig rig(config);
    rig.connect();
    rig.model.injectFault(msg::GetPosition, static_cast<Fault>(fault));
    // The first attempt fails, the link's second one reads the right value.
    QCOMPARE(rig.commands.GetPosition(), 4321);
    QCOMPARE(rig.framesHex(), (QStringList{QStringLiteral("50 01 12 01 00 00 00 03"),
                                           QStringLiteral("50 01 12 01 00 00 00 03")}));
    rig.clearFrames();
    QCOMPARE(rig.commands.GetPosition(), 4321);
    QCOMPARE(rig.framesHex().size(), 1);
}

void TestSimulator::faultOnlyHitsItsMessage() {
    SimRig rig;
    rig.connect();
    rig.model.injectFault(msg::GetFirmwareVersion, Fault::NoAnswer, 2);
    QCOMPARE(rig.commands.GetPosition(), 0);
    QCOMPARE(rig.framesHex().size(), 1);
    QVERIFY(!rig.commands.ProbeFocuser());
    QCOMPARE(rig.framesHex().size(), 3);
    QVERIFY(rig.commands.ProbeFocuser());
}

void TestSimulator::persistentFaultAndClear() {
    SimRig rig;
    rig.connect();
    sim::FaultRule rule;
    rule.fault = Fault::DropByte;
    rule.times = -1;
    rig.model.injectFault(rule);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(rig.commands.GetPosition(), -1);
    QCOMPARE(rig.framesHex().size(), 6);
    rig.model.clearFaults();
    QCOMPARE(rig.commands.GetPosition(), 0);
}

void TestSimulator::goSilent() {
    SimRig rig;
    rig.connect();
    rig.model.injectFault(msg::GotoPosition, Fault::GoSilent);
    QCOMPARE(rig.commands.GotoPosition(3000), -1);
    QVERIFY(rig.model.silent());
    // A silent controller neither answers nor acts, but the frames still reach it.
    QVERIFY(!rig.model.isMoving());
    QCOMPARE(rig.commands.GetPosition(), -1);
    QCOMPARE(rig.framesHex().size(), 4);
    QVERIFY(rig.port.isOpen());
    QVERIFY(!rig.port.connectionLost());
    rig.model.setSilent(false);
    QCOMPARE(rig.commands.GetPosition(), 0);
    // Going silent mid-session straight from a test.
    rig.model.setSilent(true);
    QVERIFY(!rig.commands.ProbeFocuser());
}

void TestSimulator::portVanishesAndReturns() {
    SimRig rig;
    rig.connect();
    rig.model.injectFault(msg::GetPosition, Fault::PortVanish);
    QCOMPARE(rig.commands.GetPosition(), -1);
    QVERIFY(!rig.port.isOpen());
    QVERIFY(rig.port.connectionLost());
    // Only the frame that found the device present arrived.
    QCOMPARE(rig.framesHex().size(), 1);
    QVERIFY(!rig.port.open(1));
    QVERIFY(rig.port.connectionLost());
    rig.port.setDevicePresent(true);
    QVERIFY(rig.port.open(1));
    QVERIFY(!rig.port.connectionLost());
    QCOMPARE(rig.commands.GetPosition(), 0);
    // Pulled by the test directly.
    rig.port.vanish();
    QVERIFY(!rig.port.isOpen());
    QVERIFY(rig.port.connectionLost());
    QCOMPARE(rig.port.bytesWaiting(), 0);
    QCOMPARE(rig.port.readByte(), -1);
}

void TestSimulator::randomFaultsAreSeeded() {
    const auto run = [](quint32 seed) {
        SimConfig config;
        config.faultSeed = seed;
        config.faultRates.noAnswer = 0.3;
        config.faultRates.extraByte = 0.2;
        SimRig rig(config);
        rig.connect();
        QList<int> results;
        for (int i = 0; i < 20; ++i)
            results << rig.commands.GetPosition();
        return qMakePair(results, rig.framesHex().size());
    };
    const auto a = run(7);
    QCOMPARE(run(7), a);
    // Some frames needed a second attempt, so faults did happen.
    QVERIFY(a.second > 20);
    QVERIFY(run(8) != a);

    SimConfig always;
    always.faultRates.noAnswer = 1.0;
    SimRig rig(always);
    rig.connect();
    QCOMPARE(rig.commands.GetPosition(), -1);
    QCOMPARE(rig.framesHex().size(), 2);
}

void TestSimulator::slowAnswerArrivesLate() {
    SimConfig config;
    config.startPosition = 9;
    SimRig rig(config);
    rig.connect();
    sim::FaultRule rule{msg::GetPosition, Fault::SlowAnswer, 1, 200};
    rig.model.injectFault(rule);
    // 200 ms is within the receive time-out: one attempt, on the later answer.
    const qint64 t0 = rig.platform.nowMs();
    QCOMPARE(rig.commands.GetPosition(), 9);
    QCOMPARE(rig.framesHex().size(), 1);
    QVERIFY(rig.platform.nowMs() - t0 >= 88 + 200);
}

void TestSimulator::answerBytesWaitForTheirTime() {
    SimConfig config;
    config.replyDelayMs = 30;
    config.byteIntervalMs = 5;
    SimRig rig(config);
    rig.connect();
    const QByteArray f = frame(18, 1, 0, 0, 3);
    for (char c : f)
        rig.port.writeByte(static_cast<quint8>(c));
    QCOMPARE(rig.port.bytesWaiting(), 0);
    rig.platform.advance(29);
    QCOMPARE(rig.port.bytesWaiting(), 0);
    rig.platform.advance(1);
    QCOMPARE(rig.port.bytesWaiting(), 1);
    rig.platform.advance(10);
    QCOMPARE(rig.port.bytesWaiting(), 3);
    rig.port.discardInput();
    QCOMPARE(rig.port.bytesWaiting(), 0);
    rig.platform.advance(5);
    QCOMPARE(rig.port.readByte(), int('#'));
    QCOMPARE(rig.port.readByte(), -1);
    // With the delays the link still works.
    QCOMPARE(rig.commands.GetPosition(), 0);
}

void TestSimulator::otherAddressesAreIgnored() {
    SimRig rig;
    rig.connect();
    qint32 value = 77;
    QCOMPARE(rig.link.SendCommand(20, msg::GetPosition, 0, 0, 3, value), -1);
    QCOMPARE(value, 77);
    QCOMPARE(rig.framesHex().size(), 2);
    // Moved addresses are honoured.
    SimConfig moved;
    moved.focuserAddress = 30;
    moved.fanAddress = 31;
    SimRig other(moved);
    other.connect();
    QCOMPARE(other.commands.Device, 30);
    QVERIFY(other.commands.ProbeFocuser());
    QCOMPARE(other.commands.SetFan(true), 0);
    QVERIFY(other.model.fanOn());
}

void TestSimulator::portOpensOnlyKnownNumbers() {
    SimRig rig;
    QVERIFY(!rig.port.open(2));
    QVERIFY(!rig.port.isOpen());
    QVERIFY(rig.port.open(1));
    QCOMPARE(rig.port.openedPort(), 1);
    rig.port.setOpenablePorts({3, 4});
    QVERIFY(!rig.port.open(1));
    QVERIFY(!rig.port.isOpen());
    QVERIFY(rig.port.open(4));
    QCOMPARE(rig.port.openCount(), 2);
    rig.port.close();
    QCOMPARE(rig.port.openedPort(), 0);
    QVERIFY(!rig.port.connectionLost());
}

void TestSimulator::noControllerAttached() {
    SimRig rig;
    rig.port.setControllerAttached(false);
    rig.connect();
    QVERIFY(rig.port.isOpen());
    QVERIFY(!rig.commands.ProbeFocuser());
    QVERIFY(rig.model.frames().isEmpty());
    QCOMPARE(rig.port.written(), frame(18, 254, 0, 0, 2) + frame(18, 254, 0, 0, 2));
}

void TestSimulator::conversationIsRecorded() {
    SimRig rig;
    rig.connect();
    rig.commands.GetPosition();
    rig.commands.MoveAtRate(-9);
    rig.commands.MoveAtRate(0);
    rig.commands.SetRealLimitMin(658188);
    QCOMPARE(rig.framesHex(), (QStringList{
                                  QStringLiteral("50 01 12 01 00 00 00 03"),
                                  QStringLiteral("50 02 12 25 09 00 00 00"),
                                  QStringLiteral("50 02 12 24 00 00 00 00"),
                                  QStringLiteral("50 03 12 31 44 0A 00 00"),
                                  QStringLiteral("50 03 12 31 45 0B 00 00"),
                                  QStringLiteral("50 03 12 31 46 0C 00 00"),
                              }));
    rig.clearFrames();
    QVERIFY(rig.framesHex().isEmpty());
}

// ---- Calibration -----------------------------------------------------------------------------

void TestSimulator::fullCalibrationMeasuresTravel_data() {
    QTest::addColumn<qint64>("lower");
    QTest::addColumn<qint64>("upper");
    QTest::addColumn<qint64>("start");

    QTest::newRow("default travel") << qint64(-30000) << qint64(30000) << qint64(0);
    QTest::newRow("odd travel 1001") << qint64(0) << qint64(1001) << qint64(700);
    QTest::newRow("odd travel 1003") << qint64(-500) << qint64(503) << qint64(-500);
    QTest::newRow("starting on the upper stop") << qint64(-8000) << qint64(12000) << qint64(12000);
    QTest::newRow("long travel with limits") << qint64(-300000) << qint64(700000) << qint64(100000);
}

void TestSimulator::fullCalibrationMeasuresTravel() {
    QFETCH(qint64, lower);
    QFETCH(qint64, upper);
    QFETCH(qint64, start);
    SimConfig config;
    config.lowerEndStop = lower;
    config.upperEndStop = upper;
    config.startPosition = start;
    SimRig rig(config);
    rig.connect();
    CalibrationScript script(rig);
    QVERIFY(script.full());
    QVERIFY(!script.runaway);

    const qint64 travel = upper - lower;
    const qint64 half = halfToEven(travel);
    QCOMPARE(script.travel, travel);
    // Position 0 is the middle of the travel: the upper stop reads +half (an odd travel
    // leaves the extra step below).
    QCOMPARE(rig.model.position(), 0u);
    QCOMPARE(rig.model.place(), upper - half);
    QCOMPARE(script.current, 0);
    QVERIFY(!rig.model.isMoving());
    qint32 v = 0;
    rig.commands.GetMaxTravel(v);
    QCOMPARE(qint64(v), travel);
    rig.commands.GetRealLimitMax(v);
    QCOMPARE(qint64(v), half);
    rig.commands.GetRealLimitMin(v);
    QCOMPARE(qint64(v), wrapSteps(-half));
    rig.commands.GetCalibrated(v);
    QCOMPARE(v, 1);
    QVERIFY(rig.model.autoStop());
    QCOMPARE(rig.model.limitMaxByte(),
             FocuserCommands::LimitByte(static_cast<int>(half), -1) & 0xFF);
    QCOMPARE(rig.model.limitMinByte(),
             FocuserCommands::LimitByte(static_cast<int>(wrapSteps(-half)), +1) & 0xFF);
    // The active limits hold the focuser one block inside the stops where there is room.
    rig.commands.MoveAtRate(9);
    rig.platform.sleepMs(300000);
    const qint64 top = rig.model.place();
    if (rig.model.limitMaxByte() != 0)
        QCOMPARE(qint64(rig.model.position()), qint64(rig.model.limitMaxByte()) << 16);
    else
        QCOMPARE(top, upper);
}

void TestSimulator::quickCalibrationAfterRestart() {
    QTemporaryDir dir;
    SimConfig config;
    config.lowerEndStop = -10000;
    config.upperEndStop = 30001;
    config.stateFile = dir.filePath(QStringLiteral("state.txt"));
    {
        SimRig rig(config);
        rig.connect();
        CalibrationScript script(rig);
        QVERIFY(script.full());
        QCOMPARE(script.travel, 40001);
    }
    // A new power-on elsewhere on the counter, with the calibration kept in the memory.
    config.startPosition = 25000;
    SimRig rig(config);
    rig.model.setPosition(5);
    rig.model.placeAt(25000);
    rig.connect();
    CalibrationScript script(rig);
    QVERIFY(script.quick());
    QCOMPARE(rig.model.position(), 0u);
    QCOMPARE(rig.model.place(), -10000 + 20000);
    qint32 v = 0;
    rig.commands.GetCalibrated(v);
    QCOMPARE(v, 1);
    rig.commands.GetMaxTravel(v);
    QCOMPARE(v, 40001);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
