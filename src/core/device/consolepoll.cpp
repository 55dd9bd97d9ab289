// The console's poll: the order of one run, its dividers and the guest's pace.

#include "core/device/consolepoll.h"

#include "core/device/focuserdevice.h"

#include <algorithm>
#include <optional>

namespace tarnivel {

namespace {
constexpr int kCalibrationRefreshTicks = 5;
constexpr int kRefreshPerSecondBase = 20; // runs per second at the nominal 50 ms
constexpr int kStatusBase = 500;
constexpr int kNominalRunMs = 50;

int sign(int v) {
    return (v > 0) - (v < 0);
}
} // namespace

bool ConsolePoll::NextRunAtOnce() const {
    return device_.GuestGotoRunning();
}

Sequence<bool> ConsolePoll::UpdateStatus(Pacer& pacer, PollView& view, quint64 stopCount) {
    co_await view.StatusUpdate(pacer);
    StatusTicks = 0;
    // Compensation moves only here, between whole runs, when nothing else moves; it is an
    // ordinary goto with its final approach.
    if (const std::optional<int> raw = device_.TempCompTarget()) {
        view.CompensationGotoStarting();
        device_.BeginGoto(*raw, stopCount, device_.TempCompOvershoot());
    }
    view.ShowTempComp();
    co_return true;
}

Sequence<bool> ConsolePoll::Steps(Pacer& pacer, PollView& view, int rate, quint64 stopCount) {
    const FocuserSettings& s = device_.settings();
    MotionState& m = device_.motion();
    GotoController& gotos = device_.gotos();
    FocuserLink& link = device_.link();
    const qint64 runStart = device_.platform().nowMs();
    const int frequency = PositionUpdateFrequency(s.Frequency);
    const int statusPeriod = kStatusBase / frequency;

    // A guest's goto reads the position at each of its stages; the readout would only slow it.
    // No temperature update comes between its stages, as on a served device. One held back by
    // network moves for StatusHeldPeriods more periods goes before the next one's first stage or
    // between two polls of a long move.
    const bool guestGoto = device_.GuestGotoRunning();
    if (guestGoto && StatusTicks >= statusPeriod &&
        device_.StatusGoesBeforeStage(qint64(StatusTicks - statusPeriod) * kNominalRunMs))
        co_await UpdateStatus(pacer, view, stopCount);
    if (guestGoto && device_.SilentTooLong()) {
        // Its client was promised the served rule: no endless wait for a "done" that never
        // comes. The next run gives the controls back as after STOP.
        device_.GiveUpSilentMove();
        gotos.PlaySlewSound(QString(), false, false);
        m.GotoDone = true;
    } else if (m.GotoMode == kGotoModeGoto) {
        view.GotoStageDue();
        co_await gotos.RunStage(pacer);
    }
    // A STOP handled inside the goto's commands also ends a jog asked for before it.
    if (link.StoppedSince(stopCount))
        rate = 0;

    if (!link.LinkOpen()) {
        // A guard only: the timer does not run while disconnected.
        if (m.ActiveJogRate != 0) {
            device_.SetJogRateInPlace(0);
            m.MotionDirection = 0;
            gotos.PlayEndSound();
        }
        m.JogRate = 0;
        m.ActiveJogRate = 0;
        co_return true;
    }

    if (rate != m.ActiveJogRate) {
        // The end of a jog moves compensation's reference.
        if (rate == 0 && m.ActiveJogRate != 0)
            device_.MoveEnded();
        if (rate == 0)
            gotos.PlayEndSound();
        else if (s.SlewingSound)
            gotos.PlaySlewSound(QStringLiteral("BegSlew"), false, true);
        co_await device_.SetJogRate(pacer, rate);
        // STOP cut into the jog's own command and has the last word on the wire.
        if (link.StoppedSince(stopCount))
            rate = 0;
        m.MotionDirection = sign(rate);
        m.ActiveJogRate = rate;
    }

    ++DisplayRefreshTicks;
    // The next of a guest goto's runs follows at once: it counts as the nominal runs its
    // length stands for, so that the temperature update keeps its period.
    StatusTicks +=
        guestGoto ? std::max<qint64>(1, (device_.platform().nowMs() - runStart) / kNominalRunMs)
                  : 1;
    if (m.CalibrationRunning) {
        if (DisplayRefreshTicks >= kCalibrationRefreshTicks) {
            co_await view.Readout(pacer);
            DisplayRefreshTicks = 0;
        }
    } else {
        // A guest goto's runs still count towards the temperature update: back-to-back network
        // moves must not leave the readings, the fan rule and the log standing.
        if (!guestGoto && DisplayRefreshTicks >= kRefreshPerSecondBase / frequency) {
            co_await view.Readout(pacer);
            DisplayRefreshTicks = 0;
        }
        if (!guestGoto && StatusTicks >= statusPeriod)
            co_await UpdateStatus(pacer, view, stopCount);
    }

    if (m.MotionDirection != 0)
        view.ShowMoving(m.MotionDirection);
    co_await view.SendQueuedFanCommand(pacer);
    co_return true;
}

} // namespace tarnivel
