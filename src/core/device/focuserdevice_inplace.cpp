// The console's own exchanges: the window's commands, so that its handlers reach the controller
// only through the device. The sequences wait as the window's pacer spends command waits (its
// loop); the others in place, sleeping in slices and pumping events.

#include "core/device/focuserdevice.h"

namespace tarnivel {

void FocuserDevice::AddressFromSettings() {
    commands_.Device = settings_.Device;
    commands_.Device2 = settings_.Device2;
}

Sequence<bool> FocuserDevice::Probe(Pacer& pacer) {
    const bool answered = co_await commands_.ProbeFocuser(pacer);
    if (!answered)
        co_return false;
    ConnectedInPlace();
    co_return true;
}

Sequence<bool> FocuserDevice::ReadSensors(Pacer& pacer) {
    // Asked at every connect; the answers are not needed.
    qint32 count = 0;
    co_await commands_.GetSensorCount(pacer, count);
    for (int n = 1; n <= count; ++n) {
        qint32 slot = 0;
        co_await commands_.GetSensorSlot(pacer, n, slot);
    }
    co_return true;
}

Sequence<bool> FocuserDevice::ReadAutoStopAndLimits(Pacer& pacer) {
    const qint32 autoStop = co_await ReadAutoStop(pacer);
    // The commands keep the bytes read, so that gotos stay inside the limits.
    co_await ReadActiveLimits(pacer);
    // Every connect leaves the controller's auto-stop on.
    if (autoStop == 0)
        co_await WriteAutoStop(pacer, true);
    co_return true;
}

std::optional<qint32> FocuserDevice::ReadCalibratedInPlace() {
    qint32 calibrated = 0;
    if (commands_.GetCalibrated(calibrated) != 0)
        return std::nullopt;
    return calibrated;
}

bool FocuserDevice::ReadActiveLimitsInPlace() {
    StraightPacer straight;
    return ReadActiveLimits(straight).RunToEnd();
}

Sequence<bool> FocuserDevice::ReadActiveLimits(Pacer& pacer) {
    qint32 lower = 0;
    qint32 upper = 0;
    co_await commands_.GetLimitMin(pacer, lower);
    co_await commands_.GetLimitMax(pacer, upper);
    co_return lower != 0 || upper != 0;
}

qint32 FocuserDevice::ReadAutoStopInPlace() {
    StraightPacer straight;
    return ReadAutoStop(straight).RunToEnd();
}

Sequence<qint32> FocuserDevice::ReadAutoStop(Pacer& pacer) {
    qint32 autoStop = 0;
    co_await commands_.GetAutoStop(pacer, autoStop);
    co_return autoStop;
}

QString FocuserDevice::ReadFirmwareInPlace() {
    qint32 major = 0;
    qint32 minor = 0;
    commands_.GetFirmwareVersion(major, minor);
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

FocuserDevice::StatesReport FocuserDevice::ReadStatesReport() {
    StatesReport r;
    commands_.GetLimitMin(r.limitMin);
    commands_.GetLimitMax(r.limitMax);
    commands_.GetRealLimitMin(r.realLimitMin);
    commands_.GetRealLimitMax(r.realLimitMax);
    commands_.GetAutoStop(r.autoStop);
    commands_.GetCalibrated(r.calibrated);
    commands_.GetMaxTravel(r.maxTravel);
    return r;
}

bool FocuserDevice::WriteAutoStop(bool on) {
    StraightPacer straight;
    return WriteAutoStop(straight, on).RunToEnd();
}

Sequence<bool> FocuserDevice::WriteAutoStop(Pacer& pacer, bool on) {
    const int value = on ? 1 : 0;
    const int sent = co_await commands_.SetAutoStop(pacer, value);
    if (sent != 0)
        co_return false;
    state_.autoStop = on;
    Notify();
    co_return true;
}

void FocuserDevice::SetJogRateInPlace(int rate) {
    commands_.MoveAtRate(rate);
}

Sequence<int> FocuserDevice::SetJogRate(Pacer& pacer, int rate) {
    return commands_.MoveAtRate(pacer, rate);
}

void FocuserDevice::StopInPlace() {
    commands_.Stop();
}

Sequence<int> FocuserDevice::SetFan(Pacer& pacer, bool on) {
    return commands_.SetFan(pacer, on);
}

FocuserDevice::LimitBytes FocuserDevice::ActiveLimitBytes() const {
    return {commands_.KnownLimitMinByte(), commands_.KnownLimitMaxByte()};
}

} // namespace tarnivel
