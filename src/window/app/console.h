#pragma once

#include <QString>
#include <functional>

class QDialog;

namespace tarnivel {

class BusyCursor;
class FocuserCommands;
class FocuserLink;
class GotoController;
class MessageBox;
class Platform;
class SavedPositionList;
class SoundPlayer;
struct FocuserSettings;
struct MotionState;

// Everything the windows and dialogs share, built once by the composition root (Main)
// or by a test with its own seams. Nothing here is global.
struct Console {
    FocuserSettings& settings;
    MotionState& motion;
    SavedPositionList& positions;
    FocuserLink& link;
    FocuserCommands& commands;
    GotoController& gotos;
    Platform& platform;
    SoundPlayer& sound;
    MessageBox& messages;
    BusyCursor& cursor;
    QString appTitle;    // the executable's name without extension: title of messages
    QString logPath;     // temperature log
    QString logFileName; // shown by the options dialog
    // Filled by the main window.
    std::function<void()> DisplayPosition;
    std::function<void(bool)> EnableMotionControls;
    // Shows a dialog modally; tests replace it with a script that drives the dialog.
    std::function<void(QDialog&)> RunModal;
};

} // namespace tarnivel
