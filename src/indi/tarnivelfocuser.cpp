#include "indi/tarnivelfocuser.h"

#include "core/device/fanrule.h"
#include "core/units/positionunits.h"

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
constexpr int kSpeedSlow = 1;
constexpr int kSpeedFast = 2;

enum FanSwitch { FanOff, FanOn, FanRule1, FanRule2, FanRule3 };
enum CalibrateSwitch { CalibrateFull, CalibrateQuick, CalibrateCancel };

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

double SensorLimit(const FocuserSettings& s, int n) {
    return n == 1 ? s.SensorLimit1 : n == 2 ? s.SensorLimit2 : s.SensorLimit3;
}

QByteArray Utf8(const QString& text) {
    return text.toUtf8();
}

} // namespace

TarnivelFocuser::TarnivelFocuser()
    : folder_(DriverFolder()), device_(port_, platform_, sound_, &scheduler_),
      settings_(device_.settings()) {
    setVersion(TARNIVEL_VERSION_MAJOR, TARNIVEL_VERSION_MINOR);
    SetCapability(FOCUSER_CAN_ABS_MOVE | FOCUSER_CAN_REL_MOVE | FOCUSER_CAN_ABORT |
                  FOCUSER_CAN_SYNC | FOCUSER_HAS_VARIABLE_SPEED | FOCUSER_HAS_BACKLASH);
    setSupportedConnections(CONNECTION_NONE);
    device_.AddObserver(this);
    LoadSettingsFile();
}

TarnivelFocuser::~TarnivelFocuser() {
    device_.RemoveObserver(this);
}

const char* TarnivelFocuser::getDefaultName() {
    return "Tarnivel";
}

void TarnivelFocuser::LoadSettingsFile() {
    // Read only: the console writes this file when its window closes, and two writers would
    // lose each other's changes. What INDI changes lives in INDI's own configuration.
    device_.LoadSettings(folder_);
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
        // No reading yet is Idle, not the "not fitted" value.
        IUFillNumber(&SensorsN[n - 1], name.constData(), sensorLabels[n - 1].constData(), "%6.1f",
                     kNotFittedTemperature, 150, 0, 0);
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

    // Compensation has no standard property: the names the imaging programs look for.
    IUFillSwitch(&TempCompS[0], "ENABLE", "Enable", ISS_OFF);
    IUFillSwitch(&TempCompS[1], "DISABLE", "Disable", ISS_ON);
    IUFillSwitchVector(&TempCompSP, TempCompS, 2, getDeviceName(), "TEMPERATURE_COMPENSATION",
                       "Temp. comp.", MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
    IUFillNumber(&TempCompN[0], "COEFFICIENT", "Steps per °C", "%.2f", -100000, 100000, 1,
                 settings_.TempCompCoefficient);
    IUFillNumber(&TempCompN[1], "SENSOR", "Sensor (1-3)", "%.0f", 1, 3, 1,
                 settings_.TempCompSensor);
    IUFillNumber(&TempCompN[2], "DEADBAND", "Dead band (steps)", "%.0f", 1, 100000, 1,
                 settings_.TempCompDeadband);
    IUFillNumber(&TempCompN[3], "AVERAGE", "Average (s)", "%.0f", 0, 3600, 10,
                 settings_.TempCompAverage);
    IUFillNumber(&TempCompN[4], "MAX_TRAVEL", "Cap (steps)", "%.0f", 1, 1000000, 100,
                 settings_.TempCompMaxTravel);
    IUFillNumberVector(&TempCompNP, TempCompN, 5, getDeviceName(),
                       "TEMPERATURE_COMPENSATION_SETTINGS", "Temp. comp.", kGroup, IP_RW, 0,
                       IPS_IDLE);
    IUFillSwitch(&MarkFocusS[0], "MARK", "Mark focus", ISS_OFF);
    IUFillSwitchVector(&MarkFocusSP, MarkFocusS, 1, getDeviceName(), "TARNIVEL_MARK_FOCUS",
                       "Focus point", kGroup, IP_RW, ISR_ATMOST1, 0, IPS_IDLE);
    IUFillText(&TempCompT[0], "TEXT", "Last", "");
    IUFillTextVector(&TempCompTP, TempCompT, 1, getDeviceName(), "TARNIVEL_TEMP_COMP_STATUS",
                     "Temp. comp.", kGroup, IP_RO, 0, IPS_IDLE);

    addDebugControl();
    return true;
}

void TarnivelFocuser::DefineSavedPositions() {
    // One switch per row of the settings file's list, in the list's order.
    static std::vector<QByteArray> labels;
    labels.clear();
    SavedS.assign(static_cast<size_t>(device_.positions().ListCount()), ISwitch{});
    for (int i = 0; i < device_.positions().ListCount(); ++i) {
        const QString row = device_.positions().List(i);
        labels.push_back(Utf8(ListEntryField(row, 0).trimmed() + QStringLiteral(" (") +
                              ListEntryField(row, 1).trimmed() + QStringLiteral(")")));
    }
    for (int i = 0; i < device_.positions().ListCount(); ++i) {
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
        defineProperty(&TempCompSP);
        defineProperty(&TempCompNP);
        defineProperty(&MarkFocusSP);
        defineProperty(&TempCompTP);
        loadConfig(true, FanLimitsNP.name);
        loadConfig(true, TempCompNP.name);
    } else {
        for (const char* name :
             {TemperatureNP.name, UnitsNP.name, SensorsNP.name, FanModeSP.name, FanLimitsNP.name,
              FanStateLP.name, CalibrateSP.name, ProgressTP.name, AutoStopSP.name, LimitsSP.name,
              FirmwareTP.name, TempCompSP.name, TempCompNP.name, MarkFocusSP.name, TempCompTP.name})
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
    // A new session starts from clean property states, whatever the last one left.
    FocusAbsPosNP.s = IPS_IDLE;
    FocusRelPosNP.s = IPS_IDLE;
    FocusTimerNP.s = IPS_IDLE;
    SavedGotoSP.s = IPS_IDLE;
    CalibrateSP.s = IPS_IDLE;
    TemperatureNP.s = IPS_IDLE;
    savedGotoRunning_ = false;
    relRunning_ = false;
    const Outcome connected = device_.Connect();
    if (!connected.ok()) {
        port_.detach();
        LOG_ERROR(connected.reason.toUtf8().constData());
        return false;
    }
    return true;
}

bool TarnivelFocuser::Disconnect() {
    device_.Disconnect();
    port_.detach();
    return INDI::Focuser::Disconnect();
}

void TarnivelFocuser::TimerHit() {
    // The device keeps its own timers; DefaultDevice's polling timer has nothing to do.
}

void TarnivelFocuser::StateChanged() {
    // A property update inside a publish (a client request handled meanwhile) is read again
    // by the publish that is running.
    if (publishing_)
        return;
    publishing_ = true;
    Publish();
    publishing_ = false;
}

void TarnivelFocuser::Message(const QString& text, bool error) {
    const QByteArray utf8 = text.toUtf8();
    if (error)
        IDSetNumber(&FocusAbsPosNP, "%s", utf8.constData());
    else
        IDMessage(getDeviceName(), "%s", utf8.constData());
}

void TarnivelFocuser::Publish() {
    if (!isConnected())
        return;
    const DeviceState& s = device_.State();

    // The position and its scale.
    if (FocusMaxPosN[0].value != s.clientMax) {
        FocusMaxPosN[0].value = s.clientMax;
        FocusMaxPosN[0].max = s.clientMax;
        FocusAbsPosN[0].max = s.clientMax;
        FocusRelPosN[0].max = s.clientMax;
        FocusSyncN[0].max = s.clientMax;
        for (INumber& preset : PresetN)
            preset.max = s.clientMax;
        FocusMaxPosNP.s = IPS_OK;
        IDSetNumber(&FocusMaxPosNP, nullptr);
        IUUpdateMinMax(&FocusAbsPosNP);
        IUUpdateMinMax(&FocusRelPosNP);
        IUUpdateMinMax(&FocusSyncNP);
        IUUpdateMinMax(&PresetNP);
    }

    // Every motion property settles here: Busy while its motion runs, then Ok, Alert when
    // it ended short, was given up or the controller is lost, Idle after an abort. A read
    // that goes unanswered during a move keeps it Busy: clients take Alert for the move's
    // end and would send the next one while this one runs.
    // A scale not read yet while connecting is no fault; one whose read failed is.
    const bool scaleMissing = s.ready() && !s.scaleKnown;
    IPState motionEnd = IPS_OK;
    if (s.lost() || scaleMissing)
        motionEnd = IPS_ALERT;
    else if (s.lastGoto && !s.lastGoto->failure.isEmpty())
        motionEnd = IPS_ALERT;
    else if (s.lastGoto && s.lastGoto->stopped)
        motionEnd = IPS_IDLE;
    else if (s.lastGoto && !s.lastGoto->shortText.isEmpty())
        motionEnd = IPS_ALERT;
    // At rest the position turns to Alert once the controller has been silent for a while: a
    // client between two moves of a focus run takes Alert for a failure, and a read missed
    // now and then is none.
    const bool faulty = s.silent() || s.lost() || scaleMissing;
    IPState abs = motionEnd;
    if (s.gotoRunning && !s.lost())
        abs = IPS_BUSY;
    else if (publishedAbsState_ == IPS_BUSY)
        abs = motionEnd;
    else if (s.lastGoto)
        abs = faulty ? IPS_ALERT : motionEnd;
    else
        abs = faulty ? IPS_ALERT : FocusAbsPosNP.s == IPS_ALERT ? IPS_OK : FocusAbsPosNP.s;
    if (FocusAbsPosN[0].value != s.clientPosition || publishedAbsState_ != abs) {
        FocusAbsPosN[0].value = s.clientPosition;
        FocusAbsPosNP.s = abs;
        publishedAbsState_ = abs;
        IDSetNumber(&FocusAbsPosNP, nullptr);
    }
    if (relRunning_ && !s.gotoRunning) {
        relRunning_ = false;
        FocusRelPosNP.s = motionEnd;
        IDSetNumber(&FocusRelPosNP, nullptr);
    } else if (!relRunning_ && FocusRelPosNP.s == IPS_BUSY) {
        FocusRelPosNP.s = IPS_IDLE;
        IDSetNumber(&FocusRelPosNP, nullptr);
    }
    if (savedGotoRunning_ && !s.gotoRunning) {
        savedGotoRunning_ = false;
        IUResetSwitch(&SavedGotoSP);
        SavedGotoSP.s = motionEnd;
        IDSetSwitch(&SavedGotoSP, nullptr);
    }
    const IPState timer = s.jogging                                             ? IPS_BUSY
                          : FocusTimerNP.s == IPS_BUSY && motionEnd != IPS_IDLE ? IPS_OK
                          : FocusTimerNP.s == IPS_BUSY                          ? IPS_IDLE
                                                                                : FocusTimerNP.s;
    if (timer != FocusTimerNP.s) {
        FocusTimerNP.s = timer;
        if (timer != IPS_BUSY)
            FocusTimerN[0].value = 0;
        IDSetNumber(&FocusTimerNP, nullptr);
    }

    const double units = StepsToUnits(s.position, settings_.ScaleFactor, settings_.Decimals);
    if (units != UnitsN[0].value) {
        UnitsN[0].value = units;
        UnitsNP.s = IPS_OK;
        IDSetNumber(&UnitsNP, nullptr);
    }

    // The calibration.
    const IPState calibrate = s.calibrating          ? IPS_BUSY
                              : s.progress.isEmpty() ? CalibrateSP.s
                              : s.calibrationOk      ? IPS_OK
                                                     : IPS_ALERT;
    if (calibrate != CalibrateSP.s) {
        IUResetSwitch(&CalibrateSP);
        CalibrateSP.s = calibrate;
        IDSetSwitch(&CalibrateSP, nullptr);
    }
    if (s.progress != publishedProgress_) {
        publishedProgress_ = s.progress;
        // One line for the clients: the label's line breaks as " / ".
        QString line = s.progress;
        line.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
        IUSaveText(&ProgressT[0], line.toUtf8().constData());
        ProgressTP.s = IPS_OK;
        IDSetText(&ProgressTP, nullptr);
    }

    // The controller's switches and version.
    const auto showSwitch = [](ISwitchVectorProperty& svp, bool on) {
        if ((svp.sp[0].s == ISS_ON) == on && svp.s == IPS_OK)
            return;
        IUResetSwitch(&svp);
        svp.sp[on ? 0 : 1].s = ISS_ON;
        svp.s = IPS_OK;
        IDSetSwitch(&svp, nullptr);
    };
    if (s.ready() || s.calibrating) {
        showSwitch(AutoStopSP, s.autoStop);
        showSwitch(LimitsSP, s.limitsOn);
    }
    const bool compOn = TempCompS[0].s == ISS_ON;
    if (compOn != s.tempCompOn || TempCompSP.s != IPS_OK) {
        IUResetSwitch(&TempCompSP);
        TempCompS[s.tempCompOn ? 0 : 1].s = ISS_ON;
        TempCompSP.s = IPS_OK;
        IDSetSwitch(&TempCompSP, nullptr);
    }
    const QString compText = s.tempCompStatus.isEmpty() ? s.tempCompMove : s.tempCompStatus;
    if (compText != publishedTempComp_) {
        publishedTempComp_ = compText;
        IUSaveText(&TempCompT[0], compText.toUtf8().constData());
        TempCompTP.s = IPS_OK;
        IDSetText(&TempCompTP, nullptr);
    }
    if (s.firmware != publishedFirmware_) {
        publishedFirmware_ = s.firmware;
        IUSaveText(&FirmwareT[0], s.firmware.toUtf8().constData());
        FirmwareTP.s = IPS_OK;
        IDSetText(&FirmwareTP, nullptr);
    }

    // Temperatures and the fan.
    if (s.temperaturesRead) {
        // A failed read shows the last good reading in Alert; -9999 means "not fitted" only.
        const bool stale = s.sensorFailed[0] || s.sensorFailed[1] || s.sensorFailed[2];
        const IPState sensorsState = stale ? IPS_ALERT : IPS_OK;
        bool changed = SensorsNP.s != sensorsState;
        for (size_t n = 0; n < 3; ++n) {
            const double v = s.celsius[n]        ? *s.celsius[n]
                             : s.sensorFailed[n] ? SensorsN[n].value
                                                 : kNotFittedTemperature;
            changed = changed || SensorsN[n].value != v;
            SensorsN[n].value = v;
        }
        if (changed) {
            SensorsNP.s = sensorsState;
            IDSetNumber(&SensorsNP, nullptr);
        }
        // The sensor compensation follows, since clients read this one for focus: Idle when
        // it is not fitted, Alert with its last reading when the read failed.
        const size_t focusIndex =
            static_cast<size_t>(std::clamp(settings_.TempCompSensor, 1, 3) - 1);
        const TemperatureReading& focusSensor = s.celsius[focusIndex];
        const IPState tState = s.sensorFailed[focusIndex] ? IPS_ALERT
                               : focusSensor              ? IPS_OK
                                                          : IPS_IDLE;
        const double t = focusSensor ? *focusSensor : TemperatureN[0].value;
        if (tState != TemperatureNP.s || t != TemperatureN[0].value) {
            TemperatureN[0].value = t;
            TemperatureNP.s = tState;
            IDSetNumber(&TemperatureNP, nullptr);
        }
        const IPState lamp = s.fanOn ? IPS_OK : IPS_IDLE;
        if (lamp != FanStateL[0].s || FanStateLP.s != IPS_OK) {
            FanStateL[0].s = lamp;
            FanStateLP.s = IPS_OK;
            IDSetLight(&FanStateLP, nullptr);
        }
    }
}

IPState TarnivelFocuser::StateFor(const Outcome& o) {
    switch (o.result) {
    case Outcome::Refused:
        return IPS_ALERT;
    case Outcome::Started:
        return IPS_BUSY;
    case Outcome::Done:
        break;
    }
    return IPS_OK;
}

IPState TarnivelFocuser::Logged(const Outcome& o) {
    if (!o.ok())
        LOG_WARN(o.reason.toUtf8().constData());
    return StateFor(o);
}

void TarnivelFocuser::ShowOutcome(ISwitchVectorProperty& svp, const Outcome& o) {
    svp.s = StateFor(o);
    IDSetSwitch(&svp, o.ok() ? nullptr : "%s", o.reason.toUtf8().constData());
}

IPState TarnivelFocuser::MoveFocuser(FocusDirection dir, int speed, uint16_t duration) {
    if (duration == 0) {
        // INDI reads 0 as "until stopped"; the console's jog always ends by itself.
        LOG_WARN("A timed move needs a time above 0 ms.");
        return IPS_ALERT;
    }
    return Logged(device_.Jog(dir == FOCUS_OUTWARD ? 1 : -1, speed == kSpeedFast, duration));
}

IPState TarnivelFocuser::MoveAbsFocuser(uint32_t targetTicks) {
    const IPState state = Logged(device_.MoveTo(targetTicks));
    if (state == IPS_BUSY)
        publishedAbsState_ = IPS_BUSY;
    return state;
}

IPState TarnivelFocuser::MoveRelFocuser(FocusDirection dir, uint32_t ticks) {
    const qint64 signedTicks =
        dir == FOCUS_OUTWARD ? static_cast<qint64>(ticks) : -static_cast<qint64>(ticks);
    const IPState state = Logged(device_.MoveBy(signedTicks));
    if (state != IPS_BUSY)
        return state;
    relRunning_ = true;
    FocusAbsPosNP.s = IPS_BUSY;
    publishedAbsState_ = IPS_BUSY;
    IDSetNumber(&FocusAbsPosNP, nullptr);
    return IPS_BUSY;
}

bool TarnivelFocuser::AbortFocuser() {
    device_.Stop();
    FocusAbsPosNP.s = IPS_IDLE;
    FocusRelPosNP.s = IPS_IDLE;
    publishedAbsState_ = IPS_IDLE;
    relRunning_ = false;
    IDSetNumber(&FocusAbsPosNP, nullptr);
    IDSetNumber(&FocusRelPosNP, nullptr);
    return true;
}

bool TarnivelFocuser::SyncFocuser(uint32_t ticks) {
    return Logged(device_.Sync(ticks)) != IPS_ALERT;
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

bool TarnivelFocuser::ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                                  int n) {
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0) {
        if (std::strcmp(name, FanLimitsNP.name) == 0) {
            IUUpdateNumber(&FanLimitsNP, values, names, n);
            device_.SetFanLimits(FanLimitsN[0].value, FanLimitsN[1].value, FanLimitsN[2].value);
            FanLimitsNP.s = IPS_OK;
            IDSetNumber(&FanLimitsNP, nullptr);
            saveConfig(true, FanLimitsNP.name);
            return true;
        }
        if (std::strcmp(name, TempCompNP.name) == 0) {
            IUUpdateNumber(&TempCompNP, values, names, n);
            settings_.TempCompCoefficient = TempCompN[0].value;
            settings_.TempCompSensor = static_cast<int>(TempCompN[1].value);
            settings_.TempCompDeadband = static_cast<int>(TempCompN[2].value);
            settings_.TempCompAverage = static_cast<int>(TempCompN[3].value);
            settings_.TempCompMaxTravel = static_cast<int>(TempCompN[4].value);
            // A coefficient set to 0 switches compensation off.
            device_.tempComp().setParameters(TempCompParameters::From(settings_));
            TempCompNP.s = IPS_OK;
            IDSetNumber(&TempCompNP, nullptr);
            saveConfig(true, TempCompNP.name);
            StateChanged();
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
        ShowOutcome(FanModeSP, device_.SetFanMode(IUFindOnSwitchIndex(&FanModeSP)));
        return true;
    }
    if (std::strcmp(name, TempCompSP.name) == 0) {
        ISwitchVectorProperty asked = TempCompSP;
        std::vector<ISwitch> elements(TempCompSP.sp, TempCompSP.sp + TempCompSP.nsp);
        asked.sp = elements.data();
        IUUpdateSwitch(&asked, states, names, n);
        const Outcome o = device_.SetTempComp(asked.sp[0].s == ISS_ON);
        if (!o.ok()) {
            ShowOutcome(TempCompSP, o);
            return true;
        }
        TempCompSP.s = IPS_IDLE; // the publish that follows shows the device's state
        StateChanged();
        return true;
    }
    if (std::strcmp(name, MarkFocusSP.name) == 0) {
        IUResetSwitch(&MarkFocusSP);
        const Outcome o = device_.MarkFocus();
        MarkFocusSP.s = o.ok() ? IPS_OK : IPS_ALERT;
        if (o.ok())
            // The driver never writes the settings file, and reads it again at each connect.
            IDSetSwitch(&MarkFocusSP,
                        "Focus point %d recorded for this connection (not kept: the driver "
                        "never writes tarnivel.ini; mark it in the console to keep it).",
                        static_cast<int>(settings_.FocusPoints.size()));
        else
            IDSetSwitch(&MarkFocusSP, "%s", o.reason.toUtf8().constData());
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
        const Outcome o = device_.GotoSaved(IUFindOnSwitchIndex(&SavedSP));
        ShowOutcome(SavedGotoSP, o);
        if (!o.ok())
            return true;
        savedGotoRunning_ = true;
        FocusAbsPosNP.s = IPS_BUSY;
        publishedAbsState_ = IPS_BUSY;
        IDSetNumber(&FocusAbsPosNP, nullptr);
        return true;
    }
    if (std::strcmp(name, CalibrateSP.name) == 0) {
        IUUpdateSwitch(&CalibrateSP, states, names, n);
        const int chosen = IUFindOnSwitchIndex(&CalibrateSP);
        // The switches are buttons: none stays on, published or not.
        IUResetSwitch(&CalibrateSP);
        if (chosen == CalibrateCancel) {
            // Cancels a calibration only: with none under way a goto goes on.
            device_.CancelCalibration();
            StateChanged();
            return true;
        }
        if (chosen != CalibrateFull && chosen != CalibrateQuick)
            return true;
        const Outcome o = device_.Calibrate(chosen == CalibrateFull);
        if (!o.ok()) {
            ShowOutcome(CalibrateSP, o);
            return true;
        }
        // A goto it replaced is over.
        savedGotoRunning_ = false;
        relRunning_ = false;
        StateChanged();
        return true;
    }
    if (std::strcmp(name, AutoStopSP.name) == 0 || std::strcmp(name, LimitsSP.name) == 0) {
        const bool autoStop = std::strcmp(name, AutoStopSP.name) == 0;
        ISwitchVectorProperty* svp = autoStop ? &AutoStopSP : &LimitsSP;
        ISwitchVectorProperty asked = *svp;
        std::vector<ISwitch> elements(svp->sp, svp->sp + svp->nsp);
        asked.sp = elements.data();
        IUUpdateSwitch(&asked, states, names, n);
        const bool on = asked.sp[0].s == ISS_ON;
        const Outcome o = autoStop ? device_.SetAutoStop(on) : device_.SetActiveLimits(on);
        // Done: the publish that follows shows what the controller now holds.
        if (o.result != Outcome::Done)
            ShowOutcome(*svp, o);
        return true;
    }
    return INDI::Focuser::ISNewSwitch(dev, name, states, names, n);
}

bool TarnivelFocuser::saveConfigItems(FILE* fp) {
    INDI::Focuser::saveConfigItems(fp);
    IUSaveConfigNumber(fp, &FanLimitsNP);
    IUSaveConfigNumber(fp, &TempCompNP);
    return true;
}

} // namespace tarnivel
