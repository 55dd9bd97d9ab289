#include "driverbench.h"

#include "benchutil.h"
#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/seams/soundplayer.h"
#include "core/settings/focusersettings.h"
#include "core/settings/programfolder.h"
#include "platform/qt/qtplatform.h"
#include "platform/qt/qtserialport.h"
#include "sim/simtoolprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

namespace tarnivel::bench {

namespace {

constexpr double kIdleTargetPercent = 1.0;
constexpr double kAbortTargetMs = 300.0;
constexpr int kApproachSpeed = 4000; // steps per second of the simulator's ApproachPosition
constexpr int kRounds = 3;
constexpr int kWaitMs = 20000;
constexpr int kConsoleTickMs = 50; // the window's poll tick
// Command floors from the pacing: 88 ms for the frame, 11 ms per reply character.
constexpr double kGetPositionMs = 132;
constexpr double kApproachMs = 99;
constexpr double kIsSlewDoneMs = 110;
// One move: stage 3 (position, approach), one stage 4 pass that sees it done (slew-done,
// position), stage 5 (position). Two moves add stage 1 and a stage 2 pass.
constexpr double kOneMoveFloorMs =
    kGetPositionMs + kApproachMs + kIsSlewDoneMs + kGetPositionMs + kGetPositionMs;
constexpr double kTwoMoveFloorMs =
    kOneMoveFloorMs + kGetPositionMs + kApproachMs + kIsSlewDoneMs + kGetPositionMs;

// The driver on pipes, the simulator's frames in its output file.
class DriverRig {
public:
    QTemporaryDir dir;
    sim::SimToolProcess sim;
    QProcess driver;
    QString simLog;
    QByteArray out;
    QElapsedTimer clock;

    explicit DriverRig(const QString& simPath) : sim(simPath) { clock.start(); }
    ~DriverRig() {
        if (driver.state() != QProcess::NotRunning) {
            driver.terminate();
            if (!driver.waitForFinished(5000))
                driver.kill();
            driver.waitForFinished(5000);
        }
        sim.stop();
    }

    QString start(const QString& driverPath) {
        if (!dir.isValid())
            return QStringLiteral("no temporary folder");
        const QString copy = dir.filePath(QStringLiteral("indi_tarnivel_focus"));
        const QString state = dir.filePath(QStringLiteral("sim.state"));
        simLog = dir.filePath(QStringLiteral("sim.log"));
        if (!QFile::copy(driverPath, copy) ||
            !writeFile(dir.filePath(QStringLiteral("tarnivel.ini")), kServedSettings) ||
            !writeFile(state, kServedCalibratedState))
            return QStringLiteral("cannot prepare the driver's folder");
        sim.setOutputFile(simLog);
        if (!sim.start(fastSimArgs(dir.path(),
                                   {QStringLiteral("--state"), state, QStringLiteral("--lower"),
                                    QStringLiteral("-4000"), QStringLiteral("--upper"),
                                    QStringLiteral("4000"), QStringLiteral("--approach-speed"),
                                    QString::number(kApproachSpeed), QStringLiteral("--verbose")})))
            return sim.error();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        driver.setProcessEnvironment(env);
        driver.setStandardErrorFile(dir.filePath(QStringLiteral("driver.log")));
        driver.start(copy, {});
        if (!driver.waitForStarted(5000))
            return QStringLiteral("the driver did not start");
        send("<getProperties version='1.7'/>");
        send("<newSwitchVector device='Tarnivel' name='CONNECTION'><oneSwitch name='CONNECT'>On"
             "</oneSwitch></newSwitchVector>");
        if (!waitOut(QStringLiteral("name='CONNECTION'[^>]*state='Ok'")))
            return QStringLiteral("the driver did not connect");
        if (!waitOut(QStringLiteral("name='FOCUS_TEMPERATURE'")))
            return QStringLiteral("the driver sent no temperature");
        return {};
    }

    void send(const QByteArray& xml) {
        driver.write(xml + '\n');
        driver.waitForBytesWritten(1000);
    }

    void sendTarget(int indi) {
        send("<newNumberVector device='Tarnivel' name='ABS_FOCUS_POSITION'><oneNumber "
             "name='FOCUS_ABSOLUTE_POSITION'>" +
             QByteArray::number(indi) + "</oneNumber></newNumberVector>");
    }

    // Waits for a pattern in what the driver printed after `from` (an offset into out).
    bool waitOut(const QString& pattern, qsizetype from = 0, qsizetype* at = nullptr) {
        const QRegularExpression re(pattern);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < kWaitMs) {
            driver.waitForReadyRead(1);
            out += driver.readAllStandardOutput();
            const QRegularExpressionMatch m = re.match(QString::fromLatin1(out), from);
            if (m.hasMatch()) {
                if (at)
                    *at = m.capturedEnd();
                return true;
            }
        }
        return false;
    }

    qsizetype logSize() const { return QFileInfo(simLog).size(); }

    // Milliseconds on the bench clock at which a frame line containing `text` appeared in the
    // simulator's output after byte `from`; -1 when it did not within the wait.
    qint64 waitFrame(const QString& text, qint64 from) {
        // The driver's output is drained meanwhile, so its pipe never fills and blocks it.
        return WaitForLogText(simLog, text, from, clock, kWaitMs, [this] {
            driver.waitForReadyRead(0);
            out += driver.readAllStandardOutput();
        });
    }
};

QJsonObject seriesObject(const Series& s) {
    QJsonObject o;
    o.insert(QStringLiteral("medianMs"), s.median());
    o.insert(QStringLiteral("minMs"), s.min());
    o.insert(QStringLiteral("maxMs"), s.max());
    o.insert(QStringLiteral("runs"), s.count());
    return o;
}

struct QuietSound final : SoundPlayer {
    void play(const QString&, bool) override {}
    void stop() override {}
};

// The console's goto engine on the real port, stepped on the window's 50 ms tick.
QJsonObject consoleGotos(const QString& simPath) {
    QTemporaryDir dir;
    if (!dir.isValid())
        return failure(QStringLiteral("no temporary folder"));
    const QString state = dir.filePath(QStringLiteral("sim.state"));
    if (!writeFile(state, kServedCalibratedState))
        return failure(QStringLiteral("cannot write the simulator's state"));
    sim::SimToolProcess tool(simPath);
    if (!tool.start(fastSimArgs(
            dir.path(), {QStringLiteral("--state"), state, QStringLiteral("--lower"),
                         QStringLiteral("-4000"), QStringLiteral("--upper"), QStringLiteral("4000"),
                         QStringLiteral("--approach-speed"), QString::number(kApproachSpeed)})))
        return failure(tool.error());
    const ProgramFolder folder(dir.path(), QStringLiteral("tarnivel"));
    QtSerialPort port(folder);
    if (!port.open(1))
        return failure(QStringLiteral("cannot open COM1"));
    QtPlatform platform;
    FocuserLink link(port, platform);
    link.SetLinkOpen(true);
    FocuserCommands commands(link);
    FocuserSettings settings;
    settings.Approach = 1;
    settings.Overshoot = 1000;
    MotionState motion;
    QuietSound sound;
    GotoController gotos(commands, settings, motion, sound, platform);
    motion.CurrentPosition = commands.GetPosition();

    Series one;
    Series two;
    QElapsedTimer clock;
    for (int round = 0; round < kRounds; ++round) {
        // Counter 0 -> 2000 (up: out to 3000 and back), then 2000 -> -2000 (down: one move).
        for (const int target : {2000, 16775216}) {
            const int from = motion.CurrentPosition;
            clock.start();
            gotos.StartGoto(target, link.StopCount());
            while (!motion.GotoDone && clock.elapsed() < kWaitMs) {
                const qint64 tick = clock.elapsed();
                gotos.RunStage();
                QCoreApplication::processEvents();
                const qint64 rest = kConsoleTickMs - (clock.elapsed() - tick);
                if (rest > 0)
                    QThread::msleep(static_cast<unsigned long>(rest));
            }
            const double ms = static_cast<double>(clock.elapsed());
            motion.GotoDone = false;
            if (target == 2000) {
                const double steps = 3000 - (from > 8388608 ? from - 16777216 : from) + 1000;
                two.add(ms - steps * 1000.0 / kApproachSpeed);
            } else {
                one.add(ms - 4000 * 1000.0 / kApproachSpeed);
            }
        }
    }
    port.close();
    tool.stop();
    QJsonObject o;
    o.insert(QStringLiteral("oneMove"), seriesObject(one));
    o.insert(QStringLiteral("twoMoves"), seriesObject(two));
    return o;
}

} // namespace

QJsonObject measureDriver(const QString& simPath, const QString& driverPath, int idleSeconds) {
    if (!QFileInfo::exists(driverPath))
        return failure(QStringLiteral("%1 was not built").arg(driverPath));
    QJsonObject result;
    {
        DriverRig rig(simPath);
        const QString error = rig.start(driverPath);
        if (!error.isEmpty())
            return failure(error);

        // Idle: connected, the focuser standing, the driver polling.
        QThread::msleep(1000);
        const qint64 pid = rig.driver.processId();
        const qsizetype logBefore = rig.logSize();
        const double cpu0 = processCpuSeconds(pid);
        QElapsedTimer wall;
        wall.start();
        while (wall.elapsed() < idleSeconds * 1000LL) {
            rig.driver.waitForReadyRead(100);
            rig.out += rig.driver.readAllStandardOutput();
        }
        const double cpu = processCpuSeconds(pid) - cpu0;
        const double wallSeconds = static_cast<double>(wall.elapsed()) / 1000.0;
        QFile log(rig.simLog);
        int exchanges = 0;
        if (log.open(QIODevice::ReadOnly)) {
            log.seek(logBefore);
            exchanges = simExchanges(log.readAll());
        }
        QJsonObject idle;
        idle.insert(QStringLiteral("cpuSeconds"), cpu);
        idle.insert(QStringLiteral("wallSeconds"), wallSeconds);
        idle.insert(QStringLiteral("corePercent"), 100.0 * cpu / wallSeconds);
        idle.insert(QStringLiteral("exchanges"), exchanges);
        idle.insert(QStringLiteral("targetPercent"), kIdleTargetPercent);
        idle.insert(QStringLiteral("met"), 100.0 * cpu / wallSeconds <= kIdleTargetPercent);
        result.insert(QStringLiteral("idle"), idle);

        // Gotos: INDI 6000 (up: two moves), then INDI 2000 (down: one move), from 4000.
        Series firstFrame;
        Series one;
        Series two;
        Series abortMs;
        int position = 4000;
        for (int round = 0; round < kRounds; ++round) {
            for (const int target : {6000, 2000}) {
                const qsizetype from = rig.logSize();
                const qsizetype outFrom = rig.out.size();
                const qint64 t0 = rig.clock.elapsed();
                rig.sendTarget(target);
                const qint64 t1 = rig.waitFrame(kApproachTag, from);
                qsizetype at = 0;
                // Busy first, then Ok: the goto has ended.
                if (t1 < 0 ||
                    !rig.waitOut(QStringLiteral("name='ABS_FOCUS_POSITION'[^>]*state='Busy'"),
                                 outFrom, &at) ||
                    !rig.waitOut(QStringLiteral("name='ABS_FOCUS_POSITION'[^>]*state='Ok'"), at))
                    return failure(
                        QStringLiteral("the driver's goto to %1 did not end").arg(target));
                const double done = static_cast<double>(rig.clock.elapsed() - t0);
                firstFrame.add(static_cast<double>(t1 - t0));
                if (target == 6000)
                    two.add(done - (7000 - position + 1000) * 1000.0 / kApproachSpeed);
                else
                    one.add(done - (position - 2000) * 1000.0 / kApproachSpeed);
                position = target;
            }
            // Abort on the way down to 0, once the motion frame is out.
            const qsizetype from = rig.logSize();
            rig.sendTarget(0);
            if (rig.waitFrame(kApproachTag, from) < 0)
                return failure(QStringLiteral("no motion frame before the abort"));
            QThread::msleep(200);
            const qsizetype stopFrom = rig.logSize();
            const qint64 t0 = rig.clock.elapsed();
            rig.send("<newSwitchVector device='Tarnivel' name='FOCUS_ABORT_MOTION'><oneSwitch "
                     "name='ABORT'>On</oneSwitch></newSwitchVector>");
            const qint64 t1 = rig.waitFrame(kStopFrame, stopFrom);
            if (t1 < 0)
                return failure(QStringLiteral("no stop frame after the abort"));
            abortMs.add(static_cast<double>(t1 - t0));
            // Back to where the next round starts.
            QThread::msleep(300);
            const qsizetype outFrom = rig.out.size();
            rig.sendTarget(4000);
            qsizetype at = 0;
            if (!rig.waitOut(QStringLiteral("name='ABS_FOCUS_POSITION'[^>]*state='Busy'"), outFrom,
                             &at) ||
                !rig.waitOut(QStringLiteral("name='ABS_FOCUS_POSITION'[^>]*state='Ok'"), at))
                return failure(QStringLiteral("the driver's goto back did not end"));
            position = 4000;
        }
        QJsonObject latency = seriesObject(firstFrame);
        // One poll period (250 ms at Frequency 4) plus one command (a position read).
        latency.insert(QStringLiteral("targetMs"), 250 + kGetPositionMs);
        latency.insert(QStringLiteral("met"), firstFrame.median() <= 250 + kGetPositionMs);
        result.insert(QStringLiteral("firstMotionFrame"), latency);
        QJsonObject abort = seriesObject(abortMs);
        abort.insert(QStringLiteral("targetMs"), kAbortTargetMs);
        abort.insert(QStringLiteral("met"), abortMs.max() <= kAbortTargetMs);
        result.insert(QStringLiteral("abortToStop"), abort);
        QJsonObject driverGotos;
        driverGotos.insert(QStringLiteral("oneMove"), seriesObject(one));
        driverGotos.insert(QStringLiteral("twoMoves"), seriesObject(two));
        result.insert(QStringLiteral("driverGotos"), driverGotos);
    }
    result.insert(QStringLiteral("consoleGotos"), consoleGotos(simPath));
    result.insert(QStringLiteral("oneMoveFloorMs"), kOneMoveFloorMs);
    result.insert(QStringLiteral("twoMoveFloorMs"), kTwoMoveFloorMs);
    return result;
}

} // namespace tarnivel::bench
