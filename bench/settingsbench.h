#pragma once

#include <QJsonObject>
#include <QString>

namespace tarnivel::bench {

// Writes a settings file holding count saved positions with distinct names, in no
// particular order (as a hand-edited file may have them). False when it cannot be written.
bool writeSettingsWithPositions(const QString& path, int count, quint32 seed);

// 5. Load and save of settings files with 100, 1,000, 10,000 and 100,000 saved positions.
QJsonObject measureSettingsScale();

} // namespace tarnivel::bench
