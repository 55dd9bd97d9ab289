#pragma once

#include "core/device/temperaturelog.h"
#include "core/seams/sequence.h"
#include "window/ui/quietcall.h"

#include <QDateTime>
#include <QObject>
#include <functional>
#include <optional>

class QCheckBox;
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
    // Tooltips that name the sensors and the display unit.
    void UpdateToolTips();

    // One temperature, fan and log cycle (at connect and every 500 \ Frequency ticks).
    void UpdateStatus();
    // The same, its commands waiting as pacer spends command waits (the poll tick's).
    Sequence<bool> UpdateStatus(Pacer& pacer);
    void cmdManual_Click();
    void cmdAuto_Click(int n); // n = 1..3
    void optFan_Click(int index);
    // Fan controls into the disconnected state (FanMode 0, all disabled, lamp off).
    void SetDisconnectedState();
    // The temperatures greyed: no longer being read (disconnected, connection lost).
    void DimReadings();
    // The "Comp" box and the "Mark focus" button from the device's compensation state; the
    // status line hears of a new compensation move or of why it waits or went off.
    void ShowTempComp();
    void chkComp_Click();
    void cmdMarkFocus_Click();
    // Sends a queued manual fan command, if any (poll tick).
    void SendQueuedFanCommand();
    Sequence<bool> SendQueuedFanCommand(Pacer& pacer);
    // Takes the limit typed into txtSensorLimit n (1..3). False, after telling the
    // operator and putting the focus back into the box, when the text is blank or not a
    // number; the limit then stays as it was.
    bool txtSensorLimit_Validate(int n);
    // The focus left box n (or Enter was pressed in it): a number is taken at once, a
    // rejected text is complained about at the next quiet moment, never in the middle of
    // the click that took the focus away (STOP) or of a command's wait.
    void LimitBoxLeft(int n);

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
    QLabel* Label1 = nullptr; // "OFF" beside optFan(0)
    QLabel* Label2 = nullptr; // "ON" beside optFan(1)
    QWidget* shpFanLED = nullptr;
    QCheckBox* chkComp = nullptr; // temperature compensation on or off
    QPushButton* cmdMarkFocus = nullptr;

    // Local date and time stamped on each log line; tests fix it.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    // The status line's text while log lines are dropped ("" when none is).
    const QString& LogStatus() const { return logStatus_; }

Q_SIGNALS:
    // For the status line: emitted with a notice each time a log line is dropped, and with
    // "" once a line is written again (or logging is switched off).
    void logStatusChanged(const QString& text);
    // For the status line: the last compensation move, why it waits or went off, or a
    // focus point just marked.
    void compStatusChanged(const QString& text);
    // At the end of every UpdateStatus, for whoever follows the temperatures over time (the
    // plot): the readings in Celsius, the fan mode and whether the fan is now meant to run
    // (what the log's Fan column says), the raw position (none once the port is lost) and
    // whether a compensation move started since the update before (the log writes neither).
    void statusUpdated(const QDateTime& when, const tarnivel::TemperatureReadings& celsius,
                       int fanMode, bool fanOn, std::optional<int> position, bool compMove);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Mode buttons and fan switch off, lamp dark: the state while no controller answers.
    void DisableFanControls();
    void FillLamp(const QColor& colour);
    void SelectFan(int index);
    void LockLimits(bool locked);
    void WriteLogLine(const TemperatureReadings& celsius);
    void SetLogStatus(const QString& text);
    void ValidatePendingLimits();

    Console& console_;
    bool validating_ = false;
    bool limitPending_[3] = {};
    QuietCall* limitCheck_ = nullptr;
    QString logStatus_;
    QString compStatus_;
    int compMovesSeen_ = 0;
};

} // namespace tarnivel
