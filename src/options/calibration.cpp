#include "calibration.h"

#include "console.h"
#include "focusercommands.h"
#include "focuserlink.h"
#include "frmoptions.h"
#include "gotocontroller.h"
#include "motionstate.h"
#include "platform.h"
#include "positionunits.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace tarnivel {

namespace {
// GetPosition's failure value; never a raw position.
constexpr int kNoPosition = -1;
} // namespace

Calibration::Calibration(Console& console, frmOptions& dialog)
    : console_(console), dialog_(dialog) {}

bool Calibration::Running() const {
    return console_.motion.CalibrationRunning;
}

void Calibration::Pause(int ms) {
    console_.platform.sleepMs(ms);
}

void Calibration::PumpEvents() {
    console_.link.PumpEvents();
}

void Calibration::EdgeSound() {
    if (dialog_.CompletionSound)
        console_.gotos.PlaySlewSound(QStringLiteral("EndSlew"), false, false);
    else
        Silence();
}

void Calibration::Silence() {
    console_.gotos.PlaySlewSound(QString(), false, false);
}

void Calibration::SetLabel(const QString& text) {
    dialog_.lblCalibrate->setText(text);
}

void Calibration::AppendLine(const QString& line) {
    SetLabel(dialog_.lblCalibrate->text() + QStringLiteral("\r\n") + line);
}

bool Calibration::DisplayPosition() {
    // The window's readout keeps CurrentPosition when a read fails; a value no read can
    // produce shows whether this one got through.
    const int before = console_.motion.CurrentPosition;
    console_.motion.CurrentPosition = kNoPosition;
    console_.DisplayPosition();
    if (console_.motion.CurrentPosition == kNoPosition) {
        console_.motion.CurrentPosition = before;
        return false;
    }
    return true;
}

void Calibration::Prepare(bool full) {
    FocuserCommands& c = console_.commands;
    dialog_.EnableOptionControls(false);
    // The state report talks to the controller too; its frames must not land between
    // the calibration's.
    dialog_.cmdShowStates->setEnabled(false);
    console_.motion.CalibrationRunning = true;
    dialog_.cmdCancelCalibrate->setVisible(true);
    dialog_.fraLimits->setEnabled(false);
    dialog_.chkLimits->setChecked(false);
    c.SetLimitMax(0, 0);
    c.SetLimitMin(0, 0);
    if (full) {
        c.SetRealLimitMax(0);
        c.SetRealLimitMin(0);
    }
    c.SetAutoStop(1);
    dialog_.chkAutoStop->setChecked(true);
    c.SetCalibrated(0);
}

Calibration::Outcome Calibration::EdgeSearch(int rate, bool rightEdge) {
    FocuserCommands& c = console_.commands;
    Platform& clock = console_.platform;
    MotionState& m = console_.motion;

    // A cancel that came during the preparation stops before anything moves.
    if (!Running())
        return Outcome::Cancelled;

    m.JogRate = rate;
    c.MoveAtRate(rate);
    PumpEvents();
    if (rightEdge) {
        // The search starts on the lower end stop: give the motor time to leave it.
        Pause(kSettlePauseMs);
        PumpEvents();
    }

    bool answered = DisplayPosition();
    int last = m.CurrentPosition;
    qint64 stillSince = clock.nowMs();
    const qint64 rearmSince = clock.nowMs();
    bool rearmArmed = rightEdge;

    for (;;) {
        if (!Running())
            return Outcome::Cancelled;
        if (rearmArmed && clock.nowMs() - rearmSince >= kRightEdgeRearmMs) {
            c.SetAutoStop(1);
            dialog_.chkAutoStop->setChecked(true);
            rearmArmed = false;
        }
        answered = DisplayPosition() || answered;
        if (m.CurrentPosition == last) {
            if (clock.nowMs() - stillSince >= kEdgeStillMs) {
                PumpEvents();
                Pause(kEdgePollMs);
                break;
            }
        } else {
            last = m.CurrentPosition;
            stillSince = clock.nowMs();
        }
        PumpEvents();
        Pause(kEdgePollMs);
    }

    // A silent controller also "stands still"; without a single answer this is no edge.
    if (!answered)
        return Outcome::NotResponding;

    m.JogRate = 0;
    c.MoveAtRate(0);
    EdgeSound();
    PumpEvents();
    Pause(kSettlePauseMs);
    return Outcome::Done;
}

Calibration::Outcome Calibration::FindMiddleByRate() {
    FocuserCommands& c = console_.commands;
    Platform& clock = console_.platform;
    MotionState& m = console_.motion;

    if (!Running())
        return Outcome::Cancelled;

    m.JogRate = -kCalibrationRate;
    c.MoveAtRate(-kCalibrationRate);
    PumpEvents();
    Pause(kSettlePauseMs);
    PumpEvents();
    DisplayPosition();
    const qint64 since = clock.nowMs();
    for (;;) {
        if (!Running())
            return Outcome::Cancelled;
        DisplayPosition();
        const bool leave = clock.nowMs() - since >= kMiddleRunMs;
        if (leave) {
            c.SetAutoStop(1);
            dialog_.chkAutoStop->setChecked(true);
        }
        PumpEvents();
        Pause(kEdgePollMs);
        if (leave)
            break;
    }

    // Issued while the rate motion still runs: the goto takes the motor over.
    console_.gotos.GotoAndWait(0, stopCount_);
    return Running() ? Outcome::Done : Outcome::Cancelled;
}

void Calibration::RunFull() {
    if (active_)
        return;
    active_ = true;
    stopCount_ = console_.link.StopCount();
    FocuserCommands& c = console_.commands;
    MotionState& m = console_.motion;

    Prepare(true);
    SetLabel(kLabelLeftEdge);
    Pause(kPhasePauseMs);

    Outcome o = EdgeSearch(-kCalibrationRate, false);
    if (o != Outcome::Done)
        return End(o);
    // The lower end stop becomes position 0.
    c.SetPosition(0);
    DisplayPosition();

    AppendLine(kLabelRightEdge);
    c.SetAutoStop(0);
    dialog_.chkAutoStop->setChecked(false);
    Pause(kPhasePauseMs);
    o = EdgeSearch(kCalibrationRate, true);
    if (o != Outcome::Done)
        return End(o);

    const int travel = m.CurrentPosition;
    if (SignedSteps(travel) <= 0)
        return End(Outcome::NoTravel);
    const int half = RoundToInt(travel / 2.0);
    // The upper end stop now reads +half, so 0 is the middle of the travel.
    c.SetPosition(half);
    DisplayPosition();
    PumpEvents();
    Pause(kSettlePauseMs);
    PumpEvents();
    c.SetAutoStop(0);
    dialog_.chkAutoStop->setChecked(false);
    Pause(kPhasePauseMs);
    AppendLine(kLabelMiddle);

    o = FindMiddleByRate();
    if (o != Outcome::Done)
        return End(o);
    Complete(half, travel, true);
}

void Calibration::RunQuick() {
    if (active_)
        return;
    active_ = true;
    stopCount_ = console_.link.StopCount();
    FocuserCommands& c = console_.commands;

    Prepare(false);
    qint32 stored = 0;
    const int read = c.GetMaxTravel(stored);
    SetLabel(kLabelLeftEdge);
    // Without the stored travel there is no middle to centre on.
    if (read != 0)
        return End(Outcome::NotResponding);
    if (stored <= 0)
        return End(Outcome::NoTravel);
    Pause(kPhasePauseMs);

    const Outcome o = EdgeSearch(-kCalibrationRate, false);
    if (o != Outcome::Done)
        return End(o);
    const int h = RoundToInt(stored / 2.0);
    // The lower end stop becomes -h, so that 0 is again the middle of the stored travel.
    c.SetPosition(WrapSteps(-h));
    DisplayPosition();
    PumpEvents();
    Pause(kSettlePauseMs);
    PumpEvents();

    c.SetAutoStop(1);
    dialog_.chkAutoStop->setChecked(true);
    AppendLine(kLabelMiddle);
    Pause(kPhasePauseMs);
    if (!Running())
        return End(Outcome::Cancelled);
    console_.gotos.GotoAndWait(0, stopCount_);
    if (!Running())
        return End(Outcome::Cancelled);
    Complete(h, static_cast<int>(stored), false);
}

void Calibration::Complete(int half, int travel, bool full) {
    FocuserCommands& c = console_.commands;
    MotionState& m = console_.motion;

    // Too late to cancel: the remaining steps only store what was measured.
    dialog_.cmdCancelCalibrate->setVisible(false);
    m.JogRate = 0;
    m.MotionDirection = 0;
    c.MoveAtRate(0);
    EdgeSound();
    // Both calibrations store the limits of the scale they have just centred; the quick
    // one must not reuse real limits stored in a scale that a Reset has shifted since.
    const int upper = WrapSteps(half);
    const int lower = WrapSteps(-half);
    c.SetLimitMax(upper, -1);
    c.SetLimitMin(lower, +1);
    c.SetRealLimitMax(upper);
    c.SetRealLimitMin(lower);
    c.SetAutoStop(1);
    dialog_.chkAutoStop->setChecked(true);
    if (full)
        c.SetMaxTravel(travel);
    c.SetCalibrated(1);
    dialog_.chkLimits->setChecked(true);
    SetLabel(kLabelComplete);
    m.CalibrationRunning = false;
    DisplayPosition();
    dialog_.EnableOptionControls(true);
    dialog_.cmdShowStates->setEnabled(true);
    Silence();
    active_ = false;
}

void Calibration::End(Outcome outcome) {
    FocuserCommands& c = console_.commands;
    MotionState& m = console_.motion;

    // Written again for a cancel: a click that came inside one of the calibration's own
    // commands may have been followed by a progress line.
    if (outcome == Outcome::NotResponding)
        SetLabel(kLabelNotResponding);
    else if (outcome == Outcome::NoTravel)
        SetLabel(kLabelNoTravel);
    else
        SetLabel(kLabelCancelled);
    m.CalibrationRunning = false;

    dialog_.cmdCancelCalibrate->setVisible(false);
    m.JogRate = 0;
    m.MotionDirection = 0;
    c.MoveAtRate(0);
    EdgeSound();
    PumpEvents();
    c.SetAutoStop(1);
    dialog_.chkAutoStop->setChecked(true);
    c.SetLimitMax(0, 0);
    c.SetLimitMin(0, 0);
    c.SetRealLimitMax(0);
    c.SetRealLimitMin(0);
    DisplayPosition();
    dialog_.EnableOptionControls(true);
    dialog_.cmdShowStates->setEnabled(true);
    Silence();
    active_ = false;
}

void Calibration::CancelClick() {
    if (!Running())
        return;
    // Cleared first: a second click inside the stop command's wait does nothing.
    console_.motion.CalibrationRunning = false;
    console_.commands.Stop();
    SetLabel(kLabelCancelled);
}

} // namespace tarnivel
