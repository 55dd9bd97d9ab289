#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/settings/focusersettings.h"
#include "recorders.h"
#include "simrig.h"

#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

constexpr int kTickMs = 50; // the poll timer's interval between two ticks

const QString kGetPositionFrame = QStringLiteral("50 01 12 01 00 00 00 03");
const QString kIsSlewDoneFrame = QStringLiteral("50 01 12 13 00 00 00 01");

sim::SimConfig wideTravel(qint64 startPosition) {
    sim::SimConfig c;
    c.lowerEndStop = -1000000;
    c.upperEndStop = 1000000;
    c.startPosition = startPosition;
    c.approachSpeed = 40000;
    return c;
}

// The goto engine on the simulated controller, with a readout that refreshes the position
// the way the main window does.
struct GotoRig {
    Sequence<bool> Display() {
        ++displays;
        const int p = sim.commands.GetPosition();
        if (p != -1)
            motion.CurrentPosition = p;
        co_return p != -1;
    }
    explicit GotoRig(const sim::SimConfig& config)
        : sim(config), gotos(sim.commands, settings, motion, sound, sim.platform) {
        sim.connect();
        gotos.setDisplayPosition([this](Pacer&) { return Display(); });
        // Each ApproachPosition as "target direction", with the direction the engine
        // announced when the frame went out.
        sim.model.onExchange = [this](const QByteArray& frame, const QByteArray&) {
            if (static_cast<quint8>(frame.at(3)) != 0x17)
                return;
            const int target = (static_cast<quint8>(frame.at(4)) << 16) |
                               (static_cast<quint8>(frame.at(5)) << 8) |
                               static_cast<quint8>(frame.at(6));
            moves << QStringLiteral("%1 %2").arg(target).arg(motion.MotionDirection);
        };
    }

    // Runs poll ticks until the goto has finished; false when it never did.
    bool runToEnd(int maxTicks = 400) {
        for (int i = 0; i < maxTicks && motion.GotoMode == kGotoModeGoto; ++i) {
            gotos.RunStage();
            sim.platform.advance(kTickMs);
        }
        return motion.GotoMode == GotoKind::None && motion.GotoDone;
    }

    SimRig sim;
    FocuserSettings settings;
    MotionState motion;
    RecordingSoundPlayer sound;
    GotoController gotos;
    QStringList moves;
    int displays = 0;
};

} // namespace

class TestGotoController : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stagedGoto_data();
    void stagedGoto();
    void overshootInsideTheTravel_data();
    void overshootInsideTheTravel();
    void firstTickFrames();
    void skipSendsNothingInThatTick();
    void failedReadsKeepLastGoodPosition();
    void waitsWhileTheControllerMoves();
    void stagedGotoSounds_data();
    void stagedGotoSounds();
    void playSlewSound_data();
    void playSlewSound();
    void gotoAndWaitDone();
    void gotoAndWaitInCalibration();
    void gotoAndWaitCancelled();
    void gotoAndWaitPassLength_data();
    void gotoAndWaitPassLength();
};

void TestGotoController::stagedGoto_data() {
    QTest::addColumn<int>("approach");
    QTest::addColumn<int>("overshoot");
    QTest::addColumn<int>("current");   // CurrentPosition when the goto starts
    QTest::addColumn<qint64>("actual"); // where the focuser really is (signed)
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("intermediate");
    QTest::addColumn<QStringList>("moves");

    QTest::newRow("approach 1 from below") << 1 << 30000 << 1000 << qint64(1000) << 5000 << 1
                                           << 35000 << QStringList{"35000 1", "5000 -1"};
    QTest::newRow("approach 1 from above")
        << 1 << 30000 << 9000 << qint64(9000) << 5000 << 3 << 0 << QStringList{"5000 -1"};
    QTest::newRow("approach 0 from above") << 0 << 30000 << 9000 << qint64(9000) << 5000 << 1
                                           << 16752216 << QStringList{"16752216 -1", "5000 1"};
    QTest::newRow("approach 0 from below")
        << 0 << 30000 << 1000 << qint64(1000) << 5000 << 3 << 0 << QStringList{"5000 1"};
    QTest::newRow("approach 1 on the target") << 1 << 30000 << 5000 << qint64(5000) << 5000 << 1
                                              << 35000 << QStringList{"35000 1", "5000 -1"};
    QTest::newRow("approach 0 on the target") << 0 << 30000 << 5000 << qint64(5000) << 5000 << 1
                                              << 16752216 << QStringList{"16752216 -1", "5000 1"};
    QTest::newRow("overshoot 0 approach 1")
        << 1 << 0 << 1000 << qint64(1000) << 5000 << 3 << 0 << QStringList{"5000 1"};
    QTest::newRow("overshoot 0 approach 0")
        << 0 << 0 << 9000 << qint64(9000) << 5000 << 3 << 0 << QStringList{"5000 -1"};
    QTest::newRow("negative overshoot")
        << 1 << -100 << 1000 << qint64(1000) << 5000 << 3 << 0 << QStringList{"5000 1"};
    QTest::newRow("approach 1 below zero") << 1 << 30000 << 16770000 << qint64(-7216) << 16776000
                                           << 1 << 28784 << QStringList{"28784 1", "16776000 -1"};
    QTest::newRow("approach 0 into negative") << 0 << 30000 << 100 << qint64(100) << 0 << 1
                                              << 16747216 << QStringList{"16747216 -1", "0 1"};
    // The focuser moved since the last read: the overshoot point lies on the way.
    QTest::newRow("approach 1 beyond the overshoot point")
        << 1 << 30000 << 1000 << qint64(50000) << 5000 << 1 << 35000 << QStringList{"5000 -1"};
    QTest::newRow("approach 0 beyond the overshoot point")
        << 0 << 30000 << 9000 << qint64(-30000) << 5000 << 1 << 16752216 << QStringList{"5000 1"};
    QTest::newRow("standing on the overshoot point")
        << 1 << 30000 << 1000 << qint64(35000) << 5000 << 1 << 35000
        << QStringList{"35000 0", "5000 -1"};
}

void TestGotoController::stagedGoto() {
    QFETCH(int, approach);
    QFETCH(int, overshoot);
    QFETCH(int, current);
    QFETCH(qint64, actual);
    QFETCH(int, target);
    QFETCH(int, stage);
    QFETCH(int, intermediate);
    QFETCH(QStringList, moves);

    GotoRig rig(wideTravel(actual));
    rig.settings.Approach = approach;
    rig.settings.Overshoot = overshoot;
    rig.motion.CurrentPosition = current;

    rig.gotos.StartGoto(target, rig.sim.link.StopCount());
    QCOMPARE(rig.motion.GotoMode, GotoKind::Goto);
    QCOMPARE(rig.motion.GotoStage, stage);
    QCOMPARE(rig.motion.GotoIntermediate, intermediate);
    QCOMPARE(rig.motion.GotoTarget, target);
    QVERIFY(!rig.motion.GotoDone);
    QVERIFY(rig.sim.framesHex().isEmpty()); // starting sends nothing

    QVERIFY(rig.runToEnd());
    QCOMPARE(rig.moves, moves);
    QCOMPARE(rig.sim.model.position(), quint32(target));
    QCOMPARE(rig.motion.CurrentPosition, target);
    QCOMPARE(rig.motion.GotoStage, 0);
    QCOMPARE(rig.motion.GotoIntermediate, 0);
    QCOMPARE(rig.motion.GotoTarget, 0);
}

void TestGotoController::overshootInsideTheTravel_data() {
    QTest::addColumn<int>("approach");
    QTest::addColumn<int>("lower"); // signed ends of the travel
    QTest::addColumn<int>("upper");
    QTest::addColumn<qint64>("start"); // signed
    QTest::addColumn<int>("current");  // the same, raw
    QTest::addColumn<int>("target");
    QTest::addColumn<QStringList>("moves");
    QTest::newRow("near the upper end stop") << 1 << -60000 << 60000 << qint64(40000) << 40000
                                             << 48475 << QStringList{"60000 1", "48475 -1"};
    QTest::newRow("near the lower end stop")
        << 0 << -60000 << 60000 << qint64(-40000) << 16737216 << 16728741
        << QStringList{"16717216 -1", "16728741 1"};
    QTest::newRow("a target on the end goes straight")
        << 1 << -60000 << 60000 << qint64(40000) << 40000 << 60000 << QStringList{"60000 1"};
    QTest::newRow("room enough: the whole overshoot")
        << 1 << -60000 << 60000 << qint64(1000) << 1000 << 5000
        << QStringList{"35000 1", "5000 -1"};
}

void TestGotoController::overshootInsideTheTravel() {
    QFETCH(int, approach);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(qint64, start);
    QFETCH(int, current);
    QFETCH(int, target);
    GotoRig rig(wideTravel(start));
    rig.settings.Approach = approach;
    rig.gotos.setTravelBounds([&] { return TravelBounds{lower, upper}; });
    rig.motion.CurrentPosition = current;
    QVERIFY(rig.gotos.StartGoto(target, rig.sim.link.StopCount()));
    QVERIFY(rig.runToEnd());
    QTEST(rig.moves, "moves");
}

void TestGotoController::firstTickFrames() {
    GotoRig rig(wideTravel(1000));
    rig.motion.CurrentPosition = 1000;
    rig.gotos.StartGoto(5000, rig.sim.link.StopCount());
    rig.gotos.RunStage();
    QCOMPARE(rig.sim.framesHex(), (QStringList{kGetPositionFrame, "50 04 12 17 00 88 B8 00"}));
    QCOMPARE(rig.motion.GotoStage, 2);
    QCOMPARE(rig.motion.MotionDirection, 1);
}

void TestGotoController::skipSendsNothingInThatTick() {
    GotoRig rig(wideTravel(50000));
    rig.motion.CurrentPosition = 1000;
    rig.gotos.StartGoto(5000, rig.sim.link.StopCount());
    QCOMPARE(rig.motion.GotoStage, 1);
    rig.gotos.RunStage();
    QCOMPARE(rig.sim.framesHex(), QStringList{kGetPositionFrame});
    QCOMPARE(rig.motion.GotoStage, 3);
    QCOMPARE(rig.motion.CurrentPosition, 50000);
    rig.sim.clearFrames();
    rig.gotos.RunStage();
    QCOMPARE(rig.sim.framesHex(), (QStringList{kGetPositionFrame, "50 04 12 17 00 13 88 00"}));
    QCOMPARE(rig.motion.MotionDirection, -1);
}

void TestGotoController::failedReadsKeepLastGoodPosition() {
    GotoRig rig(wideTravel(1000));
    rig.motion.CurrentPosition = 1000;
    rig.gotos.StartGoto(5000, rig.sim.link.StopCount());

    // Stage 1: both attempts of the position read go unanswered.
    rig.sim.model.injectFault(1, sim::Fault::NoAnswer, 2);
    rig.gotos.RunStage();
    QCOMPARE(rig.motion.CurrentPosition, 1000);
    QCOMPARE(rig.motion.MotionDirection, 1);
    QCOMPARE(rig.moves, QStringList{"35000 1"});

    for (int i = 0; i < 100 && rig.motion.GotoStage == 2; ++i) {
        rig.gotos.RunStage();
        rig.sim.platform.advance(kTickMs);
    }
    QCOMPARE(rig.motion.GotoStage, 3);
    QCOMPARE(rig.motion.CurrentPosition, 35000);

    // Stage 3: the read fails again; -1 would read as just below zero and point upward.
    rig.sim.model.injectFault(1, sim::Fault::NoAnswer, 2);
    rig.gotos.RunStage();
    QCOMPARE(rig.motion.CurrentPosition, 35000);
    QCOMPARE(rig.motion.MotionDirection, -1);
    QCOMPARE(rig.moves, (QStringList{"35000 1", "5000 -1"}));
    QVERIFY(rig.runToEnd());
}

void TestGotoController::waitsWhileTheControllerMoves() {
    sim::SimConfig config = wideTravel(1000);
    config.approachSpeed = 4000; // 4000 steps take about a second
    GotoRig rig(config);
    rig.settings.Approach = 0;
    rig.motion.CurrentPosition = 1000;
    rig.gotos.StartGoto(5000, rig.sim.link.StopCount());
    QCOMPARE(rig.motion.GotoStage, 3);
    rig.gotos.RunStage();
    QCOMPARE(rig.motion.GotoStage, 4);
    rig.sim.clearFrames();
    const int displaysBefore = rig.displays;
    // One slew-done query and one readout refresh per tick while the move runs.
    rig.gotos.RunStage();
    QCOMPARE(rig.sim.framesHex(), (QStringList{kIsSlewDoneFrame, kGetPositionFrame}));
    QCOMPARE(rig.motion.GotoStage, 4);
    QCOMPARE(rig.displays, displaysBefore + 1);
    QVERIFY(rig.motion.CurrentPosition > 1000 && rig.motion.CurrentPosition < 5000);

    // A failed query reads as "not yet".
    rig.sim.model.injectFault(19, sim::Fault::NoAnswer, 2);
    rig.gotos.RunStage();
    QCOMPARE(rig.motion.GotoStage, 4);

    QVERIFY(rig.runToEnd());
    QCOMPARE(rig.moves, QStringList{"5000 1"});
}

void TestGotoController::stagedGotoSounds_data() {
    QTest::addColumn<bool>("slewing");
    QTest::addColumn<bool>("completion");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("both") << true << true << QStringList{"BegSlew loop", "EndSlew once"};
    QTest::newRow("slewing only") << true << false << QStringList{"BegSlew loop", "stop"};
    QTest::newRow("completion only") << false << true << QStringList{"EndSlew once"};
    // Silent, but the end still silences whatever else plays.
    QTest::newRow("neither") << false << false << QStringList{"stop"};
}

namespace {
QStringList describe(const QList<SoundCall>& calls) {
    QStringList out;
    for (const auto& c : calls)
        out << (c.name.isEmpty() ? QStringLiteral("stop")
                                 : c.name + (c.loop ? QStringLiteral(" loop") : " once"));
    return out;
}
} // namespace

void TestGotoController::stagedGotoSounds() {
    QFETCH(bool, slewing);
    QFETCH(bool, completion);
    QFETCH(QStringList, calls);
    GotoRig rig(wideTravel(1000));
    rig.settings.SlewingSound = slewing;
    rig.settings.CompletionSound = completion;
    rig.motion.CurrentPosition = 1000;
    rig.gotos.StartGoto(5000, rig.sim.link.StopCount());
    QCOMPARE(describe(rig.sound.calls), calls.mid(0, slewing ? 1 : 0));
    QVERIFY(rig.runToEnd());
    QCOMPARE(describe(rig.sound.calls), calls);
}

void TestGotoController::playSlewSound_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<QString>("call");
    QTest::newRow("BegSlew looping") << "BegSlew" << true << "BegSlew loop";
    QTest::newRow("lower case") << "begslew" << true << "BegSlew loop";
    QTest::newRow("upper case once") << "ENDSLEW" << false << "EndSlew once";
    QTest::newRow("empty silences") << "" << false << "stop";
    QTest::newRow("unknown silences") << "Fanfare" << true << "stop";
}

void TestGotoController::playSlewSound() {
    QFETCH(QString, name);
    QFETCH(bool, repeat);
    QFETCH(QString, call);
    GotoRig rig(wideTravel(0));
    rig.gotos.PlaySlewSound(name, false, repeat);
    QCOMPARE(describe(rig.sound.calls), QStringList{call});
}

void TestGotoController::gotoAndWaitDone() {
    GotoRig rig(wideTravel(1000));
    rig.settings.SlewingSound = true;
    rig.settings.CompletionSound = true;
    rig.motion.JogRate = 3;
    rig.motion.GotoDone = true;
    QVERIFY(rig.gotos.GotoAndWait(20000, rig.sim.link.StopCount()));

    QCOMPARE(rig.sim.model.position(), quint32(20000));
    QCOMPARE(rig.motion.CurrentPosition, 20000);
    QCOMPARE(rig.motion.MotionDirection, 1);
    QCOMPARE(rig.motion.JogRate, 0);
    QVERIFY(!rig.motion.GotoDone);
    QCOMPARE(describe(rig.sound.calls), (QStringList{"BegSlew loop", "EndSlew once"}));

    const QStringList frames = rig.sim.framesHex();
    QCOMPARE(frames.mid(0, 3),
             (QStringList{kGetPositionFrame, kGetPositionFrame, "50 04 12 02 00 4E 20 00"}));
    QCOMPARE(frames.count("50 04 12 02 00 4E 20 00"), 1);
    QVERIFY(frames.count(kIsSlewDoneFrame) >= 2); // a move of ~5 s takes several passes
    // Passes alternate readout and query; the last query saw the move done.
    for (int i = 3; i + 1 < frames.size() - 1; i += 2) {
        QCOMPARE(frames.at(i), kGetPositionFrame);
        QCOMPARE(frames.at(i + 1), kIsSlewDoneFrame);
    }
    QCOMPARE(frames.last(), kGetPositionFrame);
}

void TestGotoController::gotoAndWaitInCalibration() {
    GotoRig rig(wideTravel(-500));
    rig.settings.SlewingSound = true;
    rig.settings.CompletionSound = true;
    rig.motion.CalibrationRunning = true;
    QVERIFY(rig.gotos.GotoAndWait(16775716, rig.sim.link.StopCount())); // from -500 down to -1500
    QCOMPARE(rig.sim.model.position(), quint32(16775716));
    QCOMPARE(rig.motion.MotionDirection, -1);
    // No end sound inside a calibration: its own steps decide what plays.
    QCOMPARE(describe(rig.sound.calls), QStringList{"BegSlew loop"});
}

void TestGotoController::gotoAndWaitCancelled() {
    GotoRig rig(wideTravel(1000));
    rig.settings.SlewingSound = true;
    rig.settings.CompletionSound = true;
    rig.sim.model.setLimitBytes(1, 2);
    rig.sim.model.setMemory(0x46, 7);
    rig.sim.model.setMemory(0x47, 9);
    rig.motion.CalibrationRunning = true;
    rig.motion.JogRate = 2;
    qsizetype framesAtCancel = -1;
    rig.sim.platform.onPump([&] {
        // Pressed while the wait sleeps or queries, not while the readout is read.
        const auto& frames = rig.sim.model.frames();
        const bool afterQuery =
            !frames.isEmpty() && static_cast<quint8>(frames.last().at(3)) == 0x13;
        if (framesAtCancel < 0 && afterQuery && rig.sim.platform.nowMs() >= 1500) {
            rig.motion.CalibrationRunning = false; // the calibration's Cancel button
            framesAtCancel = rig.sim.model.frames().size();
        }
    });
    QVERIFY(!rig.gotos.GotoAndWait(200000, rig.sim.link.StopCount()));
    QVERIFY(framesAtCancel > 0);

    // Within one pass: the readout, then the stop and the clean-up, nothing else.
    const QStringList after = rig.sim.framesHex().mid(framesAtCancel);
    QCOMPARE(after, (QStringList{kGetPositionFrame,
                                 "50 02 12 24 00 00 00 00", // MoveAtRate 0
                                 "50 02 12 EF 01 00 00 00", // SetAutoStop 1
                                 "50 02 12 1B 00 00 00 00", // SetLimitMax (0, 0)
                                 "50 02 12 1A 00 00 00 00", // SetLimitMin (0, 0)
                                 "50 03 12 31 47 00 00 00", // SetRealLimitMax 0
                                 "50 03 12 31 48 00 00 00", "50 03 12 31 49 00 00 00",
                                 "50 03 12 31 44 00 00 00", // SetRealLimitMin 0
                                 "50 03 12 31 45 00 00 00", "50 03 12 31 46 00 00 00"}));
    QVERIFY(!rig.sim.model.isMoving());
    QVERIFY(rig.sim.model.autoStop());
    QCOMPARE(rig.sim.model.limitMinByte(), 0);
    QCOMPARE(rig.sim.model.limitMaxByte(), 0);
    QCOMPARE(rig.sim.model.memory(0x46), quint8(0));
    QCOMPARE(rig.sim.model.memory(0x47), quint8(0));
    QCOMPARE(rig.motion.JogRate, 0);
    QCOMPARE(rig.motion.MotionDirection, 0);
    QCOMPARE(describe(rig.sound.calls), QStringList{"BegSlew loop"});
}

void TestGotoController::gotoAndWaitPassLength_data() {
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("slices");
    QTest::newRow("default 4") << 4 << 5;
    QTest::newRow("1") << 1 << 20;
    QTest::newRow("3 rounds up") << 3 << 7;
    QTest::newRow("6 rounds down") << 6 << 3;
    QTest::newRow("8 half to even 2") << 8 << 2;
    QTest::newRow("40 still waits one slice") << 40 << 1;
    QTest::newRow("0 taken as 4") << 0 << 5;
    QTest::newRow("negative taken as 4") << -3 << 5;
}

void TestGotoController::gotoAndWaitPassLength() {
    QFETCH(int, frequency);
    QFETCH(int, slices);
    // The focuser already stands on the target: one pass sees the move done.
    GotoRig rig(wideTravel(1000));
    rig.settings.Frequency = frequency;
    QHash<qint64, int> sleeps;
    qint64 last = rig.sim.platform.nowMs();
    rig.sim.platform.onAdvance([&](qint64 now) {
        sleeps[now - last] += 1;
        last = now;
    });
    QVERIFY(rig.gotos.GotoAndWait(1000, rig.sim.link.StopCount()));
    QCOMPARE(rig.sim.framesHex().count(kIsSlewDoneFrame), 1);
    QCOMPARE(sleeps.value(kGotoWaitSliceMs), slices);
    QCOMPARE(sleeps.value(kGotoSettleSliceMs), 5);
}

QTEST_GUILESS_MAIN(TestGotoController)
#include "tst_gotocontroller.moc"
