#pragma once

namespace tarnivel {

// What GotoMode says: a staged goto runs, or none does.
enum class GotoKind { None, Goto };

// Motion state shared by the goto engine, the poll cycle, the jog and the calibration.
struct MotionState {
    int CurrentPosition = 0; // raw position last read from the controller
    int MotionDirection = 0; // -1, 0, +1
    GotoKind GotoMode = GotoKind::None;
    int GotoStage = 0;
    int GotoIntermediate = 0;
    int GotoTarget = 0;
    bool GotoDone = false;
    int JogRate = 0;
    int ActiveJogRate = 0;
    bool CalibrationRunning = false;

    // A goto, a jog or a calibration is under way (or asked for).
    bool Moving() const;
};

inline constexpr GotoKind kGotoModeGoto = GotoKind::Goto;

inline bool MotionState::Moving() const {
    return GotoMode == kGotoModeGoto || MotionDirection != 0 || JogRate != 0 ||
           ActiveJogRate != 0 || CalibrationRunning;
}

} // namespace tarnivel
