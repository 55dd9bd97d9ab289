#include "core/motion/gotocontroller.h"

#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/motion/motionstate.h"
#include "core/seams/platform.h"
#include "core/seams/soundplayer.h"
#include "core/settings/focusersettings.h"
#include "core/units/positionunits.h"

#include <QLoggingCategory>
#include <algorithm>

Q_LOGGING_CATEGORY(lcGoto, "tarnivel.motion", QtInfoMsg)

namespace tarnivel {

namespace {

const QString kBegSlew = QStringLiteral("BegSlew");
const QString kEndSlew = QStringLiteral("EndSlew");

constexpr int kWaitPassTicks = 20; // a pass of the blocking wait lasts 20 / Frequency slices
constexpr int kSettleSlices = 5;

// Stages of the staged goto.
constexpr int kStageIdle = 0;
constexpr int kStageStart = 1;
constexpr int kStageFirstMoveRunning = 2;
constexpr int kStageFinalMove = 3;
constexpr int kStageFinalMoveRunning = 4;
constexpr int kStageFinish = 5;

// Target plus or minus the overshoot, back on the 24-bit counter. The sum is taken in 64 bits
// because an absurd overshoot from an edited settings file must not overflow.
int WrapSum(qint64 signedSteps) {
    return static_cast<int>(((signedSteps % kRawSteps) + kRawSteps) % kRawSteps);
}

} // namespace

GotoController::GotoController(FocuserCommands& commands, const FocuserSettings& settings,
                               MotionState& motion, SoundPlayer& sound, Platform& platform)
    : commands_(commands), settings_(settings), motion_(motion), sound_(sound),
      platform_(platform) {}

void GotoController::setDisplayPosition(std::function<Sequence<bool>(Pacer&)> displayPosition) {
    displayPosition_ = std::move(displayPosition);
}

void GotoController::setGotoFinished(std::function<void(int, int)> gotoFinished) {
    gotoFinished_ = std::move(gotoFinished);
}

void GotoController::setMotionGate(std::function<bool()> open) {
    motionGate_ = std::move(open);
}

void GotoController::setTravelBounds(std::function<TravelBounds()> bounds) {
    travelBounds_ = std::move(bounds);
}

bool GotoController::MotionGateOpen() const {
    return !motionGate_ || motionGate_();
}

Sequence<bool> GotoController::DisplayPosition(Pacer& pacer) {
    if (displayPosition_)
        co_return co_await displayPosition_(pacer);
    // Without a readout the position is still kept current for the direction decisions.
    co_return co_await ReadPosition(pacer);
}

Sequence<bool> GotoController::ReadPosition(Pacer& pacer) {
    // A failed read keeps the last good position: -1 would read as a position just below
    // zero and send the focuser the wrong way.
    const int p = co_await commands_.GetPosition(pacer);
    if (p != -1)
        motion_.CurrentPosition = p;
    co_return p != -1;
}

bool GotoController::EndIfStopped() {
    if (motion_.GotoMode != kGotoModeGoto || !commands_.link().StoppedSince(gotoStopCount_))
        return false;
    qCDebug(lcGoto) << "goto to" << motion_.GotoTarget << "ended by a stop";
    ClearGoto();
    motion_.MotionDirection = 0;
    motion_.GotoDone = true;
    return true;
}

std::optional<int> GotoController::OvershootPoint(int current, int target,
                                                  std::optional<int> overshoot) const {
    const int c = SignedSteps(current);
    const int t = SignedSteps(target);
    // The overshoot point is needed only when the focuser would otherwise arrive from the
    // wrong side; standing on the target counts as the wrong side.
    const qint64 steps = overshoot.value_or(settings_.Overshoot);
    const bool upward = settings_.Approach == 0; // the final move runs upward
    if (steps <= 0 || (upward ? c < t : c > t))
        return std::nullopt;
    qint64 point = upward ? static_cast<qint64>(t) - steps : static_cast<qint64>(t) + steps;
    // A leg sent past an end the program knows would run the focuser into its stop.
    const TravelBounds bounds = travelBounds_ ? travelBounds_() : TravelBounds{};
    if (bounds.lower)
        point = std::max<qint64>(point, *bounds.lower);
    if (bounds.upper)
        point = std::min<qint64>(point, *bounds.upper);
    // Clamped onto the target or past it (a target beyond the end): no room to overshoot.
    if (upward ? point >= t : point <= t)
        return std::nullopt;
    return WrapSum(point);
}

bool GotoController::StartGoto(int target, quint64 stopCount, std::optional<int> overshoot) {
    if (commands_.link().StoppedSince(stopCount)) {
        // The controls were taken away for this goto; GotoDone gives them back.
        motion_.MotionDirection = 0;
        motion_.GotoDone = true;
        return false;
    }
    gotoStopCount_ = stopCount;
    stageRun_ = false;
    motion_.GotoDone = false;
    const std::optional<int> point = OvershootPoint(motion_.CurrentPosition, target, overshoot);
    const bool twoStages = point.has_value();
    const int intermediate = point.value_or(0);
    if (settings_.SlewingSound)
        PlaySlewSound(kBegSlew, false, true);
    motion_.GotoMode = kGotoModeGoto;
    motion_.GotoIntermediate = intermediate;
    motion_.GotoTarget = target;
    motion_.GotoStage = twoStages ? kStageStart : kStageFinalMove;
    qCDebug(lcGoto) << "goto" << target << "from" << motion_.CurrentPosition << "via"
                    << intermediate << "stage" << motion_.GotoStage;
    return true;
}

bool GotoController::MoveInFlight() const {
    return motion_.GotoStage == kStageFirstMoveRunning ||
           motion_.GotoStage == kStageFinalMoveRunning;
}

void GotoController::RunStage() {
    StraightPacer straight;
    RunStage(straight).RunToEnd();
}

Sequence<bool> GotoController::RunStage(Pacer& pacer) {
    if (motion_.GotoMode != kGotoModeGoto || EndIfStopped())
        co_return false;
    stageRun_ = true;
    switch (motion_.GotoStage) {
    case kStageStart: {
        co_await ReadPosition(pacer);
        const int finalDirection = DirectionTo(motion_.GotoIntermediate, motion_.GotoTarget);
        const int outDirection = DirectionTo(motion_.CurrentPosition, motion_.GotoIntermediate);
        if (finalDirection == outDirection) {
            // The focuser already lies beyond the overshoot point: the final move alone
            // arrives from the approach side.
            motion_.GotoStage = kStageFinalMove;
            co_return true;
        }
        // STOP may have been handled inside the position read.
        if (EndIfStopped() || !MotionGateOpen())
            co_return false;
        motion_.MotionDirection = outDirection;
        const int sent = co_await commands_.ApproachPosition(pacer, motion_.GotoIntermediate);
        if (sent != 0 && !MotionGateOpen())
            co_return false; // given up for a request that waits: tried again at the next stage
        motion_.GotoStage = kStageFirstMoveRunning;
        co_return true;
    }
    case kStageFirstMoveRunning:
    case kStageFinalMoveRunning: {
        qint32 done = 0;
        co_await commands_.IsSlewDone(pacer, done);
        co_await DisplayPosition(pacer);
        if (done != 0)
            motion_.GotoStage += 1;
        co_return true;
    }
    case kStageFinalMove: {
        co_await ReadPosition(pacer);
        if (EndIfStopped() || !MotionGateOpen())
            co_return false;
        motion_.MotionDirection = DirectionTo(motion_.CurrentPosition, motion_.GotoTarget);
        const int sent = co_await commands_.ApproachPosition(pacer, motion_.GotoTarget);
        if (sent != 0 && !MotionGateOpen())
            co_return false;
        motion_.GotoStage = kStageFinalMoveRunning;
        co_return true;
    }
    case kStageFinish:
        PlayEndSound();
        co_await DisplayPosition(pacer);
        if (gotoFinished_)
            gotoFinished_(motion_.CurrentPosition, motion_.GotoTarget);
        ClearGoto();
        motion_.GotoDone = true;
        co_return true;
    default:
        co_return false;
    }
}

void GotoController::ClearGoto() {
    motion_.GotoMode = GotoKind::None;
    motion_.GotoStage = kStageIdle;
    motion_.GotoIntermediate = 0;
    motion_.GotoTarget = 0;
}

bool GotoController::GotoAndWait(int target, quint64 stopCount) {
    InlinePacer pacer(platform_);
    return GotoAndWaitPaced(target, stopCount, pacer).RunToEnd();
}

Sequence<bool> GotoController::GotoAndWaitPaced(int target, quint64 stopCount, Pacer& pacer) {
    const bool wasCalibrating = motion_.CalibrationRunning;
    const auto interrupted = [&] {
        return commands_.link().StoppedSince(stopCount) ||
               (wasCalibrating && !motion_.CalibrationRunning);
    };
    // A turn of the front end's loop between any two commands and right before the move:
    // a cancel or an abort read there comes before the move, not after it.
    co_await DisplayPosition(pacer);
    co_await PumpEvents(pacer);
    motion_.GotoDone = false;
    if (settings_.SlewingSound)
        PlaySlewSound(kBegSlew, false, true);
    co_await DisplayPosition(pacer);
    co_await PumpEvents(pacer);
    if (!interrupted()) {
        motion_.MotionDirection = DirectionTo(motion_.CurrentPosition, target);
        commands_.GotoPosition(target);
    }

    const int frequency = PositionUpdateFrequency(settings_.Frequency);
    // At least one slice: a pass that never waits gives a deferring pacer's front end no
    // turn, and an abort would never be read.
    const int slices = std::max(1, RoundToInt(static_cast<double>(kWaitPassTicks) / frequency));

    qint32 done = 0;
    while (done == 0) {
        co_await DisplayPosition(pacer);
        co_await PumpEvents(pacer);
        if (interrupted()) {
            motion_.JogRate = 0;
            motion_.MotionDirection = 0;
            if (!wasCalibrating) {
                qCDebug(lcGoto) << "goto to" << target << "stopped";
                co_return false;
            }
            // Cancelled: leave the controller without the half-made calibration's limits.
            commands_.Stop();
            co_await PumpEvents(pacer);
            commands_.SetAutoStop(1);
            commands_.SetLimitMax(0, 0);
            commands_.SetLimitMin(0, 0);
            commands_.SetRealLimitMax(0);
            commands_.SetRealLimitMin(0);
            qCDebug(lcGoto) << "goto to" << target << "cancelled with the calibration";
            co_return false;
        }
        // A failed query leaves done at 0, so the wait simply asks again.
        commands_.IsSlewDone(done);
        for (int i = 0; i < slices; ++i)
            co_await PumpThenPause(pacer, kGotoWaitSliceMs);
    }
    for (int i = 0; i < kSettleSlices; ++i)
        co_await PumpThenPause(pacer, kGotoSettleSliceMs);
    if (!wasCalibrating)
        PlayEndSound();
    co_await DisplayPosition(pacer);
    motion_.JogRate = 0;
    motion_.GotoDone = false;
    co_return true;
}

void GotoController::PlaySlewSound(const QString& name, bool wait, bool repeat) {
    // Every sound plays asynchronously; nothing in the console waits for one to end.
    Q_UNUSED(wait);
    if (name.compare(kBegSlew, Qt::CaseInsensitive) == 0) {
        sound_.play(kBegSlew, repeat);
    } else if (name.compare(kEndSlew, Qt::CaseInsensitive) == 0) {
        sound_.play(kEndSlew, repeat);
    } else {
        // The empty name, like any name without a sound, only silences.
        sound_.stop();
    }
}

void GotoController::PlayEndSound() {
    PlaySlewSound(settings_.CompletionSound ? kEndSlew : QString(), false, false);
}

} // namespace tarnivel
