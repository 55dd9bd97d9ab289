#pragma once

#include "alpaca/alpacadiscovery.h"
#include "alpaca/alpacahttpserver.h"
#include "alpaca/alpacaservice.h"

#include <QHostAddress>
#include <QString>
#include <memory>

namespace tarnivel {

class AlpacaFocuser;

// The Alpaca server around one focuser: the protocol, HTTP and UDP discovery, as the daemon
// and the console both run it. The device's UniqueID is kept beside the settings, so a client
// finds the same focuser whichever program serves it.
class AlpacaHub {
public:
    // program: who serves ("tarnivel-alpaca", "tarnivel"), named in DriverInfo.
    AlpacaHub(AlpacaFocuser& focuser, const QString& folder, const QString& program);
    ~AlpacaHub();
    AlpacaHub(const AlpacaHub&) = delete;
    AlpacaHub& operator=(const AlpacaHub&) = delete;

    // Listens for HTTP on bind:httpPort and for discovery on discoveryPort (0: any free
    // port). False with why when either cannot; a discovery that fails leaves HTTP serving
    // when discoveryOptional.
    bool Start(const QHostAddress& bind, quint16 httpPort, quint16 discoveryPort,
               bool discoveryOptional, QString* error);
    quint16 port() const { return http_.port(); }
    quint16 discoveryPort() const { return discovery_ ? discovery_->port() : 0; }
    // A notice of the start that is no failure (the id not kept, discovery not running).
    const QString& warning() const { return warning_; }
    // Stops serving: no new connection or discovery is taken (on the server's thread).
    void StopListening();
    // A verb is still waiting for the focuser (safe from any thread): the server may only end
    // once none is, and the focuser's thread must answer them meanwhile.
    bool VerbsUnderWay() { return http_.VerbsUnderWay(); }

private:
    AlpacaService service_;
    AlpacaHttpServer http_;
    std::unique_ptr<AlpacaDiscovery> discovery_;
    QString warning_;
};

} // namespace tarnivel
