#include "settingsbench.h"

#include "benchutil.h"
#include "core/settings/focusersettings.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

namespace tarnivel::bench {

namespace {

constexpr int kBaseCount = 1000; // per-row figures are compared with this size
constexpr int kTargetCount = 10000;
constexpr double kTargetMs = 300.0;
// The loader sorts, so per-row time may rise a little (n log n, caches); a quadratic insert
// or a rescan per row would show as 10x to 100x.
constexpr double kMaxGrowth = 2.0;

struct Size {
    int count;
    int runs;
};
constexpr Size kSizes[] = {{100, 50}, {1000, 20}, {10000, 10}, {100000, 5}};

double msSince(const QElapsedTimer& clock, qint64 startNs) {
    return static_cast<double>(clock.nsecsElapsed() - startNs) / 1e6;
}

} // namespace

bool writeSettingsWithPositions(const QString& path, int count, quint32 seed) {
    QRandomGenerator random(seed);
    QStringList lines;
    lines.reserve(count + 4);
    lines << QStringLiteral("[TARNIVEL]") << QStringLiteral("   COMport              = 1")
          << QString() << QStringLiteral("[POSITIONS]");
    static const char* const kWords[] = {"Focus", "Camera", "Eyepiece", "Filter", "Night",
                                         "Moon",  "Planet", "Deep",     "Flat",   "Dark"};
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("%1 %2")
                                 .arg(QLatin1String(kWords[random.bounded(10)]))
                                 .arg(i, 6, 10, QLatin1Char('0'));
        const int raw = static_cast<int>(random.bounded(kRawSteps));
        lines << QStringLiteral("   Position             = %1,%2").arg(raw).arg(name);
    }
    // Shuffled, so that the loader's sort has real work to do.
    std::shuffle(lines.begin() + 4, lines.end(), random);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
    return file.write(bytes) == bytes.size();
}

QJsonObject measureSettingsScale() {
    QJsonObject result;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        result.insert(QStringLiteral("error"), QStringLiteral("no temporary folder"));
        return result;
    }
    const WindowGeometryTwips geometry;
    QElapsedTimer clock;
    clock.start();

    QJsonArray rows;
    double baseLoad = 0;
    double baseSave = 0;
    double worstLoadGrowth = 0;
    double worstSaveGrowth = 0;
    double targetLoadMs = 0;
    double targetSaveMs = 0;
    bool complete = true;
    for (const Size& size : kSizes) {
        const QString source = dir.filePath(QStringLiteral("in%1.ini").arg(size.count));
        const QString target = dir.filePath(QStringLiteral("out%1.ini").arg(size.count));
        if (!writeSettingsWithPositions(source, size.count, 7)) {
            result.insert(QStringLiteral("error"), QStringLiteral("cannot write %1").arg(source));
            return result;
        }
        Series load;
        Series save;
        // Fresh objects for every load, as at start-up; the old ones go outside the timing.
        auto settings = std::make_unique<FocuserSettings>();
        auto positions = std::make_unique<SavedPositionList>();
        for (int run = 0; run < size.runs; ++run) {
            auto nextSettings = std::make_unique<FocuserSettings>();
            auto nextPositions = std::make_unique<SavedPositionList>();
            const qint64 start = clock.nsecsElapsed();
            LoadSettings(source, *nextSettings, *nextPositions, geometry);
            load.add(msSince(clock, start));
            settings = std::move(nextSettings);
            positions = std::move(nextPositions);
        }
        complete = complete && positions->ListCount() == size.count;
        for (int run = 0; run < size.runs; ++run) {
            const qint64 start = clock.nsecsElapsed();
            if (!SaveSettings(target, *settings, *positions))
                complete = false;
            save.add(msSince(clock, start));
        }

        // Best of the runs: the figure is the algorithm's cost, not the machine's other work.
        const double loadPerRowUs = load.min() * 1000.0 / size.count;
        const double savePerRowUs = save.min() * 1000.0 / size.count;
        if (size.count == kBaseCount) {
            baseLoad = loadPerRowUs;
            baseSave = savePerRowUs;
        } else if (size.count > kBaseCount && baseLoad > 0 && baseSave > 0) {
            worstLoadGrowth = std::max(worstLoadGrowth, loadPerRowUs / baseLoad);
            worstSaveGrowth = std::max(worstSaveGrowth, savePerRowUs / baseSave);
        }
        if (size.count == kTargetCount) {
            targetLoadMs = load.min();
            targetSaveMs = save.min();
        }
        QJsonObject row;
        row.insert(QStringLiteral("positions"), size.count);
        row.insert(QStringLiteral("runs"), size.runs);
        row.insert(QStringLiteral("loadMs"), load.min());
        row.insert(QStringLiteral("saveMs"), save.min());
        row.insert(QStringLiteral("loadPerRowUs"), loadPerRowUs);
        row.insert(QStringLiteral("savePerRowUs"), savePerRowUs);
        row.insert(QStringLiteral("loaded"), positions->ListCount());
        rows.append(row);
    }

    result.insert(QStringLiteral("rows"), rows);
    result.insert(QStringLiteral("complete"), complete);
    result.insert(QStringLiteral("loadGrowth"), worstLoadGrowth);
    result.insert(QStringLiteral("saveGrowth"), worstSaveGrowth);
    result.insert(QStringLiteral("maxGrowth"), kMaxGrowth);
    result.insert(QStringLiteral("targetCount"), kTargetCount);
    result.insert(QStringLiteral("targetLoadMs"), targetLoadMs);
    result.insert(QStringLiteral("targetSaveMs"), targetSaveMs);
    result.insert(QStringLiteral("targetMs"), kTargetMs);
    const bool growthMet = worstLoadGrowth <= kMaxGrowth && worstSaveGrowth <= kMaxGrowth;
    const bool timeMet = targetLoadMs < kTargetMs && targetSaveMs < kTargetMs;
    result.insert(QStringLiteral("growthMet"), growthMet);
    result.insert(QStringLiteral("timeMet"), timeMet);
    result.insert(QStringLiteral("met"), complete && growthMet && timeMet);
    return result;
}

} // namespace tarnivel::bench
