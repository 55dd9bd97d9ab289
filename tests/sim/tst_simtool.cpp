// tarnivel-sim on a real pseudo-terminal, reached by the console's own serial port and link on
// the real clock. Bounded to a few seconds.

#include "focusercommands.h"
#include "focuserlink.h"
#include "programfolder.h"
#include "qtplatform.h"
#include "qtserialport.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnivel;

namespace {

const QString kTool = QStringLiteral(TARNIVEL_SIM_TOOL);
constexpr int kStartMs = 5000;

// Starts the tool and waits for the line that reports its COM link.
bool startTool(QProcess& tool, const QStringList& args, QString& device) {
    tool.setProgram(kTool);
    tool.setArguments(args);
    tool.setProcessChannelMode(QProcess::SeparateChannels);
    tool.start();
    if (!tool.waitForStarted(kStartMs))
        return false;
    QDeadlineTimer deadline(kStartMs);
    QByteArray out;
    while (!deadline.hasExpired()) {
        if (!tool.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
        out += tool.readAllStandardOutput();
        const QList<QByteArray> lines = out.split('\n');
        if (lines.size() >= 3 && lines[1].startsWith("COM")) {
            device = QString::fromLocal8Bit(lines[0]);
            return true;
        }
    }
    return false;
}

void stopTool(QProcess& tool) {
    if (tool.state() == QProcess::NotRunning)
        return;
    tool.terminate();
    if (!tool.waitForFinished(kStartMs)) {
        tool.kill();
        tool.waitForFinished(kStartMs);
    }
}

} // namespace

class TestSimTool : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void consoleTalksToTheTool();
    void helpAndBadOptions_data();
    void helpAndBadOptions();
};

void TestSimTool::consoleTalksToTheTool() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess tool;
    QString device;
    QVERIFY2(startTool(tool,
                       {QStringLiteral("--com"), QStringLiteral("3"), QStringLiteral("--dir"),
                        dir.path(), QStringLiteral("--start"), QStringLiteral("1234"),
                        QStringLiteral("--slew-speed"), QStringLiteral("4000"),
                        QStringLiteral("--temp1"), QStringLiteral("-4.25"),
                        QStringLiteral("--drift"), QStringLiteral("0")},
                       device),
             qPrintable(tool.readAllStandardError()));
    const QString link = dir.filePath(QStringLiteral("COM3"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), device);

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

    stopTool(tool);
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

QTEST_GUILESS_MAIN(TestSimTool)
#include "tst_simtool.moc"
