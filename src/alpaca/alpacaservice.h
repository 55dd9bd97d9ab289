#pragma once

#include "alpaca/alpacafocuser.h"
#include "alpaca/alpacarequest.h"

#include <QByteArray>
#include <QJsonValue>

#include <atomic>

namespace tarnivel {

struct AlpacaReply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
};

// What the management API and the setup pages say about this server and its one device.
struct AlpacaServerInfo {
    QString serverName;
    QString manufacturer;
    QString manufacturerVersion;
    QString location;
    QString deviceName;
    QString description;
    QString driverInfo;
    QString driverVersion;
    QString uniqueId;
};

// The Alpaca protocol for one focuser, device number 0: paths, parameters, transaction ids,
// status codes and error numbers. Knows no sockets: the HTTP adapter hands it requests.
class AlpacaService {
public:
    AlpacaService(AlpacaFocuser& focuser, AlpacaServerInfo info);

    // Safe to call from several threads at once (the focuser's members are).
    AlpacaReply Handle(const AlpacaRequest& request);
    // Whether the request may wait for the focuser (a verb): the HTTP adapter answers it off
    // its own thread, so no status member waits behind it.
    static bool Waits(const AlpacaRequest& request);

    // Bodies larger than this are refused before they reach Handle.
    static constexpr qsizetype kMaxBody = 64 * 1024;

    const AlpacaServerInfo& info() const { return info_; }

private:
    struct Call;

    AlpacaReply Management(const Call& call, const QString& what);
    AlpacaReply Device(Call& call, const QString& member);
    AlpacaReply Get(Call& call, const QString& member);
    AlpacaReply Put(Call& call, const QString& member);
    AlpacaReply SetupPage() const;

    AlpacaReply Value(const Call& call, const QJsonValue& value);
    AlpacaReply Done(const Call& call, const AlpacaResult& result,
                     const QJsonValue& value = QJsonValue(QJsonValue::Undefined));
    static AlpacaReply BadRequest(const QString& reason);

    QJsonValue DeviceState(const AlpacaFocuserStatus& status) const;

    AlpacaFocuser& focuser_;
    AlpacaServerInfo info_;
    std::atomic<quint32> serverTransactionId_{0};
};

} // namespace tarnivel
