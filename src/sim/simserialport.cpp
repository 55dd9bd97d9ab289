#include "sim/simserialport.h"

namespace tarnivel::sim {

SimSerialPort::SimSerialPort(ControllerModel& model, Platform& clock)
    : model_(model), clock_(clock) {}

void SimSerialPort::sync() {
    model_.advanceTo(clock_.nowMs());
    if (model_.takeVanishRequest())
        vanish();
}

bool SimSerialPort::open(int comPort) {
    if (isOpen())
        close();
    openError_.clear();
    if (!present_ || !openable_.contains(comPort)) {
        openError_ = QStringLiteral("COM%1: No such device").arg(comPort);
        return false;
    }
    sync();
    openedPort_ = comPort;
    ++openCount_;
    lost_ = false;
    // As the real port does right after opening: answers left from an earlier session go.
    if (attached_)
        model_.discardArrived(clock_.nowMs());
    return true;
}

void SimSerialPort::close() {
    if (!isOpen())
        return;
    openedPort_ = 0;
    // Whatever was still on its way finds no listener.
    if (attached_)
        model_.resetLine();
}

bool SimSerialPort::isOpen() const {
    return openedPort_ != 0;
}

void SimSerialPort::writeByte(quint8 byte) {
    if (!isOpen())
        return;
    sync();
    if (!isOpen())
        return;
    written_.append(static_cast<char>(byte));
    if (!attached_)
        return;
    model_.receiveByte(byte, clock_.nowMs());
    // The frame this byte completed may have taken the device away.
    sync();
}

int SimSerialPort::bytesWaiting() {
    if (!isOpen())
        return 0;
    sync();
    if (!isOpen() || !attached_)
        return 0;
    return model_.bytesArrived(clock_.nowMs());
}

int SimSerialPort::readByte() {
    if (bytesWaiting() == 0)
        return -1;
    return model_.takeByte(clock_.nowMs());
}

QByteArray SimSerialPort::discardInput() {
    if (!isOpen())
        return {};
    sync();
    if (isOpen() && attached_)
        return model_.discardArrived(clock_.nowMs());
    return {};
}

void SimSerialPort::vanish() {
    present_ = false;
    if (isOpen()) {
        close();
        lost_ = true;
    }
}

void SimSerialPort::setDevicePresent(bool present) {
    if (!present)
        vanish();
    else
        present_ = true;
}

} // namespace tarnivel::sim
