#pragma once

#include <QJsonObject>
#include <QString>

namespace tarnivel::bench {

// tarnivel-alpaca against the simulator tool, spoken to over HTTP as an imaging program
// would: GET position latency standing and while a move runs, move request to the first
// motion frame, halt to the rate-0 frame, and the daemon's idle cost while connected.
QJsonObject measureAlpaca(const QString& simPath, const QString& daemonPath, int idleSeconds);

} // namespace tarnivel::bench
