#include "consolerig.h"

#include <QDialog>
#include <QDir>

namespace tarnivel::test {

ConsoleRig::ConsoleRig(const sim::SimConfig& config)
    : sim(config), gotos(sim.commands, settings, motion, sound, sim.platform),
      console{settings,
              motion,
              positions,
              sim.link,
              sim.commands,
              gotos,
              sim.platform,
              sound,
              messages,
              cursor,
              QStringLiteral("tarnivel"),
              QDir(dir.path()).filePath(QStringLiteral("tarnivel.csv")),
              QStringLiteral("tarnivel.csv"),
              {},
              {},
              {}} {
    console.DisplayPosition = [this] {
        const int p = sim.commands.GetPosition();
        if (p != -1)
            motion.CurrentPosition = p;
    };
    console.EnableMotionControls = [this](bool enabled) { motionControlsCalls.append(enabled); };
    console.RunModal = [](QDialog& dialog) { dialog.exec(); };
    gotos.setDisplayPosition([this] { console.DisplayPosition(); });
}

} // namespace tarnivel::test
