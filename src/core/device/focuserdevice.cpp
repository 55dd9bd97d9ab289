#include "core/device/focuserdevice.h"
#include "core/device/focuserdevice_texts.h"

#include "core/seams/platform.h"
#include "core/seams/serialport.h"
#include "core/seams/soundplayer.h"
#include "core/units/positionunits.h"

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcDevice, "tarnivel.device", QtInfoMsg)

namespace tarnivel {

using namespace devicetext;

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
    chorePacer_->hold = [this] { return motion_.GotoMode == kGotoModeGoto && !ChoreGoesFirst(); };
    readout_ = [this] { ReadPosition(); };
    // Not before the probe has answered: a connect that fails for want of its second attempt
    // would cost more than an abort that waits for it.
    link_.SetRequestWaiting([this] { return state_.connected() && scheduler_->RequestWaiting(); });
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
    gotos_.setDisplayPosition([this](Pacer& pacer) { return GotoReadout(pacer); });
}

Sequence<bool> FocuserDevice::GotoReadout(Pacer& pacer) {
    // Inside a goto tick the read goes to the next tick, a turn of the loop later: one
    // command per tick, so an abort never waits behind two.
    if (deferRead_)
        positionDue_ = true;
    else
        co_await ReadPosition(pacer);
    co_return true;
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
    // A goto that ended (GotoDone) waits only for its clean-up, which the window's tick does
    // at its next run: it no longer moves the focuser.
    state_.gotoRunning = (motion_.GotoMode == kGotoModeGoto && !motion_.GotoDone) || keptMove_;
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
    AddressFromSettings();
    log_ = TemperatureLog(folder.logPath());
    if (result.unreadable && error != nullptr)
        *error = QStringLiteral("%1 could not be read.").arg(folder.settingsPath());
    return !result.unreadable;
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
                       scheduler_ == nullptr || state_.ready());
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
    conditions.positionRead = state_.answering();
    conditions.idle = motion_.GotoMode != kGotoModeGoto && motion_.JogRate == 0 &&
                      motion_.ActiveJogRate == 0 && !state_.jogging;
    conditions.calibrating = motion_.CalibrationRunning || calibrationRun_.Valid() ||
                             calibrationPending_ || calibrationDue_.has_value();
    conditions.ready = scheduler_ == nullptr || state_.ready();
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
