#include "optionsrig.h"

#include "core/link/focuserlink.h"
#include "core/units/positionunits.h"

#include <QtTest>

namespace tarnivel::test {

sim::SimConfig TravelConfig(qint64 travel) {
    sim::SimConfig c;
    c.lowerEndStop = -(travel / 2);
    c.upperEndStop = c.lowerEndStop + travel;
    c.startPosition = 0;
    return c;
}

namespace frames {

namespace {
constexpr int kFocuser = 18;
const QList<int> kReads{1, 19, 28, 29, 48, 238, 254};
} // namespace

QString Frame(int messageId, qint32 data, int nData, int nReply) {
    return sim::ControllerModel::toHex(
        FocuserLink::CommandFrame(kFocuser, messageId, data, nData, nReply));
}
QString GetPosition() {
    return Frame(1, 0, 0, 3);
}
QString SetPosition(int raw) {
    return Frame(4, raw, 3, 0);
}
QString GotoPosition(int raw) {
    return Frame(2, raw, 3, 0);
}
QString IsSlewDone() {
    return Frame(19, 0, 0, 1);
}
QString MoveAtRate(int rate) {
    return rate >= 0 ? Frame(36, rate, 1, 0) : Frame(37, -rate, 1, 0);
}
QString SetLimitMin(int limitByte) {
    return Frame(26, limitByte, 1, 0);
}
QString SetLimitMax(int limitByte) {
    return Frame(27, limitByte, 1, 0);
}
QString GetLimitMin() {
    return Frame(28, 0, 0, 3);
}
QString GetLimitMax() {
    return Frame(29, 0, 0, 3);
}
QString GetAutoStop() {
    return Frame(238, 0, 0, 1);
}
QString SetAutoStop(int value) {
    return Frame(239, value, 1, 0);
}
QString GetFirmwareVersion() {
    return Frame(254, 0, 0, 2);
}
QString ReadRegister(int reg) {
    return Frame(48, reg, 1, 1);
}
QString WriteRegister(int reg, int byte) {
    return Frame(49, reg * 256 + byte, 2, 0);
}
QStringList Read24(int firstRegister) {
    return {ReadRegister(firstRegister), ReadRegister(firstRegister + 1),
            ReadRegister(firstRegister + 2)};
}
QStringList Write24(int firstRegister, int value) {
    return {WriteRegister(firstRegister, (value >> 16) & 0xFF),
            WriteRegister(firstRegister + 1, (value >> 8) & 0xFF),
            WriteRegister(firstRegister + 2, value & 0xFF)};
}
QString GetCalibrated() {
    return ReadRegister(0x40);
}
QString SetCalibrated(int value) {
    return WriteRegister(0x40, value);
}

QStringList Writes(const QStringList& all) {
    QStringList out;
    for (const QString& f : all) {
        const int id = f.section(QLatin1Char(' '), 3, 3).toInt(nullptr, 16);
        if (!kReads.contains(id))
            out << f;
    }
    return out;
}

} // namespace frames

OptionsRig::OptionsRig(const sim::SimConfig& config) : rig(config), model(rig.sim.model) {
    rig.sim.connect();
    rig.console.DisplayPosition();
}

void OptionsRig::setRegister24(int firstRegister, int value) {
    model.setMemory(firstRegister, static_cast<quint8>((value >> 16) & 0xFF));
    model.setMemory(firstRegister + 1, static_cast<quint8>((value >> 8) & 0xFF));
    model.setMemory(firstRegister + 2, static_cast<quint8>(value & 0xFF));
}

int OptionsRig::register24(int firstRegister) const {
    return model.memory(firstRegister) * 65536 + model.memory(firstRegister + 1) * 256 +
           model.memory(firstRegister + 2);
}

void OptionsRig::storeCalibration(int travel) {
    const int half = RoundToInt(travel / 2.0);
    model.setMemory(0x40, 1);
    setRegister24(0x41, travel);
    setRegister24(0x44, WrapSteps(-half));
    setRegister24(0x47, WrapSteps(half));
}

void OptionsRig::open(const DialogScript& script) {
    dialog = std::make_unique<frmOptions>(rig.console);
    const FocuserSettings& s = rig.settings;
    dialog->ScaleFactor = s.ScaleFactor;
    dialog->ScaleUnits = s.ScaleUnits;
    dialog->Decimals = s.Decimals;
    dialog->SlowSlewSpeed = s.SlowSlewSpeed;
    dialog->FastSlewSpeed = s.FastSlewSpeed;
    dialog->SlewingSound = s.SlewingSound;
    dialog->CompletionSound = s.CompletionSound;
    dialog->SensorName1 = s.SensorName1;
    dialog->SensorName2 = s.SensorName2;
    dialog->SensorName3 = s.SensorName3;
    dialog->Degrees = s.Degrees;
    dialog->Logging = s.Logging;
    rig.console.RunModal = [script](QDialog& d) {
        d.show();
        if (script)
            script(static_cast<frmOptions&>(d));
    };
    dialog->Display();
}

void OptionsRig::click(const char* name) const {
    auto* button = child<QAbstractButton>(name);
    QVERIFY2(button, name);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace tarnivel::test
