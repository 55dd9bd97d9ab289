// tarnivel-sim on a real pseudo-terminal, reached by the console's own serial port and link on
// the real clock. Bounded to a few seconds.

#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/settings/programfolder.h"
#include "platform/qt/qtplatform.h"
#include "platform/qt/qtserialport.h"
#include "sim/simtoolprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnivel;

namespace {

const QString kTool = QStringLiteral(TARNIVEL_SIM_TOOL);
constexpr int kStartMs = 5000;

} // namespace

class TestSimTool : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void consoleTalksToTheTool();
    void helpAndBadOptions_data();
    void helpAndBadOptions();
    void startReportsOrSaysWhy_data();
    void startReportsOrSaysWhy();
};

void TestSimTool::consoleTalksToTheTool() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    sim::SimToolProcess tool(kTool);
    QVERIFY2(tool.start({QStringLiteral("--com"), QStringLiteral("3"), QStringLiteral("--dir"),
                         dir.path(), QStringLiteral("--start"), QStringLiteral("1234"),
                         QStringLiteral("--slew-speed"), QStringLiteral("4000"),
                         QStringLiteral("--temp1"), QStringLiteral("-4.25"),
                         QStringLiteral("--drift"), QStringLiteral("0")}),
             qPrintable(tool.error()));
    const QString link = dir.filePath(QStringLiteral("COM3"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), tool.devicePath());

    {
        const ProgramFolder folder(dir.path(), QStringLiteral("tarnivel"));
        QtSerialPort port(folder);
        QtPlatform platform;
        FocuserLink focuserLink(port, platform);
        FocuserCommands commands(focuserLink);
        QVERIFY(port.open(3));
        focuserLink.SetLinkOpen(true);

        QElapsedTimer paced;
        paced.start();
        QVERIFY(commands.ProbeFocuser());
        // Eight characters at 11 ms each, then two bytes and "#".
        QVERIFY(paced.elapsed() >= 8 * kCharPacingMs);
        QCOMPARE(commands.GetPosition(), 1234);

        QCOMPARE(commands.GotoPosition(3234), 0);
        qint32 done = 0;
        QCOMPARE(commands.IsSlewDone(done), 0);
        QCOMPARE(done, 0);
        QDeadlineTimer deadline(3000);
        while (done == 0 && !deadline.hasExpired()) {
            platform.sleepMs(50);
            commands.IsSlewDone(done);
        }
        QVERIFY(done != 0);
        QCOMPARE(commands.GetPosition(), 3234);

        bool ok = false;
        QCOMPARE(commands.GetTemperature(1, &ok), -4.2);
        QVERIFY(ok);
        QCOMPARE(commands.GetTemperature(3, &ok), kNotFittedTemperature);
        port.close();
    }

    tool.stop();
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimTool::helpAndBadOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("text");
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0
                          << QStringLiteral("--fault-rate");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--speed")} << 2 << QStringLiteral("Unknown option");
    QTest::newRow("COM 0") << QStringList{QStringLiteral("--com"), QStringLiteral("0")} << 2
                           << QStringLiteral("--com needs a whole number from 1 to 255");
    QTest::newRow("start outside the travel")
        << QStringList{QStringLiteral("--travel"), QStringLiteral("100"),
                       QStringLiteral("--lower"),  QStringLiteral("0"),
                       QStringLiteral("--start"),  QStringLiteral("500")}
        << 2 << QStringLiteral("--start must lie between the end stops (0 to 100)");
    QTest::newRow("bad fault") << QStringList{QStringLiteral("--fault"), QStringLiteral("1:late")}
                               << 2 << QStringLiteral("--fault needs id:kind[:times]");
    QTest::newRow("bad fault rate")
        << QStringList{QStringLiteral("--fault-rate"), QStringLiteral("no-answer=2")} << 2
        << QStringLiteral("--fault-rate needs kind=rate");
    QTest::newRow("bad firmware") << QStringList{QStringLiteral("--firmware"), QStringLiteral("2")}
                                  << 2 << QStringLiteral("--firmware needs major.minor");
}

void TestSimTool::helpAndBadOptions() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, text);
    QProcess tool;
    tool.start(kTool, args);
    QVERIFY(tool.waitForFinished(kStartMs));
    QCOMPARE(tool.exitCode(), exitCode);
    const QString output =
        QString::fromLocal8Bit(tool.readAllStandardOutput() + tool.readAllStandardError());
    QVERIFY2(output.contains(text), qPrintable(output));
}

// The shared start: it waits for the link only when one is asked for, and a tool that gives
// up says why instead of leaving the caller to wait out its bound.
void TestSimTool::startReportsOrSaysWhy_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("blockLink"); // a plain file where the link would go
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("why");
    QTest::newRow("device only") << QStringList{} << false << true << QString();
    QTest::newRow("link") << QStringList{QStringLiteral("--com"), QStringLiteral("4")} << false
                          << true << QString();
    QTest::newRow("link as one word")
        << QStringList{QStringLiteral("--com=4")} << false << true << QString();
    QTest::newRow("link spot taken") << QStringList{QStringLiteral("--com"), QStringLiteral("4")}
                                     << true << false << QStringLiteral("exists and is not a link");
    QTest::newRow("bad option") << QStringList{QStringLiteral("--speed")} << false << false
                                << QStringLiteral("Unknown option");
}

void TestSimTool::startReportsOrSaysWhy() {
    QFETCH(QStringList, args);
    QFETCH(bool, blockLink);
    QFETCH(bool, started);
    QFETCH(QString, why);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = QDir(dir.path()).absoluteFilePath(QStringLiteral("COM4"));
    if (blockLink) {
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const bool wantsLink =
        args.contains(QStringLiteral("--com")) || args.contains(QStringLiteral("--com=4"));
    sim::SimToolProcess tool(kTool);
    QElapsedTimer took;
    took.start();
    QCOMPARE(tool.start(args + QStringList{QStringLiteral("--dir"), dir.path()}), started);
    QVERIFY2(took.elapsed() < sim::SimToolProcess::kBound.count(),
             qPrintable(QString::number(took.elapsed())));
    QCOMPARE(tool.isRunning(), started);
    if (!started) {
        QVERIFY2(tool.error().contains(why), qPrintable(tool.error()));
        QVERIFY(tool.exitCode() != 0);
        return;
    }
    QVERIFY2(tool.devicePath().startsWith(QStringLiteral("/dev/")), qPrintable(tool.devicePath()));
    QCOMPARE(tool.linkPath(), wantsLink ? link : QString());
    QCOMPARE(QFileInfo(link).symLinkTarget(), wantsLink ? tool.devicePath() : QString());
    QVERIFY(tool.stop());
    QVERIFY(tool.exitedCleanly());
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestSimTool)
#include "tst_simtool.moc"
