#pragma once

#include "alpaca/alpacaservice.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QThreadPool>
#include <QTimer>

#include <memory>

class QHttpServer;
class QTcpSocket;

namespace tarnivel {

// Qt HTTP Server 6.4 keeps every byte of a request in memory until it is complete and
// never times a connection out; this listener bounds both before the bytes reach it.
class AlpacaTcpServer : public QTcpServer {
    Q_OBJECT
public:
    struct Limits {
        qint64 requestBytes = AlpacaService::kMaxBody + 16 * 1024;
        int connections = 32;
        // A request must be complete this long after its first byte.
        int requestMs = 10000;
        // A kept-alive connection with nothing to do is closed after this.
        int idleMs = 60000;
    };

    explicit AlpacaTcpServer(QObject* parent = nullptr);
    explicit AlpacaTcpServer(Limits limits, QObject* parent = nullptr);

    int openConnections() const { return int(connections_.size()); }
    // A complete request whose answer is being worked out: no time limit until it is sent.
    void Answering(QTcpSocket* socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        QElapsedTimer since;
        qint64 received = 0;
        bool answering = false;
    };

    void Received(QTcpSocket* socket);
    void Answered(QTcpSocket* socket);
    void Refuse(QTcpSocket* socket);
    void Sweep();
    void EvictIdlest();

    Limits limits_;
    QHash<QTcpSocket*, Connection> connections_;
    QTimer sweep_;
};

// The one place where Alpaca meets the HTTP server: every path goes to the service.
class AlpacaHttpServer : public QObject {
    Q_OBJECT
public:
    explicit AlpacaHttpServer(AlpacaService& service, QObject* parent = nullptr);
    ~AlpacaHttpServer() override;

    // Listens on address:port (0: any free port) and serves there.
    bool Listen(const QHostAddress& address, quint16 port,
                AlpacaTcpServer::Limits limits = AlpacaTcpServer::Limits());
    quint16 port() const;
    QString errorString() const { return error_; }
    // Takes no more connections; requests already taken are still answered.
    void StopListening();
    // A verb is still waiting for the focuser (safe from any thread).
    bool VerbsUnderWay() { return !verbs_.waitForDone(0); }
    const AlpacaTcpServer* listener() const { return listener_; }

private:
    AlpacaService& service_;
    // Verbs wait for the focuser here, so the server's own thread never does.
    QThreadPool verbs_;
    std::unique_ptr<QHttpServer> http_;
    AlpacaTcpServer* listener_ = nullptr;
    QString error_;
};

} // namespace tarnivel
