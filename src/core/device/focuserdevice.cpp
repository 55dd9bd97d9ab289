#include "core/device/focuserdevice.h"

#include "core/seams/platform.h"
#include "core/seams/serialport.h"
#include "core/seams/soundplayer.h"
#include "core/units/positionunits.h"

#include <QLoggingCategory>
#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcDevice, "tarnivel.device", QtInfoMsg)

namespace tarnivel {

namespace {

constexpr int kTickBaseMs = 1000;    // the position is read Frequency times a second
constexpr int kStatusBaseMs = 25000; // temperatures and fan every 25 / Frequency seconds
// A goto is given up when no position read has been answered for this long: a controller that
// misses an answer now and then has not lost the move, one silent this long has.
constexpr qint64 kGiveUpMs = 10000;

const QString kSilentText = QStringLiteral("Focuser not responding");
const QString kNotConnectedText = QStringLiteral("The focuser is not connected.");
const QString kTempCompUnavailableText =
    QStringLiteral("Temperature compensation needs a coefficient: set it in the options or fit "
                   "it from marked focus points.");
const QString kNotReadyText = QStringLiteral("Still reading the controller.");
const QString kCalibratingText = QStringLiteral("A calibration is running.");
const QString kNotCalibratedText = QStringLiteral("Focuser must be Calibrated first.");
const QString kScaleUnreadText =
    QStringLiteral("The calibration could not be read; the position scale is kept and read again.");
const QString kScaleDisagreesText =
    QStringLiteral("The controller's calibration registers do not agree with each other; the "
                   "position scale is kept and read again.");
const QString kEndsUnknownText =
    QStringLiteral("The controller's calibration registers do not agree with each other; the "
                   "end stops are not known until the next connect.");
const QString kScaleUnknownText =
    QStringLiteral("The focuser's calibration has not been read yet, so its positions are not "
                   "known; it is read again at the next poll.");
const QString kSyncRefusedText =
    QStringLiteral("The end stops define the positions of a calibrated focuser; use the console's "
                   "\"Reset Position to Zero\" to move its zero.");
const QString kNoAnswerText =
    QStringLiteral("The focuser did not answer; the position was not reset.");
const QString kCounterUnconfirmedText = QStringLiteral(
    "%1 failed: the controller did not confirm the new position; the stored limits were not moved");
const QString kRealLimitsUnconfirmedText =
    QStringLiteral("%1 failed: the controller did not confirm the moved limits; the focuser must "
                   "be calibrated again");
const QString kActiveLimitsUnconfirmedText = QStringLiteral(
    "%1 failed: the controller did not confirm the active limits; they were read back");
const QString kMovingText = QStringLiteral("The focuser is moving.");
const QString kGivenUpText =
    QStringLiteral("Focuser not responding for 10 seconds: the move was given up and a stop sent.");

} // namespace

FocuserDevice::FocuserDevice(SerialPort& port, Platform& platform, SoundPlayer& sound,
                             Scheduler* scheduler)
    : ownLink_(std::in_place, port, platform), ownCommands_(std::in_place, *ownLink_),
      link_(*ownLink_), commands_(*ownCommands_), sound_(sound), scheduler_(scheduler),
      gotos_(commands_, settings_, motion_, sound_, link_.platform()), log_(QString()) {
    Init();
}

FocuserDevice::FocuserDevice(FocuserCommands& commands, SoundPlayer& sound, Scheduler* scheduler)
    : link_(commands.link()), commands_(commands), sound_(sound), scheduler_(scheduler),
      gotos_(commands_, settings_, motion_, sound_, link_.platform()), log_(QString()) {
    Init();
}

void FocuserDevice::Init() {
    gotos_.setTravelBounds([this] {
        const StepLimits known = KnownLimits();
        TravelBounds bounds;
        if (known.lower != StepLimits::kNoLowerLimit)
            bounds.lower = known.lower;
        if (known.upper != StepLimits::kNoUpperLimit)
            bounds.upper = known.upper;
        return bounds;
    });
    if (scheduler_ == nullptr)
        return;
    calibration_.emplace(*this, static_cast<CalibrationObserver&>(*this));
    pacer_.emplace(*scheduler_);
    chorePacer_.emplace(*scheduler_);
    pacer_->afterStep = [this] { AfterCalibrationStep(); };
    chorePacer_->afterStep = [this] { AfterChoreStep(); };
    // A chore (a status cycle, a scale read, a limits switch) waits while a goto runs: its
    // commands would otherwise come between the goto's stages and delay each of them.
    chorePacer_->hold = [this] { return motion_.GotoMode == kGotoModeGoto; };
    readout_ = [this] { ServedReadout(); };
    // Not before the probe has answered: a connect that fails for want of its second attempt
    // would cost more than an abort that waits for it.
    link_.SetRequestWaiting([this] { return state_.connected && scheduler_->RequestWaiting(); });
    gotos_.setMotionGate([this] { return !scheduler_->RequestWaiting(); });
    gotos_.setGotoFinished([this](int reached, int target) {
        GotoEnd end;
        end.reached = reached;
        end.target = target;
        end.shortText = ShortGotoText(reached, target);
        state_.lastGoto = end;
        if (!end.shortText.isEmpty())
            Tell(end.shortText, true);
    });
    gotos_.setDisplayPosition([this] {
        // Inside a goto tick the read goes to the next tick, a turn of the loop later: one
        // command per tick, so an abort never waits behind two.
        if (deferRead_)
            positionDue_ = true;
        else
            ServedReadout();
    });
}

FocuserDevice::~FocuserDevice() {
    // Timers first, so nothing resumes a sequence that is being destroyed.
    if (scheduler_ != nullptr) {
        scheduler_->Cancel(tickTimer_);
        scheduler_->Cancel(jogTimer_);
        pacer_->Cancel();
        chorePacer_->Cancel();
        link_.SetRequestWaiting({});
    }
    calibrationRun_.Reset();
    chore_.Reset();
}

void FocuserDevice::AddObserver(DeviceObserver* observer) {
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void FocuserDevice::RemoveObserver(DeviceObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void FocuserDevice::Notify() {
    state_.calibrating =
        calibrationRun_.Valid() || motion_.CalibrationRunning || calibrationPending_;
    state_.gotoRunning = motion_.GotoMode == kGotoModeGoto || keptMove_;
    const std::vector<DeviceObserver*> observers = observers_;
    for (DeviceObserver* o : observers)
        o->StateChanged();
}

void FocuserDevice::Tell(const QString& text, bool error) {
    qCInfo(lcDevice) << text;
    const std::vector<DeviceObserver*> observers = observers_;
    for (DeviceObserver* o : observers)
        o->Message(text, error);
}

bool FocuserDevice::LoadSettings(const ProgramFolder& folder, QString* error) {
    const LoadResult result =
        tarnivel::LoadSettings(folder.settingsPath(), settings_, positions_, WindowGeometryTwips{});
    commands_.Device = settings_.Device;
    commands_.Device2 = settings_.Device2;
    log_ = TemperatureLog(folder.logPath());
    if (result.unreadable && error != nullptr)
        *error = QStringLiteral("%1 could not be read.").arg(folder.settingsPath());
    return !result.unreadable;
}

// ---- Shared rules ----------------------------------------------------------------------

void FocuserDevice::DisplayPosition() {
    if (readout_)
        readout_();
    else
        ReadPosition();
}

void FocuserDevice::ReadPosition() {
    const int p = commands_.GetPosition();
    if (p != -1)
        motion_.CurrentPosition = p;
}

Sequence<StatusReport> FocuserDevice::ReadStatus(Pacer& pacer, std::function<int()> fanMode) {
    StatusReport report;
    for (int n = 1; n <= 3; ++n) {
        bool ok = false;
        const double t = commands_.GetTemperature(n, &ok);
        report.answered[n - 1] = ok;
        co_await PumpEvents(pacer);
        // A failed read yields 0.0, a temperature nobody measured: treat it as no reading.
        if (ok && t != kNotFittedTemperature)
            report.celsius[n - 1] = t;
    }
    commands_.GetFanState(report.running);
    co_await PumpEvents(pacer);
    report.verdict = DecideFan(fanMode(), report.celsius, settings_.Degrees, settings_);
    report.commandSent = FanCommandDue(report.verdict, report.running);
    SendFanCommand(commands_, report.verdict, report.running);
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
    motion_.GotoDone = false;
    motion_.JogRate = 0;
    motion_.MotionDirection = 0;
    gotos_.ClearGoto();
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
    state_.lost = false;
}

qint32 FocuserDevice::ReadTravelInPlace(QString* disagreement) {
    qint32 calibrated = 0;
    if (commands_.GetCalibrated(calibrated) != 0)
        calibrated = 0;
    if (calibrated != 1) {
        scale_ = PositionMap::FromController(false, 0);
        return calibrated;
    }
    InlinePacer pacer(link_.platform());
    // As the served scale: registers that disagree are read once more, and a second
    // disagreement leaves the ends unknown (gotos unclamped) rather than wrong.
    for (int round = 0; round < 2; ++round) {
        qint32 travel = 0;
        qint32 upper = 0;
        qint32 lower = 0;
        // Without both registers the ends are not known, and gotos are not clamped.
        if (commands_.ReadRegister24(pacer, reg::MaxTravel, travel).RunToEnd() != 0 ||
            commands_.ReadRegister24(pacer, reg::RealLimitMax, upper).RunToEnd() != 0 ||
            commands_.ReadRegister24(pacer, reg::RealLimitMin, lower).RunToEnd() != 0)
            break;
        if (PositionMap::ReadsAgree(calibrated, travel, lower, upper)) {
            scale_ = PositionMap::FromController(true, travel, upper);
            return calibrated;
        }
        if (round == 1 && disagreement)
            *disagreement = kEndsUnknownText;
    }
    scale_ = PositionMap::FromController(false, 0);
    return calibrated;
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

// ---- Served verbs ------------------------------------------------------------------------

Outcome FocuserDevice::MotionAllowed() const {
    if (!state_.connected)
        return Outcome::refused(kNotConnectedText);
    if (link_.port().connectionLost())
        return Outcome::refused(kLostText);
    if (!state_.ready)
        return Outcome::refused(kNotReadyText);
    if (calibrationRun_.Valid() || calibrationPending_)
        return Outcome::refused(kCalibratingText);
    return Outcome::done();
}

Outcome FocuserDevice::Connect() {
    if (scheduler_ == nullptr)
        return Outcome::refused(QStringLiteral("This front end connects in place."));
    if (state_.connected)
        return Outcome::done();
    SerialPort& port = link_.port();
    if (!port.isOpen() && !port.open(settings_.COMport)) {
        const QString why = port.openError();
        return Outcome::refused(why.isEmpty() ? QStringLiteral("The port would not open.") : why);
    }
    link_.SetLinkOpen(true);
    if (!commands_.ProbeFocuser()) {
        link_.SetLinkOpen(false);
        port.close();
        return Outcome::refused(QStringLiteral("No focuser controller answers on this port."));
    }
    motion_ = MotionState{};
    state_ = DeviceState{};
    state_.connected = true;
    // Never on after a connect: the switch is not kept, only its settings.
    tempComp_.SwitchOff();
    tempComp_.ClearReadings();
    compGotoTarget_.reset();
    lostReported_ = false;
    scaleDue_ = false;
    limitsDue_ = false;
    statusDue_ = false;
    fanRequest_ = -1;
    keptMove_ = {};
    calibrationDue_.reset();
    silentSinceMs_ = -1;
    lastStatusMs_ = link_.platform().nowMs();
    StartChore(ConnectSteps(*chorePacer_));
    Notify();
    return Outcome::started();
}

void FocuserDevice::TearDown() {
    scheduler_->Cancel(tickTimer_);
    tickTimer_ = -1;
    EndJog();
    chorePacer_->Cancel();
    chore_.Reset();
    if (calibrationRun_.Valid()) {
        calibration_->CancelClick();
        pacer_->Cancel();
        calibrationRun_.Reset();
        calibration_->Abandon();
    } else if (link_.LinkOpen() && !link_.port().connectionLost()) {
        commands_.Stop();
    }
    gotos_.ClearGoto();
    keptMove_ = {};
    calibrationDue_.reset();
    calibrationPending_ = false;
    motion_ = MotionState{};
}

Outcome FocuserDevice::Disconnect() {
    if (scheduler_ == nullptr || !state_.connected)
        return Outcome::done();
    TearDown();
    link_.SetLinkOpen(false);
    link_.port().close();
    const bool autoStop = state_.autoStop;
    state_ = DeviceState{};
    state_.autoStop = autoStop;
    tempComp_.SwitchOff();
    Notify();
    return Outcome::done();
}

void FocuserDevice::EndJog() {
    if (scheduler_ != nullptr && jogTimer_ != -1)
        scheduler_->Cancel(jogTimer_);
    jogTimer_ = -1;
    if (motion_.JogRate != 0 && state_.connected && !link_.port().connectionLost())
        commands_.MoveAtRate(0);
    motion_.JogRate = 0;
    if (state_.jogging) {
        state_.jogging = false;
        motion_.MotionDirection = 0;
        tempComp_.ReferenceDue();
    }
}

void FocuserDevice::EndGotoWithAStop() {
    commands_.Stop();
    positionDue_ = false;
    FinishGoto();
}

void FocuserDevice::StartGotoRaw(int raw, std::optional<int> overshoot) {
    // A timed move still running ends first; its timer would otherwise end this goto.
    EndJog();
    if (motion_.GotoMode == kGotoModeGoto) {
        // A goto under way is stopped and the focuser read, so the new one is planned from
        // where it really is and still ends from the approach side.
        EndGotoWithAStop();
        ServedReadout();
    }
    compGotoTarget_.reset();
    state_.lastGoto.reset();
    // Reads left unanswered before this goto do not count against it.
    silentSinceMs_ = -1;
    BeginGoto(raw, link_.StopCount(), overshoot);
    Notify();
    // The first stage at once rather than at the next tick.
    ScheduleTick(0);
}

bool FocuserDevice::KeepUntilReady(std::function<Outcome()> move) {
    if (scheduler_ == nullptr || !state_.connected || state_.ready || link_.port().connectionLost())
        return false;
    keptMove_ = std::move(move);
    state_.lastGoto.reset();
    Notify();
    return true;
}

void FocuserDevice::StartKeptMove() {
    if (!keptMove_)
        return;
    const std::function<Outcome()> move = std::exchange(keptMove_, {});
    const Outcome started = move();
    if (started.ok())
        return;
    GotoEnd end;
    end.reached = end.target = motion_.CurrentPosition;
    end.failure = started.reason;
    state_.lastGoto = end;
    Tell(started.reason, true);
    Notify();
}

Outcome FocuserDevice::MoveTo(quint32 clientPosition) {
    if (KeepUntilReady([this, clientPosition] { return MoveTo(clientPosition); }))
        return Outcome::started();
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    // A client position means nothing on a scale that was never read: the focuser would run
    // blind to an end stop.
    if (!state_.scaleKnown)
        return Outcome::refused(kScaleUnknownText);
    StartGotoRaw(scale_.ToRaw(qMin(clientPosition, scale_.Max())));
    return Outcome::started();
}

Outcome FocuserDevice::MoveBy(qint64 clientSteps) {
    // From where the focuser is once it has been read.
    if (KeepUntilReady([this, clientSteps] { return MoveBy(clientSteps); }))
        return Outcome::started();
    const qint64 here = scale_.ToClient(motion_.CurrentPosition);
    const qint64 target = qBound<qint64>(0, here + clientSteps, scale_.Max());
    return MoveTo(static_cast<quint32>(target));
}

Outcome FocuserDevice::GotoSaved(int row) {
    if (row < 0 || row >= positions_.ListCount())
        return Outcome::refused(QStringLiteral("Pick a saved position first."));
    if (KeepUntilReady([this, row] { return GotoSaved(row); }))
        return Outcome::started();
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    StartGotoRaw(positions_.ItemData(row));
    return Outcome::started();
}

Outcome FocuserDevice::Jog(int direction, bool fast, int ms) {
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    if (motion_.GotoMode == kGotoModeGoto)
        return Outcome::refused(QStringLiteral("A goto is running."));
    if (ms <= 0 || direction == 0)
        return Outcome::refused(QStringLiteral("A timed move needs a direction and a time."));
    // The console's jog: the slow or the fast rate for as long as asked, then rate 0.
    const int rate = fast ? settings_.FastSlewSpeed : settings_.SlowSlewSpeed;
    const int signedRate = direction > 0 ? rate : -rate;
    if (jogTimer_ != -1)
        scheduler_->Cancel(jogTimer_);
    jogTimer_ = -1;
    const quint64 stops = link_.StopCount();
    motion_.JogRate = signedRate;
    motion_.MotionDirection = direction > 0 ? 1 : -1;
    commands_.MoveAtRate(signedRate);
    if (link_.StoppedSince(stops)) {
        motion_.JogRate = 0;
        motion_.MotionDirection = 0;
        return Outcome::refused(QStringLiteral("Stopped."));
    }
    state_.jogging = true;
    jogTimer_ = scheduler_->After(ms, [this] {
        jogTimer_ = -1;
        EndJog();
        Notify();
    });
    Notify();
    return Outcome::started();
}

void FocuserDevice::EndMotionAsStopped() {
    if (jogTimer_ != -1)
        scheduler_->Cancel(jogTimer_);
    jogTimer_ = -1;
    state_.jogging = false;
    keptMove_ = {};
    StopTempComp();
    if (motion_.GotoMode == kGotoModeGoto) {
        GotoEnd end;
        end.reached = motion_.CurrentPosition;
        end.target = motion_.GotoTarget;
        end.stopped = true;
        state_.lastGoto = end;
    }
    positionDue_ = false;
    FinishGoto();
}

Outcome FocuserDevice::Stop() {
    if (scheduler_ == nullptr)
        return Outcome::refused(QStringLiteral("This front end stops in place."));
    // The stop goes out first, before any bookkeeping; as a stop it also ends whatever was
    // moving the focuser before it (a goto's next stage, a calibration's next move).
    const bool reachable = state_.connected && !link_.port().connectionLost();
    const bool wasMoving = motion_.GotoMode == kGotoModeGoto || state_.jogging;
    if (calibrationRun_.Valid())
        calibration_->CancelClick();
    else if (reachable)
        commands_.Stop();
    // Stopped where it is: the next tick reads that position before the motion is over.
    if (wasMoving && reachable) {
        state_.stopping = true;
        ScheduleTick(0);
    }
    // A goto given up has been seen and dealt with.
    if (state_.lastGoto && !state_.lastGoto->failure.isEmpty())
        state_.lastGoto.reset();
    if (calibrationPending_) {
        // Stopped while its check ran: it ends as a cancelled one, so clients see it end.
        calibrationPending_ = false;
        state_.progress = kLabelCancelled;
        state_.calibrationOk = false;
    }
    EndMotionAsStopped();
    if (calibrationRun_.Valid() && pacer_->Waiting())
        pacer_->ResumeNow();
    Notify();
    return Outcome::done();
}

Outcome FocuserDevice::Sync(quint32 clientPosition) {
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    if (motion_.GotoMode == kGotoModeGoto || state_.jogging)
        return Outcome::refused(kMovingText);
    if (!state_.scaleKnown)
        return Outcome::refused(kScaleUnreadText);
    // Limits that stand in for the end stops are counter values: they follow a sync.
    if (scale_.Anchored() && !scaleOnLimits_)
        return Outcome::refused(kSyncRefusedText);
    if (commands_.SetPosition(scale_.ToRaw(clientPosition)) != 0)
        return Outcome::refused(kSilentText);
    tempComp_.ReferenceDue();
    ServedReadout();
    return Outcome::done();
}

Outcome FocuserDevice::Calibrate(bool full) {
    const Outcome allowed = MotionAllowed();
    if (!allowed.ok())
        return allowed;
    // Compensation's own goto gives way: it would finish in the counter the calibration sets.
    if (motion_.GotoMode == kGotoModeGoto && compGotoTarget_)
        EndGotoWithAStop();
    // Its set-up takes a second or more of commands, during which a move would run on
    // unwatched; ending the move here would leave the motor running.
    if (motion_.GotoMode == kGotoModeGoto || state_.jogging || keptMove_)
        return Outcome::refused(kMovingText);
    EndJog();
    FinishGoto();
    state_.lastGoto.reset();
    state_.progress.clear();
    calibrationPending_ = true;
    // A status cycle or a limits switch under way ends first; the tick starts it then.
    if (chore_.Valid())
        calibrationDue_ = full;
    else
        StartChore(CalibrateSteps(*chorePacer_, full));
    Notify();
    return Outcome::started();
}

Sequence<bool> FocuserDevice::CalibrateSteps(Pacer& pacer, bool full) {
    if (!full) {
        const Outcome quick = co_await QuickCalibrationCheck(pacer);
        if (!quick.ok()) {
            calibrationPending_ = false;
            state_.calibrationOk = false;
            state_.progress = quick.reason;
            Tell(quick.reason, true);
            Notify();
            co_return false;
        }
        co_await PumpEvents(pacer);
    }
    // A stop while the check ran cancels the calibration before it moves anything.
    if (!calibrationPending_)
        co_return false;
    calibrationPending_ = false;
    calibrationRun_ = full ? calibration_->Full(*pacer_) : calibration_->Quick(*pacer_);
    calibrationRun_.Start();
    AfterCalibrationStep();
    Notify();
    co_return true;
}

Outcome FocuserDevice::CancelCalibration() {
    if (!calibrationRun_.Valid() && !calibrationPending_)
        return Outcome::done();
    return Stop();
}

Outcome FocuserDevice::SetFanMode(int mode) {
    if (!state_.connected)
        return Outcome::refused(kNotConnectedText);
    if (mode < 0 || mode > 4)
        return Outcome::refused(QStringLiteral("Unknown fan mode."));
    if (mode <= 1) {
        state_.fanMode = 0;
        state_.fanOn = mode == 1;
        // Between two commands of a running chore the line is free; only inside a command's
        // wait does the switch go to the next tick (the status cycle never sends a manual one).
        fanRequest_ = mode;
        if (!link_.Busy())
            SendFanRequest();
    } else {
        state_.fanMode = mode - 1;
        fanRequest_ = -1;
    }
    // The new mode shows at the next tick, not after a whole status period.
    statusDue_ = true;
    Notify();
    return Outcome::done();
}

void FocuserDevice::SendFanRequest() {
    if (fanRequest_ < 0)
        return;
    commands_.SetFan(fanRequest_ == 1);
    fanRequest_ = -1;
}

Outcome FocuserDevice::SetFanLimits(double limit1, double limit2, double limit3) {
    settings_.SensorLimit1 = limit1;
    settings_.SensorLimit2 = limit2;
    settings_.SensorLimit3 = limit3;
    statusDue_ = true;
    return Outcome::done();
}

Outcome FocuserDevice::SetActiveLimits(bool on) {
    if (!state_.connected)
        return Outcome::refused(kNotConnectedText);
    if (calibrationRun_.Valid())
        return Outcome::refused(kCalibratingText);
    // Several commands: they run as a chore with a turn of the event loop between any two, so
    // an abort meanwhile is read at once.
    limitsWanted_ = on;
    if (chore_.Valid()) {
        limitsDue_ = true;
        return Outcome::started();
    }
    StartChore(LimitsSteps(*chorePacer_, on));
    return Outcome::started();
}

Outcome FocuserDevice::SetAutoStop(bool on) {
    if (!state_.connected)
        return Outcome::refused(kNotConnectedText);
    if (calibrationRun_.Valid())
        return Outcome::refused(kCalibratingText);
    if (commands_.SetAutoStop(on ? 1 : 0) != 0)
        return Outcome::refused(kSilentText);
    state_.autoStop = on;
    Notify();
    return Outcome::done();
}

// ---- The served cycle ----------------------------------------------------------------

int FocuserDevice::PollMs() const {
    return kTickBaseMs / PositionUpdateFrequency(settings_.Frequency);
}

void FocuserDevice::ScheduleTick(int ms) {
    if (tickTimer_ != -1)
        scheduler_->Cancel(tickTimer_);
    tickTimer_ = scheduler_->After(ms, [this] {
        tickTimer_ = -1;
        Tick();
    });
}

bool FocuserDevice::Reachable() {
    if (!link_.port().connectionLost())
        return true;
    // Every command would now wait for its time-out: nothing is sent until the client
    // connects again.
    NoteLost();
    return false;
}

bool FocuserDevice::NoteLost() {
    if (!link_.LinkOpen() || !link_.port().connectionLost() || lostReported_)
        return false;
    lostReported_ = true;
    state_.lost = true;
    TempCompLost();
    EndMotionAsStopped();
    Tell(kLostText, true);
    Notify();
    return true;
}

void FocuserDevice::ServedReadout() {
    const int p = commands_.GetPosition();
    // Published with the position read, never before it.
    const bool stopped = std::exchange(state_.stopping, false);
    if (p == -1) {
        if (stopped)
            Notify();
        if (silentSinceMs_ < 0)
            silentSinceMs_ = link_.platform().nowMs();
        if (!state_.silent && SilentTooLong()) {
            state_.silent = true;
            Notify();
        }
        if (state_.answering) {
            state_.answering = false;
            Tell(kSilentText, true);
            Notify();
        }
        return;
    }
    motion_.CurrentPosition = p;
    silentSinceMs_ = -1;
    if (!state_.answering || state_.silent) {
        state_.answering = true;
        state_.silent = false;
        Notify();
    }
    UpdateClientPosition();
    if (stopped)
        Notify();
}

void FocuserDevice::UpdateClientPosition() {
    const quint32 client = scale_.ToClient(motion_.CurrentPosition);
    const bool changed = state_.position != motion_.CurrentPosition ||
                         state_.clientPosition != client || state_.clientMax != scale_.Max();
    state_.position = motion_.CurrentPosition;
    state_.clientPosition = client;
    state_.clientMax = scale_.Max();
    if (changed)
        Notify();
}

void FocuserDevice::Tick() {
    if (!state_.connected)
        return;
    // During a calibration its own sequence reads the position.
    if (calibrationRun_.Valid() || !Reachable()) {
        ScheduleTick(PollMs());
        return;
    }
    // One command a turn: a request that came meanwhile (an abort) is read before the next.
    if (fanRequest_ >= 0) {
        SendFanRequest();
        ScheduleTick(0);
        return;
    }
    // A chore held for a goto goes on from the first tick after the goto's end, not at once:
    // a client that sends its next move as soon as one has ended finds the line free.
    if (motion_.GotoMode != kGotoModeGoto)
        chorePacer_->Release();
    if (motion_.GotoMode == kGotoModeGoto && SilentTooLong()) {
        GiveUpSilentMove();
    } else if (motion_.GotoMode == kGotoModeGoto && positionDue_) {
        positionDue_ = false;
        ServedReadout();
    } else if (motion_.GotoMode == kGotoModeGoto) {
        deferRead_ = true;
        gotos_.RunStage();
        deferRead_ = false;
        if (motion_.GotoDone) {
            positionDue_ = false;
            ServedReadout();
            FinishGoto();
            Notify();
        }
    } else if (!chore_.Valid() || state_.stopping) {
        ServedReadout();
    }
    const qint64 now = link_.platform().nowMs();
    const bool statusTime =
        now - lastStatusMs_ >= kStatusBaseMs / PositionUpdateFrequency(settings_.Frequency);
    if (!chore_.Valid() && calibrationDue_) {
        const bool full = *std::exchange(calibrationDue_, std::nullopt);
        if (calibrationPending_)
            StartChore(CalibrateSteps(*chorePacer_, full));
    } else if (!chore_.Valid() && state_.ready && (scaleDue_ || limitsDue_)) {
        if (limitsDue_) {
            limitsDue_ = false;
            StartChore(LimitsSteps(*chorePacer_, limitsWanted_));
        } else {
            scaleDue_ = false;
            StartChore(ReadControllerSteps(*chorePacer_));
        }
    } else if (!chore_.Valid() && state_.ready && (statusTime || statusDue_)) {
        lastStatusMs_ = now;
        statusDue_ = false;
        StartChore(StatusSteps(*chorePacer_));
    }
    // A goto's next step follows the last answer after only a turn of the loop, where a
    // request that came meanwhile (an abort) is read first.
    if (state_.connected && tickTimer_ == -1)
        ScheduleTick(motion_.GotoMode == kGotoModeGoto ? 0 : PollMs());
}

bool FocuserDevice::SilentTooLong() const {
    return silentSinceMs_ >= 0 && link_.platform().nowMs() - silentSinceMs_ >= kGiveUpMs;
}

void FocuserDevice::GiveUpSilentMove() {
    state_.silent = true;
    commands_.Stop();
    EndMotionAsStopped();
    state_.lastGoto->stopped = false;
    state_.lastGoto->failure = kGivenUpText;
    Tell(kGivenUpText, true);
    Notify();
}

Sequence<bool> FocuserDevice::AfterATurn(Sequence<bool> chore) {
    // A chore is asked for inside a tick or a handler that may just have sent a command: the
    // loop gets its turn before the chore's first one.
    co_await PumpEvents(*chorePacer_);
    co_return co_await chore;
}

void FocuserDevice::StartChore(Sequence<bool> chore) {
    chore_ = AfterATurn(std::move(chore));
    chore_.Start();
    AfterChoreStep();
}

void FocuserDevice::AfterChoreStep() {
    if (chore_.Valid() && chore_.Done())
        chore_.Reset();
}

Sequence<bool> FocuserDevice::ConnectSteps(Pacer& pacer) {
    co_await ReadControllerSteps(pacer);
    ServedReadout();
    co_await PumpEvents(pacer);
    // As the console's connect: the fan starts in manual mode, switched off.
    state_.fanMode = 0;
    state_.fanOn = false;
    commands_.SetFan(false);
    co_await PumpEvents(pacer);
    co_await StatusSteps(pacer);
    state_.ready = true;
    Notify();
    ScheduleTick(PollMs());
    StartKeptMove();
    co_return true;
}

Sequence<bool> FocuserDevice::ReadControllerSteps(Pacer& pacer) {
    // Between any two commands the event loop gets a turn: a connect or a status update never
    // keeps an abort waiting for more than the command on the wire.
    const Outcome scale = co_await ReadScale(pacer);
    if (!scale.ok()) {
        // The old scale stays; the next tick reads again.
        scaleDue_ = true;
        state_.scaleKnown = false;
        Tell(scale.reason, true);
    }
    UpdateClientPosition();

    qint32 lower = 0;
    qint32 upper = 0;
    commands_.GetLimitMin(lower);
    co_await PumpEvents(pacer);
    commands_.GetLimitMax(upper);
    co_await PumpEvents(pacer);
    state_.limitsOn = lower != 0 || upper != 0;
    AnchorOnActiveLimits();
    UpdateClientPosition();

    qint32 autoStop = 0;
    commands_.GetAutoStop(autoStop);
    state_.autoStop = autoStop != 0;
    co_await PumpEvents(pacer);

    qint32 major = 0;
    qint32 minor = 0;
    if (state_.firmware.isEmpty() && commands_.GetFirmwareVersion(major, minor) == 0)
        state_.firmware = QStringLiteral("%1.%2").arg(major).arg(minor);
    Notify();
    co_return true;
}

Sequence<bool> FocuserDevice::StatusSteps(Pacer& pacer) {
    const StatusReport report = co_await ReadStatus(pacer, [this] { return state_.fanMode; });
    const int mode = state_.fanMode;
    bool on = state_.fanOn;
    if (report.verdict != FanVerdict::Manual)
        on = report.verdict == FanVerdict::Run;
    else if (mode == 0)
        on = report.running != 0;
    state_.fanOn = on;
    if (settings_.Logging && !log_.path().isEmpty())
        log_.Append(QDateTime::currentDateTime(), report.celsius, mode, on);
    if (const std::optional<int> raw = TempCompTarget()) {
        StartGotoRaw(*raw, TempCompOvershoot());
        compGotoTarget_ = raw;
    }
    Notify();
    co_return true;
}

Sequence<bool> FocuserDevice::LimitsSteps(Pacer& pacer, bool on) {
    if (calibrationRun_.Valid())
        co_return false;
    bool enforced = false;
    const int switched = co_await SwitchActiveLimits(pacer, on, enforced);
    if (switched == -1)
        Tell(kLimitsUnreadText, true);
    else
        state_.limitsOn = enforced;
    if (switched == -2)
        Tell(kLimitsUnconfirmedText, true);
    AnchorOnActiveLimits();
    UpdateClientPosition();
    Notify();
    co_return true;
}

void FocuserDevice::AfterCalibrationStep() {
    if (!calibrationRun_.Valid() || !calibrationRun_.Done())
        return;
    calibrationRun_.Reset();
    // What the calibration stored decides the scale; read at the next free tick.
    scaleDue_ = true;
    Notify();
    ScheduleTick(0);
}

// ---- The calibration's view for the served front ends ---------------------------------

void FocuserDevice::CalibrationStarting() {
    state_.calibrationOk = false;
    Notify();
}

void FocuserDevice::CalibrationEnded() {
    tempComp_.ReferenceDue();
    state_.calibrationOk = state_.progress == kLabelComplete;
    Notify();
}

void FocuserDevice::SetProgressText(const QString& text) {
    state_.progress = text;
    Notify();
}

void FocuserDevice::ShowAutoStop(bool on) {
    state_.autoStop = on;
    Notify();
}

void FocuserDevice::ShowLimits(bool on) {
    // On a travel too short for a whole limit block both bytes are 0: nothing is enforced.
    state_.limitsOn =
        on && (commands_.KnownLimitMinByte() > 0 || commands_.KnownLimitMaxByte() > 0);
    Notify();
}

// ---- Temperature compensation ---------------------------------------------------------

Outcome FocuserDevice::SetTempComp(bool on) {
    tempComp_.setParameters(TempCompParameters::From(settings_));
    if (!on) {
        tempComp_.SwitchOff();
        PublishTempComp({});
        return Outcome::done();
    }
    if (!tempComp_.Available())
        return Outcome::refused(kTempCompUnavailableText);
    if (!link_.LinkOpen())
        return Outcome::refused(kNotConnectedText);
    // A served device still reading the controller has neither its position nor a reading.
    tempComp_.SwitchOn(SignedSteps(motion_.CurrentPosition), link_.platform().nowMs(),
                       scheduler_ == nullptr || state_.ready);
    compGotoTarget_.reset();
    PublishTempComp({});
    return Outcome::done();
}

Outcome FocuserDevice::MarkFocus() {
    tempComp_.setParameters(TempCompParameters::From(settings_));
    const std::optional<FocusPoint> point =
        MarkFocusPoint(tempComp_, SignedSteps(motion_.CurrentPosition), link_.platform().nowMs(),
                       QDateTime::currentDateTimeUtc());
    if (!point)
        return Outcome::refused(QStringLiteral("Mark focus needs a reading from %1.")
                                    .arg(tempComp_.parameters().SensorText()));
    settings_.FocusPoints.append(*point);
    Notify();
    return Outcome::done();
}

void FocuserDevice::StopTempComp() {
    std::optional<int> shortBy;
    if (compGotoTarget_ && motion_.GotoMode == kGotoModeGoto)
        shortBy = static_cast<int>(
            std::abs(SignedSteps(*compGotoTarget_) - SignedSteps(motion_.CurrentPosition)));
    tempComp_.Stop(shortBy);
    compGotoTarget_.reset();
    PublishTempComp({});
}

void FocuserDevice::TempCompLost() {
    if (!tempComp_.On())
        return;
    tempComp_.LinkLost();
    compGotoTarget_.reset();
    PublishTempComp({TempCompAction::SwitchedOff, 0, tempComp_.StatusText()});
}

void FocuserDevice::MoveEnded() {
    tempComp_.ReferenceDue();
}

std::optional<int> FocuserDevice::TempCompTarget(bool exchanging) {
    TempCompConditions conditions;
    conditions.connected = link_.LinkOpen() && !link_.port().connectionLost();
    conditions.positionRead = state_.answering;
    conditions.idle = motion_.GotoMode != kGotoModeGoto && motion_.JogRate == 0 &&
                      motion_.ActiveJogRate == 0 && !state_.jogging;
    conditions.calibrating = motion_.CalibrationRunning || calibrationRun_.Valid() ||
                             calibrationPending_ || calibrationDue_.has_value();
    conditions.ready = scheduler_ == nullptr || state_.ready;
    conditions.exchanging = exchanging || limitsDue_;
    conditions.commandWaiting = link_.Busy();
    const TempCompDecision decision = tempComp_.Decide(
        conditions, SignedSteps(motion_.CurrentPosition), KnownLimits(), link_.platform().nowMs());
    PublishTempComp(decision);
    if (decision.action != TempCompAction::Move)
        return std::nullopt;
    ++state_.tempCompMoves;
    compGotoTarget_ = WrapSteps(decision.target);
    return compGotoTarget_;
}

void FocuserDevice::PublishTempComp(const TempCompDecision& decision) {
    const int sensor = std::clamp(settings_.TempCompSensor, 1, 3) - 1;
    const bool available = tempComp_.Available() && state_.celsius[sensor].has_value();
    const bool changed = state_.tempCompAvailable != available ||
                         state_.tempCompOn != tempComp_.On() ||
                         state_.tempCompMove != tempComp_.LastMoveText() ||
                         state_.tempCompStatus != tempComp_.StatusText();
    state_.tempCompAvailable = available;
    state_.tempCompOn = tempComp_.On();
    state_.tempCompMove = tempComp_.LastMoveText();
    state_.tempCompStatus = tempComp_.StatusText();
    if (decision.action == TempCompAction::SwitchedOff)
        Tell(decision.text, false);
    if (changed)
        Notify();
}

} // namespace tarnivel
