#pragma once

#include <QObject>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace tarnivel {

struct Console;

// Temperatures, fan control and the temperature log: the "Temperature" frame (Frame2)
// and the "Fan Control" frame (Frame3) of the main window, which places them.
class TemperaturePanel : public QObject {
    Q_OBJECT
public:
    TemperaturePanel(Console& console, QWidget* parent);

    // Sensor labels and limit texts from the settings (start-up).
    void LoadFromSettings();
    // Sensor label captions after the options dialog changed the names.
    void UpdateSensorNames();

    // One temperature, fan and log cycle (at connect and every 500 \ Frequency ticks).
    void UpdateStatus();
    void cmdManual_Click();
    void cmdAuto_Click(int n); // n = 1..3
    void optFan_Click(int index);
    // Fan controls into the disconnected state (FanMode 0, all disabled, lamp off).
    void SetDisconnectedState();
    // Sends a queued manual fan command, if any (poll tick).
    void SendQueuedFanCommand();

    int FanMode = 0;
    int FanRequest = 0;

    QGroupBox* Frame2 = nullptr; // "Temperature"
    QGroupBox* Frame3 = nullptr; // "Fan Control"
    QLabel* lblSensor[3] = {};
    QLineEdit* txtTemp[3] = {};
    QPushButton* cmdManual = nullptr;
    QPushButton* cmdAuto[3] = {};
    QLineEdit* txtSensorLimit[3] = {};
    QRadioButton* optFan[2] = {};
    QWidget* shpFanLED = nullptr;

private:
    Console& console_;
};

} // namespace tarnivel
