#include "window/plot/temperatureseries.h"

#include "core/link/focusercommands.h"
#include "core/units/positionunits.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QTime>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace tarnivel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool IsRuleCurve(PlotCurve curve) {
    return curve == PlotCurve::Rule1Limit || curve == PlotCurve::RuleDifference ||
           curve == PlotCurve::RuleDifferenceLimit;
}

std::optional<double> SampleValue(const TemperatureSample& s, PlotCurve curve, int degrees) {
    switch (curve) {
    case PlotCurve::Sensor1:
    case PlotCurve::Sensor2:
    case PlotCurve::Sensor3: {
        const TemperatureReading& c = s.celsius[static_cast<size_t>(curve)];
        if (!c)
            return std::nullopt;
        return DisplayTemperature(*c, degrees);
    }
    case PlotCurve::Rule1Limit:
        if (s.fanMode != 1 || !s.limitCelsius)
            return std::nullopt;
        return DisplayTemperature(*s.limitCelsius, degrees);
    case PlotCurve::RuleDifference: {
        if (s.fanMode != 2 && s.fanMode != 3)
            return std::nullopt;
        const TemperatureReading& reference = s.celsius[0];
        const TemperatureReading& other = s.celsius[static_cast<size_t>(s.fanMode - 1)];
        if (!reference || !other)
            return std::nullopt;
        // Both in the display unit before the difference, as the rule itself takes it.
        return DisplayTemperature(*reference, degrees) - DisplayTemperature(*other, degrees);
    }
    case PlotCurve::RuleDifferenceLimit:
        if ((s.fanMode != 2 && s.fanMode != 3) || !s.limitCelsius)
            return std::nullopt;
        return DisplayDifference(*s.limitCelsius, degrees);
    }
    return std::nullopt;
}

bool TimeBreak(qint64 before, qint64 after) {
    const qint64 step = after - before;
    return step < 0 || step > TemperatureSeries::kBreakMs;
}

// The first, lowest, highest and last of a run of points in one bucket, in time order.
struct Run {
    bool empty = true;
    QPointF first, low, high, last;

    void add(const QPointF& p) {
        if (empty) {
            first = low = high = last = p;
            empty = false;
            return;
        }
        if (p.y() < low.y())
            low = p;
        if (p.y() > high.y())
            high = p;
        last = p;
    }
    void flushInto(QList<QPointF>& out) {
        if (empty)
            return;
        QPointF points[4] = {first, low, high, last};
        std::stable_sort(std::begin(points), std::end(points),
                         [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
        for (int i = 0; i < 4; ++i) {
            if (i == 0 || points[i] != points[i - 1])
                out.append(points[i]);
        }
        empty = true;
    }
};

bool ParseDigits(QByteArrayView text, qsizetype at, qsizetype count, int& value) {
    value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

QByteArrayView Trimmed(QByteArrayView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.sliced(begin, end - begin);
}

// "yyyy-MM-dd HH:mm:ss" in local time, with or without its quotes.
std::optional<qint64> ParseStamp(QByteArrayView field) {
    QByteArrayView text = Trimmed(field);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.sliced(1, text.size() - 2);
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    int year, month, day, hour, minute, second;
    if (!ParseDigits(text, 0, 4, year) || !ParseDigits(text, 5, 2, month) ||
        !ParseDigits(text, 8, 2, day) || !ParseDigits(text, 11, 2, hour) ||
        !ParseDigits(text, 14, 2, minute) || !ParseDigits(text, 17, 2, second))
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    // The clock time as if it were UTC, then the local offset of its hour. Asking the time
    // zone once per line would cost more than all the rest of a line; the offset changes only
    // on the hour, so one hour's lines share one question.
    constexpr qint64 kHourMs = 3600LL * 1000;
    constexpr qint64 kUnixEpochJulianDay = 2440588;
    const qint64 asUtc = (date.toJulianDay() - kUnixEpochJulianDay) * 24 * kHourMs +
                         (hour * 3600LL + minute * 60LL + second) * 1000;
    static thread_local qint64 cachedHour = std::numeric_limits<qint64>::min();
    static thread_local qint64 cachedOffset = 0;
    const qint64 hourStart = asUtc - (minute * 60LL + second) * 1000;
    if (hourStart != cachedHour) {
        cachedOffset = hourStart - QDateTime(date, QTime(hour, 0)).toMSecsSinceEpoch();
        cachedHour = hourStart;
    }
    return asUtc - cachedOffset;
}

// Five blanks for a sensor that is not fitted, otherwise a number with "." as its mark.
bool ParseReading(QByteArrayView field, TemperatureReading& reading) {
    const QByteArrayView text = Trimmed(field);
    if (text.isEmpty()) {
        reading.reset();
        return true;
    }
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        return false;
    reading = value;
    return true;
}

} // namespace

double DisplayTemperature(double celsius, int degrees) {
    return degrees == 0 ? celsius : FocuserCommands::CelsiusToFahrenheit(celsius);
}

double DisplayDifference(double celsiusDifference, int degrees) {
    return degrees == 0 ? celsiusDifference : celsiusDifference * 9 / 5;
}

double LimitToCelsius(double displayLimit, int fanMode, int degrees) {
    if (degrees == 0)
        return displayLimit;
    return fanMode == 1 ? (displayLimit - 32) * 5 / 9 : displayLimit * 5 / 9;
}

void TemperatureSeries::Append(const TemperatureSample& sample) {
    samples_.push_back(sample);
    Count(sample, 1);
    if (sample.fanMode == 2 || sample.fanMode == 3)
        lastDifferenceRule_ = sample.fanMode;
    if (maxSpanMs_ <= 0)
        return;
    while (samples_.size() > 1 && sample.msecs - samples_.front().msecs > maxSpanMs_) {
        Count(samples_.front(), -1);
        samples_.pop_front();
    }
}

void TemperatureSeries::Clear() {
    samples_.clear();
    std::fill(std::begin(counts_), std::end(counts_), 0);
    fanOnCount_ = 0;
    positionCount_ = 0;
    compMoveCount_ = 0;
    lastDifferenceRule_ = 0;
}

void TemperatureSeries::Count(const TemperatureSample& sample, int delta) {
    for (int c = 0; c < kPlotCurveCount; ++c) {
        if (SampleValue(sample, static_cast<PlotCurve>(c), 0))
            counts_[c] += delta;
    }
    if (sample.fanOn)
        fanOnCount_ += delta;
    if (sample.position) {
        positionCount_ += delta;
        if (sample.compMove)
            compMoveCount_ += delta;
    }
}

bool TemperatureSeries::BreakBefore(bool ruleCurve, qsizetype i) const {
    if (i == 0)
        return false;
    const TemperatureSample& before = at(i - 1);
    const TemperatureSample& sample = at(i);
    // Rule 2 and rule 3 compare different differences: one must not run into the other.
    if (ruleCurve && before.fanMode != sample.fanMode)
        return true;
    if (TimeBreak(before.msecs, sample.msecs))
        return true;
    if (i < 2)
        return false;
    const qint64 step = sample.msecs - before.msecs;
    const qint64 period = before.msecs - at(i - 2).msecs;
    return step > kMinBreakMs && period > 0 && step > kBreakSteps * period;
}

qsizetype TemperatureSeries::LowerBound(qint64 msecs) const {
    const auto it =
        std::lower_bound(samples_.begin(), samples_.end(), msecs,
                         [](const TemperatureSample& s, qint64 t) { return s.msecs < t; });
    return static_cast<qsizetype>(it - samples_.begin());
}

QList<QPointF> TemperatureSeries::Points(PlotCurve curve, int degrees, qint64 from, qint64 to,
                                         int buckets) const {
    return Collect(
        [curve, degrees](const TemperatureSample& s) { return SampleValue(s, curve, degrees); },
        IsRuleCurve(curve), from, to, buckets);
}

QList<QPointF> TemperatureSeries::PositionPoints(double scaleFactor, int decimals, qint64 from,
                                                 qint64 to, int buckets) const {
    return Collect(
        [scaleFactor, decimals](const TemperatureSample& s) -> std::optional<double> {
            if (!s.position)
                return std::nullopt;
            return StepsToUnits(*s.position, scaleFactor, decimals);
        },
        false, from, to, buckets);
}

QList<QPointF> TemperatureSeries::CompMovePoints(double scaleFactor, int decimals, qint64 from,
                                                 qint64 to) const {
    QList<QPointF> out;
    if (compMoveCount_ == 0 || to < from)
        return out;
    for (qsizetype i = LowerBound(from); i < size() && at(i).msecs <= to; ++i) {
        const TemperatureSample& s = at(i);
        if (s.compMove && s.position)
            out.append(QPointF(static_cast<double>(s.msecs),
                               StepsToUnits(*s.position, scaleFactor, decimals)));
    }
    return out;
}

QList<QPointF> TemperatureSeries::Collect(const SampleValueOf& value, bool ruleCurve, qint64 from,
                                          qint64 to, int buckets) const {
    QList<QPointF> out;
    if (samples_.empty() || to < from)
        return out;
    const qsizetype begin = std::max<qsizetype>(0, LowerBound(from) - 1);
    const qsizetype end = std::min(size(), LowerBound(to) + 1);
    const bool decimate = buckets > 0 && end - begin > 2 * static_cast<qsizetype>(buckets);
    const double width = decimate ? std::max(1.0, static_cast<double>(to - from) / buckets) : 1.0;

    out.reserve(decimate ? 4 * buckets + 16 : end - begin);
    Run run;
    qint64 bucket = std::numeric_limits<qint64>::min();
    bool gapOpen = false; // a NaN point is the last thing written
    for (qsizetype i = begin; i < end; ++i) {
        const qint64 t = at(i).msecs;
        const std::optional<double> v = value(at(i));
        const bool gap = !v || (i > begin && BreakBefore(ruleCurve, i));
        if (decimate) {
            const auto b = static_cast<qint64>(std::floor((t - from) / width));
            if (gap || b != bucket)
                run.flushInto(out);
            bucket = b;
        }
        if (gap && !gapOpen && !out.isEmpty()) {
            out.append(QPointF(static_cast<double>(t), kNaN));
            gapOpen = true;
        }
        if (!v)
            continue;
        const QPointF p(static_cast<double>(t), *v);
        if (decimate)
            run.add(p);
        else
            out.append(p);
        gapOpen = false;
    }
    run.flushInto(out);
    return out;
}

QList<QPointF> TemperatureSeries::Points(PlotCurve curve, int degrees) const {
    if (samples_.empty())
        return {};
    qint64 from = first().msecs;
    qint64 to = from;
    for (const TemperatureSample& s : samples_) {
        from = std::min(from, s.msecs);
        to = std::max(to, s.msecs);
    }
    return Points(curve, degrees, from, to, 0);
}

QList<QPair<qint64, qint64>> TemperatureSeries::FanOnPeriods(qint64 from, qint64 to) const {
    QList<QPair<qint64, qint64>> out;
    if (samples_.empty() || to < from)
        return out;
    // A period already running at the left edge is cut at the sample before it: the view
    // shows it reaching past its edge, and no walk back through a day of fan-on samples.
    const qsizetype begin = std::max<qsizetype>(0, LowerBound(from) - 1);
    const qsizetype end = std::min(size(), LowerBound(to) + 1);
    bool on = false;
    qint64 start = 0;
    qint64 previous = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const TemperatureSample& s = at(i);
        if (on && TimeBreak(previous, s.msecs)) {
            out.append({start, previous});
            on = false;
        }
        if (s.fanOn && !on) {
            start = s.msecs;
            on = true;
        } else if (!s.fanOn && on) {
            out.append({start, s.msecs});
            on = false;
        }
        previous = s.msecs;
    }
    if (on)
        out.append({start, previous});
    return out;
}

QList<QPair<qint64, qint64>> TemperatureSeries::FanOnPeriods() const {
    if (samples_.empty())
        return {};
    return FanOnPeriods(std::numeric_limits<qint64>::min() / 2,
                        std::numeric_limits<qint64>::max() / 2);
}

std::optional<TemperatureSample> ParseTemperatureLogLine(QByteArrayView line) {
    if (line.endsWith('\r'))
        line.chop(1);
    QByteArrayView fields[6];
    qsizetype start = 0;
    for (int f = 0; f < 6; ++f) {
        const qsizetype comma = line.indexOf(',', start);
        if ((comma < 0) != (f == 5))
            return std::nullopt; // too few or too many fields
        const qsizetype end = comma < 0 ? line.size() : comma;
        fields[f] = line.sliced(start, end - start);
        start = end + 1;
    }
    TemperatureSample sample;
    const std::optional<qint64> stamp = ParseStamp(fields[0]);
    if (!stamp)
        return std::nullopt;
    sample.msecs = *stamp;
    for (int n = 0; n < 3; ++n) {
        if (!ParseReading(fields[1 + n], sample.celsius[static_cast<size_t>(n)]))
            return std::nullopt;
    }
    const QByteArrayView mode = Trimmed(fields[4]);
    const QByteArrayView fan = Trimmed(fields[5]);
    if (mode.size() != 1 || mode[0] < '0' || mode[0] > '3' || fan.size() != 1 ||
        (fan[0] != '0' && fan[0] != '1'))
        return std::nullopt;
    sample.fanMode = mode[0] - '0';
    sample.fanOn = fan[0] == '1';
    return sample;
}

LogImport ImportTemperatureLog(const QByteArray& bytes, TemperatureSeries& series) {
    LogImport result;
    result.opened = true;
    QByteArray header = TemperatureLog::HeaderLine();
    header.chop(2); // CR LF
    const QByteArrayView all(bytes);
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = all.indexOf('\n', start);
        if (end < 0)
            end = all.size();
        QByteArrayView line = all.sliced(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line == QByteArrayView(header))
            continue;
        const std::optional<TemperatureSample> sample = ParseTemperatureLogLine(line);
        if (!sample) {
            ++result.linesSkipped;
            continue;
        }
        if (result.linesRead == 0)
            result.firstMsecs = sample->msecs;
        result.lastMsecs = sample->msecs;
        ++result.linesRead;
        series.Append(*sample);
    }
    return result;
}

LogImport ImportTemperatureLogFile(const QString& path, TemperatureSeries& series) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        LogImport result;
        result.error = file.errorString();
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        LogImport result;
        result.error = file.errorString();
        return result;
    }
    return ImportTemperatureLog(bytes, series);
}

} // namespace tarnivel
