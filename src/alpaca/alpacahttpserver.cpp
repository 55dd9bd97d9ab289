#include "alpaca/alpacahttpserver.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTcpSocket>

namespace tarnivel {

namespace {

// The reply to a request over the limit, written straight to the socket: the HTTP server
// never sees the request.
const QByteArray kTooLarge = QByteArrayLiteral(
    "HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "Content-Length: 35\r\nConnection: close\r\n\r\nThe request is larger than 64 KiB.\n");

AlpacaRequest::Method MethodOf(const QHttpServerRequest& request) {
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
        return AlpacaRequest::Method::Get;
    case QHttpServerRequest::Method::Put:
        return AlpacaRequest::Method::Put;
    default:
        return AlpacaRequest::Method::Other;
    }
}

} // namespace

AlpacaTcpServer::AlpacaTcpServer(QObject* parent) : AlpacaTcpServer(Limits(), parent) {}

AlpacaTcpServer::AlpacaTcpServer(Limits limits, QObject* parent)
    : QTcpServer(parent), limits_(limits) {
    sweep_.setInterval(std::max(100, std::min(limits_.requestMs, limits_.idleMs) / 4));
    connect(&sweep_, &QTimer::timeout, this, &AlpacaTcpServer::Sweep);
}

void AlpacaTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (connections_.size() >= limits_.connections)
        EvictIdlest();
    // After a parse error the HTTP server drops every connection of the socket, ours too,
    // and leaves it open; this cap keeps such a socket from buffering without end until the
    // sweep closes it.
    socket->setReadBufferSize(limits_.requestBytes + 1);
    // Connected before the HTTP server's own handler, so this one sees the bytes first.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Received(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { Answered(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { connections_.remove(socket); });
    Connection& connection = connections_[socket];
    connection.socket = socket;
    connection.since.start();
    if (!sweep_.isActive())
        sweep_.start();
    addPendingConnection(socket);
}

void AlpacaTcpServer::Received(QTcpSocket* socket) {
    auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    if (it->received == 0)
        it->since.start();
    // The HTTP server reads everything on each signal, so what is available now is new.
    it->received += socket->bytesAvailable();
    if (it->received > limits_.requestBytes)
        Refuse(socket);
}

void AlpacaTcpServer::Answered(QTcpSocket* socket) {
    auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    it->received = 0;
    it->since.start();
}

void AlpacaTcpServer::Refuse(QTcpSocket* socket) {
    // Disconnecting during the signal keeps the HTTP server's handler, still to come, from
    // reading the request.
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    connections_.remove(socket);
    socket->write(kTooLarge);
    socket->disconnectFromHost();
}

void AlpacaTcpServer::Sweep() {
    QList<QTcpSocket*> expired;
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it) {
        const qint64 age = it->since.elapsed();
        if (!it->socket || (it->received > 0 ? age > limits_.requestMs : age > limits_.idleMs))
            expired.append(it.key());
    }
    for (QTcpSocket* socket : expired) {
        QPointer<QTcpSocket> alive = connections_.take(socket).socket;
        if (alive) {
            alive->abort();
            alive->deleteLater();
        }
    }
    if (connections_.isEmpty())
        sweep_.stop();
}

void AlpacaTcpServer::EvictIdlest() {
    QTcpSocket* idlest = nullptr;
    qint64 longest = -1;
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it) {
        if (it->since.elapsed() > longest) {
            longest = it->since.elapsed();
            idlest = it.key();
        }
    }
    if (!idlest)
        return;
    QPointer<QTcpSocket> alive = connections_.take(idlest).socket;
    if (alive) {
        alive->abort();
        alive->deleteLater();
    }
}

AlpacaHttpServer::AlpacaHttpServer(AlpacaService& service, QObject* parent)
    : QObject(parent), service_(service), http_(std::make_unique<QHttpServer>()) {
    // QUrl's converter matches the rest of the path, slashes included: one rule for all.
    http_->route(QStringLiteral("/<arg>"), [this](const QUrl&, const QHttpServerRequest& request) {
        AlpacaRequest alpaca;
        alpaca.method = MethodOf(request);
        alpaca.path = request.url().path(QUrl::FullyEncoded);
        alpaca.query = request.url().query(QUrl::FullyEncoded).toLatin1();
        alpaca.body = request.body();
        AlpacaReply reply = service_.Handle(alpaca);
        return QHttpServerResponse(reply.contentType, reply.body,
                                   QHttpServerResponse::StatusCode(reply.status));
    });
}

AlpacaHttpServer::~AlpacaHttpServer() = default;

bool AlpacaHttpServer::Listen(const QHostAddress& address, quint16 port,
                              AlpacaTcpServer::Limits limits) {
    auto* listener = new AlpacaTcpServer(limits);
    if (!listener->listen(address, port)) {
        error_ = listener->errorString();
        delete listener;
        return false;
    }
    // The HTTP server takes the listener as its child.
    http_->bind(listener);
    listener_ = listener;
    return true;
}

quint16 AlpacaHttpServer::port() const {
    return listener_ ? listener_->serverPort() : 0;
}

} // namespace tarnivel
