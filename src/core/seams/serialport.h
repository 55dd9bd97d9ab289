#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace tarnivel {

// The byte-level serial transport the focuser link talks through. The program uses
// QtSerialPort; tests wire the same interface to the simulated controller.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the port behind "COMn" (n >= 1). Returns whether the port is open afterwards.
    virtual bool open(int comPort) = 0;
    // Why the last open() failed, for the operator: the device COMn stands for and the
    // system's reason ("/dev/ttyS0: Permission denied"); empty when it did not fail or
    // nothing more is known.
    virtual QString openError() const { return QString(); }
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Puts one byte on the wire at once (not at the next event pump), so the
    // caller's pacing between bytes is what the controller sees.
    virtual void writeByte(quint8 byte) = 0;
    virtual int bytesWaiting() = 0;
    // Next waiting byte, or -1 when none is waiting or the port is closed.
    virtual int readByte() = 0;
    // Drops whatever input is already waiting (late answers of an earlier frame) and returns
    // it, for the link's log.
    virtual QByteArray discardInput() = 0;

    // True once the port closed itself because the device went away while open
    // (a USB adapter pulled); cleared by the next successful open().
    virtual bool connectionLost() const = 0;
};

} // namespace tarnivel
