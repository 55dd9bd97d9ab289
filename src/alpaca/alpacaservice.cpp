#include "alpaca/alpacaservice.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

namespace tarnivel {

namespace {

const QByteArray kJson = QByteArrayLiteral("application/json");
const QByteArray kText = QByteArrayLiteral("text/plain; charset=utf-8");
const QByteArray kHtml = QByteArrayLiteral("text/html; charset=utf-8");

constexpr int kInterfaceVersion = 4;

// Members that describe the driver rather than the focuser: they answer before connecting.
const QStringList kDescriptiveGets = {
    QStringLiteral("connected"),     QStringLiteral("connecting"),
    QStringLiteral("description"),   QStringLiteral("driverinfo"),
    QStringLiteral("driverversion"), QStringLiteral("interfaceversion"),
    QStringLiteral("name"),          QStringLiteral("supportedactions"),
    QStringLiteral("absolute"),      QStringLiteral("tempcompavailable"),
    QStringLiteral("tempcomp"),
};
const QStringList kDeviceGets = {
    QStringLiteral("devicestate"), QStringLiteral("ismoving"), QStringLiteral("maxincrement"),
    QStringLiteral("maxstep"),     QStringLiteral("position"), QStringLiteral("stepsize"),
    QStringLiteral("temperature"),
};
const QStringList kPuts = {
    QStringLiteral("connected"),     QStringLiteral("connect"),      QStringLiteral("disconnect"),
    QStringLiteral("action"),        QStringLiteral("commandblind"), QStringLiteral("commandbool"),
    QStringLiteral("commandstring"), QStringLiteral("tempcomp"),     QStringLiteral("halt"),
    QStringLiteral("move"),
};

AlpacaReply Plain(int status, const QString& text) {
    return {status, kText, text.toUtf8()};
}

// Why a member that needs the focuser cannot answer: a lost line says so.
AlpacaResult NotConnected(const AlpacaFocuserStatus& status) {
    return status.fault.ok() ? AlpacaResult::Failed(kAlpacaNotConnected,
                                                    QStringLiteral("The focuser is not connected"))
                             : status.fault;
}

QJsonObject Named(const QString& name, const QJsonValue& value) {
    return QJsonObject{{QStringLiteral("Name"), name}, {QStringLiteral("Value"), value}};
}

} // namespace

struct AlpacaService::Call {
    bool put = false;
    AlpacaParameters parameters;
    quint32 clientTransactionId = 0;

    // PUT member parameters are matched exactly, everything else without regard to case.
    std::optional<QString> Parameter(const QString& name) const {
        return FindParameter(parameters, name, put ? Qt::CaseSensitive : Qt::CaseInsensitive);
    }
};

AlpacaService::AlpacaService(AlpacaFocuser& focuser, AlpacaServerInfo info)
    : focuser_(focuser), info_(std::move(info)) {}

AlpacaReply AlpacaService::Handle(const AlpacaRequest& request) {
    if (request.method == AlpacaRequest::Method::Other)
        return Plain(405, QStringLiteral("Alpaca uses GET and PUT only"));
    if (request.body.size() > kMaxBody)
        return Plain(413, QStringLiteral("The request body is larger than 64 KiB"));

    Call call;
    call.put = request.method == AlpacaRequest::Method::Put;
    call.parameters = DecodeForm(call.put ? request.body : request.query);
    // An id that is no uint32 is a request not understood, refused before any verb runs; in
    // a PUT body an id under another casing is an extra parameter, so its value is not echoed.
    for (const QString& name :
         {QStringLiteral("ClientID"), QStringLiteral("ClientTransactionID")}) {
        const auto text = call.Parameter(name);
        const auto id = text ? ParseAlpacaUint32(*text) : std::optional<quint32>(0);
        if (!id) {
            return BadRequest(
                QStringLiteral("%1 must be a whole number from 0 to 4294967295, not \"%2\"")
                    .arg(name, *text));
        }
        if (name == QLatin1String("ClientTransactionID"))
            call.clientTransactionId = *id;
    }

    const QStringList parts = request.path.split(QLatin1Char('/'));
    if (parts.size() < 2 || !parts[0].isEmpty())
        return Plain(404, QStringLiteral("Not found"));
    const QString root = parts[1];

    if (root == QLatin1String("api")) {
        if (parts.size() != 6)
            return Plain(404, QStringLiteral("Not found"));
        if (parts[2] != QLatin1String("v1"))
            return BadRequest(QStringLiteral("API version %1 is not supported").arg(parts[2]));
        if (parts[3] != QLatin1String("focuser"))
            return BadRequest(QStringLiteral("There is no device of type %1").arg(parts[3]));
        if (parts[4] != QLatin1String("0"))
            return BadRequest(QStringLiteral("There is no focuser number %1").arg(parts[4]));
        return Device(call, parts[5]);
    }
    if (call.put)
        return Plain(405, QStringLiteral("This path answers GET only"));
    if (root == QLatin1String("management")) {
        if (parts.size() == 3 && parts[2] == QLatin1String("apiversions"))
            return Management(call, parts[2]);
        if (parts.size() == 4 && parts[2] == QLatin1String("v1"))
            return Management(call, parts[3]);
        return Plain(404, QStringLiteral("Not found"));
    }
    const bool setup = (parts.size() == 2 && (root.isEmpty() || root == QLatin1String("setup"))) ||
                       request.path == QLatin1String("/setup/v1/focuser/0/setup");
    if (setup)
        return SetupPage();
    return Plain(404, QStringLiteral("Not found"));
}

AlpacaReply AlpacaService::Management(const Call& call, const QString& what) {
    if (what == QLatin1String("apiversions"))
        return Value(call, QJsonArray{1});
    if (what == QLatin1String("description")) {
        return Value(call,
                     QJsonObject{{QStringLiteral("ServerName"), info_.serverName},
                                 {QStringLiteral("Manufacturer"), info_.manufacturer},
                                 {QStringLiteral("ManufacturerVersion"), info_.manufacturerVersion},
                                 {QStringLiteral("Location"), info_.location}});
    }
    if (what == QLatin1String("configureddevices")) {
        return Value(
            call, QJsonArray{QJsonObject{{QStringLiteral("DeviceName"), info_.deviceName},
                                         {QStringLiteral("DeviceType"), QStringLiteral("Focuser")},
                                         {QStringLiteral("DeviceNumber"), 0},
                                         {QStringLiteral("UniqueID"), info_.uniqueId}}});
    }
    return Plain(404, QStringLiteral("Not found"));
}

AlpacaReply AlpacaService::Device(Call& call, const QString& member) {
    const bool get = kDescriptiveGets.contains(member) || kDeviceGets.contains(member);
    const bool put = kPuts.contains(member);
    if (!get && !put)
        return BadRequest(QStringLiteral("The focuser has no member %1").arg(member));
    if (call.put ? !put : !get) {
        return Plain(405,
                     QStringLiteral("%1 does not answer %2")
                         .arg(member, call.put ? QStringLiteral("PUT") : QStringLiteral("GET")));
    }
    return call.put ? Put(call, member) : Get(call, member);
}

AlpacaReply AlpacaService::Get(Call& call, const QString& member) {
    if (member == QLatin1String("description"))
        return Value(call, info_.description);
    if (member == QLatin1String("driverinfo"))
        return Value(call, info_.driverInfo);
    if (member == QLatin1String("driverversion"))
        return Value(call, info_.driverVersion);
    if (member == QLatin1String("interfaceversion"))
        return Value(call, kInterfaceVersion);
    if (member == QLatin1String("name"))
        return Value(call, info_.deviceName);
    if (member == QLatin1String("supportedactions"))
        return Value(call, QJsonArray::fromStringList(focuser_.SupportedActions()));
    if (member == QLatin1String("absolute"))
        return Value(call, true);

    const AlpacaFocuserStatus status = focuser_.Status();
    if (member == QLatin1String("tempcompavailable"))
        return Value(call, status.tempCompAvailable);
    // Never true while unavailable, as clients expect; the device's switch stays on and waits
    // for its sensor.
    if (member == QLatin1String("tempcomp"))
        return Value(call, status.tempCompOn && status.tempCompAvailable);
    if (member == QLatin1String("connected"))
        return Value(call, status.connected);
    if (member == QLatin1String("connecting"))
        return Value(call, status.connecting);
    if (!status.connected)
        return Done(call, NotConnected(status));
    if (member == QLatin1String("devicestate"))
        return Value(call, DeviceState(status));
    if ((member == QLatin1String("ismoving") || member == QLatin1String("position")) &&
        !status.motionError.ok())
        return Done(call, status.motionError);
    if (member == QLatin1String("ismoving"))
        return Value(call, status.moving);
    if (member == QLatin1String("maxincrement") || member == QLatin1String("maxstep"))
        return Value(call, qint64(status.maxStep));
    if (member == QLatin1String("position"))
        return Value(call, qint64(status.position));
    if (member == QLatin1String("stepsize")) {
        if (!status.stepSizeMicrons) {
            return Done(call, AlpacaResult::Failed(kAlpacaNotImplemented,
                                                   QStringLiteral("The step size is not known")));
        }
        return Value(call, *status.stepSizeMicrons);
    }
    // temperature
    if (!status.temperature) {
        return Done(call, status.temperatureError.ok()
                              ? AlpacaResult::Failed(kAlpacaNotImplemented,
                                                     QStringLiteral("No temperature reading"))
                              : status.temperatureError);
    }
    return Value(call, *status.temperature);
}

AlpacaReply AlpacaService::Put(Call& call, const QString& member) {
    if (member == QLatin1String("connect"))
        return Done(call, focuser_.Connect());
    if (member == QLatin1String("disconnect"))
        return Done(call, focuser_.Disconnect());
    if (member == QLatin1String("connected") || member == QLatin1String("tempcomp")) {
        const QString name = member == QLatin1String("connected") ? QStringLiteral("Connected")
                                                                  : QStringLiteral("TempComp");
        const auto text = call.Parameter(name);
        if (!text)
            return BadRequest(QStringLiteral("The parameter %1 is missing").arg(name));
        const auto on = ParseAlpacaBool(*text);
        if (!on)
            return BadRequest(
                QStringLiteral("%1 must be True or False, not \"%2\"").arg(name, *text));
        if (member == QLatin1String("connected")) {
            if (!*on)
                return Done(call, focuser_.Disconnect());
            // Connected reads true once this answers: a client reads its position next.
            const AlpacaResult started = focuser_.Connect();
            return Done(call, started.ok() ? focuser_.WaitConnected() : started);
        }
        const AlpacaFocuserStatus status = focuser_.Status();
        if (!status.connected)
            return Done(call, NotConnected(status));
        if (*on) {
            if (!status.tempCompAvailable) {
                return Done(
                    call, AlpacaResult::Failed(kAlpacaNotImplemented, status.tempCompUnavailable));
            }
        }
        return Done(call, focuser_.SetTempComp(*on));
    }
    if (member.startsWith(QLatin1String("command"))) {
        return Done(call, AlpacaResult::Failed(kAlpacaNotImplemented,
                                               QStringLiteral("Raw commands are not supported")));
    }
    if (member == QLatin1String("action")) {
        const auto action = call.Parameter(QStringLiteral("Action"));
        if (!action)
            return BadRequest(QStringLiteral("The parameter Action is missing"));
        const QStringList supported = focuser_.SupportedActions();
        for (const QString& name : supported) {
            if (name.compare(*action, Qt::CaseInsensitive) != 0)
                continue;
            QString value;
            // Clients differ in how they spell it; a set read as a get would pass unnoticed.
            const auto parameters =
                FindParameter(call.parameters, QStringLiteral("Parameters"), Qt::CaseInsensitive);
            const AlpacaResult result =
                focuser_.Action(name, parameters.value_or(QString()), value);
            return Done(call, result, result.ok() ? QJsonValue(value) : QJsonValue(QString()));
        }
        return Done(call, AlpacaResult::Failed(
                              kAlpacaActionNotImplemented,
                              QStringLiteral("The action %1 is not supported").arg(*action)));
    }

    const AlpacaFocuserStatus status = focuser_.Status();
    if (!status.connected)
        return Done(call, NotConnected(status));
    if (member == QLatin1String("halt"))
        return Done(call, focuser_.Halt());
    // move
    const auto text = call.Parameter(QStringLiteral("Position"));
    if (!text)
        return BadRequest(QStringLiteral("The parameter Position is missing"));
    const auto position = ParseAlpacaInteger(*text);
    if (!position || *position < std::numeric_limits<qint32>::min() ||
        *position > std::numeric_limits<qint32>::max()) {
        return BadRequest(QStringLiteral("Position must be a whole number, not \"%1\"").arg(*text));
    }
    return Done(call, focuser_.Move(*position));
}

QJsonValue AlpacaService::DeviceState(const AlpacaFocuserStatus& status) const {
    // What is not known is left out.
    QJsonArray state;
    if (status.motionError.ok()) {
        state.append(Named(QStringLiteral("IsMoving"), status.moving));
        state.append(Named(QStringLiteral("Position"), qint64(status.position)));
    }
    if (status.temperature)
        state.append(Named(QStringLiteral("Temperature"), *status.temperature));
    state.append(Named(QStringLiteral("TimeStamp"),
                       QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)));
    return state;
}

AlpacaReply AlpacaService::SetupPage() const {
    const QString page =
        QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title>"
                       "</head><body>\n<h1>%1</h1>\n<p>%2</p>\n<p>Focuser 0: %3 (unique id %4)."
                       "</p>\n<p>This server reads its settings (serial port, positions, "
                       "approach) from the console's settings file and changes none of them: "
                       "set the focuser up in the Tarnivel console.</p>\n</body></html>\n")
            .arg(info_.serverName.toHtmlEscaped(), info_.description.toHtmlEscaped(),
                 info_.deviceName.toHtmlEscaped(), info_.uniqueId.toHtmlEscaped());
    return {200, kHtml, page.toUtf8()};
}

AlpacaReply AlpacaService::Value(const Call& call, const QJsonValue& value) {
    return Done(call, {}, value);
}

AlpacaReply AlpacaService::Done(const Call& call, const AlpacaResult& result,
                                const QJsonValue& value) {
    QJsonObject object{
        {QStringLiteral("ClientTransactionID"), qint64(call.clientTransactionId)},
        {QStringLiteral("ServerTransactionID"), qint64(++serverTransactionId_)},
        {QStringLiteral("ErrorNumber"), result.error},
        {QStringLiteral("ErrorMessage"), result.message},
    };
    if (!value.isUndefined())
        object.insert(QStringLiteral("Value"), value);
    return {200, kJson, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

bool AlpacaService::Waits(const AlpacaRequest& request) {
    return request.method == AlpacaRequest::Method::Put &&
           request.path.startsWith(QLatin1String("/api/"));
}

AlpacaReply AlpacaService::BadRequest(const QString& reason) {
    return Plain(400, reason);
}

} // namespace tarnivel
