#include "core/device/tempcompensation.h"

#include "core/link/focusercommands.h"
#include "core/units/positionunits.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarnivel {

namespace {

constexpr qint64 kMsPerSecond = 1000;
// A reading counts while it is younger than the averaging window, and never less than this:
// the slowest status cycle reads every 25 s, and Mark focus may come between two readings.
constexpr qint64 kMinFreshSeconds = 60;
// A correction's backlash take-up: twice the dead band, never less than this.
constexpr int kMinOvershoot = 50;

} // namespace

TempCompParameters TempCompParameters::From(const FocuserSettings& settings) {
    TempCompParameters p;
    p.coefficient = settings.TempCompCoefficient;
    p.sensor = settings.TempCompSensor;
    p.deadband = settings.TempCompDeadband;
    p.averageSeconds = settings.TempCompAverage;
    p.maxTravel = settings.TempCompMaxTravel;
    if (settings.TempCompOvershoot < 0)
        p.overshoot = std::max(2 * settings.TempCompDeadband, kMinOvershoot);
    else
        p.overshoot =
            settings.TempCompOvershoot == 0 ? settings.Overshoot : settings.TempCompOvershoot;
    p.approach = settings.Approach;
    const QString names[] = {settings.SensorName1, settings.SensorName2, settings.SensorName3};
    p.sensorName = names[std::clamp(settings.TempCompSensor, 1, 3) - 1].trimmed();
    p.degrees = settings.Degrees;
    return p;
}

QString TempCompParameters::SensorText() const {
    return sensorName.isEmpty() ? QStringLiteral("sensor %1").arg(sensor) : sensorName;
}

void TempCompensation::setParameters(const TempCompParameters& parameters) {
    parameters_ = parameters;
    // A coefficient set to 0 while on leaves nothing to follow.
    if (on_ && !Available())
        Off(QStringLiteral("Temp comp off: no coefficient"));
}

void TempCompensation::AddReading(qint64 nowMs, const TemperatureReadings& celsius) {
    samples_.push_back({nowMs, celsius});
    const qint64 keepFrom = nowMs - static_cast<qint64>(parameters_.averageSeconds) * kMsPerSecond;
    while (samples_.size() > 1 && samples_.front().ms < keepFrom)
        samples_.pop_front();
}

std::optional<double> TempCompensation::AverageCelsius(qint64 nowMs) const {
    const int sensor = std::clamp(parameters_.sensor, 1, 3) - 1;
    if (samples_.empty() || !samples_.back().celsius[sensor])
        return std::nullopt;
    // A reading from before the window is not this temperature.
    const qint64 freshSeconds = std::max<qint64>(parameters_.averageSeconds, kMinFreshSeconds);
    if (nowMs - samples_.back().ms >= freshSeconds * kMsPerSecond)
        return std::nullopt;
    const qint64 from = nowMs - static_cast<qint64>(parameters_.averageSeconds) * kMsPerSecond;
    double sum = 0;
    int count = 0;
    for (auto it = samples_.rbegin(); it != samples_.rend(); ++it) {
        if (count > 0 && (parameters_.averageSeconds == 0 || it->ms < from))
            break;
        if (it->celsius[sensor]) {
            sum += *it->celsius[sensor];
            ++count;
        }
    }
    return sum / count;
}

bool TempCompensation::SwitchOn(int position, qint64 nowMs, bool ready) {
    if (!Available()) {
        Off(QStringLiteral("Temp comp unavailable: no coefficient"));
        return false;
    }
    on_ = true;
    travelled_ = 0;
    statusText_.clear();
    lastMoveText_.clear();
    if (!ready) {
        // The position and the temperature both come after the controller has been read.
        referenceCelsius_.reset();
        Wait(QStringLiteral("reading the controller"));
        return true;
    }
    TakeReference(position, nowMs);
    if (!referenceCelsius_)
        Wait(QStringLiteral("no reading from %1").arg(parameters_.SensorText()));
    return true;
}

void TempCompensation::SwitchOff() {
    on_ = false;
    statusText_.clear();
    lastMoveText_.clear();
}

void TempCompensation::Stop(std::optional<int> shortBy) {
    if (!on_)
        return;
    if (!shortBy || *shortBy == 0)
        Off(QStringLiteral("Temp comp off: stopped"));
    else
        Off(QStringLiteral("Temp comp off: stopped %1 steps short of its target")
                .arg(std::abs(*shortBy)));
}

void TempCompensation::LinkLost() {
    if (on_)
        Off(QStringLiteral("Temp comp off: focuser connection lost"));
}

void TempCompensation::TakeReference(int position, qint64 nowMs) {
    referenceDue_ = false;
    referencePosition_ = position;
    // Without a reading yet, the first good one completes the reference.
    referenceCelsius_ = AverageCelsius(nowMs);
}

TempCompDecision TempCompensation::Wait(const QString& why) {
    statusText_ = QStringLiteral("Temp comp waits: ") + why;
    return {TempCompAction::Wait, 0, statusText_};
}

TempCompDecision TempCompensation::Off(const QString& why) {
    on_ = false;
    // Its last move is history now; the status line shows why it stopped.
    lastMoveText_.clear();
    statusText_ = why;
    return {TempCompAction::SwitchedOff, 0, statusText_};
}

TempCompDecision TempCompensation::Decide(const TempCompConditions& conditions, int position,
                                          const StepLimits& limits, qint64 nowMs) {
    if (!on_)
        return {};
    if (!conditions.connected)
        return Wait(QStringLiteral("not connected"));
    if (!conditions.ready)
        return Wait(QStringLiteral("reading the controller"));
    // One missed read on a busy line is no lost connection; the next answer clears it.
    if (!conditions.positionRead)
        return Wait(QStringLiteral("no position reading"));
    if (conditions.calibrating)
        return Wait(QStringLiteral("calibration running"));
    if (conditions.exchanging)
        return Wait(QStringLiteral("options in use"));
    if (!conditions.idle)
        return Wait(QStringLiteral("focuser moving"));
    if (conditions.commandWaiting)
        return Wait(QStringLiteral("command waiting"));
    const std::optional<double> celsius = AverageCelsius(nowMs);
    if (!celsius)
        return Wait(QStringLiteral("no reading from %1").arg(parameters_.SensorText()));
    if (!referenceCelsius_ || referenceDue_) {
        referenceDue_ = false;
        referencePosition_ = position;
        referenceCelsius_ = celsius;
        statusText_.clear();
        return {TempCompAction::Following, 0, QString()};
    }

    // From the reference every time: adding rounded steps would lose the fractions.
    const double offset = parameters_.coefficient * (*celsius - *referenceCelsius_);
    const qint64 ideal = static_cast<qint64>(referencePosition_) + RoundToInt(offset);
    const int target = static_cast<int>(
        std::clamp(ideal, static_cast<qint64>(limits.lower), static_cast<qint64>(limits.upper)));
    const int steps = target - position;
    if (std::abs(steps) < parameters_.deadband) {
        if (target != ideal && std::abs(static_cast<qint64>(position) - ideal) >=
                                   static_cast<qint64>(parameters_.deadband))
            return Wait(QStringLiteral("target beyond the limits"));
        statusText_.clear();
        return {TempCompAction::Following, 0, QString()};
    }
    const qint64 path = PathSteps(position, target, limits);
    if (travelled_ + path > parameters_.maxTravel)
        return Off(QStringLiteral("Temp comp off: %1 steps travelled, the cap is %2")
                       .arg(travelled_)
                       .arg(parameters_.maxTravel));
    travelled_ += static_cast<int>(path);
    statusText_.clear();
    lastMoveText_ =
        MoveText(steps, *celsius, parameters_.degrees, QLocale(), parameters_.averageSeconds);
    return {TempCompAction::Move, target, lastMoveText_};
}

qint64 TempCompensation::PathSteps(int position, int target, const StepLimits& limits) const {
    const qint64 p = position;
    const qint64 t = target;
    const bool upward = parameters_.approach == 0;
    if (parameters_.overshoot <= 0 || (upward ? p < t : p > t))
        return std::abs(t - p);
    const qint64 point = std::clamp<qint64>(
        upward ? t - parameters_.overshoot : t + parameters_.overshoot, limits.lower, limits.upper);
    if (upward ? point >= t : point <= t)
        return std::abs(t - p);
    return std::abs(point - p) + std::abs(t - point);
}

QString TempCompensation::MoveText(int steps, double celsius, int degrees, const QLocale& locale,
                                   int averageSeconds) {
    const double shown = degrees == 0 ? celsius : FocuserCommands::CelsiusToFahrenheit(celsius);
    QString text = QStringLiteral("Temp comp: %1%2 steps at %3 %4")
                       .arg(steps >= 0 ? QStringLiteral("+") : QStringLiteral("-"))
                       .arg(std::abs(steps))
                       .arg(FormatTenths(shown, locale))
                       .arg(degrees == 0 ? QStringLiteral("\u00b0C") : QStringLiteral("\u00b0F"));
    if (averageSeconds > 0)
        text += QStringLiteral(" (%1 s average)").arg(averageSeconds);
    return text;
}

FocusFit FitFocusPoints(const QList<FocusPoint>& all, int sensor) {
    FocusFit fit;
    QList<FocusPoint> points;
    for (const FocusPoint& p : all) {
        if (sensor != 0 && p.Sensor != sensor)
            continue;
        if (p.BeforeCalibration)
            ++fit.before;
        else
            points.append(p);
    }
    fit.count = static_cast<int>(points.size());
    if (points.isEmpty())
        return fit;
    double meanT = 0;
    double meanP = 0;
    double coldest = points.front().Celsius;
    double warmest = coldest;
    for (const FocusPoint& p : points) {
        meanT += p.Celsius;
        meanP += p.Position;
        coldest = std::min(coldest, p.Celsius);
        warmest = std::max(warmest, p.Celsius);
    }
    meanT /= fit.count;
    meanP /= fit.count;
    fit.spread = warmest - coldest;
    double stt = 0;
    double stp = 0;
    double spp = 0;
    for (const FocusPoint& p : points) {
        const double dt = p.Celsius - meanT;
        const double dp = p.Position - meanP;
        stt += dt * dt;
        stp += dt * dp;
        spp += dp * dp;
    }
    if (stt <= 0)
        return fit;
    fit.slope = stp / stt;
    // Every point at the same position: the flat line explains them all.
    fit.rSquared = spp > 0 ? (stp * stp) / (stt * spp) : 1.0;
    fit.usable = fit.count >= kFitMinPoints && fit.spread >= kFitMinSpreadCelsius;
    return fit;
}

QString FitText(const FocusFit& fit, const QLocale& locale, const QString& sensorName) {
    QString points =
        fit.count == 1 ? QStringLiteral("1 point") : QStringLiteral("%1 points").arg(fit.count);
    if (!sensorName.isEmpty())
        points += QStringLiteral(" of ") + sensorName;
    const QString leftOut =
        fit.before == 0
            ? QString()
            : QStringLiteral(" (%1 from before a calibration left out)").arg(fit.before);
    const QString spread = FormatTenths(fit.spread, locale) + QStringLiteral(" \u00b0C");
    if (!fit.usable)
        return QStringLiteral("%1 over %2: at least %3 over %4 \u00b0C are needed")
                   .arg(points, spread)
                   .arg(kFitMinPoints)
                   .arg(FormatTenths(kFitMinSpreadCelsius, locale)) +
               leftOut;
    return QStringLiteral("%1 steps/\u00b0C from %2 over %3, r\u00b2 %4")
               .arg(FormatTenths(fit.slope, locale), points, spread,
                    locale.toString(fit.rSquared, 'f', 3)) +
           leftOut;
}

void ShiftFocusPoints(QList<FocusPoint>& points, qint64 shift) {
    for (FocusPoint& p : points)
        p.Position = static_cast<int>(p.Position + shift);
}

void MarkFocusPointsBefore(QList<FocusPoint>& points) {
    for (FocusPoint& p : points)
        p.BeforeCalibration = true;
}

std::optional<FocusPoint> MarkFocusPoint(const TempCompensation& compensation, int position,
                                         qint64 nowMs, const QDateTime& when) {
    const std::optional<double> celsius = compensation.AverageCelsius(nowMs);
    if (!celsius)
        return std::nullopt;
    QDateTime time = when.toUTC();
    time.setTime(QTime(time.time().hour(), time.time().minute(), time.time().second()));
    return FocusPoint{*celsius, position, time, compensation.parameters().sensor};
}

} // namespace tarnivel
