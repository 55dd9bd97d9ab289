#pragma once

#include "core/device/temperaturelog.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QPointF>
#include <QString>
#include <deque>
#include <functional>
#include <optional>

namespace tarnivel {

// One temperature update as the plot keeps it. Everything is held in Celsius, so that a change
// of the display unit redraws the whole past in the new unit.
struct TemperatureSample {
    qint64 msecs = 0;            // local clock time, milliseconds since the epoch
    TemperatureReadings celsius; // empty: not fitted, or the read failed
    int fanMode = 0;             // 0 manual, 1..3 the automatic rule that ran
    bool fanOn = false;
    // The running rule's limit, in Celsius (rule 1 a temperature, rules 2 and 3 a difference);
    // empty in manual mode and where nobody recorded it (the log has no column for it).
    std::optional<double> limitCelsius;
    // The focuser's raw counter value at the reading, drawn in the position units in force
    // when drawn (as the readout shows it); empty where nobody recorded it (the log).
    std::optional<int> position;
    // A compensation move started since the reading before: this reading shows where it went.
    bool compMove = false;
};

// The curves the plot draws from the samples.
enum class PlotCurve {
    Sensor1,
    Sensor2,
    Sensor3,
    // Rule 1 compares reading 1 itself with its limit: the limit shares the temperature axis.
    Rule1Limit,
    // Rules 2 and 3 compare a difference; it and its limit have an axis of their own.
    RuleDifference,
    RuleDifferenceLimit,
};
inline constexpr int kPlotCurveCount = 6;

// A display-unit temperature from Celsius (degrees 0 Celsius, otherwise Fahrenheit); the same
// for a difference of two temperatures.
double DisplayTemperature(double celsius, int degrees);
double DisplayDifference(double celsiusDifference, int degrees);
// What a limit the operator typed (display unit) is in Celsius, for the rule it belongs to.
double LimitToCelsius(double displayLimit, int fanMode, int degrees);

// The plotted history: samples in arrival order, at most maxSpanMs from the oldest to the
// newest (0: no bound). Appending costs the same whatever the length; the samples that fall
// out of the span are dropped from the front.
class TemperatureSeries {
public:
    static constexpr qint64 kDayMs = 24LL * 60 * 60 * 1000;
    // Two samples further apart than this (or running backwards) belong to different runs of
    // the program, or a lost connection lies between them: nothing is drawn across the
    // hole. The slowest poll is one update in 25 s; a faster one breaks on a step of more
    // than kBreakSteps of its own updates (and more than kMinBreakMs).
    static constexpr qint64 kBreakMs = 75LL * 1000;
    static constexpr qint64 kMinBreakMs = 10LL * 1000;
    static constexpr int kBreakSteps = 4;

    explicit TemperatureSeries(qint64 maxSpanMs = kDayMs) : maxSpanMs_(maxSpanMs) {}

    void Append(const TemperatureSample& sample);
    void Clear();
    qsizetype size() const { return static_cast<qsizetype>(samples_.size()); }
    bool isEmpty() const { return samples_.empty(); }
    const TemperatureSample& at(qsizetype i) const { return samples_[static_cast<size_t>(i)]; }
    const TemperatureSample& first() const { return samples_.front(); }
    const TemperatureSample& last() const { return samples_.back(); }
    qint64 maxSpanMs() const { return maxSpanMs_; }

    // Whether the curve has at least one point to draw.
    bool HasData(PlotCurve curve) const { return counts_[static_cast<int>(curve)] > 0; }
    // Whether any sample has the fan on.
    bool HasFanOn() const { return fanOnCount_ > 0; }
    bool HasPosition() const { return positionCount_ > 0; }
    bool HasCompMoves() const { return compMoveCount_ > 0; }
    // The rule (2 or 3) whose difference was drawn last; 0 when none ran.
    int LastDifferenceRule() const { return lastDifferenceRule_; }

    // The curve between the times from and to (inclusive, plus one sample either side so the
    // line reaches the edges) in the display unit. A gap (no reading, another rule, a break
    // between runs) is a point with a NaN value. When more than 2 x buckets samples fall in
    // the range, each of the buckets keeps only its first, lowest, highest and last point.
    QList<QPointF> Points(PlotCurve curve, int degrees, qint64 from, qint64 to,
                          int buckets = 0) const;
    // The whole curve, undecimated.
    QList<QPointF> Points(PlotCurve curve, int degrees) const;
    // The focuser position in units (StepsToUnits), gaps and decimation as for a curve.
    QList<QPointF> PositionPoints(double scaleFactor, int decimals, qint64 from, qint64 to,
                                  int buckets = 0) const;
    // The position at each reading marked as a compensation move, between from and to; never
    // decimated (a night has a few dozen).
    QList<QPointF> CompMovePoints(double scaleFactor, int decimals, qint64 from, qint64 to) const;
    // Periods with the fan on, [start, end] in msecs: from the first sample that had it on to
    // the first that had it off, or to the last sample before a break or the newest sample.
    // Between from and to, a period running at from starts at the last sample before it.
    QList<QPair<qint64, qint64>> FanOnPeriods(qint64 from, qint64 to) const;
    QList<QPair<qint64, qint64>> FanOnPeriods() const;

    // Index of the first sample at or after msecs (size() when none).
    qsizetype LowerBound(qint64 msecs) const;

private:
    using SampleValueOf = std::function<std::optional<double>(const TemperatureSample&)>;
    QList<QPointF> Collect(const SampleValueOf& value, bool ruleCurve, qint64 from, qint64 to,
                           int buckets) const;
    bool BreakBefore(bool ruleCurve, qsizetype i) const;
    void Count(const TemperatureSample& sample, int delta);

    qint64 maxSpanMs_;
    std::deque<TemperatureSample> samples_;
    int counts_[kPlotCurveCount] = {};
    int fanOnCount_ = 0;
    int positionCount_ = 0;
    int compMoveCount_ = 0;
    int lastDifferenceRule_ = 0;
};

// What reading a temperature log gave.
struct LogImport {
    bool opened = false;
    QString error; // why the file could not be read
    int linesRead = 0;
    int linesSkipped = 0;  // neither the header nor a data line
    qint64 firstMsecs = 0; // times of the first and the last line read
    qint64 lastMsecs = 0;
};

// Reads the lines of a CSV temperature log into series (after what it holds). The header is
// passed over; a line that does not parse is counted and skipped, never fatal.
LogImport ImportTemperatureLog(const QByteArray& bytes, TemperatureSeries& series);
LogImport ImportTemperatureLogFile(const QString& path, TemperatureSeries& series);
// One data line as the log writes it (without its line end); empty when it does not parse.
std::optional<TemperatureSample> ParseTemperatureLogLine(QByteArrayView line);

} // namespace tarnivel
