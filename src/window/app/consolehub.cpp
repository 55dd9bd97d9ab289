#include "window/app/consolehub.h"

#include "window/app/console.h"
#include "window/ui/inputgate.h"

#include <QHostAddress>

namespace tarnivel {

namespace {
constexpr quint16 kDiscoveryPort = 32227;
} // namespace

ConsoleHub::ConsoleHub(Console& console, DeviceHost& host, QObject& thread, const QString& folder)
    : console_(console), focuser_(console.device, &thread),
      hub_(focuser_, folder, QStringLiteral("tarnivel")) {
    console_.device.SetHost(&host);
    // A verb taken inside the window's tick or a command's wait would put its frames between
    // that command's; a halt is a STOP and goes at once, as the button's does.
    focuser_.SetHold([&console] { return console.inputGate && console.inputGate->Holding(); });
}

ConsoleHub::~ConsoleHub() {
    focuser_.Close();
    hub_.Close([this] { focuser_.Close(); });
    console_.device.SetHost(nullptr);
}

QString ConsoleHub::Start(quint16 port) {
    QString error;
    // A daemon already answering discovery on this machine leaves the port to it.
    if (!hub_.Start(QHostAddress::AnyIPv4, port, kDiscoveryPort, true, &error))
        return error;
    return QString();
}

} // namespace tarnivel
