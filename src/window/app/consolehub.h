#pragma once

#include "alpaca/alpacahub.h"
#include "alpaca/devicefocuser.h"

#include <QString>

class QObject;

namespace tarnivel {

struct Console;
class DeviceHost;

// The console as the hub: the Alpaca server on the console's own device. Its verbs run on the
// window's thread between the window's waits (never inside a tick or a command's wait), and
// the device's rules send their moves to the window's engine, so the imaging program and the
// observer share one focuser, one readout and one STOP.
class ConsoleHub {
public:
    // thread: an object of the window's thread; folder: where the device's UniqueID is kept.
    ConsoleHub(Console& console, DeviceHost& host, QObject& thread, const QString& folder);
    ~ConsoleHub();
    ConsoleHub(const ConsoleHub&) = delete;
    ConsoleHub& operator=(const ConsoleHub&) = delete;

    // Serves on every IPv4 address at port (0: a free one) with discovery when it can; ""
    // when serving, else why not.
    QString Start(quint16 port);
    quint16 port() const { return hub_.port(); }

private:
    Console& console_;
    DeviceAlpacaFocuser focuser_;
    AlpacaHub hub_;
};

} // namespace tarnivel
