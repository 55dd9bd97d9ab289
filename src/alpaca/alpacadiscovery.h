#pragma once

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

namespace tarnivel {

// Answers the clients' discovery broadcasts with the HTTP port, unicast to the sender.
class AlpacaDiscovery : public QObject {
    Q_OBJECT
public:
    AlpacaDiscovery(quint16 httpPort, QObject* parent = nullptr);

    // served: the address the HTTP server listens on. Broadcasts only reach a socket bound
    // to all addresses, so the socket always is; a server bound to one address answers only
    // senders on that address's network.
    bool Start(quint16 discoveryPort, const QHostAddress& served);
    quint16 port() const { return socket_.localPort(); }
    QString errorString() const { return socket_.errorString(); }

private:
    void Read();
    bool Serves(const QHostAddress& sender) const;

    quint16 httpPort_;
    QHostAddress served_;
    int servedPrefix_ = -1;
    QUdpSocket socket_;
};

} // namespace tarnivel
