// Any bytes as an Alpaca request: the first byte picks GET or PUT, the rest up to the first
// newline is the path and query, what follows is the body. Decoding and answering never
// crash, a 200 is always JSON with the transaction ids, anything else plain text, and every
// name the form decoder returns is non-empty.
#include "alpaca/alpacaservice.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

using namespace tarnivel;

namespace {

class StillFocuser : public AlpacaFocuser {
public:
    AlpacaFocuserStatus Status() const override {
        AlpacaFocuserStatus status;
        status.connected = connected;
        status.maxStep = 60000;
        status.position = 1234;
        return status;
    }
    AlpacaResult Connect() override {
        connected = true;
        return {};
    }
    AlpacaResult WaitConnected() override { return {}; }
    AlpacaResult Disconnect() override {
        connected = false;
        return {};
    }
    AlpacaResult Move(qint64 position) override {
        if (position < -2147483648LL || position > 2147483647LL)
            std::abort();
        return {};
    }
    AlpacaResult Halt() override { return {}; }
    AlpacaResult SetTempComp(bool) override { return {}; }
    QStringList SupportedActions() const override { return {QStringLiteral("Temperatures")}; }
    AlpacaResult Action(const QString&, const QString&, QString& value) override {
        value = QStringLiteral("[]");
        return {};
    }
    bool connected = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const qsizetype newline = input.indexOf('\n');
    const QByteArray target = newline < 0 ? input : input.first(newline);
    const qsizetype mark = target.indexOf('?');

    AlpacaRequest request;
    request.method = data[0] & 1 ? AlpacaRequest::Method::Put : AlpacaRequest::Method::Get;
    request.path = QString::fromUtf8(mark < 0 ? target : target.first(mark));
    request.query = mark < 0 ? QByteArray() : target.sliced(mark + 1);
    request.body = newline < 0 ? QByteArray() : input.sliced(newline + 1);

    for (const auto& parameter : DecodeForm(request.body)) {
        if (parameter.first.isEmpty())
            std::abort();
    }

    static StillFocuser focuser;
    static AlpacaService service(focuser, AlpacaServerInfo{});
    const AlpacaReply reply = service.Handle(request);
    if (reply.status == 200 && reply.contentType == "application/json") {
        const QJsonObject object = QJsonDocument::fromJson(reply.body).object();
        if (!object.contains(QLatin1String("ServerTransactionID")) ||
            !object.contains(QLatin1String("ClientTransactionID")))
            std::abort();
    } else if (reply.status != 200 && !reply.contentType.startsWith("text/plain")) {
        std::abort();
    }
    return 0;
}
