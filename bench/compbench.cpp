#include "compbench.h"

#include "benchutil.h"
#include "core/device/focuserdevice.h"
#include "core/device/tempcompensation.h"
#include "core/link/focusercommands.h"
#include "core/seams/soundplayer.h"
#include "core/settings/programfolder.h"
#include "core/units/positionunits.h"
#include "platform/qt/qtplatform.h"
#include "platform/qt/qtscheduler.h"
#include "platform/qt/qtserialport.h"
#include "sim/simtoolprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <numbers>
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
// A correction's steps travelled per step of focus it corrects, overshoot included.
constexpr double kTravelPerStepTarget = 3.0;

double TrueCelsius(qint64 ms, double direction) {
    return kStartCelsius + direction * kCoolingCelsius * static_cast<double>(ms) / kNightMs;
}

// The sensor's reading as the controller sends it: sixteenths of a degree, one count of
// noise either way, then the link's own decoding (which truncates to tenths).
double SensorReading(double celsius, int noiseCounts) {
    const int sixteenths = RoundToInt(celsius * kSixteenthsPerDegree) + noiseCounts;
    const int first = sixteenths % 256;
    const int second = sixteenths / 256;
    return FocuserCommands::DecodeTemperature(first * 256 + second);
}

// direction -1: the tube cools (focus moves up, against the default downward approach);
// +1: it warms.
QJsonObject night(const TempCompParameters& rule, double direction, quint32 seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-1, 1);
    TempCompensation comp;
    comp.setParameters(rule);
    const TempCompConditions ready{true, true, false, false, false, true};
    int position = kStartPosition;
    int moves = 0;
    qint64 corrected = 0;
    QString switchedOff;
    Series error;
    for (qint64 ms = 0; ms <= kNightMs; ms += kErrorSampleMs) {
        const double celsius = TrueCelsius(ms, direction);
        if (ms % kStatusPeriodMs == 0) {
            comp.AddReading(ms, {SensorReading(celsius, noise(random)), {}, {}});
            if (ms == 0 && !comp.SwitchOn(position, ms))
                return failure(QStringLiteral("compensation would not switch on"));
            const TempCompDecision d = comp.Decide(ready, position, {}, ms);
            if (d.action == TempCompAction::Move) {
                corrected += std::abs(d.target - position);
                position = d.target;
                ++moves;
            }
            // Switched off (the cap): the focuser stays where it is, and the error grows.
            if (!comp.On() && switchedOff.isEmpty())
                switchedOff =
                    QStringLiteral("%1 after %2 min").arg(comp.StatusText()).arg(ms / 60000);
        }
        const double ideal = kStartPosition + kCoefficient * (celsius - kStartCelsius);
        error.add(std::fabs(position - ideal));
    }
    const double countSteps = std::fabs(kCoefficient) / kSixteenthsPerDegree;
    const double errorTarget = rule.deadband + countSteps;
    const int moveTarget =
        static_cast<int>(kCoolingCelsius * std::fabs(kCoefficient) / rule.deadband) + 10;
    const double perStep =
        corrected > 0 ? static_cast<double>(comp.Travelled()) / static_cast<double>(corrected) : 0;
    QJsonObject row;
    row.insert(QStringLiteral("direction"),
               direction < 0 ? QStringLiteral("cooling") : QStringLiteral("warming"));
    row.insert(QStringLiteral("travelPerStep"), perStep);
    row.insert(QStringLiteral("switchedOff"), switchedOff);
    row.insert(QStringLiteral("averageSeconds"), rule.averageSeconds);
    row.insert(QStringLiteral("deadband"), rule.deadband);
    row.insert(QStringLiteral("p50Steps"), error.percentile(0.5));
    row.insert(QStringLiteral("p95Steps"), error.percentile(0.95));
    row.insert(QStringLiteral("maxSteps"), error.max());
    row.insert(QStringLiteral("moves"), moves);
    row.insert(QStringLiteral("travelled"), comp.Travelled());
    row.insert(QStringLiteral("errorTargetSteps"), errorTarget);
    row.insert(QStringLiteral("moveTarget"), moveTarget);
    row.insert(QStringLiteral("met"), switchedOff.isEmpty() &&
                                          error.percentile(0.95) <= errorTarget &&
                                          moves <= moveTarget && perStep <= kTravelPerStepTarget);
    return row;
}

struct QuietSound final : SoundPlayer {
    void play(const QString&, bool) override {}
    void stop() override {}
};

constexpr double kRealStartCelsius = 15.0;
constexpr int kSampleMs = 1000;

// The served device on the real seams, switched on at once (while it still connects), its
// position sampled each second against the tool's true temperature. The tool's drift is a sine
// of amplitude -3 °C whose quarter period is the night, so its sensor cools monotonically.
QJsonObject realTimeNight(const QString& simPath, int minutes) {
    QTemporaryDir dir;
    if (!dir.isValid())
        return failure(QStringLiteral("no temporary folder"));
    const qint64 nightMs = static_cast<qint64>(minutes) * 60 * 1000;
    const qint64 periodMs = 4 * nightMs;
    sim::SimToolProcess tool(simPath);
    if (!tool.start(comSimArgs(
            dir.path(),
            {QStringLiteral("--lower"), QStringLiteral("-200000"), QStringLiteral("--upper"),
             QStringLiteral("200000"), QStringLiteral("--start"), QString::number(kStartPosition),
             QStringLiteral("--temp1"), QString::number(kRealStartCelsius),
             QStringLiteral("--drift"), QString::number(-kCoolingCelsius),
             QStringLiteral("--drift-period"), QString::number(periodMs / 1000)})))
        return failure(tool.error());
    QElapsedTimer toolClock;
    toolClock.start();
    const auto trueCelsius = [&] {
        const double phase = static_cast<double>(toolClock.elapsed()) / periodMs;
        return kRealStartCelsius - kCoolingCelsius * std::sin(2.0 * std::numbers::pi * phase);
    };

    const ProgramFolder folder(dir.path(), QStringLiteral("tarnivel"));
    QtSerialPort port(folder);
    QtPlatform platform;
    QtScheduler scheduler;
    QuietSound sound;
    FocuserDevice device(port, platform, sound, &scheduler);
    FocuserSettings& s = device.settings();
    s.COMport = 1;
    s.TempCompCoefficient = kCoefficient;
    const TempCompParameters rule = TempCompParameters::From(s);
    if (!device.Connect().ok() || !device.SetTempComp(true).ok())
        return failure(QStringLiteral("the device would not connect and switch on"));

    std::optional<double> trueReference;
    int referencePosition = 0;
    Series error;
    Series seconds;
    QElapsedTimer moveClock;
    bool moving = false;
    QElapsedTimer night;
    night.start();
    QTimer sampler;
    sampler.setInterval(50);
    qint64 nextSampleMs = 0;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const DeviceState& state = device.State();
        if (state.gotoRunning != moving) {
            moving = state.gotoRunning;
            if (moving)
                moveClock.start();
            else
                seconds.add(static_cast<double>(moveClock.elapsed()) / 1000.0);
        }
        TempCompensation& comp = device.tempComp();
        if (!trueReference && comp.ReferenceCelsius()) {
            trueReference = trueCelsius();
            referencePosition = comp.ReferencePosition();
        }
        if (trueReference && night.elapsed() >= nextSampleMs) {
            nextSampleMs += kSampleMs;
            const double ideal =
                referencePosition + kCoefficient * (trueCelsius() - *trueReference);
            error.add(std::fabs(SignedSteps(state.position) - ideal));
        }
        if (night.elapsed() >= nightMs)
            QCoreApplication::quit();
    });
    sampler.start();
    QCoreApplication::exec();
    sampler.stop();
    const DeviceState state = device.State();
    const QString status = device.tempComp().StatusText();
    const bool stillOn = device.tempComp().On();
    const int travelled = device.tempComp().Travelled();
    const qint64 corrected =
        std::abs(static_cast<qint64>(SignedSteps(state.position)) - referencePosition);
    device.Disconnect();
    tool.stop();
    if (error.empty())
        return failure(QStringLiteral("compensation never took its reference"));
    const double perStep =
        corrected > 0 ? static_cast<double>(travelled) / static_cast<double>(corrected) : 0;
    const double errorTarget = rule.deadband + std::fabs(kCoefficient) / kSixteenthsPerDegree;
    QJsonObject row;
    row.insert(QStringLiteral("minutes"), static_cast<double>(night.elapsed()) / 60000.0);
    row.insert(QStringLiteral("p50Steps"), error.percentile(0.5));
    row.insert(QStringLiteral("p95Steps"), error.percentile(0.95));
    row.insert(QStringLiteral("maxSteps"), error.max());
    row.insert(QStringLiteral("moves"), state.tempCompMoves);
    row.insert(QStringLiteral("travelled"), travelled);
    row.insert(QStringLiteral("travelPerStep"), perStep);
    row.insert(QStringLiteral("secondsPerCorrection"),
               seconds.empty() ? 0.0 : seconds.percentile(0.5));
    row.insert(QStringLiteral("errorTargetSteps"), errorTarget);
    row.insert(QStringLiteral("overshoot"), rule.overshoot);
    row.insert(QStringLiteral("switchedOff"), stillOn ? QString() : status);
    row.insert(QStringLiteral("met"),
               stillOn && error.percentile(0.95) <= errorTarget && perStep <= kTravelPerStepTarget);
    return row;
}

} // namespace

QJsonObject measureCompensation(const QString& simPath, int nightMinutes) {
    QJsonArray rows;
    // The default settings against the targets, on a cooling night (corrections against the
    // approach side) and a warming one (toward it); without averaging for comparison only, to
    // show what the averaging is for.
    FocuserSettings settings;
    settings.TempCompCoefficient = kCoefficient;
    for (const double direction : {-1.0, 1.0}) {
        QJsonObject row = night(TempCompParameters::From(settings), direction, 20240305);
        row.insert(QStringLiteral("comparison"), false);
        rows.append(row);
    }
    settings.TempCompAverage = 0;
    QJsonObject row = night(TempCompParameters::From(settings), -1.0, 20240305);
    row.insert(QStringLiteral("comparison"), true);
    rows.append(row);
    QJsonObject result;
    result.insert(QStringLiteral("statusPeriodMs"), kStatusPeriodMs);
    result.insert(QStringLiteral("rows"), rows);
    result.insert(QStringLiteral("realTime"), realTimeNight(simPath, nightMinutes));
    return result;
}

} // namespace tarnivel::bench
