#include "compbench.h"

#include "benchutil.h"
#include "core/device/tempcompensation.h"
#include "core/link/focusercommands.h"
#include "core/motion/positionunits.h"

#include <QJsonArray>
#include <cmath>
#include <cstdlib>
#include <random>

namespace tarnivel::bench {

namespace {

constexpr double kCoefficient = -80;
constexpr double kStartCelsius = 15.0;
constexpr double kCoolingCelsius = 3.0;
constexpr qint64 kNightMs = 2LL * 60 * 60 * 1000;
constexpr qint64 kStatusPeriodMs = 5000;
constexpr qint64 kErrorSampleMs = 1000;
constexpr int kSixteenthsPerDegree = 16;
constexpr int kStartPosition = 1000;

double TrueCelsius(qint64 ms) {
    return kStartCelsius - kCoolingCelsius * static_cast<double>(ms) / kNightMs;
}

// The sensor's reading as the controller sends it: sixteenths of a degree, one count of
// noise either way, then the link's own decoding (which truncates to tenths).
double SensorReading(double celsius, int noiseCounts) {
    const int sixteenths = RoundToInt(celsius * kSixteenthsPerDegree) + noiseCounts;
    const int first = sixteenths % 256;
    const int second = sixteenths / 256;
    return FocuserCommands::DecodeTemperature(first * 256 + second);
}

QJsonObject night(const TempCompParameters& rule, quint32 seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-1, 1);
    TempCompensation comp;
    comp.setParameters(rule);
    const TempCompConditions ready{true, true, false, false, false};
    int position = kStartPosition;
    int moves = 0;
    Series error;
    for (qint64 ms = 0; ms <= kNightMs; ms += kErrorSampleMs) {
        if (ms % kStatusPeriodMs == 0) {
            comp.AddReading(ms, {SensorReading(TrueCelsius(ms), noise(random)), {}, {}});
            if (ms == 0 && !comp.SwitchOn(position, ms))
                return failure(QStringLiteral("compensation would not switch on"));
            const TempCompDecision d = comp.Decide(ready, position, {}, ms);
            if (d.action == TempCompAction::Move) {
                position = d.target;
                ++moves;
            }
            if (!comp.On())
                return failure(comp.StatusText());
        }
        const double ideal = kStartPosition + kCoefficient * (TrueCelsius(ms) - kStartCelsius);
        error.add(std::fabs(position - ideal));
    }
    const double countSteps = std::fabs(kCoefficient) / kSixteenthsPerDegree;
    const double errorTarget = rule.deadband + countSteps;
    const int moveTarget =
        static_cast<int>(kCoolingCelsius * std::fabs(kCoefficient) / rule.deadband) + 10;
    QJsonObject row;
    row.insert(QStringLiteral("averageSeconds"), rule.averageSeconds);
    row.insert(QStringLiteral("deadband"), rule.deadband);
    row.insert(QStringLiteral("p50Steps"), error.percentile(0.5));
    row.insert(QStringLiteral("p95Steps"), error.percentile(0.95));
    row.insert(QStringLiteral("maxSteps"), error.max());
    row.insert(QStringLiteral("moves"), moves);
    row.insert(QStringLiteral("travelled"), comp.Travelled());
    row.insert(QStringLiteral("errorTargetSteps"), errorTarget);
    row.insert(QStringLiteral("moveTarget"), moveTarget);
    row.insert(QStringLiteral("met"), error.percentile(0.95) <= errorTarget && moves <= moveTarget);
    return row;
}

} // namespace

QJsonObject measureCompensation() {
    QJsonArray rows;
    // The default settings against the targets; without averaging for comparison only, to
    // show what the averaging is for.
    for (const int averageSeconds : {TempCompParameters().averageSeconds, 0}) {
        TempCompParameters rule;
        rule.coefficient = kCoefficient;
        rule.averageSeconds = averageSeconds;
        QJsonObject row = night(rule, 20240305);
        row.insert(QStringLiteral("comparison"), averageSeconds == 0);
        rows.append(row);
    }
    QJsonObject result;
    result.insert(QStringLiteral("statusPeriodMs"), kStatusPeriodMs);
    result.insert(QStringLiteral("rows"), rows);
    return result;
}

} // namespace tarnivel::bench
