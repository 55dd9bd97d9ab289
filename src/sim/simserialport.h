#pragma once

// SerialPort wired to a ControllerModel on a Platform clock. Written bytes reach the model
// at the clock's current time; answer bytes become readable once their arrival time has
// passed on that clock, so on virtual time a slow answer costs no real time.

#include "core/seams/platform.h"
#include "core/seams/serialport.h"
#include "sim/controllermodel.h"

#include <QByteArray>
#include <QList>

namespace tarnivel::sim {

class SimSerialPort : public SerialPort {
public:
    SimSerialPort(ControllerModel& model, Platform& clock);

    bool open(int comPort) override;
    void close() override;
    bool isOpen() const override;
    void writeByte(quint8 byte) override;
    int bytesWaiting() override;
    int readByte() override;
    QByteArray discardInput() override;
    bool connectionLost() const override { return lost_; }
    QString openError() const override { return openError_; }

    // COM numbers that exist and open (default only 1); others fail to open.
    void setOpenablePorts(const QList<int>& ports) { openable_ = ports; }
    const QList<int>& openablePorts() const { return openable_; }
    // false: the port opens but no controller hangs on it, so nothing is ever answered and
    // the model sees nothing.
    void setControllerAttached(bool attached) { attached_ = attached; }
    bool controllerAttached() const { return attached_; }
    // The device disappears: an open port closes itself and reports connectionLost(), and
    // open() fails until setDevicePresent(true).
    void vanish();
    void setDevicePresent(bool present);
    bool devicePresent() const { return present_; }

    int openedPort() const { return openedPort_; } // 0 when closed
    int openCount() const { return openCount_; }
    // Every byte written while open, whether or not a controller took it.
    const QByteArray& written() const { return written_; }
    void clearWritten() { written_.clear(); }

    ControllerModel& model() { return model_; }

private:
    // Brings the model up to the clock and carries out a vanish it asked for.
    void sync();

    ControllerModel& model_;
    Platform& clock_;
    QList<int> openable_{1};
    bool attached_ = true;
    bool present_ = true;
    bool lost_ = false;
    QString openError_;
    int openedPort_ = 0;
    int openCount_ = 0;
    QByteArray written_;
};

} // namespace tarnivel::sim
