#pragma once

// The program as it runs: the real seams, the shared state and the main window, built in
// one place so that main() and the end-to-end tests compose exactly the same program.

#include "core/device/focuserdevice.h"
#include "core/settings/programfolder.h"
#include "platform/qt/qtplatform.h"
#include "platform/qt/qtscheduler.h"
#include "platform/qt/qtserialport.h"
#include "platform/qt/qtsoundplayer.h"
#include "window/app/console.h"
#include "window/app/frmtarnivel.h"
#include "window/ui/qtbusycursor.h"
#include "window/ui/qtmessagebox.h"

#include <memory>
#include <optional>

namespace tarnivel {

// The state colours are palette colours, which the platform's native styles may ignore;
// the program draws with Fusion wherever it runs.
void UseProgramStyle();

class ConsoleHub;

class Application {
public:
    // Everything the program keeps (settings, temperature log, COMn links) lives in folder.
    // The main window loads the settings here; it is not shown yet. servePort: serve Alpaca
    // on this port for this run whatever the settings say (0: not at all).
    explicit Application(const ProgramFolder& folder, std::optional<int> servePort = std::nullopt);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    const ProgramFolder& folder() const { return folder_; }
    Console& console() { return console_; }
    frmTarnivel& window() { return window_; }
    // The Alpaca server inside the console, while it serves.
    ConsoleHub* hub() { return hub_.get(); }

private:
    // Declared in the order they must be built: each one uses those above it.
    ProgramFolder folder_;
    QtPlatform platform_;
    QtScheduler scheduler_;
    QtSerialPort port_;
    QtSoundPlayer sound_;
    QtMessageBox messages_;
    QtBusyCursor cursor_;
    FocuserDevice device_;
    Console console_;
    frmTarnivel window_;
    std::unique_ptr<ConsoleHub> hub_;
};

} // namespace tarnivel
