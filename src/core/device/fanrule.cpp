#include "core/device/fanrule.h"

#include "core/link/focusercommands.h"
#include "core/settings/focusersettings.h"

namespace tarnivel {

FanVerdict DecideFan(int fanMode, const TemperatureReadings& celsius, int degrees,
                     const FocuserSettings& settings) {
    if (fanMode < 1 || fanMode > 3)
        return FanVerdict::Manual;
    const auto toDisplay = [degrees](double c) {
        return degrees == 0 ? c : FocuserCommands::CelsiusToFahrenheit(c);
    };
    const TemperatureReading& reference = celsius[0];
    const TemperatureReading& other = celsius[fanMode - 1];
    if (!reference || !other)
        return FanVerdict::SensorMissing;
    double value = toDisplay(*reference);
    if (fanMode != 1)
        value -= toDisplay(*other);
    const double limit = fanMode == 1   ? settings.SensorLimit1
                         : fanMode == 2 ? settings.SensorLimit2
                                        : settings.SensorLimit3;
    return value > limit ? FanVerdict::Run : FanVerdict::Rest;
}

bool FanCommandDue(FanVerdict verdict, qint32 running) {
    switch (verdict) {
    case FanVerdict::SensorMissing:
        return true;
    case FanVerdict::Run:
        return running == 0;
    case FanVerdict::Rest:
        return running == 1;
    case FanVerdict::Manual:
        break;
    }
    return false;
}

Sequence<bool> SendFanCommand(FocuserCommands& commands, Pacer& pacer, FanVerdict verdict,
                              qint32 running) {
    if (FanCommandDue(verdict, running))
        co_await commands.SetFan(pacer, verdict == FanVerdict::Run);
    co_return true;
}

} // namespace tarnivel
