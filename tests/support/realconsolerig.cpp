#include "realconsolerig.h"

#include <QDialog>

namespace tarnivel::test {

RealConsoleRig::RealConsoleRig(const QString& folder)
    : programFolder(folder, QStringLiteral("tarnivel")), port(programFolder),
      device(port, platform, sound), link(device.link()), commands(device.commands()),
      motion(device.motion()), console(device, messages, cursor, programFolder.baseName(),
                                       programFolder.logPath(), programFolder.logFileName()) {
    console.RunModal = [](QDialog& dialog) { dialog.exec(); };
}

} // namespace tarnivel::test
