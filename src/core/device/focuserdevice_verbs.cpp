// The verbs of the front ends that give the device a Scheduler (the driver, the server).

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

Outcome FocuserDevice::MotionAllowed() const {
    if (!state_.connected())
        return Outcome::refused(host_ != nullptr ? kHostNotConnectedText : kNotConnectedText);
    if (link_.port().connectionLost())
        return Outcome::refused(kLostText);
    if (!state_.ready())
        return Outcome::refused(kNotReadyText);
    if (calibrationRun_.Valid() || calibrationPending_)
        return Outcome::refused(kCalibratingText);
    if (host_ != nullptr) {
        const QString why = host_->GuestRefusal();
        if (!why.isEmpty())
            return Outcome::refused(why);
    }
    return Outcome::done();
}

Outcome FocuserDevice::Connect() {
    // The console's guests use the connection the console made; they never open one.
    if (host_ != nullptr) {
        if (!state_.connected() || state_.lost())
            return Outcome::refused(state_.lost() ? kLostText : kHostNotConnectedText);
        return state_.ready() ? Outcome::done() : Outcome::started();
    }
    if (scheduler_ == nullptr)
        return Outcome::refused(QStringLiteral("This front end connects in place."));
    if (state_.connected())
        return Outcome::done();
    SerialPort& port = link_.port();
    if (!port.isOpen() && !port.open(settings_.COMport)) {
        const QString why = port.openError();
        return Outcome::refused(why.isEmpty() ? QStringLiteral("The port would not open.") : why);
    }
    link_.SetLinkOpen(true);
    if (!commands_.ProbeFocuser()) {
        link_.SetLinkOpen(false);
        port.close();
        return Outcome::refused(QStringLiteral("No focuser controller answers on this port."));
    }
    motion_ = MotionState{};
    state_ = DeviceState{};
    state_.link = LinkState::Connecting;
    // Never on after a connect: the switch is not kept, only its settings.
    tempComp_.SwitchOff();
    tempComp_.ClearReadings();
    compGotoTarget_.reset();
    lostReported_ = false;
    scaleDue_ = false;
    limitsDue_ = false;
    statusDue_ = false;
    fanRequest_ = -1;
    keptMove_ = {};
    calibrationDue_.reset();
    silentSinceMs_ = -1;
    lastStatusMs_ = link_.platform().nowMs();
    StartChore(ConnectSteps(*chorePacer_));
    Notify();
    return Outcome::started();
}

void FocuserDevice::TearDown() {
    scheduler_->Cancel(tickTimer_);
    tickTimer_ = -1;
    EndJog();
    chorePacer_->Cancel();
    chore_.Reset();
    if (calibrationRun_.Valid()) {
        calibration_->CancelClick();
        pacer_->Cancel();
        calibrationRun_.Reset();
        calibration_->Abandon();
    } else if (link_.LinkOpen() && !link_.port().connectionLost()) {
        commands_.Stop();
    }
    gotos_.ClearGoto();
    keptMove_ = {};
    calibrationDue_.reset();
    calibrationPending_ = false;
    motion_ = MotionState{};
}

Outcome FocuserDevice::Disconnect() {
    // The window's device (hosting the console's guests too) is disconnected in place.
    if (scheduler_ == nullptr || !state_.connected())
        return Outcome::done();
    TearDown();
    link_.SetLinkOpen(false);
    link_.port().close();
    const bool autoStop = state_.autoStop;
    state_ = DeviceState{};
    state_.autoStop = autoStop;
    tempComp_.SwitchOff();
    Notify();
    return Outcome::done();
}

void FocuserDevice::EndJog() {
    if (scheduler_ != nullptr && jogTimer_ != -1)
        scheduler_->Cancel(jogTimer_);
    jogTimer_ = -1;
    // The host's jog counts too: its tick would otherwise take the rate back to 0 after the
    // next goto's first stage has set the motor going.
    if ((motion_.JogRate != 0 || motion_.ActiveJogRate != 0) && state_.connected() &&
        !link_.port().connectionLost())
        commands_.MoveAtRate(0);
    motion_.JogRate = 0;
    motion_.ActiveJogRate = 0;
    if (state_.jogging) {
        state_.jogging = false;
        motion_.MotionDirection = 0;
        tempComp_.ReferenceDue();
    }
}

void FocuserDevice::EndGotoWithAStop() {
    commands_.Stop();
    positionDue_ = false;
    FinishGoto();
}

void FocuserDevice::StartGotoRaw(int raw, std::optional<int> overshoot) {
    // A timed move still running ends first; its timer would otherwise end this goto.
    EndJog();
    if (motion_.GotoMode == kGotoModeGoto) {
        // A goto under way is stopped and the focuser read, so the new one is planned from
        // where it really is and still ends from the approach side.
        EndGotoWithAStop();
        ReadPosition();
    }
    compGotoTarget_.reset();
    state_.lastGoto.reset();
    // Reads left unanswered before this goto do not count against it.
    silentSinceMs_ = -1;
    BeginGoto(raw, link_.StopCount(), overshoot);
    Notify();
    if (host_ != nullptr) {
        // The host's tick runs the stages, as for a goto of its own.
        guestGoto_ = true;
        host_->GuestMoveStarted();
        return;
    }
    // The first stage at once rather than at the next tick.
    ScheduleTick(0);
}

bool FocuserDevice::KeepUntilReady(std::function<Outcome()> move) {
    if (scheduler_ == nullptr || !state_.connected() || state_.ready() ||
        link_.port().connectionLost())
        return false;
    keptMove_ = std::move(move);
    state_.lastGoto.reset();
    Notify();
    return true;
}

void FocuserDevice::StartKeptMove() {
    if (!keptMove_)
        return;
    const std::function<Outcome()> move = std::exchange(keptMove_, {});
    const Outcome started = move();
    if (started.ok())
        return;
    GotoEnd end;
    end.reached = end.target = motion_.CurrentPosition;
    end.failure = started.reason;
    state_.lastGoto = end;
    Tell(started.reason, true);
    Notify();
}

Outcome FocuserDevice::MoveTo(quint32 clientPosition) {
    if (KeepUntilReady([this, clientPosition] { return MoveTo(clientPosition); }))
        return Outcome::started();
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    // A client position means nothing on a scale that was never read: the focuser would run
    // blind to an end stop.
    if (!state_.scaleKnown)
        return Outcome::refused(kScaleUnknownText);
    StartGotoRaw(scale_.ToRaw(qMin(clientPosition, scale_.Max())));
    return Outcome::started();
}

Outcome FocuserDevice::MoveBy(qint64 clientSteps) {
    // From where the focuser is once it has been read.
    if (KeepUntilReady([this, clientSteps] { return MoveBy(clientSteps); }))
        return Outcome::started();
    const qint64 here = scale_.ToClient(motion_.CurrentPosition);
    const qint64 target = qBound<qint64>(0, here + clientSteps, scale_.Max());
    return MoveTo(static_cast<quint32>(target));
}

Outcome FocuserDevice::GotoSaved(int row) {
    if (row < 0 || row >= positions_.ListCount())
        return Outcome::refused(QStringLiteral("Pick a saved position first."));
    if (KeepUntilReady([this, row] { return GotoSaved(row); }))
        return Outcome::started();
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    StartGotoRaw(positions_.ItemData(row));
    return Outcome::started();
}

Outcome FocuserDevice::Jog(int direction, bool fast, int ms) {
    if (host_ != nullptr)
        return Outcome::refused(kHostOwnsText);
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    if (motion_.GotoMode == kGotoModeGoto)
        return Outcome::refused(QStringLiteral("A goto is running."));
    if (ms <= 0 || direction == 0)
        return Outcome::refused(QStringLiteral("A timed move needs a direction and a time."));
    // The console's jog: the slow or the fast rate for as long as asked, then rate 0.
    const int rate = fast ? settings_.FastSlewSpeed : settings_.SlowSlewSpeed;
    const int signedRate = direction > 0 ? rate : -rate;
    if (jogTimer_ != -1)
        scheduler_->Cancel(jogTimer_);
    jogTimer_ = -1;
    const quint64 stops = link_.StopCount();
    motion_.JogRate = signedRate;
    motion_.MotionDirection = direction > 0 ? 1 : -1;
    commands_.MoveAtRate(signedRate);
    if (link_.StoppedSince(stops)) {
        motion_.JogRate = 0;
        motion_.MotionDirection = 0;
        return Outcome::refused(QStringLiteral("Stopped."));
    }
    state_.jogging = true;
    jogTimer_ = scheduler_->After(ms, [this] {
        jogTimer_ = -1;
        EndJog();
        Notify();
    });
    Notify();
    return Outcome::started();
}

void FocuserDevice::EndMotionAsStopped() {
    if (jogTimer_ != -1)
        scheduler_->Cancel(jogTimer_);
    jogTimer_ = -1;
    state_.jogging = false;
    keptMove_ = {};
    StopTempComp();
    if (motion_.GotoMode == kGotoModeGoto) {
        GotoEnd end;
        end.reached = motion_.CurrentPosition;
        end.target = motion_.GotoTarget;
        end.stopped = true;
        state_.lastGoto = end;
    }
    positionDue_ = false;
    FinishGoto();
}

Outcome FocuserDevice::Stop() {
    if (host_ != nullptr) {
        // Moving until the position after the stop has been read, as on a served device.
        if (state_.moving() && state_.connected() && !link_.port().connectionLost())
            state_.stopping = true;
        host_->GuestStop();
        Notify();
        return Outcome::done();
    }
    if (scheduler_ == nullptr)
        return Outcome::refused(QStringLiteral("This front end stops in place."));
    // The stop goes out first, before any bookkeeping; as a stop it also ends whatever was
    // moving the focuser before it (a goto's next stage, a calibration's next move).
    const bool reachable = state_.connected() && !link_.port().connectionLost();
    const bool wasMoving = motion_.GotoMode == kGotoModeGoto || state_.jogging;
    if (calibrationRun_.Valid())
        calibration_->CancelClick();
    else if (reachable)
        commands_.Stop();
    // Stopped where it is: the next tick reads that position before the motion is over.
    if (wasMoving && reachable) {
        state_.stopping = true;
        ScheduleTick(0);
    }
    // A goto given up has been seen and dealt with.
    if (state_.lastGoto && !state_.lastGoto->failure.isEmpty())
        state_.lastGoto.reset();
    if (calibrationPending_) {
        // Stopped while its check ran: it ends as a cancelled one, so clients see it end.
        calibrationPending_ = false;
        state_.progress = kLabelCancelled;
        state_.calibrationOk = false;
    }
    EndMotionAsStopped();
    if (calibrationRun_.Valid() && pacer_->Waiting())
        pacer_->ResumeNow();
    Notify();
    return Outcome::done();
}

Outcome FocuserDevice::Sync(quint32 clientPosition) {
    if (host_ != nullptr)
        return Outcome::refused(kHostOwnsText);
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    if (motion_.GotoMode == kGotoModeGoto || state_.jogging)
        return Outcome::refused(kMovingText);
    if (!state_.scaleKnown)
        return Outcome::refused(kScaleUnreadText);
    // Limits that stand in for the end stops are counter values: they follow a sync.
    if (scale_.Anchored() && !scaleOnLimits_)
        return Outcome::refused(kSyncRefusedText);
    if (commands_.SetPosition(scale_.ToRaw(clientPosition)) != 0)
        return Outcome::refused(kSilentText);
    tempComp_.ReferenceDue();
    ReadPosition();
    return Outcome::done();
}

Outcome FocuserDevice::Calibrate(bool full) {
    if (host_ != nullptr)
        return Outcome::refused(kHostCalibratesText);
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    // Compensation's own goto gives way: it would finish in the counter the calibration sets.
    if (motion_.GotoMode == kGotoModeGoto && compGotoTarget_)
        EndGotoWithAStop();
    // Its set-up takes a second or more of commands, during which a move would run on
    // unwatched; ending the move here would leave the motor running.
    if (motion_.GotoMode == kGotoModeGoto || state_.jogging || keptMove_)
        return Outcome::refused(kMovingText);
    EndJog();
    FinishGoto();
    state_.lastGoto.reset();
    state_.progress.clear();
    calibrationPending_ = true;
    // A status cycle or a limits switch under way ends first; the tick starts it then.
    if (chore_.Valid())
        calibrationDue_ = full;
    else
        StartChore(CalibrateSteps(*chorePacer_, full));
    Notify();
    return Outcome::started();
}

Sequence<bool> FocuserDevice::CalibrateSteps(Pacer& pacer, bool full) {
    if (!full) {
        const Outcome quick = co_await QuickCalibrationCheck(pacer);
        if (!quick.ok()) {
            calibrationPending_ = false;
            state_.calibrationOk = false;
            state_.progress = quick.reason;
            Tell(quick.reason, true);
            Notify();
            co_return false;
        }
        co_await PumpEvents(pacer);
    }
    // A stop while the check ran cancels the calibration before it moves anything.
    if (!calibrationPending_)
        co_return false;
    calibrationPending_ = false;
    calibrationRun_ = full ? calibration_->Full(*pacer_) : calibration_->Quick(*pacer_);
    calibrationRun_.Start();
    AfterCalibrationStep();
    Notify();
    co_return true;
}

Outcome FocuserDevice::CancelCalibration() {
    if (host_ != nullptr)
        return state_.calibrating ? Outcome::refused(kHostCalibratesText) : Outcome::done();
    if (!calibrationRun_.Valid() && !calibrationPending_)
        return Outcome::done();
    return Stop();
}

Outcome FocuserDevice::SetFanMode(int mode) {
    if (host_ != nullptr)
        return Outcome::refused(kHostOwnsText);
    if (!state_.connected())
        return Outcome::refused(kNotConnectedText);
    if (mode < 0 || mode > 4)
        return Outcome::refused(QStringLiteral("Unknown fan mode."));
    if (mode <= 1) {
        state_.fanMode = 0;
        state_.fanOn = mode == 1;
        // Between two commands of a running chore the line is free; only inside a command's
        // wait does the switch go to the next tick (the status cycle never sends a manual one).
        fanRequest_ = mode;
        if (!link_.Busy())
            SendFanRequest();
    } else {
        state_.fanMode = mode - 1;
        fanRequest_ = -1;
    }
    // The new mode shows at the next tick, not after a whole status period.
    statusDue_ = true;
    Notify();
    return Outcome::done();
}

void FocuserDevice::SendFanRequest() {
    if (fanRequest_ < 0)
        return;
    commands_.SetFan(fanRequest_ == 1);
    fanRequest_ = -1;
}

Outcome FocuserDevice::SetFanLimits(double limit1, double limit2, double limit3) {
    if (host_ != nullptr)
        return Outcome::refused(kHostOwnsText);
    settings_.SensorLimit1 = limit1;
    settings_.SensorLimit2 = limit2;
    settings_.SensorLimit3 = limit3;
    statusDue_ = true;
    return Outcome::done();
}

Outcome FocuserDevice::SetActiveLimits(bool on) {
    if (host_ != nullptr)
        return Outcome::refused(kHostOwnsText);
    if (!state_.connected())
        return Outcome::refused(kNotConnectedText);
    if (calibrationRun_.Valid())
        return Outcome::refused(kCalibratingText);
    // Several commands: they run as a chore with a turn of the event loop between any two, so
    // an abort meanwhile is read at once.
    limitsWanted_ = on;
    if (chore_.Valid()) {
        limitsDue_ = true;
        return Outcome::started();
    }
    StartChore(LimitsSteps(*chorePacer_, on));
    return Outcome::started();
}

Outcome FocuserDevice::SetAutoStop(bool on) {
    if (host_ != nullptr)
        return Outcome::refused(kHostOwnsText);
    if (!state_.connected())
        return Outcome::refused(kNotConnectedText);
    if (calibrationRun_.Valid())
        return Outcome::refused(kCalibratingText);
    if (!WriteAutoStop(on))
        return Outcome::refused(kSilentText);
    return Outcome::done();
}

} // namespace tarnivel
