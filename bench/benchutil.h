#pragma once

// Small pieces every measurement of tarnivel-bench shares: a series of timings, the
// simulator tool's arguments and output, and the child processes that run the real window.

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace tarnivel::bench {

// Timings in milliseconds (or any one unit) with the order statistics the report uses.
class Series {
public:
    void add(double v) { values_.push_back(v); }
    bool empty() const { return values_.empty(); }
    int count() const { return static_cast<int>(values_.size()); }
    double median() const;
    // The value below which a share p (0..1) of the series lies, nearest rank.
    double percentile(double p) const;
    double min() const;
    double max() const;

private:
    std::vector<double> values_;
};

// tarnivel-sim's arguments for serving COM1 in a folder with the tool's own answer timing.
QStringList comSimArgs(const QString& folder, const QStringList& extraArgs = {});
// The same with answers as fast as the pseudo-terminal carries them.
QStringList fastSimArgs(const QString& folder, const QStringList& extraArgs = {});
// Exchanges the tool served, from what it printed; it prints them only when started with
// --verbose.
int simExchanges(const QByteArray& toolOutput);

// A controller state file that says "calibrated" with auto-stop on, so that connecting
// raises no warning box that would wait for a click.
bool writeCalibratedSimState(const QString& path);

// Runs this executable again with args, waits up to timeoutMs and returns the object the
// child printed on its "RESULT " line; on failure an object with "error" set.
QJsonObject runChild(const QStringList& args, int timeoutMs);
// Starts a child without waiting; collect it with finishChild.
void startChild(QProcess& child, const QStringList& args);
QJsonObject finishChild(QProcess& child, int timeoutMs);

// Command floors from the pacing: 88 ms for the frame, 11 ms per reply character.
inline constexpr double kGetPositionMs = 132;
inline constexpr double kApproachMs = 99;
inline constexpr double kIsSlewDoneMs = 110;
// The commands a staged goto must send. One move: stage 3 (position, approach), one stage 4
// pass that sees it done (slew-done, position), stage 5 (position). Two moves add stage 1 and
// a stage 2 pass.
inline constexpr double kOneMoveFloorMs =
    kGetPositionMs + kApproachMs + kIsSlewDoneMs + kGetPositionMs + kGetPositionMs;
inline constexpr double kTwoMoveFloorMs =
    kOneMoveFloorMs + kGetPositionMs + kApproachMs + kIsSlewDoneMs + kGetPositionMs;
// A goto may cost this much of its floor, request to done minus the motion.
inline constexpr double kGotoFloorRatio = 1.1;

// The goto overhead of one front end, one and two moves (request to done minus the motion),
// each with its floor, its target and whether the median met it.
QJsonObject gotoOverheads(const Series& oneMove, const Series& twoMoves);

// A result that says only why the measurement could not be made.
QJsonObject failure(const QString& why);
// Replaces the file with bytes; false when it could not be written whole.
bool writeFile(const QString& path, const QByteArray& bytes);

// CPU seconds (user and system) a running process has used so far; -1 when unreadable.
double processCpuSeconds(qint64 pid);

// What a child prints for the parent to read.
void printResult(const QJsonObject& result);

// The clock's milliseconds when text showed in the file at path (the simulator's frame log)
// after byte from; -1 when it did not within waitMs. meanwhile runs at every look.
qint64 WaitForLogText(const QString& path, const QString& text, qint64 from,
                      const QElapsedTimer& clock, int waitMs,
                      const std::function<void()>& meanwhile = {});

// The served front ends' benches: whole steps on a calibrated 8000-step travel (client
// position = counter + 4000), final approach downward with 1000 steps of overshoot, as the
// console's settings file and the simulator's state file give it.
inline const QByteArray kServedSettings =
    "[TARNIVEL]\r\n   COMport              = 1\r\n"
    "   ScaleFactor          = 1\r\n   Decimals             = 0\r\n"
    "   Approach             = 1\r\n   Overshoot            = 1000\r\n";
inline const QByteArray kServedCalibratedState =
    "register40=1\nregister41=0\nregister42=31\nregister43=64\n"
    "register44=255\nregister45=240\nregister46=96\nregister47=0\n"
    "register48=15\nregister49=160\nautoStop=1\nplace=0\nposition=0\n";
inline const QString kApproachTag = QStringLiteral("50 04 12 17 ");
inline const QString kStopFrame = QStringLiteral("50 02 12 24 00 00 00 00");

} // namespace tarnivel::bench
