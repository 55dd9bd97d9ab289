#pragma once

// A whole Console on the real serial port and the real clock, for the tests that run the
// window against the tarnivel-sim tool on a pseudo-terminal: the program's own link, with
// recording sound, message and cursor seams. The main window fills in DisplayPosition and
// EnableMotionControls; dialogs run modally.

#include "core/device/focuserdevice.h"
#include "core/settings/programfolder.h"
#include "platform/qt/qtplatform.h"
#include "platform/qt/qtserialport.h"
#include "recorders.h"
#include "window/app/console.h"
#include "windowrecorders.h"

namespace tarnivel::test {

struct RealConsoleRig {
    // folder: where the settings, the temperature log and the COMn links live.
    explicit RealConsoleRig(const QString& folder);

    ProgramFolder programFolder;
    QtPlatform platform;
    QtSerialPort port;
    RecordingSoundPlayer sound;
    ScriptedMessageBox messages;
    RecordingBusyCursor cursor;
    FocuserDevice device;
    FocuserLink& link;
    FocuserCommands& commands;
    MotionState& motion;
    Console console;
};

} // namespace tarnivel::test
