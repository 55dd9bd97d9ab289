#pragma once

#include "core/seams/serialport.h"
#include "core/settings/programfolder.h"

#include <QObject>
#include <QSerialPort>

namespace tarnivel {

// SerialPort on QSerialPort, 9600 8N1.
class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(ProgramFolder folder, QObject* parent = nullptr);

    bool open(int comPort) override;
    void close() override;
    bool isOpen() const override;
    void writeByte(quint8 byte) override;
    int bytesWaiting() override;
    int readByte() override;
    QByteArray discardInput() override;
    bool connectionLost() const override { return lost_; }
    QString openError() const override { return openError_; }

    QString deviceName() const { return port_.portName(); }

private:
    void onError(QSerialPort::SerialPortError error);

    ProgramFolder folder_;
    QSerialPort port_;
    bool lost_ = false;
    QString openError_;
};

} // namespace tarnivel
