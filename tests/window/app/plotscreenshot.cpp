// Draws the "Temperatures" window after two hours of simulated drift, with the fan switched
// by rule 2 (Primary - Ambient against SensorLimit2) and the focus following the drift by
// temperature compensation, into a PNG:
//   tarnivel_plot_screenshot docs/temperatures.png
// Under xvfb-run it uses the X server's fonts and DPI; offscreen works as well.

#include "windowrig.h"

#include "window/app/temperaturepanel.h"
#include "window/plot/frmtemperatures.h"
#include "window/plot/temperatureplot.h"

#include <QApplication>
#include <QCheckBox>
#include <QPixmap>
#include <QPushButton>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("temperatures.png");

    sim::SimConfig config = ReadyController();
    config.sensors[0] = {true, 14.0};
    config.sensors[1] = {true, 11.0};
    config.sensors[2] = {true, 12.5};
    config.driftAmplitude = 1.5;
    config.driftPeriodMs = 70 * 60 * 1000;
    // Steps as the unit, so that compensation's moves show on the position axis.
    WindowRig r(config, "[TARNIVEL]\r\n   COMport = 1\r\n   SensorLimit2 = 3\r\n"
                        "   ScaleFactor = 1\r\n   ScaleUnits = user\r\n   Decimals = 0\r\n"
                        "   TempCompCoefficient = -80\r\n");
    const QDateTime start(QDate(2026, 12, 7), QTime(20, 0, 0));
    r.w->temperatures->Now = [&r, start] { return start.addMSecs(r.rig->sim.platform.nowMs()); };
    r.w->show();
    if (!QTest::qWaitForWindowExposed(r.w.get()))
        return 1;
    r.w->cmdConnect->click();
    r.tick(5);
    r.w->temperatures->cmdAuto[1]->click();
    r.w->temperatures->chkComp->click();
    // Two hours of poll ticks on the virtual clock: a temperature update every 125 of them.
    const qint64 end = r.rig->sim.platform.nowMs() + 2 * 60 * 60 * 1000;
    while (r.rig->sim.platform.nowMs() < end)
        r.tick(25);

    auto* plot = r.w->findChild<TemperaturePlot*>();
    if (!plot)
        return 3;
    plot->cmdPlot->click();
    frmTemperatures* window = plot->window();
    window->resize(900, 520);
    if (!QTest::qWaitForWindowExposed(window))
        return 1;
    window->Refresh();
    QApplication::processEvents();
    const QPixmap shot = window->grab();
    if (!shot.save(out))
        return 2;
    return 0;
}
