#include "linkbench.h"

#include "benchutil.h"
#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/seams/platform.h"
#include "core/settings/programfolder.h"
#include "platform/qt/qtplatform.h"
#include "platform/qt/qtserialport.h"
#include "sim/simtoolprocess.h"

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
    std::unique_ptr<sim::SimToolProcess> tool;
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<QtSerialPort> port;
    QString error;

    bool start(const QString& simPath) {
        if (!dir.isValid()) {
            error = QStringLiteral("no temporary folder");
            return false;
        }
        tool = std::make_unique<sim::SimToolProcess>(simPath);
        if (!tool->start(fastSimArgs(dir.path()))) {
            error = tool->error();
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
        if (tool)
            tool->stop();
    }
};

// The real platform, watched for receive phases. Sending sleeps without pumping; receiving
// sleeps and pumps in turn. A phase begins with the sleep before its first pump and ends with
// its last pump, where the next frame (a retry) starts sleeping without one.
class WatchingPlatform : public Platform {
public:
    struct Phase {
        qint64 startNs = 0;
        qint64 endNs = -1; // open until closed
    };

    WatchingPlatform(Platform& inner, const QElapsedTimer& clock) : inner_(inner), clock_(clock) {}

    void sleepMs(int ms) override {
        if (receiving_ && !pumpedSinceSleep_) {
            phases_.back().endNs = lastPumpNs_;
            receiving_ = false;
        }
        pumpedSinceSleep_ = false;
        sleepStartNs_ = clock_.nsecsElapsed();
        inner_.sleepMs(ms);
        sleepEndNs_ = clock_.nsecsElapsed();
    }
    void pumpEvents() override {
        if (!receiving_) {
            phases_.push_back({sleepStartNs_, -1});
            receiving_ = true;
        }
        // How long the system took to hand the thread back after a poll's sleep.
        if (!pumpedSinceSleep_)
            pollSleeps_.add(static_cast<double>(sleepEndNs_ - sleepStartNs_) / 1e6);
        inner_.pumpEvents();
        lastPumpNs_ = clock_.nsecsElapsed();
        pumpedSinceSleep_ = true;
    }
    qint64 nowMs() const override { return inner_.nowMs(); }

    // Starts watching one command.
    void begin() {
        phases_.clear();
        receiving_ = false;
        pumpedSinceSleep_ = false;
    }
    // The command returned at endNs: its receive phases, two or more when it was retried.
    const std::vector<Phase>& end(qint64 endNs) {
        if (receiving_)
            phases_.back().endNs = endNs;
        receiving_ = false;
        return phases_;
    }
    const Series& pollSleeps() const { return pollSleeps_; }

private:
    Platform& inner_;
    const QElapsedTimer& clock_;
    std::vector<Phase> phases_;
    bool receiving_ = false;
    bool pumpedSinceSleep_ = false;
    qint64 sleepStartNs_ = 0;
    qint64 sleepEndNs_ = 0;
    qint64 lastPumpNs_ = 0;
    Series pollSleeps_;
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
    {
        // Unwatched, so that the watch starts with the first measured command.
        FocuserLink warmLink(*rig.port, qtPlatform);
        FocuserCommands warm(warmLink);
        warmLink.SetLinkOpen(true);
        for (int i = 0; i < kWarmUpExchanges; ++i)
            warm.GetPosition();
    }

    std::vector<qint64> events;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] { events.push_back(clock.nsecsElapsed()); });
    ticker.start();

    Series gaps;
    int failures = 0;
    int retried = 0;
    for (int i = 0; i < exchanges; ++i) {
        events.clear();
        platform.begin();
        if (commands.GetPosition() < 0)
            ++failures;
        const auto& phases = platform.end(clock.nsecsElapsed());
        if (phases.size() > 1)
            ++retried;
        // The phase's edges count as events: a click arriving as the phase begins waits for
        // the first pump, and the phase's end hands the loop back to the window (or to the
        // retry's frame, which sleeps by design).
        for (const WatchingPlatform::Phase& phase : phases) {
            qint64 previous = phase.startNs;
            for (qint64 t : events) {
                if (t < phase.startNs || t > phase.endNs)
                    continue;
                gaps.add(static_cast<double>(t - previous) / 1e6);
                previous = t;
            }
            gaps.add(static_cast<double>(phase.endNs - previous) / 1e6);
        }
    }
    ticker.stop();

    QJsonObject result;
    result.insert(QStringLiteral("exchanges"), exchanges);
    result.insert(QStringLiteral("failures"), failures);
    result.insert(QStringLiteral("retried"), retried);
    result.insert(QStringLiteral("gaps"), gaps.count());
    result.insert(QStringLiteral("medianGapMs"), gaps.median());
    result.insert(QStringLiteral("p99GapMs"), gaps.percentile(0.99));
    result.insert(QStringLiteral("maxGapMs"), gaps.max());
    result.insert(QStringLiteral("longestPollSleepMs"), platform.pollSleeps().max());
    result.insert(QStringLiteral("targetMs"), kTargetGapMs);
    result.insert(QStringLiteral("met"), !gaps.empty() && gaps.max() <= kTargetGapMs);
    return result;
}

} // namespace tarnivel::bench
