#include "indi/tarnivelfocuser.h"

#include "core/device/fanrule.h"
#include "core/motion/positionunits.h"

#include <connectionplugins/connectionserial.h>
#include <eventloop.h>
#include <indilogger.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <cstring>

namespace tarnivel {

namespace {

const char* const kGroup = "Tarnivel";
constexpr int kTickBaseMs = 1000;    // the position is read Frequency times a second
constexpr int kStatusBaseMs = 25000; // temperatures and fan every 25 / Frequency seconds
constexpr int kGotoTickMs = 50;      // the window's tick, so a goto advances as fast as there
constexpr int kSpeedSlow = 1;
constexpr int kSpeedFast = 2;

enum FanSwitch { FanOff, FanOn, FanRule1, FanRule2, FanRule3 };
enum CalibrateSwitch { CalibrateFull, CalibrateQuick, CalibrateCancel };

const QString kLostText = QStringLiteral("Focuser connection lost");
const QString kSilentText = QStringLiteral("Focuser not responding");
const QString kNotCalibratedText = QStringLiteral("Focuser must be Calibrated first.");

// The folder whose settings file and COMn links the console uses: the rule of the console,
// applied to the folder this driver was installed in.
ProgramFolder DriverFolder() {
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return ProgramFolder::resolveIn(QFileInfo(exe).absolutePath(), QStringLiteral("tarnivel"));
}

// The serial connection with the console's port names: "COM3" opens what the console's COM3
// opens (a link in the program folder, else /dev/ttyS2); a path opens that path.
class ComSerial final : public Connection::Serial {
public:
    ComSerial(INDI::DefaultDevice* device, ProgramFolder folder)
        : Connection::Serial(device), folder_(std::move(folder)) {
        setDefaultBaudRate(B_9600);
        setDefaultPort("COM1");
    }

    void Activated() override {
        Connection::Serial::Activated();
        // Searching other ports would send our frames to whatever devices sit there.
        IUResetSwitch(&AutoSearchSP);
        AutoSearchS[1].s = ISS_ON;
    }

protected:
    bool Connect(const char* port, uint32_t baud) override {
        static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]?)$"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = com.match(QString::fromUtf8(port).trimmed());
        const QByteArray device = m.hasMatch()
                                      ? folder_.comPortDevice(m.captured(1).toInt()).toLocal8Bit()
                                      : QByteArray(port);
        return Connection::Serial::Connect(device.constData(), baud);
    }

private:
    ProgramFolder folder_;
};

const QString& SensorName(const FocuserSettings& s, int n) {
    return n == 1 ? s.SensorName1 : n == 2 ? s.SensorName2 : s.SensorName3;
}

double& SensorLimit(FocuserSettings& s, int n) {
    return n == 1 ? s.SensorLimit1 : n == 2 ? s.SensorLimit2 : s.SensorLimit3;
}

QByteArray Utf8(const QString& text) {
    return text.toUtf8();
}

} // namespace

TarnivelFocuser::TarnivelFocuser()
    : folder_(DriverFolder()), link_(port_, platform_), commands_(link_),
      gotos_(commands_, settings_, motion_, quiet_, platform_), console_{settings_,
                                                                         motion_,
                                                                         positions_,
                                                                         link_,
                                                                         commands_,
                                                                         gotos_,
                                                                         platform_,
                                                                         quiet_,
                                                                         quiet_,
                                                                         quiet_,
                                                                         folder_.baseName(),
                                                                         folder_.logPath(),
                                                                         folder_.logFileName(),
                                                                         {},
                                                                         {},
                                                                         {}},
      calibration_(console_, *this) {
    setVersion(TARNIVEL_VERSION_MAJOR, TARNIVEL_VERSION_MINOR);
    SetCapability(FOCUSER_CAN_ABS_MOVE | FOCUSER_CAN_REL_MOVE | FOCUSER_CAN_ABORT |
                  FOCUSER_CAN_SYNC | FOCUSER_HAS_VARIABLE_SPEED | FOCUSER_HAS_BACKLASH);
    setSupportedConnections(CONNECTION_NONE);
    console_.DisplayPosition = [this] { DisplayPosition(); };
    gotos_.setDisplayPosition([this] {
        // Inside a goto tick the read goes to the next tick: one command per tick, so an
        // abort never waits behind two.
        if (deferRead_)
            positionDue_ = true;
        else
            DisplayPosition();
    });
    pacer_.afterStep = [this] { AfterCalibrationStep(); };
    chorePacer_.afterStep = [this] { AfterChoreStep(); };
    LoadSettingsFile();
}

TarnivelFocuser::~TarnivelFocuser() {
    pacer_.Cancel();
    calibrationRun_.Reset();
    chorePacer_.Cancel();
    chore_.Reset();
}

const char* TarnivelFocuser::getDefaultName() {
    return "Tarnivel";
}

void TarnivelFocuser::LoadSettingsFile() {
    // Read only: the console writes this file when its window closes, and two writers would
    // lose each other's changes. What INDI changes lives in INDI's own configuration.
    LoadSettings(folder_.settingsPath(), settings_, positions_, WindowGeometryTwips{});
    commands_.Device = settings_.Device;
    commands_.Device2 = settings_.Device2;
}

bool TarnivelFocuser::initProperties() {
    INDI::Focuser::initProperties();

    auto* serial = new ComSerial(this, folder_);
    serial->registerHandshake([this, serial] {
        PortFD = serial->getPortFD();
        return Handshake();
    });
    registerConnection(serial);

    FocusSpeedN[0].min = kSpeedSlow;
    FocusSpeedN[0].max = kSpeedFast;
    FocusSpeedN[0].step = 1;
    FocusSpeedN[0].value = kSpeedSlow;
    // The travel is measured by a calibration, not chosen.
    FocusMaxPosNP.p = IP_RO;
    FocusAbsPosN[0].min = 0;
    FocusRelPosN[0].min = 0;
    overshootSteps_ = std::abs(settings_.Overshoot);
    overshootEnabled_ = settings_.Overshoot > 0;
    FocusBacklashN[0].min = 0;
    FocusBacklashN[0].max = 1000000;
    FocusBacklashN[0].step = 100;
    FocusBacklashN[0].value = overshootSteps_;
    IUResetSwitch(&FocusBacklashSP);
    FocusBacklashS[overshootEnabled_ ? INDI_ENABLED : INDI_DISABLED].s = ISS_ON;

    IUFillNumber(&TemperatureN[0], "TEMPERATURE", "Celsius", "%6.1f", -100, 150, 0, 0);
    IUFillNumberVector(&TemperatureNP, TemperatureN, 1, getDeviceName(), "FOCUS_TEMPERATURE",
                       "Temperature", MAIN_CONTROL_TAB, IP_RO, 0, IPS_IDLE);

    static QByteArray sensorLabels[3];
    for (int n = 1; n <= 3; ++n) {
        sensorLabels[n - 1] = Utf8(SensorName(settings_, n) + QStringLiteral(" (°C)"));
        const QByteArray name = "SENSOR" + QByteArray::number(n);
        IUFillNumber(&SensorsN[n - 1], name.constData(), sensorLabels[n - 1].constData(), "%6.1f",
                     kNotFittedTemperature, 150, 0, kNotFittedTemperature);
    }
    IUFillNumberVector(&SensorsNP, SensorsN, 3, getDeviceName(), "TARNIVEL_TEMPERATURES",
                       "Temperatures", kGroup, IP_RO, 0, IPS_IDLE);

    IUFillSwitch(&FanModeS[FanOff], "FAN_OFF", "Off", ISS_ON);
    IUFillSwitch(&FanModeS[FanOn], "FAN_ON", "On", ISS_OFF);
    IUFillSwitch(&FanModeS[FanRule1], "FAN_RULE1", "Auto 1", ISS_OFF);
    IUFillSwitch(&FanModeS[FanRule2], "FAN_RULE2", "Auto 2", ISS_OFF);
    IUFillSwitch(&FanModeS[FanRule3], "FAN_RULE3", "Auto 3", ISS_OFF);
    IUFillSwitchVector(&FanModeSP, FanModeS, 5, getDeviceName(), "TARNIVEL_FAN_MODE", "Fan", kGroup,
                       IP_RW, ISR_1OFMANY, 0, IPS_IDLE);

    static const QByteArray unit = settings_.Degrees == 0 ? "°C" : "°F";
    static QByteArray limitLabels[3];
    for (int n = 1; n <= 3; ++n) {
        limitLabels[n - 1] = (n == 1 ? Utf8(SensorName(settings_, 1))
                                     : Utf8(SensorName(settings_, 1) + QStringLiteral(" - ") +
                                            SensorName(settings_, n))) +
                             " > (" + unit + ")";
        const QByteArray name = "LIMIT" + QByteArray::number(n);
        IUFillNumber(&FanLimitsN[n - 1], name.constData(), limitLabels[n - 1].constData(), "%.1f",
                     -1000, 1000, 0.5, SensorLimit(settings_, n));
    }
    IUFillNumberVector(&FanLimitsNP, FanLimitsN, 3, getDeviceName(), "TARNIVEL_FAN_LIMITS",
                       "Fan rules", kGroup, IP_RW, 0, IPS_IDLE);

    IUFillLight(&FanStateL[0], "FAN", "Fan running", IPS_IDLE);
    IUFillLightVector(&FanStateLP, FanStateL, 1, getDeviceName(), "TARNIVEL_FAN_STATE", "Fan state",
                      kGroup, IPS_IDLE);

    IUFillSwitch(&SavedGotoS[0], "GOTO", "Go to", ISS_OFF);
    IUFillSwitchVector(&SavedGotoSP, SavedGotoS, 1, getDeviceName(), "TARNIVEL_SAVED_GOTO",
                       "Saved position", kGroup, IP_RW, ISR_ATMOST1, 0, IPS_IDLE);

    static const QByteArray unitsLabel = Utf8(settings_.ScaleUnits);
    static const QByteArray unitsFormat =
        "%." + QByteArray::number(qMax(0, settings_.Decimals)) + "f";
    IUFillNumber(&UnitsN[0], "POSITION", unitsLabel.constData(), unitsFormat.constData(), -1e9, 1e9,
                 0, 0);
    IUFillNumberVector(&UnitsNP, UnitsN, 1, getDeviceName(), "TARNIVEL_POSITION_UNITS", "Position",
                       kGroup, IP_RO, 0, IPS_IDLE);

    IUFillSwitch(&CalibrateS[CalibrateFull], "FULL", "Full Calibrate", ISS_OFF);
    IUFillSwitch(&CalibrateS[CalibrateQuick], "QUICK", "Quick Calibrate", ISS_OFF);
    IUFillSwitch(&CalibrateS[CalibrateCancel], "CANCEL", "Cancel", ISS_OFF);
    IUFillSwitchVector(&CalibrateSP, CalibrateS, 3, getDeviceName(), "TARNIVEL_CALIBRATE",
                       "Calibrate", kGroup, IP_RW, ISR_ATMOST1, 0, IPS_IDLE);
    IUFillText(&ProgressT[0], "TEXT", "Progress", "");
    IUFillTextVector(&ProgressTP, ProgressT, 1, getDeviceName(), "TARNIVEL_CALIBRATION",
                     "Calibration", kGroup, IP_RO, 0, IPS_IDLE);

    IUFillSwitch(&AutoStopS[0], "ON", "On", ISS_OFF);
    IUFillSwitch(&AutoStopS[1], "OFF", "Off", ISS_ON);
    IUFillSwitchVector(&AutoStopSP, AutoStopS, 2, getDeviceName(), "TARNIVEL_AUTO_STOP",
                       "Auto-stop", kGroup, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
    IUFillSwitch(&LimitsS[0], "ON", "On", ISS_OFF);
    IUFillSwitch(&LimitsS[1], "OFF", "Off", ISS_ON);
    IUFillSwitchVector(&LimitsSP, LimitsS, 2, getDeviceName(), "TARNIVEL_LIMITS", "Limits", kGroup,
                       IP_RW, ISR_1OFMANY, 0, IPS_IDLE);

    IUFillText(&FirmwareT[0], "VERSION", "Firmware", "");
    IUFillTextVector(&FirmwareTP, FirmwareT, 1, getDeviceName(), "TARNIVEL_FIRMWARE", "Controller",
                     kGroup, IP_RO, 0, IPS_IDLE);

    addDebugControl();
    return true;
}

void TarnivelFocuser::DefineSavedPositions() {
    // One switch per row of the settings file's list, in the list's order.
    static std::vector<QByteArray> labels;
    labels.clear();
    SavedS.assign(static_cast<size_t>(positions_.ListCount()), ISwitch{});
    for (int i = 0; i < positions_.ListCount(); ++i) {
        const QString row = positions_.List(i);
        labels.push_back(Utf8(ListEntryField(row, 0).trimmed() + QStringLiteral(" (") +
                              ListEntryField(row, 1).trimmed() + QStringLiteral(")")));
    }
    for (int i = 0; i < positions_.ListCount(); ++i) {
        const QByteArray name = "POS" + QByteArray::number(i);
        IUFillSwitch(&SavedS[static_cast<size_t>(i)], name.constData(),
                     labels[static_cast<size_t>(i)].constData(), ISS_OFF);
    }
    IUFillSwitchVector(&SavedSP, SavedS.data(), static_cast<int>(SavedS.size()), getDeviceName(),
                       "TARNIVEL_SAVED_POSITIONS", "Saved positions", kGroup, IP_RW, ISR_ATMOST1, 0,
                       IPS_IDLE);
    if (!SavedS.empty()) {
        defineProperty(&SavedSP);
        defineProperty(&SavedGotoSP);
    }
}

bool TarnivelFocuser::updateProperties() {
    INDI::Focuser::updateProperties();
    if (isConnected()) {
        // The timed move is the console's jog at the rate FOCUS_SPEED picks.
        defineProperty(&FocusTimerNP);
        defineProperty(&TemperatureNP);
        defineProperty(&UnitsNP);
        defineProperty(&SensorsNP);
        defineProperty(&FanModeSP);
        defineProperty(&FanLimitsNP);
        defineProperty(&FanStateLP);
        DefineSavedPositions();
        defineProperty(&CalibrateSP);
        defineProperty(&ProgressTP);
        defineProperty(&AutoStopSP);
        defineProperty(&LimitsSP);
        defineProperty(&FirmwareTP);
        loadConfig(true, FanLimitsNP.name);

        ready_ = false;
        StartChore(ConnectSteps(chorePacer_));
    } else {
        for (const char* name : {TemperatureNP.name, UnitsNP.name, SensorsNP.name, FanModeSP.name,
                                 FanLimitsNP.name, FanStateLP.name, CalibrateSP.name,
                                 ProgressTP.name, AutoStopSP.name, LimitsSP.name, FirmwareTP.name})
            deleteProperty(name);
        if (!SavedS.empty()) {
            deleteProperty(SavedSP.name);
            deleteProperty(SavedGotoSP.name);
        }
    }
    return true;
}

bool TarnivelFocuser::Handshake() {
    LoadSettingsFile();
    ApplyOvershoot();
    port_.attach(PortFD);
    link_.SetLinkOpen(true);
    if (!commands_.ProbeFocuser()) {
        link_.SetLinkOpen(false);
        port_.detach();
        LOG_ERROR("No focuser controller answers on this port.");
        return false;
    }
    answering_ = true;
    lostReported_ = false;
    motion_ = MotionState{};
    return true;
}

bool TarnivelFocuser::Disconnect() {
    if (tickTimer_ != -1)
        RemoveTimer(tickTimer_);
    tickTimer_ = -1;
    EndJog();
    chorePacer_.Cancel();
    chore_.Reset();
    ready_ = false;
    TemperatureNP.s = IPS_IDLE;
    if (calibrationRun_.Valid()) {
        calibration_.CancelClick();
        pacer_.Cancel();
        calibrationRun_.Reset();
        calibration_.Abandon();
    } else if (!port_.connectionLost()) {
        commands_.Stop();
    }
    gotos_.ClearGoto();
    motion_ = MotionState{};
    link_.SetLinkOpen(false);
    port_.detach();
    return INDI::Focuser::Disconnect();
}

Sequence<bool> TarnivelFocuser::ConnectSteps(Pacer& pacer) {
    co_await ReadControllerSteps(pacer);
    DisplayPosition();
    co_await PumpEvents(pacer);
    // As the console's connect: the fan starts in manual mode, switched off.
    fanMode_ = 0;
    commands_.SetFan(false);
    co_await PumpEvents(pacer);
    co_await StatusSteps(pacer);
    ready_ = true;
    ScheduleTick(PollMs());
    co_return true;
}

void TarnivelFocuser::StartChore(Sequence<bool> chore) {
    chore_ = std::move(chore);
    chore_.Start();
    AfterChoreStep();
}

void TarnivelFocuser::AfterChoreStep() {
    if (chore_.Valid() && chore_.Done())
        chore_.Reset();
}

Sequence<bool> TarnivelFocuser::ReadControllerSteps(Pacer& pacer) {
    // Between any two commands the event loop gets a turn: a connect or a status update
    // never keeps an abort waiting for more than one command.
    qint32 calibrated = 0;
    qint32 travel = 0;
    commands_.GetCalibrated(calibrated);
    co_await PumpEvents(pacer);
    commands_.GetMaxTravel(travel);
    co_await PumpEvents(pacer);
    map_ = PositionMap::FromController(calibrated == 1, travel);
    RebuildMap();

    qint32 lower = 0;
    qint32 upper = 0;
    commands_.GetLimitMin(lower);
    co_await PumpEvents(pacer);
    commands_.GetLimitMax(upper);
    co_await PumpEvents(pacer);
    IUResetSwitch(&LimitsSP);
    LimitsS[(lower != 0 || upper != 0) ? 0 : 1].s = ISS_ON;
    LimitsSP.s = IPS_OK;
    IDSetSwitch(&LimitsSP, nullptr);

    qint32 autoStop = 0;
    commands_.GetAutoStop(autoStop);
    ShowAutoStop(autoStop != 0);
    co_await PumpEvents(pacer);

    qint32 major = 0;
    qint32 minor = 0;
    if (commands_.GetFirmwareVersion(major, minor) == 0) {
        IUSaveText(&FirmwareT[0],
                   QStringLiteral("%1.%2").arg(major).arg(minor).toUtf8().constData());
        FirmwareTP.s = IPS_OK;
    }
    IDSetText(&FirmwareTP, nullptr);
    co_return true;
}

void TarnivelFocuser::RebuildMap() {
    FocusMaxPosN[0].value = map_.Max();
    FocusMaxPosN[0].max = map_.Max();
    FocusAbsPosN[0].max = map_.Max();
    FocusRelPosN[0].max = map_.Max();
    FocusSyncN[0].max = map_.Max();
    for (INumber& preset : PresetN)
        preset.max = map_.Max();
    FocusMaxPosNP.s = IPS_OK;
    IDSetNumber(&FocusMaxPosNP, nullptr);
    IUUpdateMinMax(&FocusAbsPosNP);
    IUUpdateMinMax(&FocusRelPosNP);
    IUUpdateMinMax(&FocusSyncNP);
    IUUpdateMinMax(&PresetNP);
}

int TarnivelFocuser::PollMs() const {
    // A Frequency below 1 can only come from a hand-edited file; it reads as 1.
    return kTickBaseMs / qMax(1, settings_.Frequency);
}

void TarnivelFocuser::ScheduleTick(int ms) {
    if (tickTimer_ != -1)
        RemoveTimer(tickTimer_);
    tickTimer_ = SetTimer(static_cast<uint32_t>(ms));
}

bool TarnivelFocuser::Reachable() {
    if (!port_.connectionLost())
        return true;
    // Every command would now wait for its time-out: say so once and send nothing until the
    // client connects again.
    if (!lostReported_) {
        lostReported_ = true;
        gotos_.ClearGoto();
        motion_.GotoDone = false;
        motion_.MotionDirection = 0;
        FocusAbsPosNP.s = IPS_ALERT;
        FocusRelPosNP.s = IPS_ALERT;
        IDSetNumber(&FocusRelPosNP, nullptr);
        IDSetNumber(&FocusAbsPosNP, "%s", kLostText.toUtf8().constData());
    }
    return false;
}

void TarnivelFocuser::TimerHit() {
    tickTimer_ = -1;
    if (!isConnected())
        return;
    // During a calibration its own sequence reads the position.
    if (calibrationRun_.Valid() || !Reachable()) {
        ScheduleTick(PollMs());
        return;
    }
    if (motion_.GotoMode == kGotoModeGoto && positionDue_) {
        positionDue_ = false;
        DisplayPosition();
    } else if (motion_.GotoMode == kGotoModeGoto) {
        deferRead_ = true;
        gotos_.RunStage();
        deferRead_ = false;
        if (motion_.GotoDone) {
            positionDue_ = false;
            DisplayPosition();
            motion_.GotoDone = false;
            motion_.JogRate = 0;
            motion_.MotionDirection = 0;
            gotos_.ClearGoto();
            FocusAbsPosNP.s = answering_ ? IPS_OK : IPS_ALERT;
            if (FocusRelPosNP.s == IPS_BUSY) {
                FocusRelPosNP.s = IPS_OK;
                IDSetNumber(&FocusRelPosNP, nullptr);
            }
            if (SavedGotoSP.s == IPS_BUSY) {
                SavedGotoSP.s = IPS_OK;
                IDSetSwitch(&SavedGotoSP, nullptr);
            }
            PublishPosition();
        }
    } else {
        DisplayPosition();
    }
    const qint64 now = platform_.nowMs();
    if (now - lastStatusMs_ >= kStatusBaseMs / qMax(1, settings_.Frequency) && !chore_.Valid()) {
        lastStatusMs_ = now;
        StartChore(StatusSteps(chorePacer_));
    }
    ScheduleTick(motion_.GotoMode == kGotoModeGoto ? kGotoTickMs : PollMs());
}

void TarnivelFocuser::DisplayPosition() {
    const int p = commands_.GetPosition();
    if (p == -1) {
        if (answering_) {
            answering_ = false;
            FocusAbsPosNP.s = IPS_ALERT;
            IDSetNumber(&FocusAbsPosNP, "%s", kSilentText.toUtf8().constData());
        }
        return;
    }
    motion_.CurrentPosition = p;
    if (!answering_) {
        answering_ = true;
        FocusAbsPosNP.s = motion_.GotoMode == kGotoModeGoto ? IPS_BUSY : IPS_OK;
    }
    PublishPosition();
}

void TarnivelFocuser::PublishPosition() {
    const double indi = map_.ToIndi(motion_.CurrentPosition);
    const double units =
        StepsToUnits(motion_.CurrentPosition, settings_.ScaleFactor, settings_.Decimals);
    // Only changes go out: an idle focuser costs its clients nothing.
    if (indi != FocusAbsPosN[0].value || publishedState_ != FocusAbsPosNP.s) {
        FocusAbsPosN[0].value = indi;
        publishedState_ = FocusAbsPosNP.s;
        IDSetNumber(&FocusAbsPosNP, nullptr);
    }
    if (units != UnitsN[0].value) {
        UnitsN[0].value = units;
        UnitsNP.s = IPS_OK;
        IDSetNumber(&UnitsNP, nullptr);
    }
}

Sequence<bool> TarnivelFocuser::StatusSteps(Pacer& pacer) {
    TemperatureReadings celsius;
    for (int n = 1; n <= 3; ++n) {
        bool ok = false;
        const double t = commands_.GetTemperature(n, &ok);
        co_await PumpEvents(pacer);
        // A failed read yields 0.0, a temperature nobody measured: no reading.
        if (ok && t != kNotFittedTemperature)
            celsius[n - 1] = t;
        SensorsN[n - 1].value = celsius[n - 1] ? *celsius[n - 1] : kNotFittedTemperature;
    }
    SensorsNP.s = IPS_OK;
    IDSetNumber(&SensorsNP, nullptr);
    if (celsius[0]) {
        TemperatureN[0].value = *celsius[0];
        TemperatureNP.s = IPS_OK;
    } else {
        TemperatureNP.s = IPS_ALERT;
    }
    IDSetNumber(&TemperatureNP, nullptr);

    qint32 running = 0;
    commands_.GetFanState(running);
    co_await PumpEvents(pacer);
    const FanVerdict verdict = DecideFan(fanMode_, celsius, settings_.Degrees, settings_);
    SendFanCommand(commands_, verdict, running);
    bool on = running != 0;
    if (verdict != FanVerdict::Manual)
        on = verdict == FanVerdict::Run;
    FanStateL[0].s = on ? IPS_OK : IPS_IDLE;
    FanStateLP.s = IPS_OK;
    IDSetLight(&FanStateLP, nullptr);
    co_return true;
}

void TarnivelFocuser::StopEverything() {
    // The stop goes out first, before any bookkeeping; as a stop it also ends whatever was
    // moving the focuser before it (a goto's next stage, a calibration's next move).
    if (calibrationRun_.Valid()) {
        calibration_.CancelClick();
    } else if (!port_.connectionLost()) {
        commands_.Stop();
    }
    EndJog();
    gotos_.ClearGoto();
    positionDue_ = false;
    motion_.GotoDone = false;
    motion_.JogRate = 0;
    motion_.MotionDirection = 0;
    if (calibrationRun_.Valid() && pacer_.Waiting())
        pacer_.ResumeNow();
}

IPState TarnivelFocuser::MoveFocuser(FocusDirection dir, int speed, uint16_t duration) {
    if (calibrationRun_.Valid() || motion_.GotoMode == kGotoModeGoto || port_.connectionLost())
        return IPS_ALERT;
    // The console's jog: the slow or the fast rate for as long as asked, then rate 0.
    const int rate = speed == kSpeedFast ? settings_.FastSlewSpeed : settings_.SlowSlewSpeed;
    const int signedRate = dir == FOCUS_OUTWARD ? rate : -rate;
    motion_.JogRate = signedRate;
    motion_.MotionDirection = dir == FOCUS_OUTWARD ? 1 : -1;
    commands_.MoveAtRate(signedRate);
    if (jogTimer_ != -1)
        rmTimer(jogTimer_);
    jogTimer_ = addTimer(duration, &TarnivelFocuser::JogTimeUp, this);
    return IPS_BUSY;
}

void TarnivelFocuser::JogTimeUp(void* self) {
    auto* focuser = static_cast<TarnivelFocuser*>(self);
    focuser->jogTimer_ = -1;
    if (focuser->motion_.JogRate == 0)
        return;
    focuser->StopEverything();
    focuser->FocusTimerNP.s = IPS_OK;
    IDSetNumber(&focuser->FocusTimerNP, nullptr);
}

void TarnivelFocuser::EndJog() {
    if (jogTimer_ != -1)
        rmTimer(jogTimer_);
    jogTimer_ = -1;
}

void TarnivelFocuser::StartGoto(int raw) {
    motion_.MotionDirection = DirectionTo(motion_.CurrentPosition, raw);
    gotos_.StartGoto(raw, link_.StopCount());
    // The first stage at once rather than at the next tick.
    ScheduleTick(0);
}

IPState TarnivelFocuser::MoveAbsFocuser(uint32_t targetTicks) {
    if (!ready_) {
        LOG_WARN("Still reading the controller.");
        return IPS_ALERT;
    }
    if (calibrationRun_.Valid()) {
        LOG_WARN("A calibration is running.");
        return IPS_ALERT;
    }
    if (port_.connectionLost()) {
        LOG_ERROR("Focuser connection lost");
        return IPS_ALERT;
    }
    if (motion_.JogRate != 0) {
        EndJog();
        commands_.MoveAtRate(0);
        motion_.JogRate = 0;
    }
    StartGoto(map_.ToRaw(targetTicks));
    return IPS_BUSY;
}

IPState TarnivelFocuser::MoveRelFocuser(FocusDirection dir, uint32_t ticks) {
    const qint64 here = map_.ToIndi(motion_.CurrentPosition);
    qint64 target = dir == FOCUS_OUTWARD ? here + ticks : here - static_cast<qint64>(ticks);
    target = qBound<qint64>(0, target, map_.Max());
    const IPState state = MoveAbsFocuser(static_cast<uint32_t>(target));
    if (state == IPS_BUSY) {
        FocusAbsPosNP.s = IPS_BUSY;
        IDSetNumber(&FocusAbsPosNP, nullptr);
    }
    return state;
}

bool TarnivelFocuser::AbortFocuser() {
    StopEverything();
    FocusAbsPosNP.s = IPS_IDLE;
    FocusRelPosNP.s = IPS_IDLE;
    IDSetNumber(&FocusAbsPosNP, nullptr);
    IDSetNumber(&FocusRelPosNP, nullptr);
    return true;
}

bool TarnivelFocuser::SyncFocuser(uint32_t ticks) {
    if (calibrationRun_.Valid() || motion_.GotoMode == kGotoModeGoto)
        return false;
    if (commands_.SetPosition(map_.ToRaw(ticks)) != 0)
        return false;
    DisplayPosition();
    return true;
}

bool TarnivelFocuser::SetFocuserSpeed(int speed) {
    return speed == kSpeedSlow || speed == kSpeedFast;
}

bool TarnivelFocuser::SetFocuserMaxPosition(uint32_t) {
    LOG_WARN("The travel is measured by a full calibration.");
    return false;
}

bool TarnivelFocuser::SetFocuserBacklash(int32_t steps) {
    overshootSteps_ = std::abs(steps);
    ApplyOvershoot();
    return true;
}

bool TarnivelFocuser::SetFocuserBacklashEnabled(bool enabled) {
    overshootEnabled_ = enabled;
    ApplyOvershoot();
    return true;
}

void TarnivelFocuser::ApplyOvershoot() {
    // Disabled: every goto is a single move, as the console does with an Overshoot of 0.
    settings_.Overshoot = overshootEnabled_ ? overshootSteps_ : 0;
}

void TarnivelFocuser::StartCalibration(bool full) {
    if (full) {
        calibrationRun_ = calibration_.Full(pacer_);
    } else {
        qint32 lower = 0;
        qint32 upper = 0;
        commands_.GetRealLimitMin(lower);
        commands_.GetRealLimitMax(upper);
        // The quick calibration centres on what a full one stored.
        if (lower == 0 && upper == 0) {
            CalibrateSP.s = IPS_ALERT;
            IUResetSwitch(&CalibrateSP);
            IDSetSwitch(&CalibrateSP, "%s", kNotCalibratedText.toUtf8().constData());
            return;
        }
        calibrationRun_ = calibration_.Quick(pacer_);
    }
    gotos_.ClearGoto();
    calibrationRun_.Start();
    AfterCalibrationStep();
}

void TarnivelFocuser::AfterCalibrationStep() {
    if (!calibrationRun_.Valid() || !calibrationRun_.Done())
        return;
    calibrationRun_.Reset();
    // What the calibration stored decides the position mapping.
    if (!chore_.Valid())
        StartChore(ReadControllerSteps(chorePacer_));
}

void TarnivelFocuser::CalibrationStarting() {
    IUResetSwitch(&CalibrateSP);
    CalibrateSP.s = IPS_BUSY;
    IDSetSwitch(&CalibrateSP, nullptr);
}

void TarnivelFocuser::CalibrationEnded() {
    IUResetSwitch(&CalibrateSP);
    CalibrateSP.s = progress_ == kLabelComplete ? IPS_OK : IPS_ALERT;
    IDSetSwitch(&CalibrateSP, nullptr);
}

void TarnivelFocuser::SetProgressText(const QString& text) {
    progress_ = text;
    // One line for the clients: the label's line breaks as " / ".
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
    IUSaveText(&ProgressT[0], line.toUtf8().constData());
    ProgressTP.s = IPS_OK;
    IDSetText(&ProgressTP, nullptr);
}

void TarnivelFocuser::ShowAutoStop(bool on) {
    IUResetSwitch(&AutoStopSP);
    AutoStopS[on ? 0 : 1].s = ISS_ON;
    AutoStopSP.s = IPS_OK;
    IDSetSwitch(&AutoStopSP, nullptr);
}

void TarnivelFocuser::ShowLimits(bool on) {
    IUResetSwitch(&LimitsSP);
    LimitsS[on ? 0 : 1].s = ISS_ON;
    LimitsSP.s = IPS_OK;
    IDSetSwitch(&LimitsSP, nullptr);
}

bool TarnivelFocuser::ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                                  int n) {
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0) {
        if (std::strcmp(name, FanLimitsNP.name) == 0) {
            IUUpdateNumber(&FanLimitsNP, values, names, n);
            for (int i = 1; i <= 3; ++i)
                SensorLimit(settings_, i) = FanLimitsN[i - 1].value;
            FanLimitsNP.s = IPS_OK;
            IDSetNumber(&FanLimitsNP, nullptr);
            saveConfig(true, FanLimitsNP.name);
            return true;
        }
    }
    return INDI::Focuser::ISNewNumber(dev, name, values, names, n);
}

bool TarnivelFocuser::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                                  int n) {
    if (dev == nullptr || std::strcmp(dev, getDeviceName()) != 0 || !isConnected())
        return INDI::Focuser::ISNewSwitch(dev, name, states, names, n);

    if (std::strcmp(name, FanModeSP.name) == 0) {
        IUUpdateSwitch(&FanModeSP, states, names, n);
        const int chosen = IUFindOnSwitchIndex(&FanModeSP);
        if (chosen == FanOff || chosen == FanOn) {
            fanMode_ = 0;
            commands_.SetFan(chosen == FanOn);
        } else {
            fanMode_ = chosen - FanRule1 + 1;
        }
        FanModeSP.s = IPS_OK;
        IDSetSwitch(&FanModeSP, nullptr);
        // The new mode shows at the next tick, not after a whole status period.
        lastStatusMs_ = 0;
        return true;
    }
    if (std::strcmp(name, SavedSP.name) == 0 && !SavedS.empty()) {
        IUUpdateSwitch(&SavedSP, states, names, n);
        SavedSP.s = IPS_OK;
        IDSetSwitch(&SavedSP, nullptr);
        return true;
    }
    if (std::strcmp(name, SavedGotoSP.name) == 0) {
        IUResetSwitch(&SavedGotoSP);
        const int row = IUFindOnSwitchIndex(&SavedSP);
        if (row < 0 || calibrationRun_.Valid() || port_.connectionLost()) {
            SavedGotoSP.s = IPS_ALERT;
            IDSetSwitch(&SavedGotoSP, row < 0 ? "Pick a saved position first." : nullptr);
            return true;
        }
        StartGoto(positions_.ItemData(row));
        SavedGotoSP.s = IPS_BUSY;
        IDSetSwitch(&SavedGotoSP, nullptr);
        FocusAbsPosNP.s = IPS_BUSY;
        IDSetNumber(&FocusAbsPosNP, nullptr);
        return true;
    }
    if (std::strcmp(name, CalibrateSP.name) == 0) {
        IUUpdateSwitch(&CalibrateSP, states, names, n);
        const int chosen = IUFindOnSwitchIndex(&CalibrateSP);
        if (chosen == CalibrateCancel) {
            StopEverything();
        } else if (!calibrationRun_.Valid() &&
                   (chosen == CalibrateFull || chosen == CalibrateQuick)) {
            StartCalibration(chosen == CalibrateFull);
        }
        return true;
    }
    if (std::strcmp(name, AutoStopSP.name) == 0 || std::strcmp(name, LimitsSP.name) == 0) {
        ISwitchVectorProperty* svp =
            std::strcmp(name, AutoStopSP.name) == 0 ? &AutoStopSP : &LimitsSP;
        if (calibrationRun_.Valid()) {
            svp->s = IPS_ALERT;
            IDSetSwitch(svp, "A calibration is running.");
            return true;
        }
        IUUpdateSwitch(svp, states, names, n);
        const bool on = svp->sp[0].s == ISS_ON;
        if (svp == &AutoStopSP)
            commands_.SetAutoStop(on ? 1 : 0);
        else
            commands_.SetActiveLimits(on);
        svp->s = IPS_OK;
        IDSetSwitch(svp, nullptr);
        return true;
    }
    return INDI::Focuser::ISNewSwitch(dev, name, states, names, n);
}

bool TarnivelFocuser::saveConfigItems(FILE* fp) {
    INDI::Focuser::saveConfigItems(fp);
    IUSaveConfigNumber(fp, &FanLimitsNP);
    return true;
}

} // namespace tarnivel
