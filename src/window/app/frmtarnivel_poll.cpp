// The poll cycle: one run of RateTimer acts on the deferred requests, then runs the device's
// console poll, showing what it reads.

#include "window/app/frmtarnivel.h"

#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/seams/serialport.h"
#include "core/units/positionunits.h"
#include "window/app/console.h"
#include "window/app/logoart.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"
#include "window/app/temperaturepanel.h"
#include "window/ui/colours.h"
#include "window/ui/inputgate.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <optional>

namespace tarnivel {

namespace {
const QString kShortText = QStringLiteral("Goto stopped short");
} // namespace

void frmTarnivel::RateTimer_Timer() {
    // Fired inside another command's wait (the editor's ReAlign, STOP's own command): any
    // frame now would take that command's answer. The timer stays armed; the next tick
    // does the work.
    if (console_.link.Busy() || engine_.Valid())
        return;
    // A network halt that waited for the last answer goes before anything of this tick.
    SendHeldGuestStop();

    // The tick never re-enters itself, and a jog press or release arriving while its
    // commands wait is seen consistently at the next tick.
    rateTimer->setEnabled(false);
    int rate = console_.motion.JogRate;
    const quint64 stopCount = console_.link.StopCount();
    {
        // A dialog opened from inside the tick would hold the tick until it closed.
        const InputGate::Scope ticking(*inputGate);
        if (NoteLostConnection())
            rate = 0;

        if (DisconnectRequested) {
            RunDisconnect();
            return;
        }

        if (console_.motion.GotoDone)
            GotoCleanUp();
    }

    // The dialog is modal and the poll cycle stays stopped while it is open.
    if (OptionsRequested) {
        ShowOptions();
        rateTimer->setEnabled(true);
        console_.device.TickedInPlace();
        return;
    }

    // The rest waits for the controller's answers: on the window's loop when the program runs,
    // so that a file chooser or a message box is never a loop inside the tick's wait.
    RunOnEngine(TickSteps(EnginePacer(), rate, stopCount));
}

Pacer& frmTarnivel::EnginePacer() {
    if (console_.scheduler == nullptr)
        return inPlacePacer_;
    if (!enginePacer_) {
        enginePacer_.emplace(*console_.scheduler);
        enginePacer_->commandWaits = true;
        enginePacer_->afterStep = [this] { AfterEngineStep(); };
    }
    return *enginePacer_;
}

void frmTarnivel::RunOnEngine(Sequence<bool> steps) {
    engine_ = std::move(steps);
    engine_.Start();
    AfterEngineStep();
}

void frmTarnivel::AfterEngineStep() {
    engine_.ResetIfDone();
}

Sequence<bool> frmTarnivel::TickSteps(Pacer& pacer, int rate, quint64 stopCount) {
    const InputGate::Scope ticking(*inputGate);
    co_await poll_.Steps(pacer, *this, rate, stopCount);
    if (rateTimer->interval() > 0) {
        rateTimer->setEnabled(true);
        // A guest's goto: its end is published with this run; a client's next move then
        // finds the line free.
        if (poll_.NextRunAtOnce())
            rateTimer->fireSoon();
    }
    console_.device.TickedInPlace();
    co_return true;
}

void frmTarnivel::GotoStageDue() {
    ClearShortNote();
}

Sequence<bool> frmTarnivel::Readout(Pacer& pacer) {
    return DisplayPosition(pacer);
}

Sequence<bool> frmTarnivel::StatusUpdate(Pacer& pacer) {
    return temperatures->UpdateStatus(pacer);
}

void frmTarnivel::CompensationGotoStarting() {
    EnableMotionControls(false);
}

void frmTarnivel::ShowTempComp() {
    temperatures->ShowTempComp();
}

void frmTarnivel::ShowMoving(int direction) {
    if (direction > 0)
        AnimationFrame = (AnimationFrame + 1) % kIndicatorFrames;
    else if (--AnimationFrame < 0)
        AnimationFrame = kIndicatorFrames - 1;
    picLogo->setPixmap(imgLogo.at(AnimationFrame));
}

Sequence<bool> frmTarnivel::SendQueuedFanCommand(Pacer& pacer) {
    return temperatures->SendQueuedFanCommand(pacer);
}

bool frmTarnivel::NoteLostConnection() {
    // The port closed itself (device gone): commands now time out like on a closed port.
    // Say so, but leave the teardown to the operator.
    if (!console_.link.LinkOpen() || !console_.link.port().connectionLost())
        return false;
    if (lblStatus->text() != kLostText)
        lblStatus->setText(kLostText);
    // A goto waits for a "done" that cannot come, and a jog for a release that no longer
    // reaches the motor: the device ends both as after STOP, and compensation goes off.
    MotionState& m = console_.motion;
    const bool moving = m.Moving();
    if (!console_.device.NoteLost())
        return false;
    NumLED->setLive(false);
    temperatures->ShowTempComp();
    temperatures->DimReadings();
    if (!moving)
        return false;
    // The tick gives the controls back; no rate was sent that needs taking back.
    m.GotoDone = true;
    m.ActiveJogRate = 0;
    for (JogButton* b : {cmdFastLeft, cmdSlowLeft, cmdSlowRight, cmdFastRight})
        SetBackColour(b, ColourOff);
    console_.gotos.PlaySlewSound(QString(), false, false);
    return true;
}

void frmTarnivel::GotoCleanUp() {
    console_.device.FinishGoto();
    EnableMotionControls(true);
    cmdDummy->setFocus();
}

void frmTarnivel::ClearShortNote() {
    if (lblStatus->text().startsWith(kShortText))
        lblStatus->clear();
}

void frmTarnivel::DisplayPosition() {
    StraightPacer straight;
    DisplayPosition(straight).RunToEnd();
}

Sequence<bool> frmTarnivel::DisplayPosition(Pacer& pacer) {
    const int p = co_await console_.device.ReadPosition(pacer);
    if (p == -1) {
        NumLED->setLive(false);
        co_return false;
    }
    const FocuserSettings& s = console_.settings;
    // The readout has segments for a point only, whatever mark the operator's locale uses.
    NumLED->setText(FormatPositionText(p, s.ScaleFactor, s.Decimals, QLocale::c()));
    NumLED->setLive(true);
    co_return true;
}

void frmTarnivel::ClearGoto() {
    console_.gotos.ClearGoto();
}

void frmTarnivel::GotoFinished(int reached, int target) {
    const QString text = console_.device.ShortGotoText(reached, target);
    if (text.isEmpty()) {
        ClearShortNote();
        return;
    }
    // An end stop or an active limit ended the move; the readout alone would not tell.
    lblStatus->setText(text);
}

} // namespace tarnivel
