#include "alpaca/devicefocuser.h"

#include "core/units/positionunits.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <deque>
#include <limits>
#include <utility>

namespace tarnivel {

namespace {

const QString kTemperatures = QStringLiteral("Temperatures");
const QString kFanMode = QStringLiteral("FanMode");
const QString kFanLamp = QStringLiteral("FanLamp");
const QString kSavedPositions = QStringLiteral("SavedPositions");
const QString kGotoSavedPosition = QStringLiteral("GotoSavedPosition");
const QString kFirmwareVersion = QStringLiteral("FirmwareVersion");
const QString kMarkFocus = QStringLiteral("MarkFocus");
const QString kTempCompStatus = QStringLiteral("TempCompStatus");
const QString kCalibrate = QStringLiteral("Calibrate");
const QString kCancelCalibration = QStringLiteral("CancelCalibration");
const QString kCalibrationStatus = QStringLiteral("CalibrationStatus");

// The connect reads the calibration, the limits and the sensors: a few seconds on a healthy
// line, far more when its answers time out.
constexpr int kConnectWaitMs = 60000;

class VerbEvent final : public QEvent {
public:
    VerbEvent(std::function<void()> run, bool halt)
        : QEvent(Type()), run_(std::move(run)), halt_(halt) {}
    static QEvent::Type Type() {
        static const int type = QEvent::registerEventType();
        return QEvent::Type(type);
    }
    void Run() { run_(); }
    bool Halt() const { return halt_; }
    std::function<void()> Take() { return std::exchange(run_, {}); }

private:
    std::function<void()> run_;
    bool halt_;
};

class VerbRunner final : public QObject {
public:
    VerbRunner() {
        retry_.setSingleShot(true);
        retry_.setInterval(0);
        QObject::connect(&retry_, &QTimer::timeout, this, [this] { RunHeld(); });
    }
    std::function<bool()> hold;

    bool event(QEvent* event) override {
        if (event->type() != VerbEvent::Type())
            return QObject::event(event);
        auto* verb = static_cast<VerbEvent*>(event);
        // Behind a held verb nothing but a halt overtakes: a client's moves keep their order.
        if (!verb->Halt() && (!held_.empty() || Holding())) {
            held_.push_back(verb->Take());
            retry_.start();
            return true;
        }
        verb->Run();
        return true;
    }

    void RunHeld() {
        while (!held_.empty()) {
            if (Holding()) {
                retry_.start();
                return;
            }
            const std::function<void()> run = std::move(held_.front());
            held_.pop_front();
            run();
        }
    }

private:
    bool Holding() const { return hold && hold(); }

    QTimer retry_;
    std::deque<std::function<void()>> held_;
};

// In the order of the device's modes 0..4.
const QStringList kFanModes = {QStringLiteral("Off"), QStringLiteral("On"),
                               QStringLiteral("Auto 1"), QStringLiteral("Auto 2"),
                               QStringLiteral("Auto 3")};

AlpacaResult Refused(int error, const Outcome& outcome) {
    return outcome.ok() ? AlpacaResult() : AlpacaResult::Failed(error, outcome.reason);
}

// A row of the list is the name in its column, then the position in the console's units.
QString SavedName(const QString& row) {
    return TrimSpaces(ListEntryField(row, 0));
}

QString Compact(const QJsonArray& array) {
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace

DeviceAlpacaFocuser::DeviceAlpacaFocuser(FocuserDevice& device, QObject* deviceThread,
                                         std::function<void(const QString&, bool)> messages,
                                         std::optional<ProgramFolder> folder)
    : device_(device), deviceThread_(deviceThread), runner_(std::make_unique<VerbRunner>()),
      folder_(std::move(folder)), messages_(std::move(messages)), status_(Read()) {
    device_.AddObserver(this);
}

DeviceAlpacaFocuser::~DeviceAlpacaFocuser() {
    device_.RemoveObserver(this);
}

void DeviceAlpacaFocuser::SetHold(std::function<bool()> hold) {
    static_cast<VerbRunner*>(runner_.get())->hold = std::move(hold);
}

void DeviceAlpacaFocuser::Close() {
    closed_ = true;
    // Verbs already handed over answer now; a thread blocked on one would hold the server.
    QCoreApplication::sendPostedEvents(runner_.get(), VerbEvent::Type());
    auto* runner = static_cast<VerbRunner*>(runner_.get());
    runner->hold = {};
    runner->RunHeld();
}

template <typename Verb> AlpacaResult DeviceAlpacaFocuser::OnDevice(Verb verb, Kind kind) {
    AlpacaResult result;
    const auto run = [&] {
        if (closed_) {
            result = AlpacaResult::Failed(kAlpacaNotConnected,
                                          QStringLiteral("The focuser is no longer served"));
            return;
        }
        result = verb();
        StateChanged();
    };
    if (QThread::currentThread() == deviceThread_->thread()) {
        run();
        return result;
    }
    const bool gate = kind != Kind::Other;
    if (gate)
        ++waiting_;
    QSemaphore done;
    QCoreApplication::postEvent(runner_.get(),
                                new VerbEvent(
                                    [&] {
                                        if (gate)
                                            --waiting_;
                                        run();
                                        done.release();
                                    },
                                    kind == Kind::Halt),
                                kind == Kind::Halt ? Qt::HighEventPriority
                                                   : Qt::NormalEventPriority);
    done.acquire();
    return result;
}

AlpacaFocuserStatus DeviceAlpacaFocuser::Status() const {
    const QMutexLocker lock(&mutex_);
    return status_;
}

void DeviceAlpacaFocuser::StateChanged() {
    AlpacaFocuserStatus status = Read();
    const QMutexLocker lock(&mutex_);
    status_ = std::move(status);
    changed_.wakeAll();
}

AlpacaResult DeviceAlpacaFocuser::WaitConnected() {
    QMutexLocker lock(&mutex_);
    const QDeadlineTimer deadline(kConnectWaitMs);
    while (status_.connecting && changed_.wait(&mutex_, deadline)) {
    }
    if (status_.connected)
        return {};
    if (!status_.fault.ok())
        return status_.fault;
    if (status_.connecting) {
        return AlpacaResult::Failed(
            kAlpacaDriverError,
            QStringLiteral("The controller is still being read; Connecting is true until it is"));
    }
    return AlpacaResult::Failed(kAlpacaNotConnected,
                                QStringLiteral("The focuser was disconnected while it was read"));
}

AlpacaFocuserStatus DeviceAlpacaFocuser::Read() const {
    const DeviceState& state = device_.State();
    AlpacaFocuserStatus status;
    status.connected = !guestLeft_ && state.connected() && state.ready() && !state.lost();
    status.connecting = !guestLeft_ && state.connected() && !state.ready() && !state.lost();
    status.moving = state.moving();
    status.position = state.clientPosition;
    status.maxStep = state.clientMax;
    if (state.lost()) {
        status.fault = AlpacaResult::Failed(
            kAlpacaDriverError,
            QStringLiteral("The focuser's serial port was lost: check the cable, then connect"));
    }
    const FocuserSettings& settings = device_.settings();
    const int sensor = std::clamp(settings.TempCompSensor, 1, 3);
    const size_t chosen = size_t(sensor - 1);
    if (state.silent()) {
        status.motionError = AlpacaResult::Failed(
            kAlpacaDriverError,
            QStringLiteral("The focuser has not answered for 10 seconds: its position is not "
                           "known"));
    } else if (state.lastGoto && !state.lastGoto->failure.isEmpty()) {
        status.motionError = AlpacaResult::Failed(kAlpacaDriverError, state.lastGoto->failure);
    }
    if (state.silent()) {
        status.temperatureError = status.motionError;
    } else if (!state.temperaturesRead || state.sensorFailed[chosen]) {
        status.temperatureError = AlpacaResult::Failed(
            kAlpacaDriverError, state.temperaturesRead
                                    ? QStringLiteral("%1 (sensor %2) did not answer its last read")
                                          .arg(SensorName(sensor - 1))
                                          .arg(sensor)
                                    : QStringLiteral("No temperature has been read yet"));
    } else if (!state.celsius[chosen]) {
        status.temperatureError = AlpacaResult::Failed(
            kAlpacaNotImplemented,
            QStringLiteral("%1 (sensor %2) is not fitted").arg(SensorName(sensor - 1)).arg(sensor));
    } else {
        status.temperature = *state.celsius[chosen];
    }
    status.tempCompAvailable = state.tempCompAvailable;
    status.tempCompOn = state.tempCompOn;
    if (!state.tempCompAvailable) {
        status.tempCompUnavailable =
            settings.TempCompCoefficient == 0
                ? QStringLiteral("Temperature compensation needs a coefficient: set "
                                 "TempCompCoefficient in tarnivel.ini, or fit it in the console")
                : QStringLiteral("Temperature compensation follows %1 (sensor %2), which gives "
                                 "no reading")
                      .arg(SensorName(sensor - 1))
                      .arg(sensor);
    }
    return status;
}

AlpacaResult DeviceAlpacaFocuser::Connect() {
    return OnDevice([this]() -> AlpacaResult {
        const DeviceState& state = device_.State();
        if (device_.Hosted()) {
            const Outcome joined = device_.Connect();
            guestLeft_ = guestLeft_ && !joined.ok();
            return Refused(kAlpacaDriverError, joined);
        }
        if (state.connected() && !state.lost())
            return {};
        // A lost port is closed first, so connect opens it afresh.
        if (state.lost())
            device_.Disconnect();
        QString error;
        if (folder_ && !device_.LoadSettings(*folder_, &error))
            Message(QStringLiteral("%1; connecting with the settings read before").arg(error),
                    true);
        return Refused(kAlpacaDriverError, device_.Connect());
    });
}

AlpacaResult DeviceAlpacaFocuser::Disconnect() {
    return OnDevice(
        [this]() -> AlpacaResult {
            if (device_.Hosted()) {
                guestLeft_ = true;
                return {};
            }
            if (!device_.State().connected() && !device_.State().lost())
                return {};
            return Refused(kAlpacaDriverError, device_.Disconnect());
        },
        Kind::Halt);
}

AlpacaResult DeviceAlpacaFocuser::Move(qint64 position) {
    // Below 0 is the lower end; the device stops anything above its maximum at the upper.
    const quint32 target =
        quint32(std::clamp<qint64>(position, 0, std::numeric_limits<quint32>::max()));
    return OnDevice(
        [this, target]() -> AlpacaResult {
            // The uncalibrated scale spans the whole counter from its middle: a client aiming
            // at 0 or MaxStep would run the focuser into an end stop.
            if (device_.State().ready() && device_.State().scaleKnown &&
                !device_.Scale().Anchored())
                return AlpacaResult::Failed(
                    kAlpacaInvalidOperation,
                    QStringLiteral("Calibrate the focuser first (Action Calibrate)"));
            return Refused(kAlpacaInvalidOperation, device_.MoveTo(target));
        },
        Kind::Motion);
}

AlpacaResult DeviceAlpacaFocuser::Halt() {
    return OnDevice([this] { return Refused(kAlpacaInvalidOperation, device_.Stop()); },
                    Kind::Halt);
}

AlpacaResult DeviceAlpacaFocuser::SetTempComp(bool on) {
    return OnDevice([this, on]() -> AlpacaResult {
        // The status a client saw may be a poll old: the device's own state decides.
        if (on && !device_.State().tempCompAvailable)
            return AlpacaResult::Failed(kAlpacaNotImplemented, Read().tempCompUnavailable);
        return Refused(kAlpacaInvalidOperation, device_.SetTempComp(on));
    });
}

QStringList DeviceAlpacaFocuser::SupportedActions() const {
    return {kTemperatures,      kFanMode,           kFanLamp,          kSavedPositions,
            kGotoSavedPosition, kFirmwareVersion,   kMarkFocus,        kTempCompStatus,
            kCalibrate,         kCancelCalibration, kCalibrationStatus};
}

AlpacaResult DeviceAlpacaFocuser::Action(const QString& name, const QString& parameters,
                                         QString& value) {
    return OnDevice([&] { return DeviceAction(name, parameters, value); },
                    name == kGotoSavedPosition ? Kind::Motion : Kind::Other);
}

AlpacaResult DeviceAlpacaFocuser::DeviceAction(const QString& name, const QString& parameters,
                                               QString& value) {
    const DeviceState& state = device_.State();
    if (!state.connected() || !state.ready() || state.lost()) {
        return state.lost() ? Read().fault
                            : AlpacaResult::Failed(kAlpacaNotConnected,
                                                   QStringLiteral("The focuser is not connected"));
    }
    if (name == kTemperatures) {
        QJsonArray sensors;
        for (int i = 0; i < 3; ++i) {
            const auto& reading = state.celsius[size_t(i)];
            sensors.append(QJsonObject{
                {QStringLiteral("Name"), SensorName(i)},
                {QStringLiteral("Celsius"), reading ? QJsonValue(*reading) : QJsonValue()}});
        }
        value = Compact(sensors);
        return {};
    }
    if (name == kFanMode)
        return FanMode(parameters, value);
    if (name == kFanLamp) {
        value = state.fanOn ? QStringLiteral("On") : QStringLiteral("Off");
        return {};
    }
    if (name == kSavedPositions) {
        QJsonArray list;
        const SavedPositionList& positions = device_.positions();
        for (int i = 0; i < positions.ListCount(); ++i) {
            list.append(QJsonObject{{QStringLiteral("Name"), SavedName(positions.List(i))},
                                    {QStringLiteral("Position"),
                                     qint64(device_.Scale().ToClient(positions.ItemData(i)))}});
        }
        value = Compact(list);
        return {};
    }
    if (name == kGotoSavedPosition)
        return GotoSaved(parameters);
    if (name == kMarkFocus)
        return MarkFocus(value);
    if (name == kTempCompStatus) {
        value = TempCompStatus();
        return {};
    }
    if (name == kCalibrate)
        return Calibrate(parameters);
    if (name == kCancelCalibration) {
        const AlpacaResult result = Refused(kAlpacaInvalidOperation, device_.CancelCalibration());
        value = CalibrationStatus();
        return result;
    }
    if (name == kCalibrationStatus) {
        value = CalibrationStatus();
        return {};
    }
    value = state.firmware;
    return {};
}

AlpacaResult DeviceAlpacaFocuser::FanMode(const QString& parameters, QString& value) {
    const QString wanted = parameters.trimmed();
    if (!wanted.isEmpty()) {
        int mode = -1;
        for (int i = 0; i < kFanModes.size(); ++i) {
            if (kFanModes[i].compare(wanted, Qt::CaseInsensitive) == 0)
                mode = i;
        }
        if (mode < 0) {
            return AlpacaResult::Failed(kAlpacaInvalidValue,
                                        QStringLiteral("The fan mode is one of %1, not \"%2\"")
                                            .arg(kFanModes.join(QStringLiteral(", ")), wanted));
        }
        const Outcome outcome = device_.SetFanMode(mode);
        if (!outcome.ok())
            return Refused(kAlpacaInvalidOperation, outcome);
    }
    // The device's fanMode is the rule (0 none); the switch tells Off from On without one.
    const DeviceState& state = device_.State();
    value = state.fanMode > 0 ? kFanModes.value(state.fanMode + 1)
                              : (state.fanOn ? kFanModes[1] : kFanModes[0]);
    return {};
}

AlpacaResult DeviceAlpacaFocuser::GotoSaved(const QString& name) {
    const SavedPositionList& positions = device_.positions();
    for (int i = 0; i < positions.ListCount(); ++i) {
        if (SavedName(positions.List(i)).compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return Refused(kAlpacaInvalidOperation, device_.GotoSaved(i));
    }
    return AlpacaResult::Failed(kAlpacaInvalidValue,
                                QStringLiteral("There is no saved position \"%1\"").arg(name));
}

AlpacaResult DeviceAlpacaFocuser::MarkFocus(QString& value) {
    const Outcome outcome = device_.MarkFocus();
    if (!outcome.ok())
        return Refused(kAlpacaInvalidOperation, outcome);
    // The server never writes the settings file: the point lasts until the next connect reads
    // the file again, and the fit is what the user carries over into the console.
    const QList<FocusPoint>& points = device_.settings().FocusPoints;
    value = QStringLiteral("Focus point %1 recorded (not kept: dropped at the next connect); %2")
                .arg(points.size())
                .arg(FitText(FitFocusPoints(points), QLocale::c()));
    return {};
}

AlpacaResult DeviceAlpacaFocuser::Calibrate(const QString& parameters) {
    const QString kind = parameters.trimmed();
    const bool full = kind.compare(QLatin1String("Full"), Qt::CaseInsensitive) == 0;
    if (!full && kind.compare(QLatin1String("Quick"), Qt::CaseInsensitive) != 0) {
        return AlpacaResult::Failed(
            kAlpacaInvalidValue,
            QStringLiteral("A calibration is Full or Quick, not \"%1\"").arg(kind));
    }
    return Refused(kAlpacaInvalidOperation, device_.Calibrate(full));
}

QString DeviceAlpacaFocuser::CalibrationStatus() const {
    // The console's progress lines, the latest last.
    const DeviceState& state = device_.State();
    if (!state.progress.isEmpty())
        return state.progress;
    return state.calibrating ? QStringLiteral("Starting the calibration")
                             : QStringLiteral("No calibration has run since the connect");
}

QString DeviceAlpacaFocuser::TempCompStatus() const {
    const DeviceState& state = device_.State();
    if (!state.tempCompStatus.isEmpty())
        return state.tempCompStatus;
    if (!state.tempCompOn)
        return QStringLiteral("Temp comp off");
    return state.tempCompMove.isEmpty() ? QStringLiteral("Temp comp on") : state.tempCompMove;
}

QString DeviceAlpacaFocuser::SensorName(int sensor) const {
    const FocuserSettings& settings = device_.settings();
    return sensor == 0 ? settings.SensorName1
                       : (sensor == 1 ? settings.SensorName2 : settings.SensorName3);
}

void DeviceAlpacaFocuser::Message(const QString& text, bool error) {
    if (messages_)
        messages_(text, error);
}

} // namespace tarnivel
