#include "windowrig.h"

#include "frames.h"
#include "settle.h"
#include "window/app/ratetimer.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>

namespace tarnivel::test {

sim::SimConfig ReadyController() {
    sim::SimConfig config;
    config.registers[0] = 1; // calibrated
    config.autoStop = true;
    config.lowerEndStop = -4000000;
    config.upperEndStop = 4000000;
    config.startPosition = 100000;
    return config;
}

QString FrameHex(int device, int messageId, int data, int nData, int nReply) {
    return Frame(messageId, data, nData, device, nReply);
}

WindowRig::WindowRig(const sim::SimConfig& config, const QByteArray& settingsFile) {
    settingsPath = QDir(folder.path()).filePath(QStringLiteral("tarnivel.ini"));
    if (!settingsFile.isNull()) {
        QFile f(settingsPath);
        if (f.open(QIODevice::WriteOnly))
            f.write(settingsFile);
    }
    rig = std::make_unique<ConsoleRig>(config);
    w = std::make_unique<frmTarnivel>(rig->console, settingsPath);
    w->rateTimer->setManual(true);
}

WindowRig::~WindowRig() {
    w.reset();
    rig.reset();
}

void WindowRig::connectTo(int comPort) {
    w->cboComPort->setCurrentIndex(comPort);
    w->cmdConnect->click();
}

int WindowRig::tick(int n) {
    int ran = 0;
    for (int i = 0; i < n; ++i) {
        rig->sim.platform.advance(50);
        if (w->rateTimer->fire())
            ++ran;
    }
    return ran;
}

void WindowRig::settle() {
    Settle(w.get());
}

QStringList WindowRig::frames() const {
    QStringList out;
    for (const QString& f : rig->sim.framesHex())
        out << f.toUpper();
    return out;
}

void WindowRig::clearFrames() {
    rig->sim.clearFrames();
}

int WindowRig::countMessage(int messageId) const {
    int n = 0;
    for (const QString& f : frames()) {
        const QStringList bytes = f.split(QLatin1Char(' '));
        if (bytes.size() > 3 && bytes.at(3).toInt(nullptr, 16) == messageId)
            ++n;
    }
    return n;
}

QByteArray WindowRig::settingsFileText() const {
    QFile f(settingsPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace tarnivel::test
