#pragma once

#include "window/plot/frmtemperatures.h"
#include "window/plot/temperatureseries.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <optional>

class QPushButton;
class QWidget;

namespace tarnivel {

struct Console;
class TemperaturePanel;

// What the main window gains for the plot: the "Plot" button in the Temperature frame, the
// readings collected from the panel's updates (the last 24 hours, whether the window is open
// or not) and the one "Temperatures" window, made at its first opening.
class TemperaturePlot : public QObject {
    Q_OBJECT
public:
    TemperaturePlot(Console& console, TemperaturePanel& panel, QWidget* mainWindow);

    // Opens the window (or brings the open one to the front).
    void cmdPlot_Click();
    // One update of the panel, with the limit of the rule that ran taken from the settings.
    void AddReadings(const QDateTime& when, const TemperatureReadings& celsius, int fanMode,
                     bool fanOn, std::optional<int> position, bool compMove);

    const TemperatureSeries& live() const { return live_; }
    // Null until the window was first opened.
    frmTemperatures* window() const { return window_; }

    QPushButton* cmdPlot = nullptr;

private:
    Console& console_;
    QWidget* mainWindow_;
    TemperatureSeries live_;
    QPointer<frmTemperatures> window_;
};

} // namespace tarnivel
