#include "window/app/consolehub.h"

#include "alpaca/alpacahub.h"
#include "window/app/console.h"
#include "window/ui/inputgate.h"

#include <QHostAddress>

namespace tarnivel {

namespace {
constexpr quint16 kDiscoveryPort = 32227;
constexpr unsigned long kAnswerSliceMs = 5;
} // namespace

ConsoleHub::ConsoleHub(Console& console, DeviceHost& host, QObject& thread, QString folder)
    : console_(console), folder_(std::move(folder)), focuser_(console.device, &thread) {
    console_.device.SetHost(&host);
    // A verb taken inside the window's tick or a command's wait would put its frames between
    // that command's; a halt is a STOP and goes at once, as the button's does.
    focuser_.SetHold([&console] { return console.inputGate && console.inputGate->Holding(); });
    serverThread_.setObjectName(QStringLiteral("alpaca"));
    serverThread_.start();
    serverContext_ = new QObject;
    serverContext_->moveToThread(&serverThread_);
}

ConsoleHub::~ConsoleHub() {
    // Every verb from now on is refused; those already handed over are answered here, on the
    // window's thread, while the server stops taking connections and ends.
    focuser_.Close();
    QMetaObject::invokeMethod(
        serverContext_,
        [this] {
            if (hub_)
                hub_->StopListening();
        },
        Qt::BlockingQueuedConnection);
    while (hub_ && hub_->VerbsUnderWay()) {
        focuser_.Close();
        QThread::msleep(kAnswerSliceMs);
    }
    QMetaObject::invokeMethod(
        serverContext_, [this] { hub_.reset(); }, Qt::BlockingQueuedConnection);
    serverContext_->deleteLater();
    serverThread_.quit();
    serverThread_.wait();
    console_.device.SetHost(nullptr);
}

QString ConsoleHub::Start(quint16 port) {
    QString error;
    QMetaObject::invokeMethod(
        serverContext_,
        [this, port, &error] {
            hub_ = std::make_unique<AlpacaHub>(focuser_, folder_, QStringLiteral("tarnivel"));
            // A daemon already answering discovery on this machine leaves the port to it.
            if (hub_->Start(QHostAddress::AnyIPv4, port, kDiscoveryPort, true, &error))
                port_ = hub_->port();
            else
                hub_.reset();
        },
        Qt::BlockingQueuedConnection);
    return error;
}

} // namespace tarnivel
