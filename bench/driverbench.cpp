#include "driverbench.h"

#include "benchutil.h"
#include "core/device/consolepoll.h"
#include "core/device/focuserdevice.h"
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
#include <algorithm>
#include <functional>
#include <memory>

namespace tarnivel::bench {

namespace {

constexpr double kIdleTargetPercent = 1.0;
constexpr double kAbortTargetMs = 300.0;
constexpr int kApproachSpeed = 4000; // steps per second of the simulator's ApproachPosition
constexpr int kRounds = 3;
constexpr int kWaitMs = 20000;
constexpr int kConsoleTickMs = 50; // the window's poll tick
constexpr double kSlowAnswerTargetMs = 1000.0;
constexpr double kSilentTargetMs = 600.0;
constexpr int kSlowReplyMs = 200;
constexpr int kStopWaitMs = 5000;
constexpr int kQuietMs = 1000; // longer than any gap inside a chore at 200 ms answers
constexpr int kChoreAttempts = 10;
constexpr int kChoreStartMs = 5000;
constexpr int kRetryMs = 300;
constexpr int kMidMoveMs = 200;
// Slow enough that a move lasts beyond the abort's answer at 200 ms answers; the fast slew
// shortens a calibration's centring goto.
constexpr int kStateApproachSpeed = 1000;
constexpr int kStateSlewSpeed = 16000;
// Nine fast rates, so that a quick calibration reaches its end in seconds.
const QString kFastRates = QStringLiteral("500,1000,1500,2000,2500,3000,3500,4000,8000");

using FramePredicate = std::function<bool(const QString& frame)>;

int messageId(const QString& frame) {
    bool ok = false;
    const int id = frame.section(QLatin1Char(' '), 3, 3).toInt(&ok, 16);
    return ok ? id : -1;
}

// The driver's standing traffic: position, slew-done, temperature and fan exchanges. Any other
// frame belongs to a chore (connecting, limits, calibration).
bool isChoreFrame(const QString& frame) {
    static const QList<int> cycle{0x01, 0x13, 0x26, 0x27, 0x28};
    return !cycle.contains(messageId(frame));
}

// A calibration clears the controller's calibrated flag before it moves, and a quick one needs
// the flag set.
bool clearsCalibration(const QString& frame) {
    return messageId(frame) == msg::WriteMemory &&
           frame.section(QLatin1Char(' '), 4, 4).toInt(nullptr, 16) == reg::Calibrated &&
           frame.section(QLatin1Char(' '), 5, 5).toInt(nullptr, 16) == 0;
}

struct LoggedFrame {
    QString frame;
    bool answered = true;
    qint64 end = 0; // log offset after its line
};

// One exchange in the simulator's log as the bench saw it.
struct Exchange {
    qint64 ms = -1; // bench clock when seen (abortToStop: since the abort); -1 when not seen
    qint64 end = 0;
    QString frame;
    bool answered = true;
    QStringList before; // frames logged between the start of the look and this one
};

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

    // simArgs come after the rig's own; instantAnswers drops the simulator's answer delays.
    QString start(const QString& driverPath, bool instantAnswers = true,
                  const QStringList& simArgs = {QStringLiteral("--approach-speed"),
                                                QString::number(kApproachSpeed)}) {
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
        const QStringList args = QStringList{QStringLiteral("--state"),  state,
                                             QStringLiteral("--lower"),  QStringLiteral("-4000"),
                                             QStringLiteral("--upper"),  QStringLiteral("4000"),
                                             QStringLiteral("--verbose")} +
                                 simArgs;
        if (!sim.start(instantAnswers ? fastSimArgs(dir.path(), args)
                                      : comSimArgs(dir.path(), args)))
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

    void drain() {
        driver.waitForReadyRead(0);
        out += driver.readAllStandardOutput();
    }

    // The first exchange logged after byte `from` whose frame `wanted` accepts, with the frames
    // logged before it; an empty frame when none came within waitMs or `abandon` said so.
    Exchange waitExchange(const FramePredicate& wanted, qint64 from, int waitMs,
                          const std::function<bool()>& abandon = {}) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < waitMs) {
            drain();
            if (abandon && abandon())
                return {};
            Exchange e;
            for (const LoggedFrame& f : framesSince(from)) {
                if (!wanted(f.frame)) {
                    e.before << f.frame;
                    continue;
                }
                e.ms = clock.elapsed();
                e.end = f.end;
                e.frame = f.frame;
                e.answered = f.answered;
                return e;
            }
            QThread::usleep(500);
        }
        return {};
    }

    QList<LoggedFrame> framesSince(qint64 from) const {
        QList<LoggedFrame> frames;
        QFile log(simLog);
        if (!log.open(QIODevice::ReadOnly))
            return frames;
        log.seek(from);
        const QByteArray added = log.readAll();
        qsizetype pos = 0;
        // A line still being written is read again on the next look.
        for (qsizetype nl = added.indexOf('\n'); nl >= 0;
             pos = nl + 1, nl = added.indexOf('\n', pos)) {
            const QString text = QString::fromLatin1(added.mid(pos, nl - pos));
            const qsizetype arrow = text.indexOf(QStringLiteral("  ->  "));
            if (arrow < 0)
                continue;
            const QString head = text.left(arrow).trimmed();
            frames.append({head.mid(head.indexOf(QLatin1Char(' '))).trimmed(),
                           !text.endsWith(QStringLiteral("(no answer)")), from + nl + 1});
        }
        return frames;
    }

    // Waits until the controller has had no chore frame for quietMs; the chore frames seen.
    QStringList settle(int quietMs = kQuietMs) {
        QStringList seen;
        qint64 from = logSize();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < kWaitMs) {
            const Exchange e = waitExchange(isChoreFrame, from, quietMs);
            if (e.ms < 0)
                break;
            seen << e.frame;
            from = e.end;
        }
        return seen;
    }

    // Sends a chore's switch and waits for its first frame. The driver refuses a chore while
    // another one (its connect's, a previous run's tail) still holds the line, so a refusal is
    // asked again.
    Exchange startChore(const QByteArray& xml) {
        for (int attempt = 0; attempt < kChoreAttempts; ++attempt) {
            const qsizetype outFrom = out.size();
            const qint64 from = logSize();
            send(xml);
            const Exchange e = waitExchange(isChoreFrame, from, kChoreStartMs, [this, outFrom] {
                return out.indexOf("is busy", outFrom) >= 0;
            });
            if (e.ms >= 0)
                return e;
            QThread::msleep(kRetryMs);
        }
        return {};
    }

    // Sends the abort; the time to the stop frame and the frames the controller got before it.
    Exchange abortToStop() {
        const qsizetype from = logSize();
        const qint64 t0 = clock.elapsed();
        send("<newSwitchVector device='Tarnivel' name='FOCUS_ABORT_MOTION'><oneSwitch "
             "name='ABORT'>On</oneSwitch></newSwitchVector>");
        Exchange e =
            waitExchange([](const QString& f) { return f == kStopFrame; }, from, kStopWaitMs);
        if (e.ms >= 0)
            e.ms -= t0;
        return e;
    }

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

// The console's poll as its window runs it, less the drawing: the readout every fifth run, the
// timer armed again 50 ms after each run ends.
class HeadlessPollView final : public PollView {
public:
    explicit HeadlessPollView(FocuserDevice& device) : device_(device) {}
    void GotoStageDue() override {}
    Sequence<bool> Readout(Pacer& pacer) override { return Read(device_, pacer); }
    Sequence<bool> StatusUpdate(Pacer& pacer) override { return Status(device_, pacer); }
    void CompensationGotoStarting() override {}
    void ShowTempComp() override {}
    void ShowMoving(int) override {}
    Sequence<bool> SendQueuedFanCommand(Pacer&) override { return Nothing(); }

private:
    static Sequence<bool> Read(FocuserDevice& device, Pacer& pacer) {
        const int p = co_await device.ReadPosition(pacer);
        co_return p != -1;
    }
    static Sequence<bool> Status(FocuserDevice& device, Pacer& pacer) {
        co_await device.ReadStatus(pacer, [] { return 0; });
        co_return true;
    }
    static Sequence<bool> Nothing() { co_return false; }
    FocuserDevice& device_;
};

// The console's own gotos on the real port, at the pace of its poll.
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
    QuietSound sound;
    FocuserDevice device(commands, sound);
    device.settings().Approach = 1;
    device.settings().Overshoot = 1000;
    MotionState& motion = device.motion();
    ConsolePoll poll(device);
    HeadlessPollView view(device);
    InlinePacer pacer(platform);
    motion.CurrentPosition = commands.GetPosition();

    Series one;
    Series two;
    QElapsedTimer clock;
    for (int round = 0; round < kRounds; ++round) {
        // Counter 0 -> 2000 (up: out to 3000 and back), then 2000 -> -2000 (down: one move).
        for (const int target : {2000, 16775216}) {
            const int from = motion.CurrentPosition;
            clock.start();
            device.BeginGoto(target, link.StopCount());
            // A click finds the timer half-way through its period on average.
            unsigned long wait = kConsoleTickMs / 2;
            while (!motion.GotoDone && clock.elapsed() < kWaitMs) {
                QCoreApplication::processEvents();
                QThread::msleep(wait);
                wait = kConsoleTickMs;
                poll.Steps(pacer, view, 0, link.StopCount()).RunToEnd();
            }
            const double ms = static_cast<double>(clock.elapsed());
            device.FinishGoto();
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
    return gotoOverheads(one, two);
}

const QByteArray kLimitsOn = "<newSwitchVector device='Tarnivel' name='TARNIVEL_LIMITS'><oneSwitch "
                             "name='ON'>On</oneSwitch></newSwitchVector>";
const QByteArray kLimitsOff =
    "<newSwitchVector device='Tarnivel' name='TARNIVEL_LIMITS'><oneSwitch "
    "name='OFF'>On</oneSwitch></newSwitchVector>";
const QByteArray kQuickCalibrate = "<newSwitchVector device='Tarnivel' name='TARNIVEL_CALIBRATE'>"
                                   "<oneSwitch name='QUICK'>On</oneSwitch></newSwitchVector>";

struct AnswerTiming {
    QString key;
    QString label;
    QStringList simArgs;
    bool instant = false;
    double targetMs = 0;
};

// The runs of one state: abort to stop frame, and what the controller got ahead of the stop.
struct StateRuns {
    Series ms;
    QJsonArray ahead;
    QStringList mostAhead;
    QString trigger;
    QString error;

    bool add(const Exchange& e) {
        if (e.ms < 0) {
            error = QStringLiteral("no stop frame within %1 ms of the abort").arg(kStopWaitMs);
            return false;
        }
        ms.add(static_cast<double>(e.ms));
        ahead.append(static_cast<int>(e.before.size()));
        if (e.before.size() > mostAhead.size())
            mostAhead = e.before;
        return true;
    }
    bool fail(const QString& why) {
        error = why;
        return false;
    }
    bool done() const { return !error.isEmpty() || ms.count() >= kRounds; }
};

class StateBench {
public:
    StateBench(const QString& simPath, const QString& driverPath)
        : simPath_(simPath), driverPath_(driverPath) {}

    std::unique_ptr<DriverRig> newRig(const AnswerTiming& timing, QString& error,
                                      const QStringList& extra = {}) {
        auto rig = std::make_unique<DriverRig>(simPath_);
        error = rig->start(
            driverPath_, timing.instant,
            QStringList{QStringLiteral("--approach-speed"), QString::number(kStateApproachSpeed),
                        QStringLiteral("--slew-speed"), QString::number(kStateSlewSpeed),
                        QStringLiteral("--rate-speeds"), kFastRates} +
                timing.simArgs + extra);
        if (error.isEmpty())
            rig->settle();
        return rig;
    }

    static void atRest(DriverRig& rig, StateRuns& r) {
        while (!r.done()) {
            rig.settle();
            r.add(rig.abortToStop());
        }
    }

    // Each run heads for 0 from where the last abort left the focuser, a few hundred steps
    // lower, so no goto back is needed.
    static void midMove(DriverRig& rig, StateRuns& r) {
        while (!r.done()) {
            rig.settle();
            const qint64 from = rig.logSize();
            rig.sendTarget(0);
            const Exchange move = rig.waitExchange(
                [](const QString& f) { return f.startsWith(kApproachTag); }, from, kWaitMs);
            if (move.ms < 0) {
                r.fail(QStringLiteral("no motion frame before the abort"));
                return;
            }
            r.trigger = move.frame;
            QThread::msleep(kMidMoveMs);
            r.add(rig.abortToStop());
        }
    }

    static void limitsOn(DriverRig& rig, StateRuns& r) {
        while (!r.done()) {
            const Exchange first = rig.startChore(kLimitsOn);
            if (first.ms < 0) {
                r.fail(QStringLiteral("the limits switch sent no frame"));
                return;
            }
            r.trigger = first.frame;
            if (!r.add(rig.abortToStop()))
                return;
            rig.settle();
            rig.send(kLimitsOff);
            rig.settle();
        }
    }

    // Reuses the rig while an aborted set-up left the focuser calibrated.
    void quickSetUp(std::unique_ptr<DriverRig>& rig, const AnswerTiming& timing, StateRuns& r) {
        while (!r.done()) {
            const Exchange first = rig->startChore(kQuickCalibrate);
            if (first.ms < 0) {
                r.fail(QStringLiteral("the quick calibration sent no frame"));
                return;
            }
            r.trigger = first.frame;
            const Exchange stop = rig->abortToStop();
            if (!r.add(stop))
                return;
            const QStringList after = rig->settle();
            if (r.done() ||
                (std::none_of(stop.before.begin(), stop.before.end(), clearsCalibration) &&
                 std::none_of(after.begin(), after.end(), clearsCalibration)))
                continue;
            QString error;
            rig = newRig(timing, error);
            if (!error.isEmpty())
                r.fail(error);
        }
    }

    // A fresh, calibrated focuser each run, since an abort at the end leaves it uncalibrated.
    void calibrationEnd(const AnswerTiming& timing, StateRuns& r) {
        while (!r.done()) {
            QString error;
            const std::unique_ptr<DriverRig> rig = newRig(timing, error);
            if (!error.isEmpty()) {
                r.fail(error);
                return;
            }
            const Exchange first = rig->startChore(kQuickCalibrate);
            if (first.ms < 0) {
                r.fail(QStringLiteral("the quick calibration sent no frame"));
                return;
            }
            const Exchange centring = rig->waitExchange(
                [](const QString& f) { return messageId(f) == msg::GotoPosition; }, first.end,
                kWaitMs);
            if (centring.ms < 0) {
                r.fail(QStringLiteral("the quick calibration sent no centring goto"));
                return;
            }
            const Exchange store = rig->waitExchange(
                [](const QString& f) {
                    return messageId(f) == msg::SetLimitMax || messageId(f) == msg::SetLimitMin;
                },
                centring.end, kWaitMs);
            if (store.ms < 0) {
                r.fail(QStringLiteral("the quick calibration stored no limits"));
                return;
            }
            r.trigger = store.frame;
            r.add(rig->abortToStop());
        }
    }

    // The controller falls silent at the frame `msgId` takes on its (reads + 1)th time, the
    // limits switch's first read when the connection made `reads` of them.
    void silentAtLimits(const AnswerTiming& timing, int msgId, int reads, StateRuns& r) {
        while (!r.done()) {
            QStringList fault{QStringLiteral("--fault"), QStringLiteral("%1:go-silent").arg(msgId),
                              QStringLiteral("--recover-ms"), QStringLiteral("20000")};
            // The simulator's faults go by message id alone; answers as usual for the id's
            // frames while connecting make the silence fall on the limits' read.
            if (reads > 0)
                fault = QStringList{QStringLiteral("--fault"),
                                    QStringLiteral("%1:slow-answer:%2").arg(msgId).arg(reads),
                                    QStringLiteral("--slow-ms"), QStringLiteral("0")} +
                        fault;
            QString error;
            const std::unique_ptr<DriverRig> rig = newRig(timing, error, fault);
            if (!error.isEmpty()) {
                r.fail(error);
                return;
            }
            int seen = 0;
            for (const LoggedFrame& f : rig->framesSince(0))
                seen += messageId(f.frame) == msgId ? 1 : 0;
            if (seen != reads) {
                r.fail(QStringLiteral("the connection sent message %1 %2 times, not %3 as before")
                           .arg(msgId)
                           .arg(seen)
                           .arg(reads));
                return;
            }
            const Exchange first = rig->startChore(kLimitsOn);
            if (first.ms < 0 || first.answered || messageId(first.frame) != msgId) {
                r.fail(QStringLiteral("the limits switch's first read was not the silent one"));
                return;
            }
            r.trigger = first.frame;
            r.add(rig->abortToStop());
        }
    }

private:
    QString simPath_;
    QString driverPath_;
};

QJsonObject stateRow(const QString& state, const QString& label, const AnswerTiming& timing,
                     const StateRuns& r, double targetMs, bool noFrameAhead = false) {
    QJsonObject o = r.error.isEmpty() ? seriesObject(r.ms) : failure(r.error);
    o.insert(QStringLiteral("state"), state);
    o.insert(QStringLiteral("label"), label);
    o.insert(QStringLiteral("timing"), timing.key);
    o.insert(QStringLiteral("timingLabel"), timing.label);
    o.insert(QStringLiteral("targetMs"), targetMs);
    if (!r.error.isEmpty())
        return o;
    o.insert(QStringLiteral("framesAhead"), r.ahead);
    o.insert(QStringLiteral("mostAheadFrames"), QJsonArray::fromStringList(r.mostAhead));
    o.insert(QStringLiteral("trigger"), r.trigger);
    int most = 0;
    for (const QJsonValue& v : r.ahead)
        most = std::max(most, v.toInt());
    o.insert(QStringLiteral("noFrameAhead"), noFrameAhead);
    o.insert(QStringLiteral("met"), r.ms.max() <= targetMs && (!noFrameAhead || most == 0));
    return o;
}

// Abort to stop frame from each state the driver can be in, at the simulator's own answer
// timing and at 200 ms answers, and once with the controller gone silent mid-chore.
QJsonObject abortByState(const QString& simPath, const QString& driverPath) {
    const QList<AnswerTiming> timings{
        {QStringLiteral("default"), QStringLiteral("default answers"), {}, false, kAbortTargetMs},
        {QStringLiteral("slow"),
         QStringLiteral("%1 ms answers").arg(kSlowReplyMs),
         {QStringLiteral("--reply-delay"), QString::number(kSlowReplyMs)},
         false,
         kSlowAnswerTargetMs}};
    const QStringList states{QStringLiteral("rest"), QStringLiteral("midMove"),
                             QStringLiteral("limitsOn"), QStringLiteral("quickSetUp"),
                             QStringLiteral("calibrationEnd")};
    const QStringList labels{
        QStringLiteral("at rest"), QStringLiteral("mid-move"), QStringLiteral("limits switched on"),
        QStringLiteral("quick calibration set-up"), QStringLiteral("calibration ending")};
    StateBench bench(simPath, driverPath);
    QHash<QString, QJsonObject> rows;
    QStringList connectFrames;
    QString limitsTrigger;
    for (const AnswerTiming& timing : timings) {
        QList<StateRuns> runs(states.size());
        QString error;
        std::unique_ptr<DriverRig> rig = bench.newRig(timing, error);
        if (error.isEmpty()) {
            if (timing.key == timings.first().key)
                for (const LoggedFrame& f : rig->framesSince(0))
                    connectFrames << f.frame;
            StateBench::atRest(*rig, runs[0]);
            StateBench::midMove(*rig, runs[1]);
            StateBench::limitsOn(*rig, runs[2]);
            bench.quickSetUp(rig, timing, runs[3]);
            rig.reset();
            bench.calibrationEnd(timing, runs[4]);
        } else {
            for (StateRuns& r : runs)
                r.fail(error);
        }
        if (limitsTrigger.isEmpty())
            limitsTrigger = runs[2].trigger;
        for (int i = 0; i < states.size(); ++i)
            rows.insert(states[i] + timing.key,
                        stateRow(states[i], labels[i], timing, runs[i], timing.targetMs));
    }
    QJsonArray table;
    for (const QString& state : states)
        for (const AnswerTiming& timing : timings)
            table.append(rows.value(state + timing.key));
    QJsonObject result;
    result.insert(QStringLiteral("rows"), table);

    StateRuns silent;
    const int msgId = messageId(limitsTrigger);
    if (msgId < 0) {
        silent.fail(QStringLiteral("the limits switch's first frame is not known"));
    } else {
        int reads = 0;
        for (const QString& f : connectFrames)
            reads += messageId(f) == msgId ? 1 : 0;
        bench.silentAtLimits(timings.first(), msgId, reads, silent);
    }
    QJsonObject silentRow = stateRow(QStringLiteral("silentAtLimits"),
                                     QStringLiteral("silent at the limits' first read"),
                                     timings.first(), silent, kSilentTargetMs, true);
    silentRow.insert(QStringLiteral("messageId"), msgId);
    result.insert(QStringLiteral("silent"), silentRow);
    return result;
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
        result.insert(QStringLiteral("driverGotos"), gotoOverheads(one, two));
    }
    result.insert(QStringLiteral("consoleGotos"), consoleGotos(simPath));
    result.insert(QStringLiteral("abortByState"), abortByState(simPath, driverPath));
    return result;
}

} // namespace tarnivel::bench
