#pragma once

#include "consolerig.h"
#include "window/options/frmoptions.h"

#include <QAbstractButton>
#include <QStringList>
#include <functional>
#include <memory>

namespace tarnivel::test {

using DialogScript = std::function<void(frmOptions&)>;

// A simulated controller whose end stops lie `travel` steps apart around power-on 0.
sim::SimConfig TravelConfig(qint64 travel);

// The frames the console sends, as the simulator logs them (upper-case hex).
namespace frames {
QString Frame(int messageId, qint32 data, int nData, int nReply);
QString GetPosition();
QString SetPosition(int raw);
QString GotoPosition(int raw);
QString IsSlewDone();
QString MoveAtRate(int rate);
QString SetLimitMin(int limitByte);
QString SetLimitMax(int limitByte);
QString GetLimitMin();
QString GetLimitMax();
QString GetAutoStop();
QString SetAutoStop(int value);
QString GetFirmwareVersion();
QString ReadRegister(int reg);
QString WriteRegister(int reg, int byte);
QStringList Read24(int firstRegister);
QStringList Write24(int firstRegister, int value);
QString GetCalibrated();
QString SetCalibrated(int value);
// Frames that change something in the controller (reads left out), in order.
QStringList Writes(const QStringList& all);
} // namespace frames

// One console on the simulated controller and the options dialog on it. Display runs
// `script` with the dialog shown, in place of a modal loop.
struct OptionsRig {
    explicit OptionsRig(const sim::SimConfig& config = TravelConfig(1001));

    // Stores what a full calibration of `travel` steps leaves in the controller.
    void storeCalibration(int travel);
    void setRegister24(int firstRegister, int value);
    int register24(int firstRegister) const;

    // A new dialog with the console's settings as its properties, shown through Display.
    void open(const DialogScript& script);

    template <typename W> W* child(const char* name) const {
        return dialog->findChild<W*>(QString::fromLatin1(name));
    }
    void click(const char* name) const;
    QStringList frames() const { return rig.sim.framesHex(); }
    QStringList framesSince(int count) const { return frames().mid(count); }
    void clearFrames() { rig.sim.clearFrames(); }

    ConsoleRig rig;
    sim::ControllerModel& model;
    std::unique_ptr<frmOptions> dialog;
};

} // namespace tarnivel::test
