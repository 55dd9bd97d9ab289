#pragma once

#include "core/device/temperaturelog.h"
#include "core/seams/sequence.h"

#include <QtGlobal>

namespace tarnivel {

class FocuserCommands;
struct FocuserSettings;

// What the automatic fan rule of FanMode 1..3 wants. Manual: mode 0, the operator decides.
enum class FanVerdict { Manual, SensorMissing, Run, Rest };

// Rule 1: reading 1 above SensorLimit1; rules 2 and 3: reading 1 minus reading 2 (3) above
// SensorLimit2 (3). Readings are Celsius and compared in the display unit of `degrees`;
// a sensor the rule needs that gave no reading rests the fan.
FanVerdict DecideFan(int fanMode, const TemperatureReadings& celsius, int degrees,
                     const FocuserSettings& settings);
// Whether the verdict needs a fan command, given what the controller reported (running:
// 1 running, 0 stopped). A missing sensor always sends off.
bool FanCommandDue(FanVerdict verdict, qint32 running);
// Sends SetFan when FanCommandDue.
Sequence<bool> SendFanCommand(FocuserCommands& commands, Pacer& pacer, FanVerdict verdict,
                              qint32 running);

} // namespace tarnivel
