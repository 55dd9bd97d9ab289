#pragma once

#include "alpaca/devicefocuser.h"

#include <QString>
#include <QThread>
#include <memory>

namespace tarnivel {

class AlpacaHub;
struct Console;
class DeviceHost;

// The console as the hub: the Alpaca server on the console's own device. The server runs on
// a thread of its own, so a status request never waits for the window; its verbs run on the
// window's thread between the window's waits (never inside a tick or a command's wait), and
// the device's rules send their moves to the window's engine. The imaging program and the
// observer share one focuser, one readout and one STOP.
class ConsoleHub {
public:
    // thread: an object of the window's thread; folder: where the device's UniqueID is kept.
    ConsoleHub(Console& console, DeviceHost& host, QObject& thread, QString folder);
    ~ConsoleHub();
    ConsoleHub(const ConsoleHub&) = delete;
    ConsoleHub& operator=(const ConsoleHub&) = delete;

    // Serves on every IPv4 address at port (0: a free one) with discovery when it can; ""
    // when serving, else why not.
    QString Start(quint16 port);
    quint16 port() const { return port_; }

private:
    Console& console_;
    QString folder_;
    DeviceAlpacaFocuser focuser_;
    QThread serverThread_;
    QObject* serverContext_ = nullptr; // lives on serverThread_
    std::unique_ptr<AlpacaHub> hub_;   // made, used and ended on serverThread_
    quint16 port_ = 0;
};

} // namespace tarnivel
