#include "core/device/calibration.h"

#include "core/device/focuserdevice.h"
#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/seams/platform.h"
#include "core/units/positionunits.h"

namespace tarnivel {

namespace {
// GetPosition's failure value; never a raw position.
constexpr int kNoPosition = -1;
} // namespace

Calibration::Calibration(FocuserDevice& device, CalibrationObserver& view)
    : device_(device), view_(view) {}

bool Calibration::Running() const {
    return device_.motion().CalibrationRunning;
}

void Calibration::EdgeSound() {
    if (view_.CompletionSound())
        device_.gotos().PlaySlewSound(QStringLiteral("EndSlew"), false, false);
    else
        Silence();
}

void Calibration::Silence() {
    device_.gotos().PlaySlewSound(QString(), false, false);
}

void Calibration::SetLabel(const QString& text) {
    view_.SetProgressText(text);
}

void Calibration::AppendLine(const QString& line) {
    SetLabel(view_.ProgressText() + QStringLiteral("\r\n") + line);
}

bool Calibration::DisplayPosition() {
    // The window's readout keeps CurrentPosition when a read fails; a value no read can
    // produce shows whether this one got through.
    const int before = device_.motion().CurrentPosition;
    device_.motion().CurrentPosition = kNoPosition;
    device_.DisplayPosition();
    lastReadOk_ = device_.motion().CurrentPosition != kNoPosition;
    if (!lastReadOk_) {
        device_.motion().CurrentPosition = before;
        return false;
    }
    return true;
}

void Calibration::SetCounter(int raw) {
    shiftKnown_ = shiftKnown_ && lastReadOk_;
    shift_ += static_cast<qint64>(SignedSteps(raw)) - SignedSteps(device_.motion().CurrentPosition);
    counterSet_ = true;
    device_.commands().SetPosition(raw);
}

void Calibration::ReportShift() {
    if (counterSet_)
        device_.CounterRecentred(shiftKnown_ ? std::optional<qint64>(shift_) : std::nullopt);
    counterSet_ = false;
}

Sequence<bool> Calibration::Prepare(Pacer& pacer, bool full) {
    FocuserCommands& c = device_.commands();
    quick_ = !full;
    view_.CalibrationStarting();
    device_.motion().CalibrationRunning = true;
    view_.ShowLimits(false);
    // A turn between any two of these commands: a front end that defers its waits reads an
    // abort here at once instead of after the whole preparation.
    c.SetLimitMax(0, 0);
    co_await PumpEvents(pacer);
    c.SetLimitMin(0, 0);
    co_await PumpEvents(pacer);
    if (full) {
        co_await device_.commands().WriteRegister24(pacer, reg::RealLimitMax, 0);
        co_await PumpEvents(pacer);
        co_await device_.commands().WriteRegister24(pacer, reg::RealLimitMin, 0);
        co_await PumpEvents(pacer);
    }
    c.SetAutoStop(1);
    view_.ShowAutoStop(true);
    co_await PumpEvents(pacer);
    c.SetCalibrated(0);
    co_await PumpEvents(pacer);
    co_return true;
}

Sequence<Calibration::Outcome> Calibration::EdgeSearch(Pacer& pacer, int rate, bool rightEdge) {
    FocuserCommands& c = device_.commands();
    Platform& clock = device_.platform();
    MotionState& m = device_.motion();

    // A cancel that came during the preparation stops before anything moves.
    if (!Running())
        co_return Outcome::Cancelled;

    m.JogRate = rate;
    c.MoveAtRate(rate);
    co_await PumpEvents(pacer);
    if (rightEdge) {
        // The search starts on the lower end stop: give the motor time to leave it.
        co_await Pause(pacer, kSettlePauseMs);
        co_await PumpEvents(pacer);
    }

    bool answered = DisplayPosition();
    int last = m.CurrentPosition;
    qint64 stillSince = clock.nowMs();
    const qint64 rearmSince = clock.nowMs();
    bool rearmArmed = rightEdge;

    for (;;) {
        if (!Running())
            co_return Outcome::Cancelled;
        if (rearmArmed && clock.nowMs() - rearmSince >= kRightEdgeRearmMs) {
            c.SetAutoStop(1);
            view_.ShowAutoStop(true);
            rearmArmed = false;
            co_await PumpEvents(pacer);
        }
        answered = DisplayPosition() || answered;
        if (m.CurrentPosition == last) {
            if (clock.nowMs() - stillSince >= kEdgeStillMs) {
                co_await PumpThenPause(pacer, kEdgePollMs);
                break;
            }
        } else {
            last = m.CurrentPosition;
            stillSince = clock.nowMs();
        }
        co_await PumpThenPause(pacer, kEdgePollMs);
    }

    // A silent controller also "stands still"; without a single answer this is no edge.
    if (!answered)
        co_return Outcome::NotResponding;

    m.JogRate = 0;
    c.MoveAtRate(0);
    EdgeSound();
    co_await PumpThenPause(pacer, kSettlePauseMs);
    co_return Outcome::Done;
}

Sequence<Calibration::Outcome> Calibration::FindMiddleByRate(Pacer& pacer) {
    FocuserCommands& c = device_.commands();
    Platform& clock = device_.platform();
    MotionState& m = device_.motion();

    if (!Running())
        co_return Outcome::Cancelled;

    m.JogRate = -kCalibrationRate;
    c.MoveAtRate(-kCalibrationRate);
    co_await PumpThenPause(pacer, kSettlePauseMs);
    co_await PumpEvents(pacer);
    DisplayPosition();
    co_await PumpEvents(pacer);
    const qint64 since = clock.nowMs();
    for (;;) {
        if (!Running())
            co_return Outcome::Cancelled;
        DisplayPosition();
        const bool leave = clock.nowMs() - since >= kMiddleRunMs;
        if (leave) {
            co_await PumpEvents(pacer);
            c.SetAutoStop(1);
            view_.ShowAutoStop(true);
        }
        co_await PumpThenPause(pacer, kEdgePollMs);
        if (leave)
            break;
    }

    // A cancel seen in the last pause: the goto would move the focuser after the stop.
    if (!Running())
        co_return Outcome::Cancelled;
    // Issued while the rate motion still runs: the goto takes the motor over.
    co_await device_.gotos().GotoAndWaitPaced(0, stopCount_, pacer);
    co_return Running() ? Outcome::Done : Outcome::Cancelled;
}

bool Calibration::RunFull() {
    InlinePacer pacer(device_.platform());
    return Full(pacer).RunToEnd();
}

bool Calibration::RunQuick() {
    InlinePacer pacer(device_.platform());
    return Quick(pacer).RunToEnd();
}

Sequence<bool> Calibration::Full(Pacer& pacer) {
    if (active_)
        co_return false;
    active_ = true;
    shift_ = 0;
    counterSet_ = false;
    shiftKnown_ = true;
    stopCount_ = device_.link().StopCount();
    FocuserCommands& c = device_.commands();
    MotionState& m = device_.motion();

    keepStored_ = false;
    co_await Prepare(pacer, true);
    SetLabel(kLabelLeftEdge);
    co_await Pause(pacer, kPhasePauseMs);

    Outcome o = co_await EdgeSearch(pacer, -kCalibrationRate, false);
    if (o != Outcome::Done)
        co_return co_await End(pacer, o);
    // The lower end stop becomes position 0.
    SetCounter(0);
    co_await PumpEvents(pacer);
    DisplayPosition();
    co_await PumpEvents(pacer);

    AppendLine(kLabelRightEdge);
    c.SetAutoStop(0);
    view_.ShowAutoStop(false);
    co_await Pause(pacer, kPhasePauseMs);
    o = co_await EdgeSearch(pacer, kCalibrationRate, true);
    if (o != Outcome::Done)
        co_return co_await End(pacer, o);

    const int travel = m.CurrentPosition;
    if (SignedSteps(travel) <= 0)
        co_return co_await End(pacer, Outcome::NoTravel);
    const int half = RoundToInt(travel / 2.0);
    // The upper end stop now reads +half, so 0 is the middle of the travel.
    SetCounter(half);
    co_await PumpEvents(pacer);
    DisplayPosition();
    co_await PumpThenPause(pacer, kSettlePauseMs);
    co_await PumpEvents(pacer);
    c.SetAutoStop(0);
    view_.ShowAutoStop(false);
    co_await Pause(pacer, kPhasePauseMs);
    AppendLine(kLabelMiddle);

    o = co_await FindMiddleByRate(pacer);
    if (o != Outcome::Done)
        co_return co_await End(pacer, o);
    co_return co_await Complete(pacer, half, travel, true);
}

Sequence<bool> Calibration::Quick(Pacer& pacer) {
    if (active_)
        co_return false;
    active_ = true;
    shift_ = 0;
    counterSet_ = false;
    shiftKnown_ = true;
    stopCount_ = device_.link().StopCount();
    FocuserCommands& c = device_.commands();

    keepStored_ = true;
    co_await Prepare(pacer, false);
    qint32 stored = 0;
    const int read = co_await device_.commands().ReadRegister24(pacer, reg::MaxTravel, stored);
    SetLabel(kLabelLeftEdge);
    // Without the stored travel there is no middle to centre on.
    if (read != 0)
        co_return co_await End(pacer, Outcome::NotResponding);
    if (stored <= 0)
        co_return co_await End(pacer, Outcome::NoTravel);
    co_await Pause(pacer, kPhasePauseMs);

    const Outcome o = co_await EdgeSearch(pacer, -kCalibrationRate, false);
    if (o != Outcome::Done)
        co_return co_await End(pacer, o);
    const int h = RoundToInt(stored / 2.0);
    // The lower end stop becomes -h, so that 0 is again the middle of the stored travel.
    keepStored_ = false;
    SetCounter(WrapSteps(-h));
    co_await PumpEvents(pacer);
    DisplayPosition();
    co_await PumpThenPause(pacer, kSettlePauseMs);
    co_await PumpEvents(pacer);

    c.SetAutoStop(1);
    view_.ShowAutoStop(true);
    AppendLine(kLabelMiddle);
    co_await Pause(pacer, kPhasePauseMs);
    if (!Running())
        co_return co_await End(pacer, Outcome::Cancelled);
    co_await device_.gotos().GotoAndWaitPaced(0, stopCount_, pacer);
    if (!Running())
        co_return co_await End(pacer, Outcome::Cancelled);
    co_return co_await Complete(pacer, h, static_cast<int>(stored), false);
}

Sequence<bool> Calibration::Complete(Pacer& pacer, int half, int travel, bool full) {
    FocuserCommands& c = device_.commands();
    MotionState& m = device_.motion();

    // Too late to cancel: the remaining steps only store what was measured.
    view_.CancelWithdrawn();
    m.JogRate = 0;
    m.MotionDirection = 0;
    c.MoveAtRate(0);
    EdgeSound();
    co_await PumpEvents(pacer);
    // Both calibrations store the limits of the scale they have just centred; the quick
    // one must not reuse real limits stored in a scale that a Reset has shifted since. The
    // Calibrated flag goes last: until it is confirmed the controller holds no calibration,
    // so a write that is not confirmed ends the calibration there.
    const int upper = WrapSteps(half);
    const int lower = WrapSteps(-half);
    if (!co_await device_.WriteActiveLimits(pacer, upper, lower, true))
        co_return co_await Unconfirmed(pacer, kLabelActiveLimitsUnconfirmed);
    co_await PumpEvents(pacer);
    if (co_await device_.commands().WriteRegister24(pacer, reg::RealLimitMax, upper) != 0)
        co_return co_await Unconfirmed(pacer, kLabelRealLimitsUnconfirmed);
    co_await PumpEvents(pacer);
    if (co_await device_.commands().WriteRegister24(pacer, reg::RealLimitMin, lower) != 0)
        co_return co_await Unconfirmed(pacer, kLabelRealLimitsUnconfirmed);
    co_await PumpEvents(pacer);
    if (c.SetAutoStop(1) != 0)
        co_return co_await Unconfirmed(pacer, kLabelAutoStopUnconfirmed);
    view_.ShowAutoStop(true);
    co_await PumpEvents(pacer);
    if (full) {
        if (co_await device_.commands().WriteRegister24(pacer, reg::MaxTravel, travel) != 0)
            co_return co_await Unconfirmed(pacer, kLabelTravelUnconfirmed);
        co_await PumpEvents(pacer);
    }
    if (c.SetCalibrated(1) != 0)
        co_return co_await Unconfirmed(pacer, kLabelFlagUnconfirmed);
    co_await PumpEvents(pacer);
    view_.ShowLimits(true);
    device_.CalibrationStored(true, travel, upper);
    SetLabel(kLabelComplete);
    m.CalibrationRunning = false;
    DisplayPosition();
    ReportShift();
    view_.CalibrationEnded();
    Silence();
    active_ = false;
    co_return true;
}

Sequence<bool> Calibration::End(Pacer& pacer, Outcome outcome) {
    FocuserCommands& c = device_.commands();
    MotionState& m = device_.motion();

    // Written again for a cancel: a click that came inside one of the calibration's own
    // commands may have been followed by a progress line.
    if (outcome == Outcome::Unconfirmed)
        SetLabel(unconfirmed_);
    else if (outcome == Outcome::NotResponding)
        SetLabel(kLabelNotResponding);
    else if (outcome == Outcome::NoTravel)
        SetLabel(kLabelNoTravel);
    else
        SetLabel(kLabelCancelled);
    m.CalibrationRunning = false;

    view_.CancelWithdrawn();
    m.JogRate = 0;
    m.MotionDirection = 0;
    c.MoveAtRate(0);
    EdgeSound();
    co_await PumpEvents(pacer);
    c.SetAutoStop(1);
    view_.ShowAutoStop(true);
    co_await PumpEvents(pacer);
    c.SetLimitMax(0, 0);
    co_await PumpEvents(pacer);
    c.SetLimitMin(0, 0);
    co_await PumpEvents(pacer);
    // A quick calibration that has not yet moved the counter, cancelled or failed, leaves the
    // stored calibration as valid as it was; no need for a full one.
    if (keepStored_) {
        c.SetCalibrated(1);
    } else {
        // A completion may have got as far as the flag, obeyed without its answer: it must
        // not vouch for what is cleared here.
        if (outcome == Outcome::Unconfirmed) {
            c.SetCalibrated(0);
            co_await PumpEvents(pacer);
        }
        co_await device_.commands().WriteRegister24(pacer, reg::RealLimitMax, 0);
        co_await PumpEvents(pacer);
        co_await device_.commands().WriteRegister24(pacer, reg::RealLimitMin, 0);
        device_.CalibrationStored(false, 0, 0);
    }
    co_await PumpEvents(pacer);
    DisplayPosition();
    ReportShift();
    view_.CalibrationEnded();
    if (quick_ && !keepStored_)
        view_.CalibrationLost();
    Silence();
    active_ = false;
    co_return false;
}

Sequence<bool> Calibration::Unconfirmed(Pacer& pacer, const QString& label) {
    unconfirmed_ = label;
    co_return co_await End(pacer, Outcome::Unconfirmed);
}

void Calibration::Abandon() {
    device_.motion().CalibrationRunning = false;
    ReportShift();
    active_ = false;
}

void Calibration::CancelClick() {
    if (!Running())
        return;
    // Cleared first: a second click inside the stop command's wait does nothing.
    device_.motion().CalibrationRunning = false;
    device_.commands().Stop();
    SetLabel(kLabelCancelled);
}

} // namespace tarnivel
