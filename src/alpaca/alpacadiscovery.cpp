#include "alpaca/alpacadiscovery.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>

namespace tarnivel {

namespace {
const QByteArray kQuery = QByteArrayLiteral("alpacadiscovery1");
// Longer packets are accepted; only their start is read.
constexpr qint64 kReadBytes = 64;
} // namespace

AlpacaDiscovery::AlpacaDiscovery(quint16 httpPort, QObject* parent)
    : QObject(parent), httpPort_(httpPort) {
    connect(&socket_, &QUdpSocket::readyRead, this, &AlpacaDiscovery::Read);
}

bool AlpacaDiscovery::Start(quint16 discoveryPort, const QHostAddress& served) {
    served_ = served;
    servedPrefix_ = -1;
    if (served.isLoopback()) {
        servedPrefix_ = 8;
    } else {
        for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
                if (entry.ip().isEqual(served))
                    servedPrefix_ = entry.prefixLength();
            }
        }
    }
    return socket_.bind(QHostAddress::AnyIPv4, discoveryPort,
                        QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
}

bool AlpacaDiscovery::Serves(const QHostAddress& sender) const {
    if (served_.isNull() || served_ == QHostAddress::Any || served_ == QHostAddress::AnyIPv4)
        return true;
    return servedPrefix_ >= 0 && sender.isInSubnet(served_, servedPrefix_);
}

void AlpacaDiscovery::Read() {
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_.receiveDatagram(kReadBytes);
        if (!datagram.isValid() || !datagram.data().startsWith(kQuery) ||
            !Serves(datagram.senderAddress()))
            continue;
        socket_.writeDatagram(QByteArrayLiteral("{\"AlpacaPort\":") +
                                  QByteArray::number(httpPort_) + '}',
                              datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

} // namespace tarnivel
