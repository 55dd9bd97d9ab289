#pragma once

#include <QtGlobal>

namespace tarnivel {

// INDI positions are unsigned and start at the inward end. For a calibrated focuser the
// controller's counter is centred on the travel: the upper end stop reads +half (the travel
// halved, halves to even) and the lower one half - travel. INDI position 0 is that lower end
// stop and FOCUS_MAX the measured travel, so
//     indi = signed + (travel - half),    signed = indi - (travel - half).
// An uncalibrated counter has no end stops to anchor on; its whole signed range
// -8388607..8388608 maps onto 0..16777215 (indi = signed + 8388607).
class PositionMap {
public:
    // calibrated: the controller's Calibrated flag; travel: its stored MaxTravel.
    static PositionMap FromController(bool calibrated, qint32 travel);

    quint32 Max() const { return max_; }
    // The raw counter value as an INDI position; a raw value beyond an end stop (never
    // reached by a working focuser) reads as that end.
    quint32 ToIndi(int raw) const;
    // An INDI position as the raw counter value (positions above Max() as Max()).
    int ToRaw(quint32 indi) const;
    // The signed counter value of INDI position 0.
    qint64 Offset() const { return offset_; }

private:
    PositionMap(qint64 offset, quint32 max) : offset_(offset), max_(max) {}
    qint64 offset_;
    quint32 max_;
};

} // namespace tarnivel
