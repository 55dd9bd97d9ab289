#include "report.h"

#include <QJsonArray>
#include <QLocale>
#include <QString>
#include <cstdio>

namespace tarnivel::bench {

namespace {

void line(const QString& text = QString()) {
    std::fputs(qPrintable(text), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString fixed(double v, int decimals) {
    return QString::number(v, 'f', decimals);
}

QString verdict(bool met) {
    return met ? QStringLiteral("ok") : QStringLiteral("MISSED");
}

QString grouped(int n) {
    return QLocale(QLocale::English).toString(n);
}

// A measurement that could not run; its error stands where the figures would be.
bool reportError(const QJsonObject& o, const QString& name, QStringList& missed) {
    if (!o.contains(QStringLiteral("error")))
        return false;
    line(QStringLiteral("   not measured: %1").arg(o.value(QStringLiteral("error")).toString()));
    missed << name;
    return true;
}

void commandsSection(const QJsonObject& o, QStringList& missed) {
    line(
        QStringLiteral("1. Command wall time, real serial port on tarnivel-sim (pseudo-terminal)"));
    if (reportError(o, QStringLiteral("command timing"), missed))
        return;
    line(QStringLiteral("   %1 %2 %3 %4 %5 %6 %7 %8")
             .arg(QStringLiteral("command"), -19)
             .arg(QStringLiteral("reply"), 5)
             .arg(QStringLiteral("floor ms"), 9)
             .arg(QStringLiteral("median ms"), 10)
             .arg(QStringLiteral("min ms"), 8)
             .arg(QStringLiteral("max ms"), 8)
             .arg(QStringLiteral("ratio"), 6)
             .arg(QStringLiteral("target")));
    for (const QJsonValue& v : o.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject r = v.toObject();
        const bool met = r.value(QStringLiteral("met")).toBool();
        QString note = verdict(met);
        const int failures = r.value(QStringLiteral("failures")).toInt();
        if (failures > 0)
            note += QStringLiteral(" (%1 failed)").arg(failures);
        line(QStringLiteral("   %1 %2 %3 %4 %5 %6 %7 <= %8  %9")
                 .arg(r.value(QStringLiteral("command")).toString(), -19)
                 .arg(r.value(QStringLiteral("replyBytes")).toInt(), 5)
                 .arg(fixed(r.value(QStringLiteral("floorMs")).toDouble(), 1), 9)
                 .arg(fixed(r.value(QStringLiteral("medianMs")).toDouble(), 2), 10)
                 .arg(fixed(r.value(QStringLiteral("minMs")).toDouble(), 2), 8)
                 .arg(fixed(r.value(QStringLiteral("maxMs")).toDouble(), 2), 8)
                 .arg(fixed(r.value(QStringLiteral("medianRatio")).toDouble(), 3), 6)
                 .arg(fixed(r.value(QStringLiteral("targetRatio")).toDouble(), 2))
                 .arg(note));
        if (!met)
            missed
                << QStringLiteral("%1 timing").arg(r.value(QStringLiteral("command")).toString());
    }
    const QJsonArray rows = o.value(QStringLiteral("rows")).toArray();
    if (!rows.isEmpty())
        line(QStringLiteral("   %1 exchanges each; floor = 88 + 11 x (reply bytes + 1) ms")
                 .arg(rows.at(0).toObject().value(QStringLiteral("exchanges")).toInt()));
}

void responsivenessSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("2. Responsiveness while a command waits for its answer"));
    if (reportError(o, QStringLiteral("responsiveness"), missed))
        return;
    const bool met = o.value(QStringLiteral("met")).toBool();
    line(QStringLiteral("   longest gap between events %1 ms (99 %: %2 ms, median %3 ms)   "
                        "target <= %4 ms  %5")
             .arg(fixed(o.value(QStringLiteral("maxGapMs")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("p99GapMs")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("medianGapMs")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("targetMs")).toDouble(), 0))
             .arg(verdict(met)));
    line(QStringLiteral("   %1 position reads, 1 ms precise timer, %2 gaps in receive phases; the "
                        "longest 11 ms poll sleep took %3 ms")
             .arg(o.value(QStringLiteral("exchanges")).toInt())
             .arg(o.value(QStringLiteral("gaps")).toInt())
             .arg(fixed(o.value(QStringLiteral("longestPollSleepMs")).toDouble(), 2)));
    const int retried = o.value(QStringLiteral("retried")).toInt();
    const int failures = o.value(QStringLiteral("failures")).toInt();
    if (retried > 0 || failures > 0)
        line(QStringLiteral("   %1 reads needed a second frame and %2 failed; their frames are "
                            "sending time, not counted as gaps")
                 .arg(retried)
                 .arg(failures));
    if (!met)
        missed << QStringLiteral("responsiveness");
}

void idleRow(const QString& label, const QJsonObject& o, QStringList& missed) {
    if (o.contains(QStringLiteral("error"))) {
        line(QStringLiteral("   %1 not measured: %2")
                 .arg(label, -24)
                 .arg(o.value(QStringLiteral("error")).toString()));
        missed << QStringLiteral("idle cost, %1").arg(label);
        return;
    }
    const bool met = o.value(QStringLiteral("met")).toBool();
    line(QStringLiteral("   %1 %2 % of a core (%3 s CPU in %4 s)   target <= %5 %  %6")
             .arg(label, -24)
             .arg(fixed(o.value(QStringLiteral("corePercent")).toDouble(), 3), 7)
             .arg(fixed(o.value(QStringLiteral("cpuSeconds")).toDouble(), 3))
             .arg(fixed(o.value(QStringLiteral("wallSeconds")).toDouble(), 1))
             .arg(o.value(QStringLiteral("targetPercent")).toDouble())
             .arg(verdict(met)));
    if (!met)
        missed << QStringLiteral("idle cost, %1").arg(label);
}

void idleSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("3. Idle cost of the console window, stationary focuser"));
    if (reportError(o, QStringLiteral("idle cost"), missed))
        return;
    const QJsonObject connected = o.value(QStringLiteral("connected")).toObject();
    idleRow(QStringLiteral("connected, polling"), connected, missed);
    idleRow(QStringLiteral("disconnected"), o.value(QStringLiteral("disconnected")).toObject(),
            missed);
    line(QStringLiteral("   %1 s each, both windows at once; the simulator served %2 exchanges to "
                        "the connected one")
             .arg(o.value(QStringLiteral("seconds")).toInt())
             .arg(connected.value(QStringLiteral("exchanges")).toInt()));
}

void startupSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("4. Start-up: process start to main window painted, peak resident memory"));
    if (reportError(o, QStringLiteral("start-up"), missed))
        return;
    for (const QJsonValue& v : o.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject r = v.toObject();
        const QString label = r.value(QStringLiteral("settings")).toString();
        if (r.contains(QStringLiteral("error"))) {
            line(QStringLiteral("   %1 not measured: %2")
                     .arg(label, -24)
                     .arg(r.value(QStringLiteral("error")).toString()));
            missed << QStringLiteral("start-up, %1").arg(label);
            continue;
        }
        const bool timeMet = r.value(QStringLiteral("timeMet")).toBool();
        const bool memoryMet = r.value(QStringLiteral("memoryMet")).toBool();
        line(
            QStringLiteral("   %1 %2 s (max %3 s)  target < %4 s  %5   peak %6 MB  target < %7 MB  "
                           "%8")
                .arg(label, -24)
                .arg(fixed(r.value(QStringLiteral("medianSeconds")).toDouble(), 3))
                .arg(fixed(r.value(QStringLiteral("maxSeconds")).toDouble(), 3))
                .arg(r.value(QStringLiteral("targetSeconds")).toDouble())
                .arg(verdict(timeMet))
                .arg(fixed(r.value(QStringLiteral("peakRssMb")).toDouble(), 1))
                .arg(r.value(QStringLiteral("targetMb")).toDouble())
                .arg(verdict(memoryMet)));
        if (!timeMet)
            missed << QStringLiteral("start-up time, %1").arg(label);
        if (!memoryMet)
            missed << QStringLiteral("start-up memory, %1").arg(label);
    }
    line(QStringLiteral("   median of %1 runs each; Qt platform %2")
             .arg(o.value(QStringLiteral("runs")).toInt())
             .arg(o.value(QStringLiteral("platform")).toString()));
}

void settingsSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("5. Settings store: load and save with saved positions"));
    if (reportError(o, QStringLiteral("settings store"), missed))
        return;
    line(QStringLiteral("   %1 %2 %3 %4 %5")
             .arg(QStringLiteral("positions"), 10)
             .arg(QStringLiteral("load ms"), 10)
             .arg(QStringLiteral("us/row"), 8)
             .arg(QStringLiteral("save ms"), 10)
             .arg(QStringLiteral("us/row"), 8));
    for (const QJsonValue& v : o.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject r = v.toObject();
        line(QStringLiteral("   %1 %2 %3 %4 %5")
                 .arg(grouped(r.value(QStringLiteral("positions")).toInt()), 10)
                 .arg(fixed(r.value(QStringLiteral("loadMs")).toDouble(), 2), 10)
                 .arg(fixed(r.value(QStringLiteral("loadPerRowUs")).toDouble(), 2), 8)
                 .arg(fixed(r.value(QStringLiteral("saveMs")).toDouble(), 2), 10)
                 .arg(fixed(r.value(QStringLiteral("savePerRowUs")).toDouble(), 2), 8));
    }
    line(QStringLiteral("   best of several runs; the files list the positions in random order"));
    const bool growthMet = o.value(QStringLiteral("growthMet")).toBool();
    const bool timeMet = o.value(QStringLiteral("timeMet")).toBool();
    line(QStringLiteral("   per-row time against 1,000 rows: load x%1, save x%2 at most   "
                        "target <= x%3 (no growth)  %4")
             .arg(fixed(o.value(QStringLiteral("loadGrowth")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("saveGrowth")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("maxGrowth")).toDouble(), 0))
             .arg(verdict(growthMet)));
    line(QStringLiteral("   %1 positions: load %2 ms, save %3 ms   target < %4 ms each  %5")
             .arg(grouped(o.value(QStringLiteral("targetCount")).toInt()))
             .arg(fixed(o.value(QStringLiteral("targetLoadMs")).toDouble(), 1))
             .arg(fixed(o.value(QStringLiteral("targetSaveMs")).toDouble(), 1))
             .arg(fixed(o.value(QStringLiteral("targetMs")).toDouble(), 0))
             .arg(verdict(timeMet)));
    if (!o.value(QStringLiteral("complete")).toBool())
        missed << QStringLiteral("settings store (rows lost or a save failed)");
    if (!growthMet)
        missed << QStringLiteral("settings store per-row growth");
    if (!timeMet)
        missed << QStringLiteral("settings store time");
}

void plotSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("6. Temperature plot"));
    if (reportError(o, QStringLiteral("temperature plot"), missed))
        return;
    const bool logMet = o.value(QStringLiteral("logMet")).toBool();
    line(QStringLiteral("   log of %1 lines opened and drawn: %2 s (max %3 s, median of %4)   "
                        "target < %5 s  %6")
             .arg(grouped(o.value(QStringLiteral("logLines")).toInt()))
             .arg(fixed(o.value(QStringLiteral("logSeconds")).toDouble(), 3))
             .arg(fixed(o.value(QStringLiteral("logMaxSeconds")).toDouble(), 3))
             .arg(o.value(QStringLiteral("logRuns")).toInt())
             .arg(fixed(o.value(QStringLiteral("logTargetSeconds")).toDouble(), 0))
             .arg(verdict(logMet)));
    const bool appendMet = o.value(QStringLiteral("appendMet")).toBool();
    line(QStringLiteral("   one more point in the series, %1 / %2 held: %3 / %4 ns (x%5)")
             .arg(grouped(o.value(QStringLiteral("fewPoints")).toInt()))
             .arg(grouped(o.value(QStringLiteral("manyPoints")).toInt()))
             .arg(fixed(o.value(QStringLiteral("modelFewNs")).toDouble(), 0))
             .arg(fixed(o.value(QStringLiteral("modelManyNs")).toDouble(), 0))
             .arg(fixed(o.value(QStringLiteral("modelGrowth")).toDouble(), 2)));
    line(QStringLiteral("   the same, window open and following (2 h view), %1 / %2 / %3 held: "
                        "%4 / %5 / %6 ms (full view x%7)")
             .arg(grouped(o.value(QStringLiteral("fewPoints")).toInt()))
             .arg(grouped(o.value(QStringLiteral("fullViewPoints")).toInt()))
             .arg(grouped(o.value(QStringLiteral("manyPoints")).toInt()))
             .arg(fixed(o.value(QStringLiteral("windowFewMs")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("windowFullMs")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("windowManyMs")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("windowGrowth")).toDouble(), 2)));
    line(QStringLiteral("   growth with the points held (series; window from a full view)   "
                        "target <= x%1  %2")
             .arg(fixed(o.value(QStringLiteral("maxGrowth")).toDouble(), 0))
             .arg(verdict(appendMet)));
    if (!logMet)
        missed << QStringLiteral("temperature log load");
    if (!appendMet)
        missed << QStringLiteral("temperature plot point cost");
}

void abortStateRow(const QJsonObject& r, QStringList& missed) {
    const QString state = r.value(QStringLiteral("label")).toString();
    const QString timing = r.value(QStringLiteral("timingLabel")).toString();
    const QString name = QStringLiteral("driver abort latency, %1, %2").arg(state, timing);
    if (r.contains(QStringLiteral("error"))) {
        line(QStringLiteral("     %1 %2 not measured: %3")
                 .arg(state, -33)
                 .arg(timing, -16)
                 .arg(r.value(QStringLiteral("error")).toString()));
        missed << name;
        return;
    }
    QStringList ahead;
    for (const QJsonValue& v : r.value(QStringLiteral("framesAhead")).toArray())
        ahead << QString::number(v.toInt());
    const bool met = r.value(QStringLiteral("met")).toBool();
    QString target =
        QStringLiteral("<= %1 ms").arg(fixed(r.value(QStringLiteral("targetMs")).toDouble(), 0));
    if (r.value(QStringLiteral("noFrameAhead")).toBool())
        target += QStringLiteral(", none ahead");
    line(QStringLiteral("     %1 %2 %3 %4  %5  %6  %7")
             .arg(state, -33)
             .arg(timing, -16)
             .arg(fixed(r.value(QStringLiteral("medianMs")).toDouble(), 1), 7)
             .arg(fixed(r.value(QStringLiteral("maxMs")).toDouble(), 1), 7)
             .arg(ahead.join(QLatin1Char(' ')), -12)
             .arg(target, -22)
             .arg(verdict(met)));
    if (!met)
        missed << name;
}

void abortStates(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("   abort to stop frame by state, %1 runs each:")
             .arg(o.value(QStringLiteral("rows"))
                      .toArray()
                      .at(0)
                      .toObject()
                      .value(QStringLiteral("runs"))
                      .toInt(3)));
    line(QStringLiteral("     %1 %2 %3 %4  %5  %6")
             .arg(QStringLiteral("state"), -33)
             .arg(QStringLiteral("answers"), -16)
             .arg(QStringLiteral("median"), 7)
             .arg(QStringLiteral("max ms"), 7)
             .arg(QStringLiteral("frames ahead"), -12)
             .arg(QStringLiteral("target")));
    for (const QJsonValue& v : o.value(QStringLiteral("rows")).toArray())
        abortStateRow(v.toObject(), missed);
    abortStateRow(o.value(QStringLiteral("silent")).toObject(), missed);
    line(QStringLiteral("     frames ahead: frames the controller got between the abort and the "
                        "stop frame, per run"));
}

// One front end's gotos, one and two moves, against their floors (the commands the stages
// must send) and the target of 1.1 times the floor.
void gotoOverhead(const QString& who, const QJsonObject& g, QStringList& missed) {
    if (g.contains(QStringLiteral("error"))) {
        line(QStringLiteral("     %1 not measured: %2")
                 .arg(who, -8)
                 .arg(g.value(QStringLiteral("error")).toString()));
        missed << who + QStringLiteral(" goto overhead");
        return;
    }
    const auto part = [&](const QString& label, const QJsonObject& m) {
        const bool met = m.value(QStringLiteral("met")).toBool();
        if (!met)
            missed << QStringLiteral("%1 goto overhead, %2").arg(who, label);
        return QStringLiteral("%1 %2 (floor %3, target <= %4) %5")
            .arg(label)
            .arg(fixed(m.value(QStringLiteral("medianMs")).toDouble(), 0))
            .arg(fixed(m.value(QStringLiteral("floorMs")).toDouble(), 0))
            .arg(fixed(m.value(QStringLiteral("targetMs")).toDouble(), 0))
            .arg(verdict(met));
    };
    line(QStringLiteral("     %1 %2, %3")
             .arg(who, -8)
             .arg(part(QStringLiteral("one move"), g.value(QStringLiteral("oneMove")).toObject()),
                  part(QStringLiteral("two moves"),
                       g.value(QStringLiteral("twoMoves")).toObject())));
}

void driverSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("7. INDI driver (indi_tarnivel_focus on its standard input and output)"));
    if (reportError(o, QStringLiteral("driver"), missed))
        return;
    const QJsonObject idle = o.value(QStringLiteral("idle")).toObject();
    const bool idleMet = idle.value(QStringLiteral("met")).toBool();
    line(QStringLiteral("   idle, connected and polling    %1 % of a core (%2 s CPU in %3 s, %4 "
                        "exchanges)   target <= %5 %  %6")
             .arg(fixed(idle.value(QStringLiteral("corePercent")).toDouble(), 3))
             .arg(fixed(idle.value(QStringLiteral("cpuSeconds")).toDouble(), 3))
             .arg(fixed(idle.value(QStringLiteral("wallSeconds")).toDouble(), 1))
             .arg(idle.value(QStringLiteral("exchanges")).toInt())
             .arg(idle.value(QStringLiteral("targetPercent")).toDouble())
             .arg(verdict(idleMet)));
    if (!idleMet)
        missed << QStringLiteral("driver idle cost");
    const auto timed = [&missed](const QString& label, const QJsonObject& t, const QString& name) {
        const bool met = t.value(QStringLiteral("met")).toBool();
        line(QStringLiteral("   %1 %2 ms median (%3 to %4, %5 runs)   target <= %6 ms  %7")
                 .arg(label, -30)
                 .arg(fixed(t.value(QStringLiteral("medianMs")).toDouble(), 1))
                 .arg(fixed(t.value(QStringLiteral("minMs")).toDouble(), 1))
                 .arg(fixed(t.value(QStringLiteral("maxMs")).toDouble(), 1))
                 .arg(t.value(QStringLiteral("runs")).toInt())
                 .arg(fixed(t.value(QStringLiteral("targetMs")).toDouble(), 0))
                 .arg(verdict(met)));
        if (!met)
            missed << name;
    };
    timed(QStringLiteral("new position to motion frame"),
          o.value(QStringLiteral("firstMotionFrame")).toObject(),
          QStringLiteral("driver motion latency"));
    timed(QStringLiteral("abort to stop, instant answers"),
          o.value(QStringLiteral("abortToStop")).toObject(),
          QStringLiteral("driver abort latency"));
    abortStates(o.value(QStringLiteral("abortByState")).toObject(), missed);
    line(QStringLiteral("   goto overhead (request to done, minus the motion), median ms:"));
    gotoOverhead(QStringLiteral("console"), o.value(QStringLiteral("consoleGotos")).toObject(),
                 missed);
    gotoOverhead(QStringLiteral("driver"), o.value(QStringLiteral("driverGotos")).toObject(),
                 missed);
}

// The figures of one Alpaca server: the daemon, or the console serving as the hub (no idle
// line: the console's idle cost is its own section).
void servedFigures(const QJsonObject& o, const QString& who, QStringList& missed) {
    if (o.contains(QStringLiteral("idle"))) {
        const QJsonObject idle = o.value(QStringLiteral("idle")).toObject();
        const bool idleMet = idle.value(QStringLiteral("met")).toBool();
        line(QStringLiteral("   idle, connected and polling    %1 % of a core (%2 s CPU in %3 s)"
                            "   target <= %4 %  %5")
                 .arg(fixed(idle.value(QStringLiteral("corePercent")).toDouble(), 3))
                 .arg(fixed(idle.value(QStringLiteral("cpuSeconds")).toDouble(), 3))
                 .arg(fixed(idle.value(QStringLiteral("wallSeconds")).toDouble(), 1))
                 .arg(idle.value(QStringLiteral("targetPercent")).toDouble())
                 .arg(verdict(idleMet)));
        if (!idleMet)
            missed << who + QStringLiteral(" idle cost");
    }
    const auto timed = [&o, &missed, &who](const QString& label, const char* key) {
        const QJsonObject t = o.value(QLatin1String(key)).toObject();
        const bool met = t.value(QStringLiteral("met")).toBool();
        line(QStringLiteral("   %1 p50 %2 ms, p99 %3 ms, max %4 ms (%5 runs)   target <= %6 ms  %7")
                 .arg(label, -30)
                 .arg(fixed(t.value(QStringLiteral("medianMs")).toDouble(), 2))
                 .arg(fixed(t.value(QStringLiteral("p99Ms")).toDouble(), 2))
                 .arg(fixed(t.value(QStringLiteral("maxMs")).toDouble(), 2))
                 .arg(t.value(QStringLiteral("runs")).toInt())
                 .arg(fixed(t.value(QStringLiteral("targetMs")).toDouble(), 0))
                 .arg(verdict(met)));
        if (!met)
            missed << who + QLatin1Char(' ') + label;
    };
    timed(QStringLiteral("GET position, standing"), "standing");
    timed(QStringLiteral("GET position, while moving"), "moving");
    timed(QStringLiteral("PUT move answered"), "moveReply");
    timed(QStringLiteral("move to first motion frame"), "firstMotionFrame");
    timed(QStringLiteral("halt to rate-0 frame"), "haltToStop");
    timed(QStringLiteral("GET, 8 clients at 50 ms + moves"), "crowdGet");
    timed(QStringLiteral("halt to IsMoving false"), "haltToStill");
    line(QStringLiteral("   goto overhead (request to IsMoving false, minus the motion), median "
                        "ms:"));
    gotoOverhead(who, o.value(QStringLiteral("gotos")).toObject(), missed);
}

void alpacaSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("8. Alpaca server (tarnivel-alpaca over HTTP on this machine)"));
    if (reportError(o, QStringLiteral("alpaca"), missed))
        return;
    servedFigures(o, QStringLiteral("Alpaca"), missed);
}

void hubSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("11. The console serving Alpaca (the hub, over HTTP on this machine)"));
    if (reportError(o, QStringLiteral("hub"), missed))
        return;
    servedFigures(o, QStringLiteral("hub"), missed);
}

void lateSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("10. Connects to a calibrated 200000-step focuser, %1 % of answers 500 ms "
                        "late (Alpaca)")
             .arg(o.value(QStringLiteral("lateShare")).toDouble() * 100, 0, 'f', 0));
    if (reportError(o, QStringLiteral("late answers"), missed))
        return;
    const bool met = o.value(QStringLiteral("met")).toBool();
    line(QStringLiteral("   right scale %1, wrong scale %2 of %3 connects   target: no wrong "
                        "scale  %4")
             .arg(o.value(QStringLiteral("rightScale")).toInt())
             .arg(o.value(QStringLiteral("wrongScale")).toInt())
             .arg(o.value(QStringLiteral("connects")).toInt())
             .arg(verdict(met)));
    line(QStringLiteral("   honest failures apart: %1 connects refused, %2 with the scale not yet "
                        "known")
             .arg(o.value(QStringLiteral("failedConnects")).toInt())
             .arg(o.value(QStringLiteral("scaleNotYetKnown")).toInt()));
    line(QStringLiteral("   PUT Connected answered in %1 s (median), %2 s (max)")
             .arg(fixed(o.value(QStringLiteral("medianConnectSeconds")).toDouble(), 2))
             .arg(fixed(o.value(QStringLiteral("maxConnectSeconds")).toDouble(), 2)));
    if (!met)
        missed << QStringLiteral("connects with late answers");
}

void compensationSection(const QJsonObject& o, QStringList& missed) {
    line(QStringLiteral("9. Temperature compensation, simulated night (3 \u00b0C in 2 h, "
                        "k = -80 steps/\u00b0C, one count of sensor noise, a reading every %1 s)")
             .arg(o.value(QStringLiteral("statusPeriodMs")).toInt() / 1000));
    if (reportError(o, QStringLiteral("temperature compensation"), missed))
        return;
    for (const QJsonValue& v : o.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject r = v.toObject();
        const QString label = QStringLiteral("%1, average %2 s, dead band %3")
                                  .arg(r.value(QStringLiteral("direction")).toString())
                                  .arg(r.value(QStringLiteral("averageSeconds")).toInt())
                                  .arg(r.value(QStringLiteral("deadband")).toInt());
        if (reportError(r, QStringLiteral("temperature compensation, %1").arg(label), missed))
            continue;
        const bool comparison = r.value(QStringLiteral("comparison")).toBool();
        const bool met = comparison || r.value(QStringLiteral("met")).toBool();
        if (comparison) {
            line(QStringLiteral("   %1 focus error p50 %2 / p95 %3 / max %4 steps   %5 moves "
                                "(for comparison, no target)")
                     .arg(label, -36)
                     .arg(fixed(r.value(QStringLiteral("p50Steps")).toDouble(), 1))
                     .arg(fixed(r.value(QStringLiteral("p95Steps")).toDouble(), 1))
                     .arg(fixed(r.value(QStringLiteral("maxSteps")).toDouble(), 1))
                     .arg(r.value(QStringLiteral("moves")).toInt()));
            continue;
        }
        line(QStringLiteral("   %1 focus error p50 %2 / p95 %3 / max %4 steps   target p95 <= %5"
                            "   %6 moves   target <= %7   %8 steps travelled per step "
                            "corrected, target <= 3  %9")
                 .arg(label, -36)
                 .arg(fixed(r.value(QStringLiteral("p50Steps")).toDouble(), 1))
                 .arg(fixed(r.value(QStringLiteral("p95Steps")).toDouble(), 1))
                 .arg(fixed(r.value(QStringLiteral("maxSteps")).toDouble(), 1))
                 .arg(fixed(r.value(QStringLiteral("errorTargetSteps")).toDouble(), 1))
                 .arg(r.value(QStringLiteral("moves")).toInt())
                 .arg(r.value(QStringLiteral("moveTarget")).toInt())
                 .arg(fixed(r.value(QStringLiteral("travelPerStep")).toDouble(), 1))
                 .arg(verdict(met)));
        const QString off = r.value(QStringLiteral("switchedOff")).toString();
        if (!off.isEmpty())
            line(QStringLiteral("     switched itself off: %1").arg(off));
        if (!met)
            missed << QStringLiteral("temperature compensation, %1").arg(label);
    }
    const QJsonObject rt = o.value(QStringLiteral("realTime")).toObject();
    const QString name = QStringLiteral("temperature compensation in real time");
    line(QStringLiteral("   In real time against tarnivel-sim on a pseudo-terminal (3 \u00b0C "
                        "cooler at the end):"));
    if (reportError(rt, name, missed))
        return;
    const bool met = rt.value(QStringLiteral("met")).toBool();
    line(QStringLiteral("   %1 min, overshoot %2 steps: focus error p50 %3 / p95 %4 / max %5 steps"
                        "   target p95 <= %6   %7 moves   %8 steps travelled per step "
                        "corrected, target <= 3   %9 s per correction  %10")
             .arg(fixed(rt.value(QStringLiteral("minutes")).toDouble(), 1))
             .arg(rt.value(QStringLiteral("overshoot")).toInt())
             .arg(fixed(rt.value(QStringLiteral("p50Steps")).toDouble(), 1))
             .arg(fixed(rt.value(QStringLiteral("p95Steps")).toDouble(), 1))
             .arg(fixed(rt.value(QStringLiteral("maxSteps")).toDouble(), 1))
             .arg(fixed(rt.value(QStringLiteral("errorTargetSteps")).toDouble(), 1))
             .arg(rt.value(QStringLiteral("moves")).toInt())
             .arg(fixed(rt.value(QStringLiteral("travelPerStep")).toDouble(), 1))
             .arg(fixed(rt.value(QStringLiteral("secondsPerCorrection")).toDouble(), 1))
             .arg(verdict(met)));
    const QString off = rt.value(QStringLiteral("switchedOff")).toString();
    if (!off.isEmpty())
        line(QStringLiteral("     switched itself off: %1").arg(off));
    if (!met)
        missed << name;
}

} // namespace

QStringList printReport(const QJsonObject& results) {
    QStringList missed;
    line();
    line(QStringLiteral("Tarnivel benchmark, %1")
             .arg(results.value(QStringLiteral("date")).toString()));
    const QJsonObject machine = results.value(QStringLiteral("machine")).toObject();
    line(QStringLiteral("%1, %2 cores, Qt %3")
             .arg(machine.value(QStringLiteral("cpu")).toString())
             .arg(machine.value(QStringLiteral("cores")).toInt())
             .arg(machine.value(QStringLiteral("qt")).toString()));
    const struct {
        const char* key;
        void (*section)(const QJsonObject&, QStringList&);
    } sections[] = {{"commands", commandsSection},
                    {"responsiveness", responsivenessSection},
                    {"idle", idleSection},
                    {"startup", startupSection},
                    {"settings", settingsSection},
                    {"plot", plotSection},
                    {"driver", driverSection},
                    {"alpaca", alpacaSection},
                    {"compensation", compensationSection},
                    {"late", lateSection},
                    {"hub", hubSection}};
    for (const auto& s : sections) {
        const QString key = QLatin1String(s.key);
        if (!results.contains(key))
            continue;
        line();
        s.section(results.value(key).toObject(), missed);
    }
    line();
    if (missed.isEmpty())
        line(QStringLiteral("Every figure met its target."));
    else
        line(QStringLiteral("Missed: %1").arg(missed.join(QStringLiteral("; "))));
    return missed;
}

} // namespace tarnivel::bench
