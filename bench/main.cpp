// tarnivel-bench: how close commands come to the pacing floor, whether the window stays alive
// while a command waits, what a console left running costs, how fast it starts and how the
// settings store scales. Run it through scripts/bench, which builds it in release mode.
//
// The same executable is its own child: "--child startup|idle --folder DIR" composes the real
// main window in DIR and prints one RESULT line for the parent.

#include "alpacabench.h"
#include "benchutil.h"
#include "compbench.h"
#include "driverbench.h"
#include "linkbench.h"
#include "plotbench.h"
#include "report.h"
#include "settingsbench.h"
#include "sim/simtoolprocess.h"
#include "windowchild.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstring>

using namespace tarnivel::bench;

namespace {

constexpr double kIdleConnectedPercent = 2.0;
constexpr double kIdleDisconnectedPercent = 0.2;
constexpr double kStartupSeconds = 0.5;
constexpr double kStartupMb = 80.0;
constexpr int kStartupPositions = 1000;
constexpr int kChildSlackMs = 30000;
constexpr int kLateConnects = 30;

void progress(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

// A settings file that chooses COM1, where the simulator puts its link.
const QByteArray kCom1Settings = "[TARNIVEL]\r\n   COMport              = 1\r\n";

QStringList childArgs(const QString& mode, const QString& folder) {
    return {QStringLiteral("--child"), mode, QStringLiteral("--folder"), folder};
}

QJsonObject measureIdle(const QString& simPath, int seconds) {
    QTemporaryDir connectedDir;
    QTemporaryDir disconnectedDir;
    if (!connectedDir.isValid() || !disconnectedDir.isValid())
        return failure(QStringLiteral("no temporary folder"));
    const QString state = connectedDir.filePath(QStringLiteral("sim.state"));
    if (!writeCalibratedSimState(state) ||
        !writeFile(connectedDir.filePath(QStringLiteral("tarnivel.ini")), kCom1Settings) ||
        !writeFile(disconnectedDir.filePath(QStringLiteral("tarnivel.ini")), kCom1Settings))
        return failure(QStringLiteral("cannot write the settings files"));
    tarnivel::sim::SimToolProcess sim(simPath);
    // To a file: while the children run, nothing here reads a pipe, and a long run would fill
    // one and stall the tool.
    sim.setOutputFile(connectedDir.filePath(QStringLiteral("sim.log")));
    if (!sim.start(fastSimArgs(connectedDir.path(),
                               {QStringLiteral("--state"), state, QStringLiteral("--verbose")})))
        return failure(sim.error());

    // Both at once: each is idle, and each counts only its own CPU time.
    const QString secondsText = QString::number(seconds);
    QProcess connected;
    QProcess disconnected;
    startChild(connected, childArgs(QStringLiteral("idle"), connectedDir.path())
                              << QStringLiteral("--seconds") << secondsText
                              << QStringLiteral("--connect"));
    startChild(disconnected, childArgs(QStringLiteral("idle"), disconnectedDir.path())
                                 << QStringLiteral("--seconds") << secondsText);
    QJsonObject on = finishChild(connected, seconds * 1000 + kChildSlackMs);
    QJsonObject off = finishChild(disconnected, seconds * 1000 + kChildSlackMs);
    sim.stop();
    // Evidence that the console kept talking: connect, then every poll and temperature read.
    on.insert(QStringLiteral("exchanges"), simExchanges(sim.output()));

    if (!on.contains(QStringLiteral("error")) && !(on.value(QStringLiteral("connected")).toBool() &&
                                                   on.value(QStringLiteral("polling")).toBool()))
        on.insert(QStringLiteral("error"), QStringLiteral("the console was not polling"));
    on.insert(QStringLiteral("targetPercent"), kIdleConnectedPercent);
    on.insert(QStringLiteral("met"),
              on.value(QStringLiteral("corePercent")).toDouble(100) <= kIdleConnectedPercent);
    off.insert(QStringLiteral("targetPercent"), kIdleDisconnectedPercent);
    off.insert(QStringLiteral("met"),
               off.value(QStringLiteral("corePercent")).toDouble(100) <= kIdleDisconnectedPercent);
    QJsonObject result;
    result.insert(QStringLiteral("seconds"), seconds);
    result.insert(QStringLiteral("connected"), on);
    result.insert(QStringLiteral("disconnected"), off);
    return result;
}

QJsonObject startupRow(const QString& label, const QString& folder, int runs, int positions,
                       QString& platform) {
    QJsonObject row;
    row.insert(QStringLiteral("settings"), label);
    Series seconds;
    Series toMain; // the share spent loading libraries before main() runs
    double peak = 0;
    for (int run = 0; run < runs; ++run) {
        const QJsonObject r = runChild(childArgs(QStringLiteral("startup"), folder), kChildSlackMs);
        if (r.contains(QStringLiteral("error"))) {
            row.insert(QStringLiteral("error"), r.value(QStringLiteral("error")));
            return row;
        }
        if (r.value(QStringLiteral("positions")).toInt() != positions) {
            row.insert(QStringLiteral("error"),
                       QStringLiteral("the window listed %1 positions, not %2")
                           .arg(r.value(QStringLiteral("positions")).toInt())
                           .arg(positions));
            return row;
        }
        seconds.add(r.value(QStringLiteral("startupSeconds")).toDouble());
        toMain.add(r.value(QStringLiteral("mainSeconds")).toDouble());
        peak = std::max(peak, r.value(QStringLiteral("peakRssMb")).toDouble());
        platform = r.value(QStringLiteral("platform")).toString();
    }
    row.insert(QStringLiteral("positions"), positions);
    row.insert(QStringLiteral("medianSeconds"), seconds.median());
    row.insert(QStringLiteral("minSeconds"), seconds.min());
    row.insert(QStringLiteral("maxSeconds"), seconds.max());
    row.insert(QStringLiteral("toMainMedianSeconds"), toMain.median());
    row.insert(QStringLiteral("peakRssMb"), peak);
    row.insert(QStringLiteral("targetSeconds"), kStartupSeconds);
    row.insert(QStringLiteral("targetMb"), kStartupMb);
    row.insert(QStringLiteral("timeMet"), seconds.median() < kStartupSeconds);
    row.insert(QStringLiteral("memoryMet"), peak < kStartupMb);
    return row;
}

QJsonObject measureStartup(int runs) {
    QTemporaryDir emptyDir;
    QTemporaryDir fullDir;
    if (!emptyDir.isValid() || !fullDir.isValid())
        return failure(QStringLiteral("no temporary folder"));
    if (!writeFile(emptyDir.filePath(QStringLiteral("tarnivel.ini")), QByteArray()) ||
        !writeSettingsWithPositions(fullDir.filePath(QStringLiteral("tarnivel.ini")),
                                    kStartupPositions, 11))
        return failure(QStringLiteral("cannot write the settings files"));
    QString platform;
    QJsonArray rows;
    rows.append(
        startupRow(QStringLiteral("empty settings file"), emptyDir.path(), runs, 0, platform));
    rows.append(startupRow(QStringLiteral("1,000 saved positions"), fullDir.path(), runs,
                           kStartupPositions, platform));
    QJsonObject result;
    result.insert(QStringLiteral("runs"), runs);
    result.insert(QStringLiteral("platform"), platform);
    result.insert(QStringLiteral("rows"), rows);
    return result;
}

// Whether some measurement could not run at all (as opposed to missing its target).
bool anyError(const QJsonValue& v) {
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        if (o.contains(QStringLiteral("error")))
            return true;
        for (const QJsonValue& child : o)
            if (anyError(child))
                return true;
    } else if (v.isArray()) {
        for (const QJsonValue& child : v.toArray())
            if (anyError(child))
                return true;
    }
    return false;
}

QString cpuModel() {
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray& l : info.readAll().split('\n')) {
            if (l.startsWith("model name")) {
                const qsizetype colon = l.indexOf(':');
                return QString::fromLatin1(l.mid(colon + 1).trimmed());
            }
        }
    }
    return QStringLiteral("unknown CPU");
}

int runChildMode(int& argc, char** argv) {
    ChildOptions options;
    for (int i = 1; i < argc; ++i) {
        const auto next = [&]() {
            return i + 1 < argc ? QString::fromLocal8Bit(argv[++i]) : QString();
        };
        if (std::strcmp(argv[i], "--child") == 0)
            options.mode = next();
        else if (std::strcmp(argv[i], "--folder") == 0)
            options.folder = next();
        else if (std::strcmp(argv[i], "--seconds") == 0)
            options.seconds = next().toInt();
        else if (std::strcmp(argv[i], "--connect") == 0)
            options.connect = true;
        else if (std::strcmp(argv[i], "--serve-alpaca") == 0)
            options.servePort = next().toInt();
    }
    if (options.folder.isEmpty() || options.seconds <= 0) {
        std::fputs("tarnivel-bench: a child needs --folder (and --seconds above 0)\n", stderr);
        return 2;
    }
    if (options.mode == QLatin1String("startup"))
        return runStartupChild(argc, argv, options);
    if (options.mode == QLatin1String("idle"))
        return runIdleChild(argc, argv, options);
    if (options.mode == QLatin1String("plot"))
        return runPlotChild(argc, argv, options);
    std::fputs("tarnivel-bench: --child needs startup, idle or plot\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    // A child starts the clock at process start: nothing may run before it needs to.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--child") == 0)
            return runChildMode(argc, argv);
    }

    // The children draw the real window; without a display they draw it off screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures the console: command timing against the pacing floor, "
        "responsiveness while waiting, idle cost, start-up, the settings "
        "store's scale and the temperature plot. Prints a table; --json writes the figures."));
    parser.addHelpOption();
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Write the figures here."),
                                  QStringLiteral("file"));
    const QCommandLineOption sim(QStringLiteral("sim"), QStringLiteral("The tarnivel-sim tool."),
                                 QStringLiteral("file"), QStringLiteral(TARNIVEL_SIM_PATH));
    const QCommandLineOption exchanges(QStringLiteral("exchanges"),
                                       QStringLiteral("Exchanges per command (50)."),
                                       QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption idleSeconds(QStringLiteral("idle-seconds"),
                                         QStringLiteral("Length of the idle windows (30)."),
                                         QStringLiteral("s"), QStringLiteral("30"));
    const QCommandLineOption nightMinutes(
        QStringLiteral("night-minutes"),
        QStringLiteral("Length of the real-time compensation night in minutes (10)."),
        QStringLiteral("min"), QStringLiteral("10"));
    const QCommandLineOption startupRuns(QStringLiteral("startup-runs"),
                                         QStringLiteral("Start-ups per settings file (5)."),
                                         QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption only(
        QStringLiteral("only"),
        QStringLiteral("Comma-separated subset: commands, responsiveness, idle, startup, "
                       "settings, plot, driver, alpaca, compensation, late."),
        QStringLiteral("list"));
    const QCommandLineOption driver(QStringLiteral("driver"),
                                    QStringLiteral("The indi_tarnivel_focus driver."),
                                    QStringLiteral("file"), QStringLiteral(TARNIVEL_DRIVER_PATH));
    const QCommandLineOption alpaca(QStringLiteral("alpaca"),
                                    QStringLiteral("The tarnivel-alpaca server."),
                                    QStringLiteral("file"), QStringLiteral(TARNIVEL_ALPACA_PATH));
    parser.addOptions(
        {json, sim, exchanges, idleSeconds, nightMinutes, startupRuns, only, driver, alpaca});
    parser.process(app);

    const QString simPath = parser.value(sim);
    const int nExchanges = qMax(1, parser.value(exchanges).toInt());
    const int nIdleSeconds = qMax(1, parser.value(idleSeconds).toInt());
    const int nStartupRuns = qMax(1, parser.value(startupRuns).toInt());
    const QStringList wanted =
        parser.isSet(only)
            ? parser.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts)
            : QStringList{QStringLiteral("commands"),     QStringLiteral("responsiveness"),
                          QStringLiteral("idle"),         QStringLiteral("startup"),
                          QStringLiteral("settings"),     QStringLiteral("plot"),
                          QStringLiteral("driver"),       QStringLiteral("alpaca"),
                          QStringLiteral("compensation"), QStringLiteral("late"),
                          QStringLiteral("hub")};

    QJsonObject results;
    results.insert(QStringLiteral("date"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    results.insert(QStringLiteral("command"), QStringLiteral("scripts/bench"));
    QJsonObject machine;
    machine.insert(QStringLiteral("cpu"), cpuModel());
    machine.insert(QStringLiteral("cores"), QThread::idealThreadCount());
    machine.insert(QStringLiteral("qt"), QLatin1String(qVersion()));
    results.insert(QStringLiteral("machine"), machine);

    if (wanted.contains(QStringLiteral("commands"))) {
        progress(QStringLiteral("1/11 command timing (%1 exchanges of four commands)...")
                     .arg(nExchanges));
        results.insert(QStringLiteral("commands"), measureCommands(simPath, nExchanges));
    }
    if (wanted.contains(QStringLiteral("responsiveness"))) {
        progress(QStringLiteral("2/11 responsiveness while waiting..."));
        results.insert(QStringLiteral("responsiveness"),
                       measureResponsiveness(simPath, nExchanges));
    }
    if (wanted.contains(QStringLiteral("idle"))) {
        progress(QStringLiteral("3/11 idle cost (%1 s, connected and disconnected at once)...")
                     .arg(nIdleSeconds));
        results.insert(QStringLiteral("idle"), measureIdle(simPath, nIdleSeconds));
    }
    if (wanted.contains(QStringLiteral("startup"))) {
        progress(QStringLiteral("4/11 start-up (%1 runs per settings file)...").arg(nStartupRuns));
        results.insert(QStringLiteral("startup"), measureStartup(nStartupRuns));
    }
    if (wanted.contains(QStringLiteral("settings"))) {
        progress(QStringLiteral("5/11 settings store scale..."));
        results.insert(QStringLiteral("settings"), measureSettingsScale());
    }
    if (wanted.contains(QStringLiteral("plot"))) {
        progress(
            QStringLiteral("6/11 temperature plot (a log of 100,000 lines, adding points)..."));
        results.insert(QStringLiteral("plot"), measurePlot());
    }
    if (wanted.contains(QStringLiteral("driver"))) {
        progress(
            QStringLiteral("7/11 INDI driver (%1 s idle, gotos, aborts)...").arg(nIdleSeconds));
        results.insert(QStringLiteral("driver"),
                       measureDriver(simPath, parser.value(driver), nIdleSeconds));
    }
    if (wanted.contains(QStringLiteral("alpaca"))) {
        progress(QStringLiteral("8/11 Alpaca server (%1 s idle, GETs, moves, halts)...")
                     .arg(nIdleSeconds));
        results.insert(QStringLiteral("alpaca"),
                       measureAlpaca(simPath, parser.value(alpaca), nIdleSeconds));
    }
    if (wanted.contains(QStringLiteral("compensation"))) {
        const int minutes = qMax(1, parser.value(nightMinutes).toInt());
        progress(QStringLiteral("9/11 temperature compensation over a simulated night, then %1 "
                                "minutes in real time...")
                     .arg(minutes));
        results.insert(QStringLiteral("compensation"), measureCompensation(simPath, minutes));
    }

    if (wanted.contains(QStringLiteral("late"))) {
        progress(QStringLiteral("10/11 connects with 15 % of the answers late..."));
        results.insert(QStringLiteral("late"),
                       measureLateConnects(simPath, parser.value(alpaca), kLateConnects));
    }
    if (wanted.contains(QStringLiteral("hub"))) {
        progress(QStringLiteral("11/11 the console serving Alpaca (GETs, moves, halts)..."));
        results.insert(QStringLiteral("hub"),
                       measureHub(simPath, QCoreApplication::applicationFilePath()));
    }

    const QStringList missed = printReport(results);
    QJsonArray missedList;
    for (const QString& m : missed)
        missedList.append(m);
    results.insert(QStringLiteral("missed"), missedList);
    if (parser.isSet(json)) {
        const QString path = parser.value(json);
        if (!writeFile(path, QJsonDocument(results).toJson(QJsonDocument::Indented))) {
            std::fprintf(stderr, "tarnivel-bench: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("Figures written to %s\n", qPrintable(QDir::toNativeSeparators(path)));
    }
    // A missed target is a finding; a measurement that could not run is a failure.
    return anyError(QJsonValue(results)) ? 1 : 0;
}
