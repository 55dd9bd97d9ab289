#include "platform/qt/qtserialport.h"

#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPort, "tarnivel.port")

namespace tarnivel {

namespace {
constexpr int kInputBufferBytes = 1024;
constexpr int kWriteFlushMs = 100;

QString OpenErrorText(int comPort, const QString& device, QSerialPort::SerialPortError error,
                      const QString& reason) {
    // A COMn link beside the settings names the device it stands for. Without one the
    // port falls back on a serial line of the machine, which the operator may not know of.
    const QFileInfo info(device);
    const QString shown = info.isSymLink() ? info.symLinkTarget() : device;
    QString text = shown + QStringLiteral(": ") + reason;
    if (device.startsWith(QStringLiteral("/dev/")))
        text = QStringLiteral("no COM%1 link in the program folder; ").arg(comPort) + text;
    // Serial devices belong to the group dialout; a user outside it is refused.
    if (error == QSerialPort::PermissionError)
        text += QStringLiteral(" \u2014 is your user in the dialout group?");
    return text;
}
} // namespace

QtSerialPort::QtSerialPort(ProgramFolder folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

bool QtSerialPort::open(int comPort) {
    if (port_.isOpen())
        port_.close();
    openError_.clear();
    if (comPort < 1)
        return false;
    const QString device = folder_.comPortDevice(comPort);
    port_.setPortName(device);
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(kInputBufferBytes);
    if (!port_.open(QIODevice::ReadWrite)) {
        qCDebug(lcPort) << "cannot open" << port_.portName() << port_.errorString();
        openError_ = OpenErrorText(comPort, device, port_.error(), port_.errorString());
        return false;
    }
    // A line can hold bytes from an earlier session.
    port_.clear(QSerialPort::AllDirections);
    lost_ = false;
    return true;
}

void QtSerialPort::close() {
    if (port_.isOpen())
        port_.close();
}

bool QtSerialPort::isOpen() const {
    return port_.isOpen();
}

void QtSerialPort::writeByte(quint8 byte) {
    if (!port_.isOpen())
        return;
    const char c = static_cast<char>(byte);
    port_.write(&c, 1);
    port_.waitForBytesWritten(kWriteFlushMs);
}

int QtSerialPort::bytesWaiting() {
    if (!port_.isOpen())
        return 0;
    // Bytes the OS holds reach QSerialPort's buffer only through the event loop or a
    // wait; a zero-timeout wait fetches them without dispatching any event.
    if (port_.bytesAvailable() == 0)
        port_.waitForReadyRead(0);
    return port_.isOpen() ? static_cast<int>(port_.bytesAvailable()) : 0;
}

int QtSerialPort::readByte() {
    if (!port_.isOpen() || bytesWaiting() == 0)
        return -1;
    char c = 0;
    if (!port_.getChar(&c))
        return -1;
    return static_cast<quint8>(c);
}

QByteArray QtSerialPort::discardInput() {
    if (!port_.isOpen())
        return {};
    port_.waitForReadyRead(0);
    if (!port_.isOpen())
        return {};
    QByteArray dropped = port_.readAll();
    port_.clear(QSerialPort::Input);
    return dropped;
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    // A vanished device makes Qt report ReadError in a tight loop while the port stays
    // open; closing it is the only way to stop the spin.
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError) {
        if (port_.isOpen()) {
            qCWarning(lcPort) << "port lost:" << port_.portName() << port_.errorString();
            lost_ = true;
            port_.close();
        }
    }
}

} // namespace tarnivel
