#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "scriptedport.h"
#include "virtualplatform.h"

#include <QtTest>
#include <functional>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

using Rig = ScriptedLinkRig;

// One catalogue operation: how to call it, what the controller answers, what goes on the
// wire and what comes back (the result code, and the out value or the returned value).
struct CatalogueCase {
    const char* name;
    std::function<int(FocuserCommands&, qint32& out)> call;
    QStringList answers;
    QStringList frames;
    int result;
    qint32 out;
};

int ignoreOut(int result, qint32&) {
    return result;
}

const std::vector<CatalogueCase>& catalogue() {
    using C = FocuserCommands;
    static const std::vector<CatalogueCase> cases = {
        {"GetPosition",
         [](C& c, qint32& o) {
             o = c.GetPosition();
             return 0;
         },
         {"01 02 03 23"},
         {"50 01 12 01 00 00 00 03"},
         0,
         66051},
        {"GotoPosition",
         [](C& c, qint32& o) { return ignoreOut(c.GotoPosition(70000), o); },
         {"23"},
         {"50 04 12 02 01 11 70 00"},
         0,
         -7},
        {"SetPosition",
         [](C& c, qint32& o) { return ignoreOut(c.SetPosition(8388608), o); },
         {"23"},
         {"50 04 12 04 80 00 00 00"},
         0,
         -7},
        {"IsSlewDone",
         [](C& c, qint32& o) { return c.IsSlewDone(o); },
         {"01 23"},
         {"50 01 12 13 00 00 00 01"},
         0,
         1},
        {"ApproachPosition",
         [](C& c, qint32& o) { return ignoreOut(c.ApproachPosition(35000), o); },
         {"23"},
         {"50 04 12 17 00 88 B8 00"},
         0,
         -7},
        {"SetLimitMin real min +1",
         [](C& c, qint32& o) { return ignoreOut(c.SetLimitMin(658188, 1), o); },
         {"23"},
         {"50 02 12 1A 0B 00 00 00"},
         0,
         -7},
        {"SetLimitMin off",
         [](C& c, qint32& o) { return ignoreOut(c.SetLimitMin(0, 1), o); },
         {"23"},
         {"50 02 12 1A 00 00 00 00"},
         0,
         -7},
        {"SetLimitMax real max -1",
         [](C& c, qint32& o) { return ignoreOut(c.SetLimitMax(1193046, -1), o); },
         {"23"},
         {"50 02 12 1B 11 00 00 00"},
         0,
         -7},
        {"GetLimitMin",
         [](C& c, qint32& o) { return c.GetLimitMin(o); },
         {"01 00 00 23"},
         {"50 01 12 1C 00 00 00 03"},
         0,
         65536},
        {"GetLimitMax",
         [](C& c, qint32& o) { return c.GetLimitMax(o); },
         {"FE 00 00 23"},
         {"50 01 12 1D 00 00 00 03"},
         0,
         0xFE0000},
        {"MoveAtRate 0",
         [](C& c, qint32& o) { return ignoreOut(c.MoveAtRate(0), o); },
         {"23"},
         {"50 02 12 24 00 00 00 00"},
         0,
         -7},
        {"MoveAtRate 4",
         [](C& c, qint32& o) { return ignoreOut(c.MoveAtRate(4), o); },
         {"23"},
         {"50 02 12 24 04 00 00 00"},
         0,
         -7},
        {"MoveAtRate -9",
         [](C& c, qint32& o) { return ignoreOut(c.MoveAtRate(-9), o); },
         {"23"},
         {"50 02 12 25 09 00 00 00"},
         0,
         -7},
        {"GetTemperature 1",
         [](C& c, qint32& o) {
             o = qRound(c.GetTemperature(1) * 10);
             return 0;
         },
         {"90 01 23"},
         {"50 02 12 26 00 00 00 02"},
         0,
         250},
        {"GetTemperature 3",
         [](C& c, qint32& o) {
             o = qRound(c.GetTemperature(3) * 10);
             return 0;
         },
         {"F8 FF 23"},
         {"50 02 12 26 02 00 00 02"},
         0,
         -5},
        {"SetFan on",
         [](C& c, qint32& o) { return ignoreOut(c.SetFan(true), o); },
         {"23"},
         {"50 02 13 27 03 00 00 00"},
         0,
         -7},
        {"SetFan off",
         [](C& c, qint32& o) { return ignoreOut(c.SetFan(false), o); },
         {"23"},
         {"50 02 13 27 00 00 00 00"},
         0,
         -7},
        {"GetFanState reply 3",
         [](C& c, qint32& o) { return c.GetFanState(o); },
         {"03 23"},
         {"50 01 13 28 00 00 00 01"},
         0,
         0},
        {"GetFanState reply 0",
         [](C& c, qint32& o) { return c.GetFanState(o); },
         {"00 23"},
         {"50 01 13 28 00 00 00 01"},
         0,
         1},
        {"GetSensorCount",
         [](C& c, qint32& o) { return c.GetSensorCount(o); },
         {"02 23"},
         {"50 01 12 2B 00 00 00 01"},
         0,
         2},
        {"GetSensorSlot 1",
         [](C& c, qint32& o) { return c.GetSensorSlot(1, o); },
         {"00 23"},
         {"50 02 12 2E 00 00 00 01"},
         0,
         1},
        {"GetSensorSlot 2",
         [](C& c, qint32& o) { return c.GetSensorSlot(2, o); },
         {"02 23"},
         {"50 02 12 2E 01 00 00 01"},
         0,
         3},
        {"GetCalibrated",
         [](C& c, qint32& o) { return c.GetCalibrated(o); },
         {"01 23"},
         {"50 02 12 30 40 00 00 01"},
         0,
         1},
        {"SetCalibrated 1",
         [](C& c, qint32& o) { return ignoreOut(c.SetCalibrated(1), o); },
         {"23"},
         {"50 03 12 31 40 01 00 00"},
         0,
         -7},
        {"GetMaxTravel",
         [](C& c, qint32& o) { return c.GetMaxTravel(o); },
         {"0A 23", "0B 23", "0C 23"},
         {"50 02 12 30 41 00 00 01", "50 02 12 30 42 00 00 01", "50 02 12 30 43 00 00 01"},
         0,
         658188},
        {"SetMaxTravel",
         [](C& c, qint32& o) { return ignoreOut(c.SetMaxTravel(1193046), o); },
         {"23", "23", "23"},
         {"50 03 12 31 41 12 00 00", "50 03 12 31 42 34 00 00", "50 03 12 31 43 56 00 00"},
         0,
         -7},
        {"GetRealLimitMin",
         [](C& c, qint32& o) { return c.GetRealLimitMin(o); },
         {"00 23", "00 23", "FF 23"},
         {"50 02 12 30 44 00 00 01", "50 02 12 30 45 00 00 01", "50 02 12 30 46 00 00 01"},
         0,
         255},
        {"SetRealLimitMin",
         [](C& c, qint32& o) { return ignoreOut(c.SetRealLimitMin(658188), o); },
         {"23", "23", "23"},
         {"50 03 12 31 44 0A 00 00", "50 03 12 31 45 0B 00 00", "50 03 12 31 46 0C 00 00"},
         0,
         -7},
        {"GetRealLimitMax",
         [](C& c, qint32& o) { return c.GetRealLimitMax(o); },
         {"FF 23", "FF 23", "FF 23"},
         {"50 02 12 30 47 00 00 01", "50 02 12 30 48 00 00 01", "50 02 12 30 49 00 00 01"},
         0,
         16777215},
        {"SetRealLimitMax",
         [](C& c, qint32& o) { return ignoreOut(c.SetRealLimitMax(0), o); },
         {"23", "23", "23"},
         {"50 03 12 31 47 00 00 00", "50 03 12 31 48 00 00 00", "50 03 12 31 49 00 00 00"},
         0,
         -7},
        {"GetAutoStop",
         [](C& c, qint32& o) { return c.GetAutoStop(o); },
         {"00 23"},
         {"50 01 12 EE 00 00 00 01"},
         0,
         0},
        {"SetAutoStop 1",
         [](C& c, qint32& o) { return ignoreOut(c.SetAutoStop(1), o); },
         {"23"},
         {"50 02 12 EF 01 00 00 00"},
         0,
         -7},
        {"GetFirmwareVersion",
         [](C& c, qint32& o) {
             qint32 major = -1;
             qint32 minor = -1;
             const int r = c.GetFirmwareVersion(major, minor);
             o = major * 1000 + minor;
             return r;
         },
         {"02 11 23"},
         {"50 01 12 FE 00 00 00 02"},
         0,
         2017},
        {"ProbeFocuser",
         [](C& c, qint32& o) {
             o = c.ProbeFocuser() ? 1 : 0;
             return 0;
         },
         {"01 00 23"},
         {"50 01 12 FE 00 00 00 02"},
         0,
         1},
    };
    return cases;
}

} // namespace

class TestFocuserCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void catalogue_data();
    void catalogue();
    void otherAddresses();
    void failurePresets_data();
    void failurePresets();
    void registerReadWithOneFailedByte();
    void registerWriteWithOneFailedByte();
    void limitByte_data();
    void limitByte();
    void limitByteOnTheWire();
    void decodeTemperature_data();
    void decodeTemperature();
    void temperatureReportsFailure();
    void celsiusToFahrenheit_data();
    void celsiusToFahrenheit();
    void closedLinkGetPosition();
};

void TestFocuserCommands::catalogue_data() {
    QTest::addColumn<int>("index");
    const auto& cases = ::catalogue();
    for (int i = 0; i < static_cast<int>(cases.size()); ++i)
        QTest::newRow(cases[static_cast<size_t>(i)].name) << i;
}

void TestFocuserCommands::catalogue() {
    QFETCH(int, index);
    const CatalogueCase& c = ::catalogue()[static_cast<size_t>(index)];
    Rig rig;
    for (const QString& a : c.answers)
        rig.port.answer(bytesFromHex(a.toLatin1().constData()));
    qint32 out = -7;
    QCOMPARE(c.call(rig.commands, out), c.result);
    QCOMPARE(rig.port.framesHex(), c.frames);
    QCOMPARE(out, c.out);
}

void TestFocuserCommands::otherAddresses() {
    Rig rig;
    rig.commands.Device = 0x21;
    rig.commands.Device2 = 0x22;
    rig.port.answer("#");
    rig.port.answer("#");
    rig.commands.MoveAtRate(1);
    rig.commands.SetFan(true);
    QCOMPARE(rig.port.framesHex(),
             (QStringList{"50 02 21 24 01 00 00 00", "50 02 22 27 03 00 00 00"}));
}

void TestFocuserCommands::failurePresets_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("preset");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("result");
    QTest::newRow("GetLimitMin keeps") << "GetLimitMin" << 77 << 77 << -1;
    QTest::newRow("GetLimitMax keeps") << "GetLimitMax" << 78 << 78 << -1;
    QTest::newRow("GetAutoStop keeps") << "GetAutoStop" << 5 << 5 << -1;
    QTest::newRow("GetCalibrated keeps") << "GetCalibrated" << 0 << 0 << -1;
    QTest::newRow("GetSensorCount keeps") << "GetSensorCount" << 3 << 3 << -1;
    QTest::newRow("IsSlewDone keeps") << "IsSlewDone" << 0 << 0 << -1;
    QTest::newRow("GetSensorSlot adds one") << "GetSensorSlot" << 1 << 2 << -1;
    QTest::newRow("GetFanState maps preset 3") << "GetFanState" << 3 << 0 << -1;
    QTest::newRow("GetFanState maps preset 0") << "GetFanState" << 0 << 1 << -1;
    QTest::newRow("GetMaxTravel zero") << "GetMaxTravel" << 9 << 0 << -1;
    QTest::newRow("GetPosition") << "GetPosition" << 0 << -1 << -1;
    QTest::newRow("GetFirmwareVersion keeps") << "GetFirmwareVersion" << 6 << 6 << -1;
    QTest::newRow("ProbeFocuser false") << "ProbeFocuser" << 1 << 0 << -1;
}

void TestFocuserCommands::failurePresets() {
    QFETCH(QString, op);
    QFETCH(int, preset);
    QFETCH(int, after);
    QFETCH(int, result);
    Rig rig; // nothing scripted: the controller never answers
    qint32 v = preset;
    int r = 0;
    auto& c = rig.commands;
    if (op == "GetLimitMin")
        r = c.GetLimitMin(v);
    else if (op == "GetLimitMax")
        r = c.GetLimitMax(v);
    else if (op == "GetAutoStop")
        r = c.GetAutoStop(v);
    else if (op == "GetCalibrated")
        r = c.GetCalibrated(v);
    else if (op == "GetSensorCount")
        r = c.GetSensorCount(v);
    else if (op == "IsSlewDone")
        r = c.IsSlewDone(v);
    else if (op == "GetSensorSlot")
        r = c.GetSensorSlot(1, v);
    else if (op == "GetFanState")
        r = c.GetFanState(v);
    else if (op == "GetMaxTravel")
        r = c.GetMaxTravel(v);
    else if (op == "GetPosition")
        r = v = c.GetPosition();
    else if (op == "GetFirmwareVersion") {
        qint32 minor = preset;
        r = c.GetFirmwareVersion(v, minor);
        QCOMPARE(minor, preset);
    } else if (op == "ProbeFocuser") {
        v = c.ProbeFocuser() ? 1 : 0;
        r = -1;
    } else
        QFAIL("unknown operation");
    QCOMPARE(r, result);
    QCOMPARE(v, after);
    QVERIFY(rig.port.frames.size() >= 2);
}

void TestFocuserCommands::registerReadWithOneFailedByte() {
    Rig rig;
    rig.port.answer(bytesFromHex("0A 23"));
    rig.port.silence();
    rig.port.silence();
    rig.port.answer(bytesFromHex("0C 23"));
    qint32 value = -5;
    QCOMPARE(rig.commands.GetMaxTravel(value), -1);
    QCOMPARE(value, 0x0A000C);
    QCOMPARE(rig.port.framesHex(),
             (QStringList{"50 02 12 30 41 00 00 01", "50 02 12 30 42 00 00 01",
                          "50 02 12 30 42 00 00 01", "50 02 12 30 43 00 00 01"}));
}

void TestFocuserCommands::registerWriteWithOneFailedByte() {
    Rig rig;
    rig.port.silence();
    rig.port.silence();
    rig.port.answer("#");
    rig.port.answer("#");
    QCOMPARE(rig.commands.SetRealLimitMax(0x123456), -1);
    // The later bytes are still written after a failed one.
    QCOMPARE(rig.port.framesHex(),
             (QStringList{"50 03 12 31 47 12 00 00", "50 03 12 31 47 12 00 00",
                          "50 03 12 31 48 34 00 00", "50 03 12 31 49 56 00 00"}));
}

void TestFocuserCommands::limitByte_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("adjust");
    QTest::addColumn<int>("byte");
    QTest::newRow("upper limit one block inside") << 1193046 << -1 << 0x11;
    QTest::newRow("lower limit one block inside") << 658188 << 1 << 0x0B;
    QTest::newRow("position 0 is off") << 0 << 1 << 0;
    QTest::newRow("switch off") << 0 << 0 << 0;
    QTest::newRow("position 0 ignores a negative adjust") << 0 << -1 << 0;
    // Would wrap to 255, an upper limit at the far end of the travel.
    QTest::newRow("upper limit below 65536") << 65535 << -1 << 0;
    QTest::newRow("upper limit in block 1") << 65536 << -1 << 0;
    QTest::newRow("upper limit in block 2") << 131072 << -1 << 1;
    // Would wrap to 0 anyway; stays off rather than relying on the wrap.
    QTest::newRow("lower limit in the top block") << 16777215 << 1 << 0;
    QTest::newRow("lower limit one block below the top") << 0xFE0000 << 1 << 0xFF;
    QTest::newRow("no adjust") << 0x050000 << 0 << 5;
}

void TestFocuserCommands::limitByte() {
    QFETCH(int, position);
    QFETCH(int, adjust);
    QFETCH(int, byte);
    QCOMPARE(FocuserCommands::LimitByte(position, adjust), byte);
}

void TestFocuserCommands::limitByteOnTheWire() {
    Rig rig;
    rig.port.answer("#");
    rig.port.answer("#");
    rig.commands.SetLimitMax(65535, -1);
    rig.commands.SetLimitMin(16777215, 1);
    QCOMPARE(rig.port.framesHex(),
             (QStringList{"50 02 12 1B 00 00 00 00", "50 02 12 1A 00 00 00 00"}));
}

void TestFocuserCommands::decodeTemperature_data() {
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<double>("celsius");
    QTest::newRow("no sensor") << 0x7F << 0x7F << -9999.0;
    QTest::newRow("25.0") << 0x90 << 0x01 << 25.0;
    QTest::newRow("401 sixteenths truncate to 25.0") << 0x91 << 0x01 << 25.0;
    QTest::newRow("25.5") << 0x98 << 0x01 << 25.5;
    QTest::newRow("15 sixteenths truncate to .9") << 0x9F << 0x01 << 25.9;
    QTest::newRow("-0.5") << 0xF8 << 0xFF << -0.5;
    QTest::newRow("-1/16 truncates to -0.0") << 0xFF << 0xFF << 0.0;
    QTest::newRow("-10.1") << 0x5E << 0xFF << -10.1;
    QTest::newRow("zero") << 0x00 << 0x00 << 0.0;
    QTest::newRow("only the low byte 0x7F") << 0x7F << 0x00 << 7.9;
    QTest::newRow("only the high byte 0x7F") << 0x00 << 0x7F << 2032.0;
    QTest::newRow("most negative") << 0x00 << 0x80 << -2048.0;
}

void TestFocuserCommands::decodeTemperature() {
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(double, celsius);
    QCOMPARE(FocuserCommands::DecodeTemperature(first * 256 + second), celsius);
}

void TestFocuserCommands::temperatureReportsFailure() {
    Rig rig;
    rig.port.answer(bytesFromHex("7F 7F 23"));
    bool ok = false;
    QCOMPARE(rig.commands.GetTemperature(2, &ok), kNotFittedTemperature);
    QVERIFY(ok);

    // Nothing answers: 0.0 as before, but the caller can tell it was no reading.
    ok = true;
    QCOMPARE(rig.commands.GetTemperature(2, &ok), 0.0);
    QVERIFY(!ok);

    rig.port.answer(bytesFromHex("00 00 23"));
    ok = false;
    QCOMPARE(rig.commands.GetTemperature(1, &ok), 0.0);
    QVERIFY(ok);

    // 0x7F01 sixteenths, 2032 degrees: no sensor measures that, so it is a failed read.
    rig.port.answer(bytesFromHex("01 7F 23"));
    ok = true;
    QCOMPARE(rig.commands.GetTemperature(3, &ok), 0.0);
    QVERIFY(!ok);
}

void TestFocuserCommands::celsiusToFahrenheit_data() {
    QTest::addColumn<double>("celsius");
    QTest::addColumn<double>("fahrenheit");
    QTest::newRow("freezing") << 0.0 << 32.0;
    QTest::newRow("boiling") << 100.0 << 212.0;
    QTest::newRow("crossover") << -40.0 << -40.0;
    QTest::newRow("25.5") << 25.5 << 77.9;
}

void TestFocuserCommands::celsiusToFahrenheit() {
    QFETCH(double, celsius);
    QFETCH(double, fahrenheit);
    QCOMPARE(FocuserCommands::CelsiusToFahrenheit(celsius), fahrenheit);
}

void TestFocuserCommands::closedLinkGetPosition() {
    Rig rig;
    rig.link.SetLinkOpen(false);
    QCOMPARE(rig.commands.GetPosition(), -1);
    QVERIFY(rig.port.written.isEmpty());
}

QTEST_GUILESS_MAIN(TestFocuserCommands)
#include "tst_focusercommands.moc"
