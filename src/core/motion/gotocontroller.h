#pragma once

#include "core/seams/sequence.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace tarnivel {

class FocuserCommands;
class Platform;
class SoundPlayer;
struct FocuserSettings;
struct MotionState;

inline constexpr int kGotoWaitSliceMs = 20;
inline constexpr int kGotoSettleSliceMs = 10;

// The signed positions no leg may pass: the known travel and the active limits, per side.
// A side nobody knows is open.
struct TravelBounds {
    std::optional<int> lower;
    std::optional<int> upper;
};

// The staged goto with its final approach from one side, the blocking single-move goto
// of the calibration, and the slew sounds.
class GotoController {
public:
    GotoController(FocuserCommands& commands, const FocuserSettings& settings, MotionState& motion,
                   SoundPlayer& sound, Platform& platform);

    // Reads the position and shows it (the main window's readout); used by the waits.
    void setDisplayPosition(std::function<Sequence<bool>(Pacer&)> displayPosition);
    // Told where a staged goto that ran to its end stopped and where it was sent (raw
    // positions); they differ when an end stop or an active limit stopped it short.
    void setGotoFinished(std::function<void(int reached, int target)> gotoFinished);
    // Asked right before a staged goto's motion frame: false holds the leg back until the
    // next stage, so that a request waiting in the front end's loop (an abort) is read first.
    // A leg whose frame went unanswered while the gate closed is sent again at the next stage
    // (the link tries no second time then).
    void setMotionGate(std::function<bool()> open);
    // Where the ends are, asked at each goto's start: the overshoot point stays inside them.
    void setTravelBounds(std::function<TravelBounds()> bounds);

    // Sets up a staged goto; nothing is sent here. stopCount is the link's StopCount()
    // when the operator asked for the move: a stop since then (pressed while events were
    // pumped on the way here) refuses the goto, which then ends like a stopped one.
    // overshoot: the steps beyond the target of a move against the approach side; empty for
    // the Overshoot setting.
    bool StartGoto(int target, quint64 stopCount, std::optional<int> overshoot = std::nullopt);
    // The raw point a goto from current to target passes before its final approach, or empty
    // when it goes straight.
    std::optional<int> OvershootPoint(int current, int target, std::optional<int> overshoot) const;
    // One step of the staged goto, run once per poll tick while GotoMode is Goto; its commands
    // wait as pacer spends command waits.
    void RunStage();
    Sequence<bool> RunStage(Pacer& pacer);
    // A stage of the goto under way has run: false from StartGoto until its first stage, while
    // nothing of it has gone out yet.
    bool StageRun() const { return stageRun_; }
    // The goto only waits for a move in flight to end (its stages 2 and 4): something else may
    // go before its next poll without holding a leg back.
    bool MoveInFlight() const;
    void ClearGoto();
    // Moves in one move and waits for the controller to report it done. Returns false
    // when a running calibration was cancelled meanwhile (motion stopped, limits cleared)
    // or a stop came after stopCount, the link's StopCount() when the activity began.
    bool GotoAndWait(int target, quint64 stopCount);
    // The same goto with its waits spent by pacer (the driver's timer steps).
    Sequence<bool> GotoAndWaitPaced(int target, quint64 stopCount, Pacer& pacer);

    // name "" silences; "BegSlew"/"EndSlew" matched without regard to case.
    void PlaySlewSound(const QString& name, bool wait, bool repeat);
    // "EndSlew" once when CompletionSound is on, otherwise silence.
    void PlayEndSound();

private:
    Sequence<bool> DisplayPosition(Pacer& pacer);
    Sequence<bool> ReadPosition(Pacer& pacer);
    bool MotionGateOpen() const;
    // After a stop the goto ends where it is; the next poll tick tidies up as after STOP.
    bool EndIfStopped();

    FocuserCommands& commands_;
    const FocuserSettings& settings_;
    MotionState& motion_;
    SoundPlayer& sound_;
    Platform& platform_;
    std::function<Sequence<bool>(Pacer&)> displayPosition_;
    std::function<void(int, int)> gotoFinished_;
    std::function<bool()> motionGate_;
    std::function<TravelBounds()> travelBounds_;
    quint64 gotoStopCount_ = 0;
    bool stageRun_ = false;
};

} // namespace tarnivel
