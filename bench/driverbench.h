#pragma once

#include <QJsonObject>
#include <QString>

namespace tarnivel::bench {

// indi_tarnivel_focus against the simulator tool, spoken to on its standard input and output
// as the INDI server would: idle cost while connected, time from a new ABS_FOCUS_POSITION to
// the first motion frame, time from an abort to the stop frame, and the goto overhead of the
// driver and of the console's goto engine on its poll tick.
QJsonObject measureDriver(const QString& simPath, const QString& driverPath, int idleSeconds);

} // namespace tarnivel::bench
