#pragma once

// The main window on a whole simulated console: the settings file in a temporary folder,
// the poll timer in manual mode and a tick that advances virtual time like the real one.

#include "consolerig.h"
#include "window/app/frmtarnivel.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace tarnivel::test {

// A calibrated controller with auto-stop on and room to travel in both directions.
sim::SimConfig ReadyController();

// Hex of the frame FocuserLink would send, in the simulator log's spelling.
QString FrameHex(int device, int messageId, int data, int nData, int nReply);

struct WindowRig {
    explicit WindowRig(const sim::SimConfig& config = ReadyController(),
                       const QByteArray& settingsFile = QByteArray());
    ~WindowRig();

    // Selects COMn and presses Connect.
    void connectTo(int comPort = 1);
    // 50 ms of virtual time, then the timer's tick when it is armed. Returns the ticks run.
    int tick(int n = 1);
    // Lets the event loop wait for input, as it does between the operator's actions, until
    // the window has no call waiting for such a quiet moment.
    void settle();

    QStringList frames() const;
    void clearFrames();
    int countMessage(int messageId) const;
    QByteArray settingsFileText() const;

    QTemporaryDir folder;
    QString settingsPath;
    std::unique_ptr<ConsoleRig> rig;
    std::unique_ptr<frmTarnivel> w;
};

} // namespace tarnivel::test
