#include "simrig.h"

namespace tarnivel::test {

SimRig::SimRig(const sim::SimConfig& config)
    : model(config), port(model, platform), link(port, platform), commands(link) {
    // Keeps the model's mechanics current on every sleep, so a test that reads the model
    // between commands sees the focuser where the elapsed virtual time has put it.
    platform.onAdvance([this](qint64 now) { model.advanceTo(now); });
    commands.Device = config.focuserAddress;
    commands.Device2 = config.fanAddress;
}

void SimRig::connect() {
    port.open(1);
    link.SetLinkOpen(port.isOpen());
}

QStringList SimRig::framesHex() const {
    QStringList out;
    for (const QByteArray& f : model.frames())
        out << sim::ControllerModel::toHex(f);
    return out;
}

void SimRig::clearFrames() {
    model.clearFrames();
}

} // namespace tarnivel::test
