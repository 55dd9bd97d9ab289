#pragma once

#include "core/seams/serialport.h"

#include <QByteArray>

namespace tarnivel {

// The serial port on the descriptor that INDI's serial connection opened: the driver's side
// of the seam the console fills with QtSerialPort. The connection owns the descriptor (it
// opens and closes it); this only reads and writes.
class FdSerialPort final : public SerialPort {
public:
    // Takes over an open descriptor: raw 9600 8N1, reads that never block.
    bool attach(int fd);
    void detach();

    // The descriptor comes from the connection: "opening" only reports whether one is here.
    bool open(int comPort) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0 && !lost_; }
    void writeByte(quint8 byte) override;
    int bytesWaiting() override;
    int readByte() override;
    QByteArray discardInput() override;
    bool connectionLost() const override { return lost_; }

private:
    void fill();

    int fd_ = -1;
    bool lost_ = false;
    QByteArray pending_;
};

} // namespace tarnivel
