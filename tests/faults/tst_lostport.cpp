// A USB adapter pulled while connected, on the real seams: the main window with
// QtSerialPort and QtPlatform talks to the tarnivel-sim tool on a pseudo-terminal, and the
// tool is killed while the window polls. Nothing may spin, commands fail by their ordinary
// time-out, the status line says so, STOP and Disconnect still work, and once the tool
// runs again on the same link a reconnect works. Bounded to a few seconds of real time.

#include "realconsolerig.h"
#include "sim/simtoolprocess.h"
#include "window/app/frmtarnivel.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

const QString kTool = QStringLiteral(TARNIVEL_SIM_TOOL);

// The same link every time the tool starts: the adapter plugged back into its socket.
QStringList ToolArgs(const QString& folder) {
    return {"--com",   "1",    "--dir",   folder,    "--auto-stop", "1",
            "--start", "5000", "--lower", "-200000", "--upper",     "200000"};
}

// CPU time (user and system) this process has used, in milliseconds.
qint64 CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// A command on a port that is gone: two attempts of a frame (8 x 11 ms) and a receive wait
// (35 x 11 ms), no less and not much more.
constexpr qint64 kTimeOutMs = 2 * (8 + 35) * kCharPacingMs;

} // namespace

class TestLostPort : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void adapterPulledWhilePolling();
};

void TestLostPort::adapterPulledWhilePolling() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    sim::SimToolProcess tool(kTool);
    QVERIFY2(tool.start(ToolArgs(folder.path())), qPrintable(tool.error()));

    RealConsoleRig rig(folder.path());
    FocuserLink& link = rig.link;
    FocuserCommands& commands = rig.commands;
    MotionState& motion = rig.motion;
    ScriptedMessageBox& messages = rig.messages;
    QtSerialPort& port = rig.port;
    {
        frmTarnivel w(rig.console, rig.programFolder.settingsPath());
        w.show();
        w.cboComPort->setCurrentIndex(1);
        w.cmdConnect->click();
        // The tool starts uncalibrated: its warning is the only message.
        QCOMPARE(messages.texts().size(), 1);
        QVERIFY(messages.texts().at(0).startsWith(QStringLiteral("Warning: Focuser requires")));
        QVERIFY(link.LinkOpen());
        QTRY_COMPARE_WITH_TIMEOUT(w.NumLED->text(), QStringLiteral("     0.043"), 3000);

        // The adapter is pulled: the other end of the line vanishes without a word.
        QVERIFY(tool.kill());
        const qint64 cpu0 = CpuMs();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(1200); // the window keeps polling meanwhile
        const qint64 cpu = CpuMs() - cpu0;
        qInfo("%lld ms of CPU time in %lld ms of polling on the lost port", cpu, wall.elapsed());
        // Waits sleep; a port left open after its device went would report an error at
        // every event pump and keep the event loop spinning between ticks (a fifth of a
        // core and more).
        QVERIFY2(cpu * 10 < wall.elapsed(),
                 qPrintable(QStringLiteral("%1 ms of CPU in %2 ms").arg(cpu).arg(wall.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(w.lblStatus->text(), QStringLiteral("Focuser connection lost"),
                                  3000);
        QVERIFY(!port.isOpen());
        QVERIFY(port.connectionLost());
        // Nothing is torn down by itself: the operator disconnects.
        QVERIFY(link.LinkOpen());
        QCOMPARE(w.NumLED->text(), QStringLiteral("     0.043"));

        // Every command now fails by the ordinary time-out (the poll timer held meanwhile,
        // so that no tick runs inside the measured commands).
        w.rateTimer->setEnabled(false);
        QElapsedTimer t;
        t.start();
        QCOMPARE(commands.GetPosition(), -1);
        QVERIFY2(t.elapsed() >= kTimeOutMs && t.elapsed() < kTimeOutMs + 600,
                 qPrintable(QString::number(t.elapsed())));
        t.restart();
        bool ok = true;
        QCOMPARE(commands.GetTemperature(1, &ok), 0.0);
        QVERIFY(!ok);
        QVERIFY2(t.elapsed() >= kTimeOutMs && t.elapsed() < kTimeOutMs + 600,
                 qPrintable(QString::number(t.elapsed())));
        w.rateTimer->setEnabled(true);

        // STOP still acts at once. Its command waits by the time-out, and a poll tick may
        // run inside that wait (the real timer keeps firing); a jog asked for just before
        // must not be started by that tick.
        motion.JogRate = 4;
        QElapsedTimer stop;
        stop.start();
        w.cmdStop->click();
        QVERIFY2(stop.elapsed() < 8 * kTimeOutMs, qPrintable(QString::number(stop.elapsed())));
        qInfo("STOP returned after %lld ms", stop.elapsed());
        QCOMPARE(motion.JogRate, 0);
        QCOMPARE(motion.ActiveJogRate, 0);
        QVERIFY(w.cmdStop->isEnabled());

        // Disconnect.
        w.cmdDisconnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(!link.LinkOpen(), 5000);
        QCOMPARE(w.NumLED->text(), QStringLiteral("---Off--"));
        QVERIFY(w.cmdConnect->isEnabled());
        QVERIFY(!w.rateTimer->isArmed());

        // While the adapter is out, a connect is refused. The pseudo-terminal's number may
        // already belong to another program, so the link is pointed where an unplugged
        // adapter's device node would be: nowhere.
        QVERIFY(QFile::remove(tool.linkPath()));
        QVERIFY(QFile::link(folder.filePath(QStringLiteral("unplugged-adapter")), tool.linkPath()));
        messages.clear();
        w.cmdConnect->click();
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Error attempting to open port")});
        QVERIFY(!link.LinkOpen());
        QVERIFY(!port.isOpen());
        QVERIFY(w.cmdConnect->isEnabled());

        // Plugged in again: the tool on the same link, and a reconnect works.
        QVERIFY2(tool.start(ToolArgs(folder.path())), qPrintable(tool.error()));
        messages.clear();
        w.cmdConnect->click();
        QCOMPARE(messages.texts().size(), 1);
        QVERIFY(messages.texts().at(0).startsWith(QStringLiteral("Warning: Focuser requires")));
        QVERIFY(link.LinkOpen());
        QVERIFY(port.isOpen());
        QVERIFY(!port.connectionLost());
        QCOMPARE(w.lblStatus->text(), QString());
        QCOMPARE(commands.GetPosition(), 5000);
        w.cmdDisconnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(!link.LinkOpen(), 5000);
        w.close();
        QVERIFY(w.unloaded());
    }
    tool.stop();
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(QFileInfo::exists(rig.programFolder.settingsPath()));
}

QTEST_MAIN(TestLostPort)
#include "tst_lostport.moc"
