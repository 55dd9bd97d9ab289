#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnivel {

struct Console;
class Calibration;
class CalibrationView;
class TempCompFrame;

// "Tarnivel Options": settings passed in and out through properties, the controller's
// limits, auto-stop, reset and state report, and the calibrations.
class frmOptions : public QDialog {
    Q_OBJECT
public:
    explicit frmOptions(Console& console, QWidget* parent = nullptr);
    ~frmOptions() override;

    // Fills the controls from the properties and the controller, then shows the dialog
    // modally (through console.RunModal) and returns when it is hidden.
    void Display();

    int FormLeft = 0;
    int FormTop = 0;
    QString FormCaption;
    double ScaleFactor = 0;
    QString ScaleUnits;
    int Decimals = 0;
    int SlowSlewSpeed = 1;
    int FastSlewSpeed = 1;
    bool SlewingSound = false;
    bool CompletionSound = false;
    QString SensorName1;
    QString SensorName2;
    QString SensorName3;
    int Degrees = 0;
    bool Logging = false;
    // The TCP port the console serves Alpaca on; 0 it does not.
    int AlpacaPort = 0;
    bool Cancel = true;
    // out: a calibration ended in this dialog left the focuser uncalibrated.
    bool CalibrationNeeded = false;
    // out: a calibration completed in this dialog (any need of one said before is met, unless
    // CalibrationNeeded says a later one lost it again).
    bool CalibrationCompleted = false;

    // Enables or disables the buttons and option frames together; the quick calibration
    // stays disabled while the controller holds no calibration to reuse.
    void EnableOptionControls(bool enabled);

    // Cancel, Esc and the close box; during a calibration Esc and the close box cancel it.
    void reject() override;

    // The scale factor as the operator sees and types it.
    static QString FormatScaleFactor(double value);
    // The factor after switching units; 0 when the old unit is none of the three.

private:
    friend class CalibrationView;

    void BuildControls();
    int UnitsIndex(const QString& name) const;
    bool QuickCalibrationAvailable();
    bool ValidateScaleFactor();
    bool ValidateAlpacaPort();
    void ShowPosition();

    void cboScaleUnits_Click();
    bool RefusedDuringExchange(QCheckBox* box);
    void chkLimits_Click();
    // The limits box shows what the controller holds: off, with why, when the limits were
    // asked for but the travel is too short for any (outOfReach).
    void ShowLimitsBox(bool on, bool outOfReach);
    // After the controller confirmed limits switched on or off.
    void ShowLimitsWritten(bool on);
    void chkAutoStop_Click();
    void cmdShowStates_Click();
    void cmdReset_Click();
    void cmdOk_Click();
    void cmdCancel_Click();
    void cmdCalibrate_Click();
    void cmdQuickCalibrate_Click();
    void CalibrationDone();
    void cmdCancelCalibrate_Click();

    Console& console_;
    std::unique_ptr<CalibrationView> calibrationView_;
    std::unique_ptr<Calibration> calibration_;
    bool fillingUnits_ = false;
    // Set while a handler of this dialog talks to the controller: a second exchange
    // started from a click inside its waits would put its frames between the first's.
    bool exchanging_ = false;

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QCheckBox* chkLogging = nullptr;
    QGroupBox* Frame2 = nullptr;
    QComboBox* cboDegrees = nullptr;
    QLineEdit* txtSensor3 = nullptr;
    QLineEdit* txtSensor2 = nullptr;
    QLineEdit* txtSensor1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* cmdShowStates = nullptr;
    QGroupBox* Frame9 = nullptr;
    QPushButton* cmdQuickCalibrate = nullptr;
    QPushButton* cmdCancelCalibrate = nullptr;
    QPushButton* cmdCalibrate = nullptr;
    QLabel* lblCalibrate = nullptr;
    QLabel* lblPosition = nullptr; // the readout, which the dialog may cover
    QGroupBox* fraOptions = nullptr;
    QGroupBox* fraLimits = nullptr;
    QCheckBox* chkLimits = nullptr;
    QGroupBox* fraReset = nullptr;
    QPushButton* cmdReset = nullptr;
    QGroupBox* fraAlpaca = nullptr;
    QCheckBox* chkServeAlpaca = nullptr;
    QLineEdit* txtAlpacaPort = nullptr;
    QGroupBox* fraAutoStop = nullptr;
    QCheckBox* chkAutoStop = nullptr;
    QGroupBox* fraSoundEffects = nullptr;
    QCheckBox* chkSlewingSound = nullptr;
    QCheckBox* chkCompletionSound = nullptr;
    QGroupBox* fraDecimals = nullptr;
    QComboBox* cboDecimals = nullptr;
    QGroupBox* Frame5 = nullptr;
    QComboBox* cboFastSlewSpeed = nullptr;
    QGroupBox* Frame4 = nullptr;
    QComboBox* cboSlowSlewSpeed = nullptr;
    QGroupBox* Frame8 = nullptr;
    QComboBox* cboScaleUnits = nullptr;
    QGroupBox* fraScaleFactor = nullptr;
    QLineEdit* txtScaleFactor = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;
    QLabel* lblVersion = nullptr;
    TempCompFrame* fraTempComp = nullptr;
};

} // namespace tarnivel
