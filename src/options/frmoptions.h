#pragma once

#include <QDialog>
#include <QString>

namespace tarnivel {

struct Console;

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
    bool Cancel = true;

private:
    Console& console_;
};

} // namespace tarnivel
