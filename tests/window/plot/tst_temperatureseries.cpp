#include "window/plot/temperatureseries.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using namespace tarnivel;

namespace {

constexpr double kNone = -9999; // in a row: no reading

// "t r1 r2 r3 mode fan [limit [position [c]]]" per sample, separated by ";" (t in seconds,
// limit in Celsius, position raw, c: a compensation move).
QList<TemperatureSample> Samples(const QString& text) {
    QList<TemperatureSample> out;
    for (const QString& item : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList f = item.simplified().split(QLatin1Char(' '));
        TemperatureSample s;
        s.msecs = f.at(0).toLongLong() * 1000;
        for (int n = 0; n < 3; ++n) {
            const double v = f.at(1 + n).toDouble();
            if (v != kNone)
                s.celsius[static_cast<size_t>(n)] = v;
        }
        s.fanMode = f.at(4).toInt();
        s.fanOn = f.at(5) == QLatin1String("1");
        if (f.size() > 6)
            s.limitCelsius = f.at(6).toDouble();
        if (f.size() > 7)
            s.position = f.at(7).toInt();
        s.compMove = f.size() > 8;
        out << s;
    }
    return out;
}

TemperatureSeries Series(const QString& text, qint64 span = 0) {
    TemperatureSeries series(span);
    for (const TemperatureSample& s : Samples(text))
        series.Append(s);
    return series;
}

// "x:y" per point, y with six significant digits, "nan" for a gap.
QString Text(const QList<QPointF>& points) {
    QStringList out;
    for (const QPointF& p : points)
        out << QString::number(static_cast<qint64>(p.x())) + QLatin1Char(':') +
                   (std::isnan(p.y()) ? QStringLiteral("nan") : QString::number(p.y()));
    return out.join(QLatin1Char(' '));
}

QString Stamp(qint64 msecs) {
    return QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

const QByteArray kHeader = "\"Timestamp\",\"Temp1\",\"Temp2\",\"Temp3\",\"Mode\",\"Fan\"\r\n";

} // namespace

class TestTemperatureSeries : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void curves_data() {
        QTest::addColumn<QString>("samples");
        QTest::addColumn<int>("curve");
        QTest::addColumn<int>("degrees");
        QTest::addColumn<QString>("points");
        const int s1 = static_cast<int>(PlotCurve::Sensor1);
        const int s2 = static_cast<int>(PlotCurve::Sensor2);
        const int s3 = static_cast<int>(PlotCurve::Sensor3);
        const int limit1 = static_cast<int>(PlotCurve::Rule1Limit);
        const int diff = static_cast<int>(PlotCurve::RuleDifference);
        const int diffLimit = static_cast<int>(PlotCurve::RuleDifferenceLimit);
        QTest::newRow("sensor 1 in Celsius")
            << "0 12.5 11 -9999 0 0; 6 13 11 -9999 0 0" << s1 << 0 << "0:12.5 6000:13";
        QTest::newRow("sensor 1 in Fahrenheit")
            << "0 21.2 11 -9999 0 0; 6 -40 11 -9999 0 0" << s1 << 1 << "0:70.16 6000:-40";
        QTest::newRow("failed read is a gap, not zero")
            << "0 14 11 -9999 0 0; 6 14 -9999 -9999 0 0; 12 14 10 -9999 0 0" << s2 << 0
            << "0:11 6000:nan 12000:10";
        QTest::newRow("no leading gap")
            << "0 14 -9999 -9999 0 0; 6 14 5 -9999 0 0" << s2 << 0 << "6000:5";
        QTest::newRow("sensor never fitted draws nothing")
            << "0 14 11 -9999 0 0; 6 14 11 -9999 0 0" << s3 << 0 << "";
        QTest::newRow("hole between runs of the program")
            << "0 10 11 -9999 0 0; 60 11 11 -9999 0 0; 240 12 11 -9999 0 0" << s1 << 0
            << "0:10 60000:11 240000:nan 240000:12";
        QTest::newRow("a lost minute between 5 s updates is a hole")
            << "0 10 11 -9999 0 0; 5 11 11 -9999 0 0; 65 12 11 -9999 0 0" << s1 << 0
            << "0:10 5000:11 65000:nan 65000:12";
        QTest::newRow("clock set back is a hole") << "100 10 11 -9999 0 0; 50 11 11 -9999 0 0" << s1
                                                  << 0 << "100000:10 50000:nan 50000:11";
        QTest::newRow("rule 1 limit in Fahrenheit")
            << "0 14 11 -9999 1 0 40; 6 14 11 -9999 1 0 40" << limit1 << 1 << "0:104 6000:104";
        QTest::newRow("manual mode draws no rule")
            << "0 14 11 -9999 0 1; 6 14 11 -9999 0 1" << limit1 << 0 << "";
        QTest::newRow("rule 2 difference")
            << "0 14 11 -9999 2 0 3; 6 14.5 11 -9999 2 1 3" << diff << 0 << "0:3 6000:3.5";
        QTest::newRow("rule 2 difference in Fahrenheit")
            << "0 14 11 -9999 2 0 3" << diff << 1 << "0:5.4";
        QTest::newRow("rule 3 without sensor 3 is a gap")
            << "0 14 11 12 3 0 3; 6 14 11 -9999 3 0 3; 12 14 11 13 3 0 3" << diff << 0
            << "0:2 6000:nan 12000:1";
        QTest::newRow("rule 2 then rule 3 do not join")
            << "0 14 11 12 2 0 3; 6 14 11 12 3 0 3" << diff << 0 << "0:3 6000:nan 6000:2";
        QTest::newRow("rule 1 between rules draws no difference")
            << "0 14 11 12 2 0 3; 6 14 11 12 1 0 3; 12 14 11 12 2 0 3" << diff << 0
            << "0:3 6000:nan 12000:3";
        QTest::newRow("difference limit in Fahrenheit")
            << "0 14 11 -9999 2 0 3; 6 14 11 -9999 0 0" << diffLimit << 1 << "0:5.4 6000:nan";
        QTest::newRow("limit not recorded (a log)") << "0 14 11 -9999 2 1" << diffLimit << 0 << "";
    }
    void curves() {
        QFETCH(QString, samples);
        QFETCH(int, curve);
        QFETCH(int, degrees);
        QFETCH(QString, points);
        const TemperatureSeries series = Series(samples);
        QCOMPARE(Text(series.Points(static_cast<PlotCurve>(curve), degrees)), points);
        QCOMPARE(series.HasData(static_cast<PlotCurve>(curve)), !points.isEmpty());
    }

    void position_data() {
        QTest::addColumn<QString>("samples");
        QTest::addColumn<QString>("points"); // 100 steps per unit, one decimal; "|" the marks
        QTest::newRow("units rounded as the readout, move marked")
            << "0 1 0 0 0 0 0 1000; 6 1 0 0 0 0 0 1044 c"
            << "0:10 6000:10.4|6000:10.4";
        QTest::newRow("no position (a log) is a gap")
            << "0 1 0 0 0 0 0 500; 6 1 0 0 0 0; 12 1 0 0 0 0 0 700"
            << "0:5 6000:nan 12000:7|";
    }
    void position() {
        QFETCH(QString, samples);
        QFETCH(QString, points);
        const TemperatureSeries series = Series(samples);
        QCOMPARE(Text(series.PositionPoints(100, 1, 0, 60000)) + '|' +
                     Text(series.CompMovePoints(100, 1, 0, 60000)),
                 points);
    }

    void fanPeriods_data() {
        QTest::addColumn<QString>("samples");
        QTest::addColumn<QString>("periods");
        QTest::newRow("never on") << "0 1 1 1 0 0; 6 1 1 1 0 0"
                                  << "";
        QTest::newRow("on until the first off")
            << "0 1 1 1 2 0; 6 1 1 1 2 1; 12 1 1 1 2 1; 18 1 1 1 2 0"
            << "6000-18000";
        QTest::newRow("still on at the newest") << "0 1 1 1 0 1; 6 1 1 1 0 1"
                                                << "0-6000";
        QTest::newRow("two periods") << "0 1 1 1 2 1; 6 1 1 1 2 0; 12 1 1 1 2 1; 18 1 1 1 2 0"
                                     << "0-6000 12000-18000";
        QTest::newRow("a hole ends it at the last sample before")
            << "0 1 1 1 0 1; 6 1 1 1 0 1; 600 1 1 1 0 1"
            << "0-6000 600000-600000";
    }
    void fanPeriods() {
        QFETCH(QString, samples);
        QFETCH(QString, periods);
        QStringList out;
        for (const auto& [start, end] : Series(samples).FanOnPeriods())
            out << QStringLiteral("%1-%2").arg(start).arg(end);
        QCOMPARE(out.join(QLatin1Char(' ')), periods);
    }

    void limitToCelsius_data() {
        QTest::addColumn<double>("limit");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("degrees");
        QTest::addColumn<double>("celsius");
        QTest::newRow("Celsius as typed") << 3.0 << 2 << 0 << 3.0;
        QTest::newRow("rule 1 in Fahrenheit is a temperature") << 104.0 << 1 << 1 << 40.0;
        QTest::newRow("rule 2 in Fahrenheit is a difference") << 5.4 << 2 << 1 << 3.0;
        QTest::newRow("rule 3 in Fahrenheit is a difference") << -9.0 << 3 << 1 << -5.0;
    }
    void limitToCelsius() {
        QFETCH(double, limit);
        QFETCH(int, mode);
        QFETCH(int, degrees);
        QFETCH(double, celsius);
        QCOMPARE(LimitToCelsius(limit, mode, degrees), celsius);
    }

    // Each bucket keeps its first, lowest, highest and last point; the extremes survive.
    void decimationKeepsExtremes() {
        TemperatureSeries series(0);
        for (int i = 0; i < 10000; ++i) {
            TemperatureSample s;
            s.msecs = i * 1000LL;
            s.celsius[0] = i == 4321 ? 99.0 : (i == 8765 ? -50.0 : 10.0 + (i % 7) * 0.1);
            series.Append(s);
        }
        const QList<QPointF> points = series.Points(PlotCurve::Sensor1, 0, 0, 9999000, 100);
        QVERIFY(points.size() <= 4 * 100 + 4);
        QVERIFY(points.contains(QPointF(4321000, 99)));
        QVERIFY(points.contains(QPointF(8765000, -50)));
        QCOMPARE(points.first(), QPointF(0, 10));
        QCOMPARE(points.last(), QPointF(9999000, 10.3));
    }

    // The live series holds 24 hours: older samples drop off as new ones come, and what they
    // alone had to show goes with them.
    void keepsTwentyFourHours() {
        TemperatureSeries series;
        QCOMPARE(series.maxSpanMs(), 86400000LL);
        for (int minute = 0; minute <= 30 * 60; minute += 10) {
            TemperatureSample s;
            s.msecs = minute * 60000LL;
            s.celsius[0] = 10;
            if (minute < 120) {
                s.celsius[2] = 5;
                s.fanOn = true;
                s.compMove = true;
            }
            s.position = minute;
            series.Append(s);
        }
        QCOMPARE(series.size(), 145); // 24 h in 10-minute steps, both ends included
        QCOMPARE(series.first().msecs, 6 * 3600000LL);
        QCOMPARE(series.last().msecs, 30 * 3600000LL);
        QVERIFY(series.HasData(PlotCurve::Sensor1));
        QVERIFY(!series.HasData(PlotCurve::Sensor3));
        QVERIFY(!series.HasFanOn());
        QVERIFY(!series.HasCompMoves());
        // An import has no bound.
        TemperatureSeries log(0);
        for (int i = 0; i < 3; ++i) {
            TemperatureSample s;
            s.msecs = i * 2 * TemperatureSeries::kDayMs;
            log.Append(s);
        }
        QCOMPARE(log.size(), 3);
    }

    void import_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("read");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("sensor3"); // the curve of sensor 3
        const QByteArray line1 = "\"2024-03-05 21:07:09\", 12.3, 11.0,     ,0,0\r\n";
        const QByteArray line2 = "\"2024-03-05 21:07:15\",-12.3,  5.0, 99.9,2,1\r\n";
        QTest::newRow("own file with blanks")
            << kHeader + line1 + line2 << 2 << 0 << "2024-03-05 21:07:09"
            << "2024-03-05 21:07:15"
            << "6000:99.9";
        QTest::newRow("header only") << kHeader << 0 << 0 << ""
                                     << ""
                                     << "";
        QTest::newRow("empty file") << QByteArray() << 0 << 0 << ""
                                    << ""
                                    << "";
        QTest::newRow("header again after a deleted file")
            << kHeader + line1 + kHeader + line2 << 2 << 0 << "2024-03-05 21:07:09"
            << "2024-03-05 21:07:15"
            << "6000:99.9";
        QTest::newRow("junk lines skipped and counted")
            << kHeader + "hello\r\n\r\n,,,,,\r\n" + line1 +
                   "\"2024-03-05 21:07:12\",abc,1,1,0,0\r\n" + line2
            << 2 << 4 << "2024-03-05 21:07:09"
            << "2024-03-05 21:07:15"
            << "6000:99.9";
        QTest::newRow("truncated last line")
            << kHeader + line1 + "\"2024-03-05 21:07:15\",-12.3,  5" << 1 << 1
            << "2024-03-05 21:07:09"
            << "2024-03-05 21:07:09"
            << "";
        QTest::newRow("impossible date, mode, fan, extra field")
            << line1 + "\"2024-02-30 21:07:15\", 1.0, 1.0, 1.0,0,0\r\n" +
                   "\"2024-03-05 21:07:15\", 1.0, 1.0, 1.0,4,0\r\n" +
                   "\"2024-03-05 21:07:15\", 1.0, 1.0, 1.0,0,2\r\n" +
                   "\"2024-03-05 21:07:15\", 1.0, 1.0, 1.0,0,0,0\r\n"
            << 1 << 4 << "2024-03-05 21:07:09"
            << "2024-03-05 21:07:09"
            << "";
        QTest::newRow("line feeds alone and no final line end")
            << QByteArray("\"2024-03-05 21:07:09\", 1.0, 2.0, 3.0,0,0\n"
                          "\"2024-03-05 21:07:15\", 1.0, 2.0, 4.5,0,1")
            << 2 << 0 << "2024-03-05 21:07:09"
            << "2024-03-05 21:07:15"
            << "0:3 6000:4.5";
    }
    void import() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, read);
        QFETCH(int, skipped);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, sensor3);
        TemperatureSeries series(0);
        const LogImport result = ImportTemperatureLog(bytes, series);
        QVERIFY(result.opened);
        QCOMPARE(result.linesRead, read);
        QCOMPARE(result.linesSkipped, skipped);
        QCOMPARE(series.size(), read);
        if (read > 0) {
            QCOMPARE(Stamp(result.firstMsecs), first);
            QCOMPARE(Stamp(result.lastMsecs), last);
            // Relative to the first line, so the row does not depend on the time zone.
            QList<QPointF> points = series.Points(PlotCurve::Sensor3, 0);
            for (QPointF& p : points)
                p.rx() -= static_cast<double>(result.firstMsecs);
            QCOMPARE(Text(points), sensor3);
        }
    }

    void importOwnLogFields() {
        TemperatureSeries series(0);
        ImportTemperatureLog(kHeader + "\"2024-03-05 21:07:15\",-12.3,  5.0,     ,2,1\r\n", series);
        QCOMPARE(series.size(), 1);
        const TemperatureSample& s = series.first();
        QCOMPARE(s.celsius[0], TemperatureReading(-12.3));
        QCOMPARE(s.celsius[1], TemperatureReading(5.0));
        QVERIFY(!s.celsius[2]);
        QCOMPARE(s.fanMode, 2);
        QVERIFY(s.fanOn);
        QVERIFY(!s.limitCelsius);
    }

    void unreadableFile() {
        QTemporaryDir dir;
        TemperatureSeries series(0);
        const LogImport result = ImportTemperatureLogFile(dir.filePath("none.csv"), series);
        QVERIFY(!result.opened);
        QVERIFY(!result.error.isEmpty());
        QCOMPARE(series.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTemperatureSeries)
#include "tst_temperatureseries.moc"
