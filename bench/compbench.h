#pragma once

#include <QJsonObject>

namespace tarnivel::bench {

// 8. Temperature compensation over a simulated night: the tube cools 3 °C in two hours, the
// sensor reads in sixteenths of a degree with one count of noise, k = -80 steps/°C, and the
// focuser lands on each commanded target at once. Focus error |position - ideal| and moves.
QJsonObject measureCompensation();

} // namespace tarnivel::bench
