#include "consolerig.h"
#include "window/app/temperaturepanel.h"
#include "window/plot/frmtemperatures.h"
#include "window/plot/temperatureplot.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QtTest>
#include <memory>

using namespace tarnivel;
using tarnivel::test::ConsoleRig;

namespace {

const QDateTime kStamp(QDate(2024, 3, 5), QTime(21, 7, 9));

} // namespace

class TestTemperaturesWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<ConsoleRig> rig;
    std::unique_ptr<QWidget> main;
    TemperaturePanel* panel = nullptr;
    TemperaturePlot* plot = nullptr;

    frmTemperatures* open() {
        plot->cmdPlot->click();
        return plot->window();
    }

private Q_SLOTS:
    void init() {
        rig = std::make_unique<ConsoleRig>();
        main = std::make_unique<QWidget>();
        panel = new TemperaturePanel(rig->console, main.get());
        auto* layout = new QVBoxLayout(main.get());
        layout->addWidget(panel->Frame2);
        layout->addWidget(panel->Frame3);
        panel->Now = [] { return kStamp; };
        plot = new TemperaturePlot(rig->console, *panel, main.get());
    }
    void cleanup() {
        main.reset();
        rig.reset();
    }

    void plotButtonOpensOneWindow() {
        QCOMPARE(plot->cmdPlot->parentWidget(), panel->Frame2);
        QCOMPARE(plot->cmdPlot->text(), QStringLiteral("Plot"));
        QVERIFY(!plot->window());
        frmTemperatures* w = open();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Temperatures"));
        QVERIFY(w->isWindow());
        QCOMPARE(w->windowModality(), Qt::NonModal);
        w->close();
        QCOMPARE(open(), w);
        QCOMPARE(main->findChildren<frmTemperatures*>().size(), 1);
    }

    // The readings go into the plot whether the window is open or not, with the running
    // rule's limit turned into Celsius.
    void updatesReachThePlot() {
        rig->sim.connect();
        rig->sim.model.setTemperature(1, 14.0);
        rig->sim.model.setTemperature(2, 11.0);
        rig->settings.Degrees = 1;
        rig->settings.SensorLimit2 = 9; // a Fahrenheit difference
        panel->LoadFromSettings();
        panel->UpdateStatus();
        panel->cmdAuto_Click(2);
        panel->UpdateStatus();
        QCOMPARE(plot->live().size(), 2);
        const TemperatureSample& manual = plot->live().at(0);
        QCOMPARE(manual.msecs, kStamp.toMSecsSinceEpoch());
        QCOMPARE(manual.celsius[0], TemperatureReading(14.0));
        QVERIFY(!manual.limitCelsius);
        const TemperatureSample& rule = plot->live().at(1);
        QCOMPARE(rule.fanMode, 2);
        QVERIFY(rule.limitCelsius);
        QCOMPARE(*rule.limitCelsius, 5.0);
        QVERIFY(!rule.fanOn); // 5.4 °F is not above 9
        QVERIFY(rule.position);
        // The cable out: no position is drawn on from the last one read.
        rig->sim.port.vanish();
        QVERIFY(rig->console.device.NoteLost());
        panel->UpdateStatus();
        QCOMPARE(plot->live().size(), 3);
        QVERIFY(!plot->live().at(2).position);
    }

    void compensationMoveMarked() {
        rig->sim.connect();
        rig->settings.TempCompCoefficient = -80;
        rig->settings.TempCompAverage = 0;
        rig->motion.CurrentPosition = 1000;
        panel->UpdateStatus();
        QVERIFY(rig->console.device.SetTempComp(true).ok());
        rig->sim.model.setTemperature(1, 17.5); // from 18
        panel->UpdateStatus();
        QCOMPARE(rig->console.device.TempCompTarget(), 1040);
        rig->motion.CurrentPosition = 1040;
        panel->UpdateStatus();
        frmTemperatures* w = open();
        QCOMPARE(w->positionAxis->titleText(), QStringLiteral("Position (mm)"));
        QCOMPARE(w->compMoves->points(),
                 QList<QPointF>{QPointF(kStamp.toMSecsSinceEpoch(), 0.009)});
    }

    void viewFollowsUntilScrolled() {
        frmTemperatures* w = open();
        QVERIFY(w->following());
        QVERIFY(!w->cmdFollow->isEnabled());
        w->ScrollBy(-60000);
        QVERIFY(!w->following());
        QVERIFY(w->cmdFollow->isEnabled());
        // The wheel zooms around the time under the mouse: a quarter in stays a quarter in.
        const qint64 left = w->viewLeft();
        const qint64 quarter = left + (w->viewRight() - left) / 4;
        w->ZoomBy(0.5, quarter);
        QCOMPARE(w->viewRight() - w->viewLeft(), frmTemperatures::kDefaultSpanMs / 2);
        QCOMPARE(w->viewLeft(), quarter - frmTemperatures::kDefaultSpanMs / 8);
        w->cmdFollow->click();
        QVERIFY(w->following());
        QVERIFY(!w->cmdFollow->isEnabled());
    }

    void placeAndSizeKeptInSettings() {
        frmTemperatures* w = open();
        w->resize(600, 400);
        w->move(120, 90);
        QApplication::processEvents();
        w->close();
        const double dpi = w->screen()->logicalDotsPerInchX();
        QCOMPARE(rig->settings.PlotWidth, qRound(600 * 1440 / dpi));
        QCOMPARE(rig->settings.PlotLeft, qRound(w->x() * 1440 / dpi));
        frmTemperatures again(rig->console, plot->live());
        QCOMPARE(again.size(), QSize(600, 400));
    }

    // Frames of 784x484 wanted, 547x324 the least; 1600x1000 and 1280x1024 screens.
    void placedBesideConsole_data() {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QRect>("console");
        QTest::addColumn<QRect>("placed");
        QTest::newRow("room on the right: full size, raised onto the screen")
            << QRect(0, 0, 1600, 1000) << QRect(31, 600, 741, 641) << QRect(780, 516, 784, 484);
        QTest::newRow("console in the middle: least width over its right part, not squashed")
            << QRect(0, 0, 1600, 1000) << QRect(429, 180, 741, 641) << QRect(1053, 180, 547, 484);
        QTest::newRow("console at the left: least width over its right part, on the screen")
            << QRect(1600, 0, 1280, 1024) << QRect(1631, 300, 741, 641)
            << QRect(2333, 300, 547, 484);
        QTest::newRow("console at the top: below it, lowered to the room")
            << QRect(1600, 0, 1280, 1024) << QRect(1869, 0, 741, 641) << QRect(1869, 649, 784, 375);
    }
    void placedBesideConsole() {
        QFETCH(QRect, area);
        QFETCH(QRect, console);
        QFETCH(QRect, placed);
        QCOMPARE(PlotBesideConsole(area, console, QSize(784, 484), QSize(547, 324)), placed);
    }

    void opensWhollyOnTheScreenOfTheConsole() {
        main->setGeometry(429, 180, 737, 637);
        main->show();
        frmTemperatures* w = open();
        QVERIFY(QRect(0, 0, 1600, 1000).contains(w->frameGeometry()));
        QVERIFY(w->width() >= 480 && w->height() >= 320);
    }

    void openLogShowsWhatWasRead() {
        frmTemperatures* w = open();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\"Timestamp\",\"Temp1\",\"Temp2\",\"Temp3\",\"Mode\",\"Fan\"\r\n"
                "\"2024-03-05 21:07:09\", 12.3, 11.0,     ,0,0\r\n"
                "junk\r\n"
                "\"2024-03-05 21:07:15\", 12.4, 11.0,     ,0,1\r\n");
        f.close();
        w->AskLogPath = [path](QWidget*) { return path; };
        w->cmdOpenLog->click();
        QVERIFY(w->showingLog());
        QCOMPARE(
            w->lblSource->text(),
            QStringLiteral(
                "log.csv: 2024-03-05 21:07:09 to 2024-03-05 21:07:15; 2 lines read, 1 skipped"));
        QCOMPARE(w->logSeries().size(), 2);
        w->cmdFollow->click();
        QVERIFY(!w->showingLog());

        w->OpenLog(dir.filePath(QStringLiteral("missing.csv")));
        QVERIFY(!w->showingLog());
        QCOMPARE(rig->messages.texts().size(), 1);
        QVERIFY(rig->messages.texts().at(0).startsWith(QStringLiteral("The temperature log ") +
                                                       dir.filePath(QStringLiteral("missing.csv")) +
                                                       QStringLiteral(" could not be read: ")));
    }

    void saveImageWritesPng() {
        frmTemperatures* w = open();
        QTemporaryDir dir;
        w->AskImagePath = [&dir](QWidget*) { return dir.filePath(QStringLiteral("plot")); };
        w->cmdSaveImage->click();
        QImageReader reader(dir.filePath(QStringLiteral("plot.png")));
        QCOMPARE(reader.format(), QByteArray("png"));
        QVERIFY(!w->SaveImage(dir.filePath(QStringLiteral("no/such/folder/plot.png"))));
        QCOMPARE(rig->messages.texts().size(), 1);
    }
};

QTEST_MAIN(TestTemperaturesWindow)
#include "tst_frmtemperatures.moc"
