#include "linkbench.h"

#include "benchutil.h"
#include "focusercommands.h"
#include "focuserlink.h"
#include "platform.h"
#include "programfolder.h"
#include "qtplatform.h"
#include "qtserialport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

namespace tarnivel::bench {

namespace {

constexpr int kFrameChars = 8;
constexpr int kWarmUpExchanges = 3;
constexpr double kTargetRatio = 1.05;
constexpr double kTargetGapMs = 15.0;

double msSince(const QElapsedTimer& clock, qint64 startNs) {
    return static_cast<double>(clock.nsecsElapsed() - startNs) / 1e6;
}

// The console's link on the real port, against the simulator tool in a folder of its own.
struct LinkRig {
    QTemporaryDir dir;
    SimProcess sim;
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<QtSerialPort> port;
    QString error;

    bool start(const QString& simPath) {
        if (!dir.isValid()) {
            error = QStringLiteral("no temporary folder");
            return false;
        }
        if (!sim.start(simPath, dir.path())) {
            error = sim.error();
            return false;
        }
        folder = std::make_unique<ProgramFolder>(dir.path(), QStringLiteral("tarnivel"));
        port = std::make_unique<QtSerialPort>(*folder);
        if (!port->open(1)) {
            error = QStringLiteral("cannot open COM1 in %1").arg(dir.path());
            return false;
        }
        return true;
    }

    ~LinkRig() {
        if (port)
            port->close();
        sim.stop();
    }
};

QJsonObject failure(const QString& why) {
    QJsonObject o;
    o.insert(QStringLiteral("error"), why);
    return o;
}

// The real platform, watched: the first event pump of a command marks its receive phase,
// which began with the sleep just before that pump.
class WatchingPlatform : public Platform {
public:
    WatchingPlatform(Platform& inner, const QElapsedTimer& clock) : inner_(inner), clock_(clock) {}

    void sleepMs(int ms) override {
        if (receiveStartNs_ < 0)
            lastSleepNs_ = clock_.nsecsElapsed();
        inner_.sleepMs(ms);
    }
    void pumpEvents() override {
        if (receiveStartNs_ < 0)
            receiveStartNs_ = lastSleepNs_;
        inner_.pumpEvents();
    }
    qint64 nowMs() const override { return inner_.nowMs(); }

    void newCommand() {
        receiveStartNs_ = -1;
        lastSleepNs_ = -1;
    }
    qint64 receiveStartNs() const { return receiveStartNs_; }

private:
    Platform& inner_;
    const QElapsedTimer& clock_;
    qint64 receiveStartNs_ = -1;
    qint64 lastSleepNs_ = -1;
};

} // namespace

double floorMs(int replyBytes) {
    return kCharPacingMs * (kFrameChars + replyBytes + 1);
}

QJsonObject measureCommands(const QString& simPath, int exchanges) {
    LinkRig rig;
    if (!rig.start(simPath))
        return failure(rig.error);
    QtPlatform platform;
    FocuserLink link(*rig.port, platform);
    FocuserCommands commands(link);
    link.SetLinkOpen(true);

    struct Kind {
        const char* name;
        int replyBytes;
        std::function<int()> run;
        Series ms;
        int failures = 0;
    };
    qint32 done = 0;
    qint32 major = 0;
    qint32 minor = 0;
    Kind kinds[] = {
        {"SetAutoStop", 0, [&] { return commands.SetAutoStop(1); }, {}, 0},
        {"IsSlewDone", 1, [&] { return commands.IsSlewDone(done); }, {}, 0},
        {"GetFirmwareVersion", 2, [&] { return commands.GetFirmwareVersion(major, minor); }, {}, 0},
        {"GetPosition", 3, [&] { return commands.GetPosition() < 0 ? -1 : 0; }, {}, 0},
    };
    for (int i = 0; i < kWarmUpExchanges; ++i)
        commands.GetPosition();

    QElapsedTimer clock;
    clock.start();
    // Round robin, so that a disturbance on the machine spreads over every kind.
    for (int i = 0; i < exchanges; ++i) {
        for (Kind& k : kinds) {
            const qint64 start = clock.nsecsElapsed();
            const int result = k.run();
            k.ms.add(msSince(clock, start));
            if (result != 0)
                ++k.failures;
        }
    }

    QJsonArray rows;
    bool allMet = true;
    for (const Kind& k : kinds) {
        const double floor = floorMs(k.replyBytes);
        const double ratio = k.ms.median() / floor;
        const bool met = ratio <= kTargetRatio && k.failures == 0;
        allMet = allMet && met;
        QJsonObject row;
        row.insert(QStringLiteral("command"), QLatin1String(k.name));
        row.insert(QStringLiteral("replyBytes"), k.replyBytes);
        row.insert(QStringLiteral("exchanges"), k.ms.count());
        row.insert(QStringLiteral("failures"), k.failures);
        row.insert(QStringLiteral("floorMs"), floor);
        row.insert(QStringLiteral("medianMs"), k.ms.median());
        row.insert(QStringLiteral("minMs"), k.ms.min());
        row.insert(QStringLiteral("maxMs"), k.ms.max());
        row.insert(QStringLiteral("medianRatio"), ratio);
        row.insert(QStringLiteral("targetRatio"), kTargetRatio);
        row.insert(QStringLiteral("met"), met);
        rows.append(row);
    }
    QJsonObject result;
    result.insert(QStringLiteral("rows"), rows);
    result.insert(QStringLiteral("met"), allMet);
    return result;
}

QJsonObject measureResponsiveness(const QString& simPath, int exchanges) {
    LinkRig rig;
    if (!rig.start(simPath))
        return failure(rig.error);
    QElapsedTimer clock;
    clock.start();
    QtPlatform qtPlatform;
    WatchingPlatform platform(qtPlatform, clock);
    FocuserLink link(*rig.port, platform);
    FocuserCommands commands(link);
    link.SetLinkOpen(true);
    for (int i = 0; i < kWarmUpExchanges; ++i)
        commands.GetPosition();

    std::vector<qint64> events;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] { events.push_back(clock.nsecsElapsed()); });
    ticker.start();

    Series gaps;
    int failures = 0;
    for (int i = 0; i < exchanges; ++i) {
        events.clear();
        platform.newCommand();
        if (commands.GetPosition() < 0)
            ++failures;
        const qint64 end = clock.nsecsElapsed();
        const qint64 start = platform.receiveStartNs();
        if (start < 0)
            continue;
        // The phase's edges count as events: a click arriving as the phase begins waits for
        // the first pump, and the command's return hands the loop back to the window.
        qint64 previous = start;
        for (qint64 t : events) {
            if (t < start || t > end)
                continue;
            gaps.add(static_cast<double>(t - previous) / 1e6);
            previous = t;
        }
        gaps.add(static_cast<double>(end - previous) / 1e6);
    }
    ticker.stop();

    QJsonObject result;
    result.insert(QStringLiteral("exchanges"), exchanges);
    result.insert(QStringLiteral("failures"), failures);
    result.insert(QStringLiteral("gaps"), gaps.count());
    result.insert(QStringLiteral("medianGapMs"), gaps.median());
    result.insert(QStringLiteral("maxGapMs"), gaps.max());
    result.insert(QStringLiteral("targetMs"), kTargetGapMs);
    result.insert(QStringLiteral("met"),
                  failures == 0 && !gaps.empty() && gaps.max() <= kTargetGapMs);
    return result;
}

} // namespace tarnivel::bench
