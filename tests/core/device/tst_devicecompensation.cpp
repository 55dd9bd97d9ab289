#include "consolerig.h"
#include "core/motion/motionstate.h"
#include "core/units/positionunits.h"

#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

constexpr int kTickMs = 50;
const QString kApproachPrefix = QStringLiteral("50 04 12 17");

// Calibrated: a 200000-step travel as a full calibration leaves it, centred on 0, MaxTravel
// 0x030D40, real limits -100000 (0xFE7960) and +100000 (0x0186A0). Else the whole counter.
sim::SimConfig Controller(bool calibrated, int limitMinByte, int limitMaxByte, qint64 start) {
    sim::SimConfig c;
    c.lowerEndStop = calibrated ? -100000 : -4000000;
    c.upperEndStop = -c.lowerEndStop;
    c.startPosition = start;
    c.limitMinByte = limitMinByte;
    c.limitMaxByte = limitMaxByte;
    c.registers = {quint8(calibrated), 0x03, 0x0D, 0x40, 0xFE, 0x79, 0x60, 0x01, 0x86, 0xA0};
    return c;
}

} // namespace

Q_DECLARE_METATYPE(sim::SimConfig)

// The device's part of compensation against the simulated controller: the reading goes to
// the rule, the move comes back as a raw goto target, other moves and STOP act on it.
class TestDeviceCompensation : public QObject {
    Q_OBJECT

    std::unique_ptr<ConsoleRig> rig;

    // One status reading with sensor 1 at celsius; the raw target of a move due, or -1.
    int Reading(double celsius) {
        rig->sim.model.setTemperature(1, celsius);
        InlinePacer pacer(rig->sim.platform);
        rig->device.ReadStatus(pacer, [] { return 0; }).RunToEnd();
        return rig->device.TempCompTarget().value_or(-1);
    }

private Q_SLOTS:
    void init() {
        rig = std::make_unique<ConsoleRig>();
        rig->sim.connect();
        rig->settings.TempCompCoefficient = -80;
        rig->settings.TempCompAverage = 0;
        rig->motion.CurrentPosition = 1000;
    }

    void followsResetsAndStops() {
        QCOMPARE(Reading(20.0), -1);
        QVERIFY(rig->device.SetTempComp(true).ok());
        QCOMPARE(Reading(19.5), 1040);
        QCOMPARE(rig->device.State().tempCompMove,
                 QString::fromUtf8("Temp comp: +40 steps at 19.5 °C"));
        // Its own goto ending keeps the reference; a goto of the operator's moves it.
        rig->motion.CurrentPosition = 1040;
        rig->device.FinishGoto();
        QCOMPARE(Reading(19.0), 1080);
        rig->motion.CurrentPosition = 1080;
        rig->device.FinishGoto();
        rig->motion.CurrentPosition = 5000;
        rig->device.FinishGoto();
        QCOMPARE(Reading(18.5), -1); // the new reference: 18.5 °C at 5000
        QCOMPARE(Reading(18.0), 5040);
        rig->device.StopTempComp();
        QVERIFY(!rig->device.State().tempCompOn);
        QCOMPARE(rig->device.State().tempCompStatus, QString("Temp comp off: stopped"));
        QCOMPARE(Reading(17.0), -1);
    }

    // Switched on at 20.0 °C; one reading later the correction runs as the window runs it. Every
    // ApproachPosition frame it sent, in order.
    void correction_data() {
        QTest::addColumn<sim::SimConfig>("controller");
        QTest::addColumn<int>("approach");
        QTest::addColumn<double>("celsius");
        QTest::addColumn<QStringList>("legs");
        QTest::addColumn<quint32>("reached");
        QTest::newRow("toward the approach side: straight")
            << Controller(true, 0xFF, 0, 1000) << 1 << 20.5
            << QStringList{"50 04 12 17 00 03 C0 00"} << 960u;
        QTest::newRow("against it: a short overshoot, above the middle")
            << Controller(true, 0xFF, 0, 50000) << 1 << 19.5
            << QStringList{"50 04 12 17 00 C3 AA 00", "50 04 12 17 00 C3 78 00"} << 50040u;
        QTest::newRow("the overshoot stops at the upper end stop")
            << Controller(true, 0xFF, 0, 99940) << 1 << 19.5
            << QStringList{"50 04 12 17 01 86 A0 00", "50 04 12 17 01 86 8C 00"} << 99980u;
        QTest::newRow("the overshoot stops at the lower end stop")
            << Controller(true, 253, 2, -99940) << 0 << 20.5
            << QStringList{"50 04 12 17 FE 79 60 00", "50 04 12 17 FE 79 74 00"} << 16677236u;
        QTest::newRow("the overshoot stops at an active upper limit")
            << Controller(false, 253, 2, 131000) << 1 << 19.5
            << QStringList{"50 04 12 17 02 00 00 00", "50 04 12 17 01 FF E0 00"} << 131040u;
    }
    void correction() {
        QFETCH(sim::SimConfig, controller);
        QFETCH(int, approach);
        QFETCH(double, celsius);
        ConsoleRig r(controller);
        r.sim.connect();
        r.settings.TempCompCoefficient = -80;
        r.settings.TempCompAverage = 0;
        r.settings.Approach = approach;
        qint32 byte = 0; // the window reads both limits at connect
        r.sim.commands.GetLimitMin(byte);
        r.sim.commands.GetLimitMax(byte);
        r.device.ReadTravelInPlace();
        r.motion.CurrentPosition = r.sim.commands.GetPosition();
        r.sim.model.setTemperature(1, 20.0);
        InlinePacer pacer(r.sim.platform);
        r.device.ReadStatus(pacer, [] { return 0; }).RunToEnd();
        QVERIFY(r.device.SetTempComp(true).ok());
        r.sim.model.setTemperature(1, celsius);
        r.device.ReadStatus(pacer, [] { return 0; }).RunToEnd();
        const std::optional<int> raw = r.device.TempCompTarget();
        QVERIFY(raw);
        r.sim.clearFrames();
        QVERIFY(r.gotos.StartGoto(*raw, r.sim.link.StopCount(), r.device.TempCompOvershoot()));
        for (int i = 0; i < 2000 && r.motion.GotoMode == kGotoModeGoto; ++i) {
            r.gotos.RunStage();
            r.sim.platform.advance(kTickMs);
        }
        QStringList legs;
        for (const QString& frame : r.sim.framesHex())
            if (frame.startsWith(kApproachPrefix))
                legs << frame;
        QTEST(legs, "legs");
        QTEST(r.sim.model.position(), "reached");
    }

    void resetMovesTheFocusPoints() {
        Reading(14.5);
        QVERIFY(rig->device.MarkFocus().ok()); // at 1000
        QVERIFY(rig->device.ShiftCounter(0, false).ok());
        QCOMPARE(rig->settings.FocusPoints[0].Position, 0);
        QCOMPARE(rig->settings.FocusPoints[0].Sensor, 1);
    }

    void unavailableWithoutCoefficient() {
        rig->settings.TempCompCoefficient = 0;
        QCOMPARE(rig->device.SetTempComp(true).reason,
                 QString("Temperature compensation needs a coefficient: set it in the "
                         "options or fit it from marked focus points."));
    }

    void markFocusRecordsAPoint() {
        QVERIFY(!rig->device.MarkFocus().ok()); // no reading yet
        Reading(14.5);
        QVERIFY(rig->device.MarkFocus().ok());
        QCOMPARE(rig->settings.FocusPoints.size(), 1);
        QCOMPARE(rig->settings.FocusPoints[0].Celsius, 14.5);
        QCOMPARE(rig->settings.FocusPoints[0].Position, 1000);
    }
};

QTEST_GUILESS_MAIN(TestDeviceCompensation)
#include "tst_devicecompensation.moc"
