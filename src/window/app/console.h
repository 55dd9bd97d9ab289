#pragma once

#include "core/device/focuserdevice.h"

#include <QString>
#include <functional>

class QDialog;

namespace tarnivel {

class BusyCursor;
class InputGate;
class MessageBox;

// What the window and its dialogs share: the device they drive (its parts named here for the
// handlers' brevity) and the desktop's own seams. Built once by the composition root
// (Application) or by a test with its own seams. Nothing here is global.
struct Console {
    Console(FocuserDevice& device, MessageBox& messages, BusyCursor& cursor, QString appTitle,
            QString logPath, QString logFileName)
        : device(device), settings(device.settings()), motion(device.motion()),
          positions(device.positions()), link(device.link()), gotos(device.gotos()),
          platform(device.platform()), sound(device.sound()), messages(messages), cursor(cursor),
          appTitle(std::move(appTitle)), logPath(std::move(logPath)),
          logFileName(std::move(logFileName)) {}

    FocuserDevice& device;
    FocuserSettings& settings;
    MotionState& motion;
    SavedPositionList& positions;
    FocuserLink& link;
    GotoController& gotos;
    Platform& platform;
    SoundPlayer& sound;
    MessageBox& messages;
    BusyCursor& cursor;
    QString appTitle;    // the executable's name without extension: title of messages
    QString logPath;     // temperature log
    QString logFileName; // shown by the options dialog

    // Reads the position and shows it: the main window's readout once it exists.
    void DisplayPosition() { device.DisplayPosition(); }
    // Filled by the main window.
    std::function<void(bool)> EnableMotionControls;
    InputGate* inputGate = nullptr;
    // The window's event loop as timers: the poll tick's waits go back to it. None in the
    // tests on virtual time, whose waits run in place.
    Scheduler* scheduler = nullptr;
    // Shows a dialog modally; tests replace it with a script that drives the dialog.
    std::function<void(QDialog&)> RunModal;
    // Serves the device to Alpaca clients on a TCP port, or stops (0); returns why it could
    // not. Filled by whoever can build the server (the program, a hub test).
    std::function<QString(int port)> ServeAlpaca;
};

} // namespace tarnivel
