// Jogging, the up-down step control, step moves, STOP by Esc and the moving indicator.

#include "frames.h"
#include "virtualscheduler.h"
#include "windowrig.h"

#include "core/link/focuserlink.h"
#include "core/units/positionunits.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"
#include "window/plot/frmtemperatures.h"
#include "window/ui/colours.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

QString rateFrame(int rate) {
    return FrameHex(0x12, rate >= 0 ? 36 : 37, rate >= 0 ? rate : -rate, 1, 0);
}

bool showsFrame(const frmTarnivel& w, int frame) {
    return w.picLogo->pixmap().toImage() == w.imgLogo.at(frame).toImage();
}

} // namespace

class TestManualAdjust : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void jogWithinOneTickSendsNothing_data();
    void jogWithinOneTickSendsNothing();
    void jogAcrossTicks_data();
    void jogAcrossTicks();
    void jogSounds_data();
    void jogSounds();
    void jogAnyMouseButton();
    void jogDragOffBeforeRelease();
    void jogIgnoredWhileDisconnected();
    void movingIndicator();
    void upDown_data();
    void upDown();
    void stepInvalid_data();
    void stepInvalid();
    void stepUpOvershoots();
    void stepDownWrapsPastZero();
    void escapePressesStop();
    void escapeInThePlotStops();
    void stopWhileAPlotDialogIsOpen();
    void fileChooserOpenedInATickHoldsNoLegBack();
    void stopDropsAClickHeldByTheTick();
    void tickWaitsOnTheLoop();
    void guestGotoAtTheServedPace();
    void guestGotoGivenUpWhenSilent();
    void guestMovesLeaveTheTemperaturesLive();
};

void TestManualAdjust::jogWithinOneTickSendsNothing_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("fast left") << "cmdFastLeft";
    QTest::newRow("slow right") << "cmdSlowRight";
}

void TestManualAdjust::jogWithinOneTickSendsNothing() {
    QFETCH(QString, button);
    WindowRig r;
    r.rig->settings.SlewingSound = true;
    r.rig->settings.CompletionSound = true;
    r.connectTo(1);
    r.tick(); // the queued fan-off
    r.clearFrames();
    r.rig->sound.calls.clear();
    auto* b = r.w->findChild<JogButton*>(button);
    QTest::mousePress(b, Qt::LeftButton);
    QTest::mouseRelease(b, Qt::LeftButton);
    r.tick(3); // ticks 2-4: no position refresh yet (every 5th tick)
    QVERIFY(r.frames().isEmpty());
    QVERIFY(r.rig->sound.calls.isEmpty());
    QCOMPARE(r.rig->motion.ActiveJogRate, 0);
}

void TestManualAdjust::jogAcrossTicks_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("rate");
    QTest::newRow("fast left") << "cmdFastLeft" << -9;
    QTest::newRow("slow left") << "cmdSlowLeft" << -4;
    QTest::newRow("slow right") << "cmdSlowRight" << 4;
    QTest::newRow("fast right") << "cmdFastRight" << 9;
}

void TestManualAdjust::jogAcrossTicks() {
    QFETCH(QString, button);
    QFETCH(int, rate);
    WindowRig r;
    r.connectTo(1);
    r.tick();
    r.w->show();
    auto* b = r.w->findChild<JogButton*>(button);
    QVERIFY(b);

    QTest::mousePress(b, Qt::LeftButton);
    QCOMPARE(r.rig->motion.JogRate, rate);
    QCOMPARE(BackColour(b), ColourOn);
    r.clearFrames();
    r.tick(3);
    QCOMPARE(r.frames(), QStringList{rateFrame(rate)});
    QCOMPARE(r.rig->motion.MotionDirection, rate > 0 ? 1 : -1);
    QVERIFY(r.rig->sim.model.isMoving());

    QTest::mouseRelease(b, Qt::LeftButton);
    QCOMPARE(r.rig->motion.JogRate, 0);
    QCOMPARE(BackColour(b), ColourOff);
    QCOMPARE(r.w->focusWidget(), r.w->cmdDummy);
    r.clearFrames();
    r.tick(); // tick 5 also refreshes the readout
    QCOMPARE(r.frames(), (QStringList{kStopFrame, "50 01 12 01 00 00 00 03"}));
    QCOMPARE(r.rig->motion.MotionDirection, 0);
    QVERIFY(!r.rig->sim.model.isMoving());
    r.clearFrames();
    r.tick(3);
    QVERIFY(r.frames().isEmpty());
}

void TestManualAdjust::jogSounds_data() {
    QTest::addColumn<bool>("slewing");
    QTest::addColumn<bool>("completion");
    QTest::addColumn<QList<SoundCall>>("calls");
    QTest::newRow("both") << true << true
                          << QList<SoundCall>{{"BegSlew", true}, {"EndSlew", false}};
    QTest::newRow("silent start") << false << true << QList<SoundCall>{{"EndSlew", false}};
    QTest::newRow("silent end") << true << false
                                << QList<SoundCall>{{"BegSlew", true}, {QString(), false}};
    QTest::newRow("none") << false << false << QList<SoundCall>{{QString(), false}};
}

void TestManualAdjust::jogSounds() {
    QFETCH(bool, slewing);
    QFETCH(bool, completion);
    QFETCH(QList<SoundCall>, calls);
    WindowRig r;
    r.rig->settings.SlewingSound = slewing;
    r.rig->settings.CompletionSound = completion;
    r.connectTo(1);
    r.tick();
    r.rig->sound.calls.clear();
    QTest::mousePress(r.w->cmdSlowLeft, Qt::LeftButton);
    r.tick(2);
    QTest::mouseRelease(r.w->cmdSlowLeft, Qt::LeftButton);
    r.tick(2);
    QCOMPARE(r.rig->sound.calls, calls);
}

void TestManualAdjust::jogAnyMouseButton() {
    WindowRig r;
    r.connectTo(1);
    r.tick();
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(r.w->cmdFastRight, button);
        QCOMPARE(r.rig->motion.JogRate, 9);
        QCOMPARE(BackColour(r.w->cmdFastRight), ColourOn);
        r.clearFrames();
        r.tick();
        QCOMPARE(r.frames().value(0), rateFrame(9));
        QTest::mouseRelease(r.w->cmdFastRight, button);
        QCOMPARE(r.rig->motion.JogRate, 0);
        QCOMPARE(BackColour(r.w->cmdFastRight), ColourOff);
        r.clearFrames();
        r.tick();
        QCOMPARE(r.frames().value(0), kStopFrame);
    }
}

void TestManualAdjust::jogDragOffBeforeRelease() {
    WindowRig r;
    r.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.w.get()));
    r.connectTo(1);
    r.tick();
    QWindow* window = r.w->windowHandle();
    const QPoint onButton = r.w->cmdSlowRight->mapTo(r.w.get(), r.w->cmdSlowRight->rect().center());
    const QPoint elsewhere = r.w->NumLED->mapTo(r.w.get(), r.w->NumLED->rect().center());

    QTest::mousePress(window, Qt::LeftButton, {}, onButton);
    QCOMPARE(r.rig->motion.JogRate, 4);
    r.tick();
    QVERIFY(r.rig->sim.model.isMoving());
    QTest::mouseMove(window, elsewhere);
    QTest::mouseRelease(window, Qt::LeftButton, {}, elsewhere);
    // The release reached the button that took the press.
    QCOMPARE(r.rig->motion.JogRate, 0);
    QCOMPARE(BackColour(r.w->cmdSlowRight), ColourOff);
    r.clearFrames();
    r.tick();
    QCOMPARE(r.frames().value(0), kStopFrame);
    QVERIFY(!r.rig->sim.model.isMoving());
}

void TestManualAdjust::jogIgnoredWhileDisconnected() {
    WindowRig r;
    r.w->show();
    // The frame is disabled while disconnected; the handlers refuse as well.
    r.w->JogPress(r.w->cmdFastLeft, -9);
    QCOMPARE(r.rig->motion.JogRate, 0);
    QCOMPARE(BackColour(r.w->cmdFastLeft), ColourOff);
    r.w->JogRelease(r.w->cmdFastLeft);
    QCOMPARE(r.w->focusWidget(), r.w->cmdDummy);
    QCOMPARE(r.rig->motion.JogRate, 0);
}

void TestManualAdjust::movingIndicator() {
    WindowRig r;
    r.connectTo(1);
    r.tick();
    QCOMPARE(r.w->AnimationFrame, 0);
    QVERIFY(showsFrame(*r.w, 0));

    QTest::mousePress(r.w->cmdSlowRight, Qt::LeftButton);
    QList<int> frames;
    for (int i = 0; i < 9; ++i) {
        r.tick();
        frames << r.w->AnimationFrame;
        QVERIFY(showsFrame(*r.w, r.w->AnimationFrame));
    }
    QCOMPARE(frames, (QList<int>{1, 2, 3, 4, 5, 6, 7, 0, 1}));
    QTest::mouseRelease(r.w->cmdSlowRight, Qt::LeftButton);
    r.tick(3);
    // Idle: frozen on the last frame.
    QCOMPARE(r.w->AnimationFrame, 1);
    QVERIFY(showsFrame(*r.w, 1));

    QTest::mousePress(r.w->cmdSlowLeft, Qt::LeftButton);
    frames.clear();
    for (int i = 0; i < 3; ++i) {
        r.tick();
        frames << r.w->AnimationFrame;
    }
    QCOMPARE(frames, (QList<int>{0, 7, 6}));
    QVERIFY(showsFrame(*r.w, 6));
    QTest::mouseRelease(r.w->cmdSlowLeft, Qt::LeftButton);

    // Every frame is a picture of its own.
    for (int i = 1; i < r.w->imgLogo.size(); ++i)
        QVERIFY(r.w->imgLogo.at(i).toImage() != r.w->imgLogo.at(i - 1).toImage());
}

void TestManualAdjust::upDown_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("presses"); // u = up, d = down
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("1 up") << "1"
                          << "uuu" << QStringList{"2", "4", "8"};
    QTest::newRow("1 down") << "1"
                            << "ddd" << QStringList{"0.9375", "0.875", "0.8125"};
    QTest::newRow("down to the floor") << "0.125"
                                       << "ddd" << QStringList{"0.0625", "0.0625", "0.0625"};
    QTest::newRow("0.9375 up") << "0.9375"
                               << "u" << QStringList{"1"};
    QTest::newRow("65536 up caps") << "65536"
                                   << "uu" << QStringList{"100000", "100000"};
    QTest::newRow("1.5 down") << "1.5"
                              << "d" << QStringList{"0.75"};
    QTest::newRow("3 down") << "3"
                            << "d" << QStringList{"1.5"};
    QTest::newRow("100000 halves")
        << "100000"
        << "ddddd" << QStringList{"50000", "25000", "12500", "6250", "3125"};
    QTest::newRow("down to 1.52...") << "3.0517578125"
                                     << "d" << QStringList{"1.52587890625"};
    QTest::newRow("blanks around") << " 2 "
                                   << "u" << QStringList{"4"};
    QTest::newRow("letters") << "abc"
                             << "ud" << QStringList{"abc", "abc"};
    QTest::newRow("empty") << ""
                           << "ud" << QStringList{"", ""};
    QTest::newRow("zero") << "0"
                          << "ud" << QStringList{"0", "0"};
    QTest::newRow("negative") << "-2"
                              << "ud" << QStringList{"-2", "-2"};
}

void TestManualAdjust::upDown() {
    QFETCH(QString, start);
    QFETCH(QString, presses);
    QFETCH(QStringList, texts);
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.w->txtAdjust->setText(start);
    UpDownControl* updown = r.w->UpDownAdjust;
    const int half = updown->height() / 2;
    QStringList seen;
    for (const QChar p : presses) {
        // The boundary row counts as "up".
        const QPoint at(updown->width() / 2, p == 'u' ? half : half + 1);
        QTest::mouseClick(updown, Qt::LeftButton, {}, at);
        seen << r.w->txtAdjust->text();
    }
    QCOMPARE(seen, texts);
    r.clearFrames();
    QTest::mouseClick(updown, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(r.frames().isEmpty());
}

void TestManualAdjust::stepInvalid_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("up");
    QTest::newRow("zero +") << "0" << true;
    QTest::newRow("minus one +") << "-1" << true;
    QTest::newRow("letters -") << "abc" << false;
    QTest::newRow("empty +") << "  " << true;
    QTest::newRow("1e12 +") << "1e12" << true;
    QTest::newRow("1e12 -") << "1e12" << false;
    QTest::newRow("73 mm -") << "73" << false; // 8404812 steps: beyond the 24-bit range
}

void TestManualAdjust::stepInvalid() {
    QFETCH(QString, step);
    QFETCH(bool, up);
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.tick();
    r.w->txtAdjust->setText(step);
    r.clearFrames();
    (up ? r.w->cmdIncrement : r.w->cmdDecrement)->click();
    QVERIFY(r.rig->motion.GotoMode == GotoKind::None);
    QCOMPARE(r.w->focusWidget(), r.w->cmdDummy);
    QVERIFY(r.w->fraQuickAdjust->isEnabled());
    QVERIFY(r.w->cmdSlowLeft->isEnabled());
    r.tick(10);
    QCOMPARE(r.countMessage(23), 0);
    QCOMPARE(r.rig->sim.model.position(), quint32(100000));
    QCOMPARE(r.w->txtAdjust->text(), step);
}

void TestManualAdjust::stepUpOvershoots() {
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.tick();
    r.w->txtAdjust->setText("0.5"); // 57567 steps
    r.w->cmdIncrement->click();
    QCOMPARE(r.rig->motion.GotoTarget, 157567);
    QCOMPARE(r.rig->motion.GotoIntermediate, 187567);
    QCOMPARE(r.rig->motion.MotionDirection, 1);
    QVERIFY(!r.w->fraQuickAdjust->isEnabled());
    QCOMPARE(r.w->focusWidget(), r.w->cmdDummy);
    r.clearFrames();
    for (int i = 0; i < 600 && r.rig->motion.GotoMode != GotoKind::None; ++i)
        r.tick();
    r.tick();
    QStringList moves;
    for (const QString& f : r.frames())
        if (f.split(' ').value(3) == "17")
            moves << f;
    QCOMPARE(moves,
             (QStringList{FrameHex(0x12, 23, 187567, 3, 0), FrameHex(0x12, 23, 157567, 3, 0)}));
    QCOMPARE(r.rig->sim.model.position(), quint32(157567));
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("     1.369"));
    QVERIFY(r.w->fraQuickAdjust->isEnabled());
}

void TestManualAdjust::stepDownWrapsPastZero() {
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.tick();
    r.w->txtAdjust->setText("1"); // 115134 steps below 100000
    r.w->cmdDecrement->click();
    const int target = 16777216 - 15134;
    QCOMPARE(r.rig->motion.GotoTarget, target);
    QCOMPARE(r.rig->motion.GotoStage, 3); // approach from above: one move
    QCOMPARE(r.rig->motion.MotionDirection, -1);
    r.clearFrames();
    r.tick();
    QCOMPARE(r.frames(),
             (QStringList{"50 01 12 01 00 00 00 03", FrameHex(0x12, 23, target, 3, 0)}));
    QCOMPARE(r.frames().value(1), QStringLiteral("50 04 12 17 FF C4 E2 00"));
    for (int i = 0; i < 600 && r.rig->motion.GotoMode != GotoKind::None; ++i)
        r.tick();
    QCOMPARE(r.rig->sim.model.position(), quint32(target));
    QCOMPARE(r.w->NumLED->text(), QStringLiteral("    -0.131"));
}

void TestManualAdjust::escapePressesStop() {
    WindowRig r;
    r.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.w.get()));
    r.w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(r.w.get()));
    // Disabled STOP: Esc does nothing.
    QTest::keyClick(r.w.get(), Qt::Key_Escape);
    QVERIFY(r.rig->sound.calls.isEmpty());

    r.connectTo(1);
    r.tick();
    QTest::mousePress(r.w->cmdSlowRight, Qt::RightButton);
    r.tick();
    QVERIFY(r.rig->sim.model.isMoving());
    r.clearFrames();
    r.rig->sound.calls.clear();
    r.w->txtAdjust->setFocus();
    QTest::keyClick(r.w->txtAdjust, Qt::Key_Escape);
    QCOMPARE(r.frames(), QStringList{kStopFrame});
    QVERIFY(!r.rig->sim.model.isMoving());
    QCOMPARE(r.rig->motion.JogRate, 0);
    QVERIFY(r.rig->motion.GotoDone);
    QCOMPARE(r.rig->sound.calls, (QList<SoundCall>{{QString(), false}}));
    QCOMPARE(r.w->focusWidget(), r.w->cmdDummy);
    QTest::mouseRelease(r.w->cmdSlowRight, Qt::RightButton);
}

namespace {
// A jog under way with the "Temperatures" window open for the first time.
frmTemperatures* JogWithPlotOpen(WindowRig& r) {
    r.w->show();
    r.connectTo(1);
    r.tick();
    QTest::mousePress(r.w->cmdSlowRight, Qt::RightButton);
    r.tick();
    r.w->findChild<QPushButton*>(QStringLiteral("cmdPlot"))->click();
    auto* plot = r.w->findChild<frmTemperatures*>();
    r.clearFrames();
    return plot;
}
} // namespace

void TestManualAdjust::escapeInThePlotStops() {
    WindowRig r;
    frmTemperatures* plot = JogWithPlotOpen(r);
    QVERIFY(QTest::qWaitForWindowExposed(plot));
    QVERIFY(!plot->frameGeometry().intersects(r.w->frameGeometry()));
    QTest::keyClick(plot, Qt::Key_Escape);
    QCOMPARE(r.frames(), QStringList{kStopFrame});
    QCOMPARE(r.rig->motion.JogRate, 0);
    QTest::mouseRelease(r.w->cmdSlowRight, Qt::RightButton);
}

void TestManualAdjust::stopWhileAPlotDialogIsOpen() {
    WindowRig r;
    frmTemperatures* plot = JogWithPlotOpen(r);
    QStringList framesWhileOpen;
    QTimer::singleShot(50, plot, [&] {
        auto* dialog = plot->findChild<QFileDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        QTest::mouseClick(r.w->cmdStop, Qt::LeftButton);
        framesWhileOpen = r.frames();
        dialog->reject();
    });
    plot->cmdOpenLog->click();
    QCOMPARE(framesWhileOpen, QStringList{kStopFrame});
    QTest::mouseRelease(r.w->cmdSlowRight, Qt::RightButton);
}

// "Save image..." clicked while the tick waits for the first leg's answer: the chooser opens
// once the tick is over, and the poll, firing inside the chooser's loop, sends the final leg.
void TestManualAdjust::fileChooserOpenedInATickHoldsNoLegBack() {
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.tick();
    r.w->findChild<QPushButton*>(QStringLiteral("cmdPlot"))->click();
    auto* plot = r.w->findChild<frmTemperatures*>();
    QStringList framesWhileOpen;
    plot->AskImagePath = [&](QWidget*) {
        for (int i = 0; i < 600 && r.rig->motion.GotoMode != GotoKind::None; ++i)
            r.tick();
        framesWhileOpen = r.frames();
        return QString();
    };
    r.w->txtAdjust->setText("0.5");
    r.w->cmdIncrement->click();
    r.tick();
    QCOMPARE(r.frames().last(), QStringLiteral("50 04 12 17 02 DC AF 00"));
    r.clearFrames();
    bool clicked = false;
    r.rig->sim.platform.onPump([&] {
        if (!clicked && r.rig->sim.link.Busy()) {
            clicked = true;
            QTest::mouseClick(plot->cmdSaveImage, Qt::LeftButton);
        }
    });
    r.tick();
    QVERIFY(clicked);
    QTRY_VERIFY(!framesWhileOpen.isEmpty());
    QVERIFY(framesWhileOpen.contains(QStringLiteral("50 04 12 17 02 67 7F 00")));
    QCOMPARE(r.rig->sim.model.position(), quint32(157567));
}

// "+" clicked while the tick waits for a position read, then STOP: the step never starts.
void TestManualAdjust::stopDropsAClickHeldByTheTick() {
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    bool clicked = false;
    r.rig->sim.platform.onPump([&] {
        if (!clicked && r.rig->sim.link.Busy()) {
            clicked = true;
            QTest::mouseClick(r.w->cmdIncrement, Qt::LeftButton);
            QTest::mouseClick(r.w->cmdStop, Qt::LeftButton);
        }
    });
    r.tick(5);
    QVERIFY(clicked);
    r.settle();
    r.tick(5);
    QCOMPARE(r.countMessage(23), 0);
    QCOMPARE(r.rig->sim.model.position(), quint32(100000));
}

// With the program's scheduler the tick's waits for answers are turns of the window's own
// loop, never a loop inside the tick; STOP clicked meanwhile goes out at once and ends the goto.
void TestManualAdjust::tickWaitsOnTheLoop() {
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.tick();
    VirtualScheduler loop(r.rig->sim.platform);
    r.rig->console.scheduler = &loop;
    const auto tickEnded = [&] { return r.w->rateTimer->isArmed(); };
    r.w->txtAdjust->setText("0.5");
    r.w->cmdIncrement->click();
    r.clearFrames();
    const int pumps = r.rig->sim.platform.pumpCalls;
    r.tick();
    QCOMPARE(r.frames(), QStringList{"50 01 12 01 00 00 00 03"});
    QVERIFY(r.rig->sim.link.Busy());
    QVERIFY(!tickEnded());
    QVERIFY(loop.RunUntil(tickEnded, 2000));
    QCOMPARE(r.frames(), (QStringList{"50 01 12 01 00 00 00 03", "50 04 12 17 02 DC AF 00"}));
    QCOMPARE(r.rig->sim.platform.pumpCalls, pumps);

    r.clearFrames();
    r.tick();
    QCOMPARE(r.frames(), QStringList{"50 01 12 13 00 00 00 01"});
    // As in the program, the pump of STOP's own wait also runs the loop's timers, the tick's
    // waits among them.
    r.rig->sim.platform.onPump([&] { loop.RunFor(0); });
    QTest::mouseClick(r.w->cmdStop, Qt::LeftButton);
    QCOMPARE(r.frames(), (QStringList{"50 01 12 13 00 00 00 01", kStopFrame}));
    QVERIFY(loop.RunUntil(tickEnded, 2000));
    r.tick();
    QVERIFY(loop.RunUntil(tickEnded, 2000));
    // The interrupted query is asked once more, as it is when STOP comes inside a wait in place.
    QCOMPARE(r.frames(), (QStringList{"50 01 12 13 00 00 00 01", kStopFrame,
                                      "50 01 12 13 00 00 00 01", "50 01 12 01 00 00 00 03"}));
    QCOMPARE(r.rig->motion.GotoMode, GotoKind::None);
    QVERIFY(r.w->cmdIncrement->isEnabled());
}

// The console serving a network client: the window as the device's host, on a virtual loop.
struct HubRig {
    HubRig() {
        r.rig->settings.Overshoot = 0;
        r.w->show();
        r.connectTo(1);
        r.tick();
        r.rig->console.scheduler = &loop;
        device.SetHost(r.w.get());
    }
    // A check that failed mid-sequence leaves the window's run waiting on this loop: the window
    // goes first, while the loop it would cancel its wait on still stands.
    ~HubRig() {
        device.SetHost(nullptr);
        r.w.reset();
    }
    // Runs the loop until the poll's run has ended.
    bool RunEnded(int ms = 2000) {
        return loop.RunUntil([this] { return r.w->rateTimer->isArmed(); }, ms);
    }
    WindowRig r;
    VirtualScheduler loop{r.rig->sim.platform};
    FocuserDevice& device = r.rig->console.device;
};

// A network client's goto on the console: each stage at the next turn of the loop, and its halt
// held until the answer on the wire is in, then sent before the next frame.
void TestManualAdjust::guestGotoAtTheServedPace() {
    HubRig hub;
    WindowRig& r = hub.r;
    r.clearFrames();
    QVERIFY(hub.device.MoveBy(20000).ok());
    QVERIFY(r.w->rateTimer->firesSoon());
    r.w->rateTimer->fire();
    QVERIFY(hub.RunEnded());
    QVERIFY(r.w->rateTimer->firesSoon());
    r.w->rateTimer->fire();
    QVERIFY(hub.device.Stop().ok());
    QCOMPARE(r.frames(), (QStringList{"50 01 12 01 00 00 00 03", "50 04 12 17 01 D4 C0 00",
                                      "50 01 12 13 00 00 00 01"}));
    QVERIFY(hub.RunEnded());
    QCOMPARE(r.frames(),
             (QStringList{"50 01 12 01 00 00 00 03", "50 04 12 17 01 D4 C0 00",
                          "50 01 12 13 00 00 00 01", kStopFrame, "50 01 12 01 00 00 00 03"}));
    QVERIFY(!hub.device.State().moving());
}

// The served rule on the console too: a client's goto is not left waiting for a controller
// that no longer answers.
void TestManualAdjust::guestGotoGivenUpWhenSilent() {
    HubRig hub;
    WindowRig& r = hub.r;
    QVERIFY(hub.device.MoveBy(20000).ok());
    r.w->rateTimer->fire();
    QVERIFY(hub.RunEnded());
    r.rig->sim.model.setSilent(true);
    r.clearFrames();
    for (int run = 0; run < 200 && hub.device.State().moving(); ++run) {
        r.w->rateTimer->fire();
        QVERIFY(hub.RunEnded(5000)); // each command waits out its time-out twice
    }
    QVERIFY(!hub.device.State().moving());
    QCOMPARE(hub.device.State().lastGoto->failure,
             QStringLiteral("Focuser not responding for 10 seconds: the move was given up and a "
                            "stop sent."));
    QVERIFY(r.frames().contains(kStopFrame));
    r.w->rateTimer->fire();
    QVERIFY(hub.RunEnded(30000)); // the temperature update, overdue, on a silent controller
    QVERIFY(r.w->cmdIncrement->isEnabled());
}

// Back-to-back network moves: the temperature update never comes between a goto's stages, and
// held two more periods it goes before the next one's first.
void TestManualAdjust::guestMovesLeaveTheTemperaturesLive() {
    HubRig hub;
    WindowRig& r = hub.r;
    r.clearFrames();
    const qint64 start = r.rig->sim.platform.nowMs();
    for (int n = 0; r.rig->sim.platform.nowMs() - start < 30000; ++n) {
        QVERIFY(hub.device.MoveBy(n % 2 == 0 ? 2000 : -2000).ok());
        while (hub.device.State().moving()) {
            r.w->rateTimer->fire();
            QVERIFY(hub.RunEnded());
        }
    }
    QVERIFY(UpdateBetweenGotos(r.frames()));
}

QTEST_MAIN(TestManualAdjust)
#include "tst_manualadjust.moc"
