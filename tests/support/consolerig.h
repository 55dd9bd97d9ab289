#pragma once

// Everything a window or dialog test needs: the simulated controller on virtual time,
// the shared state, recording seams and the Console that ties them together.

#include "core/device/focuserdevice.h"
#include "recorders.h"
#include "simrig.h"
#include "window/app/console.h"
#include "windowrecorders.h"

#include <QList>
#include <QTemporaryDir>

namespace tarnivel::test {

struct ConsoleRig {
    explicit ConsoleRig(const sim::SimConfig& config = sim::SimConfig());

    SimRig sim;
    RecordingSoundPlayer sound;
    ScriptedMessageBox messages;
    RecordingBusyCursor cursor;
    FocuserDevice device;
    FocuserSettings& settings;
    MotionState& motion;
    SavedPositionList& positions;
    GotoController& gotos;
    QTemporaryDir dir; // holds the temperature log
    Console console;

    // Calls of console.EnableMotionControls, when a test has not replaced it.
    QList<bool> motionControlsCalls;
};

} // namespace tarnivel::test
