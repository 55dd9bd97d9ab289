#pragma once

#include "sequence.h"

#include <QString>
#include <functional>

namespace tarnivel {

class FocuserCommands;
class Platform;
class SoundPlayer;
struct FocuserSettings;
struct MotionState;

inline constexpr int kGotoWaitSliceMs = 20;
inline constexpr int kGotoSettleSliceMs = 10;

// The staged goto with its final approach from one side, the blocking single-move goto
// of the calibration, and the slew sounds.
class GotoController {
public:
    GotoController(FocuserCommands& commands, const FocuserSettings& settings, MotionState& motion,
                   SoundPlayer& sound, Platform& platform);

    // Reads the position and shows it (the main window's readout); used by the waits.
    void setDisplayPosition(std::function<void()> displayPosition);

    // Sets up a staged goto; nothing is sent here.
    void StartGoto(int target);
    // One step of the staged goto, run once per poll tick while GotoMode is "GOTO".
    void RunStage();
    void ClearGoto();
    // Moves in one move and waits for the controller to report it done. Returns false
    // when a running calibration was cancelled meanwhile (motion stopped, limits cleared).
    bool GotoAndWait(int target);
    // The same goto with its waits spent by pacer (the driver's timer steps).
    Sequence<bool> GotoAndWaitPaced(int target, Pacer& pacer);

    // name "" silences; "BegSlew"/"EndSlew" matched without regard to case.
    void PlaySlewSound(const QString& name, bool wait, bool repeat);
    // "EndSlew" once when CompletionSound is on, otherwise silence.
    void PlayEndSound();

private:
    void DisplayPosition();
    void ReadPosition();

    FocuserCommands& commands_;
    const FocuserSettings& settings_;
    MotionState& motion_;
    SoundPlayer& sound_;
    Platform& platform_;
    std::function<void()> displayPosition_;
};

} // namespace tarnivel
