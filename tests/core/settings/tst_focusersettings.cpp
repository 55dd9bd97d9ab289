#include "core/settings/focusersettings.h"
#include "core/settings/programfolder.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"
#include "recorders.h"
#include "tst_settings.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <cmath>
#include <limits>
#include <unistd.h>

using namespace tarnivel;

namespace {

const WindowGeometryTwips kGeometry{15360, 11520, 9000, 6000}; // Top 2760, Left 3180

QByteArray KeyLine(const QString& key, const QString& value) {
    return ("   " + key.leftJustified(21) + "= " + value + "\r\n").toUtf8();
}

QVariant Field(const FocuserSettings& s, const QString& name) {
    const QMap<QString, QVariant> all{
        {"Top", s.Top},
        {"Left", s.Left},
        {"Device", s.Device},
        {"Device2", s.Device2},
        {"COMport", s.COMport},
        {"Frequency", s.Frequency},
        {"ScaleFactor", s.ScaleFactor},
        {"ScaleUnits", s.ScaleUnits},
        {"Decimals", s.Decimals},
        {"Approach", s.Approach},
        {"Overshoot", s.Overshoot},
        {"SlowSlewSpeed", s.SlowSlewSpeed},
        {"FastSlewSpeed", s.FastSlewSpeed},
        {"SlewingSound", s.SlewingSound},
        {"CompletionSound", s.CompletionSound},
        {"Degrees", s.Degrees},
        {"SensorName1", s.SensorName1},
        {"SensorName2", s.SensorName2},
        {"SensorName3", s.SensorName3},
        {"SensorLimit1", s.SensorLimit1},
        {"SensorLimit2", s.SensorLimit2},
        {"SensorLimit3", s.SensorLimit3},
        {"Logging", s.Logging},
        {"PlotTop", s.PlotTop},
        {"PlotLeft", s.PlotLeft},
        {"PlotWidth", s.PlotWidth},
        {"PlotHeight", s.PlotHeight},
        {"TempCompCoefficient", s.TempCompCoefficient},
        {"TempCompSensor", s.TempCompSensor},
        {"TempCompDeadband", s.TempCompDeadband},
        {"TempCompAverage", s.TempCompAverage},
        {"TempCompMaxTravel", s.TempCompMaxTravel},
        {"TempCompOvershoot", s.TempCompOvershoot},
        {"AlpacaPort", s.AlpacaPort},
    };
    return all.value(name);
}

const QStringList kFieldOrder{"Top",           "Left",         "Device",          "Device2",
                              "COMport",       "Frequency",    "ScaleFactor",     "ScaleUnits",
                              "Decimals",      "Approach",     "Overshoot",       "SlowSlewSpeed",
                              "FastSlewSpeed", "SlewingSound", "CompletionSound", "Degrees",
                              "SensorName1",   "SensorName2",  "SensorName3",     "SensorLimit1",
                              "SensorLimit2",  "SensorLimit3", "Logging"};
const QStringList kTempCompFields{"TempCompCoefficient", "TempCompSensor",    "TempCompDeadband",
                                  "TempCompAverage",     "TempCompMaxTravel", "TempCompOvershoot",
                                  "AlpacaPort"};

void CompareSettings(const FocuserSettings& a, const FocuserSettings& b) {
    for (const QString& name : kFieldOrder + kTempCompFields)
        QCOMPARE(Field(a, name), Field(b, name));
}

QStringList Rows(const SavedPositionList& list) {
    QStringList rows;
    for (int i = 0; i < list.ListCount(); ++i)
        rows << list.List(i) + "|" + QString::number(list.ItemData(i));
    return rows;
}

FocuserSettings Defaults() {
    FocuserSettings s;
    s.Top = 2760;
    s.Left = 3180;
    return s;
}

} // namespace

void TestSettings::defaultsWithoutFile_data() {
    QTest::addColumn<double>("screenW");
    QTest::addColumn<double>("screenH");
    QTest::addColumn<double>("windowW");
    QTest::addColumn<double>("windowH");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::newRow("centred") << 15360.0 << 11520.0 << 9000.0 << 6000.0 << 3180 << 2760;
    QTest::newRow("odd difference truncates") << 15.0 << 10.0 << 10.0 << 5.0 << 2 << 2;
    QTest::newRow("2.5 rounds to 2 then halves") << 12.5 << 12.5 << 10.0 << 10.0 << 1 << 1;
    QTest::newRow("3.5 rounds to 4 then halves") << 13.5 << 13.5 << 10.0 << 10.0 << 2 << 2;
    QTest::newRow("window larger than screen") << 10.0 << 10.0 << 15.0 << 13.0 << -2 << -1;
}

void TestSettings::defaultsWithoutFile() {
    QFETCH(double, screenW);
    QFETCH(double, screenH);
    QFETCH(double, windowW);
    QFETCH(double, windowH);
    QFETCH(int, left);
    QFETCH(int, top);
    FocuserSettings s;
    s.Device = 99;
    s.ScaleUnits = "junk";
    SavedPositionList list;
    list.AddItem("stale", 1);
    const LoadResult r = LoadSettings(path("none.ini"), s, list,
                                      WindowGeometryTwips{screenW, screenH, windowW, windowH});
    QVERIFY(!r.fileExisted);
    QVERIFY(!r.unreadable);
    FocuserSettings expected;
    expected.Top = top;
    expected.Left = left;
    CompareSettings(s, expected);
    QCOMPARE(list.ListCount(), 0);
}

void TestSettings::fileLayoutIsExact() {
    FocuserSettings s = Defaults();
    SavedPositionList list;
    list.AddItem(FormatListEntry("Focus A", "0.011"), 1234);
    const QString file = path("layout.ini");
    QVERIFY(SaveSettings(file, s, list));
    QByteArray expected = "[TARNIVEL]\r\n";
    expected += KeyLine("Top", "2760");
    expected += KeyLine("Left", "3180");
    expected += KeyLine("Device", "18");
    expected += KeyLine("Device2", "19");
    expected += KeyLine("COMport", "0");
    expected += KeyLine("Frequency", "4");
    expected += KeyLine("ScaleFactor", "115134.42");
    expected += KeyLine("ScaleUnits", "mm");
    expected += KeyLine("Decimals", "3");
    expected += KeyLine("Approach", "1");
    expected += KeyLine("Overshoot", "30000");
    expected += KeyLine("SlowSlewSpeed", "4");
    expected += KeyLine("FastSlewSpeed", "9");
    expected += KeyLine("SlewingSound", "False");
    expected += KeyLine("CompletionSound", "False");
    expected += KeyLine("Degrees", "0");
    expected += KeyLine("SensorName1", "Primary");
    expected += KeyLine("SensorName2", "Ambient");
    expected += KeyLine("SensorName3", "Secondary");
    expected += KeyLine("SensorLimit1", "40");
    expected += KeyLine("SensorLimit2", "3");
    expected += KeyLine("SensorLimit3", "3");
    expected += KeyLine("Logging", "False");
    expected += KeyLine("PlotTop", "0");
    expected += KeyLine("PlotLeft", "0");
    expected += KeyLine("PlotWidth", "0");
    expected += KeyLine("PlotHeight", "0");
    expected += KeyLine("TempCompCoefficient", "0");
    expected += KeyLine("TempCompSensor", "1");
    expected += KeyLine("TempCompDeadband", "10");
    expected += KeyLine("TempCompAverage", "60");
    expected += KeyLine("TempCompMaxTravel", "2000");
    expected += KeyLine("TempCompOvershoot", "-1");
    expected += "\r\n[POSITIONS]\r\n";
    expected += KeyLine("Position", "1234,Focus A");
    QCOMPARE(readBytes(file), expected);
    // "=" stands in column 25.
    QCOMPARE(readBytes(file).split('\n').at(1).indexOf('='), 24);
}

void TestSettings::roundTrip() {
    FocuserSettings s;
    s.Top = -120;
    s.Left = 77777;
    s.Device = 20;
    s.Device2 = 21;
    s.COMport = 16;
    s.Frequency = 10;
    s.ScaleFactor = 2924.414268;
    s.ScaleUnits = "thou";
    s.Decimals = 1;
    s.Approach = 0;
    s.Overshoot = -5;
    s.SlowSlewSpeed = 2;
    s.FastSlewSpeed = 7;
    s.SlewingSound = true;
    s.CompletionSound = true;
    s.Degrees = 1;
    s.SensorName1 = QString::fromUtf8("Spiegel \u00e9\u00f6");
    s.SensorName2 = "Out side";
    s.SensorName3 = "";
    s.SensorLimit1 = -12.75;
    s.SensorLimit2 = 0.1;
    s.SensorLimit3 = 1e-7;
    s.Logging = true;
    s.TempCompCoefficient = -83.25;
    s.TempCompSensor = 3;
    s.TempCompDeadband = 25;
    s.TempCompAverage = 0;
    s.TempCompMaxTravel = 500;
    s.TempCompOvershoot = 0;
    s.AlpacaPort = 11111;
    s.FocusPoints = {
        {14.35, -1200, QDateTime(QDate(2024, 3, 5), QTime(21, 7, 9), Qt::UTC)},
        {9.1, 8388608, QDateTime(QDate(2024, 3, 6), QTime(2, 0, 0), Qt::UTC), 2, true}};
    SavedPositionList list;
    list.AddItem(FormatListEntry("zeta", "x"), 16777215);
    list.AddItem(FormatListEntry(QString::fromUtf8("\u00c4rger, mit Komma"), "x"), 0);
    list.AddItem(FormatListEntry("alpha", "x"), 8388608);
    const QString file = path("rt.ini");
    QVERIFY(SaveSettings(file, s, list));

    FocuserSettings back;
    SavedPositionList backList;
    const LoadResult r = LoadSettings(file, back, backList, kGeometry);
    QVERIFY(r.fileExisted);
    QVERIFY(!r.unreadable);
    CompareSettings(back, s);
    QCOMPARE(back.ScaleFactor, 2924.414268); // exactly, not fuzzily
    QCOMPARE(back.SensorLimit3, 1e-7);
    QCOMPARE(back.FocusPoints, s.FocusPoints);
    QVERIFY(readBytes(file).endsWith(
        "\r\n[FOCUSPOINTS]\r\n" + KeyLine("Point", "14.35,-1200,2024-03-05T21:07:09Z") +
        KeyLine("Point", "9.1,8388608,2024-03-06T02:00:00Z,2,before")));
    // Rows come back in the same order, formatted with the loaded units.
    QCOMPARE(backList.ListCount(), 3);
    QStringList names;
    for (int i = 0; i < backList.ListCount(); ++i)
        names << ListEntryField(backList.List(i), 0).trimmed();
    QCOMPARE(names, (QStringList{"alpha", "zeta", QString::fromUtf8("\u00c4rger, mit Komma")}));
    QCOMPARE(backList.ItemData(0), 8388608);
    QCOMPARE(backList.ItemData(1), 16777215);
    QCOMPARE(backList.ItemData(2), 0);
    QCOMPARE(backList.List(0), QStringLiteral("alpha                   2868.5"));
    QCOMPARE(backList.List(1),
             QStringLiteral("zeta                       0.0")); // one step below zero
    // The second save of what was loaded is byte for byte the first.
    const QString again = path("rt2.ini");
    QVERIFY(SaveSettings(again, back, backList));
    QCOMPARE(readBytes(again), readBytes(file));
}

void TestSettings::roundTripInProgramFolder() {
    const ProgramFolder folder(dir_->path(), "tarnivel");
    QCOMPARE(QFileInfo(folder.settingsPath()).fileName(), QString("tarnivel.ini"));
    FocuserSettings s = Defaults();
    s.COMport = 3;
    SavedPositionList list;
    list.AddItem(FormatListEntry("Home", "0.000"), 0);
    QVERIFY(SaveSettings(folder.settingsPath(), s, list));
    FocuserSettings back;
    SavedPositionList backList;
    QVERIFY(LoadSettings(folder.settingsPath(), back, backList, kGeometry).fileExisted);
    QCOMPARE(back.COMport, 3);
    QCOMPARE(Rows(backList), Rows(list));
}

void TestSettings::valueConversion_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("Overshoot 2.5 to even") << "Overshoot = 2.5"
                                           << "Overshoot" << QVariant(2);
    QTest::newRow("Overshoot 3.5 to even") << "Overshoot = 3.5"
                                           << "Overshoot" << QVariant(4);
    QTest::newRow("Overshoot -2.5") << "Overshoot = -2.5"
                                    << "Overshoot" << QVariant(-2);
    QTest::newRow("Overshoot abc is 0") << "Overshoot = abc"
                                        << "Overshoot" << QVariant(0);
    QTest::newRow("Overshoot empty is 0") << "Overshoot ="
                                          << "Overshoot" << QVariant(0);
    QTest::newRow("Overshoot leading number") << "Overshoot = 1.5e3 steps"
                                              << "Overshoot" << QVariant(1500);
    QTest::newRow("Overshoot inner blanks skipped") << "Overshoot = 30 000"
                                                    << "Overshoot" << QVariant(30000);
    QTest::newRow("Overshoot too large keeps default") << "Overshoot = 99999999999"
                                                       << "Overshoot" << QVariant(30000);
    QTest::newRow("Overshoot too small keeps default") << "Overshoot = -2147483649"
                                                       << "Overshoot" << QVariant(30000);
    QTest::newRow("Overshoot int min") << "Overshoot = -2147483648"
                                       << "Overshoot" << QVariant(INT_MIN);
    QTest::newRow("Overshoot overflowing exponent keeps default") << "Overshoot = 1e999"
                                                                  << "Overshoot" << QVariant(30000);
    QTest::newRow("Top too large keeps computed default") << "Top = 1e20"
                                                          << "Top" << QVariant(2760);
    QTest::newRow("Top abc is 0") << "Top = abc"
                                  << "Top" << QVariant(0);
    QTest::newRow("Device hex") << "Device = &H14"
                                << "Device" << QVariant(20);
    QTest::newRow("Device octal") << "Device = &o24"
                                  << "Device" << QVariant(20);
    QTest::newRow("Device2 plus") << "Device2 = +21"
                                  << "Device2" << QVariant(21);
    QTest::newRow("Device 255") << "Device = 255"
                                << "Device" << QVariant(255);
    QTest::newRow("Device 0") << "Device = 0"
                              << "Device" << QVariant(0);
    QTest::newRow("Device 274 keeps default") << "Device = 274"
                                              << "Device" << QVariant(18);
    QTest::newRow("Device2 -1 keeps default") << "Device2 = -1"
                                              << "Device2" << QVariant(19);
    QTest::newRow("Device2 256 keeps default") << "Device2 = 256"
                                               << "Device2" << QVariant(19);
    QTest::newRow("Degrees") << "Degrees = 1"
                             << "Degrees" << QVariant(1);
    QTest::newRow("SlewingSound true") << "SlewingSound = true"
                                       << "SlewingSound" << QVariant(true);
    QTest::newRow("SlewingSound TRUE") << "SlewingSound = TRUE"
                                       << "SlewingSound" << QVariant(true);
    QTest::newRow("SlewingSound 1") << "SlewingSound = 1"
                                    << "SlewingSound" << QVariant(false);
    QTest::newRow("SlewingSound yes") << "SlewingSound = yes"
                                      << "SlewingSound" << QVariant(false);
    QTest::newRow("CompletionSound tRuE") << "CompletionSound = tRuE"
                                          << "CompletionSound" << QVariant(true);
    QTest::newRow("Logging True") << "Logging = True"
                                  << "Logging" << QVariant(true);
    QTest::newRow("PlotTop negative") << "PlotTop = -360"
                                      << "PlotTop" << QVariant(-360);
    QTest::newRow("PlotWidth rounds") << "PlotWidth = 11700.5"
                                      << "PlotWidth" << QVariant(11700);
    QTest::newRow("PlotHeight abc is 0") << "PlotHeight = abc"
                                         << "PlotHeight" << QVariant(0);
    QTest::newRow("key in any case") << "scalefactor = 2924.414268"
                                     << "ScaleFactor" << QVariant(2924.414268);
    QTest::newRow("ScaleUnits keeps case") << "ScaleUnits = Mm"
                                           << "ScaleUnits" << QVariant("Mm");
    QTest::newRow("ScaleFactor 0 keeps default") << "ScaleFactor = 0"
                                                 << "ScaleFactor" << QVariant(115134.42);
    QTest::newRow("ScaleFactor negative keeps default") << "ScaleFactor = -3"
                                                        << "ScaleFactor" << QVariant(115134.42);
    QTest::newRow("ScaleFactor abc keeps default") << "ScaleFactor = abc"
                                                   << "ScaleFactor" << QVariant(115134.42);
    QTest::newRow("ScaleFactor 1e999 keeps default") << "ScaleFactor = 1e999"
                                                     << "ScaleFactor" << QVariant(115134.42);
    QTest::newRow("ScaleFactor exponent") << "ScaleFactor = 1.5E+3"
                                          << "ScaleFactor" << QVariant(1500.0);
    QTest::newRow("Frequency 0 keeps default") << "Frequency = 0"
                                               << "Frequency" << QVariant(4);
    QTest::newRow("Frequency negative keeps default") << "Frequency = -2"
                                                      << "Frequency" << QVariant(4);
    QTest::newRow("Frequency abc keeps default") << "Frequency = abc"
                                                 << "Frequency" << QVariant(4);
    QTest::newRow("Frequency 0.4 rounds to 0") << "Frequency = 0.4"
                                               << "Frequency" << QVariant(4);
    QTest::newRow("Frequency 10") << "Frequency = 10"
                                  << "Frequency" << QVariant(10);
    QTest::newRow("Frequency 20") << "Frequency = 20"
                                  << "Frequency" << QVariant(20);
    QTest::newRow("Frequency 21 keeps default") << "Frequency = 21"
                                                << "Frequency" << QVariant(4);
    QTest::newRow("Decimals 5") << "Decimals = 5"
                                << "Decimals" << QVariant(5);
    QTest::newRow("Decimals abc is 3") << "Decimals = abc"
                                       << "Decimals" << QVariant(3);
    QTest::newRow("Decimals empty is 3") << "Decimals ="
                                         << "Decimals" << QVariant(3);
    QTest::newRow("Decimals 2 with text is 3") << "Decimals = 2x"
                                               << "Decimals" << QVariant(3);
    QTest::newRow("Decimals inf is 3") << "Decimals = inf"
                                       << "Decimals" << QVariant(3);
    QTest::newRow("Decimals 12 clamps to 8") << "Decimals = 12"
                                             << "Decimals" << QVariant(8);
    QTest::newRow("Decimals -1 clamps to 0") << "Decimals = -1"
                                             << "Decimals" << QVariant(0);
    QTest::newRow("Decimals huge clamps to 8") << "Decimals = 1e300"
                                               << "Decimals" << QVariant(8);
    QTest::newRow("Decimals 2.5 to even") << "Decimals = 2.5"
                                          << "Decimals" << QVariant(2);
    QTest::newRow("Decimals 3.5 to even") << "Decimals = 3.5"
                                          << "Decimals" << QVariant(4);
    QTest::newRow("COMport 16") << "COMport = 16"
                                << "COMport" << QVariant(16);
    QTest::newRow("COMport 17 is 0") << "COMport = 17"
                                     << "COMport" << QVariant(0);
    QTest::newRow("COMport -1 is 0") << "COMport = -1"
                                     << "COMport" << QVariant(0);
    QTest::newRow("COMport huge is 0") << "COMport = 1e12"
                                       << "COMport" << QVariant(0);
    QTest::newRow("SensorName inner blanks kept") << "SensorName2 = Out  side"
                                                  << "SensorName2" << QVariant("Out  side");
    QTest::newRow("SensorLimit negative real") << "SensorLimit1 = -12.5"
                                               << "SensorLimit1" << QVariant(-12.5);
    QTest::newRow("SensorLimit abc is 0") << "SensorLimit2 = abc"
                                          << "SensorLimit2" << QVariant(0.0);
    QTest::newRow("SensorLimit 1e999 keeps default") << "SensorLimit3 = 1e999"
                                                     << "SensorLimit3" << QVariant(3.0);
    QTest::newRow("TempCompCoefficient real") << "TempCompCoefficient = -80.5"
                                              << "TempCompCoefficient" << QVariant(-80.5);
    QTest::newRow("TempCompCoefficient abc is 0") << "TempCompCoefficient = abc"
                                                  << "TempCompCoefficient" << QVariant(0.0);
    QTest::newRow("TempCompSensor 3") << "TempCompSensor = 3"
                                      << "TempCompSensor" << QVariant(3);
    QTest::newRow("TempCompSensor 4 keeps default") << "TempCompSensor = 4"
                                                    << "TempCompSensor" << QVariant(1);
    QTest::newRow("TempCompDeadband 0 keeps default") << "TempCompDeadband = 0"
                                                      << "TempCompDeadband" << QVariant(10);
    QTest::newRow("TempCompAverage 0 is the latest") << "TempCompAverage = 0"
                                                     << "TempCompAverage" << QVariant(0);
    QTest::newRow("TempCompAverage negative keeps default") << "TempCompAverage = -5"
                                                            << "TempCompAverage" << QVariant(60);
    QTest::newRow("TempCompMaxTravel abc keeps default") << "TempCompMaxTravel = abc"
                                                         << "TempCompMaxTravel" << QVariant(2000);
    QTest::newRow("TempCompOvershoot below -1 keeps the automatic one")
        << "TempCompOvershoot = -7"
        << "TempCompOvershoot" << QVariant(-1);
    QTest::newRow("AlpacaPort 11111") << "AlpacaPort = 11111"
                                      << "AlpacaPort" << QVariant(11111);
    QTest::newRow("AlpacaPort beyond 65535 serves nothing") << "AlpacaPort = 70000"
                                                            << "AlpacaPort" << QVariant(0);
    QTest::newRow("unknown key ignored") << "Colour = red"
                                         << "Device" << QVariant(18);
}

void TestSettings::valueConversion() {
    QFETCH(QString, line);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);
    const QString file = path("v.ini");
    writeBytes(file, ("[TARNIVEL]\r\n" + line + "\r\n").toUtf8());
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(Field(s, field), expected);
    // Every other field keeps its default.
    FocuserSettings defaults = Defaults();
    for (const QString& name : kFieldOrder + kTempCompFields) {
        if (name != field)
            QCOMPARE(Field(s, name), Field(defaults, name));
    }
}

void TestSettings::leadingNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("integer") << "42" << 42.0;
    QTest::newRow("blanks first") << "   42" << 42.0;
    QTest::newRow("blanks inside") << " 4 2 . 5" << 42.5;
    QTest::newRow("tab") << "\t7" << 7.0;
    QTest::newRow("negative real") << "-12.25" << -12.25;
    QTest::newRow("plus") << "+3" << 3.0;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "5." << 5.0;
    QTest::newRow("exponent") << "1.5e3" << 1500.0;
    QTest::newRow("upper exponent with sign") << "25E-1" << 2.5;
    QTest::newRow("D exponent") << "1D2" << 100.0;
    QTest::newRow("exponent without digits") << "3e" << 3.0;
    QTest::newRow("exponent sign without digits") << "3e+" << 3.0;
    QTest::newRow("stops at text") << "12abc" << 12.0;
    QTest::newRow("stops at second point") << "1.2.3" << 1.2;
    QTest::newRow("stops at comma") << "1234,Focus" << 1234.0;
    QTest::newRow("text first") << "abc12" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("hex") << "&H1F" << 31.0;
    QTest::newRow("hex lower") << "&hff" << 255.0;
    QTest::newRow("hex stops") << "&H1G" << 1.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal stops at 8") << "&O78" << 7.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("ampersand other") << "&X1" << 0.0;
    QTest::newRow("tiny exponent") << "1e-999" << 0.0;
}

void TestSettings::leadingNumber() {
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(LeadingNumber(text), expected);
}

void TestSettings::formatSettingsReal_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("mm") << 115134.42 << "115134.42";
    QTest::newRow("thou") << 2924.414268 << "2924.414268";
    QTest::newRow("whole") << 40.0 << "40";
    QTest::newRow("negative") << -12.75 << "-12.75";
    QTest::newRow("tenth") << 0.1 << "0.1";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("small") << 1e-7 << "1E-07";
    QTest::newRow("large") << 1e20 << "1E+20";
    QTest::newRow("hundred thousand plain") << 100000.0 << "100000";
    QTest::newRow("0.0005 plain") << 0.0005 << "0.0005";
    QTest::newRow("0.0001 plain") << 0.0001 << "0.0001";
    QTest::newRow("below 0.0001 exponent") << 1e-5 << "1E-05";
    QTest::newRow("exponent keeps its digits") << -1.5e-5 << "-1.5E-05";
    QTest::newRow("just below 1E+15 plain") << 999999999999999.0 << "999999999999999";
    QTest::newRow("1E+15 exponent") << 1e15 << "1E+15";
    QTest::newRow("rounds up to 1E+15") << 999999999999999.9 << "1E+15";
    QTest::newRow("large to 15 digits") << 123456789012345678.0 << "1.23456789012346E+17";
    QTest::newRow("three-digit exponent") << -2.5e-300 << "-2.5E-300";
    QTest::newRow("one third to 15 digits") << 1.0 / 3.0 << "0.333333333333333";
    QTest::newRow("0.1+0.2 to 15 digits") << 0.1 + 0.2 << "0.3";
}

void TestSettings::formatSettingsReal() {
    QFETCH(double, value);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(FormatSettingsReal(value), expected);
}

void TestSettings::duplicateKeysTakeTheLastValue() {
    const QString file = path("dup.ini");
    writeBytes(file, "[TARNIVEL]\r\nDevice = 5\r\nScaleUnits = thou\r\nDEVICE = 6\r\n"
                     "[TARNIVEL]\r\ndevice = 7\r\n");
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(s.Device, 7);
    QCOMPARE(s.ScaleUnits, QString("thou"));
}

void TestSettings::keysUnderTheWrongSectionAreIgnored() {
    const QString file = path("wrong.ini");
    writeBytes(file, "Device = 1\r\nPosition = 5,before\r\n"
                     "[POSITIONS]\r\nDevice = 2\r\nPosition = 6,ok\r\n"
                     "[TARNIVEL]\r\nPosition = 7,main\r\n"
                     "[OTHER]\r\nDevice = 3\r\nPosition = 8,other\r\n");
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    CompareSettings(s, Defaults());
    QCOMPARE(list.ListCount(), 1);
    QCOMPARE(ListEntryField(list.List(0), 0).trimmed(), QString("ok"));
    QCOMPARE(list.ItemData(0), 6);
}

void TestSettings::fileWithNeitherSectionGivesDefaults() {
    const QString file = path("neither.ini");
    writeBytes(file, "Device = 1\r\n[Other]\r\nTop = 5\r\n");
    FocuserSettings s;
    SavedPositionList list;
    const LoadResult r = LoadSettings(file, s, list, kGeometry);
    QVERIFY(r.fileExisted);
    CompareSettings(s, Defaults());
    QCOMPARE(list.ListCount(), 0);
}

void TestSettings::positionValues_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("column"); // 115134.42 steps per mm, 3 decimals
    const QString zero = QStringLiteral("     0.000");
    QTest::newRow("plain") << "1234,Focus A"
                           << "Focus A" << 1234 << "     0.011";
    QTest::newRow("commas in the name") << "1234,Focus A, left"
                                        << "Focus A, left" << 1234 << "     0.011";
    QTest::newRow("blanks around the name") << "1234,  spaced  "
                                            << "spaced" << 1234 << "     0.011";
    QTest::newRow("half rounds to even") << "2.5,x"
                                         << "x" << 2 << zero;
    QTest::newRow("hex raw") << "&H10,hex"
                             << "hex" << 16 << zero;
    QTest::newRow("largest raw") << "16777215,end"
                                 << "end" << 16777215 << zero;
    QTest::newRow("one past the end wraps to 0") << "16777216,w"
                                                 << "w" << 0 << zero;
    QTest::newRow("negative wraps") << "-1,n"
                                    << "n" << 16777215 << zero;
    QTest::newRow("beyond 32 bits wraps") << "99999999999,big"
                                          << "big" << 7792639 << "    67.683";
    QTest::newRow("overflowing exponent is 0") << "1e999,inf"
                                               << "inf" << 0 << zero;
    QTest::newRow("not a number is 0") << "abc,text"
                                       << "text" << 0 << zero;
    QTest::newRow("no comma keeps the row without name") << "1234"
                                                         << "" << 1234 << "     0.011";
    QTest::newRow("empty name") << "77,"
                                << "" << 77 << "     0.001";
}

void TestSettings::positionValues() {
    QFETCH(QString, value);
    QFETCH(QString, name);
    QFETCH(int, raw);
    QFETCH(QString, column);
    FocuserSettings s;
    SavedPositionList list;
    AddSavedPosition(value, s, list);
    QCOMPARE(list.ListCount(), 1);
    QCOMPARE(list.NewIndex(), 0);
    QCOMPARE(list.ItemData(0), raw);
    QCOMPARE(list.List(0), name.leftJustified(20) + column);

    // The same through the file.
    const QString file = path("p.ini");
    writeBytes(file, ("[POSITIONS]\r\nPosition = " + value + "\r\n").toUtf8());
    SavedPositionList loaded;
    LoadSettings(file, s, loaded, kGeometry);
    QCOMPARE(Rows(loaded), Rows(list));
}

void TestSettings::positionsWithCommasRoundTrip() {
    const QString file = path("c.ini");
    writeBytes(file, "[POSITIONS]\r\nPosition = 1234,Focus A, left\r\nPosition = 115134,b,,c\r\n");
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(list.List(0), QStringLiteral("b,,c                     1.000"));
    QCOMPARE(list.List(1), QStringLiteral("Focus A, left            0.011"));
    const QString out = path("c2.ini");
    QVERIFY(SaveSettings(out, s, list));
    const QByteArray bytes = readBytes(out);
    QVERIFY(bytes.endsWith("[POSITIONS]\r\n" + KeyLine("Position", "115134,b,,c") +
                           KeyLine("Position", "1234,Focus A, left")));
}

void TestSettings::longNamesAreCutToTwenty() {
    const QString file = path("long.ini");
    writeBytes(file, "[POSITIONS]\r\nPosition = 5,ABCDEFGHIJKLMNOPQRSTUVWXY\r\n");
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(ListEntryField(list.List(0), 0), QString("ABCDEFGHIJKLMNOPQRST"));
    QVERIFY(SaveSettings(file, s, list));
    QVERIFY(readBytes(file).endsWith(KeyLine("Position", "5,ABCDEFGHIJKLMNOPQRST")));
}

void TestSettings::positionsFormatWithDecimalsOfTheirHeader_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("positions first: default 3")
        << QByteArray("[POSITIONS]\r\nPosition = 1421000,p\r\n[TARNIVEL]\r\nDecimals = 1\r\n")
        << "12.342";
    QTest::newRow("settings first: 1")
        << QByteArray("[TARNIVEL]\r\nDecimals = 1\r\n[POSITIONS]\r\nPosition = 1421000,p\r\n")
        << "12.3";
    QTest::newRow("header again after the settings")
        << QByteArray("[POSITIONS]\r\n[TARNIVEL]\r\nDecimals = 0\r\n[POSITIONS]\r\nPosition = "
                      "1421000,p\r\n")
        << "12";
}

void TestSettings::positionsFormatWithDecimalsOfTheirHeader() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString file = path("order.ini");
    writeBytes(file, bytes);
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(list.ListCount(), 1);
    QCOMPARE(ListEntryField(list.List(0), 1).trimmed(), shown);
    QCOMPARE(list.ItemData(0), 1421000);
}

void TestSettings::loadReplacesEarlierPositions() {
    const QString file = path("two.ini");
    writeBytes(file, "[POSITIONS]\r\nPosition = 1,one\r\n");
    FocuserSettings s;
    SavedPositionList list;
    list.AddItem("old", 9);
    list.SetListIndex(0);
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(list.ListCount(), 1);
    QCOMPARE(list.ItemData(0), 1);
    QCOMPARE(list.ListIndex(), -1);
}

void TestSettings::lfOnlyFileLoadsAndSavesCrLf() {
    const QString file = path("lf.ini");
    writeBytes(file, "[TARNIVEL]\nDevice = 20\nScaleUnits = thou\n\n[POSITIONS]\nPosition = 5,a\n"
                     "Position = 6,b");
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(s.Device, 20);
    QCOMPARE(s.ScaleUnits, QString("thou"));
    QCOMPARE(list.ListCount(), 2);
    QVERIFY(SaveSettings(file, s, list));
    const QByteArray bytes = readBytes(file);
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QVERIFY(bytes.endsWith(KeyLine("Position", "5,a") + KeyLine("Position", "6,b")));
}

void TestSettings::latin1FileLoadsAndSavesUtf8() {
    const QString file = path("latin1.ini");
    writeBytes(file,
               "[TARNIVEL]\r\nSensorName1 = Caf\xe9\r\n[POSITIONS]\r\nPosition = 5,M\xfchle\r\n");
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(s.SensorName1, QString::fromUtf8("Caf\u00e9"));
    QCOMPARE(ListEntryField(list.List(0), 0).trimmed(), QString::fromUtf8("M\u00fchle"));
    QVERIFY(SaveSettings(file, s, list));
    const QByteArray bytes = readBytes(file);
    QVERIFY(bytes.contains(KeyLine("SensorName1", QString::fromUtf8("Caf\u00e9"))));
    QVERIFY(bytes.contains("Caf\xc3\xa9"));
    QVERIFY(bytes.contains("5,M\xc3\xbchle"));
    FocuserSettings back;
    SavedPositionList backList;
    LoadSettings(file, back, backList, kGeometry);
    QCOMPARE(back.SensorName1, s.SensorName1);
    QCOMPARE(Rows(backList), Rows(list));
}

void TestSettings::unreadableFileIsNotOverwrittenAtExit() {
    // A folder where the file should be stands for any file that exists but cannot be read.
    const QString folder = path("settings.ini");
    QVERIFY(QDir().mkpath(folder));
    writeBytes(folder + "/inside", "keep");
    FocuserSettings s;
    s.Device = 42;
    SavedPositionList list;
    const LoadResult r = LoadSettings(folder, s, list, kGeometry);
    QVERIFY(r.fileExisted);
    QVERIFY(r.unreadable);
    CompareSettings(s, Defaults());
    test::RecordingSoundPlayer sound;
    QVERIFY(!SaveSettingsOnExit(folder, s, list, sound, r));
    QCOMPARE(sound.calls, (QList<test::SoundCall>{{QString(), false}}));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(readBytes(folder + "/inside"), QByteArray("keep"));

    if (geteuid() != 0) {
        const QString locked = path("locked.ini");
        writeBytes(locked, "[TARNIVEL]\r\nDevice = 5\r\n");
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
        const LoadResult lr = LoadSettings(locked, s, list, kGeometry);
        QVERIFY(lr.unreadable);
        QVERIFY(!SaveSettingsOnExit(locked, s, list, sound, lr));
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(readBytes(locked), QByteArray("[TARNIVEL]\r\nDevice = 5\r\n"));
    }
}

void TestSettings::saveOnExitSilencesTheSound() {
    const QString file = path("exit.ini");
    FocuserSettings s = Defaults();
    s.Logging = true;
    SavedPositionList list;
    test::RecordingSoundPlayer sound;
    QVERIFY(SaveSettingsOnExit(file, s, list, sound));
    QCOMPARE(sound.calls, (QList<test::SoundCall>{{QString(), false}}));
    QVERIFY(readBytes(file).contains(KeyLine("Logging", "True")));

    // A readable file loaded earlier does not stop the save.
    FocuserSettings back;
    const LoadResult r = LoadSettings(file, back, list, kGeometry);
    back.Device = 33;
    QVERIFY(SaveSettingsOnExit(file, back, list, sound, r));
    QVERIFY(readBytes(file).contains(KeyLine("Device", "33")));
    QCOMPARE(sound.calls.size(), 2);
}

void TestSettings::saveFailureKeepsOldSettings() {
    const QString file = path(QString(251, QLatin1Char('n')) + ".ini");
    FocuserSettings s = Defaults();
    SavedPositionList list;
    list.AddItem(FormatListEntry("keep me", "0.000"), 0);
    QVERIFY(!SaveSettings(path("missing/folder.ini"), s, list));
    writeBytes(file, "[TARNIVEL]\r\nDevice = 5\r\n[POSITIONS]\r\nPosition = 0,keep me\r\n");
    const QByteArray old = readBytes(file);
    s.Device = 6;
    test::RecordingSoundPlayer sound;
    QVERIFY(!SaveSettingsOnExit(file, s, list, sound));
    QCOMPARE(readBytes(file), old);
    QCOMPARE(sound.calls.size(), 1);
}

void TestSettings::commaLocaleKeepsPointInFile() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString file = path("de.ini");
    writeBytes(file, "[TARNIVEL]\r\nScaleFactor = 2924.414268\r\nSensorLimit1 = 12.5\r\n"
                     "Decimals = 2\r\n[POSITIONS]\r\nPosition = 3656,p\r\n");
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(s.ScaleFactor, 2924.414268);
    QCOMPARE(s.SensorLimit1, 12.5);
    QCOMPARE(s.Decimals, 2);
    // The operator sees his own separator in the list ...
    QCOMPARE(ListEntryField(list.List(0), 1), QString("      1,25"));
    QVERIFY(SaveSettings(file, s, list));
    // ... the file keeps ".".
    const QByteArray bytes = readBytes(file);
    QVERIFY(bytes.contains(KeyLine("ScaleFactor", "2924.414268")));
    QVERIFY(bytes.contains(KeyLine("SensorLimit1", "12.5")));
    QVERIFY(bytes.contains(KeyLine("SensorLimit2", "3")));
}

void TestSettings::manyPositionsLoadSorted() {
    constexpr int kRows = 100000;
    const QString file = path("many.ini");
    QByteArray bytes = "[TARNIVEL]\r\n[POSITIONS]\r\n";
    bytes.reserve(kRows * 48);
    for (int i = 0; i < kRows; ++i) {
        // Names in scrambled order with case and duplicates mixed in.
        const int k = (i * 7919) % kRows;
        bytes += "   Position              = " + QByteArray::number(i) + (k % 2 ? ",Pos" : ",pos") +
                 QByteArray::number(k % 50000) + "\r\n";
    }
    writeBytes(file, bytes);
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(file, s, list, kGeometry);
    QCOMPARE(list.ListCount(), kRows);
    for (int i = 1; i < list.ListCount(); ++i) {
        if (QString::compare(list.List(i - 1), list.List(i), Qt::CaseInsensitive) > 0)
            QFAIL(qPrintable(QStringLiteral("rows %1 and %2 out of order").arg(i - 1).arg(i)));
    }
    qint64 sum = 0;
    for (int i = 0; i < list.ListCount(); ++i)
        sum += list.ItemData(i);
    QCOMPARE(sum, qint64(kRows) * (kRows - 1) / 2);
}
