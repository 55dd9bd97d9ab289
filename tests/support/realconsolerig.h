#pragma once

// A whole Console on the real serial port and the real clock, for the tests that run the
// window against the tarnivel-sim tool on a pseudo-terminal: the program's own link, with
// recording sound, message and cursor seams. The main window fills in DisplayPosition and
// EnableMotionControls; dialogs run modally.

#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/settings/focusersettings.h"
#include "core/settings/programfolder.h"
#include "core/settings/savedpositionlist.h"
#include "platform/qt/qtplatform.h"
#include "platform/qt/qtserialport.h"
#include "recorders.h"
#include "window/app/console.h"

namespace tarnivel::test {

struct RealConsoleRig {
    // folder: where the settings, the temperature log and the COMn links live.
    explicit RealConsoleRig(const QString& folder);

    ProgramFolder programFolder;
    QtPlatform platform;
    QtSerialPort port;
    FocuserLink link;
    FocuserCommands commands;
    FocuserSettings settings;
    MotionState motion;
    SavedPositionList positions;
    RecordingSoundPlayer sound;
    ScriptedMessageBox messages;
    RecordingBusyCursor cursor;
    GotoController gotos;
    Console console;
};

} // namespace tarnivel::test
