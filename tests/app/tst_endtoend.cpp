// The main window on the real seams against the tarnivel-sim tool on a pseudo-terminal, on
// the real clock: connect, read the position, jog, disconnect. Bounded to a few seconds.

#include "console.h"
#include "focusercommands.h"
#include "focuserlink.h"
#include "focusersettings.h"
#include "frmtarnivel.h"
#include "gotocontroller.h"
#include "mainwidgets.h"
#include "motionstate.h"
#include "programfolder.h"
#include "qtplatform.h"
#include "qtserialport.h"
#include "ratetimer.h"
#include "recorders.h"
#include "savedpositionlist.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
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
    QProcess simulator;
    simulator.start(QStringLiteral(TARNIVEL_SIM_PATH),
                    {"--com", "1", "--dir", folder.path(), "--auto-stop", "1", "--start", "5000",
                     "--lower", "-200000", "--upper", "200000"});
    QVERIFY(simulator.waitForStarted(5000));
    const QString link = QDir(folder.path()).filePath(QStringLiteral("COM1"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(link), 5000);

    const ProgramFolder programFolder(folder.path(), QStringLiteral("tarnivel"));
    QtPlatform platform;
    QtSerialPort port(programFolder);
    FocuserLink focuserLink(port, platform);
    FocuserCommands commands(focuserLink);
    FocuserSettings settings;
    MotionState motion;
    SavedPositionList positions;
    RecordingSoundPlayer sound;
    ScriptedMessageBox messages;
    RecordingBusyCursor cursor;
    GotoController gotos(commands, settings, motion, sound, platform);
    Console console{settings,
                    motion,
                    positions,
                    focuserLink,
                    commands,
                    gotos,
                    platform,
                    sound,
                    messages,
                    cursor,
                    programFolder.baseName(),
                    programFolder.logPath(),
                    programFolder.logFileName(),
                    {},
                    {},
                    [](QDialog& dialog) { dialog.exec(); }};
    {
        frmTarnivel w(console, programFolder.settingsPath());
        w.show();
        w.cboComPort->setCurrentIndex(1);
        w.cmdConnect->click();
        // Uncalibrated: the warning is the only message.
        QCOMPARE(messages.texts().size(), 1);
        QVERIFY(messages.texts().at(0).startsWith(QStringLiteral("Warning: Focuser requires")));
        QVERIFY(focuserLink.LinkOpen());
        QCOMPARE(motion.CurrentPosition, 5000);
        // The real timer reads the position within a few ticks.
        QTRY_COMPARE_WITH_TIMEOUT(w.NumLED->text(), QStringLiteral("     0.043"), 3000);

        QTest::mousePress(w.cmdFastRight, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(motion.ActiveJogRate, 9, 2000);
        QTest::qWait(300);
        QTest::mouseRelease(w.cmdFastRight, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(motion.ActiveJogRate, 0, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(motion.CurrentPosition > 5000, 3000);

        w.cmdDisconnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(!focuserLink.LinkOpen(), 3000);
        QCOMPARE(w.NumLED->text(), QStringLiteral("---Off--"));
        QVERIFY(w.lblStatus->text().isEmpty());
        w.close();
    }
    QVERIFY(QFile(programFolder.settingsPath()).exists());
    simulator.terminate();
    QVERIFY(simulator.waitForFinished(5000));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
