#include "consolerig.h"
#include "core/motion/positionunits.h"

#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

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
