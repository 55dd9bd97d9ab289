#include "core/device/positionmap.h"

#include "core/units/positionunits.h"

namespace tarnivel {

PositionMap PositionMap::FromController(bool calibrated, qint32 travel, qint32 realUpper) {
    // A travel wider than the counter can only come from a damaged register.
    if (!calibrated || travel <= 0 || travel >= kRawSteps)
        return PositionMap(-static_cast<qint64>(kMinSignedSteps), kRawSteps - 1);
    const qint64 upper = realUpper != 0 ? SignedSteps(realUpper) : RoundToInt(travel / 2.0);
    return PositionMap(travel - upper, static_cast<quint32>(travel));
}

PositionMap PositionMap::FromActiveLimits(qint32 lower, qint32 upper) {
    const qint64 low = SignedSteps(lower);
    const qint64 high = SignedSteps(upper);
    if (high <= low)
        return FromController(false, 0);
    return PositionMap(-low, static_cast<quint32>(high - low));
}

bool PositionMap::ReadsAgree(qint32 calibrated, qint32 travel, qint32 realLower, qint32 realUpper) {
    // The calibration stores the limits at plus and minus half the travel it measured, so an
    // odd travel spans one step more or less.
    constexpr qint64 kSlackSteps = 4;
    if (calibrated != 0 && calibrated != 1)
        return false;
    if (calibrated == 0 || travel <= 0 || realLower == 0 || realUpper == 0)
        return true;
    const qint64 span = qint64(SignedSteps(realUpper)) - SignedSteps(realLower) + 1;
    return qAbs(span - travel) <= kSlackSteps;
}

quint32 PositionMap::ToClient(int raw) const {
    const qint64 client = SignedSteps(raw) + offset_;
    if (client < 0)
        return 0;
    if (client > max_)
        return max_;
    return static_cast<quint32>(client);
}

int PositionMap::ToRaw(quint32 client) const {
    const qint64 position = static_cast<qint64>(qMin(client, max_)) - offset_;
    return WrapSteps(static_cast<int>(position));
}

} // namespace tarnivel
