// The rules every front end shares: the status cycle, the goto start and clean-up, the
// calibration's precondition, the active limits, the counter shift and the clients' scale.

#include "core/device/focuserdevice.h"
#include "core/device/focuserdevice_texts.h"

#include "core/seams/platform.h"
#include "core/seams/serialport.h"
#include "core/seams/soundplayer.h"
#include "core/units/positionunits.h"

#include <algorithm>
#include <utility>

namespace tarnivel {

using namespace devicetext;

void FocuserDevice::DisplayPosition() {
    if (readout_)
        readout_();
    else
        ReadPosition();
}

int FocuserDevice::ReadPosition() {
    StraightPacer straight;
    return ReadPosition(straight).RunToEnd();
}

Sequence<int> FocuserDevice::ReadPosition(Pacer& pacer) {
    const int p = co_await commands_.GetPosition(pacer);
    NotePositionRead(p);
    co_return p;
}

Sequence<StatusReport> FocuserDevice::ReadStatus(Pacer& pacer, std::function<int()> fanMode) {
    StatusReport report;
    for (int n = 1; n <= 3; ++n) {
        bool ok = false;
        const double t = co_await commands_.GetTemperature(pacer, n, &ok);
        report.answered[n - 1] = ok;
        co_await PumpEvents(pacer);
        // A failed read yields 0.0, a temperature nobody measured: treat it as no reading.
        if (ok && t != kNotFittedTemperature)
            report.celsius[n - 1] = t;
    }
    co_await commands_.GetFanState(pacer, report.running);
    co_await PumpEvents(pacer);
    report.verdict = DecideFan(fanMode(), report.celsius, settings_.Degrees, settings_);
    report.commandSent = FanCommandDue(report.verdict, report.running);
    co_await SendFanCommand(commands_, pacer, report.verdict, report.running);
    for (size_t n = 0; n < 3; ++n) {
        // A read that failed says nothing of the sensor: the last good reading stays, stale.
        if (report.answered[n])
            state_.celsius[n] = report.celsius[n];
        state_.sensorFailed[n] = !report.answered[n];
    }
    state_.temperaturesRead = true;
    tempComp_.setParameters(TempCompParameters::From(settings_));
    tempComp_.AddReading(link_.platform().nowMs(), report.celsius);
    co_return report;
}

bool FocuserDevice::BeginGoto(int raw, quint64 stopCount, std::optional<int> overshoot) {
    guestGoto_ = false;
    motion_.MotionDirection = DirectionTo(motion_.CurrentPosition, raw);
    return gotos_.StartGoto(raw, stopCount, overshoot);
}

void FocuserDevice::FinishGoto() {
    // Every goto but compensation's own moves the reference with it. Nothing else starts a
    // goto while compensation's runs: its start locks the window's controls, and a served
    // front end's goto goes through StartGotoRaw, which forgets it.
    if (!compGotoTarget_)
        tempComp_.ReferenceDue();
    compGotoTarget_.reset();
    guestGoto_ = false;
    motion_.GotoDone = false;
    motion_.JogRate = 0;
    motion_.MotionDirection = 0;
    gotos_.ClearGoto();
}

bool FocuserDevice::GuestGotoRunning() const {
    return guestGoto_ && motion_.GotoMode == kGotoModeGoto;
}

QString FocuserDevice::ShortGotoText(int reached, int target) const {
    // Compared as the operator reads them: a step or two off the target is not "short".
    const QString at =
        FormatPositionText(reached, settings_.ScaleFactor, settings_.Decimals).trimmed();
    const QString aim =
        FormatPositionText(target, settings_.ScaleFactor, settings_.Decimals).trimmed();
    if (at == aim)
        return QString();
    return QStringLiteral("Goto stopped short at %1 %3 (target %2 %3)")
        .arg(at, aim, settings_.ScaleUnits);
}

Sequence<Outcome> FocuserDevice::QuickCalibrationCheck(Pacer& pacer) {
    qint32 realMin = 0;
    qint32 realMax = 0;
    qint32 travel = 0;
    bool read = co_await commands_.ReadRegister24(pacer, reg::RealLimitMin, realMin) == 0;
    co_await PumpEvents(pacer);
    read = co_await commands_.ReadRegister24(pacer, reg::RealLimitMax, realMax) == 0 && read;
    co_await PumpEvents(pacer);
    read = co_await commands_.ReadRegister24(pacer, reg::MaxTravel, travel) == 0 && read;
    if (!read)
        co_return Outcome::refused(kSilentText);
    if ((realMin == 0 && realMax == 0) || travel == 0)
        co_return Outcome::refused(kNotCalibratedText);
    co_return Outcome::done();
}

Outcome FocuserDevice::QuickCalibrationAllowed() {
    InlinePacer pacer(link_.platform());
    return QuickCalibrationCheck(pacer).RunToEnd();
}

Sequence<bool> FocuserDevice::WriteActiveLimits(Pacer& pacer, int upper, int lower, bool on) {
    const bool upperSet = commands_.SetLimitMax(upper, on ? -1 : 0) == 0;
    co_await PumpEvents(pacer);
    co_return upperSet&& commands_.SetLimitMin(lower, on ? +1 : 0) == 0;
}

Sequence<int> FocuserDevice::SwitchActiveLimits(Pacer& pacer, bool on, bool& enforced) {
    qint32 upper = 0;
    qint32 lower = 0;
    enforced = !on;
    if (on) {
        // Without both stored limits a limit byte of 0 would switch the limits off instead.
        const bool readMax =
            co_await commands_.ReadRegister24(pacer, reg::RealLimitMax, upper) == 0;
        co_await PumpEvents(pacer);
        if (!readMax || co_await commands_.ReadRegister24(pacer, reg::RealLimitMin, lower) != 0)
            co_return -1;
        co_await PumpEvents(pacer);
    }
    if (co_await WriteActiveLimits(pacer, upper, lower, on)) {
        enforced = on;
        co_return 0;
    }
    // A write whose answer was lost may still have been obeyed, and one side may be set while
    // the other is not: only the controller knows which limits it now enforces.
    co_await PumpEvents(pacer);
    qint32 min = 0;
    qint32 max = 0;
    const bool readMin = commands_.GetLimitMin(min) == 0;
    co_await PumpEvents(pacer);
    const bool readMax = commands_.GetLimitMax(max) == 0;
    enforced = (readMin && min != 0) || (readMax && max != 0);
    co_return -2;
}

Outcome FocuserDevice::ShiftCounter(int newPosition, std::optional<bool> activeLimitsOn,
                                    const QString& action) {
    // The point that reads p now reads newPosition, so a stored limit L moves by the same
    // amount. Limits that cannot be read must not be shifted into garbage.
    const int p = motion_.CurrentPosition;
    qint32 realMin = 0;
    qint32 realMax = 0;
    const bool readMin = commands_.GetRealLimitMin(realMin) == 0;
    const bool readMax = commands_.GetRealLimitMax(realMax) == 0;
    if (!readMin || !readMax)
        return Outcome::refused(kNoAnswerText);
    if (!activeLimitsOn) {
        qint32 lower = 0;
        qint32 upper = 0;
        if (commands_.GetLimitMin(lower) != 0 || commands_.GetLimitMax(upper) != 0)
            return Outcome::refused(kNoAnswerText);
        activeLimitsOn = lower != 0 || upper != 0;
    }
    const qint64 shift = static_cast<qint64>(SignedSteps(newPosition)) - SignedSteps(p);
    if (commands_.SetPosition(newPosition) != 0) {
        // Only the answer may have been lost: the counter itself says whether it was loaded.
        const int now = commands_.GetPosition();
        if (now != -1)
            motion_.CurrentPosition = now;
        if (now != newPosition)
            return Outcome::refused(kCounterUnconfirmedText.arg(action));
    }
    // From here on the counter has moved: the focus points and the reference follow it, whatever
    // becomes of the limits.
    ShiftFocusPoints(settings_.FocusPoints, shift);
    tempComp_.ReferenceDue();
    // Limits that were never stored (0) stay unstored.
    const int newMax = realMax == 0 ? 0 : WrapSteps(static_cast<int>(SignedSteps(realMax) + shift));
    const int newMin = realMin == 0 ? 0 : WrapSteps(static_cast<int>(SignedSteps(realMin) + shift));
    if (commands_.SetRealLimitMax(newMax) != 0 || commands_.SetRealLimitMin(newMin) != 0) {
        qint32 storedMax = -1;
        qint32 storedMin = -1;
        const bool stored = commands_.GetRealLimitMax(storedMax) == 0 &&
                            commands_.GetRealLimitMin(storedMin) == 0 && storedMax == newMax &&
                            storedMin == newMin;
        if (!stored) {
            // Stored limits that no longer match the counter would put the end stops in the
            // wrong place on every scale: the focuser is declared uncalibrated instead.
            commands_.SetCalibrated(0);
            CalibrationStored(false, 0, 0);
            return Outcome::refused(kRealLimitsUnconfirmedText.arg(action));
        }
    }
    // Only an anchored scale follows the stops; the uncalibrated one spans the whole counter.
    if (realMax != 0 && scale_.Anchored() && !scaleOnLimits_)
        scale_ = PositionMap::FromController(true, scale_.Max(), newMax);
    InlinePacer pacer(platform());
    if (*activeLimitsOn && !WriteActiveLimits(pacer, newMax, newMin, true).RunToEnd()) {
        // Read back, so that what the program believes of them is what the controller enforces.
        qint32 unused = 0;
        commands_.GetLimitMin(unused);
        commands_.GetLimitMax(unused);
        return Outcome::refused(kActiveLimitsUnconfirmedText.arg(action));
    }
    return Outcome::done();
}

bool FocuserDevice::OutsideActiveLimits(int raw) const {
    // A limit byte is the high byte of the counter value where the controller stops.
    const qint64 position = SignedSteps(raw);
    const int lower = commands_.KnownLimitMinByte();
    const int upper = commands_.KnownLimitMaxByte();
    if (lower > 0 && position < SignedSteps(lower << 16))
        return true;
    return upper > 0 && position > SignedSteps(upper << 16);
}

StepLimits FocuserDevice::KnownLimits() const {
    StepLimits limits;
    if (scale_.Anchored()) {
        limits.lower = SignedSteps(scale_.ToRaw(0));
        limits.upper = SignedSteps(scale_.ToRaw(scale_.Max()));
    }
    // A byte of 0 switches only its own side off; the other side still stops the focuser.
    const int lower = commands_.KnownLimitMinByte();
    const int upper = commands_.KnownLimitMaxByte();
    if (lower > 0)
        limits.lower = std::max(limits.lower, SignedSteps(lower << 16));
    if (upper > 0)
        limits.upper = std::min(limits.upper, SignedSteps(upper << 16));
    return limits;
}

void FocuserDevice::CalibrationStored(bool calibrated, int travel, int upper) {
    scale_ = PositionMap::FromController(calibrated, travel, upper);
    scaleOnLimits_ = false;
    AnchorOnActiveLimits();
    state_.clientMax = scale_.Max();
}

void FocuserDevice::AnchorOnActiveLimits() {
    // The end stops a calibration stored define the scale; the limits only stand in for them.
    if (scale_.Anchored() && !scaleOnLimits_)
        return;
    const int lower = commands_.KnownLimitMinByte();
    const int upper = commands_.KnownLimitMaxByte();
    // A byte of 0 is a side without a limit: the focuser could run on to its end stop there.
    const PositionMap onLimits = lower > 0 && upper > 0
                                     ? PositionMap::FromActiveLimits(lower << 16, upper << 16)
                                     : PositionMap::FromController(false, 0);
    scaleOnLimits_ = onLimits.Anchored();
    scale_ = onLimits;
    state_.clientMax = scale_.Max();
}

void FocuserDevice::CounterRecentred(std::optional<qint64> shift) {
    if (shift)
        ShiftFocusPoints(settings_.FocusPoints, *shift);
    else
        MarkFocusPointsBefore(settings_.FocusPoints);
}

void FocuserDevice::ConnectedInPlace() {
    SetTempComp(false);
    tempComp_.ClearReadings();
    lostReported_ = false;
    silentSinceMs_ = -1;
    ResetConnectionState(true);
}

void FocuserDevice::ReadyInPlace() {
    // The limits were read after the travel: they may stand in for unknown end stops.
    AnchorOnActiveLimits();
    // A port lost while the connect read the controller stays lost.
    state_.link = state_.lost() ? LinkState::LostReady : LinkState::Ready;
    UpdateClientPosition();
    Notify();
}

void FocuserDevice::TickedInPlace() {
    state_.jogging = motion_.ActiveJogRate != 0;
    Notify();
}

void FocuserDevice::FanShownInPlace(int mode, bool on) {
    state_.fanMode = mode;
    state_.fanOn = on;
}

void FocuserDevice::DisconnectedInPlace() {
    ResetConnectionState(false);
}

void FocuserDevice::ResetConnectionState(bool connected) {
    // What outlives a connection: the auto-stop last set and compensation's own account.
    DeviceState fresh;
    fresh.autoStop = state_.autoStop;
    fresh.tempCompAvailable = state_.tempCompAvailable;
    fresh.tempCompOn = state_.tempCompOn;
    fresh.tempCompMove = state_.tempCompMove;
    fresh.tempCompStatus = state_.tempCompStatus;
    fresh.tempCompMoves = state_.tempCompMoves;
    fresh.link = connected ? LinkState::Connecting : LinkState::Closed;
    state_ = std::move(fresh);
    Notify();
}

qint32 FocuserDevice::ReadTravelInPlace(QString* disagreement) {
    InlinePacer pacer(link_.platform());
    return ReadTravel(pacer, disagreement).RunToEnd();
}

Sequence<qint32> FocuserDevice::ReadTravel(Pacer& pacer, QString* disagreement) {
    // Whatever scale follows comes from these reads, not from limits standing in for the ends.
    scaleOnLimits_ = false;
    qint32 calibrated = 0;
    const bool flagRead = co_await commands_.GetCalibrated(pacer, calibrated) == 0;
    if (!flagRead)
        calibrated = 0;
    // An uncalibrated focuser's scale is the whole counter, known once the flag has been read.
    state_.scaleKnown = flagRead && (calibrated == 0 || calibrated == 1);
    if (calibrated != 1) {
        scale_ = PositionMap::FromController(false, 0);
        co_return calibrated;
    }
    // As the served scale: registers that disagree are read once more, and a second
    // disagreement leaves the ends unknown (gotos unclamped) rather than wrong.
    for (int round = 0; round < 2; ++round) {
        qint32 travel = 0;
        qint32 upper = 0;
        qint32 lower = 0;
        // Without both registers the ends are not known, and gotos are not clamped.
        const int travelRead = co_await commands_.ReadRegister24(pacer, reg::MaxTravel, travel);
        if (travelRead != 0)
            break;
        const int upperRead = co_await commands_.ReadRegister24(pacer, reg::RealLimitMax, upper);
        if (upperRead != 0)
            break;
        const int lowerRead = co_await commands_.ReadRegister24(pacer, reg::RealLimitMin, lower);
        if (lowerRead != 0)
            break;
        if (PositionMap::ReadsAgree(calibrated, travel, lower, upper)) {
            scale_ = PositionMap::FromController(true, travel, upper);
            co_return calibrated;
        }
        if (round == 1 && disagreement)
            *disagreement = kEndsUnknownText;
    }
    scale_ = PositionMap::FromController(false, 0);
    state_.scaleKnown = false;
    co_return calibrated;
}

Sequence<Outcome> FocuserDevice::ReadScale(Pacer& pacer) {
    // A late answer taken for the next question shifts a register by one frame; read once
    // more when the reads disagree, and keep the old scale rather than publish a wrong one.
    for (int round = 0; round < 2; ++round) {
        qint32 calibrated = 0;
        qint32 travel = 0;
        qint32 lower = 0;
        qint32 upper = 0;
        const bool readFlag = commands_.GetCalibrated(calibrated) == 0;
        co_await PumpEvents(pacer);
        const bool readTravel =
            readFlag && co_await commands_.ReadRegister24(pacer, reg::MaxTravel, travel) == 0;
        co_await PumpEvents(pacer);
        const bool readUpper =
            readTravel && co_await commands_.ReadRegister24(pacer, reg::RealLimitMax, upper) == 0;
        co_await PumpEvents(pacer);
        const bool readLower =
            readUpper && co_await commands_.ReadRegister24(pacer, reg::RealLimitMin, lower) == 0;
        co_await PumpEvents(pacer);
        if (!readLower)
            co_return Outcome::refused(kScaleUnreadText);
        if (!PositionMap::ReadsAgree(calibrated, travel, lower, upper)) {
            qCWarning(lcDevice) << "calibration registers disagree: flag" << calibrated << "travel"
                                << travel << "limits" << lower << upper;
            continue;
        }
        scale_ = PositionMap::FromController(calibrated == 1, travel, upper);
        scaleOnLimits_ = false;
        AnchorOnActiveLimits();
        state_.scaleKnown = true;
        state_.clientMax = scale_.Max();
        co_return Outcome::done();
    }
    co_return Outcome::refused(kScaleDisagreesText);
}

} // namespace tarnivel
