#include "plotbench.h"

#include "benchutil.h"
#include "core/device/temperaturelog.h"
#include "core/settings/programfolder.h"
#include "window/app/application.h"
#include "window/plot/frmtemperatures.h"
#include "window/plot/temperatureplot.h"

#include <QApplication>
#include <QChartView>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>

namespace tarnivel::bench {

namespace {

constexpr int kLogLines = 100000;
constexpr double kLogTargetSeconds = 1.0;
constexpr int kLogRuns = 5;
constexpr int kFewPoints = 10;
// The window draws what its view holds: with one reading a second its two hours are full from
// 7,200 points on, so the window's figure compares a full view with 80,000 points held.
constexpr int kFullViewPoints = 8000;
constexpr int kManyPoints = 80000;
constexpr int kModelAppends = 200000;
constexpr int kWindowAppends = 50;
// "The same cost": the per-point time with 80,000 held within this factor of the one with 10.
constexpr double kMaxGrowth = 2.0;
constexpr qint64 kStepMs = 1000; // one reading a second, so 80,000 fit into 24 hours
const QString kLogName = QStringLiteral("drift.csv");

// A day and more of readings as the program logs them: a slow cool-down with a ripple,
// sensor 3 missing, rule 2 switching the fan now and then.
bool writeLog(const QString& path) {
    QByteArray bytes = TemperatureLog::HeaderLine();
    bytes.reserve(kLogLines * 48);
    const QDateTime start(QDate(2026, 12, 1), QTime(18, 0, 0));
    for (int i = 0; i < kLogLines; ++i) {
        const double hours = i * 6.25 / 3600.0;
        const double primary = 8 + 6 * std::exp(-hours / 3) + 0.3 * std::sin(i / 40.0);
        const double ambient = 8 - 0.2 * hours / 24 + 0.2 * std::sin(i / 90.0);
        const bool fan = primary - ambient > 1.0;
        bytes += TemperatureLog::DataLine(start.addMSecs(static_cast<qint64>(i) * 6250),
                                          {primary, ambient, std::nullopt}, 2, fan);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

TemperatureSample sampleAt(qint64 i) {
    TemperatureSample s;
    s.msecs = 1700000000000LL + i * kStepMs;
    s.celsius = {12.0 + std::sin(i / 500.0), 10.0, std::nullopt};
    s.fanMode = 2;
    s.fanOn = i % 900 < 400;
    s.limitCelsius = 3.0;
    // Compensation stepping the focuser every 200 readings.
    s.position = 50000 + static_cast<int>(i / 200) * 40;
    s.compMove = i % 200 == 0;
    return s;
}

// Nanoseconds per Append with a series that holds `held` points all along (the oldest drops
// off as each new one comes).
double modelAppendNs(int held) {
    TemperatureSeries series((held - 1) * kStepMs);
    qint64 i = 0;
    for (; i < held; ++i)
        series.Append(sampleAt(i));
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < kModelAppends; ++n)
        series.Append(sampleAt(i++));
    const double ns = static_cast<double>(clock.nsecsElapsed()) / kModelAppends;
    return series.size() == held ? ns : -1;
}

void addReadings(TemperaturePlot& plot, qint64 i) {
    const TemperatureSample s = sampleAt(i);
    plot.AddReadings(QDateTime::fromMSecsSinceEpoch(s.msecs), s.celsius, s.fanMode, s.fanOn,
                     s.position.value_or(0), s.compMove);
}

// Median milliseconds per new point while the window is open and follows, after filling the
// live series to `held` points with the window closed.
double windowAppendMs(TemperaturePlot& plot, qint64& next, int held) {
    plot.window()->hide();
    while (plot.live().size() < held)
        addReadings(plot, next++);
    plot.cmdPlot_Click();
    QApplication::processEvents();
    Series ms;
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < kWindowAppends; ++n) {
        const qint64 start = clock.nsecsElapsed();
        addReadings(plot, next++);
        plot.window()->chartView->viewport()->repaint();
        ms.add(static_cast<double>(clock.nsecsElapsed() - start) / 1e6);
    }
    return ms.median();
}

} // namespace

QJsonObject measurePlot() {
    QTemporaryDir dir;
    if (!dir.isValid())
        return {{QStringLiteral("error"), QStringLiteral("no temporary folder")}};
    if (!writeLog(dir.filePath(kLogName)))
        return {{QStringLiteral("error"), QStringLiteral("cannot write the log")}};
    QFile settings(dir.filePath(QStringLiteral("tarnivel.ini")));
    if (!settings.open(QIODevice::WriteOnly))
        return {{QStringLiteral("error"), QStringLiteral("cannot write the settings file")}};
    settings.close();
    QJsonObject result = runChild(
        {QStringLiteral("--child"), QStringLiteral("plot"), QStringLiteral("--folder"), dir.path()},
        120000);
    if (result.contains(QStringLiteral("error")))
        return result;
    const double few = modelAppendNs(kFewPoints);
    const double many = modelAppendNs(kManyPoints);
    result.insert(QStringLiteral("modelFewNs"), few);
    result.insert(QStringLiteral("modelManyNs"), many);
    result.insert(QStringLiteral("modelGrowth"), few > 0 ? many / few : 0.0);
    result.insert(QStringLiteral("fewPoints"), kFewPoints);
    result.insert(QStringLiteral("manyPoints"), kManyPoints);
    result.insert(QStringLiteral("maxGrowth"), kMaxGrowth);
    result.insert(QStringLiteral("logTargetSeconds"), kLogTargetSeconds);
    result.insert(QStringLiteral("fullViewPoints"), kFullViewPoints);
    const double windowGrowth = result.value(QStringLiteral("windowManyMs")).toDouble() /
                                result.value(QStringLiteral("windowFullMs")).toDouble(1);
    result.insert(QStringLiteral("windowGrowth"), windowGrowth);
    result.insert(QStringLiteral("logMet"),
                  result.value(QStringLiteral("logSeconds")).toDouble() < kLogTargetSeconds);
    result.insert(QStringLiteral("appendMet"),
                  few > 0 && many > 0 && many / few <= kMaxGrowth && windowGrowth <= kMaxGrowth);
    return result;
}

int runPlotChild(int& argc, char** argv, const ChildOptions& options) {
    QApplication app(argc, argv);
    UseProgramStyle();
    Application program(ProgramFolder(options.folder, QStringLiteral("tarnivel")));
    auto* plot = program.window().findChild<TemperaturePlot*>();
    QJsonObject result;
    if (!plot) {
        result.insert(QStringLiteral("error"), QStringLiteral("no Plot button"));
        printResult(result);
        return 0;
    }
    plot->cmdPlot_Click();
    frmTemperatures* window = plot->window();
    window->resize(900, 520);
    QApplication::processEvents();

    // Read, parsed, decimated and drawn: the window's own paint, forced at once.
    const QString path = QDir(options.folder).filePath(kLogName);
    Series seconds;
    LogImport read;
    QElapsedTimer clock;
    clock.start();
    for (int run = 0; run < kLogRuns; ++run) {
        const qint64 start = clock.nsecsElapsed();
        read = window->OpenLog(path);
        window->chartView->viewport()->repaint();
        seconds.add(static_cast<double>(clock.nsecsElapsed() - start) / 1e9);
        window->Follow();
    }
    if (read.linesRead != kLogLines || read.linesSkipped != 0) {
        result.insert(QStringLiteral("error"), QStringLiteral("the log read %1 lines, skipped %2")
                                                   .arg(read.linesRead)
                                                   .arg(read.linesSkipped));
        printResult(result);
        return 0;
    }
    result.insert(QStringLiteral("logLines"), read.linesRead);
    result.insert(QStringLiteral("logSeconds"), seconds.median());
    result.insert(QStringLiteral("logMaxSeconds"), seconds.max());
    result.insert(QStringLiteral("logRuns"), kLogRuns);

    qint64 next = 0;
    result.insert(QStringLiteral("windowFewMs"), windowAppendMs(*plot, next, kFewPoints));
    result.insert(QStringLiteral("windowFullMs"), windowAppendMs(*plot, next, kFullViewPoints));
    result.insert(QStringLiteral("windowManyMs"), windowAppendMs(*plot, next, kManyPoints));
    result.insert(QStringLiteral("platform"), QGuiApplication::platformName());
    printResult(result);
    return 0;
}

} // namespace tarnivel::bench
