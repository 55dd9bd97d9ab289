// The main window on the real seams against the tarnivel-sim tool on a pseudo-terminal, on
// the real clock: connect, read the position, jog, disconnect. Bounded to a few seconds.

#include "realconsolerig.h"
#include "sim/simtoolprocess.h"
#include "window/app/frmtarnivel.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

class TestEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void connectJogDisconnect();
};

void TestEndToEnd::connectJogDisconnect() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    sim::SimToolProcess simulator(QStringLiteral(TARNIVEL_SIM_TOOL));
    QVERIFY2(simulator.start({"--com", "1", "--dir", folder.path(), "--auto-stop", "1", "--start",
                              "5000", "--lower", "-200000", "--upper", "200000"}),
             qPrintable(simulator.error()));
    QVERIFY(QFileInfo::exists(QDir(folder.path()).filePath(QStringLiteral("COM1"))));

    RealConsoleRig rig(folder.path());
    {
        frmTarnivel w(rig.console, rig.programFolder.settingsPath());
        w.show();
        w.cboComPort->setCurrentIndex(1);
        w.cmdConnect->click();
        // Uncalibrated: the warning is the only message.
        QCOMPARE(rig.messages.texts().size(), 1);
        QVERIFY(rig.messages.texts().at(0).startsWith(QStringLiteral("Warning: Focuser requires")));
        QVERIFY(rig.link.LinkOpen());
        QCOMPARE(rig.motion.CurrentPosition, 5000);
        // The real timer reads the position within a few ticks.
        QTRY_COMPARE_WITH_TIMEOUT(w.NumLED->text(), QStringLiteral("     0.043"), 3000);

        QTest::mousePress(w.cmdFastRight, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.motion.ActiveJogRate, 9, 2000);
        QTest::qWait(300);
        QTest::mouseRelease(w.cmdFastRight, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.motion.ActiveJogRate, 0, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(rig.motion.CurrentPosition > 5000, 3000);

        w.cmdDisconnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.LinkOpen(), 3000);
        QCOMPARE(w.NumLED->text(), QStringLiteral("---Off--"));
        QVERIFY(w.lblStatus->text().isEmpty());
        w.close();
    }
    QVERIFY(QFile(rig.programFolder.settingsPath()).exists());
    QVERIFY(simulator.stop());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
