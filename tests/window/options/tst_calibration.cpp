#include "tst_options.h"

#include "core/device/calibration.h"
#include "core/units/positionunits.h"
#include "optionsrig.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;
namespace F = tarnivel::test::frames;

namespace {

// Where a test presses Cancel.
enum Phase {
    LeftEdge,
    RightEdge,
    Recentre,
    MiddleRun,
    MiddleGoto,
    QuickLeftEdge,
    QuickGoto,
};

// A rate slow enough that every search and run is still under way at its first poll.
sim::SimConfig SlowConfig(qint64 travel, int rateSpeed, int slewSpeed) {
    sim::SimConfig c = TravelConfig(travel);
    c.rateSpeeds[9] = rateSpeed;
    c.slewSpeed = slewSpeed;
    return c;
}

int messageId(const QString& frame) {
    return frame.section(QLatin1Char(' '), 3, 3).toInt(nullptr, 16);
}

QStringList operator+(QStringList a, const QString& b) {
    a << b;
    return a;
}

// What a completed full calibration writes, phase by phase.
QStringList FullCalibrationWrites(int travel, int half, int minByte, int maxByte,
                                  bool rightEdgeRearm) {
    QStringList w;
    w << F::SetLimitMax(0) << F::SetLimitMin(0) << F::Write24(0x47, 0) << F::Write24(0x44, 0)
      << F::SetAutoStop(1) << F::SetCalibrated(0);
    w << F::MoveAtRate(-9) << F::MoveAtRate(0) << F::SetPosition(0);
    w << F::SetAutoStop(0) << F::MoveAtRate(9);
    if (rightEdgeRearm)
        w << F::SetAutoStop(1);
    w << F::MoveAtRate(0);
    w << F::SetPosition(half) << F::SetAutoStop(0);
    w << F::MoveAtRate(-9) << F::SetAutoStop(1) << F::GotoPosition(0);
    w << F::MoveAtRate(0) << F::SetLimitMax(maxByte) << F::SetLimitMin(minByte)
      << F::Write24(0x47, WrapSteps(half)) << F::Write24(0x44, WrapSteps(-half))
      << F::SetAutoStop(1) << F::Write24(0x41, travel) << F::SetCalibrated(1);
    return w;
}

// The frames of the cancel ending, from stopping the motor to the quick-calibration check.
QStringList CancelEndingFrames() {
    QStringList f;
    f << F::MoveAtRate(0) << F::SetAutoStop(1) << F::SetLimitMax(0) << F::SetLimitMin(0)
      << F::Write24(0x47, 0) << F::Write24(0x44, 0) << F::GetPosition() << F::Read24(0x44)
      << F::Read24(0x47) << F::Read24(0x41);
    return f;
}

// A silent controller gets every frame twice (the link's two attempts).
QStringList Undoubled(const QStringList& frames) {
    QStringList out;
    for (const QString& f : frames)
        if (out.isEmpty() || out.last() != f)
            out << f;
    return out;
}

QStringList CancelEndingWrites() {
    return F::Writes(CancelEndingFrames());
}

// The controls the ending gives back to the operator.
void VerifyControlsBack(const OptionsRig& o) {
    for (const char* name :
         {"cmdCalibrate", "fraOptions", "fraAutoStop", "fraLimits", "fraSoundEffects", "fraReset",
          "fraDecimals", "cmdCancel", "cmdOk", "cmdShowStates"})
        QVERIFY2(o.child<QWidget>(name)->isEnabled(), name);
    QVERIFY(!o.child<QPushButton>("cmdCancelCalibrate")->isVisible());
    QVERIFY(!o.rig.motion.CalibrationRunning);
    QCOMPARE(o.rig.motion.JogRate, 0);
    QVERIFY(o.dialog->isVisible());
}

// The state every ending but completion leaves behind.
void VerifyCancelled(const OptionsRig& o, const QString& label) {
    QCOMPARE(o.child<QLabel>("lblCalibrate")->text(), label);
    QVERIFY(!o.model.isMoving());
    QCOMPARE(o.model.limitMinByte(), 0);
    QCOMPARE(o.model.limitMaxByte(), 0);
    QCOMPARE(o.register24(0x44), 0);
    QCOMPARE(o.register24(0x47), 0);
    QVERIFY(o.model.autoStop());
    QCOMPARE(o.model.memory(0x40), quint8(0));
    QVERIFY(o.child<QCheckBox>("chkAutoStop")->isChecked());
    QVERIFY(!o.child<QCheckBox>("chkLimits")->isChecked());
    VerifyControlsBack(o);
    QVERIFY(!o.child<QPushButton>("cmdQuickCalibrate")->isEnabled());
}

} // namespace

void TestCalibration::fullCalibration_data() {
    QTest::addColumn<int>("travel");
    QTest::addColumn<int>("rateSpeed");
    QTest::addColumn<int>("half");
    QTest::addColumn<int>("realMin");
    QTest::addColumn<int>("minByte");
    QTest::addColumn<int>("maxByte");
    QTest::addColumn<bool>("limitsShown");
    QTest::newRow("odd travel 1001") << 1001 << 4000 << 500 << 16776716 << 0 << 0 << false;
    QTest::newRow("odd travel 1003") << 1003 << 4000 << 502 << 16776714 << 0 << 0 << false;
    QTest::newRow("even travel 1000") << 1000 << 4000 << 500 << 16776716 << 0 << 0 << false;
    // 150000 lies in block 2, -150000 (raw 16627216) in block 253.
    QTest::newRow("long travel 300001")
        << 300001 << 100000 << 150000 << 16627216 << 254 << 1 << true;
}

void TestCalibration::fullCalibration() {
    QFETCH(int, travel);
    QFETCH(int, rateSpeed);
    QFETCH(int, half);
    QFETCH(int, realMin);
    QFETCH(int, minByte);
    QFETCH(int, maxByte);
    QFETCH(bool, limitsShown);
    sim::SimConfig c = SlowConfig(travel, rateSpeed, 40000);
    c.startPosition = travel / 5;
    OptionsRig o(c);
    int mark = 0;
    o.open([&](frmOptions&) {
        mark = o.frames().size();
        o.click("cmdCalibrate");
    });

    QCOMPARE(F::Writes(o.framesSince(mark)),
             FullCalibrationWrites(travel, half, minByte, maxByte, false));
    QCOMPARE(o.model.memory(0x40), quint8(1));
    QCOMPARE(o.register24(0x41), travel);
    QCOMPARE(o.register24(0x44), realMin);
    QCOMPARE(o.register24(0x47), half);
    QCOMPARE(o.model.limitMinByte(), minByte);
    QCOMPARE(o.model.limitMaxByte(), maxByte);
    QVERIFY(o.model.autoStop());
    // Zero is the middle: the upper end stop reads +half.
    QCOMPARE(o.model.position(), quint32(0));
    QCOMPARE(o.model.place(), c.upperEndStop - half);
    o.model.placeAt(c.upperEndStop);
    QCOMPARE(static_cast<int>(o.model.position()), half);
    o.model.placeAt(c.lowerEndStop);
    QCOMPARE(SignedSteps(static_cast<int>(o.model.position())), half - travel);

    QCOMPARE(o.child<QLabel>("lblCalibrate")->text(),
             QStringLiteral("Calibration Complete\r\n-- Ready --"));
    QCOMPARE(o.child<QCheckBox>("chkLimits")->isChecked(), limitsShown);
    QVERIFY(o.dialog->CalibrationCompleted);
    QVERIFY(o.child<QCheckBox>("chkAutoStop")->isChecked());
    QVERIFY(o.child<QPushButton>("cmdQuickCalibrate")->isEnabled());
    VerifyControlsBack(o);
    QCOMPARE(o.rig.motion.MotionDirection, 0);
    QCOMPARE(o.rig.motion.CurrentPosition, 0);
}

void TestCalibration::fullCalibrationSounds() {
    for (const bool completion : {true, false}) {
        OptionsRig o(SlowConfig(1001, 4000, 4000));
        o.rig.settings.SlewingSound = true;
        o.rig.settings.CompletionSound = completion;
        o.open([&](frmOptions&) { o.click("cmdCalibrate"); });
        const SoundCall edge =
            completion ? SoundCall{QStringLiteral("EndSlew"), false} : SoundCall{QString(), false};
        const SoundCall silence{QString(), false};
        // Left edge, right edge, the move to the middle (no end sound inside a
        // calibration), completion, and the silence that ends it.
        QCOMPARE(o.rig.sound.calls,
                 QList<SoundCall>(
                     {edge, edge, SoundCall{QStringLiteral("BegSlew"), true}, edge, silence}));
    }
}

void TestCalibration::quickCalibration_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("rateSpeed");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("lowerRaw");
    QTest::addColumn<int>("minByte");
    QTest::addColumn<int>("maxByte");
    QTest::addColumn<bool>("limitsShown");
    QTest::newRow("stored 40000") << 40000 << 4000 << 20000 << 16757216 << 0 << 0 << false;
    // 200000 lies in block 3, -200000 (raw 16577216) in block 252.
    QTest::newRow("stored 400000") << 400000 << 100000 << 200000 << 16577216 << 253 << 2 << true;
    QTest::newRow("stored 1001") << 1001 << 4000 << 500 << 16776716 << 0 << 0 << false;
}

void TestCalibration::quickCalibration() {
    QFETCH(int, stored);
    QFETCH(int, rateSpeed);
    QFETCH(int, h);
    QFETCH(int, lowerRaw);
    QFETCH(int, minByte);
    QFETCH(int, maxByte);
    QFETCH(bool, limitsShown);
    sim::SimConfig c = SlowConfig(stored, rateSpeed, 40000);
    c.startPosition = stored / 3;
    OptionsRig o(c);
    // Stored by an earlier full calibration and shifted since by a Reset at 1234.
    o.model.setMemory(0x40, 1);
    o.setRegister24(0x41, stored);
    o.setRegister24(0x44, WrapSteps(-h - 1234));
    o.setRegister24(0x47, h - 1234);
    int mark = 0;
    bool offered = false;
    o.open([&](frmOptions&) {
        offered = o.child<QPushButton>("cmdQuickCalibrate")->isEnabled();
        mark = o.frames().size();
        o.click("cmdQuickCalibrate");
    });
    QVERIFY(offered);

    QStringList w;
    w << F::SetLimitMax(0) << F::SetLimitMin(0) << F::SetAutoStop(1) << F::SetCalibrated(0);
    w << F::MoveAtRate(-9) << F::MoveAtRate(0) << F::SetPosition(lowerRaw);
    w << F::SetAutoStop(1) << F::GotoPosition(0);
    w << F::MoveAtRate(0) << F::SetLimitMax(maxByte) << F::SetLimitMin(minByte)
      << F::Write24(0x47, h) << F::Write24(0x44, lowerRaw) << F::SetAutoStop(1)
      << F::SetCalibrated(1);
    const QStringList sent = o.framesSince(mark);
    QCOMPARE(F::Writes(sent), w);
    // The stored travel is read once, after the preparation and before anything moves.
    const int prepared = sent.indexOf(F::SetCalibrated(0));
    QCOMPARE(sent.mid(prepared + 1, 4), QStringList() << F::Read24(0x41) << F::MoveAtRate(-9));

    QCOMPARE(o.model.memory(0x40), quint8(1));
    QCOMPARE(o.register24(0x41), stored);
    QCOMPARE(o.register24(0x44), lowerRaw);
    QCOMPARE(o.register24(0x47), h);
    QCOMPARE(o.model.limitMinByte(), minByte);
    QCOMPARE(o.model.limitMaxByte(), maxByte);
    QCOMPARE(o.model.position(), quint32(0));
    QCOMPARE(o.model.place(), c.lowerEndStop + h);
    o.model.placeAt(c.lowerEndStop);
    QCOMPARE(static_cast<int>(o.model.position()), lowerRaw);
    QCOMPARE(o.child<QLabel>("lblCalibrate")->text(),
             QStringLiteral("Calibration Complete\r\n-- Ready --"));
    QCOMPARE(o.child<QCheckBox>("chkLimits")->isChecked(), limitsShown);
    QVERIFY(o.child<QCheckBox>("chkAutoStop")->isChecked());
    QVERIFY(o.child<QPushButton>("cmdQuickCalibrate")->isEnabled());
    VerifyControlsBack(o);
}

void TestCalibration::quickAfterResetStoresCentredLimits() {
    OptionsRig o(SlowConfig(1000, 4000, 4000));
    QStringList quickWrites;
    o.open([&](frmOptions&) {
        o.click("cmdCalibrate");
        o.model.placeAt(200);
        o.rig.console.DisplayPosition();
        o.click("cmdReset");
        QCOMPARE(o.register24(0x44), WrapSteps(-700));
        QCOMPARE(o.register24(0x47), 300);
        const int mark = o.frames().size();
        o.click("cmdQuickCalibrate");
        quickWrites = F::Writes(o.framesSince(mark));
    });
    // The same limits a full calibration stores: the travel's ends seen from its middle.
    QCOMPARE(o.register24(0x44), WrapSteps(-500));
    QCOMPARE(o.register24(0x47), 500);
    QVERIFY(quickWrites.join(QLatin1Char('|'))
                .contains((F::Write24(0x47, 500) + F::Write24(0x44, WrapSteps(-500)))
                              .join(QLatin1Char('|'))));
    QCOMPARE(o.model.position(), quint32(0));
    QCOMPARE(o.model.place(), qint64(0));
    o.model.placeAt(-500);
    QCOMPARE(static_cast<int>(o.model.position()), WrapSteps(-500));
}

void TestCalibration::cancel_data() {
    QTest::addColumn<int>("phase");
    QTest::addColumn<QStringList>("afterClick");
    QTest::addColumn<QString>("label");
    const QString cancelled = QStringLiteral("Cancelled!");
    const QStringList click{F::MoveAtRate(0)};
    const QStringList inGoto = click + F::GetPosition() + F::MoveAtRate(0) + F::SetAutoStop(1) +
                               F::SetLimitMax(0) + F::SetLimitMin(0) + F::Write24(0x47, 0) +
                               F::Write24(0x44, 0);
    QTest::newRow("left edge") << int(LeftEdge) << click + CancelEndingFrames() << cancelled;
    QTest::newRow("right edge") << int(RightEdge) << click + CancelEndingFrames() << cancelled;
    QTest::newRow("re-centre") << int(Recentre) << click + F::SetAutoStop(0) + CancelEndingFrames()
                               << cancelled;
    QTest::newRow("middle, rate run")
        << int(MiddleRun) << click + CancelEndingFrames() << cancelled;
    QTest::newRow("middle, inside GotoAndWait")
        << int(MiddleGoto) << inGoto + CancelEndingFrames() << cancelled;
    // The counter was moved: a calibration is needed, and the dialog says so.
    QTest::newRow("quick, inside GotoAndWait")
        << int(QuickGoto) << inGoto + CancelEndingFrames()
        << cancelled + QStringLiteral("\r\nFocuser requires Calibrating before using.");
}

void TestCalibration::cancel() {
    QFETCH(int, phase);
    QFETCH(QStringList, afterClick);
    QFETCH(QString, label);
    OptionsRig o(SlowConfig(1001, 400, 200));
    o.storeCalibration(1001);
    o.setRegister24(0x41, 777);
    const bool quick = phase == QuickLeftEdge || phase == QuickGoto;

    const QString lastFrameWanted =
        (phase == MiddleGoto || phase == QuickGoto) ? F::IsSlewDone() : F::GetPosition();
    const auto inPhase = [&]() -> bool {
        const QString label = o.child<QLabel>("lblCalibrate")->text();
        switch (phase) {
        case LeftEdge:
        case QuickLeftEdge:
            return label == kLabelLeftEdge && o.model.rate() < 0 && !o.model.atLowerEndStop();
        case RightEdge:
            return label.endsWith(kLabelRightEdge) && o.model.rate() > 0 &&
                   !o.model.atUpperEndStop();
        case Recentre: {
            int setPositions = 0;
            for (const QString& f : o.frames())
                setPositions += messageId(f) == 4 ? 1 : 0;
            return setPositions == 2 && !label.contains(kLabelMiddle);
        }
        case MiddleRun:
            return label.endsWith(kLabelMiddle) && o.model.rate() < 0 && !o.model.atLowerEndStop();
        default:
            return o.model.isGotoRunning();
        }
    };
    bool clicked = false;
    int mark = 0;
    o.rig.sim.platform.onPump([&] {
        // Only between commands, so that the click's own stop command cannot cut into
        // another command's answer.
        if (clicked || !o.rig.motion.CalibrationRunning || o.model.nextArrival() != -1 ||
            o.frames().isEmpty() || o.frames().last() != lastFrameWanted || !inPhase())
            return;
        clicked = true;
        mark = o.frames().size();
        o.click("cmdCancelCalibrate");
    });
    o.open([&](frmOptions&) { o.click(quick ? "cmdQuickCalibrate" : "cmdCalibrate"); });

    QVERIFY(clicked);
    QCOMPARE(o.framesSince(mark), afterClick);
    VerifyCancelled(o, label);
    QCOMPARE(o.register24(0x41), 777);
}

void TestCalibration::cancelInsideACommand_data() {
    QTest::addColumn<bool>("atFirstPump");
    QTest::newRow("preparation") << true;
    QTest::newRow("left edge, waiting for an answer") << false;
}

void TestCalibration::cancelInsideACommand() {
    QFETCH(bool, atFirstPump);
    OptionsRig o(SlowConfig(1001, 400, 200));
    bool clicked = false;
    int mark = 0;
    o.rig.sim.platform.onPump([&] {
        if (clicked || !o.rig.motion.CalibrationRunning || o.model.nextArrival() == -1)
            return;
        if (!atFirstPump && o.model.rate() >= 0)
            return;
        clicked = true;
        mark = o.frames().size();
        o.click("cmdCancelCalibrate");
    });
    o.open([&](frmOptions&) { o.click("cmdCalibrate"); });
    QVERIFY(clicked);
    const QStringList writes = F::Writes(o.framesSince(mark));
    QCOMPARE(writes.first(), F::MoveAtRate(0));
    QCOMPARE(writes.mid(writes.size() - CancelEndingWrites().size()), CancelEndingWrites());
    // No new search starts; a move command whose answer the click cut off is sent again
    // by the link, so the ending's stop is what leaves the motor still.
    QVERIFY(!writes.contains(F::MoveAtRate(9)));
    if (atFirstPump)
        QVERIFY(!o.frames().contains(F::MoveAtRate(-9)));
    VerifyCancelled(o, QStringLiteral("Cancelled!"));
}

void TestCalibration::rightEdgeRearm_data() {
    QTest::addColumn<int>("rateSpeed");
    QTest::addColumn<int>("rearms");
    QTest::newRow("edge within 5 s") << 4000 << 0;
    QTest::newRow("edge after 10 s") << 100 << 1;
    QTest::newRow("edge after 40 s") << 25 << 1;
}

void TestCalibration::rightEdgeRearm() {
    QFETCH(int, rateSpeed);
    QFETCH(int, rearms);
    OptionsRig o(SlowConfig(1001, rateSpeed, 40000));
    o.model.placeAt(o.model.config().lowerEndStop + 10); // a short way to the left edge
    qint64 searchStart = -1;
    QList<qint64> rearmTimes;
    bool autoStopAtUpperEdge = false;
    o.model.onExchange = [&](const QByteArray& frame, const QByteArray&) {
        const QString hex = sim::ControllerModel::toHex(frame);
        if (hex == F::MoveAtRate(9))
            searchStart = o.model.now();
        else if (hex == F::MoveAtRate(0) && searchStart >= 0 && o.model.atUpperEndStop())
            autoStopAtUpperEdge = autoStopAtUpperEdge || o.model.autoStop();
        else if (hex == F::SetAutoStop(1) && searchStart >= 0 &&
                 !o.child<QLabel>("lblCalibrate")->text().contains(kLabelMiddle))
            rearmTimes << o.model.now() - searchStart;
    };
    o.open([&](frmOptions&) { o.click("cmdCalibrate"); });

    QCOMPARE(rearmTimes.size(), rearms);
    if (rearms == 1) {
        // Five seconds after the search began, within one poll of the mark.
        QVERIFY2(rearmTimes.first() >= 5000 && rearmTimes.first() <= 6200,
                 qPrintable(QString::number(rearmTimes.first())));
        QVERIFY(autoStopAtUpperEdge);
    }
    QCOMPARE(o.child<QLabel>("lblCalibrate")->text(), kLabelComplete);
    QCOMPARE(o.register24(0x41), 1001);
}

void TestCalibration::silentFocuserFails_data() {
    QTest::addColumn<int>("direction");
    QTest::newRow("left edge") << -1;
    QTest::newRow("right edge") << 1;
}

void TestCalibration::silentFocuserFails() {
    QFETCH(int, direction);
    OptionsRig o(SlowConfig(1001, 400, 4000));
    o.rig.sim.platform.onPump([&] {
        if (!o.model.silent() && o.rig.motion.CalibrationRunning && o.model.rate() * direction > 0)
            o.model.setSilent(true);
    });
    o.open([&](frmOptions&) { o.click("cmdCalibrate"); });
    QVERIFY(o.model.silent());
    o.model.setSilent(false);

    QCOMPARE(o.child<QLabel>("lblCalibrate")->text(),
             QStringLiteral("Calibration failed: focuser not responding"));
    QCOMPARE(o.model.memory(0x40), quint8(0));
    QCOMPARE(o.register24(0x41), 0);
    const QStringList writes = Undoubled(F::Writes(o.frames()));
    QVERIFY(!writes.contains(F::SetCalibrated(1)));
    QCOMPARE(writes.mid(writes.size() - CancelEndingWrites().size()), CancelEndingWrites());
    QVERIFY(o.child<QCheckBox>("chkAutoStop")->isChecked());
    VerifyControlsBack(o);
    QVERIFY(!o.child<QPushButton>("cmdQuickCalibrate")->isEnabled());
}

void TestCalibration::unreadableStoredTravelFails() {
    OptionsRig o(SlowConfig(40000, 4000, 4000));
    o.storeCalibration(40000);
    // Both attempts to read the first byte of the stored travel go unanswered.
    o.model.onExchange = [&](const QByteArray& frame, const QByteArray&) {
        if (sim::ControllerModel::toHex(frame) == F::SetCalibrated(0))
            o.model.injectFault(48, sim::Fault::NoAnswer, 2);
    };
    int mark = 0;
    o.open([&](frmOptions&) {
        mark = o.frames().size();
        o.click("cmdQuickCalibrate");
    });
    QStringList w;
    w << F::SetLimitMax(0) << F::SetLimitMin(0) << F::SetAutoStop(1) << F::SetCalibrated(0);
    // Nothing moved the counter: the stored calibration stays as after a Cancel (this used to
    // clear the real limits as well).
    w << F::MoveAtRate(0) << F::SetAutoStop(1) << F::SetLimitMax(0) << F::SetLimitMin(0)
      << F::SetCalibrated(1);
    QCOMPARE(F::Writes(o.framesSince(mark)), w);
    QCOMPARE(o.child<QLabel>("lblCalibrate")->text(),
             QStringLiteral("Calibration failed: focuser not responding"));
    QCOMPARE(o.register24(0x44), 16757216);
    QCOMPARE(o.register24(0x41), 40000);
}

void TestCalibration::unconfirmedCompletionWriteFails_data() {
    QTest::addColumn<QString>("after"); // both attempts of the next SetCalibrated are lost
    QTest::addColumn<QString>("label");
    // The last byte of MaxTravel (1001).
    QTest::newRow("Calibrated flag") << "50 03 12 31 43 E9 00 00"
                                     << "Calibration failed: the controller did not confirm the "
                                        "Calibrated flag; calibrate again";
}

void TestCalibration::unconfirmedCompletionWriteFails() {
    QFETCH(QString, after);
    QFETCH(QString, label);
    OptionsRig o(SlowConfig(1001, 4000, 4000));
    o.model.onExchange = [&](const QByteArray& frame, const QByteArray&) {
        if (sim::ControllerModel::toHex(frame) == after)
            o.model.injectFault(49, sim::Fault::NoAnswer, 2);
    };
    o.open([&](frmOptions&) { o.click("cmdCalibrate"); });
    // The flag was obeyed all the same: it is cleared with the limits it would vouch for.
    VerifyCancelled(o, label);
}

void TestCalibration::noTravelFails() {
    sim::SimConfig c = TravelConfig(1001);
    c.rateSpeeds[9] = 0; // the motor hums but nothing moves
    OptionsRig o(c);
    o.storeCalibration(1001);
    int mark = 0;
    o.open([&](frmOptions&) {
        mark = o.frames().size();
        o.click("cmdCalibrate");
    });
    const QStringList writes = F::Writes(o.framesSince(mark));
    QCOMPARE(writes.mid(writes.size() - CancelEndingWrites().size()), CancelEndingWrites());
    // Stopped after the right edge: nothing of the re-centring or the completion.
    QCOMPARE(writes.mid(writes.size() - CancelEndingWrites().size() - 3, 3),
             QStringList() << F::SetAutoStop(0) << F::MoveAtRate(9) << F::MoveAtRate(0));
    VerifyCancelled(o, QStringLiteral("Calibration failed: no travel measured"));
    QCOMPARE(o.register24(0x41), 1001);
}

void TestCalibration::escAndCloseCancelWhileRunning_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Esc") << false;
    QTest::newRow("close box") << true;
}

void TestCalibration::escAndCloseCancelWhileRunning() {
    QFETCH(bool, closeBox);
    OptionsRig o(SlowConfig(1001, 400, 4000));
    bool tried = false;
    o.rig.sim.platform.onPump([&] {
        if (tried || !o.rig.motion.CalibrationRunning || o.model.rate() >= 0)
            return;
        tried = true;
        if (closeBox)
            o.dialog->close();
        else
            QTest::keyClick(o.dialog.get(), Qt::Key_Escape);
    });
    bool visibleAfterCalibration = false;
    o.open([&](frmOptions& d) {
        o.click("cmdCalibrate");
        visibleAfterCalibration = d.isVisible();
    });
    QVERIFY(tried);
    QVERIFY(visibleAfterCalibration);
    VerifyCancelled(o, QStringLiteral("Cancelled!"));
}

void TestCalibration::quickCancelBeforeTheCounterKeepsTheCalibration() {
    OptionsRig o(SlowConfig(1001, 400, 200));
    o.storeCalibration(1001);
    const int lower = o.register24(0x44);
    const int upper = o.register24(0x47);
    bool clicked = false;
    int mark = 0;
    o.rig.sim.platform.onPump([&] {
        if (clicked || !o.rig.motion.CalibrationRunning || o.model.nextArrival() != -1 ||
            o.frames().isEmpty() || o.frames().last() != F::GetPosition() || o.model.rate() >= 0 ||
            o.model.atLowerEndStop())
            return;
        clicked = true;
        mark = o.frames().size();
        o.click("cmdCancelCalibrate");
    });
    o.open([&](frmOptions&) { o.click("cmdQuickCalibrate"); });
    QVERIFY(clicked);
    QCOMPARE(F::Writes(o.framesSince(mark)),
             (QStringList{F::MoveAtRate(0), F::MoveAtRate(0), F::SetAutoStop(1), F::SetLimitMax(0),
                          F::SetLimitMin(0), F::SetCalibrated(1)}));
    QCOMPARE(o.child<QLabel>("lblCalibrate")->text(), QStringLiteral("Cancelled!"));
    QCOMPARE(o.register24(0x44), lower);
    QCOMPARE(o.register24(0x47), upper);
    QCOMPARE(o.model.memory(0x40), quint8(1));
    QVERIFY(o.child<QPushButton>("cmdQuickCalibrate")->isEnabled());
    QVERIFY(!o.dialog->CalibrationNeeded);
    QVERIFY(!o.dialog->CalibrationCompleted);
}
