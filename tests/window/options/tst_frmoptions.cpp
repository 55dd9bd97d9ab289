#include "tst_options.h"

#include "core/settings/focusersettings.h"
#include "core/units/positionunits.h"
#include "optionsrig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;
namespace F = tarnivel::test::frames;

namespace {

const QString kTitle = QStringLiteral("tarnivel");

// Chooses an entry the way the drop-down's list does, even the one already shown.
void choose(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    Q_EMIT box->activated(index);
}

QString caption(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return QStringLiteral("<no caption>");
}

QStringList items(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

} // namespace

void TestFrmOptions::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const QList<QPair<QString, QString>> rows{
        {"Frame1", "Temperature Sensors"},
        {"Frame3", "Log To Disk"},
        {"Frame2", "Degrees"},
        {"Label3", "3"},
        {"Label2", "2"},
        {"Label1", "1"},
        {"cmdShowStates", "Test"},
        {"Frame9", "Calibrate Focuser"},
        {"cmdQuickCalibrate", "Quick Calibrate"},
        {"cmdCancelCalibrate", "Cancel"},
        {"cmdCalibrate", "Full Calibrate"},
        {"lblCalibrate", ""},
        {"fraOptions", ""},
        {"fraLimits", "Min/Max Limts"},
        {"chkLimits", "Enabled"},
        {"fraReset", "Reset Position to Zero"},
        {"cmdReset", "Reset"},
        {"fraAutoStop", "Auto Stop"},
        {"chkAutoStop", "Enabled"},
        {"fraSoundEffects", "Sound Effects"},
        {"chkSlewingSound", "Slewing"},
        {"chkCompletionSound", "Completion"},
        {"fraDecimals", "LCD Decimals"},
        {"Frame5", "Fast Slew Speed"},
        {"Frame4", "Slow Slew Speed"},
        {"Frame8", "Scaling Units"},
        {"fraScaleFactor", "Scaling Factor"},
        {"cmdOk", "Ok"},
        {"cmdCancel", "Cancel"},
    };
    for (const auto& [name, text] : rows)
        QTest::newRow(qPrintable(name)) << name << text;
}

void TestFrmOptions::controls() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    OptionsRig o;
    frmOptions dialog(o.rig.console);
    auto* w = dialog.findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(caption(w), text);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Tarnivel Options"));
}

// Tab walks the dialog in reading order, and every control it reaches says what it does.
void TestFrmOptions::tabOrderAndTips() {
    OptionsRig o;
    frmOptions dialog(o.rig.console);
    auto* first = dialog.findChild<QWidget*>(QStringLiteral("cboScaleUnits"));
    QStringList chain;
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus) {
            chain << w->objectName();
            QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
        }
        w = w->nextInFocusChain();
    } while (w != first && chain.size() < 40);
    const QStringList expected = {
        "cboScaleUnits", "txtScaleFactor",    "cboSlowSlewSpeed",   "cboFastSlewSpeed",
        "cboDecimals",   "chkSlewingSound",   "chkCompletionSound", "chkLimits",
        "chkAutoStop",   "cmdReset",          "chkServeAlpaca",     "txtAlpacaPort",
        "txtSensor1",    "txtSensor2",        "txtSensor3",         "cboDegrees",
        "chkLogging",    "cmdQuickCalibrate", "cmdCancelCalibrate", "cmdCalibrate",
        "cmdShowStates", "txtCoefficient",    "cboSensor",          "txtDeadband",
        "txtAverage",    "txtMaxTravel",      "cmdUseFit",          "cmdClearPoints",
        "cmdOk",         "cmdCancel"};
    QCOMPARE(chain, expected);
}

void TestFrmOptions::displayFillsControls() {
    OptionsRig o;
    o.rig.settings.ScaleFactor = 2924.414268;
    o.rig.settings.ScaleUnits = QStringLiteral("thou");
    o.rig.settings.SensorName1 = QStringLiteral("Mirror");
    o.rig.settings.SensorName2 = QStringLiteral(" Tube ");
    o.rig.settings.SensorName3 = QStringLiteral("Außen");
    o.rig.settings.Logging = true;
    o.rig.settings.SlewingSound = true;
    o.model.setFirmwareVersion(3, 14);
    bool cancelVisible = true;
    o.open([&](frmOptions& d) {
        cancelVisible =
            d.findChild<QPushButton*>(QStringLiteral("cmdCancelCalibrate"))->isVisible();
    });
    QVERIFY(!cancelVisible);
    QCOMPARE(o.child<QLineEdit>("txtScaleFactor")->text(), QStringLiteral("2924.414268"));
    QCOMPARE(items(o.child<QComboBox>("cboScaleUnits")), QStringList({"thou", "mm", "user"}));
    QCOMPARE(o.child<QComboBox>("cboScaleUnits")->currentText(), QStringLiteral("thou"));
    QCOMPARE(items(o.child<QComboBox>("cboDecimals")),
             QStringList({"0", "1", "2", "3", "4", "5", "6", "7", "8"}));
    QCOMPARE(items(o.child<QComboBox>("cboSlowSlewSpeed")),
             QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    QCOMPARE(items(o.child<QComboBox>("cboFastSlewSpeed")),
             QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    QCOMPARE(items(o.child<QComboBox>("cboDegrees")), QStringList({"°C", "°F"}));
    QVERIFY(o.child<QCheckBox>("chkSlewingSound")->isChecked());
    QVERIFY(!o.child<QCheckBox>("chkCompletionSound")->isChecked());
    QCOMPARE(o.child<QLineEdit>("txtSensor1")->text(), QStringLiteral("Mirror"));
    QCOMPARE(o.child<QLineEdit>("txtSensor2")->text(), QStringLiteral(" Tube "));
    QCOMPARE(o.child<QLineEdit>("txtSensor3")->text(), QStringLiteral("Außen"));
    QCOMPARE(o.child<QCheckBox>("chkLogging")->text(), QStringLiteral("tarnivel.csv"));
    QVERIFY(o.child<QCheckBox>("chkLogging")->isChecked());
    QCOMPARE(o.child<QLabel>("lblVersion")->text(),
             QStringLiteral("Tarnivel v%1.%2.%3\r\nFocuser  v3.14")
                 .arg(TARNIVEL_VERSION_MAJOR)
                 .arg(TARNIVEL_VERSION_MINOR)
                 .arg(TARNIVEL_VERSION_PATCH));
}

void TestFrmOptions::listPositions_data() {
    QTest::addColumn<int>("decimals");
    QTest::addColumn<int>("slow");
    QTest::addColumn<int>("fast");
    QTest::addColumn<int>("degrees");
    QTest::addColumn<QString>("units");
    QTest::addColumn<int>("decimalsIndex");
    QTest::addColumn<int>("slowIndex");
    QTest::addColumn<int>("fastIndex");
    QTest::addColumn<QString>("degreesText");
    QTest::addColumn<QString>("unitsText");
    QTest::newRow("defaults") << 3 << 4 << 9 << 0 << "mm" << 3 << 3 << 8 << "°C"
                              << "mm";
    QTest::newRow("ends of the lists") << 8 << 1 << 9 << 1 << "user" << 8 << 0 << 8 << "°F"
                                       << "user";
    QTest::newRow("first entries") << 0 << 9 << 1 << 0 << "thou" << 0 << 8 << 0 << "°C"
                                   << "thou";
    QTest::newRow("above the lists") << 12 << 15 << 10 << 2 << "mm" << 8 << 8 << 8 << "°F"
                                     << "mm";
    QTest::newRow("below the lists") << -3 << 0 << -7 << -1 << "mm" << 0 << 0 << 0 << "°F"
                                     << "mm";
    QTest::newRow("unknown unit") << 3 << 4 << 9 << 0 << "furlong" << 3 << 3 << 8 << "°C"
                                  << "thou";
}

void TestFrmOptions::listPositions() {
    QFETCH(int, decimals);
    QFETCH(int, slow);
    QFETCH(int, fast);
    QFETCH(int, degrees);
    QFETCH(QString, units);
    QFETCH(int, decimalsIndex);
    QFETCH(int, slowIndex);
    QFETCH(int, fastIndex);
    QFETCH(QString, degreesText);
    QFETCH(QString, unitsText);
    OptionsRig o;
    o.rig.settings.Decimals = decimals;
    o.rig.settings.SlowSlewSpeed = slow;
    o.rig.settings.FastSlewSpeed = fast;
    o.rig.settings.Degrees = degrees;
    o.rig.settings.ScaleUnits = units;
    o.open([](frmOptions& d) {
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    });
    QCOMPARE(o.child<QComboBox>("cboDecimals")->currentIndex(), decimalsIndex);
    QCOMPARE(o.child<QComboBox>("cboSlowSlewSpeed")->currentIndex(), slowIndex);
    QCOMPARE(o.child<QComboBox>("cboFastSlewSpeed")->currentIndex(), fastIndex);
    QCOMPARE(o.child<QComboBox>("cboDegrees")->currentText(), degreesText);
    QCOMPARE(o.child<QComboBox>("cboScaleUnits")->currentText(), unitsText);
    // What the operator saw is what OK hands back.
    QVERIFY(!o.dialog->Cancel);
    QCOMPARE(o.dialog->Decimals, decimalsIndex);
    QCOMPARE(o.dialog->SlowSlewSpeed, slowIndex + 1);
    QCOMPARE(o.dialog->FastSlewSpeed, fastIndex + 1);
    QCOMPARE(o.dialog->Degrees, degreesText == QStringLiteral("°F") ? 1 : 0);
    QCOMPARE(o.dialog->ScaleUnits, unitsText);
}

void TestFrmOptions::unitConversion_data() {
    QTest::addColumn<QString>("fromUnits");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("unitsAfter");
    QTest::newRow("thou to mm") << "thou"
                                << "100" << 1 << "3937.007874"
                                << "mm";
    QTest::newRow("mm to thou") << "mm"
                                << "100" << 0 << "2.54"
                                << "thou";
    QTest::newRow("mm to thou rounds to 6 places") << "mm"
                                                   << "115134.42" << 0 << "2924.414268"
                                                   << "thou";
    QTest::newRow("thou to mm rounds to 6 places") << "thou"
                                                   << "2924.414268" << 1 << "115134.42"
                                                   << "mm";
    QTest::newRow("small factor to thou") << "mm"
                                          << "3" << 0 << "0.0762"
                                          << "thou";
    QTest::newRow("user to mm") << "user"
                                << "7" << 1 << "115134.42"
                                << "mm";
    QTest::newRow("user to thou") << "user"
                                  << "7" << 0 << "2924.414268"
                                  << "thou";
    QTest::newRow("mm to user") << "mm"
                                << "115134.42" << 2 << "1"
                                << "user";
    QTest::newRow("thou to user") << "thou"
                                  << "55" << 2 << "1"
                                  << "user";
    QTest::newRow("same unit reformats") << "mm"
                                         << " 100.50 " << 1 << "100.5"
                                         << "mm";
    QTest::newRow("user to user") << "user"
                                  << "12.250" << 2 << "12.25"
                                  << "user";
    QTest::newRow("hundred thousand plain") << "user"
                                            << "1e5" << 2 << "100000"
                                            << "user";
    QTest::newRow("below 0.0001 in exponent form") << "user"
                                                   << "0.00001" << 2 << "1E-05"
                                                   << "user";
    QTest::newRow("1E+15 in exponent form") << "user"
                                            << "1000000000000000" << 2 << "1E+15"
                                            << "user";
    QTest::newRow("15 significant digits") << "user"
                                           << "0.30000000000000004" << 2 << "0.3"
                                           << "user";
    QTest::newRow("empty text") << "mm"
                                << "" << 0 << ""
                                << "mm";
    QTest::newRow("blank text") << "mm"
                                << "   " << 0 << "   "
                                << "mm";
    QTest::newRow("not numeric") << "thou"
                                 << "abc" << 1 << "abc"
                                 << "thou";
}

void TestFrmOptions::unitConversion() {
    QFETCH(QString, fromUnits);
    QFETCH(QString, text);
    QFETCH(int, choice);
    QFETCH(QString, expected);
    QFETCH(QString, unitsAfter);
    OptionsRig o;
    o.rig.settings.ScaleUnits = fromUnits;
    o.open([&](frmOptions& d) {
        d.findChild<QLineEdit*>(QStringLiteral("txtScaleFactor"))->setText(text);
        choose(d.findChild<QComboBox*>(QStringLiteral("cboScaleUnits")), choice);
    });
    QCOMPARE(o.child<QLineEdit>("txtScaleFactor")->text(), expected);
    QCOMPARE(o.dialog->ScaleUnits, unitsAfter);
}

void TestFrmOptions::unitChangeAfterBadTextConvertsFromLastUnit() {
    OptionsRig o;
    o.rig.settings.ScaleUnits = QStringLiteral("user");
    o.rig.settings.ScaleFactor = 5;
    o.open([](frmOptions& d) {
        auto* text = d.findChild<QLineEdit*>(QStringLiteral("txtScaleFactor"));
        auto* units = d.findChild<QComboBox*>(QStringLiteral("cboScaleUnits"));
        text->clear();
        choose(units, 0); // thou: nothing converts, "user" stays the unit converted from
        text->setText(QStringLiteral("7"));
        choose(units, 1);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    });
    // From "user" a change to mm gives the mm factor; from "thou" it would be 7 x 39.37.
    QCOMPARE(o.dialog->ScaleFactor, 115134.42);
    QCOMPARE(o.dialog->ScaleUnits, QStringLiteral("mm"));
}

void TestFrmOptions::unknownStoredUnitConvertsToZero() {
    OptionsRig o;
    o.rig.settings.ScaleUnits = QStringLiteral("inch");
    o.open([](frmOptions& d) {
        choose(d.findChild<QComboBox*>(QStringLiteral("cboScaleUnits")), 1);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    });
    // The zero factor cannot slip through OK.
    QCOMPARE(o.child<QLineEdit>("txtScaleFactor")->text(), QStringLiteral("0"));
    QVERIFY(o.dialog->Cancel);
    QCOMPARE(o.rig.messages.texts(),
             QStringList{QStringLiteral("Scale Factor must be greater than zero")});
}

void TestFrmOptions::scaleFactorValidation_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << ""
                           << "Scale Factor must be specified.";
    QTest::newRow("blanks") << "   "
                            << "Scale Factor must be specified.";
    QTest::newRow("letters") << "abc"
                             << "Scale Factor not numeric";
    QTest::newRow("number and letters") << "12x"
                                        << "Scale Factor not numeric";
    QTest::newRow("zero") << "0"
                          << "Scale Factor must be greater than zero";
    QTest::newRow("negative") << "-5"
                              << "Scale Factor must be greater than zero";
    QTest::newRow("negative zero") << "-0.0"
                                   << "Scale Factor must be greater than zero";
}

void TestFrmOptions::scaleFactorValidation() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    OptionsRig o;
    bool openAfterRefusal = false;
    QString textAfterRefusal;
    o.open([&](frmOptions& d) {
        auto* box = d.findChild<QLineEdit*>(QStringLiteral("txtScaleFactor"));
        auto* ok = d.findChild<QPushButton*>(QStringLiteral("cmdOk"));
        box->setText(text);
        QTest::mouseClick(ok, Qt::LeftButton);
        openAfterRefusal = d.isVisible();
        textAfterRefusal = box->text();
        box->setText(QStringLiteral("2.5"));
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    QVERIFY(openAfterRefusal);
    QCOMPARE(textAfterRefusal, text);
    QCOMPARE(o.rig.messages.shown.size(), 1);
    const ShownMessage& m = o.rig.messages.shown.first();
    QCOMPARE(m.text, message);
    QCOMPARE(m.icon, MsgIcon::Warning);
    QCOMPARE(m.title, kTitle);
    QCOMPARE(m.buttons, MsgButtons::Ok);
    QVERIFY(!o.dialog->Cancel);
    QCOMPARE(o.dialog->ScaleFactor, 2.5);
}

void TestFrmOptions::okTakesEveryValue() {
    OptionsRig o;
    o.open([](frmOptions& d) {
        d.findChild<QLineEdit*>(QStringLiteral("txtScaleFactor"))
            ->setText(QStringLiteral("1234.5"));
        d.findChild<QComboBox*>(QStringLiteral("cboScaleUnits"))->setCurrentIndex(2);
        d.findChild<QComboBox*>(QStringLiteral("cboDecimals"))->setCurrentIndex(5);
        d.findChild<QComboBox*>(QStringLiteral("cboSlowSlewSpeed"))->setCurrentIndex(1);
        d.findChild<QComboBox*>(QStringLiteral("cboFastSlewSpeed"))->setCurrentIndex(6);
        QTest::mouseClick(d.findChild<QCheckBox*>(QStringLiteral("chkSlewingSound")),
                          Qt::LeftButton);
        QTest::mouseClick(d.findChild<QCheckBox*>(QStringLiteral("chkCompletionSound")),
                          Qt::LeftButton);
        d.findChild<QLineEdit*>(QStringLiteral("txtSensor1"))->setText(QStringLiteral(" Mirror "));
        d.findChild<QLineEdit*>(QStringLiteral("txtSensor2"))->setText(QStringLiteral("Tube"));
        d.findChild<QLineEdit*>(QStringLiteral("txtSensor3"))->setText(QString());
        d.findChild<QComboBox*>(QStringLiteral("cboDegrees"))->setCurrentIndex(1);
        QTest::mouseClick(d.findChild<QCheckBox*>(QStringLiteral("chkLogging")), Qt::LeftButton);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    });
    const frmOptions& d = *o.dialog;
    QVERIFY(!d.Cancel);
    QVERIFY(!d.isVisible());
    QCOMPARE(d.ScaleFactor, 1234.5);
    QCOMPARE(d.ScaleUnits, QStringLiteral("user"));
    QCOMPARE(d.Decimals, 5);
    QCOMPARE(d.SlowSlewSpeed, 2);
    QCOMPARE(d.FastSlewSpeed, 7);
    QVERIFY(d.SlewingSound);
    QVERIFY(d.CompletionSound);
    QCOMPARE(d.SensorName1, QStringLiteral(" Mirror "));
    QCOMPARE(d.SensorName2, QStringLiteral("Tube"));
    QCOMPARE(d.SensorName3, QString());
    QCOMPARE(d.Degrees, 1);
    QVERIFY(d.Logging);
    // The dialog talks to the controller only for what lives there.
    QVERIFY(F::Writes(o.frames()).isEmpty());
}

// Serving Alpaca needs a port a client can reach; the dialog hands it back with Ok.
void TestFrmOptions::alpacaPort() {
    OptionsRig o;
    o.open([&](frmOptions& d) {
        d.findChild<QCheckBox*>(QStringLiteral("chkServeAlpaca"))->setChecked(true);
        auto* port = d.findChild<QLineEdit*>(QStringLiteral("txtAlpacaPort"));
        QCOMPARE(port->text(), QStringLiteral("11111"));
        port->setText(QStringLiteral("0"));
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
        QVERIFY(d.isVisible());
        port->setText(QStringLiteral("11112"));
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    });
    QCOMPARE(
        o.rig.messages.texts(),
        QStringList{QStringLiteral("The Alpaca port must be a whole number from 1 to 65535.")});
    QCOMPARE(o.dialog->AlpacaPort, 11112);
}

void TestFrmOptions::cancelChangesNothing_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel button") << 0;
    QTest::newRow("close box") << 1;
    QTest::newRow("Esc") << 2;
}

void TestFrmOptions::cancelChangesNothing() {
    QFETCH(int, how);
    OptionsRig o;
    o.open([how](frmOptions& d) {
        d.findChild<QLineEdit*>(QStringLiteral("txtScaleFactor"))->setText(QStringLiteral("9"));
        choose(d.findChild<QComboBox*>(QStringLiteral("cboScaleUnits")), 0);
        d.findChild<QComboBox*>(QStringLiteral("cboDecimals"))->setCurrentIndex(7);
        d.findChild<QComboBox*>(QStringLiteral("cboSlowSlewSpeed"))->setCurrentIndex(0);
        d.findChild<QComboBox*>(QStringLiteral("cboFastSlewSpeed"))->setCurrentIndex(0);
        d.findChild<QCheckBox*>(QStringLiteral("chkSlewingSound"))->setChecked(true);
        d.findChild<QCheckBox*>(QStringLiteral("chkCompletionSound"))->setChecked(true);
        d.findChild<QLineEdit*>(QStringLiteral("txtSensor1"))->setText(QStringLiteral("X"));
        d.findChild<QComboBox*>(QStringLiteral("cboDegrees"))->setCurrentIndex(1);
        d.findChild<QCheckBox*>(QStringLiteral("chkLogging"))->setChecked(true);
        if (how == 0)
            QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdCancel")),
                              Qt::LeftButton);
        else if (how == 1)
            d.close();
        else
            QTest::keyClick(&d, Qt::Key_Escape);
    });
    const frmOptions& d = *o.dialog;
    const FocuserSettings defaults;
    QVERIFY(d.Cancel);
    QVERIFY(!d.isVisible());
    // Every property still holds what the caller passed in.
    QCOMPARE(d.ScaleFactor, defaults.ScaleFactor);
    QCOMPARE(d.Decimals, defaults.Decimals);
    QCOMPARE(d.SlowSlewSpeed, defaults.SlowSlewSpeed);
    QCOMPARE(d.FastSlewSpeed, defaults.FastSlewSpeed);
    QCOMPARE(d.SlewingSound, defaults.SlewingSound);
    QCOMPARE(d.CompletionSound, defaults.CompletionSound);
    QCOMPARE(d.SensorName1, defaults.SensorName1);
    QCOMPARE(d.Degrees, defaults.Degrees);
    QCOMPARE(d.Logging, defaults.Logging);
    QVERIFY(F::Writes(o.frames()).isEmpty());
}

void TestFrmOptions::openingSendsNoSetCommand_data() {
    QTest::addColumn<bool>("calibrated");
    QTest::addColumn<int>("limitByte");
    QTest::addColumn<bool>("autoStop");
    QTest::addColumn<bool>("limitsShown");
    QTest::addColumn<bool>("limitsFrameEnabled");
    QTest::newRow("calibrated, limits on, auto-stop on") << true << 3 << true << true << true;
    QTest::newRow("calibrated, limits off, auto-stop off") << true << 0 << false << false << true;
    QTest::newRow("uncalibrated, limits on") << false << 3 << true << false << false;
}

void TestFrmOptions::openingSendsNoSetCommand() {
    QFETCH(bool, calibrated);
    QFETCH(int, limitByte);
    QFETCH(bool, autoStop);
    QFETCH(bool, limitsShown);
    QFETCH(bool, limitsFrameEnabled);
    OptionsRig o;
    o.storeCalibration(1001);
    o.model.setMemory(0x40, calibrated ? 1 : 0);
    o.model.setLimitBytes(0, limitByte);
    o.model.setAutoStop(autoStop);
    o.clearFrames();
    o.open({});

    QStringList expected{F::GetCalibrated()};
    if (calibrated)
        expected << F::GetLimitMin() << F::GetLimitMax();
    expected << F::GetAutoStop() << F::Read24(0x44) << F::Read24(0x47) << F::Read24(0x41)
             << F::GetFirmwareVersion();
    QCOMPARE(o.frames(), expected);
    QCOMPARE(o.child<QCheckBox>("chkLimits")->isChecked(), limitsShown);
    QCOMPARE(o.child<QGroupBox>("fraLimits")->isEnabled(), limitsFrameEnabled);
    QCOMPARE(o.child<QCheckBox>("chkAutoStop")->isChecked(), autoStop);
    QVERIFY(o.child<QGroupBox>("fraAutoStop")->isEnabled());
    // The controller still holds what it held.
    QCOMPARE(o.model.limitMaxByte(), limitByte);
    QCOMPARE(o.model.autoStop(), autoStop);
}

void TestFrmOptions::limitsBoxSendsOnlyWhenEnabled() {
    OptionsRig o;
    o.storeCalibration(400000); // real limits -200000 and +200000
    QStringList onClick;
    QStringList offClick;
    o.open([&](frmOptions& d) {
        auto* box = d.findChild<QCheckBox*>(QStringLiteral("chkLimits"));
        int mark = o.frames().size();
        QTest::mouseClick(box, Qt::LeftButton);
        onClick = o.framesSince(mark);
        mark = o.frames().size();
        QTest::mouseClick(box, Qt::LeftButton);
        offClick = o.framesSince(mark);
    });
    // 200000 lies in block 3, -200000 (raw 16577216) in block 252: one block inside each.
    QCOMPARE(onClick, QStringList() << F::Read24(0x47) << F::Read24(0x44) << F::SetLimitMax(2)
                                    << F::SetLimitMin(253));
    QCOMPARE(offClick, QStringList() << F::SetLimitMax(0) << F::SetLimitMin(0));
}

void TestFrmOptions::limitsBoxShowsWhatIsEnforced_data() {
    QTest::addColumn<int>("fault"); // on both attempts of SetLimitMax
    QTest::addColumn<bool>("shown");
    QTest::newRow("limit set, its answer lost: shown on") << int(sim::Fault::NoAnswer) << true;
    QTest::newRow("silent: nothing known enforced, shown off")
        << int(sim::Fault::GoSilent) << false;
}

void TestFrmOptions::limitsBoxShowsWhatIsEnforced() {
    QFETCH(int, fault);
    QFETCH(bool, shown);
    OptionsRig o;
    o.storeCalibration(400000);
    o.model.injectFault(27, sim::Fault(fault), 2);
    o.open([&](frmOptions&) { o.child<QCheckBox>("chkLimits")->click(); });
    QCOMPARE(o.child<QCheckBox>("chkLimits")->isChecked(), shown);
    QCOMPARE(o.rig.messages.shown.last().text,
             QStringLiteral("The controller did not confirm the limits; they were read back"));
}

// 1001 steps hold no 65536-step limit block: the box, ticked, stays off and says why.
void TestFrmOptions::limitsBoxTickedOnTooShortATravel() {
    OptionsRig o;
    o.storeCalibration(1001);
    o.open([&](frmOptions&) { o.child<QCheckBox>("chkLimits")->click(); });
    QVERIFY(!o.child<QCheckBox>("chkLimits")->isChecked());
    QCOMPARE(o.child<QCheckBox>("chkLimits")->toolTip(),
             QStringLiteral("Off: the focuser's travel is too short for the controller's limits, "
                            "which it sets only in whole blocks of 65536 steps, one block inside "
                            "each end stop"));
}

void TestFrmOptions::limitsBoxSilentBehindDisabledFrame() {
    OptionsRig o; // uncalibrated: the limits frame stays disabled
    QStringList sent;
    bool frameEnabled = true;
    o.open([&](frmOptions& d) {
        auto* box = d.findChild<QCheckBox*>(QStringLiteral("chkLimits"));
        frameEnabled = d.findChild<QGroupBox*>(QStringLiteral("fraLimits"))->isEnabled();
        const int mark = o.frames().size();
        QTest::mouseClick(box, Qt::LeftButton);
        box->setChecked(true);
        box->setChecked(false);
        sent = o.framesSince(mark);
    });
    QVERIFY(!frameEnabled);
    QCOMPARE(sent, QStringList());
}

void TestFrmOptions::autoStopBoxSendsOnlyWhenEnabled() {
    OptionsRig o;
    o.model.setAutoStop(true);
    QStringList clicks;
    QStringList behindDisabledFrame;
    o.open([&](frmOptions& d) {
        auto* box = d.findChild<QCheckBox*>(QStringLiteral("chkAutoStop"));
        auto* frame = d.findChild<QGroupBox*>(QStringLiteral("fraAutoStop"));
        int mark = o.frames().size();
        QTest::mouseClick(box, Qt::LeftButton);
        QTest::mouseClick(box, Qt::LeftButton);
        clicks = o.framesSince(mark);
        frame->setEnabled(false);
        mark = o.frames().size();
        box->setChecked(false);
        box->setChecked(true);
        behindDisabledFrame = o.framesSince(mark);
    });
    QCOMPARE(clicks, QStringList() << F::SetAutoStop(0) << F::SetAutoStop(1));
    QCOMPARE(behindDisabledFrame, QStringList());
    QVERIFY(o.model.autoStop());
}

void TestFrmOptions::quickCalibrateOffered_data() {
    QTest::addColumn<int>("realMin");
    QTest::addColumn<int>("realMax");
    QTest::addColumn<int>("travel");
    QTest::addColumn<bool>("offered");
    QTest::newRow("nothing stored") << 0 << 0 << 0 << false;
    QTest::newRow("travel only") << 0 << 0 << 1001 << false;
    QTest::newRow("limits only") << 16776716 << 500 << 0 << false;
    QTest::newRow("full calibration stored") << 16776716 << 500 << 1001 << true;
    QTest::newRow("upper limit only") << 0 << 500 << 1001 << true;
    QTest::newRow("lower limit only") << 16776716 << 0 << 1001 << true;
}

void TestFrmOptions::quickCalibrateOffered() {
    QFETCH(int, realMin);
    QFETCH(int, realMax);
    QFETCH(int, travel);
    QFETCH(bool, offered);
    OptionsRig o;
    o.setRegister24(0x44, realMin);
    o.setRegister24(0x47, realMax);
    o.setRegister24(0x41, travel);
    bool enabled = !offered;
    o.open([&](frmOptions& d) {
        enabled = d.findChild<QPushButton*>(QStringLiteral("cmdQuickCalibrate"))->isEnabled();
    });
    QCOMPARE(enabled, offered);
}

void TestFrmOptions::stateReport() {
    OptionsRig o;
    o.storeCalibration(1001);
    o.model.setLimitBytes(0xFF, 2);
    o.model.setAutoStop(true);
    bool enabledDuringReport = true;
    o.rig.messages.onShow = [&](const ShownMessage&) {
        enabledDuringReport = o.child<QPushButton>("cmdShowStates")->isEnabled();
    };
    QStringList sent;
    o.open([&](frmOptions&) {
        const int mark = o.frames().size();
        o.click("cmdShowStates");
        sent = o.framesSince(mark);
    });
    QCOMPARE(sent, QStringList() << F::GetLimitMin() << F::GetLimitMax() << F::Read24(0x44)
                                 << F::Read24(0x47) << F::GetAutoStop() << F::GetCalibrated()
                                 << F::Read24(0x41));
    QCOMPARE(o.rig.messages.shown.size(), 1);
    const ShownMessage& m = o.rig.messages.shown.first();
    QCOMPARE(m.text, QStringLiteral("Limit Min: 16711680 (-65536)\r\n"
                                    "Limit Max: 131072 (131072)\r\n"
                                    "Real Limit Min: 16776716 (-500)\r\n"
                                    "Real Limit Max: 500 (500)\r\n"
                                    "AutoStop: 1\r\n"
                                    "Calibrated: 1\r\n"
                                    "MaxTravel: 1001"));
    QCOMPARE(m.icon, MsgIcon::None);
    QCOMPARE(m.title, kTitle);
    QCOMPARE(m.buttons, MsgButtons::Ok);
    QVERIFY(!enabledDuringReport);
    QVERIFY(o.child<QPushButton>("cmdShowStates")->isEnabled());
    QCOMPARE(o.rig.cursor.changes, QList<bool>({true, false}));
}

void TestFrmOptions::stateReportOfSilentController() {
    OptionsRig o;
    o.storeCalibration(1001);
    o.open([&](frmOptions&) {
        o.model.setSilent(true);
        o.click("cmdShowStates");
    });
    QCOMPARE(o.rig.messages.texts(),
             QStringList{QStringLiteral("Limit Min: 0 (0)\r\nLimit Max: 0 (0)\r\n"
                                        "Real Limit Min: 0 (0)\r\nReal Limit Max: 0 (0)\r\n"
                                        "AutoStop: 0\r\nCalibrated: 0\r\nMaxTravel: 0")});
}

void TestFrmOptions::resetRefusedWhenUncalibrated() {
    OptionsRig o;
    o.setRegister24(0x44, 16776716);
    o.setRegister24(0x47, 500);
    QStringList sent;
    o.open([&](frmOptions&) {
        const int mark = o.frames().size();
        o.click("cmdReset");
        sent = o.framesSince(mark);
    });
    QCOMPARE(sent, QStringList{F::GetCalibrated()});
    QCOMPARE(o.rig.messages.shown.size(), 1);
    QCOMPARE(o.rig.messages.shown.first().text,
             QStringLiteral("Focuser must be Calibrated first."));
    QCOMPARE(o.rig.messages.shown.first().icon, MsgIcon::Warning);
    QCOMPARE(o.rig.messages.shown.first().title, kTitle);
}

void TestFrmOptions::resetDeclined() {
    OptionsRig o;
    o.storeCalibration(1001);
    o.rig.messages.answer(MsgAnswer::No);
    QStringList sent;
    o.open([&](frmOptions&) {
        const int mark = o.frames().size();
        o.click("cmdReset");
        sent = o.framesSince(mark);
    });
    QCOMPARE(sent, QStringList{F::GetCalibrated()});
    QCOMPARE(o.rig.messages.shown.size(), 1);
    const ShownMessage& m = o.rig.messages.shown.first();
    QCOMPARE(m.text,
             QStringLiteral("Are you sure you want to Reset the Current Position to Zero?"));
    QCOMPARE(m.title, QStringLiteral("Reset Position to Zero"));
    QCOMPARE(m.icon, MsgIcon::Question);
    QCOMPARE(m.buttons, MsgButtons::YesNo);
}

void TestFrmOptions::resetNewLimits_data() {
    QTest::addColumn<int>("travel");
    QTest::addColumn<int>("position"); // signed
    QTest::addColumn<bool>("limitsOn");
    QTest::addColumn<int>("newMin");  // raw
    QTest::addColumn<int>("newMax");  // raw
    QTest::addColumn<int>("minByte"); // sent only with the limits on
    QTest::addColumn<int>("maxByte");
    QTest::newRow("above the middle") << 1000 << 200 << false << 16776516 << 300 << 0 << 0;
    QTest::newRow("below the middle") << 1000 << -300 << false << 16777016 << 800 << 0 << 0;
    QTest::newRow("at the middle") << 1000 << 0 << false << 16776716 << 500 << 0 << 0;
    // -200000..200000 seen from -70000: -130000 (raw 16647216, block 254) and 270000 (block 4).
    QTest::newRow("limits on") << 400000 << -70000 << true << 16647216 << 270000 << 255 << 3;
}

void TestFrmOptions::resetNewLimits() {
    QFETCH(int, travel);
    QFETCH(int, position);
    QFETCH(bool, limitsOn);
    QFETCH(int, newMin);
    QFETCH(int, newMax);
    QFETCH(int, minByte);
    QFETCH(int, maxByte);
    sim::SimConfig c = TravelConfig(travel);
    c.startPosition = position;
    OptionsRig o(c);
    o.storeCalibration(travel);
    if (limitsOn)
        o.model.setLimitBytes(0xFD, 0x02);
    QCOMPARE(o.rig.motion.CurrentPosition, WrapSteps(position));
    QStringList sent;
    o.open([&](frmOptions&) {
        const int mark = o.frames().size();
        o.click("cmdReset");
        sent = o.framesSince(mark);
    });
    QStringList expected;
    expected << F::GetCalibrated() << F::Read24(0x44) << F::Read24(0x47) << F::SetPosition(0)
             << F::Write24(0x47, newMax) << F::Write24(0x44, newMin);
    if (limitsOn)
        expected << F::SetLimitMax(maxByte) << F::SetLimitMin(minByte);
    expected << F::GetPosition();
    QCOMPARE(sent, expected);
    QCOMPARE(o.rig.messages.shown.size(), 1);
    QCOMPARE(o.register24(0x44), newMin);
    QCOMPARE(o.register24(0x47), newMax);
    QCOMPARE(o.rig.motion.CurrentPosition, 0);
    // The stored limits still mark the end stops, now read on the new scale.
    o.model.placeAt(o.model.config().lowerEndStop);
    QCOMPARE(static_cast<int>(o.model.position()), newMin);
    o.model.placeAt(o.model.config().upperEndStop);
    QCOMPARE(static_cast<int>(o.model.position()), newMax);
}

void TestFrmOptions::resetTwiceKeepsLimitsOnEndStops() {
    sim::SimConfig c = TravelConfig(1000);
    c.startPosition = 250;
    OptionsRig o(c);
    o.storeCalibration(1000);
    o.open([&](frmOptions&) {
        o.click("cmdReset");
        o.click("cmdReset");
    });
    QCOMPARE(o.rig.messages.shown.size(), 2);
    QCOMPARE(o.register24(0x44), WrapSteps(-750));
    QCOMPARE(o.register24(0x47), 250);
}

void TestFrmOptions::resetWithUnreadableLimitsChangesNothing() {
    sim::SimConfig c = TravelConfig(1000);
    c.startPosition = 250;
    OptionsRig o(c);
    o.storeCalibration(1000);
    QStringList writes;
    o.open([&](frmOptions&) {
        // Both attempts of the first real-limit read go unanswered.
        o.rig.messages.onShow = [&](const ShownMessage& m) {
            if (m.buttons == MsgButtons::YesNo)
                o.model.injectFault(48, sim::Fault::NoAnswer, 2);
        };
        const int mark = o.frames().size();
        o.click("cmdReset");
        writes = F::Writes(o.framesSince(mark));
    });
    QCOMPARE(writes, QStringList());
    QCOMPARE(o.rig.messages.shown.size(), 2);
    QCOMPARE(o.rig.messages.shown.last().icon, MsgIcon::Warning);
    QCOMPARE(o.rig.messages.shown.last().text,
             QStringLiteral("The focuser did not answer; the position was not reset."));
    QCOMPARE(static_cast<int>(o.model.position()), 250);
}

void TestFrmOptions::escIgnoredDuringReset() {
    sim::SimConfig c = TravelConfig(1001);
    c.startPosition = 100;
    OptionsRig o(c);
    o.storeCalibration(1001);
    bool tried = false;
    bool visibleAfterTries = false;
    o.rig.sim.platform.onPump([&] {
        // While the stored limits are read after the question.
        if (tried || o.rig.messages.shown.isEmpty())
            return;
        tried = true;
        QTest::keyClick(o.dialog.get(), Qt::Key_Escape);
        o.dialog->close();
        QTest::mouseClick(o.child<QPushButton>("cmdOk"), Qt::LeftButton);
        visibleAfterTries = o.dialog->isVisible();
    });
    o.open([&](frmOptions&) { o.click("cmdReset"); });
    QVERIFY(tried);
    QVERIFY(visibleAfterTries);
    QVERIFY(o.dialog->Cancel);
    QCOMPARE(o.model.position(), quint32(0));
    QCOMPARE(o.rig.motion.CurrentPosition, 0);
}

void TestFrmOptions::settingsSurviveRestart() {
    OptionsRig o;
    o.open([](frmOptions& d) {
        d.findChild<QLineEdit*>(QStringLiteral("txtScaleFactor"))->setText(QStringLiteral("100"));
        choose(d.findChild<QComboBox*>(QStringLiteral("cboScaleUnits")), 0);
        d.findChild<QComboBox*>(QStringLiteral("cboDecimals"))->setCurrentIndex(6);
        d.findChild<QComboBox*>(QStringLiteral("cboSlowSlewSpeed"))->setCurrentIndex(1);
        d.findChild<QComboBox*>(QStringLiteral("cboFastSlewSpeed"))->setCurrentIndex(7);
        d.findChild<QCheckBox*>(QStringLiteral("chkSlewingSound"))->setChecked(true);
        d.findChild<QCheckBox*>(QStringLiteral("chkCompletionSound"))->setChecked(true);
        d.findChild<QLineEdit*>(QStringLiteral("txtSensor1"))->setText(QStringLiteral("Spiegel"));
        d.findChild<QLineEdit*>(QStringLiteral("txtSensor2"))->setText(QStringLiteral("Außen"));
        d.findChild<QLineEdit*>(QStringLiteral("txtSensor3"))->setText(QStringLiteral("Tubus"));
        d.findChild<QComboBox*>(QStringLiteral("cboDegrees"))->setCurrentIndex(1);
        d.findChild<QCheckBox*>(QStringLiteral("chkLogging"))->setChecked(true);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    });
    const frmOptions& d = *o.dialog;
    QVERIFY(!d.Cancel);
    FocuserSettings s;
    s.ScaleFactor = d.ScaleFactor;
    s.ScaleUnits = d.ScaleUnits;
    s.Decimals = d.Decimals;
    s.SlowSlewSpeed = d.SlowSlewSpeed;
    s.FastSlewSpeed = d.FastSlewSpeed;
    s.SlewingSound = d.SlewingSound;
    s.CompletionSound = d.CompletionSound;
    s.SensorName1 = d.SensorName1;
    s.SensorName2 = d.SensorName2;
    s.SensorName3 = d.SensorName3;
    s.Degrees = d.Degrees;
    s.Logging = d.Logging;
    const QString path = o.rig.dir.filePath(QStringLiteral("tarnivel.ini"));
    QVERIFY(SaveSettings(path, s, o.rig.positions));

    FocuserSettings back;
    SavedPositionList positions;
    QVERIFY(LoadSettings(path, back, positions, {}).fileExisted);
    QCOMPARE(back.ScaleFactor, 2.54);
    QCOMPARE(back.ScaleUnits, QStringLiteral("thou"));
    QCOMPARE(back.Decimals, 6);
    QCOMPARE(back.SlowSlewSpeed, 2);
    QCOMPARE(back.FastSlewSpeed, 8);
    QVERIFY(back.SlewingSound);
    QVERIFY(back.CompletionSound);
    QCOMPARE(back.SensorName1, QStringLiteral("Spiegel"));
    QCOMPARE(back.SensorName2, QStringLiteral("Außen"));
    QCOMPARE(back.SensorName3, QStringLiteral("Tubus"));
    QCOMPARE(back.Degrees, 1);
    QVERIFY(back.Logging);

    // The next dialog shows what the restarted program loaded.
    o.rig.settings = back;
    o.open({});
    QCOMPARE(o.child<QLineEdit>("txtScaleFactor")->text(), QStringLiteral("2.54"));
    QCOMPARE(o.child<QComboBox>("cboDecimals")->currentIndex(), 6);
    QCOMPARE(o.child<QComboBox>("cboDegrees")->currentText(), QStringLiteral("°F"));
    QCOMPARE(o.child<QLineEdit>("txtSensor2")->text(), QStringLiteral("Außen"));
}
