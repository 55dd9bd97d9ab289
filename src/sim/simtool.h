#pragma once

// The tarnivel-sim tool: the controller model served on a pseudo-terminal, on the real
// clock, so the console talks to it through its own serial port.

#include "sim/controllermodel.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tarnivel::sim {

struct ToolOptions {
    SimConfig config;
    int com = 0; // 0: no COMn link, only the device path is printed
    QString dir; // folder for the link; empty: the console's rule (ProgramFolder)
    bool verbose = false;
    int recoverMs = 5000; // how long the controller stays silent or the port gone
    QList<FaultRule> faults;
};

struct ParseOutcome {
    bool ok = true;
    bool help = false;
    QString message; // the error, or the help text
};

// args includes the program name first, as QCoreApplication::arguments() gives it.
ParseOutcome parseToolArguments(const QStringList& args, ToolOptions& options);

// Serves the model until SIGINT, SIGTERM or SIGHUP. Returns the exit code.
int runTool(const ToolOptions& options);

} // namespace tarnivel::sim
