// The served cycle: the tick, the lost port and the silent controller, and the chores (the
// connect's reads, the status cycle, the limits switch) that take turns with the verbs.

#include "core/device/focuserdevice.h"
#include "core/device/focuserdevice_texts.h"

#include "core/seams/platform.h"
#include "core/seams/serialport.h"
#include "core/seams/soundplayer.h"
#include "core/units/positionunits.h"

#include <algorithm>
#include <utility>

namespace tarnivel {

using namespace devicetext;

int FocuserDevice::PollMs() const {
    return kTickBaseMs / PositionUpdateFrequency(settings_.Frequency);
}

void FocuserDevice::ScheduleTick(int ms) {
    if (tickTimer_ != -1)
        scheduler_->Cancel(tickTimer_);
    tickTimer_ = scheduler_->After(ms, [this] {
        tickTimer_ = -1;
        Tick();
    });
}

bool FocuserDevice::Reachable() {
    if (!link_.port().connectionLost())
        return true;
    // Every command would now wait for its time-out: nothing is sent until the client
    // connects again.
    NoteLost();
    return false;
}

bool FocuserDevice::NoteLost() {
    if (!link_.LinkOpen() || !link_.port().connectionLost() || lostReported_)
        return false;
    lostReported_ = true;
    // Both the served connect and the window's mark the device connected before anything
    // can notice a lost port.
    state_.link = state_.ready() ? LinkState::LostReady : LinkState::LostConnecting;
    // No read can tell where a stop left the focuser any more.
    state_.stopping = false;
    TempCompLost();
    EndMotionAsStopped();
    Tell(kLostText, true);
    Notify();
    return true;
}

void FocuserDevice::NotePositionRead(int p) {
    if (p == -1) {
        // An unanswered read says nothing of where a stop left the focuser: it counts as moving
        // until a read is answered, or the controller is given up as silent.
        if (silentSinceMs_ < 0)
            silentSinceMs_ = link_.platform().nowMs();
        if (!state_.silent() && SilentTooLong()) {
            state_.answers = AnswerState::Silent;
            state_.stopping = false;
            Notify();
        }
        if (state_.answering()) {
            state_.answers = AnswerState::Unanswered;
            Tell(kSilentText, true);
            Notify();
        }
        return;
    }
    // Published with the position read, never before it.
    const bool stopped = std::exchange(state_.stopping, false);
    motion_.CurrentPosition = p;
    silentSinceMs_ = -1;
    if (!state_.answering()) {
        state_.answers = AnswerState::Answering;
        Notify();
    }
    UpdateClientPosition();
    if (stopped)
        Notify();
}

void FocuserDevice::UpdateClientPosition() {
    const quint32 client = scale_.ToClient(motion_.CurrentPosition);
    const bool changed = state_.position != motion_.CurrentPosition ||
                         state_.clientPosition != client || state_.clientMax != scale_.Max();
    state_.position = motion_.CurrentPosition;
    state_.clientPosition = client;
    state_.clientMax = scale_.Max();
    if (changed)
        Notify();
}

void FocuserDevice::Tick() {
    if (!state_.connected())
        return;
    // During a calibration its own sequence reads the position.
    if (calibrationRun_.Valid() || !Reachable()) {
        ScheduleTick(PollMs());
        return;
    }
    // One command a turn: a request that came meanwhile (an abort) is read before the next.
    if (fanRequest_ >= 0) {
        SendFanRequest();
        ScheduleTick(0);
        return;
    }
    // A chore held for a goto goes on from the first tick after the goto's end, not at once:
    // a client that sends its next move as soon as one has ended finds the line free.
    const bool choreFirst = motion_.GotoMode == kGotoModeGoto && ChoreGoesFirst();
    if (motion_.GotoMode != kGotoModeGoto || choreFirst)
        chorePacer_->Release();
    if (motion_.GotoMode == kGotoModeGoto && SilentTooLong()) {
        GiveUpSilentMove();
    } else if (motion_.GotoMode == kGotoModeGoto && positionDue_) {
        positionDue_ = false;
        ReadPosition();
    } else if (choreFirst) {
        // The goto begins, or polls its move again, once the chore has ended.
    } else if (motion_.GotoMode == kGotoModeGoto) {
        deferRead_ = true;
        gotos_.RunStage();
        deferRead_ = false;
        if (motion_.GotoDone) {
            positionDue_ = false;
            ReadPosition();
            FinishGoto();
            Notify();
        }
    } else if (!chore_.Valid() || state_.stopping) {
        ReadPosition();
    }
    const qint64 now = link_.platform().nowMs();
    const bool statusTime =
        now - lastStatusMs_ >= kStatusBaseMs / PositionUpdateFrequency(settings_.Frequency);
    if (!chore_.Valid() && calibrationDue_) {
        const bool full = *std::exchange(calibrationDue_, std::nullopt);
        if (calibrationPending_)
            StartChore(CalibrateSteps(*chorePacer_, full));
    } else if (!chore_.Valid() && state_.ready() && (scaleDue_ || limitsDue_)) {
        if (limitsDue_) {
            limitsDue_ = false;
            StartChore(LimitsSteps(*chorePacer_, limitsWanted_));
        } else {
            scaleDue_ = false;
            StartChore(ReadControllerSteps(*chorePacer_));
        }
    } else if (!chore_.Valid() && state_.ready() && (statusTime || statusDue_)) {
        lastStatusMs_ = now;
        statusDue_ = false;
        StartChore(StatusSteps(*chorePacer_), true);
    }
    // A goto's next step follows the last answer after only a turn of the loop, where a
    // request that came meanwhile (an abort) is read first.
    // While a chore goes first the goto waits for its end, not in a loop of empty turns.
    if (state_.connected() && tickTimer_ == -1)
        ScheduleTick(motion_.GotoMode == kGotoModeGoto && !choreFirst ? 0 : PollMs());
}

bool FocuserDevice::SilentTooLong() const {
    return silentSinceMs_ >= 0 && link_.platform().nowMs() - silentSinceMs_ >= kGiveUpMs;
}

void FocuserDevice::GiveUpSilentMove() {
    state_.answers = AnswerState::Silent;
    commands_.Stop();
    EndMotionAsStopped();
    state_.lastGoto->stopped = false;
    state_.lastGoto->failure = kGivenUpText;
    Tell(kGivenUpText, true);
    Notify();
}

Sequence<bool> FocuserDevice::AfterATurn(Sequence<bool> chore) {
    // A chore is asked for inside a tick or a handler that may just have sent a command: the
    // loop gets its turn before the chore's first one.
    co_await PumpEvents(*chorePacer_);
    co_return co_await chore;
}

int FocuserDevice::StatusHeldPeriods() const {
    const bool failed = std::any_of(state_.sensorFailed.begin(), state_.sensorFailed.end(),
                                    [](bool f) { return f; });
    return failed ? 0 : kStatusHeldPeriods;
}

bool FocuserDevice::StatusGoesBeforeStage(qint64 overdueMs) const {
    const qint64 period = kStatusBaseMs / PositionUpdateFrequency(settings_.Frequency);
    if (!gotos_.StageRun())
        return overdueMs >= StatusHeldPeriods() * period;
    // Inside a move only the full hold: a short move's end is not seen later for it.
    return gotos_.MoveInFlight() && overdueMs >= kStatusHeldPeriods * period;
}

bool FocuserDevice::ChoreGoesFirst() const {
    // Limits or the scale read in the middle of a move could change what the move is measured
    // against; only the temperatures may be read while it runs.
    return chore_.Valid() && (statusChore_ || !gotos_.StageRun()) &&
           StatusGoesBeforeStage(link_.platform().nowMs() - choreSinceMs_);
}

void FocuserDevice::StartChore(Sequence<bool> chore, bool status) {
    choreSinceMs_ = link_.platform().nowMs();
    statusChore_ = status;
    chore_ = AfterATurn(std::move(chore));
    chore_.Start();
    AfterChoreStep();
}

void FocuserDevice::AfterChoreStep() {
    // A goto that let the chore go first goes on at once.
    if (chore_.ResetIfDone() && motion_.GotoMode == kGotoModeGoto && state_.connected())
        ScheduleTick(0);
}

Sequence<bool> FocuserDevice::ConnectSteps(Pacer& pacer) {
    co_await ReadControllerSteps(pacer);
    ReadPosition();
    co_await PumpEvents(pacer);
    // As the console's connect: the fan starts in manual mode, switched off.
    state_.fanMode = 0;
    state_.fanOn = false;
    commands_.SetFan(false);
    co_await PumpEvents(pacer);
    co_await StatusSteps(pacer);
    state_.link = state_.lost() ? LinkState::LostReady : LinkState::Ready;
    Notify();
    ScheduleTick(PollMs());
    StartKeptMove();
    co_return true;
}

Sequence<bool> FocuserDevice::ReadControllerSteps(Pacer& pacer) {
    // Between any two commands the event loop gets a turn: a connect or a status update never
    // keeps an abort waiting for more than the command on the wire.
    const Outcome scale = co_await ReadScale(pacer);
    if (!scale.ok()) {
        // The old scale stays; the next tick reads again.
        scaleDue_ = true;
        state_.scaleKnown = false;
        Tell(scale.reason, true);
    }
    UpdateClientPosition();

    qint32 lower = 0;
    qint32 upper = 0;
    commands_.GetLimitMin(lower);
    co_await PumpEvents(pacer);
    commands_.GetLimitMax(upper);
    co_await PumpEvents(pacer);
    state_.limitsOn = lower != 0 || upper != 0;
    AnchorOnActiveLimits();
    UpdateClientPosition();

    qint32 autoStop = 0;
    commands_.GetAutoStop(autoStop);
    state_.autoStop = autoStop != 0;
    co_await PumpEvents(pacer);

    qint32 major = 0;
    qint32 minor = 0;
    if (state_.firmware.isEmpty() && commands_.GetFirmwareVersion(major, minor) == 0)
        state_.firmware = QStringLiteral("%1.%2").arg(major).arg(minor);
    Notify();
    co_return true;
}

Sequence<bool> FocuserDevice::StatusSteps(Pacer& pacer) {
    // The period counts from the reads, not from when the cycle was asked for: one held back
    // by a goto would otherwise be followed by another as soon as it ends.
    lastStatusMs_ = link_.platform().nowMs();
    const StatusReport report = co_await ReadStatus(pacer, [this] { return state_.fanMode; });
    const int mode = state_.fanMode;
    bool on = state_.fanOn;
    if (report.verdict != FanVerdict::Manual)
        on = report.verdict == FanVerdict::Run;
    else if (mode == 0)
        on = report.running != 0;
    state_.fanOn = on;
    if (settings_.Logging && !log_.path().isEmpty())
        log_.Append(QDateTime::currentDateTime(), report.celsius, mode, on);
    if (const std::optional<int> raw = TempCompTarget()) {
        StartGotoRaw(*raw, TempCompOvershoot());
        compGotoTarget_ = raw;
    }
    Notify();
    co_return true;
}

Sequence<bool> FocuserDevice::LimitsSteps(Pacer& pacer, bool on) {
    if (calibrationRun_.Valid())
        co_return false;
    bool enforced = false;
    const int switched = co_await SwitchActiveLimits(pacer, on, enforced);
    if (switched == -1)
        Tell(kLimitsUnreadText, true);
    else
        state_.limitsOn = enforced;
    if (switched == -2)
        Tell(kLimitsUnconfirmedText, true);
    AnchorOnActiveLimits();
    UpdateClientPosition();
    Notify();
    co_return true;
}

void FocuserDevice::AfterCalibrationStep() {
    if (!calibrationRun_.ResetIfDone())
        return;
    // What the calibration stored decides the scale; read at the next free tick.
    scaleDue_ = true;
    Notify();
    ScheduleTick(0);
}

} // namespace tarnivel
