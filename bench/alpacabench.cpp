#include "alpacabench.h"

#include "benchutil.h"
#include "sim/simtoolprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

namespace tarnivel::bench {

namespace {

constexpr double kIdleTargetPercent = 1.0;
constexpr double kStatusTargetMs = 5.0;
constexpr double kHaltTargetMs = 300.0;
// As for the INDI driver: one poll period (250 ms at Frequency 4) plus one command (a
// position read, 132 ms on the pacing).
constexpr double kFirstFrameTargetMs = 250.0 + 132.0;
constexpr int kApproachSpeed = 4000;
constexpr int kRounds = 3;
constexpr int kIdleSamples = 300;
constexpr int kWaitMs = 20000;
// Several imaging programs (or one with its plug-ins) polling while another drives the focuser.
constexpr int kPollers = 8;
constexpr int kPollMs = 50;
constexpr double kCrowdMaxMs = 50.0;
constexpr int kCrowdRounds = 8;
// IsMoving turns false once the position after the stop has been read: one command more.
constexpr double kHaltStillTargetMs = kHaltTargetMs + 132.0;

// One request on a kept-alive connection; the reply's body, empty on failure.
QByteArray askOn(QTcpSocket& client, quint16 port, const QByteArray& method,
                 const QByteArray& member, const QByteArray& body = {}, int waitMs = 3000) {
    if (client.state() != QAbstractSocket::ConnectedState) {
        client.abort();
        client.connectToHost(QHostAddress::LocalHost, port);
        if (!client.waitForConnected(3000))
            return {};
    }
    client.write(method + " /api/v1/focuser/0/" + member + " HTTP/1.1\r\nHost: bench\r\n" +
                 (method == "PUT" ? "Content-Type: application/x-www-form-urlencoded\r\n" : "") +
                 "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    static const QRegularExpression length(QStringLiteral("Content-Length: (\\d+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    while (client.waitForReadyRead(waitMs)) {
        reply += client.readAll();
        const qsizetype head = reply.indexOf("\r\n\r\n");
        const auto m = length.match(QString::fromLatin1(reply.left(head)));
        if (head >= 0 && m.hasMatch() && reply.size() - head - 4 >= m.captured(1).toLongLong())
            return reply.mid(head + 4);
    }
    // A reply still on its way would be read as the next request's.
    client.abort();
    return {};
}

class AlpacaRig {
public:
    QTemporaryDir dir;
    sim::SimToolProcess sim;
    QProcess daemon;
    QTcpSocket client;
    QString simLog;
    quint16 port = 0;
    QElapsedTimer clock;

    explicit AlpacaRig(const QString& simPath) : sim(simPath) { clock.start(); }
    ~AlpacaRig() {
        client.abort();
        if (daemon.state() != QProcess::NotRunning) {
            daemon.terminate();
            if (!daemon.waitForFinished(5000))
                daemon.kill();
            daemon.waitForFinished(5000);
        }
        sim.stop();
    }

    QString start(const QString& daemonPath) {
        return start(daemonPath, kServedCalibratedState,
                     {QStringLiteral("--lower"), QStringLiteral("-4000"), QStringLiteral("--upper"),
                      QStringLiteral("4000"), QStringLiteral("--approach-speed"),
                      QString::number(kApproachSpeed)});
    }

    // The console as the hub, the bench's own child: it connects once its window is painted
    // and serves from then on.
    QString startHub(const QString& benchPath) {
        const QString error =
            startSim(kServedCalibratedState,
                     {QStringLiteral("--lower"), QStringLiteral("-4000"), QStringLiteral("--upper"),
                      QStringLiteral("4000"), QStringLiteral("--approach-speed"),
                      QString::number(kApproachSpeed)});
        if (!error.isEmpty())
            return error;
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return QStringLiteral("no free port for the hub");
        port = probe.serverPort();
        probe.close();
        daemon.setStandardErrorFile(dir.filePath(QStringLiteral("hub.log")));
        daemon.start(benchPath,
                     {QStringLiteral("--child"), QStringLiteral("idle"), QStringLiteral("--folder"),
                      dir.path(), QStringLiteral("--seconds"), QStringLiteral("3600"),
                      QStringLiteral("--connect"), QStringLiteral("--serve-alpaca"),
                      QString::number(port)});
        if (!daemon.waitForStarted(5000))
            return QStringLiteral("the console did not start");
        if (!until("connected", "\"Value\":true"))
            return QStringLiteral("the console did not connect and serve");
        return {};
    }

    // The daemon on a simulator that starts from stateFile with simArgs.
    QString start(const QString& daemonPath, const QByteArray& stateFile,
                  const QStringList& simArgs) {
        const QString error = startSim(stateFile, simArgs);
        if (!error.isEmpty())
            return error;
        daemon.setStandardErrorFile(dir.filePath(QStringLiteral("daemon.log")));
        daemon.start(daemonPath,
                     {QStringLiteral("--dir"), dir.path(), QStringLiteral("--port"),
                      QStringLiteral("0"), QStringLiteral("--discovery-port"), QStringLiteral("0"),
                      QStringLiteral("--bind"), QStringLiteral("127.0.0.1")});
        if (!daemon.waitForReadyRead(5000))
            return QStringLiteral("the daemon did not start");
        const auto m = QRegularExpression(QStringLiteral("http://127.0.0.1:(\\d+)/"))
                           .match(QString::fromUtf8(daemon.readAllStandardOutput()));
        port = m.captured(1).toUShort();
        if (!m.hasMatch())
            return QStringLiteral("the daemon did not say where it listens");
        return {};
    }

    QString startSim(const QByteArray& stateFile, const QStringList& simArgs) {
        const QString state = dir.filePath(QStringLiteral("sim.state"));
        simLog = dir.filePath(QStringLiteral("sim.log"));
        if (!dir.isValid() ||
            !writeFile(dir.filePath(QStringLiteral("tarnivel.ini")), kServedSettings) ||
            !writeFile(state, stateFile))
            return QStringLiteral("cannot prepare the server's folder");
        sim.setOutputFile(simLog);
        if (!sim.start(fastSimArgs(dir.path(), QStringList{QStringLiteral("--state"), state,
                                                           QStringLiteral("--verbose")} +
                                                   simArgs)))
            return sim.error();
        return {};
    }

    // Connected, and a temperature read: the state every timing below starts from.
    QString connect() {
        if (!ask("PUT", "connected", "Connected=True").contains("\"ErrorNumber\":0,"))
            return QStringLiteral("the daemon did not connect");
        if (!until("temperature", "\"ErrorNumber\":0,"))
            return QStringLiteral("the daemon read no temperature");
        return {};
    }

    // One request on the kept-alive connection; the reply's body, empty on failure.
    QByteArray ask(const QByteArray& method, const QByteArray& member, const QByteArray& body = {},
                   int waitMs = 3000) {
        return askOn(client, port, method, member, body, waitMs);
    }

    bool until(const QByteArray& member, const QByteArray& wanted) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < kWaitMs) {
            if (ask("GET", member).contains(wanted))
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    qint64 logSize() const { return QFileInfo(simLog).size(); }

    // The bench clock's milliseconds when a frame line with text showed in the simulator's
    // output after byte from; -1 when none did within the wait.
    qint64 waitFrame(const QString& text, qint64 from) {
        return WaitForLogText(simLog, text, from, clock, kWaitMs);
    }

    // A GET position, timed; false when it got no value.
    bool timedPosition(Series& into) {
        QElapsedTimer t;
        t.start();
        const bool ok = ask("GET", "position").contains("\"ErrorNumber\":0,");
        into.add(static_cast<double>(t.nsecsElapsed()) / 1e6);
        return ok;
    }
};

QJsonObject timing(const Series& s, double targetMs, bool met) {
    QJsonObject o;
    o.insert(QStringLiteral("medianMs"), s.median());
    o.insert(QStringLiteral("p99Ms"), s.percentile(0.99));
    o.insert(QStringLiteral("maxMs"), s.max());
    o.insert(QStringLiteral("runs"), s.count());
    o.insert(QStringLiteral("targetMs"), targetMs);
    o.insert(QStringLiteral("met"), met);
    return o;
}

// Connected and polling, no client asking: the server's CPU time over idleSeconds.
QJsonObject measureServerIdle(AlpacaRig& rig, int idleSeconds) {
    QThread::msleep(1000);
    const qint64 pid = rig.daemon.processId();
    const double cpu0 = processCpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    QThread::msleep(static_cast<unsigned long>(idleSeconds) * 1000);
    const double cpu = processCpuSeconds(pid) - cpu0;
    const double percent = 100.0 * cpu / (static_cast<double>(wall.elapsed()) / 1000.0);
    QJsonObject idle;
    idle.insert(QStringLiteral("cpuSeconds"), cpu);
    idle.insert(QStringLiteral("wallSeconds"), static_cast<double>(wall.elapsed()) / 1000.0);
    idle.insert(QStringLiteral("corePercent"), percent);
    idle.insert(QStringLiteral("targetPercent"), kIdleTargetPercent);
    idle.insert(QStringLiteral("met"), percent <= kIdleTargetPercent);
    return idle;
}

// Every figure of a server already connected; the idle cost when idleSeconds > 0.
QJsonObject measureServed(AlpacaRig& rig, int idleSeconds) {
    QJsonObject result;
    if (idleSeconds > 0)
        result.insert(QStringLiteral("idle"), measureServerIdle(rig, idleSeconds));

    Series standing;
    for (int i = 0; i < kIdleSamples; ++i) {
        if (!rig.timedPosition(standing))
            return failure(QStringLiteral("a GET position failed while standing"));
        QThread::msleep(3);
    }

    Series moving;
    Series firstFrame;
    Series moveReply;
    Series halt;
    Series oneMove;
    Series twoMoves;
    for (int round = 0; round < kRounds; ++round) {
        // Up to 6000 (two moves), down to 2000 (one), asking the position all the way.
        for (const char* target : {"6000", "2000"}) {
            const qint64 from = rig.logSize();
            const qint64 t0 = rig.clock.elapsed();
            QElapsedTimer answered;
            answered.start();
            if (!rig.ask("PUT", "move", QByteArray("Position=") + target)
                     .contains("\"ErrorNumber\":0,"))
                return failure(
                    QStringLiteral("the move to %1 was refused").arg(QLatin1String(target)));
            moveReply.add(static_cast<double>(answered.nsecsElapsed()) / 1e6);
            const qint64 t1 = rig.waitFrame(kApproachTag, from);
            if (t1 < 0)
                return failure(QStringLiteral("no motion frame for the move to %1")
                                   .arg(QLatin1String(target)));
            firstFrame.add(static_cast<double>(t1 - t0));
            QElapsedTimer t;
            t.start();
            while (!rig.ask("GET", "ismoving").contains("\"Value\":false")) {
                if (!rig.timedPosition(moving) || t.elapsed() > kWaitMs)
                    return failure(
                        QStringLiteral("the move to %1 did not end").arg(QLatin1String(target)));
                QThread::msleep(3);
            }
            // From client 4000 up past 6000 by the overshoot and back, or 6000 down to 2000:
            // 4000 steps either way.
            const double overhead =
                static_cast<double>(rig.clock.elapsed() - t0) - 4000 * 1000.0 / kApproachSpeed;
            (qstrcmp(target, "6000") == 0 ? twoMoves : oneMove).add(overhead);
        }
        // Halt on the way down to 0, once the motion frame is out.
        const qint64 from = rig.logSize();
        rig.ask("PUT", "move", "Position=0");
        if (rig.waitFrame(kApproachTag, from) < 0)
            return failure(QStringLiteral("no motion frame before the halt"));
        QThread::msleep(200);
        const qint64 stopFrom = rig.logSize();
        const qint64 t0 = rig.clock.elapsed();
        rig.ask("PUT", "halt");
        const qint64 t1 = rig.waitFrame(kStopFrame, stopFrom);
        if (t1 < 0)
            return failure(QStringLiteral("no stop frame after the halt"));
        halt.add(static_cast<double>(t1 - t0));
        QThread::msleep(300);
        rig.ask("PUT", "move", "Position=4000");
        if (!rig.until("position", "\"Value\":4000}") || !rig.until("ismoving", "\"Value\":false"))
            return failure(QStringLiteral("the move back did not end"));
    }
    result.insert(QStringLiteral("standing"),
                  timing(standing, kStatusTargetMs, standing.percentile(0.99) <= kStatusTargetMs));
    result.insert(QStringLiteral("moving"),
                  timing(moving, kStatusTargetMs, moving.percentile(0.99) <= kStatusTargetMs));
    result.insert(QStringLiteral("moveReply"),
                  timing(moveReply, 1000.0, moveReply.max() <= 1000.0));
    result.insert(
        QStringLiteral("firstMotionFrame"),
        timing(firstFrame, kFirstFrameTargetMs, firstFrame.median() <= kFirstFrameTargetMs));
    result.insert(QStringLiteral("haltToStop"),
                  timing(halt, kHaltTargetMs, halt.max() <= kHaltTargetMs));
    result.insert(QStringLiteral("gotos"), gotoOverheads(oneMove, twoMoves));

    // A crowd: eight clients poll position, ismoving and temperature every 50 ms on their own
    // connections while this one moves and halts; no GET may wait for the verbs.
    std::atomic<bool> polling{true};
    std::vector<std::vector<double>> polled(kPollers);
    std::vector<std::unique_ptr<QThread>> pollers;
    for (int i = 0; i < kPollers; ++i) {
        pollers.emplace_back(QThread::create([&, i] {
            QTcpSocket socket;
            const QByteArray members[] = {"position", "ismoving", "temperature"};
            for (int n = 0; polling.load(); ++n) {
                QElapsedTimer t;
                t.start();
                askOn(socket, rig.port, "GET", members[n % 3]);
                polled[size_t(i)].push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
                QThread::msleep(kPollMs);
            }
        }));
        pollers.back()->start();
    }
    Series haltToStill;
    for (int round = 0; round < kCrowdRounds; ++round) {
        const qint64 from = rig.logSize();
        rig.ask("PUT", "move", round % 2 == 0 ? "Position=0" : "Position=8000");
        if (rig.waitFrame(kApproachTag, from) < 0)
            break;
        QThread::msleep(300);
        QElapsedTimer t;
        t.start();
        rig.ask("PUT", "halt");
        // Asked back to back: the figure is the server's, not a poll period's.
        while (!rig.ask("GET", "ismoving").contains("\"Value\":false") && t.elapsed() < kWaitMs) {
        }
        haltToStill.add(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    polling = false;
    for (auto& poller : pollers)
        poller->wait();
    Series crowd;
    for (const auto& times : polled) {
        for (double ms : times)
            crowd.add(ms);
    }
    result.insert(QStringLiteral("crowdGet"),
                  timing(crowd, kStatusTargetMs,
                         crowd.percentile(0.99) <= kStatusTargetMs && crowd.max() <= kCrowdMaxMs));
    result.insert(
        QStringLiteral("haltToStill"),
        timing(haltToStill, kHaltStillTargetMs,
               haltToStill.count() == kCrowdRounds && haltToStill.max() <= kHaltStillTargetMs));
    return result;
}

} // namespace

QJsonObject measureAlpaca(const QString& simPath, const QString& daemonPath, int idleSeconds) {
    if (!QFileInfo::exists(daemonPath))
        return failure(QStringLiteral("%1 was not built").arg(daemonPath));
    AlpacaRig rig(simPath);
    QString error = rig.start(daemonPath);
    if (error.isEmpty())
        error = rig.connect();
    if (!error.isEmpty())
        return failure(error);
    return measureServed(rig, idleSeconds);
}

QJsonObject measureHub(const QString& simPath, const QString& benchPath) {
    AlpacaRig rig(simPath);
    QString error = rig.startHub(benchPath);
    if (error.isEmpty())
        error = rig.connect();
    if (!error.isEmpty())
        return failure(error);
    return measureServed(rig, 0);
}

namespace {

// A calibrated 200000-step travel standing at its middle: MaxTravel 0x030D40, real lower limit
// -100000 (0xFE7960), real upper limit +100000 (0x0186A0). A client sees MaxStep 200000 and
// Position 100000.
const QByteArray kLongCalibratedState =
    "register40=1\nregister41=3\nregister42=13\nregister43=64\n"
    "register44=254\nregister45=121\nregister46=96\nregister47=1\n"
    "register48=134\nregister49=160\nautoStop=1\nplace=0\nposition=0\n";
const QByteArray kLongMaxStep = "\"Value\":200000}";
const QByteArray kLongMiddle = "\"Value\":100000}";
constexpr double kLateShare = 0.15;
// A connect reads some twenty registers; each late answer costs its attempt and a quiet line.
constexpr int kConnectWaitMs = 30000;

} // namespace

QJsonObject measureLateConnects(const QString& simPath, const QString& daemonPath, int connects) {
    if (!QFileInfo::exists(daemonPath))
        return failure(QStringLiteral("%1 was not built").arg(daemonPath));
    AlpacaRig rig(simPath);
    // Late answers arrive 500 ms after their frame, past the link's receive time-out.
    const QString error =
        rig.start(daemonPath, kLongCalibratedState,
                  {QStringLiteral("--lower"), QStringLiteral("-100000"), QStringLiteral("--upper"),
                   QStringLiteral("100000"), QStringLiteral("--fault-rate"),
                   QStringLiteral("slow-answer=%1").arg(kLateShare), QStringLiteral("--slow-ms"),
                   QStringLiteral("500")});
    if (!error.isEmpty())
        return failure(error);
    int right = 0;
    int wrong = 0;
    int refused = 0;   // the connect failed and said so
    int scaleKept = 0; // connected, and the members that need the scale answered an error
    Series seconds;
    QStringList wrongScales;
    for (int n = 0; n < connects; ++n) {
        QElapsedTimer t;
        t.start();
        const QByteArray connected = rig.ask("PUT", "connected", "Connected=True", kConnectWaitMs);
        seconds.add(static_cast<double>(t.elapsed()) / 1000.0);
        if (!connected.contains("\"ErrorNumber\":0,")) {
            ++refused;
        } else {
            const QByteArray max = rig.ask("GET", "maxstep");
            const QByteArray position = rig.ask("GET", "position");
            if (!max.contains("\"ErrorNumber\":0,") || !position.contains("\"ErrorNumber\":0,")) {
                ++scaleKept;
            } else if (max.contains(kLongMaxStep) && position.contains(kLongMiddle)) {
                ++right;
            } else {
                ++wrong;
                wrongScales << QString::fromUtf8(max + " " + position);
            }
        }
        rig.ask("PUT", "connected", "Connected=False");
    }
    QJsonObject result;
    result.insert(QStringLiteral("connects"), connects);
    result.insert(QStringLiteral("lateShare"), kLateShare);
    result.insert(QStringLiteral("rightScale"), right);
    result.insert(QStringLiteral("wrongScale"), wrong);
    result.insert(QStringLiteral("failedConnects"), refused);
    result.insert(QStringLiteral("scaleNotYetKnown"), scaleKept);
    result.insert(QStringLiteral("wrongScales"), QJsonArray::fromStringList(wrongScales));
    result.insert(QStringLiteral("medianConnectSeconds"), seconds.median());
    result.insert(QStringLiteral("maxConnectSeconds"), seconds.max());
    // Every connect that shows a scale shows the right one; honest failures are counted apart.
    result.insert(QStringLiteral("met"), wrong == 0 && right > 0);
    return result;
}

} // namespace tarnivel::bench
