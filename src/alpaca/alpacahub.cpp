#include "alpaca/alpacahub.h"

#include "alpaca/alpacaid.h"

#include <QDir>
#include <QSysInfo>
#include <QUuid>

namespace tarnivel {

namespace {

QString Version() {
    return QStringLiteral("%1.%2.%3")
        .arg(TARNIVEL_VERSION_MAJOR)
        .arg(TARNIVEL_VERSION_MINOR)
        .arg(TARNIVEL_VERSION_PATCH);
}

AlpacaServerInfo Info(const QString& folder, const QString& program, QString& warning) {
    QString error;
    QString uniqueId =
        LoadOrCreateUniqueId(QDir(folder).filePath(QStringLiteral("tarnivel-alpaca.id")), &error);
    if (uniqueId.isEmpty()) {
        warning = QStringLiteral("cannot keep the device's unique id (%1): clients will see a "
                                 "new device on every start")
                      .arg(error);
        uniqueId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    }
    AlpacaServerInfo info;
    info.serverName = QStringLiteral("Tarnivel Alpaca server");
    info.manufacturer = QStringLiteral("Tarnivel");
    info.manufacturerVersion = Version();
    info.location = QSysInfo::machineHostName();
    info.deviceName = QStringLiteral("Tarnivel focuser");
    info.description = QStringLiteral("Motorised telescope focuser on a serial port");
    info.driverInfo = QStringLiteral("%1 %2, the Tarnivel focuser console's Alpaca server")
                          .arg(program, Version());
    info.driverVersion =
        QStringLiteral("%1.%2").arg(TARNIVEL_VERSION_MAJOR).arg(TARNIVEL_VERSION_MINOR);
    info.uniqueId = uniqueId;
    return info;
}

} // namespace

AlpacaHub::AlpacaHub(AlpacaFocuser& focuser, const QString& folder, const QString& program)
    : service_(focuser, Info(folder, program, warning_)), http_(service_) {}

AlpacaHub::~AlpacaHub() = default;

bool AlpacaHub::Start(const QHostAddress& bind, quint16 httpPort, quint16 discoveryPort,
                      bool discoveryOptional, QString* error) {
    if (!http_.Listen(bind, httpPort)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1 port %2: %3")
                         .arg(bind.toString())
                         .arg(httpPort)
                         .arg(http_.errorString());
        return false;
    }
    discovery_ = std::make_unique<AlpacaDiscovery>(http_.port());
    if (discovery_->Start(discoveryPort, bind))
        return true;
    const QString why = QStringLiteral("cannot listen for discovery on UDP port %1: %2")
                            .arg(discoveryPort)
                            .arg(discovery_->errorString());
    discovery_.reset();
    if (discoveryOptional) {
        warning_ = why;
        return true;
    }
    if (error)
        *error = why;
    return false;
}

void AlpacaHub::StopListening() {
    discovery_.reset();
    http_.StopListening();
}

} // namespace tarnivel
