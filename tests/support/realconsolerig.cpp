#include "realconsolerig.h"

#include <QDialog>

namespace tarnivel::test {

RealConsoleRig::RealConsoleRig(const QString& folder)
    : programFolder(folder, QStringLiteral("tarnivel")), port(programFolder), link(port, platform),
      commands(link),
      gotos(commands, settings, motion, sound, platform), console{settings,
                                                                  motion,
                                                                  positions,
                                                                  link,
                                                                  commands,
                                                                  gotos,
                                                                  platform,
                                                                  sound,
                                                                  messages,
                                                                  cursor,
                                                                  programFolder.baseName(),
                                                                  programFolder.logPath(),
                                                                  programFolder.logFileName(),
                                                                  {},
                                                                  {},
                                                                  [](QDialog& dialog) {
                                                                      dialog.exec();
                                                                  }} {}

} // namespace tarnivel::test
