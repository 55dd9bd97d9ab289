#pragma once

#include <QJsonObject>
#include <QString>

namespace tarnivel::bench {

// The pacing floor of a command with n reply bytes: eight characters sent and n + 1 polls,
// each 11 ms.
double floorMs(int replyBytes);

// 1. Command wall time through the real serial port and platform against tarnivel-sim, for a
// 0-, 1-, 2- and 3-byte reply; exchanges of each.
QJsonObject measureCommands(const QString& simPath, int exchanges);

// 2. The longest gap between two events processed while a command waits for its answer
// (a 1 ms precise timer runs throughout), over exchanges position reads.
QJsonObject measureResponsiveness(const QString& simPath, int exchanges);

} // namespace tarnivel::bench
