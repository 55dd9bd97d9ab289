#include "core/link/focusercommands.h"

#include "core/link/focuserlink.h"

namespace tarnivel {

namespace {

// Data and reply sizes of the catalogue.
constexpr int kNoData = 0;
constexpr int kOneByte = 1;
constexpr int kTwoBytes = 2;
constexpr int kThreeBytes = 3;

constexpr int kFanOnByte = 3; // what SetFan writes to switch the fans on
// The fan bus reports the other way round: a reply of 3 means the fans are stopped.
constexpr int kFanStoppedReply = 3;
constexpr int kNoSensorByte = 0x7F;
constexpr int kSixteenthsNegative = 0x8000;
constexpr int kSixteenthsRange = 0x10000;
constexpr int kSixteenthsPerDegree = 16;
// What the controller's sensors can measure; anything outside is no reading of theirs (an
// answer meant for another question, a damaged byte).
constexpr double kLowestCelsius = -55.0;
constexpr double kHighestCelsius = 125.0;
constexpr int kTenThousandthsPerSixteenth = 625;

} // namespace

FocuserCommands::FocuserCommands(FocuserLink& link) : link_(link) {}

int FocuserCommands::GetPosition() {
    return GetPosition(straight_).RunToEnd();
}

Sequence<int> FocuserCommands::GetPosition(Pacer& pacer) {
    qint32 value = 0;
    const int result =
        co_await link_.Send(pacer, Device, msg::GetPosition, 0, kNoData, kThreeBytes, value);
    co_return result == 0 ? value : -1;
}

int FocuserCommands::GotoPosition(int raw) {
    qint32 unused = 0;
    return link_.SendCommand(Device, msg::GotoPosition, raw, kThreeBytes, 0, unused,
                             Traffic::Motion);
}

int FocuserCommands::SetPosition(int raw) {
    qint32 unused = 0;
    return link_.SendCommand(Device, msg::SetPosition, raw, kThreeBytes, 0, unused);
}

int FocuserCommands::IsSlewDone(qint32& done) {
    return IsSlewDone(straight_, done).RunToEnd();
}

Sequence<int> FocuserCommands::IsSlewDone(Pacer& pacer, qint32& done) {
    co_return co_await link_.Send(pacer, Device, msg::IsSlewDone, 0, kNoData, kOneByte, done);
}

int FocuserCommands::ApproachPosition(int raw) {
    return ApproachPosition(straight_, raw).RunToEnd();
}

Sequence<int> FocuserCommands::ApproachPosition(Pacer& pacer, int raw) {
    qint32 unused = 0;
    co_return co_await link_.Send(pacer, Device, msg::ApproachPosition, raw, kThreeBytes, 0, unused,
                                  Traffic::Motion);
}

int FocuserCommands::LimitByte(int position, int adjust) {
    if (position == 0)
        return 0;
    // A real limit within one 65536-step block of either end would wrap to the opposite
    // end of the travel (-1 reads as 255); no active limit is safer than a wrong one.
    const qint64 byte = static_cast<qint64>(position) / 65536 + adjust;
    if (byte < 1 || byte > 255)
        return 0;
    return static_cast<int>(byte);
}

int FocuserCommands::SetLimitMin(int position, int adjust) {
    qint32 unused = 0;
    const int byte = LimitByte(position, adjust);
    const int result = link_.SendCommand(Device, msg::SetLimitMin, byte, kOneByte, 0, unused);
    // A failed write leaves the controller's limit unknown.
    knownLimitMin_ = result == 0 ? byte : -1;
    return result;
}

int FocuserCommands::SetLimitMax(int position, int adjust) {
    qint32 unused = 0;
    const int byte = LimitByte(position, adjust);
    const int result = link_.SendCommand(Device, msg::SetLimitMax, byte, kOneByte, 0, unused);
    knownLimitMax_ = result == 0 ? byte : -1;
    return result;
}

int FocuserCommands::GetLimitMin(qint32& value) {
    return GetLimitMin(straight_, value).RunToEnd();
}

Sequence<int> FocuserCommands::GetLimitMin(Pacer& pacer, qint32& value) {
    const int result =
        co_await link_.Send(pacer, Device, msg::GetLimitMin, 0, kNoData, kThreeBytes, value);
    if (result == 0)
        knownLimitMin_ = (value >> 16) & 0xFF;
    co_return result;
}

int FocuserCommands::GetLimitMax(qint32& value) {
    return GetLimitMax(straight_, value).RunToEnd();
}

Sequence<int> FocuserCommands::GetLimitMax(Pacer& pacer, qint32& value) {
    const int result =
        co_await link_.Send(pacer, Device, msg::GetLimitMax, 0, kNoData, kThreeBytes, value);
    if (result == 0)
        knownLimitMax_ = (value >> 16) & 0xFF;
    co_return result;
}

int FocuserCommands::MoveAtRate(int rate) {
    return MoveAtRate(straight_, rate).RunToEnd();
}

Sequence<int> FocuserCommands::MoveAtRate(Pacer& pacer, int rate) {
    return SendRate(pacer, rate, rate != 0 ? Traffic::Motion : Traffic::Ordinary);
}

int FocuserCommands::Stop() {
    return SendRate(straight_, 0, Traffic::Stop).RunToEnd();
}

Sequence<int> FocuserCommands::SendRate(Pacer& pacer, int rate, Traffic traffic) {
    qint32 unused = 0;
    const int id = rate >= 0 ? msg::MoveUp : msg::MoveDown;
    const qint64 magnitude = rate >= 0 ? static_cast<qint64>(rate) : -static_cast<qint64>(rate);
    co_return co_await link_.Send(pacer, Device, id, static_cast<qint32>(magnitude & 0xFF),
                                  kOneByte, 0, unused, traffic);
}

double FocuserCommands::DecodeTemperature(qint32 replyValue) {
    const int first = (replyValue / 256) % 256;
    const int second = replyValue % 256;
    if (first == kNoSensorByte && second == kNoSensorByte)
        return kNotFittedTemperature;
    // The only little-endian value of the protocol.
    int sixteenths = second * 256 + first;
    const bool negative = sixteenths >= kSixteenthsNegative;
    if (negative)
        sixteenths = kSixteenthsRange - sixteenths;
    const int whole = sixteenths / kSixteenthsPerDegree;
    const int tenths = ((sixteenths % kSixteenthsPerDegree) * kTenThousandthsPerSixteenth) / 1000;
    const double t = tenths / 10.0 + whole;
    return negative ? -t : t;
}

double FocuserCommands::GetTemperature(int sensor, bool* ok) {
    return GetTemperature(straight_, sensor, ok).RunToEnd();
}

Sequence<double> FocuserCommands::GetTemperature(Pacer& pacer, int sensor, bool* ok) {
    // A failed read decodes from the preset 0 as 0.0 degrees; ok tells it from a real 0.0.
    qint32 value = 0;
    const int result = co_await link_.Send(pacer, Device, msg::GetTemperature, sensor - 1, kOneByte,
                                           kTwoBytes, value);
    const double celsius = DecodeTemperature(value);
    const bool plausible = celsius == kNotFittedTemperature ||
                           (celsius >= kLowestCelsius && celsius <= kHighestCelsius);
    if (ok)
        *ok = result == 0 && plausible;
    co_return plausible ? celsius : 0.0;
}

int FocuserCommands::SetFan(bool on) {
    return SetFan(straight_, on).RunToEnd();
}

Sequence<int> FocuserCommands::SetFan(Pacer& pacer, bool on) {
    qint32 unused = 0;
    const int byte = on ? kFanOnByte : 0;
    co_return co_await link_.Send(pacer, Device2, msg::SetFan, byte, kOneByte, 0, unused);
}

int FocuserCommands::GetFanState(qint32& running) {
    return GetFanState(straight_, running).RunToEnd();
}

Sequence<int> FocuserCommands::GetFanState(Pacer& pacer, qint32& running) {
    qint32 value = running;
    const int result =
        co_await link_.Send(pacer, Device2, msg::GetFanState, 0, kNoData, kOneByte, value);
    // Mapped even after a failure, from the caller's preset.
    running = value == kFanStoppedReply ? 0 : 1;
    co_return result;
}

int FocuserCommands::GetSensorCount(qint32& count) {
    return GetSensorCount(straight_, count).RunToEnd();
}

Sequence<int> FocuserCommands::GetSensorCount(Pacer& pacer, qint32& count) {
    co_return co_await link_.Send(pacer, Device, msg::GetSensorCount, 0, kNoData, kOneByte, count);
}

int FocuserCommands::GetSensorSlot(int n, qint32& slot) {
    return GetSensorSlot(straight_, n, slot).RunToEnd();
}

Sequence<int> FocuserCommands::GetSensorSlot(Pacer& pacer, int n, qint32& slot) {
    const int result =
        co_await link_.Send(pacer, Device, msg::GetSensorSlot, n - 1, kOneByte, kOneByte, slot);
    // The controller counts slots from 0; the caller's preset moves up by one on failure too.
    slot = slot + 1;
    co_return result;
}

int FocuserCommands::ReadRegister(int reg, qint32& value) {
    return ReadRegister(straight_, reg, value).RunToEnd();
}

Sequence<int> FocuserCommands::ReadRegister(Pacer& pacer, int reg, qint32& value) {
    co_return co_await link_.Send(pacer, Device, msg::ReadMemory, reg, kOneByte, kOneByte, value);
}

int FocuserCommands::WriteRegister(int reg, int value) {
    qint32 unused = 0;
    return link_.SendCommand(Device, msg::WriteMemory, reg * 256 + (value & 0xFF), kTwoBytes, 0,
                             unused);
}

int FocuserCommands::GetCalibrated(qint32& value) {
    return ReadRegister(reg::Calibrated, value);
}

Sequence<int> FocuserCommands::GetCalibrated(Pacer& pacer, qint32& value) {
    return ReadRegister(pacer, reg::Calibrated, value);
}

int FocuserCommands::SetCalibrated(int value) {
    return WriteRegister(reg::Calibrated, value);
}

qint32 FocuserCommands::Join24(const qint32 (&bytes)[3]) {
    return (bytes[0] & 0xFF) * 65536 + (bytes[1] & 0xFF) * 256 + (bytes[2] & 0xFF);
}

int FocuserCommands::Byte24(int value, int index) {
    return static_cast<int>((static_cast<quint32>(value) >> (8 * (2 - index))) & 0xFF);
}

Sequence<int> FocuserCommands::ReadRegister24(Pacer& pacer, int firstRegister, qint32& value) {
    int result = 0;
    qint32 bytes[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            co_await PumpEvents(pacer);
        const int read = co_await ReadRegister(pacer, firstRegister + i, bytes[i]);
        if (read != 0)
            result = -1;
    }
    value = Join24(bytes);
    co_return result;
}

Sequence<int> FocuserCommands::WriteRegister24(Pacer& pacer, int firstRegister, int value) {
    int result = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            co_await PumpEvents(pacer);
        if (WriteRegister(firstRegister + i, Byte24(value, i)) != 0)
            result = -1;
    }
    co_return result;
}

int FocuserCommands::GetMaxTravel(qint32& value) {
    return ReadRegister24(straight_, reg::MaxTravel, value).RunToEnd();
}

int FocuserCommands::SetMaxTravel(int value) {
    return WriteRegister24(straight_, reg::MaxTravel, value).RunToEnd();
}

int FocuserCommands::GetRealLimitMin(qint32& value) {
    return ReadRegister24(straight_, reg::RealLimitMin, value).RunToEnd();
}

int FocuserCommands::SetRealLimitMin(int value) {
    return WriteRegister24(straight_, reg::RealLimitMin, value).RunToEnd();
}

int FocuserCommands::GetRealLimitMax(qint32& value) {
    return ReadRegister24(straight_, reg::RealLimitMax, value).RunToEnd();
}

int FocuserCommands::SetRealLimitMax(int value) {
    return WriteRegister24(straight_, reg::RealLimitMax, value).RunToEnd();
}

int FocuserCommands::GetAutoStop(qint32& value) {
    return GetAutoStop(straight_, value).RunToEnd();
}

Sequence<int> FocuserCommands::GetAutoStop(Pacer& pacer, qint32& value) {
    co_return co_await link_.Send(pacer, Device, msg::GetAutoStop, 0, kNoData, kOneByte, value);
}

int FocuserCommands::SetAutoStop(int value) {
    return SetAutoStop(straight_, value).RunToEnd();
}

Sequence<int> FocuserCommands::SetAutoStop(Pacer& pacer, int value) {
    qint32 unused = 0;
    co_return co_await link_.Send(pacer, Device, msg::SetAutoStop, value, kOneByte, 0, unused);
}

int FocuserCommands::GetFirmwareVersion(qint32& major, qint32& minor) {
    return GetFirmwareVersion(straight_, major, minor).RunToEnd();
}

Sequence<int> FocuserCommands::GetFirmwareVersion(Pacer& pacer, qint32& major, qint32& minor) {
    qint32 value = 0;
    const int result =
        co_await link_.Send(pacer, Device, msg::GetFirmwareVersion, 0, kNoData, kTwoBytes, value);
    if (result == 0) {
        major = value / 256;
        minor = value % 256;
    }
    co_return result;
}

bool FocuserCommands::ProbeFocuser() {
    return ProbeFocuser(straight_).RunToEnd();
}

Sequence<bool> FocuserCommands::ProbeFocuser(Pacer& pacer) {
    qint32 major = 0;
    qint32 minor = 0;
    const int result = co_await GetFirmwareVersion(pacer, major, minor);
    co_return result == 0;
}

double FocuserCommands::CelsiusToFahrenheit(double celsius) {
    return celsius * 9 / 5 + 32;
}

} // namespace tarnivel
