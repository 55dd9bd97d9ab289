#include "core/device/tempcompensation.h"

#include "core/link/focusercommands.h"
#include "core/motion/positionunits.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarnivel {

namespace {

constexpr qint64 kMsPerSecond = 1000;

} // namespace

TempCompParameters TempCompParameters::From(const FocuserSettings& settings) {
    return {settings.TempCompCoefficient, settings.TempCompSensor, settings.TempCompDeadband,
            settings.TempCompAverage, settings.TempCompMaxTravel};
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

bool TempCompensation::SwitchOn(int position, qint64 nowMs) {
    if (!Available()) {
        Off(QStringLiteral("Temp comp unavailable: no coefficient"));
        return false;
    }
    on_ = true;
    travelled_ = 0;
    statusText_.clear();
    TakeReference(position, nowMs);
    return true;
}

void TempCompensation::SwitchOff() {
    on_ = false;
    statusText_.clear();
}

void TempCompensation::Stop() {
    if (on_)
        Off(QStringLiteral("Temp comp off: stopped"));
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
    statusText_ = why;
    return {TempCompAction::SwitchedOff, 0, statusText_};
}

TempCompDecision TempCompensation::Decide(const TempCompConditions& conditions, int position,
                                          const StepLimits& limits, qint64 nowMs) {
    if (!on_)
        return {};
    if (!conditions.connected)
        return Wait(QStringLiteral("not connected"));
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
        return Wait(QStringLiteral("no reading from sensor %1").arg(parameters_.sensor));
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
    if (travelled_ + std::abs(steps) > parameters_.maxTravel)
        return Off(QStringLiteral("Temp comp off: %1 steps travelled, the cap is %2")
                       .arg(travelled_)
                       .arg(parameters_.maxTravel));
    travelled_ += std::abs(steps);
    statusText_.clear();
    lastMoveText_ = MoveText(steps, *celsius);
    return {TempCompAction::Move, target, lastMoveText_};
}

QString TempCompensation::MoveText(int steps, double celsius, int degrees, const QLocale& locale) {
    const double shown = degrees == 0 ? celsius : FocuserCommands::CelsiusToFahrenheit(celsius);
    return QStringLiteral("Temp comp: %1%2 steps at %3 %4")
        .arg(steps >= 0 ? QStringLiteral("+") : QStringLiteral("-"))
        .arg(std::abs(steps))
        .arg(FormatTenths(shown, locale))
        .arg(degrees == 0 ? QStringLiteral("\u00b0C") : QStringLiteral("\u00b0F"));
}

FocusFit FitFocusPoints(const QList<FocusPoint>& points) {
    FocusFit fit;
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

QString FitText(const FocusFit& fit, const QLocale& locale) {
    const QString points =
        fit.count == 1 ? QStringLiteral("1 point") : QStringLiteral("%1 points").arg(fit.count);
    const QString spread = FormatTenths(fit.spread, locale) + QStringLiteral(" \u00b0C");
    if (!fit.usable)
        return QStringLiteral("%1 over %2: at least %3 over %4 \u00b0C are needed")
            .arg(points, spread)
            .arg(kFitMinPoints)
            .arg(FormatTenths(kFitMinSpreadCelsius, locale));
    return QStringLiteral("%1 steps/\u00b0C from %2 over %3, r\u00b2 %4")
        .arg(FormatTenths(fit.slope, locale), points, spread,
             locale.toString(fit.rSquared, 'f', 3));
}

std::optional<FocusPoint> MarkFocusPoint(const TempCompensation& compensation, int position,
                                         qint64 nowMs, const QDateTime& when) {
    const std::optional<double> celsius = compensation.AverageCelsius(nowMs);
    if (!celsius)
        return std::nullopt;
    QDateTime time = when.toUTC();
    time.setTime(QTime(time.time().hour(), time.time().minute(), time.time().second()));
    return FocusPoint{*celsius, position, time};
}

} // namespace tarnivel
