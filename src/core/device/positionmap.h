#pragma once

#include <QtGlobal>

namespace tarnivel {

// The scale that network clients (INDI, Alpaca) see: unsigned positions from the inward end.
// For a calibrated focuser the upper end stop is position `travel` (the stored MaxTravel) and
// the stored real upper limit says what the counter reads there, so
//     client = signed + (travel - upper),    signed = client - (travel - upper).
// The console's "Reset Position to Zero" and its ReAlign move the counter together with the
// stored real limits, so the scale stays on the end stops. A real upper limit of 0 (stored by
// nothing but an older program) falls back to the calibration's centring: upper = half the
// travel, halves to even. An uncalibrated counter has no end stops to anchor on; its whole
// signed range -8388607..8388608 maps onto 0..16777215 (client = signed + 8388607).
class PositionMap {
public:
    // calibrated: the controller's Calibrated flag; travel: its stored MaxTravel; realUpper:
    // its stored real upper limit (raw).
    static PositionMap FromController(bool calibrated, qint32 travel, qint32 realUpper = 0);
    // An uncalibrated focuser whose controller holds both active limits: position 0 is the
    // lower limit and Max() the upper (raw counter values, lower below upper), the span it can
    // reach. Limits the other way round give the whole counter, as uncalibrated.
    static PositionMap FromActiveLimits(qint32 lower, qint32 upper);
    // Whether the four reads a scale is built from belong together: a flag of 0 or 1, and on a
    // calibrated focuser whose real limits are both stored, limits that span MaxTravel within
    // a few steps. An answer taken from another question fails this.
    static bool ReadsAgree(qint32 calibrated, qint32 travel, qint32 realLower, qint32 realUpper);
    // Whether the end stops (or the active limits standing in for them) define the scale.
    bool Anchored() const { return max_ != kUnanchoredMax; }

    quint32 Max() const { return max_; }
    // The raw counter value as a network client's position (INDI, Alpaca); a raw value beyond
    // an end stop (never reached by a working focuser) reads as that end.
    quint32 ToClient(int raw) const;
    // A client's position as the raw counter value (positions above Max() as Max()).
    int ToRaw(quint32 client) const;
    // The signed counter value of client position 0.
    qint64 Offset() const { return offset_; }

private:
    static constexpr quint32 kUnanchoredMax = 16777215;
    PositionMap(qint64 offset, quint32 max) : offset_(offset), max_(max) {}
    qint64 offset_;
    quint32 max_;
};

} // namespace tarnivel
