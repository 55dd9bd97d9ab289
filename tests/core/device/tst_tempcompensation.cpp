#include "core/device/tempcompensation.h"

#include <QtTest>
#include <cmath>

using namespace tarnivel;

namespace {

constexpr qint64 kReadingMs = 10000;
const TempCompConditions kReady{true, true, false, false, false, true};

TempCompParameters Rule(int averageSeconds = 0, int maxTravel = 2000, int overshoot = 0) {
    TempCompParameters p;
    p.coefficient = -80;
    p.averageSeconds = averageSeconds;
    p.maxTravel = maxTravel;
    p.overshoot = overshoot;
    return p;
}

FocusPoint Point(double celsius, int position) {
    return {celsius, position, QDateTime()};
}

} // namespace

class TestTempCompensation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Switched on at position 0 at the first reading, one reading every 10 s (NaN: the
    // sensor gave none), moves land on their target at once.
    void night_data() {
        QTest::addColumn<TempCompParameters>("rule");
        QTest::addColumn<TempCompConditions>("conditions");
        QTest::addColumn<int>("upperLimit");
        QTest::addColumn<QList<double>>("readings");
        QTest::addColumn<QList<int>>("targets");
        QTest::addColumn<bool>("stillOn");
        QTest::addColumn<QString>("status");
        const QList<double> cooling{20.0, 19.7, 19.4, 19.1};
        const int none = StepLimits::kNoUpperLimit;
        QTest::newRow("follows within the dead band")
            << Rule() << kReady << none << QList<double>{20.0, 19.9, 19.85, 19.8, 19.7}
            << QList<int>{12, 24} << true << "";
        QTest::newRow("dead band against sensor noise")
            << Rule(60) << kReady << none << QList<double>{20.0, 20.1, 19.9, 20.1, 19.9, 20.1}
            << QList<int>{} << true << "";
        QTest::newRow("no move while moving")
            << Rule() << TempCompConditions{true, false, false, false, false, true} << none
            << cooling << QList<int>{} << true << "Temp comp waits: focuser moving";
        QTest::newRow("no move while calibrating")
            << Rule() << TempCompConditions{true, true, true, false, false, true} << none << cooling
            << QList<int>{} << true << "Temp comp waits: calibration running";
        QTest::newRow("no move during an options exchange")
            << Rule() << TempCompConditions{true, true, false, true, false, true} << none << cooling
            << QList<int>{} << true << "Temp comp waits: options in use";
        QTest::newRow("no move while a command waits")
            << Rule() << TempCompConditions{true, true, false, false, true, true} << none << cooling
            << QList<int>{} << true << "Temp comp waits: command waiting";
        QTest::newRow("no move while disconnected")
            << Rule() << TempCompConditions{} << none << cooling << QList<int>{} << true
            << "Temp comp waits: not connected";
        QTest::newRow("no move after an unanswered position read")
            << Rule() << TempCompConditions{true, true, false, false, false, true, false} << none
            << cooling << QList<int>{} << true << "Temp comp waits: no position reading";
        QTest::newRow("no move on a failed read, average or not")
            << Rule(60) << kReady << none << QList<double>{20.0, 19.0, NAN} << QList<int>{40}
            << true << "Temp comp waits: no reading from sensor 1";
        QTest::newRow("the cap switches it off")
            << Rule(0, 50) << kReady << none << cooling << QList<int>{24, 48} << false
            << "Temp comp off: 48 steps travelled, the cap is 50";
        QTest::newRow("an upward correction counts its overshoot against the cap")
            << Rule(0, 100, 50) << kReady << none << cooling << QList<int>{} << false
            << "Temp comp off: 0 steps travelled, the cap is 100";
        QTest::newRow("downward corrections go straight")
            << Rule(0, 50, 50) << kReady << none << QList<double>{20.0, 20.3, 20.6}
            << QList<int>{-24, -48} << true << "";
        QTest::newRow("an overshoot clamped at the limit counts only what it runs")
            << Rule(0, 40, 50) << kReady << 30 << QList<double>{20.0, 19.7} << QList<int>{24}
            << true << "";
        QTest::newRow("clamped into the limits")
            << Rule() << kReady << 40 << cooling << QList<int>{24, 40} << true
            << "Temp comp waits: target beyond the limits";
    }

    void night() {
        QFETCH(TempCompParameters, rule);
        QFETCH(TempCompConditions, conditions);
        QFETCH(int, upperLimit);
        QFETCH(QList<double>, readings);
        TempCompensation comp;
        comp.setParameters(rule);
        int position = 0;
        QList<int> targets;
        for (int i = 0; i < readings.size(); ++i) {
            const qint64 now = i * kReadingMs;
            const double c = readings[i];
            comp.AddReading(now, {std::isnan(c) ? TemperatureReading() : c, 5.0, 6.0});
            if (i == 0)
                QVERIFY(comp.SwitchOn(position, now));
            const TempCompDecision d =
                comp.Decide(conditions, position, {StepLimits::kNoLowerLimit, upperLimit}, now);
            if (d.action == TempCompAction::Move)
                targets << (position = d.target);
        }
        QTEST(targets, "targets");
        QTEST(comp.On(), "stillOn");
        QTEST(comp.StatusText(), "status");
    }

    void referenceAfterAnotherMoveAndStop() {
        TempCompensation comp;
        comp.setParameters(Rule());
        comp.AddReading(0, {20.0, {}, {}});
        QVERIFY(comp.SwitchOn(100, 0));
        comp.AddReading(kReadingMs, {19.5, {}, {}});
        QCOMPARE(comp.Decide(kReady, 100, {}, kReadingMs).target, 140);
        QCOMPARE(comp.LastMoveText(), QString::fromUtf8("Temp comp: +40 steps at 19.5 °C"));
        comp.ReferenceDue(); // a goto from a front end, ended at 1000
        QCOMPARE(comp.Decide(kReady, 1000, {}, kReadingMs).action, TempCompAction::Following);
        comp.AddReading(2 * kReadingMs, {19.0, {}, {}});
        QCOMPARE(comp.Decide(kReady, 1000, {}, 2 * kReadingMs).target, 1040);
        comp.Stop(12);
        QVERIFY(!comp.On());
        QCOMPARE(comp.StatusText(), QString("Temp comp off: stopped 12 steps short of its target"));
        QCOMPARE(comp.LastMoveText(), QString());
        QCOMPARE(comp.Decide(kReady, 1040, {}, 2 * kReadingMs).action, TempCompAction::Off);
    }

    void moveText_data() {
        QTest::addColumn<int>("steps");
        QTest::addColumn<double>("celsius");
        QTest::addColumn<int>("degrees");
        QTest::addColumn<int>("average");
        QTest::addColumn<QString>("text");
        QTest::newRow("outward") << 12 << 14.3 << 0 << 0 << "Temp comp: +12 steps at 14.3 °C";
        QTest::newRow("inward, half to even")
            << -7 << 14.25 << 0 << 0 << "Temp comp: -7 steps at 14.2 °C";
        QTest::newRow("fahrenheit") << 5 << 10.0 << 1 << 0 << "Temp comp: +5 steps at 50.0 °F";
        QTest::newRow("an average says so")
            << 5 << 10.0 << 1 << 60 << "Temp comp: +5 steps at 50.0 °F (60 s average)";
    }
    void moveText() {
        QFETCH(int, steps);
        QFETCH(double, celsius);
        QFETCH(int, degrees);
        QFETCH(int, average);
        QTEST(TempCompensation::MoveText(steps, celsius, degrees, QLocale::c(), average), "text");
    }

    void switchOnWaitsForAFreshReading() {
        TempCompensation comp;
        comp.setParameters(Rule(60));
        comp.AddReading(0, {20.0, {}, {}});
        QVERIFY(comp.SwitchOn(500, 3600 * 1000));
        QCOMPARE(comp.StatusText(), QString("Temp comp waits: no reading from sensor 1"));
        comp.AddReading(3600 * 1000 + kReadingMs, {19.0, {}, {}});
        QCOMPARE(comp.Decide(kReady, 500, {}, 3600 * 1000 + kReadingMs).action,
                 TempCompAction::Following);
        QCOMPARE(comp.ReferenceCelsius(), std::optional<double>(19.0));
    }

    void fitOfTheChosenSensor() {
        FocusPoint other = Point(11, 0);
        other.Sensor = 2;
        FocusPoint before = Point(13, 5000);
        before.BeforeCalibration = true;
        const FocusFit fit =
            FitFocusPoints({Point(10, 800), other, Point(11, 720), before, Point(12, 640)}, 1);
        QCOMPARE(fit.count, 3);
        QCOMPARE(fit.before, 1);
        QCOMPARE(FitText(fit, QLocale::c(), "Primary"),
                 QString::fromUtf8("-80.0 steps/°C from 3 points of Primary over 2.0 °C, r² "
                                   "1.000 (1 from before a calibration left out)"));
    }

    void fit_data() {
        QTest::addColumn<QList<FocusPoint>>("points");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<double>("slope");
        QTest::addColumn<double>("spread");
        QTest::addColumn<double>("rSquared");
        QTest::addColumn<QString>("text");
        QTest::newRow("on a line")
            << QList{Point(10, 800), Point(11, 720), Point(12, 640)} << true << -80.0 << 2.0 << 1.0
            << "-80.0 steps/°C from 3 points over 2.0 °C, r² 1.000";
        QTest::newRow("scattered")
            << QList{Point(10, 810), Point(11, 700), Point(12, 650), Point(13, 560)} << true
            << -80.0 << 3.0 << 0.981595 << "-80.0 steps/°C from 4 points over 3.0 °C, r² 0.982";
        QTest::newRow("a contradicted point is kept")
            << QList{Point(10, 800), Point(10, 820), Point(12, 640)} << true << -85.0 << 2.0
            << 0.989726 << "-85.0 steps/°C from 3 points over 2.0 °C, r² 0.990";
        QTest::newRow("two points are not enough")
            << QList{Point(10, 800), Point(12, 640)} << false << -80.0 << 2.0 << 1.0
            << "2 points over 2.0 °C: at least 3 over 1.0 °C are needed";
        QTest::newRow("less than a degree apart")
            << QList{Point(10, 0), Point(10.4, -32), Point(10.8, -64)} << false << -80.0 << 0.8
            << 1.0 << "3 points over 0.8 °C: at least 3 over 1.0 °C are needed";
        QTest::newRow("one temperature has no slope")
            << QList{Point(10, 0), Point(10, 5), Point(10, 9)} << false << 0.0 << 0.0 << 0.0
            << "3 points over 0.0 °C: at least 3 over 1.0 °C are needed";
    }
    void fit() {
        QFETCH(QList<FocusPoint>, points);
        const FocusFit fit = FitFocusPoints(points);
        QTEST(fit.usable, "usable");
        QCOMPARE(fit.count, points.size());
        QFETCH(double, slope);
        QFETCH(double, spread);
        QFETCH(double, rSquared);
        QVERIFY(std::fabs(fit.slope - slope) < 1e-9);
        QVERIFY(std::fabs(fit.spread - spread) < 1e-9);
        QVERIFY(std::fabs(fit.rSquared - rSquared) < 1e-6);
        QTEST(FitText(fit, QLocale::c()), "text");
    }
};

QTEST_GUILESS_MAIN(TestTempCompensation)
#include "tst_tempcompensation.moc"
