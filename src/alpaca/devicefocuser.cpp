#include "alpaca/devicefocuser.h"

#include "core/motion/positionunits.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QThread>

#include <limits>

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
                                         std::function<void(const QString&, bool)> messages)
    : device_(device), deviceThread_(deviceThread), messages_(std::move(messages)),
      status_(Read()) {
    device_.AddObserver(this);
}

DeviceAlpacaFocuser::~DeviceAlpacaFocuser() {
    device_.RemoveObserver(this);
}

template <typename Verb> AlpacaResult DeviceAlpacaFocuser::OnDevice(Verb verb) {
    AlpacaResult result;
    const auto run = [&] {
        result = verb();
        StateChanged();
    };
    if (QThread::currentThread() == deviceThread_->thread()) {
        run();
        return result;
    }
    ++waiting_;
    QMetaObject::invokeMethod(
        deviceThread_,
        [&] {
            --waiting_;
            run();
        },
        Qt::BlockingQueuedConnection);
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
}

AlpacaFocuserStatus DeviceAlpacaFocuser::Read() const {
    const DeviceState& state = device_.State();
    AlpacaFocuserStatus status;
    status.connected = state.connected && state.ready && !state.lost;
    status.connecting = state.connected && !state.ready && !state.lost;
    status.moving = state.moving();
    status.position = state.clientPosition;
    status.maxStep = state.clientMax;
    if (state.lost) {
        status.fault = AlpacaResult::Failed(
            kAlpacaDriverError,
            QStringLiteral("The focuser's serial port was lost: check the cable, then connect"));
    }
    if (state.temperaturesRead && state.celsius[0]) {
        status.temperature = *state.celsius[0];
    } else {
        status.temperatureError = AlpacaResult::Failed(
            kAlpacaDriverError,
            state.temperaturesRead
                ? QStringLiteral("%1 (sensor 1) gave no reading: not fitted, or the read failed")
                      .arg(SensorName(0))
                : QStringLiteral("No temperature has been read yet"));
    }
    status.tempCompAvailable = state.tempCompAvailable;
    status.tempCompOn = state.tempCompOn;
    if (!state.tempCompAvailable) {
        const FocuserSettings& settings = device_.settings();
        const int sensor = std::clamp(settings.TempCompSensor, 1, 3);
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
        if (state.connected && !state.lost)
            return {};
        // A lost port is closed first, so connect opens it afresh.
        if (state.lost)
            device_.Disconnect();
        return Refused(kAlpacaDriverError, device_.Connect());
    });
}

AlpacaResult DeviceAlpacaFocuser::Disconnect() {
    return OnDevice([this]() -> AlpacaResult {
        if (!device_.State().connected && !device_.State().lost)
            return {};
        return Refused(kAlpacaDriverError, device_.Disconnect());
    });
}

AlpacaResult DeviceAlpacaFocuser::Move(qint64 position) {
    // Below 0 is the lower end; the device stops anything above its maximum at the upper.
    const quint32 target =
        quint32(std::clamp<qint64>(position, 0, std::numeric_limits<quint32>::max()));
    return OnDevice(
        [this, target] { return Refused(kAlpacaInvalidOperation, device_.MoveTo(target)); });
}

AlpacaResult DeviceAlpacaFocuser::Halt() {
    return OnDevice([this] { return Refused(kAlpacaInvalidOperation, device_.Stop()); });
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
    return {kTemperatures,      kFanMode,         kFanLamp,   kSavedPositions,
            kGotoSavedPosition, kFirmwareVersion, kMarkFocus, kTempCompStatus};
}

AlpacaResult DeviceAlpacaFocuser::Action(const QString& name, const QString& parameters,
                                         QString& value) {
    return OnDevice([&] { return DeviceAction(name, parameters, value); });
}

AlpacaResult DeviceAlpacaFocuser::DeviceAction(const QString& name, const QString& parameters,
                                               QString& value) {
    const DeviceState& state = device_.State();
    if (!state.connected || !state.ready || state.lost) {
        return state.lost ? Read().fault
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
                                     qint64(device_.Scale().ToIndi(positions.ItemData(i)))}});
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
    // The server never writes the settings file: the point lasts while it runs, and the fit
    // is what the user carries over into the console.
    const QList<FocusPoint>& points = device_.settings().FocusPoints;
    value = QStringLiteral("Focus point %1 recorded (not kept after a restart); %2")
                .arg(points.size())
                .arg(FitText(FitFocusPoints(points), QLocale::c()));
    return {};
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
