#pragma once

#include <QJsonObject>
#include <QString>

namespace tarnivel::bench {

// tarnivel-alpaca against the simulator tool, spoken to over HTTP as an imaging program
// would: GET position latency standing and while a move runs, move request to the first
// motion frame, halt to the rate-0 frame, and the daemon's idle cost while connected.
QJsonObject measureAlpaca(const QString& simPath, const QString& daemonPath, int idleSeconds);
// Connects to a calibrated 200000-step focuser with 15 % of the controller's answers late:
// how many connects showed the right scale, how many a wrong one (the target is none), and
// the honest failures apart.
QJsonObject measureLateConnects(const QString& simPath, const QString& daemonPath, int connects);
// The same figures (without the idle cost) for the console serving Alpaca as the hub: the
// bench itself as the console's child (benchPath), connected, on the same simulated focuser.
QJsonObject measureHub(const QString& simPath, const QString& benchPath);

} // namespace tarnivel::bench
