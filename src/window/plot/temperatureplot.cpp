#include "window/plot/temperatureplot.h"

#include "core/settings/focusersettings.h"
#include "window/app/console.h"
#include "window/app/temperaturepanel.h"
#include "window/plot/frmtemperatures.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>

namespace tarnivel {

namespace {

double LimitSetting(const FocuserSettings& s, int mode) {
    return mode == 1 ? s.SensorLimit1 : mode == 2 ? s.SensorLimit2 : s.SensorLimit3;
}

} // namespace

TemperaturePlot::TemperaturePlot(Console& console, TemperaturePanel& panel, QWidget* mainWindow)
    : QObject(mainWindow), console_(console), mainWindow_(mainWindow) {
    setObjectName(QStringLiteral("temperaturePlot"));
    cmdPlot = new QPushButton(QStringLiteral("Plot"), panel.Frame2);
    cmdPlot->setObjectName(QStringLiteral("cmdPlot"));
    cmdPlot->setAutoDefault(false);
    cmdPlot->setToolTip(QStringLiteral("Show the three temperatures, the fan and the running "
                                       "rule over time in the Temperatures window"));
    // Below the three readings, so the frame's rows keep their places.
    if (auto* grid = qobject_cast<QGridLayout*>(panel.Frame2->layout()))
        grid->addWidget(cmdPlot, grid->rowCount(), 1, Qt::AlignRight);
    connect(cmdPlot, &QPushButton::clicked, this, &TemperaturePlot::cmdPlot_Click);
    connect(&panel, &TemperaturePanel::statusUpdated, this, &TemperaturePlot::AddReadings);
}

void TemperaturePlot::cmdPlot_Click() {
    if (!window_) {
        window_ = new frmTemperatures(console_, live_, mainWindow_);
        if (console_.settings.PlotWidth <= 0 || console_.settings.PlotHeight <= 0)
            window_->PlaceBesideConsole();
    }
    window_->Refresh();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void TemperaturePlot::AddReadings(const QDateTime& when, const TemperatureReadings& celsius,
                                  int fanMode, bool fanOn, std::optional<int> position,
                                  bool compMove) {
    TemperatureSample sample;
    sample.msecs = when.toMSecsSinceEpoch();
    sample.celsius = celsius;
    sample.fanMode = fanMode;
    sample.fanOn = fanOn;
    sample.position = position;
    sample.compMove = compMove;
    if (fanMode >= 1 && fanMode <= 3) {
        // The limits are typed in the display unit in force now.
        sample.limitCelsius = LimitToCelsius(LimitSetting(console_.settings, fanMode), fanMode,
                                             console_.settings.Degrees);
    }
    live_.Append(sample);
    if (window_ && window_->isVisible())
        window_->Refresh();
}

} // namespace tarnivel
