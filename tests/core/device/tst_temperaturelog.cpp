#include "core/device/temperaturelog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnivel;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

const QDateTime kEvening(QDate(2024, 3, 5), QTime(21, 7, 9));
const QByteArray kHeader = "\"Timestamp\",\"Temp1\",\"Temp2\",\"Temp3\",\"Mode\",\"Fan\"\r\n";

} // namespace

class TestTemperatureLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void formatTenths_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << 21.2 << "21.2";
        QTest::newRow("fahrenheit of 21.2") << 70.16 << "70.2";
        QTest::newRow("whole number") << 5.0 << "5.0";
        QTest::newRow("zero") << 0.0 << "0.0";
        QTest::newRow("negative") << -12.34 << "-12.3";
        QTest::newRow("half to even down") << 12.25 << "12.2";
        QTest::newRow("half to even up") << 12.35 << "12.4";
        QTest::newRow("half of zero") << 0.05 << "0.0";
        QTest::newRow("above half") << 12.2501 << "12.3";
        QTest::newRow("carry") << 9.96 << "10.0";
        QTest::newRow("carry into hundreds") << 99.95 << "100.0";
        QTest::newRow("negative carry") << -9.95 << "-10.0";
        QTest::newRow("small negative shows no minus") << -0.04 << "0.0";
        QTest::newRow("minus zero") << -0.0 << "0.0";
        QTest::newRow("large") << 1234.56 << "1234.6";
    }
    void formatTenths() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(FormatTenths(value), text);
    }

    void formatTenthsUsesLocale() {
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(FormatTenths(21.2, german), QStringLiteral("21,2"));
        QCOMPARE(FormatTenths(-3.55, german), QStringLiteral("-3,6"));
        QCOMPARE(FormatTenths(1234.5, german), QStringLiteral("1234,5")); // no grouping
    }

    void temperatureText_data() {
        QTest::addColumn<TemperatureReading>("value");
        QTest::addColumn<int>("degrees");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("celsius") << TemperatureReading(21.2) << 0 << "C"
                                 << "21.2\u00B0C";
        QTest::newRow("fahrenheit") << TemperatureReading(70.16) << 1 << "C"
                                    << "70.2\u00B0F";
        QTest::newRow("any other degrees is fahrenheit") << TemperatureReading(70.16) << 7 << "C"
                                                         << "70.2\u00B0F";
        QTest::newRow("negative") << TemperatureReading(-0.5) << 0 << "C"
                                  << "-0.5\u00B0C";
        QTest::newRow("missing") << TemperatureReading() << 0 << "C"
                                 << "n/a";
        QTest::newRow("missing fahrenheit") << TemperatureReading() << 1 << "C"
                                            << "n/a";
        QTest::newRow("german comma") << TemperatureReading(21.2) << 0 << "de_DE"
                                      << "21,2\u00B0C";
    }
    void temperatureText() {
        QFETCH(TemperatureReading, value);
        QFETCH(int, degrees);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(TemperatureText(value, degrees, QLocale(locale)), text);
    }

    void temperatureField_data() {
        QTest::addColumn<TemperatureReading>("celsius");
        QTest::addColumn<QString>("field");
        QTest::newRow("two digits") << TemperatureReading(12.3) << " 12.3";
        QTest::newRow("one digit") << TemperatureReading(5.0) << "  5.0";
        QTest::newRow("zero") << TemperatureReading(0.0) << "  0.0";
        QTest::newRow("negative fills the field") << TemperatureReading(-12.34) << "-12.3";
        QTest::newRow("small negative") << TemperatureReading(-0.5) << " -0.5";
        QTest::newRow("three digits") << TemperatureReading(123.4) << "123.4";
        QTest::newRow("too long keeps the last five") << TemperatureReading(-123.4) << "123.4";
        QTest::newRow("four digits") << TemperatureReading(1234.56) << "234.6";
        QTest::newRow("missing") << TemperatureReading() << "     ";
    }
    void temperatureField() {
        QFETCH(TemperatureReading, celsius);
        QFETCH(QString, field);
        QCOMPARE(TemperatureLog::TemperatureField(celsius), field);
    }

    void dataLine_data() {
        QTest::addColumn<TemperatureReadings>("readings");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("fanOn");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("third sensor missing, manual, off")
            << TemperatureReadings{12.3, 11.0, std::nullopt} << 0 << false
            << QByteArray("\"2024-03-05 21:07:09\", 12.3, 11.0,     ,0,0\r\n");
        QTest::newRow("all fitted, auto 2, on")
            << TemperatureReadings{-12.34, 5.0, 21.25} << 2 << true
            << QByteArray("\"2024-03-05 21:07:09\",-12.3,  5.0, 21.2,2,1\r\n");
        QTest::newRow("none fitted")
            << TemperatureReadings{} << 3 << false
            << QByteArray("\"2024-03-05 21:07:09\",     ,     ,     ,3,0\r\n");
    }
    void dataLine() {
        QFETCH(TemperatureReadings, readings);
        QFETCH(int, mode);
        QFETCH(bool, fanOn);
        QFETCH(QByteArray, line);
        QCOMPARE(TemperatureLog::DataLine(kEvening, readings, mode, fanOn), line);
    }

    void dataLineKeepsPointInCommaLocale() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(TemperatureLog::DataLine(kEvening, {21.2, -3.5, std::nullopt}, 1, true),
                 QByteArray("\"2024-03-05 21:07:09\", 21.2, -3.5,     ,1,1\r\n"));
    }

    void morningTimestampHasLeadingZeros() {
        const QDateTime morning(QDate(2025, 1, 9), QTime(4, 5, 6));
        QVERIFY(
            TemperatureLog::DataLine(morning, {}, 0, false).startsWith("\"2025-01-09 04:05:06\","));
    }

    void firstLineBringsHeader() {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath("tarnivel.csv");
        TemperatureLog log(path);
        QVERIFY(log.Append(kEvening, {12.3, 11.0, std::nullopt}, 0, false));
        QVERIFY(log.Append(kEvening.addSecs(6), {12.4, 11.0, std::nullopt}, 1, true));
        QCOMPARE(readAll(path), kHeader + "\"2024-03-05 21:07:09\", 12.3, 11.0,     ,0,0\r\n"
                                          "\"2024-03-05 21:07:15\", 12.4, 11.0,     ,1,1\r\n");
    }

    void existingFileGetsNoHeader() {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath("tarnivel.csv");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("earlier\r\n");
        }
        TemperatureLog log(path);
        QVERIFY(log.Append(kEvening, {}, 0, false));
        QCOMPARE(readAll(path),
                 QByteArray("earlier\r\n\"2024-03-05 21:07:09\",     ,     ,     ,0,0\r\n"));
    }

    void deletedFileStartsAgainWithHeader() {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath("tarnivel.csv");
        TemperatureLog log(path);
        QVERIFY(log.Append(kEvening, {1.0, 2.0, 3.0}, 0, false));
        QVERIFY(QFile::remove(path));
        QVERIFY(log.Append(kEvening, {4.0, 5.0, 6.0}, 0, true));
        QCOMPARE(readAll(path), kHeader + "\"2024-03-05 21:07:09\",  4.0,  5.0,  6.0,0,1\r\n");
    }

    void fileIsClosedBetweenLines() {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath("tarnivel.csv");
        const QString moved = QDir(dir.path()).filePath("moved.csv");
        TemperatureLog log(path);
        QVERIFY(log.Append(kEvening, {1.0, 2.0, 3.0}, 0, false));
        // Another program takes the file away between two updates.
        QVERIFY(QFile::rename(path, moved));
        QVERIFY(log.Append(kEvening, {4.0, 5.0, 6.0}, 0, false));
        QCOMPARE(readAll(moved), kHeader + "\"2024-03-05 21:07:09\",  1.0,  2.0,  3.0,0,0\r\n");
        QCOMPARE(readAll(path), kHeader + "\"2024-03-05 21:07:09\",  4.0,  5.0,  6.0,0,0\r\n");
    }

    void unwritableLogDropsTheLine_data() {
        QTest::addColumn<QString>("relativePath");
        // Both fail for root too, unlike a read-only permission bit.
        QTest::newRow("path is a folder") << "taken";
        QTest::newRow("folder missing") << "gone/tarnivel.csv";
    }
    void unwritableLogDropsTheLine() {
        QFETCH(QString, relativePath);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("taken"));
        const QString path = QDir(dir.path()).filePath(relativePath);
        TemperatureLog log(path);
        QVERIFY(!log.Append(kEvening, {1.0, 2.0, 3.0}, 0, false));
        QVERIFY(!log.lastError().isEmpty());
        QVERIFY(!QFileInfo(path).isFile());
        QVERIFY(!log.Append(kEvening, {1.0, 2.0, 3.0}, 0, false));
    }

    void writableAgainClearsTheError() {
        QTemporaryDir dir;
        const QString folder = QDir(dir.path()).filePath("later");
        const QString path = QDir(folder).filePath("tarnivel.csv");
        TemperatureLog log(path);
        QVERIFY(!log.Append(kEvening, {1.0, 2.0, 3.0}, 0, false));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(log.Append(kEvening, {4.0, 5.0, 6.0}, 0, false));
        QVERIFY(log.lastError().isEmpty());
        // The dropped line stays dropped; the file starts with its header.
        QCOMPARE(readAll(path), kHeader + "\"2024-03-05 21:07:09\",  4.0,  5.0,  6.0,0,0\r\n");
    }
};

QTEST_GUILESS_MAIN(TestTemperatureLog)
#include "tst_temperaturelog.moc"
