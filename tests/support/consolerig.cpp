#include "consolerig.h"

#include <QDialog>
#include <QDir>

namespace tarnivel::test {

ConsoleRig::ConsoleRig(const sim::SimConfig& config)
    : sim(config), device(sim.commands, sound), settings(device.settings()),
      motion(device.motion()), positions(device.positions()), gotos(device.gotos()),
      console(device, messages, cursor, QStringLiteral("tarnivel"),
              QDir(dir.path()).filePath(QStringLiteral("tarnivel.csv")),
              QStringLiteral("tarnivel.csv")) {
    console.EnableMotionControls = [this](bool enabled) { motionControlsCalls.append(enabled); };
    console.RunModal = [](QDialog& dialog) { dialog.exec(); };
}

} // namespace tarnivel::test
