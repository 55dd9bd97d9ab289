// The console's in-place exchanges: the window's own commands, which wait as every command of
// its engine does (sleeping in slices and pumping events), so that its handlers reach the
// controller only through the device.

#include "core/device/focuserdevice.h"

namespace tarnivel {

void FocuserDevice::AddressFromSettings() {
    commands_.Device = settings_.Device;
    commands_.Device2 = settings_.Device2;
}

bool FocuserDevice::ProbeInPlace() {
    if (!commands_.ProbeFocuser())
        return false;
    ConnectedInPlace();
    return true;
}

void FocuserDevice::ReadSensorsInPlace() {
    // Asked at every connect; the answers are not needed.
    qint32 count = 0;
    commands_.GetSensorCount(count);
    for (int n = 1; n <= count; ++n) {
        qint32 slot = 0;
        commands_.GetSensorSlot(n, slot);
    }
}

void FocuserDevice::ReadAutoStopAndLimitsInPlace() {
    const qint32 autoStop = ReadAutoStopInPlace();
    // The commands keep the bytes read, so that gotos stay inside the limits.
    ReadActiveLimitsInPlace();
    // Every connect leaves the controller's auto-stop on.
    if (autoStop == 0)
        WriteAutoStop(true);
}

std::optional<qint32> FocuserDevice::ReadCalibratedInPlace() {
    qint32 calibrated = 0;
    if (commands_.GetCalibrated(calibrated) != 0)
        return std::nullopt;
    return calibrated;
}

bool FocuserDevice::ReadActiveLimitsInPlace() {
    qint32 lower = 0;
    qint32 upper = 0;
    commands_.GetLimitMin(lower);
    commands_.GetLimitMax(upper);
    return lower != 0 || upper != 0;
}

qint32 FocuserDevice::ReadAutoStopInPlace() {
    qint32 autoStop = 0;
    commands_.GetAutoStop(autoStop);
    return autoStop;
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
    if (commands_.SetAutoStop(on ? 1 : 0) != 0)
        return false;
    state_.autoStop = on;
    Notify();
    return true;
}

void FocuserDevice::SetJogRateInPlace(int rate) {
    commands_.MoveAtRate(rate);
}

void FocuserDevice::StopInPlace() {
    commands_.Stop();
}

void FocuserDevice::SetFanInPlace(bool on) {
    commands_.SetFan(on);
}

FocuserDevice::LimitBytes FocuserDevice::ActiveLimitBytes() const {
    return {commands_.KnownLimitMinByte(), commands_.KnownLimitMaxByte()};
}

} // namespace tarnivel
