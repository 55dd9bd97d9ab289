#pragma once

// Everything a window or dialog test needs: the simulated controller on virtual time,
// the shared state, recording seams and the Console that ties them together.

#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/settings/focusersettings.h"
#include "core/settings/savedpositionlist.h"
#include "recorders.h"
#include "simrig.h"
#include "window/app/console.h"

#include <QList>
#include <QTemporaryDir>

namespace tarnivel::test {

struct ConsoleRig {
    explicit ConsoleRig(const sim::SimConfig& config = sim::SimConfig());

    SimRig sim;
    FocuserSettings settings;
    MotionState motion;
    SavedPositionList positions;
    RecordingSoundPlayer sound;
    ScriptedMessageBox messages;
    RecordingBusyCursor cursor;
    GotoController gotos;
    QTemporaryDir dir; // holds the temperature log
    Console console;

    // Calls of console.EnableMotionControls, when a test has not replaced it.
    QList<bool> motionControlsCalls;
};

} // namespace tarnivel::test
