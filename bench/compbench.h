#pragma once

#include <QJsonObject>

namespace tarnivel::bench {

// 9. Temperature compensation over a night: first on virtual time, the tube 3 °C cooler (and
// warmer) in two hours, the sensor in sixteenths of a degree with one count of noise, k = -80
// steps/°C, the focuser landing on each target at once; then in real time, the served device
// against tarnivel-sim (simPath) on a pseudo-terminal for nightMinutes with its sensor 3 °C
// cooler at the end. Focus error |position - ideal|, moves, steps travelled per step corrected,
// seconds per correction.
QJsonObject measureCompensation(const QString& simPath, int nightMinutes);

} // namespace tarnivel::bench
