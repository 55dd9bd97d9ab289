#include "consolerig.h"
#include "settle.h"
#include "window/app/temperaturepanel.h"
#include "window/ui/colours.h"
#include "window/ui/qtmessagebox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>

using namespace tarnivel;
using tarnivel::test::ConsoleRig;

namespace {

// Frames as the simulator logs them.
const QString kTemp1 = QStringLiteral("50 02 12 26 00 00 00 02");
const QString kTemp2 = QStringLiteral("50 02 12 26 01 00 00 02");
const QString kTemp3 = QStringLiteral("50 02 12 26 02 00 00 02");
const QString kFanState = QStringLiteral("50 01 13 28 00 00 00 01");
const QString kFanOn = QStringLiteral("50 02 13 27 03 00 00 00");
const QString kFanOff = QStringLiteral("50 02 13 27 00 00 00 00");

const QDateTime kStamp(QDate(2024, 3, 5), QTime(21, 7, 9));
const QByteArray kHeader = "\"Timestamp\",\"Temp1\",\"Temp2\",\"Temp3\",\"Mode\",\"Fan\"\r\n";

// Celsius set point -> what the panel reads: the controller counts sixteenths and the
// decoding truncates to tenths, so 21.25 reads 21.2 and 15.625 reads 15.6.
using SetPoints = std::array<std::optional<double>, 3>;

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

class TestTemperaturePanel : public QObject {
    Q_OBJECT

    std::unique_ptr<ConsoleRig> rig;
    std::unique_ptr<QWidget> window;
    TemperaturePanel* panel = nullptr;
    QPushButton* elsewhere = nullptr; // somewhere for the focus to go

    void setSensors(const SetPoints& points) {
        for (int slot = 1; slot <= 3; ++slot) {
            const auto& p = points[static_cast<size_t>(slot - 1)];
            rig->sim.model.setSensorFitted(slot, p.has_value());
            if (p)
                rig->sim.model.setTemperature(slot, *p);
        }
    }
    // As a connect leaves the panel: manual mode, fan-off queued.
    void connectPanel() {
        rig->sim.connect();
        panel->UpdateStatus();
        panel->cmdManual_Click();
    }
    QStringList fanCommands() const {
        QStringList out;
        for (const QString& f : rig->sim.framesHex()) {
            if (f.startsWith(QStringLiteral("50 02 13 27")))
                out << f;
        }
        return out;
    }
    void showWindow() {
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

private Q_SLOTS:
    void init() {
        QLocale::setDefault(QLocale::c());
        rig = std::make_unique<ConsoleRig>();
        window = std::make_unique<QWidget>();
        panel = new TemperaturePanel(rig->console, window.get());
        auto* layout = new QVBoxLayout(window.get());
        layout->addWidget(panel->Frame2);
        layout->addWidget(panel->Frame3);
        elsewhere = new QPushButton(QStringLiteral("Dummy"), window.get());
        layout->addWidget(elsewhere);
        panel->Now = [] { return kStamp; };
        panel->LoadFromSettings();
    }
    void cleanup() {
        window.reset();
        rig.reset();
        QLocale::setDefault(QLocale::c());
    }

    void controlsCarryTheirNames() {
        const QStringList names{
            "Frame2",   "Frame3",    "lblSensor1",      "lblSensor2",      "lblSensor3",
            "txtTemp1", "txtTemp2",  "txtTemp3",        "cmdManual",       "cmdAuto1",
            "cmdAuto2", "cmdAuto3",  "optFan0",         "optFan1",         "Label1",
            "Label2",   "shpFanLED", "txtSensorLimit1", "txtSensorLimit2", "txtSensorLimit3"};
        for (const QString& name : names)
            QVERIFY2(window->findChild<QWidget*>(name), qPrintable(name));
        QCOMPARE(panel->Frame2->title(), QStringLiteral("Temperature"));
        QCOMPARE(panel->Frame3->title(), QStringLiteral("Fan Control"));
        QCOMPARE(panel->cmdManual->text(), QStringLiteral("Manual"));
        for (QPushButton* b : panel->cmdAuto)
            QCOMPARE(b->text(), QStringLiteral("Auto"));
        QCOMPARE(panel->Label1->text(), QStringLiteral("OFF"));
        QCOMPARE(panel->Label2->text(), QStringLiteral("ON"));
        for (QLineEdit* t : panel->txtTemp)
            QVERIFY(t->isReadOnly());
    }

    void startsDisconnected() {
        QVERIFY(!panel->cmdManual->isEnabled());
        QCOMPARE(BackColour(panel->cmdManual), ColourOff);
        for (QPushButton* b : panel->cmdAuto) {
            QVERIFY(!b->isEnabled());
            QCOMPARE(BackColour(b), ColourOff);
        }
        QVERIFY(!panel->optFan[0]->isEnabled());
        QVERIFY(!panel->optFan[1]->isEnabled());
        QVERIFY(panel->optFan[0]->isChecked());
        QCOMPARE(BackColour(panel->shpFanLED), ColourOff);
        QCOMPARE(panel->FanMode, 0);
    }

    void loadsNamesAndLimits_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("limit");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << "C" << 40.0 << "40";
        QTest::newRow("fraction") << "C" << 2.5 << "2.5";
        QTest::newRow("negative") << "C" << -1.25 << "-1.25";
        QTest::newRow("no grouping") << "en_US" << 12345.5 << "12345.5";
        QTest::newRow("german comma") << "de_DE" << 2.5 << "2,5";
        QTest::newRow("swedish minus is '-'") << "sv_SE" << -1.25 << "-1,25";
        QTest::newRow("1E+15 in full") << "C" << 1e15 << "1000000000000000";
        QTest::newRow("every digit") << "C" << 0.1 + 0.2 << "0.30000000000000004";
    }
    void loadsNamesAndLimits() {
        QFETCH(QString, locale);
        QFETCH(double, limit);
        QFETCH(QString, text);
        QLocale::setDefault(QLocale(locale));
        rig->settings.SensorName1 = QStringLiteral("Mirror");
        rig->settings.SensorLimit1 = limit;
        panel->LoadFromSettings();
        QCOMPARE(panel->lblSensor[0]->text(), QStringLiteral("Mirror"));
        QCOMPARE(panel->lblSensor[1]->text(), QStringLiteral("Ambient"));
        QCOMPARE(panel->lblSensor[2]->text(), QStringLiteral("Secondary"));
        QCOMPARE(panel->txtSensorLimit[0]->text(), text);
        QCOMPARE(panel->txtSensorLimit[1]->text(), QStringLiteral("3"));
        rig->settings.SensorName3 = QStringLiteral("Tube");
        panel->UpdateSensorNames();
        QCOMPARE(panel->lblSensor[2]->text(), QStringLiteral("Tube"));
        // Auto takes the shown text back: the limit must survive it unchanged.
        panel->cmdAuto_Click(1);
        QCOMPARE(panel->FanMode, 1);
        QCOMPARE(rig->settings.SensorLimit1, limit);
    }

    void display_data() {
        QTest::addColumn<int>("degrees");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("celsius") << 0 << "C" << QStringList{"21.2°C", "-12.3°C", "n/a"};
        QTest::newRow("fahrenheit") << 1 << "C" << QStringList{"70.2°F", "9.9°F", "n/a"};
        QTest::newRow("comma locale") << 0 << "de_DE" << QStringList{"21,2°C", "-12,3°C", "n/a"};
        QTest::newRow("swedish minus is '-'")
            << 0 << "sv_SE" << QStringList{"21,2°C", "-12,3°C", "n/a"};
    }
    void display() {
        QFETCH(int, degrees);
        QFETCH(QString, locale);
        QFETCH(QStringList, texts);
        QLocale::setDefault(QLocale(locale));
        rig->settings.Degrees = degrees;
        setSensors({21.25, -12.3125, std::nullopt}); // read as 21.2 and -12.3
        rig->sim.connect();
        panel->UpdateStatus();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(panel->txtTemp[i]->text(), texts[i]);
    }

    void updateInManualModeOnlyReads() {
        connectPanel();
        rig->sim.clearFrames();
        panel->UpdateStatus();
        QCOMPARE(rig->sim.framesHex(), (QStringList{kTemp1, kTemp2, kTemp3, kFanState}));
    }

    void automaticRule_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("degrees");
        QTest::addColumn<SetPoints>("sensors");
        QTest::addColumn<double>("limit");
        QTest::addColumn<bool>("fanRunning");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QColor>("lamp");
        QTest::addColumn<QStringList>("sent");

        const QStringList on{kFanOn};
        const QStringList off{kFanOff};
        const std::optional<double> missing;
        // The rule's table is the core's; these show the panel sends its verdict and shows it.
        QTest::newRow("1 above, fan off")
            << 1 << 0 << SetPoints{40.5, 12.5, missing} << 40.0 << false << 1 << ColourOn << on;
        QTest::newRow("2 sensor 2 missing, fan off")
            << 2 << 0 << SetPoints{40.0, missing, 9.0} << 3.0 << false << 0 << ColourOff << off;
        QTest::newRow("3 below") << 3 << 0 << SetPoints{13.0, 12.5, 10.5} << 3.0 << true << 0
                                 << ColourOff << off;
    }
    void automaticRule() {
        QFETCH(int, mode);
        QFETCH(int, degrees);
        QFETCH(SetPoints, sensors);
        QFETCH(double, limit);
        QFETCH(bool, fanRunning);
        QFETCH(int, selected);
        QFETCH(QColor, lamp);
        QFETCH(QStringList, sent);

        rig->settings.Degrees = degrees;
        // Only the mode's own limit may matter.
        rig->settings.SensorLimit1 = rig->settings.SensorLimit2 = rig->settings.SensorLimit3 =
            -1000;
        (mode == 1   ? rig->settings.SensorLimit1
         : mode == 2 ? rig->settings.SensorLimit2
                     : rig->settings.SensorLimit3) = limit;
        panel->LoadFromSettings();
        setSensors(sensors);
        rig->sim.model.setFanOn(fanRunning);
        connectPanel();
        panel->FanRequest = 0;
        panel->cmdAuto_Click(mode);
        QCOMPARE(panel->FanMode, mode);
        rig->sim.clearFrames();

        panel->UpdateStatus();

        QCOMPARE(fanCommands(), sent);
        QVERIFY(panel->optFan[selected]->isChecked());
        QVERIFY(!panel->optFan[1 - selected]->isChecked());
        QCOMPARE(BackColour(panel->shpFanLED), lamp);
        QCOMPARE(panel->FanRequest, 0); // the rule never queues
        const bool runningAfter = sent.isEmpty() ? fanRunning : sent.first() == kFanOn;
        QCOMPARE(rig->sim.model.fanOn(), runningAfter);
    }

    void missingSensorSwitchesOffAtEveryUpdate() {
        setSensors({20.0, std::nullopt, 9.0});
        connectPanel();
        panel->cmdAuto_Click(2);
        rig->sim.clearFrames();
        panel->UpdateStatus();
        panel->UpdateStatus();
        QCOMPARE(fanCommands(), (QStringList{kFanOff, kFanOff}));
    }

    void failedFanStateReadsAsRunning() {
        setSensors({30.0, 12.5, std::nullopt});
        connectPanel();
        panel->cmdAuto_Click(1); // 30 is below the default 40
        rig->sim.model.injectFault(40, sim::Fault::NoAnswer, 2);
        rig->sim.clearFrames();
        panel->UpdateStatus();
        QCOMPARE(fanCommands(), QStringList{kFanOff});
    }

    void failedTemperatureReadIsNoReading() {
        setSensors({45.0, 12.5, 9.0});
        rig->settings.Logging = true;
        connectPanel();
        panel->cmdAuto_Click(1); // 45 > 40 would switch the fan on
        rig->sim.model.setFanOn(false);
        // Both attempts of the first read go unanswered.
        rig->sim.model.injectFault(38, sim::Fault::NoAnswer, 2);
        QFile::remove(rig->console.logPath);
        rig->sim.clearFrames();

        panel->UpdateStatus();

        QCOMPARE(panel->txtTemp[0]->text(), QStringLiteral("n/a"));
        QCOMPARE(panel->txtTemp[1]->text(), QStringLiteral("12.5°C"));
        QCOMPARE(panel->txtTemp[2]->text(), QStringLiteral("9.0°C"));
        QCOMPARE(fanCommands(), QStringList{kFanOff});
        QVERIFY(panel->optFan[0]->isChecked());
        QCOMPARE(BackColour(panel->shpFanLED), ColourOff);
        QCOMPARE(readAll(rig->console.logPath),
                 kHeader + "\"2024-03-05 21:07:09\",     , 12.5,  9.0,1,0\r\n");
    }

    void manualFanIsQueuedForTheTick() {
        showWindow();
        connectPanel();
        QCOMPARE(panel->FanRequest, -1);
        rig->sim.clearFrames();
        panel->SendQueuedFanCommand();
        QCOMPARE(rig->sim.framesHex(), QStringList{kFanOff});
        QCOMPARE(panel->FanRequest, 0);

        rig->sim.clearFrames();
        QTest::mouseClick(panel->optFan[1], Qt::LeftButton);
        QVERIFY(panel->optFan[1]->isChecked());
        QCOMPARE(BackColour(panel->shpFanLED), ColourOn);
        QCOMPARE(panel->FanRequest, 1);
        QVERIFY(rig->sim.framesHex().isEmpty()); // nothing until the tick
        panel->SendQueuedFanCommand();
        QCOMPARE(rig->sim.framesHex(), QStringList{kFanOn});
        QVERIFY(rig->sim.model.fanOn());
        QCOMPARE(panel->FanRequest, 0);

        rig->sim.clearFrames();
        panel->SendQueuedFanCommand();
        QVERIFY(rig->sim.framesHex().isEmpty());

        QTest::mouseClick(panel->optFan[0], Qt::LeftButton);
        QCOMPARE(BackColour(panel->shpFanLED), ColourOff);
        QCOMPARE(panel->FanRequest, -1);
        panel->SendQueuedFanCommand();
        QCOMPARE(rig->sim.framesHex(), QStringList{kFanOff});
        QVERIFY(!rig->sim.model.fanOn());
    }

    void clickDuringSendStaysQueued() {
        connectPanel();
        bool clicked = false;
        rig->sim.platform.onPump([this, &clicked] {
            if (!clicked) {
                clicked = true;
                panel->optFan_Click(1);
            }
        });
        panel->SendQueuedFanCommand(); // sends the off of the connect
        QVERIFY(clicked);
        QCOMPARE(panel->FanRequest, 1);
        rig->sim.clearFrames();
        panel->SendQueuedFanCommand();
        QCOMPARE(fanCommands(), QStringList{kFanOn});
    }

    void fanButtonsDoNothingInAutomaticMode() {
        showWindow();
        connectPanel();
        panel->SendQueuedFanCommand();
        panel->cmdAuto_Click(1);
        QTest::mouseClick(panel->optFan[1], Qt::LeftButton);
        QVERIFY(panel->optFan[0]->isChecked());
        panel->optFan_Click(1);
        QCOMPARE(panel->FanRequest, 0);
        QCOMPARE(BackColour(panel->shpFanLED), ColourOff);
    }

    void switchingToManualQueuesOff() {
        setSensors({45.0, 12.5, std::nullopt});
        connectPanel();
        panel->SendQueuedFanCommand();
        panel->cmdAuto_Click(1);
        panel->UpdateStatus();
        QVERIFY(rig->sim.model.fanOn());
        QVERIFY(panel->optFan[1]->isChecked());
        QCOMPARE(BackColour(panel->shpFanLED), ColourOn);

        panel->cmdManual_Click();
        QCOMPARE(panel->FanMode, 0);
        QVERIFY(panel->optFan[0]->isChecked());
        QCOMPARE(BackColour(panel->shpFanLED), ColourOff);
        QCOMPARE(panel->FanRequest, -1);
        rig->sim.clearFrames();
        panel->SendQueuedFanCommand();
        QCOMPARE(rig->sim.framesHex(), QStringList{kFanOff});
        QVERIFY(!rig->sim.model.fanOn());
    }

    void modeButtons_data() {
        QTest::addColumn<int>("button"); // 0 Manual, 1..3 Auto
        for (int b = 0; b <= 3; ++b)
            QTest::addRow("%s", b == 0 ? "Manual" : qPrintable(QStringLiteral("Auto%1").arg(b)))
                << b;
    }
    void modeButtons() {
        QFETCH(int, button);
        showWindow();
        connectPanel();
        QPushButton* buttons[4] = {panel->cmdManual, panel->cmdAuto[0], panel->cmdAuto[1],
                                   panel->cmdAuto[2]};
        // Start from another mode so the clicked button is enabled.
        panel->cmdAuto_Click(button == 3 ? 2 : 3);
        if (button != 0)
            panel->cmdManual_Click();
        panel->FanRequest = 0;
        QTest::mouseClick(buttons[button], Qt::LeftButton);

        QCOMPARE(panel->FanMode, button);
        for (int b = 0; b <= 3; ++b) {
            QCOMPARE(buttons[b]->isEnabled(), b != button);
            QCOMPARE(BackColour(buttons[b]), b == button ? ColourOn : ColourOff);
        }
        const bool manual = button == 0;
        QCOMPARE(panel->optFan[0]->isEnabled(), manual);
        QCOMPARE(panel->optFan[1]->isEnabled(), manual);
        QVERIFY(panel->optFan[0]->isChecked());
        for (QLineEdit* box : panel->txtSensorLimit)
            QCOMPARE(box->isReadOnly(), !manual);
        QCOMPARE(panel->FanRequest, manual ? -1 : 0);
    }

    void autoLeavesLampAlone() {
        showWindow();
        connectPanel();
        QTest::mouseClick(panel->optFan[1], Qt::LeftButton);
        panel->FanRequest = 0;
        panel->cmdAuto_Click(2);
        QCOMPARE(BackColour(panel->shpFanLED), ColourOn);
        QVERIFY(panel->optFan[0]->isChecked());
        QCOMPARE(panel->FanRequest, 0);
    }

    void lockedLimitsTakeNoTyping() {
        showWindow();
        connectPanel();
        panel->cmdAuto_Click(1);
        panel->txtSensorLimit[0]->setFocus();
        QTest::keyClicks(panel->txtSensorLimit[0], "9");
        QCOMPARE(panel->txtSensorLimit[0]->text(), QStringLiteral("40"));
    }

    void disconnectedState() {
        connectPanel();
        panel->cmdAuto_Click(3);
        panel->SetDisconnectedState();
        QCOMPARE(panel->FanMode, 0);
        QVERIFY(!panel->cmdManual->isEnabled());
        QCOMPARE(BackColour(panel->cmdManual), ColourOff);
        for (QPushButton* b : panel->cmdAuto) {
            QVERIFY(!b->isEnabled());
            QCOMPARE(BackColour(b), ColourOff);
        }
        QVERIFY(!panel->optFan[0]->isEnabled());
        QVERIFY(!panel->optFan[1]->isEnabled());
        QVERIFY(panel->optFan[0]->isChecked());
        QCOMPARE(BackColour(panel->shpFanLED), ColourOff);
        for (QLineEdit* box : panel->txtSensorLimit)
            QVERIFY(!box->isReadOnly());
    }

    void limitValidation_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::addColumn<double>("limit");
        QTest::newRow("1 blank") << 1 << "C"
                                 << ""
                                 << "SensorLimit1 cannot be blank!" << 40.0;
        QTest::newRow("2 blank") << 2 << "C"
                                 << ""
                                 << "SensorLimit2 cannot be blank!" << 3.0;
        QTest::newRow("3 blank") << 3 << "C"
                                 << ""
                                 << "SensorLimit3 cannot be blank!" << 3.0;
        QTest::newRow("only blanks") << 1 << "C"
                                     << "   "
                                     << "SensorLimit1 must be Numeric!" << 40.0;
        QTest::newRow("1 letters") << 1 << "C"
                                   << "warm"
                                   << "SensorLimit1 must be Numeric!" << 40.0;
        QTest::newRow("2 letters") << 2 << "C"
                                   << "4x"
                                   << "SensorLimit2 must be Numeric!" << 3.0;
        QTest::newRow("3 letters") << 3 << "C"
                                   << "-"
                                   << "SensorLimit3 must be Numeric!" << 3.0;
        QTest::newRow("number") << 1 << "C"
                                << "45.5"
                                << "" << 45.5;
        QTest::newRow("negative") << 2 << "C"
                                  << "-1.5"
                                  << "" << -1.5;
        QTest::newRow("german comma") << 3 << "de_DE"
                                      << "2,5"
                                      << "" << 2.5;
        QTest::newRow("german point") << 3 << "de_DE"
                                      << "2.5"
                                      << "" << 2.5;
        QTest::newRow("comma in C") << 3 << "C"
                                    << "2,5"
                                    << "SensorLimit3 must be Numeric!" << 3.0;
    }
    void limitValidation() {
        QFETCH(int, n);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(double, limit);
        QLocale::setDefault(QLocale(locale));
        showWindow();
        QLineEdit* box = panel->txtSensorLimit[n - 1];
        box->setFocus();
        QCOMPARE(QApplication::focusWidget(), box);
        box->setText(text);

        QWidget* focusAtMessage = nullptr;
        rig->messages.onShow = [&focusAtMessage](const test::ShownMessage&) {
            focusAtMessage = QApplication::focusWidget();
        };
        elsewhere->setFocus(); // the operator leaves the box
        test::Settle(window.get());

        const double limits[3] = {rig->settings.SensorLimit1, rig->settings.SensorLimit2,
                                  rig->settings.SensorLimit3};
        QCOMPARE(limits[n - 1], limit);
        if (message.isEmpty()) {
            QVERIFY(rig->messages.shown.isEmpty());
            QCOMPARE(QApplication::focusWidget(), elsewhere);
            return;
        }
        QCOMPARE(rig->messages.shown.size(), 1);
        QCOMPARE(rig->messages.shown[0].text, message);
        QCOMPARE(rig->messages.shown[0].icon, MsgIcon::Warning);
        QCOMPARE(rig->messages.shown[0].title, QStringLiteral("tarnivel"));
        QVERIFY(focusAtMessage != nullptr);
        QCOMPARE(QApplication::focusWidget(), box); // kept in the box

        // Still wrong: leaving again says so again, once.
        elsewhere->setFocus();
        test::Settle(window.get());
        QCOMPARE(rig->messages.shown.size(), 2);
        QCOMPARE(QApplication::focusWidget(), box);
        // Corrected: the focus may go.
        box->setText(QStringLiteral("7"));
        elsewhere->setFocus();
        test::Settle(window.get());
        QCOMPARE(rig->messages.shown.size(), 2);
        QCOMPARE(QApplication::focusWidget(), elsewhere);
        const double after[3] = {rig->settings.SensorLimit1, rig->settings.SensorLimit2,
                                 rig->settings.SensorLimit3};
        QCOMPARE(after[n - 1], 7.0);
    }

    void tabAndReturnValidate() {
        showWindow();
        QLineEdit* box = panel->txtSensorLimit[1];
        box->setFocus();
        box->setText(QStringLiteral("abc"));
        QTest::keyClick(box, Qt::Key_Return);
        test::Settle(window.get());
        QCOMPARE(rig->messages.texts(), QStringList{"SensorLimit2 must be Numeric!"});
        QTest::keyClick(box, Qt::Key_Tab);
        test::Settle(window.get());
        QCOMPARE(rig->messages.shown.size(), 2);
        QCOMPARE(QApplication::focusWidget(), box);
        box->setText(QStringLiteral("4.25"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(rig->settings.SensorLimit2, 4.25);
        QCOMPARE(rig->messages.shown.size(), 2);
    }

    void windowLosingFocusDoesNotValidate() {
        showWindow();
        QLineEdit* box = panel->txtSensorLimit[0];
        box->setFocus();
        box->setText(QString());
        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(box, &away);
        test::Settle(window.get());
        QVERIFY(rig->messages.shown.isEmpty());
    }

    // A real modal box takes the focus from the window while it shows: that must not count
    // as leaving the box, or every box would bring the next one.
    void realMessageBoxShowsOnce() {
        QtMessageBox boxes;
        Console console(rig->device, boxes, rig->cursor, QStringLiteral("tarnivel"),
                        rig->console.logPath, rig->console.logFileName);
        QWidget realWindow;
        auto* realPanel = new TemperaturePanel(console, &realWindow);
        auto* layout = new QVBoxLayout(&realWindow);
        layout->addWidget(realPanel->Frame3);
        auto* other = new QPushButton(QStringLiteral("Dummy"), &realWindow);
        layout->addWidget(other);
        boxes.setParent(&realWindow);
        realPanel->LoadFromSettings();
        realWindow.show();
        QApplication::setActiveWindow(&realWindow);
        QVERIFY(QTest::qWaitForWindowActive(&realWindow));

        int shown = 0;
        QString text;
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ++shown;
                if (auto* box = qobject_cast<QMessageBox*>(modal))
                    text = box->text();
                modal->close();
            }
        });
        closer.start();

        QLineEdit* box = realPanel->txtSensorLimit[0];
        box->setFocus();
        box->setText(QString());
        other->setFocus();
        test::Settle(&realWindow);
        QTest::qWait(300); // let any further box show up
        closer.stop();
        QCOMPARE(shown, 1);
        QCOMPARE(text, QStringLiteral("SensorLimit1 cannot be blank!"));
        // The window's own focus (offscreen nothing reactivates the window after the box).
        QCOMPARE(realWindow.focusWidget(), box);
        QCOMPARE(rig->settings.SensorLimit1, 40.0);
    }

    void autoTakesTheTypedLimits() {
        connectPanel();
        panel->txtSensorLimit[0]->setText(QStringLiteral("41.5"));
        panel->cmdAuto_Click(1);
        QCOMPARE(panel->FanMode, 1);
        QCOMPARE(rig->settings.SensorLimit1, 41.5);
    }

    void autoRefusedWhileALimitIsWrong_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("letters") << "x"
                                 << "SensorLimit3 must be Numeric!";
        QTest::newRow("empty") << ""
                               << "SensorLimit3 cannot be blank!";
        QTest::newRow("blanks") << "  "
                                << "SensorLimit3 must be Numeric!";
    }
    void autoRefusedWhileALimitIsWrong() {
        QFETCH(QString, text);
        QFETCH(QString, message);
        showWindow();
        connectPanel();
        panel->txtSensorLimit[2]->setText(text);
        QTest::mouseClick(panel->cmdAuto[0], Qt::LeftButton);
        QVERIFY(rig->messages.shown.isEmpty());
        test::Settle(window.get());
        QCOMPARE(rig->messages.texts(), QStringList{message});
        QCOMPARE(rig->messages.shown[0].icon, MsgIcon::Warning);
        QCOMPARE(panel->FanMode, 0);
        QVERIFY(panel->cmdAuto[0]->isEnabled());
        QCOMPARE(QApplication::focusWidget(), panel->txtSensorLimit[2]);
        QVERIFY(!panel->txtSensorLimit[2]->isReadOnly());
    }

    void logLines() {
        rig->settings.Logging = true;
        rig->settings.Degrees = 1; // the log stays in Celsius
        setSensors({-12.34, 5.0, std::nullopt});
        connectPanel(); // first line in manual mode with OFF
        panel->SendQueuedFanCommand();
        panel->optFan_Click(1);
        panel->optFan[1]->setChecked(true);
        panel->UpdateStatus();
        panel->cmdAuto_Click(2); // -12.3 - 5.0 is below 3: OFF
        panel->UpdateStatus();
        QCOMPARE(readAll(rig->console.logPath),
                 kHeader + "\"2024-03-05 21:07:09\",-12.3,  5.0,     ,0,0\r\n"
                           "\"2024-03-05 21:07:09\",-12.3,  5.0,     ,0,1\r\n"
                           "\"2024-03-05 21:07:09\",-12.3,  5.0,     ,2,0\r\n");
    }

    void logHeaderAfterDeletion() {
        rig->settings.Logging = true;
        setSensors({20.0, 12.5, 10.0});
        connectPanel();
        QVERIFY(QFile::remove(rig->console.logPath));
        panel->UpdateStatus();
        QCOMPARE(readAll(rig->console.logPath),
                 kHeader + "\"2024-03-05 21:07:09\", 20.0, 12.5, 10.0,0,0\r\n");
    }

    void noLogWhileLoggingOff() {
        connectPanel();
        panel->UpdateStatus();
        QVERIFY(!QFile::exists(rig->console.logPath));
    }

    void commaLocaleLogKeepsPoint() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        rig->settings.Logging = true;
        setSensors({21.25, -0.5, std::nullopt});
        rig->sim.connect();
        panel->UpdateStatus();
        QCOMPARE(panel->txtTemp[0]->text(), QStringLiteral("21,2°C"));
        QCOMPARE(panel->txtTemp[1]->text(), QStringLiteral("-0,5°C"));
        QCOMPARE(readAll(rig->console.logPath),
                 kHeader + "\"2024-03-05 21:07:09\", 21.2, -0.5,     ,0,0\r\n");
    }

    void unwritableLog() {
        rig->settings.Logging = true;
        const QString good = rig->console.logPath;
        // A folder where the file should be: cannot be opened for writing, even by root.
        const QString blocked = QDir(rig->dir.path()).filePath(QStringLiteral("blocked.csv"));
        QVERIFY(QDir().mkdir(blocked));
        rig->console.logPath = blocked;
        QSignalSpy status(panel, &TemperaturePanel::logStatusChanged);
        rig->sim.connect();

        panel->UpdateStatus();
        panel->UpdateStatus();
        QVERIFY(rig->messages.shown.isEmpty()); // no box at every update
        QCOMPARE(status.size(), 2);
        QVERIFY(status[0][0].toString().startsWith(QStringLiteral("Temperature log not written")));
        QCOMPARE(panel->LogStatus(), status[1][0].toString());
        QCOMPARE(panel->txtTemp[0]->text(), QStringLiteral("18.0°C")); // the update went on

        rig->console.logPath = good;
        panel->UpdateStatus();
        QCOMPARE(status.size(), 3);
        QCOMPARE(status[2][0].toString(), QString());
        QVERIFY(panel->LogStatus().isEmpty());
        panel->UpdateStatus();
        QCOMPARE(status.size(), 3);               // all-clear said once
        QCOMPARE(readAll(good).count("\r\n"), 3); // header and two lines
    }

    void loggingOffClearsTheNotice() {
        rig->settings.Logging = true;
        rig->console.logPath = QDir(rig->dir.path()).filePath(QStringLiteral("no/such/x.csv"));
        QSignalSpy status(panel, &TemperaturePanel::logStatusChanged);
        rig->sim.connect();
        panel->UpdateStatus();
        QVERIFY(!panel->LogStatus().isEmpty());
        rig->settings.Logging = false;
        panel->UpdateStatus();
        QCOMPARE(status.size(), 2);
        QCOMPARE(status[1][0].toString(), QString());
    }
};

QTEST_MAIN(TestTemperaturePanel)
#include "tst_temperaturepanel.moc"
