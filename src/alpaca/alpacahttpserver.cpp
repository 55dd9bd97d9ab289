#include "alpaca/alpacahttpserver.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QTcpSocket>

#include <memory>

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

void Write(QHttpServerResponder& responder, const AlpacaReply& reply) {
    responder.write(reply.body, reply.contentType, QHttpServerResponder::StatusCode(reply.status));
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
    it->answering = false;
    it->since.start();
}

void AlpacaTcpServer::Answering(QTcpSocket* socket) {
    auto it = connections_.find(socket);
    if (it != connections_.end())
        it->answering = true;
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
        if (it->answering && it->socket)
            continue;
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
    // One per connection the listener keeps: a verb never waits for a thread.
    verbs_.setMaxThreadCount(AlpacaTcpServer::Limits().connections);
    // QUrl's converter matches the rest of the path, slashes included: one rule for all.
    http_->route(QStringLiteral("/<arg>"), [this](const QUrl&, const QHttpServerRequest& request,
                                                  QHttpServerResponder&& responder) {
        AlpacaRequest alpaca;
        alpaca.method = MethodOf(request);
        alpaca.path = request.url().path(QUrl::FullyEncoded);
        alpaca.query = request.url().query(QUrl::FullyEncoded).toLatin1();
        alpaca.body = request.body();
        if (!AlpacaService::Waits(alpaca)) {
            Write(responder, service_.Handle(alpaca));
            return;
        }
        // The answer is written here, on the socket's thread, if the client is still there.
        QPointer<QTcpSocket> socket = responder.socket();
        if (listener_)
            listener_->Answering(socket);
        auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
        verbs_.start([this, alpaca, pending, socket] {
            const AlpacaReply reply = service_.Handle(alpaca);
            QMetaObject::invokeMethod(
                this,
                [pending, socket, reply] {
                    if (socket)
                        Write(*pending, reply);
                },
                Qt::QueuedConnection);
        });
    });
}

AlpacaHttpServer::~AlpacaHttpServer() {
    verbs_.waitForDone();
}

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

void AlpacaHttpServer::StopListening() {
    if (listener_)
        listener_->close();
}

quint16 AlpacaHttpServer::port() const {
    return listener_ ? listener_->serverPort() : 0;
}

} // namespace tarnivel
