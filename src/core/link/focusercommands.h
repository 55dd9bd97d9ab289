#pragma once

#include "core/seams/sequence.h"

#include <QtGlobal>

namespace tarnivel {

class FocuserLink;
enum class Traffic;

inline constexpr double kNotFittedTemperature = -9999.0;

// Message ids of the controller catalogue.
namespace msg {
inline constexpr int GetPosition = 1;
inline constexpr int GotoPosition = 2;
inline constexpr int SetPosition = 4;
inline constexpr int IsSlewDone = 19;
inline constexpr int ApproachPosition = 23;
inline constexpr int SetLimitMin = 26;
inline constexpr int SetLimitMax = 27;
inline constexpr int GetLimitMin = 28;
inline constexpr int GetLimitMax = 29;
inline constexpr int MoveUp = 36;
inline constexpr int MoveDown = 37;
inline constexpr int GetTemperature = 38;
inline constexpr int SetFan = 39;
inline constexpr int GetFanState = 40;
inline constexpr int GetSensorCount = 43;
inline constexpr int GetSensorSlot = 46;
inline constexpr int ReadMemory = 48;
inline constexpr int WriteMemory = 49;
inline constexpr int GetAutoStop = 238;
inline constexpr int SetAutoStop = 239;
inline constexpr int GetFirmwareVersion = 254;
} // namespace msg

// Controller memory registers holding the calibration.
namespace reg {
inline constexpr int Calibrated = 0x40;
inline constexpr int MaxTravel = 0x41;    // 0x41..0x43, most significant first
inline constexpr int RealLimitMin = 0x44; // 0x44..0x46
inline constexpr int RealLimitMax = 0x47; // 0x47..0x49
} // namespace reg

// One named operation per controller message. Results: 0 success, -1 failure; out
// parameters keep the caller's preset on failure unless stated otherwise.
class FocuserCommands {
public:
    explicit FocuserCommands(FocuserLink& link);

    int Device = 18;  // focuser address
    int Device2 = 19; // fan address

    // The commands of the window's poll tick and connect come also as sequences: with a pacer
    // that spends command waits, their waits for the answers go back to the window's loop.
    int GetPosition(); // raw 0..16777215, or -1
    Sequence<int> GetPosition(Pacer& pacer);
    int GotoPosition(int raw);
    int SetPosition(int raw);
    int IsSlewDone(qint32& done);
    Sequence<int> IsSlewDone(Pacer& pacer, qint32& done);
    int ApproachPosition(int raw);
    Sequence<int> ApproachPosition(Pacer& pacer, int raw);
    int SetLimitMin(int position, int adjust);
    int SetLimitMax(int position, int adjust);
    int GetLimitMin(qint32& value);
    Sequence<int> GetLimitMin(Pacer& pacer, qint32& value);
    int GetLimitMax(qint32& value);
    Sequence<int> GetLimitMax(Pacer& pacer, qint32& value);
    // The active limits' bytes as last set or read (0: off), -1 while none was set or read.
    int KnownLimitMinByte() const { return knownLimitMin_; }
    int KnownLimitMaxByte() const { return knownLimitMax_; }
    int MoveAtRate(int rate);
    Sequence<int> MoveAtRate(Pacer& pacer, int rate);
    // The operator's stop: the rate-0 frame of MoveAtRate(0), sent even inside another
    // command's wait; no activity started before it moves the focuser again.
    int Stop();
    // Degrees Celsius; kNotFittedTemperature when the slot is empty; 0.0 when the read
    // failed, which *ok reports as false.
    double GetTemperature(int sensor, bool* ok = nullptr);
    Sequence<double> GetTemperature(Pacer& pacer, int sensor, bool* ok = nullptr);
    int SetFan(bool on);
    Sequence<int> SetFan(Pacer& pacer, bool on);
    int GetFanState(qint32& running);
    Sequence<int> GetFanState(Pacer& pacer, qint32& running);
    int GetSensorCount(qint32& count);
    Sequence<int> GetSensorCount(Pacer& pacer, qint32& count);
    int GetSensorSlot(int n, qint32& slot);
    Sequence<int> GetSensorSlot(Pacer& pacer, int n, qint32& slot);
    int GetCalibrated(qint32& value);
    Sequence<int> GetCalibrated(Pacer& pacer, qint32& value);
    int SetCalibrated(int value);
    // 24-bit register values: a byte whose read failed counts as 0; the result is -1 when
    // any of the three reads failed.
    int GetMaxTravel(qint32& value);
    int SetMaxTravel(int value);
    int GetRealLimitMin(qint32& value);
    int SetRealLimitMin(int value);
    int GetRealLimitMax(qint32& value);
    int SetRealLimitMax(int value);
    // One byte of controller memory: a frame each. The 24-bit values above are three
    // registers, most significant first.
    int ReadRegister(int reg, qint32& value);
    Sequence<int> ReadRegister(Pacer& pacer, int reg, qint32& value);
    int WriteRegister(int reg, int value);
    // A 24-bit register (MaxTravel, the real limits) a frame at a time, with a turn of the
    // caller's loop between frames, so an abort never waits behind a whole register. A byte
    // whose read failed counts as 0 and the result is -1.
    Sequence<int> ReadRegister24(Pacer& pacer, int firstRegister, qint32& value);
    Sequence<int> WriteRegister24(Pacer& pacer, int firstRegister, int value);
    static qint32 Join24(const qint32 (&bytes)[3]);
    static int Byte24(int value, int index); // index 0 is the most significant
    int GetAutoStop(qint32& value);
    Sequence<int> GetAutoStop(Pacer& pacer, qint32& value);
    int SetAutoStop(int value);
    Sequence<int> SetAutoStop(Pacer& pacer, int value);
    int GetFirmwareVersion(qint32& major, qint32& minor);
    Sequence<int> GetFirmwareVersion(Pacer& pacer, qint32& major, qint32& minor);
    bool ProbeFocuser();
    Sequence<bool> ProbeFocuser(Pacer& pacer);

    static double CelsiusToFahrenheit(double celsius);
    // The one byte sent by SetLimitMin/SetLimitMax: 0 (limit off) for position 0 and for
    // an adjusted byte outside 1..255.
    static int LimitByte(int position, int adjust);
    // Decodes the 2-byte temperature reply value (first byte in bits 8..15).
    static double DecodeTemperature(qint32 replyValue);

    FocuserLink& link() { return link_; }

private:
    Sequence<int> SendRate(Pacer& pacer, int rate, Traffic traffic);

    FocuserLink& link_;
    // Runs the sequence forms straight through for the plain calls: their commands then wait in
    // place on the link's platform. It keeps no state, so a stop sent inside another command's
    // wait may share it.
    StraightPacer straight_;
    int knownLimitMin_ = -1;
    int knownLimitMax_ = -1;
};

} // namespace tarnivel
