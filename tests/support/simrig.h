#pragma once

// A focuser link wired to the simulated controller on virtual time. The simulator work
// implements this (simrig.cpp); its API is what every room's tests build on.

#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "sim/controllermodel.h"
#include "sim/simserialport.h"
#include "virtualplatform.h"

#include <QStringList>

namespace tarnivel::test {

struct SimRig {
    explicit SimRig(const sim::SimConfig& config = sim::SimConfig());

    VirtualPlatform platform;
    sim::ControllerModel model;
    sim::SimSerialPort port;
    FocuserLink link;
    FocuserCommands commands;

    // Opens the port as COM1 and sets LinkOpen, as a successful connect would.
    void connect();
    // Every frame the controller received, oldest first, as "50 01 12 01 00 00 00 03".
    QStringList framesHex() const;
    void clearFrames();
};

} // namespace tarnivel::test
