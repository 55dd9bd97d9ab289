#pragma once

#include <QJsonObject>
#include <QStringList>

namespace tarnivel::bench {

// The figures as a table for the terminal, each next to its target. Returns the names of
// the figures that missed their targets (or could not be measured).
QStringList printReport(const QJsonObject& results);

} // namespace tarnivel::bench
