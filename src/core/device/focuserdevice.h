#pragma once

#include "core/device/calibration.h"
#include "core/device/fanrule.h"
#include "core/device/positionmap.h"
#include "core/device/tempcompensation.h"
#include "core/device/temperaturelog.h"
#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/seams/scheduler.h"
#include "core/settings/focusersettings.h"
#include "core/settings/programfolder.h"
#include "core/settings/savedpositionlist.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace tarnivel {

class Platform;
class SerialPort;
class SoundPlayer;

// The port closed itself under a connected focuser (the window's status line, INDI's alert).
inline const QString kLostText = QStringLiteral("Focuser connection lost");

// Why switching the active limits failed (the options check box, TARNIVEL_LIMITS).
inline const QString kLimitsUnreadText =
    QStringLiteral("The focuser did not answer; the limits were not changed.");
inline const QString kLimitsUnconfirmedText =
    QStringLiteral("The controller did not confirm the limits; they were read back");

// How many whole periods network moves may hold a due temperature update back before it goes
// ahead of the next move's first stage, or between two polls of a long move: enough that a
// run of moves rarely waits for one, few enough that the readings never stand still for long.
inline constexpr int kStatusHeldPeriods = 2;

// What a verb did: it started something that ends later (watch the state), it is done, or it
// was refused and the focuser was left as it was; reason says why, for the operator.
struct Outcome {
    enum Result { Started, Done, Refused };
    Result result = Done;
    QString reason;

    static Outcome started() { return {Started, {}}; }
    static Outcome done() { return {Done, {}}; }
    static Outcome refused(QString why) { return {Refused, std::move(why)}; }
    bool ok() const { return result != Refused; }
};

// One reading of the temperature-and-fan cycle.
struct StatusReport {
    TemperatureReadings celsius;    // empty for a sensor not fitted or a failed read
    std::array<bool, 3> answered{}; // the controller answered the read (fitted or not)
    FanVerdict verdict = FanVerdict::Manual;
    qint32 running = 0;       // what the controller said of the fan (1 running)
    bool commandSent = false; // a fan command went out for the verdict
    bool logged = false;      // a log line was written
    QString logError;         // why a log line was dropped
};

// How a staged goto ended.
struct GotoEnd {
    int reached = 0; // raw
    int target = 0;  // raw
    bool stopped = false;
    // The operator's notice when an end stop or an active limit ended the move short of its
    // target, as the readout shows it ("" when it arrived).
    QString shortText;
    // Why the move was given up (the controller fell silent, a move asked for while
    // connecting could not start); "" when it ran or was stopped.
    QString failure;
};

// A device's connection. A lost port leaves it connected, and ready if it was, until the
// client disconnects: the client is told of the loss, not shown a focuser never connected.
enum class LinkState {
    Closed,
    Connecting, // the handshake answered; the calibration, limits and status are being read
    Ready,
    LostConnecting,
    LostReady,
};

// A read missed now and then is no fault; a controller silent for 10 seconds is.
enum class AnswerState {
    Answering,  // the last position read got an answer
    Unanswered, // the last one did not
    Silent,     // none has been answered for 10 seconds
};

// What a front end shows. Positions are raw counter values unless named client positions.
struct DeviceState {
    LinkState link = LinkState::Closed;
    AnswerState answers = AnswerState::Answering;
    bool connected() const {
        return link == LinkState::Connecting || link == LinkState::Ready ||
               link == LinkState::LostConnecting || link == LinkState::LostReady;
    }
    bool ready() const { return link == LinkState::Ready || link == LinkState::LostReady; }
    bool lost() const { return link == LinkState::LostConnecting || link == LinkState::LostReady; }
    bool answering() const { return answers == AnswerState::Answering; }
    bool silent() const { return answers == AnswerState::Silent; }
    int position = 0;
    quint32 clientPosition = 0;
    quint32 clientMax = 16777215;
    bool scaleKnown = false;  // the scale comes from reads that all succeeded
    bool gotoRunning = false; // also while a goto asked for during the connect waits to start
    bool jogging = false;
    bool calibrating = false;
    // Halted, and the position after the stop not yet read: a client that sees the motion
    // end reads where it ended.
    bool stopping = false;
    bool moving() const { return gotoRunning || jogging || calibrating || stopping; }
    std::optional<GotoEnd> lastGoto;
    // The last good reading of each sensor; empty for a sensor not fitted. A failed read keeps
    // the reading before it and marks it stale.
    TemperatureReadings celsius;
    std::array<bool, 3> sensorFailed{};
    bool temperaturesRead = false;
    int fanMode = 0; // 0 manual, 1..3 the automatic rules
    bool fanOn = false;
    bool limitsOn = false;
    bool autoStop = true;
    QString firmware;
    // Temperature compensation: possible (a coefficient and a reading of its sensor), on, its
    // last move ("Temp comp: +12 steps at 14.3 °C") and why it waits or went off.
    bool tempCompAvailable = false;
    bool tempCompOn = false;
    QString tempCompMove;
    QString tempCompStatus;
    int tempCompMoves = 0;      // compensation moves started since the program started
    QString progress;           // the calibration's progress text, lines joined by "\r\n"
    bool calibrationOk = false; // the last calibration completed
};

// The front end that runs the engine in place (the console's window) while guests (the
// console's Alpaca clients) call the verbs: their moves start on the host's own goto engine,
// whose tick runs them and shows them as the host's own, and their halt is the host's STOP.
class DeviceHost {
public:
    virtual ~DeviceHost() = default;
    // Why a guest may not move the focuser now ("" when it may): the host is in the middle of
    // something a move would spoil (its options exchange, a calibration).
    virtual QString GuestRefusal() const = 0;
    // A guest's goto has started; the host locks its motion controls as for its own.
    virtual void GuestMoveStarted() = 0;
    // A guest's halt, obeyed as the host's STOP.
    virtual void GuestStop() = 0;
};

class DeviceObserver {
public:
    virtual ~DeviceObserver() = default;
    // Something in State() changed; front ends publish what differs from what they showed.
    virtual void StateChanged() {}
    // A notice for the operator; error marks a failure (INDI: Alert, Alpaca: an error).
    virtual void Message(const QString& text, bool error) {
        Q_UNUSED(text);
        Q_UNUSED(error);
    }
};

// One connected focuser controller: the link, the commands, the settings and saved positions,
// the motion state, the goto engine, the calibrations, the temperature-and-fan cycle with its
// log, the position scale of network clients and the rules of Reset and Sync. Qt Core only.
//
// Every front end builds one. The window runs the console's poll (ConsolePoll) on its timer and
// calls the shared rules below from its handlers: the poll and its connect are sequences whose
// waits,
// those inside a command included, are timers of the window's loop; its handlers' short
// exchanges wait in place (sleeping in slices and pumping events) as the console always did. The
// INDI driver and the Alpaca server give it a Scheduler and call the verbs; every wait then goes
// back to their event loop, so a stop is never more than one command away. When the console serves
// Alpaca itself, the window is the device's host: the network's verbs check the same rules and
// start their gotos on the console's poll (see DeviceHost).
//
// Who calls which verb from where (the window calls the rules in place; the others the verbs):
// clang-format off
// | verb                     | window                        | INDI                      | Alpaca          |
// |--------------------------|-------------------------------|---------------------------|-----------------|
// | Connect / Disconnect     | cmdConnect / cmdDisconnect    | CONNECTION                | connect,        |
// |                          |                               |                           | Connected       |
// | MoveTo (client position) | Goto, double-click (raw)      | ABS_FOCUS_POSITION        | move            |
// | MoveBy                   | "+" / "-" quick adjust        | REL_FOCUS_POSITION        | -               |
// | Jog                      | jog buttons, press/release    | FOCUS_TIMER, FOCUS_MOTION | -               |
// | GotoSaved                | Goto on a saved position      | TARNIVEL_SAVED_GOTO       | action          |
// | Stop                     | STOP, Esc                     | FOCUS_ABORT_MOTION        | halt            |
// | Sync                     | -                             | FOCUS_SYNC                | -               |
// | ShiftCounter             | options Reset, editor ReAlign | -                         | -               |
// | Calibrate / Cancel...    | options dialog (in place)     | TARNIVEL_CALIBRATE        | -               |
// | SetFanMode / FanLimits   | Manual, Auto, fan switch      | TARNIVEL_FAN_MODE, LIMITS | action          |
// | SetActiveLimits          | options check box (Switch...) | TARNIVEL_LIMITS           | -               |
// | SetAutoStop              | options check box             | TARNIVEL_AUTO_STOP        | -               |
// | ReadStatus (one cycle)   | poll tick, every 500\Freq     | the device's own tick     | own tick        |
// | State()                  | readout, lamps                | property values           | every GET       |
// clang-format on
class FocuserDevice : private CalibrationObserver {
public:
    // Owns the link and the commands on port. scheduler: given by the front ends that serve
    // the verbs on an event loop; null for the window.
    FocuserDevice(SerialPort& port, Platform& platform, SoundPlayer& sound,
                  Scheduler* scheduler = nullptr);
    // On a link someone else keeps (the tests' simulated controller).
    FocuserDevice(FocuserCommands& commands, SoundPlayer& sound, Scheduler* scheduler = nullptr);
    ~FocuserDevice() override;
    FocuserDevice(const FocuserDevice&) = delete;
    FocuserDevice& operator=(const FocuserDevice&) = delete;

    // ---- Parts, for the window's handlers and the tests --------------------------------
    FocuserSettings& settings() { return settings_; }
    const FocuserSettings& settings() const { return settings_; }
    SavedPositionList& positions() { return positions_; }
    MotionState& motion() { return motion_; }
    FocuserLink& link() { return link_; }
    FocuserCommands& commands() { return commands_; }
    GotoController& gotos() { return gotos_; }
    Platform& platform() { return link_.platform(); }
    SoundPlayer& sound() { return sound_; }
    TemperatureLog& log() { return log_; }

    void AddObserver(DeviceObserver* observer);
    void RemoveObserver(DeviceObserver* observer);
    const DeviceState& State() const { return state_; }

    // Reads the settings file and the saved positions without ever writing them (the console
    // owns the file); the temperature log goes beside it. False with why when unreadable.
    bool LoadSettings(const ProgramFolder& folder, QString* error = nullptr);

    // ---- Rules shared by every front end -------------------------------------------------
    // Reads the position and shows it: the front end's readout when it set one, else the
    // device's own read (a failed read keeps the last good position).
    void SetReadout(std::function<void()> readout) { readout_ = std::move(readout); }
    const std::function<void()>& Readout() const { return readout_; }
    void DisplayPosition();
    // The device's own read of the position, without a readout, noted as every front end's
    // read is (NotePositionRead); -1 when unanswered (the last good position stays).
    int ReadPosition();
    Sequence<int> ReadPosition(Pacer& pacer);

    // The temperature-and-fan cycle: the three sensors, the fan's state, the automatic rule
    // of the fan mode (asked once the reads are done) and its fan command. Waits (one
    // event-loop turn between commands) are spent by pacer.
    Sequence<StatusReport> ReadStatus(Pacer& pacer, std::function<int()> fanMode);

    // The one start of a staged goto, whoever asks for it: the moving direction, then the
    // goto. stopCount is the link's StopCount() when the move was asked for: a stop since
    // then refuses it, and it ends like a stopped one. overshoot as GotoController::StartGoto.
    bool BeginGoto(int raw, quint64 stopCount, std::optional<int> overshoot = std::nullopt);
    // The clean-up after a staged goto ended (ran out, stopped or lost).
    void FinishGoto();
    // "Goto stopped short at 1.2 thou (target 3.4 thou)" when reached reads other than
    // target at the display decimals; "" otherwise.
    QString ShortGotoText(int reached, int target) const;

    // The quick calibration re-centres on what a full one stored: real limits and a MaxTravel.
    // Refused with the operator's text when they are missing or cannot be read.
    Sequence<Outcome> QuickCalibrationCheck(Pacer& pacer);
    // The same, its waits spent in place (the window).
    Outcome QuickCalibrationAllowed();

    // The controller's active limits on (one block inside the stored real limits) or off;
    // enforced tells which they now are. -1: the stored limits could not be read and nothing
    // was sent; -2: a write was not confirmed and the limits were read back into enforced.
    Sequence<int> SwitchActiveLimits(Pacer& pacer, bool on, bool& enforced);
    // The two writes of the active limits (upper and lower raw, each one block inside its end
    // stop), on or off, a turn of the loop after the first; the second is not sent when the
    // first was not confirmed. True when both were. Every switch of the limits goes here.
    Sequence<bool> WriteActiveLimits(Pacer& pacer, int upper, int lower, bool on);

    // The counter reads newPosition where it now reads CurrentPosition; the stored real limits
    // (and the active limits when they are on: activeLimitsOn, or as the controller reports
    // them when not given) move with it, so the end stops keep their place on the scale.
    // Refused when the limits cannot be read or the counter was not loaded (nothing is changed
    // then), and, with the counter moved, when the controller did not confirm the limits: the
    // focuser is then left uncalibrated, or its active limits read back. action names the
    // operator's command in the reason.
    Outcome ShiftCounter(int newPosition, std::optional<bool> activeLimitsOn,
                         const QString& action = QStringLiteral("Reset"));

    // Whether raw lies beyond the controller's active limits as they were last set or read
    // (a goto there stops short); false while they are off or not known.
    bool OutsideActiveLimits(int raw) const;
    // The signed ends the program knows: the stored real limits of a calibrated focuser and,
    // per side, an active limit whose byte is not 0 (the controller stops at byte × 65536).
    // A side with neither is open (StepLimits' own bounds).
    StepLimits KnownLimits() const;

    // The 0..Max scale of network clients, from the last successful reads.
    const PositionMap& Scale() const { return scale_; }
    // Reads Calibrated, MaxTravel and the real upper limit; on any failed read the previous
    // scale stays and the reason is returned (the caller reads again later).
    Sequence<Outcome> ReadScale(Pacer& pacer);
    // A calibration stored travel steps between its real limits, upper the higher (raw), or
    // cleared them (calibrated false).
    void CalibrationStored(bool calibrated, int travel, int upper);
    // A calibration set the counter anew: shift is how much more it now reads, or empty when
    // that is not known.
    void CounterRecentred(std::optional<qint64> shift);
    // The window's connect, after the probe answered: compensation starts off with no
    // readings of an earlier connection; the state says connected, not yet ready.
    void ConnectedInPlace();
    // What the window's own engine did, published in State() for the guests it serves: its
    // connect is done (the travel, the limits and the temperatures read), its tick ended, the
    // fan shown (mode 0 manual, 1..3 the rules), the connection closed.
    void ReadyInPlace();
    void TickedInPlace();
    void FanShownInPlace(int mode, bool on);
    void DisconnectedInPlace();
    // Guests' verbs go to host's engine from now on (null: none).
    void SetHost(DeviceHost* host) { host_ = host; }
    bool Hosted() const { return host_ != nullptr; }
    // No position read answered for ten seconds (counted from the goto's start during one).
    bool SilentTooLong() const;
    // The goto under way is given up: a stop, then the clean-up, with the reason told.
    void GiveUpSilentMove();
    // A guest's goto runs on the host's engine: its stages follow each other as on a served
    // device, with no poll period between them.
    bool GuestGotoRunning() const;
    // How many whole periods back-to-back network moves may hold a due temperature update back:
    // none while a sensor's last read failed (the clients are being told it failed), else
    // kStatusHeldPeriods.
    int StatusHeldPeriods() const;
    // Whether a temperature update due for overdueMs goes before the goto's next stage: before
    // its first after StatusHeldPeriods more periods, between two polls of a move in flight after
    // kStatusHeldPeriods.
    bool StatusGoesBeforeStage(qint64 overdueMs) const;
    // The window's read of the Calibrated flag (0 when the read failed), with the stored travel
    // of a calibrated focuser; the travel stays unknown when a read fails, or when the
    // registers disagree twice (disagreement then says so, for the status line).
    Sequence<qint32> ReadTravel(Pacer& pacer, QString* disagreement = nullptr);
    qint32 ReadTravelInPlace(QString* disagreement = nullptr);

    // ---- Temperature compensation, switched from every front end --------------------------
    TempCompensation& tempComp() { return tempComp_; }
    // On: refused without a coefficient or a connection; the reference is taken at once.
    Outcome SetTempComp(bool on);
    // A focus point (the chosen sensor's average, the position, now) into the settings'
    // focus points. Refused without a reading.
    Outcome MarkFocus();
    // STOP in a front end that stops in place (the window's STOP and Esc): compensation off,
    // saying how far from its target a correction under way was left.
    void StopTempComp();
    // The port closed itself: compensation off, with a message.
    void TempCompLost();
    // The lost-port rule of every front end: the first time the port is seen closed under an
    // open link after a connect, compensation goes off, a goto or a jog ends where it is as
    // after a stop (nothing is sent to a port that is gone) and the loss is told once; true
    // then, false at every other call.
    bool NoteLost();
    // Steps past the target of a compensation goto against the approach side.
    int TempCompOvershoot() const { return tempComp_.parameters().overshoot; }
    // A move compensation did not start has ended outside the device's own verbs (the
    // window's jog, its in-place calibration): the next idle reading takes a new reference.
    void MoveEnded();
    // After each status reading: the raw target of a compensation goto to start now, which
    // the window starts on its tick (the served front ends start it themselves).
    // exchanging: an options exchange with the controller is under way.
    std::optional<int> TempCompTarget(bool exchanging = false);

    // ---- Verbs of the event-loop front ends (need a Scheduler) ---------------------------
    // The port must be open (the driver's connection plugin) or openable as the configured
    // COMn; the probe must answer. Then the controller is read step by step (State().ready()).
    Outcome Connect();
    Outcome Disconnect();
    // A goto asked for while the controller is still being read after the connect starts once
    // it is read (the latest one asked for).
    Outcome MoveTo(quint32 clientPosition);
    Outcome MoveBy(qint64 clientSteps);
    // direction +1 outward, -1 inward; fast picks FastSlewSpeed over SlowSlewSpeed; the jog
    // ends by itself after ms (at least 1).
    Outcome Jog(int direction, bool fast, int ms);
    Outcome GotoSaved(int row);
    // Always obeyed: rate 0 at once, the goto, the jog and any calibration end; nothing that
    // was running moves the focuser again.
    Outcome Stop();
    // Makes the present position read clientPosition. Refused while the end stops define the
    // scale (the console's Reset moves counter and stops together instead) and before the
    // scale is known.
    Outcome Sync(quint32 clientPosition);
    // Refused while a goto or a timed move runs.
    Outcome Calibrate(bool full);
    Outcome CancelCalibration();
    // 0 Off, 1 On (manual), 2..4 the automatic rules 1..3.
    Outcome SetFanMode(int mode);
    Outcome SetFanLimits(double limit1, double limit2, double limit3);
    Outcome SetActiveLimits(bool on);
    Outcome SetAutoStop(bool on);

    // ---- The console's in-place exchanges (focuserdevice_inplace.cpp) ---------------------
    // The window's own commands: the sequences wait as the window's pacer spends command waits
    // (its loop), the others in place. Its handlers show what these return, between the calls,
    // in their own order.

    // The controller's addresses as the settings give them.
    void AddressFromSettings();
    // The probe of the window's connect on the open port; when the controller answers, the
    // device is connected (ConnectedInPlace). The connect's steps are sequences whose
    // commands wait as the window's pacer spends command waits.
    Sequence<bool> Probe(Pacer& pacer);
    // The connect's reads on either side of ReadTravel: first the sensors fitted, after it
    // the auto-stop and the active limits, switching an auto-stop found off on.
    Sequence<bool> ReadSensors(Pacer& pacer);
    Sequence<bool> ReadAutoStopAndLimits(Pacer& pacer);
    // The Calibrated flag; empty when the controller did not answer.
    std::optional<qint32> ReadCalibratedInPlace();
    // Whether the controller enforces an active limit (an unanswered read counts as none).
    bool ReadActiveLimitsInPlace();
    Sequence<bool> ReadActiveLimits(Pacer& pacer);
    // The auto-stop flag (0 when unanswered).
    qint32 ReadAutoStopInPlace();
    Sequence<qint32> ReadAutoStop(Pacer& pacer);
    // "major.minor" of the controller's firmware ("0.0" when unanswered).
    QString ReadFirmwareInPlace();
    // The registers of the options' state report, each 0 when unanswered.
    struct StatesReport {
        qint32 limitMin = 0;
        qint32 limitMax = 0;
        qint32 realLimitMin = 0;
        qint32 realLimitMax = 0;
        qint32 autoStop = 0;
        qint32 calibrated = 0;
        qint32 maxTravel = 0;
    };
    StatesReport ReadStatesReport();
    // Every switch of the auto-stop: true when the controller confirmed it, which the state
    // then shows.
    bool WriteAutoStop(bool on);
    Sequence<bool> WriteAutoStop(Pacer& pacer, bool on);
    // The jog's rate (0 ends it); the paced form for the poll tick.
    void SetJogRateInPlace(int rate);
    Sequence<int> SetJogRate(Pacer& pacer, int rate);
    // The operator's stop, sent even inside another command's wait.
    void StopInPlace();
    // The fan switched by hand, sent by the poll tick.
    Sequence<int> SetFan(Pacer& pacer, bool on);
    // The active limits' bytes as last set or read (-1 not known).
    struct LimitBytes {
        int lower = -1;
        int upper = -1;
    };
    LimitBytes ActiveLimitBytes() const;

private:
    void Init();
    // CalibrationObserver
    void CalibrationStarting() override;
    void CancelWithdrawn() override {}
    void CalibrationEnded() override;
    QString ProgressText() const override { return state_.progress; }
    void SetProgressText(const QString& text) override;
    void ShowAutoStop(bool on) override;
    void ShowLimits(bool on) override;
    bool CompletionSound() const override { return false; }

    void Notify();
    void Tell(const QString& text, bool error);
    Outcome MotionAllowed() const;
    // Keeps a goto asked for before the controller has been read; true when kept.
    bool KeepUntilReady(std::function<Outcome()> move);
    void StartKeptMove();
    void EndJog();
    void SendFanRequest();
    // A goto or a jog ends where it is, as after a stop, without sending anything.
    void EndMotionAsStopped();
    // The running goto ends here and now: a stop frame, then the usual clean-up.
    void EndGotoWithAStop();
    void StartGotoRaw(int raw, std::optional<int> overshoot = std::nullopt);
    // The one rule of a position read, whoever read it: -1 counts towards silence.
    void NotePositionRead(int p);
    // The served goto's readout: deferred to the next tick inside a goto tick.
    Sequence<bool> GotoReadout(Pacer& pacer);
    void ResetConnectionState(bool connected);
    void UpdateClientPosition();
    void Tick();
    void ScheduleTick(int ms);
    int PollMs() const;
    bool Reachable();
    Sequence<bool> ConnectSteps(Pacer& pacer);
    Sequence<bool> ReadControllerSteps(Pacer& pacer);
    Sequence<bool> StatusSteps(Pacer& pacer);
    Sequence<bool> LimitsSteps(Pacer& pacer, bool on);
    Sequence<bool> CalibrateSteps(Pacer& pacer, bool full);
    // Runs chore on the chore pacer, its first command a turn of the loop after this call.
    void StartChore(Sequence<bool> chore, bool status = false);
    // A chore held back by gotos for kStatusHeldPeriods status periods goes before the next
    // goto's first stage, and a status cycle also between two polls of a move in flight:
    // back-to-back moves, or one long move, would otherwise never leave it a free tick.
    bool ChoreGoesFirst() const;
    Sequence<bool> AfterATurn(Sequence<bool> chore);
    void AfterChoreStep();
    void AfterCalibrationStep();
    void TearDown();
    void PublishTempComp(const TempCompDecision& decision);
    // An uncalibrated focuser with both active limits known counts its clients' positions
    // from the lower one, so that 0 and MaxStep are places it can reach.
    void AnchorOnActiveLimits();

    std::optional<FocuserLink> ownLink_;
    std::optional<FocuserCommands> ownCommands_;
    FocuserLink& link_;
    FocuserCommands& commands_;
    SoundPlayer& sound_;
    Scheduler* scheduler_;
    DeviceHost* host_ = nullptr;
    FocuserSettings settings_;
    SavedPositionList positions_;
    MotionState motion_;
    GotoController gotos_;
    TemperatureLog log_;
    std::function<void()> readout_;
    std::vector<DeviceObserver*> observers_;
    DeviceState state_;
    PositionMap scale_ = PositionMap::FromController(false, 0);
    bool scaleOnLimits_ = false; // scale_ counts from the active limits, not the end stops

    // The served front ends' machinery (unused by the window).
    std::optional<Calibration> calibration_;
    std::optional<TimerPacer> pacer_;
    std::optional<TimerPacer> chorePacer_;
    Sequence<bool> calibrationRun_;
    Sequence<bool> chore_;
    int tickTimer_ = -1;
    int jogTimer_ = -1;
    bool deferRead_ = false;
    bool positionDue_ = false;
    bool scaleDue_ = false;
    bool statusDue_ = false;
    int fanRequest_ = -1; // a manual fan mode (0 off, 1 on) still to be sent
    std::function<Outcome()> keptMove_;
    qint64 silentSinceMs_ = -1; // the first of the position reads that failed in a row
    bool limitsDue_ = false;
    bool limitsWanted_ = false;
    bool lostReported_ = false;
    bool calibrationPending_ = false;
    std::optional<bool> calibrationDue_; // full or quick, asked while a chore ran
    qint64 lastStatusMs_ = 0;
    qint64 choreSinceMs_ = 0;
    bool statusChore_ = false; // the chore under way is the status cycle

    TempCompensation tempComp_;
    // The raw target of the compensation goto under way: its end takes no new reference.
    std::optional<int> compGotoTarget_;
    // The goto under way was started by a guest of the host.
    bool guestGoto_ = false;
};

} // namespace tarnivel
