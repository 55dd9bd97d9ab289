// Which device "COMn" opens: a link in the program's folder first, the n-th serial line
// otherwise.
#include "core/settings/programfolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using tarnivel::ProgramFolder;

class TestProgramFolder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void comPortDevice_data();
    void comPortDevice();
    void filesAreNamedAfterTheProgram();
};

void TestProgramFolder::comPortDevice_data() {
    QTest::addColumn<int>("comPort");
    QTest::addColumn<QString>("link"); // "" none, "device" to an existing file, "gone" dangling
    QTest::addColumn<bool>("opensLink");
    QTest::addColumn<QString>("fallback");

    QTest::newRow("no link: first serial line") << 1 << "" << false << "/dev/ttyS0";
    QTest::newRow("no link: COM16") << 16 << "" << false << "/dev/ttyS15";
    QTest::newRow("link to a device") << 3 << "device" << true << "";
    QTest::newRow("link whose device is unplugged") << 3 << "gone" << true << "";
}

void TestProgramFolder::comPortDevice() {
    QFETCH(int, comPort);
    QFETCH(QString, link);
    QFETCH(bool, opensLink);
    QFETCH(QString, fallback);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString linkPath = dir.filePath(QStringLiteral("COM%1").arg(comPort));
    if (link == QLatin1String("device")) {
        QFile device(dir.filePath(QStringLiteral("ttyUSB0")));
        QVERIFY(device.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(device.fileName(), linkPath));
    } else if (link == QLatin1String("gone")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("ttyUSB0")), linkPath));
    }

    const ProgramFolder folder(dir.path(), QStringLiteral("tarnivel"));
    QCOMPARE(folder.comPortDevice(comPort), opensLink ? linkPath : fallback);
}

void TestProgramFolder::filesAreNamedAfterTheProgram() {
    const ProgramFolder folder(QStringLiteral("/opt/scope"), QStringLiteral("focus"));
    QCOMPARE(folder.settingsPath(), QStringLiteral("/opt/scope/focus.ini"));
    QCOMPARE(folder.logPath(), QStringLiteral("/opt/scope/focus.csv"));
    QCOMPARE(folder.logFileName(), QStringLiteral("focus.csv"));
}

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
