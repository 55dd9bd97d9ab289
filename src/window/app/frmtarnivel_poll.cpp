// The poll cycle: one run of RateTimer drives the deferred requests, the staged goto, the
// jog, the readout, the temperature update, the moving indicator and the fan command.

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
constexpr int kCalibrationRefreshTicks = 5;
constexpr int kRefreshPerSecondBase = 20; // ticks per second at the nominal 50 ms
constexpr int kStatusBase = 500;
const QString kShortText = QStringLiteral("Goto stopped short");

int sign(int v) {
    return (v > 0) - (v < 0);
}
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
    FocuserSettings& s = console_.settings;
    MotionState& m = console_.motion;
    GotoController& gotos = console_.gotos;

    // A guest's goto (a network client's) runs at the served pace: its next stage at the next
    // turn of the loop, with no readout between. The operator's own gotos keep a stage a tick.
    const bool guestGoto = console_.device.GuestGotoRunning();
    if (m.GotoMode == kGotoModeGoto) {
        ClearShortNote();
        co_await gotos.RunStage(pacer);
    }
    // A STOP handled inside the goto's commands also ends a jog asked for before it.
    if (console_.link.StoppedSince(stopCount))
        rate = 0;

    if (!console_.link.LinkOpen()) {
        // A guard only: the timer does not run while disconnected.
        if (m.ActiveJogRate != 0) {
            console_.device.SetJogRateInPlace(0);
            m.MotionDirection = 0;
            gotos.PlayEndSound();
        }
        m.JogRate = 0;
        m.ActiveJogRate = 0;
    } else {
        if (rate != m.ActiveJogRate) {
            // The end of a jog moves compensation's reference.
            if (rate == 0 && m.ActiveJogRate != 0)
                console_.device.MoveEnded();
            if (rate == 0)
                gotos.PlayEndSound();
            else if (s.SlewingSound)
                gotos.PlaySlewSound(QStringLiteral("BegSlew"), false, true);
            co_await console_.device.SetJogRate(pacer, rate);
            // STOP cut into the jog's own command and has the last word on the wire.
            if (console_.link.StoppedSince(stopCount))
                rate = 0;
            m.MotionDirection = sign(rate);
            m.ActiveJogRate = rate;
        }

        ++DisplayRefreshTicks;
        ++StatusTicks;
        if (m.CalibrationRunning) {
            if (DisplayRefreshTicks >= kCalibrationRefreshTicks) {
                co_await DisplayPosition(pacer);
                DisplayRefreshTicks = 0;
            }
        } else {
            const int frequency = PositionUpdateFrequency(s.Frequency);
            // A guest's goto reads the position at each of its stages. Its ticks still count
            // towards the temperature update: back-to-back network moves must not leave the
            // readings, the fan rule and the log standing.
            if (!guestGoto && DisplayRefreshTicks >= kRefreshPerSecondBase / frequency) {
                co_await DisplayPosition(pacer);
                DisplayRefreshTicks = 0;
            }
            if (StatusTicks >= kStatusBase / frequency) {
                co_await temperatures->UpdateStatus(pacer);
                StatusTicks = 0;
                // Compensation moves only here, between whole ticks, when nothing else
                // moves; it is an ordinary goto with its final approach.
                if (const std::optional<int> raw = console_.device.TempCompTarget()) {
                    EnableMotionControls(false);
                    console_.device.BeginGoto(*raw, stopCount, console_.device.TempCompOvershoot());
                }
                temperatures->ShowTempComp();
            }
        }

        if (m.MotionDirection != 0) {
            if (m.MotionDirection > 0)
                AnimationFrame = (AnimationFrame + 1) % kIndicatorFrames;
            else if (--AnimationFrame < 0)
                AnimationFrame = kIndicatorFrames - 1;
            picLogo->setPixmap(imgLogo.at(AnimationFrame));
        }

        co_await temperatures->SendQueuedFanCommand(pacer);
    }

    if (rateTimer->interval() > 0) {
        rateTimer->setEnabled(true);
        // Its end is published with this tick; a client's next move then finds the line free.
        if (console_.device.GuestGotoRunning())
            rateTimer->fireSoon();
    }
    console_.device.TickedInPlace();
    co_return true;
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
