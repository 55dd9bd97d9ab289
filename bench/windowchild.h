#pragma once

#include <QString>

namespace tarnivel::bench {

// What the parent asks a child process to do. The child composes the real main window on
// the real seams in folder (settings file tarnivel.ini, COM links) and prints one result.
struct ChildOptions {
    QString mode;   // "startup", "idle" or "plot"
    QString folder; // the program folder
    int seconds = 30;
    bool connect = false; // idle: connect to COM1 first
    int servePort = 0;    // idle: serve Alpaca on this port (the console as the hub)
};

// Process start to the first painted frame of the main window, and peak resident memory.
int runStartupChild(int& argc, char** argv, const ChildOptions& options);
// CPU time of the whole process over options.seconds of the window's own event loop.
int runIdleChild(int& argc, char** argv, const ChildOptions& options);

} // namespace tarnivel::bench
