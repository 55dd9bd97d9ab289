// Draws the main window, connected to the simulated controller, into a PNG:
//   tarnivel_screenshot docs/screenshot.png
// Under xvfb-run it uses the X server's fonts and DPI; offscreen works as well.

#include "windowrig.h"

#include "core/settings/focusersettings.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshot.png");

    sim::SimConfig config = ReadyController();
    config.startPosition = 1234567;
    config.sensors[2].fitted = true;
    config.sensors[2].setPoint = 16.25;
    WindowRig r(config, "[TARNIVEL]\r\n   COMport = 1\r\n"
                        "[POSITIONS]\r\n"
                        "   Position = 1234567,Home focus\r\n"
                        "   Position = 1151344,Camera + filter\r\n"
                        "   Position = 1327080,Eyepiece 25 mm\r\n"
                        "   Position = 1499000,Off-axis guider\r\n");
    r.w->show();
    if (!QTest::qWaitForWindowExposed(r.w.get()))
        return 1;
    r.w->cmdConnect->click();
    r.tick(5);
    r.w->txtAdjust->setText(QStringLiteral("0.25"));
    r.rig->positions.SetListIndex(0);
    QTest::mousePress(r.w->cmdSlowRight, Qt::LeftButton);
    r.tick(3);
    QApplication::processEvents();
    const QPixmap shot = r.w->grab();
    QTest::mouseRelease(r.w->cmdSlowRight, Qt::LeftButton);
    r.tick(2);
    if (!shot.save(out))
        return 2;
    return 0;
}
