// The program as it ships, on the real clock: its own composition (Application) with the real
// serial port against tarnivel-sim on a pseudo-terminal linked as COM1, the installed layout,
// the executable started from its install folder, and the Debian package made from the build.
// Every wait is bounded; the whole run takes about half a minute, most of it the calibration's
// fixed pauses.

#include "core/link/focusercommands.h"
#include "core/motion/motionstate.h"
#include "core/settings/programfolder.h"
#include "core/units/positionunits.h"
#include "frames.h"
#include "sim/simtoolprocess.h"
#include "testfiles.h"
#include "window/app/application.h"
#include "window/app/frmtarnivel.h"
#include "window/app/mainwidgets.h"
#include "window/options/frmoptions.h"
#include "window/positions/positionsframe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtTest>

#include <functional>
#include <unistd.h>

using namespace tarnivel;

using namespace tarnivel::test;

namespace {

const QString kSimTool = QStringLiteral(TARNIVEL_SIM_TOOL);
const QString kCMake = QStringLiteral(TARNIVEL_CMAKE);
const QString kBuildDir = QStringLiteral(TARNIVEL_BUILD_DIR);
const QString kCPack = QStringLiteral(TARNIVEL_CPACK);
const QString kVersion = QStringLiteral(TARNIVEL_VERSION);
constexpr bool kWithDriver = TARNIVEL_WITH_DRIVER;
constexpr int kStartMs = 5000;

// A settings file in whole steps, so that positions read as plain counter values.
QByteArray settingsFile(const QByteArray& positions) {
    return "[TARNIVEL]\r\n"
           "   COMport              = 1\r\n"
           "   ScaleFactor          = 1\r\n"
           "   ScaleUnits           = user\r\n"
           "   Decimals             = 0\r\n"
           "\r\n[POSITIONS]\r\n" +
           positions;
}

// tarnivel-sim on a pseudo-terminal linked as COM1 in a folder. Verbose: its output file
// lists every frame it saw. Its state file tells where the focuser stood when it stopped.
class SimTool {
public:
    explicit SimTool(const QString& folder)
        : folder_(folder), statePath_(QDir(folder).filePath(QStringLiteral("sim.state"))),
          logPath_(QDir(folder).filePath(QStringLiteral("sim.log"))), process_(kSimTool) {
        process_.setOutputFile(logPath_);
    }

    bool start(const QStringList& extra, const QByteArray& initialState = {}) {
        if (!initialState.isEmpty() && !WriteFile(statePath_, initialState))
            return false;
        return process_.start(QStringList{QStringLiteral("--com"), QStringLiteral("1"),
                                          QStringLiteral("--dir"), folder_,
                                          QStringLiteral("--state"), statePath_,
                                          QStringLiteral("--verbose")} +
                              extra);
    }

    // SIGTERM: the tool writes its state file and removes its link.
    bool stop() {
        process_.stop();
        return process_.exitedCleanly();
    }

    // Every frame the controller received, as hex, oldest first.
    QStringList frames() const {
        static const QRegularExpression line(
            QStringLiteral("^\\s*\\d+\\.\\d+  ((?:[0-9A-F]{2} ){7}[0-9A-F]{2})  -> "),
            QRegularExpression::MultilineOption);
        QStringList out;
        const QString log = QString::fromLatin1(ReadFile(logPath_));
        for (auto it = line.globalMatch(log); it.hasNext();)
            out << it.next().captured(1);
        return out;
    }

    QStringList framesWithId(int id) const {
        const QString tag = QStringLiteral("12 %1 ").arg(id, 2, 16, QLatin1Char('0')).toUpper();
        QStringList out;
        for (const QString& f : frames())
            if (f.mid(6, tag.size()) == tag)
                out << f;
        return out;
    }

    // key -> value of the state file ("place", "position", "register40", ...).
    QMap<QString, qint64> state() const {
        QMap<QString, qint64> out;
        for (const QByteArray& raw : ReadFile(statePath_).split('\n')) {
            const QList<QByteArray> kv = raw.trimmed().split('=');
            if (kv.size() == 2 && !kv[0].startsWith('#'))
                out.insert(QString::fromLatin1(kv[0]), kv[1].toLongLong());
        }
        return out;
    }

    QString log() const { return QString::fromLocal8Bit(ReadFile(logPath_)); }

private:
    QString folder_;
    QString statePath_;
    QString logPath_;
    sim::SimToolProcess process_;
};

// A calibrated controller at 5000 with room both ways, so that connecting brings up no
// warning; gotos and approaches at `speed` steps per second.
bool startCalibrated(SimTool& sim, const QString& speed, const QStringList& extra = {}) {
    const QStringList args{QStringLiteral("--start"),          QStringLiteral("5000"),
                           QStringLiteral("--lower"),          QStringLiteral("-200000"),
                           QStringLiteral("--upper"),          QStringLiteral("200000"),
                           QStringLiteral("--slew-speed"),     speed,
                           QStringLiteral("--approach-speed"), speed};
    return sim.start(args + extra, "register40=1\nautoStop=1\n");
}

// The program's message boxes are real and modal: this answers each with its default button
// and keeps its text, so that a test sees every box instead of hanging on one.
class ModalWatcher : public QObject {
public:
    ModalWatcher() {
        boxes_.setInterval(20);
        QObject::connect(&boxes_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible())
                return;
            texts << box->text();
            QAbstractButton* answer = box->defaultButton();
            if (answer == nullptr && !box->buttons().isEmpty())
                answer = box->buttons().constFirst();
            if (answer != nullptr)
                answer->click();
        });
        boxes_.start();
        // A dialog script runs long (a calibration) and must not start twice; a separate
        // timer keeps the boxes answered meanwhile.
        dialogs_.setInterval(20);
        QObject::connect(&dialogs_, &QTimer::timeout, this, [this] {
            auto* options = qobject_cast<frmOptions*>(QApplication::activeModalWidget());
            if (options == nullptr || !options->isVisible() || scripts_.isEmpty())
                return;
            scripts_.takeFirst()(*options);
        });
        dialogs_.start();
    }

    // Run once, in order, each time the options dialog comes up.
    void onOptions(std::function<void(frmOptions&)> script) { scripts_.append(std::move(script)); }
    bool scriptsDone() const { return scripts_.isEmpty(); }

    QStringList texts;

private:
    QTimer boxes_;
    QTimer dialogs_;
    QList<std::function<void(frmOptions&)>> scripts_;
};

template <typename T> T* child(QObject& parent, const char* name) {
    return parent.findChild<T*>(QString::fromLatin1(name));
}

// What the options dialog showed once a calibration ended.
struct CalibrationSeen {
    bool ran = false;
    QString label;
    bool limits = false;
    bool autoStop = false;
    bool quickEnabled = false;
    bool okEnabled = false;
};

void calibrate(frmOptions& dialog, const char* button, CalibrationSeen& seen) {
    child<QPushButton>(dialog, button)->click(); // returns when the calibration has ended
    seen.ran = true;
    seen.label = child<QLabel>(dialog, "lblCalibrate")->text();
    seen.limits = child<QCheckBox>(dialog, "chkLimits")->isChecked();
    seen.autoStop = child<QCheckBox>(dialog, "chkAutoStop")->isChecked();
    seen.quickEnabled = child<QPushButton>(dialog, "cmdQuickCalibrate")->isEnabled();
    seen.okEnabled = child<QPushButton>(dialog, "cmdOk")->isEnabled();
    child<QPushButton>(dialog, "cmdOk")->click();
}

void selectRow(QListView* view, int row) {
    const QModelIndex index = view->model()->index(row, 0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

// The step entry and "+", as the operator makes a step.
void stepUp(frmTarnivel& w, const QString& step) {
    w.txtAdjust->setText(step);
    QTest::mouseClick(w.cmdIncrement, Qt::LeftButton);
}

// The connect runs on the window's loop: it has ended, connected or not.
bool connectEnded(const frmTarnivel& w) {
    return w.cmdDisconnect->isEnabled() || w.cmdConnect->isEnabled();
}

bool idle(frmTarnivel& w, MotionState& m) {
    return w.fraPositions->isEnabled() && w.cmdOptions->isEnabled() && m.GotoStage == 0;
}

// A tool run to its end: whether it finished in time with exit code 0, and what it printed.
struct Ran {
    bool ok = false;
    QByteArray out;
    QByteArray err;
};

Ran run(const QString& program, const QStringList& arguments, int timeoutMs = kStartMs) {
    QProcess process;
    process.start(program, arguments);
    Ran ran;
    ran.ok = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit &&
             process.exitCode() == 0;
    ran.out = process.readAllStandardOutput();
    ran.err = process.readAllStandardError();
    return ran;
}

// The files an install or the package puts under the prefix, whichever way they got there.
void verifyLayout(const QDir& p) {
    QStringList programs{QStringLiteral("bin/tarnivel"), QStringLiteral("bin/tarnivel-sim")};
    if (kWithDriver)
        programs << QStringLiteral("bin/indi_tarnivel_focus");
    for (const QString& program : programs)
        QVERIFY2(QFileInfo(p.filePath(program)).isExecutable(), qPrintable(program));

    const QString desktop = QString::fromUtf8(
        ReadFile(p.filePath(QStringLiteral("share/applications/tarnivel.desktop"))));
    QVERIFY(desktop.startsWith(QStringLiteral("[Desktop Entry]\n")));
    for (const char* line :
         {"Type=Application", "Name=Tarnivel", "Exec=tarnivel", "Icon=tarnivel", "Terminal=false"})
        QVERIFY2(desktop.split(QLatin1Char('\n')).contains(QString::fromLatin1(line)), line);

    QVERIFY(ReadFile(p.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/tarnivel.svg")))
                .startsWith("<svg "));
    for (int size : {48, 128, 256}) {
        const QImage icon(
            p.filePath(QStringLiteral("share/icons/hicolor/%1x%1/apps/tarnivel.png").arg(size)));
        QCOMPARE(icon.size(), QSize(size, size));
    }

    // The driver list, element by element, as an INDI client reads it.
    const QString list = p.filePath(QStringLiteral("share/indi/indi_tarnivel.xml"));
    QCOMPARE(QFileInfo::exists(list), kWithDriver);
    if (!kWithDriver)
        return;
    QXmlStreamReader xml(ReadFile(list));
    QStringList seen;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString name = xml.name().toString();
        // A copy: reading an element's text moves the reader past its attributes.
        const QXmlStreamAttributes attributes = xml.attributes();
        if (name == QStringLiteral("devGroup"))
            seen << name + QLatin1Char('=') + attributes.value(QStringLiteral("group")).toString();
        else if (name == QStringLiteral("device"))
            seen << name + QLatin1Char('=') + attributes.value(QStringLiteral("label")).toString();
        else if (name == QStringLiteral("driver"))
            seen << name + QLatin1Char('=') + attributes.value(QStringLiteral("name")).toString() +
                        QLatin1Char(':') + xml.readElementText();
        else if (name == QStringLiteral("version"))
            seen << name + QLatin1Char('=') + xml.readElementText();
        else
            seen << name;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(seen, QStringList({QStringLiteral("driversList"), QStringLiteral("devGroup=Focusers"),
                                QStringLiteral("device=Tarnivel"),
                                QStringLiteral("driver=Tarnivel:indi_tarnivel_focus"),
                                QStringLiteral("version=%1.%2")
                                    .arg(TARNIVEL_VERSION_MAJOR)
                                    .arg(TARNIVEL_VERSION_MINOR)}));
}

// One request to the console's Alpaca server, the event loop running meanwhile: the server
// and the verbs it hands on run on this thread.
QJsonObject Alpaca(quint16 port, const QByteArray& method, const QByteArray& member,
                   const QByteArray& body = {}) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(method + " /api/v1/focuser/0/" + member + " HTTP/1.1\r\nHost: localhost\r\n" +
                 "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        socket.waitForReadyRead(5);
        reply += socket.readAll();
        const QJsonDocument json =
            QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4));
        if (json.isObject())
            return json.object();
    }
    return {};
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void settingsFolderRule_data();
    void settingsFolderRule();
    void stepGotoAndCloseWhileConnected();
    void earlyStopEndsTheGoto();
    void consoleServesAlpaca();
    void fullThenQuickCalibration();
    void installLayout();
    void installedProgramStartsQuietly();
    void debianPackages();
    void debianContents_data();
    void debianContents();
    void debianControl_data();
    void debianControl();
    void debianChecks_data();
    void debianChecks();

private:
    QTemporaryDir scratch_;
    QString prefix_;                  // where installLayout put the program
    QMap<QString, QString> packages_; // the .deb files debianPackages made, by package name
};

void TestEndToEnd::initTestCase() {
    QVERIFY(scratch_.isValid());
    // The per-user folder of this run only, never the account's own.
    qputenv("XDG_CONFIG_HOME", scratch_.filePath(QStringLiteral("config")).toLocal8Bit());
    UseProgramStyle();
}

// Settings go beside the program when it may write there, else to the per-user folder,
// which is made on the way so that the first close can save.
void TestEndToEnd::settingsFolderRule_data() {
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<bool>("beside");
    const QString writable = scratch_.filePath(QStringLiteral("portable"));
    QVERIFY(QDir().mkpath(writable));
    const QString plainFile = scratch_.filePath(QStringLiteral("a-file"));
    QVERIFY(WriteFile(plainFile, "x"));
    QTest::newRow("writable program folder") << writable << true;
    QTest::newRow("missing program folder")
        << scratch_.filePath(QStringLiteral("gone/bin")) << false;
    QTest::newRow("program folder is a file") << plainFile << false;
    QTest::newRow("no program folder") << QString() << false;
    // Root writes everywhere; the read-only case exists for everyone else.
    if (geteuid() != 0) {
        const QString readOnly = scratch_.filePath(QStringLiteral("usr-bin"));
        QVERIFY(QDir().mkpath(readOnly));
        QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner |
                                                    QFile::ReadOther | QFile::ExeOther));
        QTest::newRow("read-only program folder") << readOnly << false;
    }
}

void TestEndToEnd::settingsFolderRule() {
    QFETCH(QString, programDir);
    QFETCH(bool, beside);
    const QString user = scratch_.filePath(QStringLiteral("config/tarnivel"));
    QDir(user).removeRecursively();

    const ProgramFolder folder = ProgramFolder::resolveIn(programDir, QStringLiteral("tarnivel"));
    const QString expected = beside ? programDir : user;
    QCOMPARE(folder.folder(), expected);
    QCOMPARE(folder.settingsPath(), expected + QStringLiteral("/tarnivel.ini"));
    QCOMPARE(QFileInfo::exists(user), !beside);
    QVERIFY(WriteFile(folder.settingsPath(), "[TARNIVEL]\r\n"));
    QFile::remove(folder.settingsPath());
}

void TestEndToEnd::stepGotoAndCloseWhileConnected() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimTool sim(dir.path());
    QVERIFY2(startCalibrated(sim, QStringLiteral("100000")), qPrintable(sim.log()));
    const ProgramFolder folder(dir.path(), QStringLiteral("tarnivel"));
    QVERIFY(WriteFile(folder.settingsPath(), settingsFile("   Position             = "
                                                          "20000,Focus A\r\n")));

    ModalWatcher watcher;
    {
        Application app(folder);
        frmTarnivel& w = app.window();
        MotionState& m = app.console().motion;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.cboComPort->currentText(), QStringLiteral("COM1"));

        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(connectEnded(w), 10000);
        QVERIFY(app.console().link.LinkOpen());
        QCOMPARE(m.CurrentPosition, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(w.NumLED->text().trimmed(), QStringLiteral("5000"), 3000);

        stepUp(w, QStringLiteral("1000"));
        QVERIFY(!w.fraPositions->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(idle(w, m), 8000);
        QCOMPARE(m.CurrentPosition, 6000);

        selectRow(w.fraPositions->lstPosition, 0);
        QTest::mouseClick(w.fraPositions->cmdGoto, Qt::LeftButton);
        QVERIFY(!w.fraPositions->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(idle(w, m), 8000);
        QCOMPARE(m.CurrentPosition, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(w.NumLED->text().trimmed(), QStringLiteral("20000"), 3000);

        // Refused while connected; the next tick stops, disconnects and unloads.
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(w.unloaded(), 3000);
        QVERIFY(!w.isVisible());
        QVERIFY(!app.console().link.LinkOpen());
    }
    QVERIFY2(sim.stop(), qPrintable(sim.log()));
    QCOMPARE(watcher.texts, QStringList());

    // Both moves come in from above: the overshoot point 30000 steps past, then the target.
    QCOMPARE(
        sim.framesWithId(msg::ApproachPosition),
        (QStringList{Frame(msg::ApproachPosition, 36000), Frame(msg::ApproachPosition, 6000),
                     Frame(msg::ApproachPosition, 50000), Frame(msg::ApproachPosition, 20000)}));
    // The last word to the controller is the stop of the disconnect.
    QCOMPARE(sim.frames().constLast(), Frame(msg::MoveUp, 0, 1));
    const QMap<QString, qint64> state = sim.state();
    QCOMPARE(state.value(QStringLiteral("place"), -1), 20000);
    QCOMPARE(state.value(QStringLiteral("position"), -1), 20000);

    const QByteArray saved = ReadFile(folder.settingsPath());
    QVERIFY(saved.contains("\r\n   COMport              = 1\r\n"));
    QVERIFY(saved.contains("\r\n   ScaleUnits           = user\r\n"));
    QVERIFY(saved.endsWith("\r\n\r\n[POSITIONS]\r\n   Position             = 20000,Focus A\r\n"));
}

// The console as the hub: a network move runs on the window's engine and shows in its readout,
// STOP in the window halts it, and the open Options dialog refuses a move with why.
void TestEndToEnd::consoleServesAlpaca() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimTool sim(dir.path());
    // Calibrated over -200000..200000: MaxTravel 400001 and the real limits stored.
    QVERIFY2(
        sim.start({QStringLiteral("--start"), QStringLiteral("5000"), QStringLiteral("--lower"),
                   QStringLiteral("-200000"), QStringLiteral("--upper"), QStringLiteral("200000"),
                   QStringLiteral("--slew-speed"), QStringLiteral("20000"),
                   QStringLiteral("--approach-speed"), QStringLiteral("20000")},
                  "register40=1\nregister41=6\nregister42=26\nregister43=129\n"
                  "register44=252\nregister45=242\nregister46=192\nregister47=3\n"
                  "register48=13\nregister49=64\nautoStop=1\n"),
        qPrintable(sim.log()));
    const ProgramFolder folder(dir.path(), QStringLiteral("tarnivel"));
    QVERIFY(WriteFile(folder.settingsPath(), settingsFile({})));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();

    ModalWatcher watcher;
    QJsonObject refused;
    {
        Application app(folder, port);
        frmTarnivel& w = app.window();
        MotionState& m = app.console().motion;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.lblStatus->text(), QStringLiteral("Serving Alpaca on port %1").arg(port));
        QCOMPARE(Alpaca(port, "PUT", "connected", "Connected=True").value("ErrorMessage"),
                 QStringLiteral("The console is not connected to the focuser: press Connect in "
                                "Tarnivel first."));
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(connectEnded(w), 10000);
        QCOMPARE(Alpaca(port, "PUT", "connected", "Connected=True").value("ErrorNumber"), 0);
        QCOMPARE(Alpaca(port, "GET", "position?ClientID=1").value("Value"), 205001);

        QCOMPARE(Alpaca(port, "PUT", "move", "Position=225001").value("ErrorNumber"), 0);
        QVERIFY(!w.fraPositions->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(w.NumLED->text().trimmed().toInt() > 10000, 3000);
        QCOMPARE(Alpaca(port, "GET", "ismoving").value("Value"), true);
        QTest::mouseClick(w.cmdStop, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(idle(w, m), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(Alpaca(port, "GET", "ismoving").value("Value"), false, 3000);
        // A client that leaves leaves the console connected.
        QCOMPARE(Alpaca(port, "PUT", "connected", "Connected=False").value("ErrorNumber"), 0);
        QCOMPARE(Alpaca(port, "GET", "connected").value("Value"), false);
        QCOMPARE(Alpaca(port, "PUT", "move", "Position=205001").value("ErrorNumber"), 1031);
        QVERIFY(app.console().link.LinkOpen());
        QCOMPARE(Alpaca(port, "PUT", "connected", "Connected=True").value("ErrorNumber"), 0);
        QCOMPARE(Alpaca(port, "GET", "connected").value("Value"), true);

        watcher.onOptions([&refused, port](frmOptions& dialog) {
            refused = Alpaca(port, "PUT", "move", "Position=205000");
            child<QPushButton>(dialog, "cmdCancel")->click();
        });
        QTest::mouseClick(w.cmdOptions, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(watcher.scriptsDone() && idle(w, m), 5000);
        QVERIFY(!w.close());
        QTRY_VERIFY_WITH_TIMEOUT(w.unloaded(), 3000);
    }
    QVERIFY2(sim.stop(), qPrintable(sim.log()));
    QCOMPARE(refused.value("ErrorNumber"), 1035);
    QCOMPARE(refused.value("ErrorMessage"),
             QStringLiteral("The console's Options dialog is open: the focuser takes no move until "
                            "it is closed."));
    // Upward: the first leg heads for the overshoot point 30000 past the target, and STOP
    // ended it there; no second leg went out.
    const QStringList frames = sim.frames();
    QCOMPARE(sim.framesWithId(msg::ApproachPosition),
             QStringList{Frame(msg::ApproachPosition, 55000)});
    const qsizetype leg = frames.indexOf(Frame(msg::ApproachPosition, 55000));
    QVERIFY(frames.mid(leg + 1).contains(Frame(msg::MoveUp, 0, 1)));
}

// STOP clicked while the goto's first command still waits for a slow controller's answer:
// the stop is the last word, the focuser stays where it stopped and the window is idle again.
void TestEndToEnd::earlyStopEndsTheGoto() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimTool sim(dir.path());
    QVERIFY2(startCalibrated(sim, QStringLiteral("2000"),
                             {QStringLiteral("--reply-delay"), QStringLiteral("200")}),
             qPrintable(sim.log()));
    const ProgramFolder folder(dir.path(), QStringLiteral("tarnivel"));
    QVERIFY(WriteFile(folder.settingsPath(), settingsFile({})));

    ModalWatcher watcher;
    QString stoppedAt;
    {
        Application app(folder);
        frmTarnivel& w = app.window();
        MotionState& m = app.console().motion;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(connectEnded(w), 10000);
        QVERIFY(app.console().link.LinkOpen());

        // Down: the first stage reads the position, then heads for the overshoot point.
        bool clicked = false;
        QTimer::singleShot(250, &w, [&] {
            clicked = true;
            QTest::mouseClick(w.cmdStop, Qt::LeftButton);
        });
        w.txtAdjust->setText(QStringLiteral("1000"));
        QTest::mouseClick(w.cmdDecrement, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(clicked && idle(w, m), 5000);
        QTest::qWait(1500);
        QVERIFY(idle(w, m));
        stoppedAt = w.NumLED->text().trimmed();
        QTest::qWait(1000);
        QCOMPARE(w.NumLED->text().trimmed(), stoppedAt);

        QVERIFY(!w.close());
        QTRY_VERIFY_WITH_TIMEOUT(w.unloaded(), 5000);
    }
    QVERIFY2(sim.stop(), qPrintable(sim.log()));

    const QStringList frames = sim.frames();
    const QString stop = Frame(msg::MoveUp, 0, 1);
    const int firstStop = frames.indexOf(stop);
    QVERIFY2(firstStop >= 0, qPrintable(frames.join(QLatin1Char('\n'))));
    for (const QString& f : frames.mid(firstStop + 1)) {
        const int id = f.mid(9, 2).toInt(nullptr, 16);
        QVERIFY2(id != msg::ApproachPosition && id != msg::GotoPosition &&
                     (id != msg::MoveUp || f == stop),
                 qPrintable(frames.join(QLatin1Char('\n'))));
    }
    QCOMPARE(QString::number(sim.state().value(QStringLiteral("position"), -1)), stoppedAt);
}

// The options dialog of the running program drives both calibrations against a short travel
// (8000 steps from -3000 to 5000, power-on counter): each leaves the controller calibrated
// with position 0 on the middle of the travel, 1000.
void TestEndToEnd::fullThenQuickCalibration() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimTool sim(dir.path());
    QVERIFY2(sim.start({QStringLiteral("--start"), QStringLiteral("0"), QStringLiteral("--lower"),
                        QStringLiteral("-3000"), QStringLiteral("--upper"), QStringLiteral("5000"),
                        QStringLiteral("--slew-speed"), QStringLiteral("20000"),
                        QStringLiteral("--approach-speed"), QStringLiteral("20000"),
                        QStringLiteral("--rate-speeds"),
                        QStringLiteral("10,25,50,100,250,500,1000,2000,20000")}),
             qPrintable(sim.log()));
    const ProgramFolder folder(dir.path(), QStringLiteral("tarnivel"));
    QVERIFY(WriteFile(folder.settingsPath(), settingsFile({})));

    ModalWatcher watcher;
    CalibrationSeen full;
    CalibrationSeen quick;
    QMap<QString, qint64> afterFull;
    watcher.onOptions([&](frmOptions& dialog) {
        calibrate(dialog, "cmdCalibrate", full);
        afterFull = sim.state();
    });
    watcher.onOptions([&](frmOptions& dialog) {
        // The operator takes the focuser's place as zero, which puts the scale off centre.
        child<QPushButton>(dialog, "cmdReset")->click();
        calibrate(dialog, "cmdQuickCalibrate", quick);
    });
    {
        Application app(folder);
        frmTarnivel& w = app.window();
        MotionState& m = app.console().motion;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(connectEnded(w), 10000);
        QVERIFY(app.console().link.LinkOpen());
        QCOMPARE(watcher.texts.size(), 1);
        QVERIFY(watcher.texts[0].startsWith(QStringLiteral("Warning: Focuser requires")));

        QTest::mouseClick(w.cmdOptions, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(full.ran && idle(w, m), 40000);
        QCOMPARE(m.CurrentPosition, 0);

        stepUp(w, QStringLiteral("1500"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(w, m), 8000);
        QCOMPARE(m.CurrentPosition, 1500);

        QTest::mouseClick(w.cmdOptions, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(quick.ran && idle(w, m), 30000);
        QVERIFY(watcher.scriptsDone());
        QCOMPARE(m.CurrentPosition, 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.NumLED->text().trimmed(), QStringLiteral("0"), 3000);

        QVERIFY(!w.close());
        QTRY_VERIFY_WITH_TIMEOUT(w.unloaded(), 3000);
    }
    QVERIFY2(sim.stop(), qPrintable(sim.log()));
    // The warning, then the reset's question (answered Yes).
    QCOMPARE(watcher.texts.size(), 2);
    QCOMPARE(watcher.texts[1],
             QStringLiteral("Are you sure you want to Reset the Current Position to Zero?"));

    for (const CalibrationSeen* seen : {&full, &quick}) {
        QCOMPARE(seen->label, QStringLiteral("Calibration Complete\r\n-- Ready --"));
        QVERIFY(!seen->limits); // 8000 steps hold no 65536-step limit block
        QVERIFY(seen->autoStop);
        QVERIFY(seen->quickEnabled);
        QVERIFY(seen->okEnabled);
    }
    // The controller as each calibration left it (the full one's state file is written with
    // its last register): travel 8000, real limits -4000 and +4000 (raw 0xFFF060, 0x000FA0),
    // the focuser in the middle. The quick one stores those limits again although the Reset
    // had shifted them.
    const QList<std::pair<const char*, qint64>> calibrated{
        {"register40", 1},    {"register41", 0},    {"register42", 0x1F}, {"register43", 0x40},
        {"register44", 0xFF}, {"register45", 0xF0}, {"register46", 0x60}, {"register47", 0},
        {"register48", 0x0F}, {"register49", 0xA0}, {"autoStop", 1},      {"place", 1000},
        {"position", 0}};
    const QMap<QString, qint64> end = sim.state();
    for (const auto& [key, value] : calibrated) {
        QCOMPARE(afterFull.value(QString::fromLatin1(key), -1), value);
        QCOMPARE(end.value(QString::fromLatin1(key), -1), value);
    }
}

void TestEndToEnd::installLayout() {
    prefix_ = scratch_.filePath(QStringLiteral("prefix"));
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(kCMake,
                  {QStringLiteral("--install"), kBuildDir, QStringLiteral("--prefix"), prefix_});
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());

    const QDir p(prefix_);
    verifyLayout(p);
    if (QTest::currentTestFailed())
        return;

    // The installed tool runs from where it was put.
    QProcess help;
    help.start(p.filePath(QStringLiteral("bin/tarnivel-sim")), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(kStartMs));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("--com"));
}

// The installed executable in a folder it may write: it starts, stays up with its window and
// says nothing. No outside hand can close its window offscreen, so it is killed, which must
// leave the settings file as it was: the program writes it only when its window unloads.
void TestEndToEnd::installedProgramStartsQuietly() {
    QVERIFY2(!prefix_.isEmpty(), "needs the install of installLayout");
    const QDir bin(QDir(prefix_).filePath(QStringLiteral("bin")));
    const QString settings = bin.filePath(QStringLiteral("tarnivel.ini"));
    const QByteArray content = settingsFile("   Position             = 1234,Kept as written\r\n");
    QVERIFY(WriteFile(settings, content));
    const QDateTime written = QFileInfo(settings).lastModified();
    const QStringList before = bin.entryList(QDir::Files | QDir::System, QDir::Name);

    const QString userFolder = scratch_.filePath(QStringLiteral("config/tarnivel"));
    QDir(userFolder).removeRecursively();
    const QString runtime = scratch_.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(scratch_.path());
    program.start(bin.filePath(QStringLiteral("tarnivel")), {});
    QVERIFY(program.waitForStarted(kStartMs));
    QVERIFY(!program.waitForFinished(2000));
    QCOMPARE(program.state(), QProcess::Running);
    program.kill();
    QVERIFY(program.waitForFinished(kStartMs));

    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardError()), QString());
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()), QString());
    QCOMPARE(ReadFile(settings), content);
    QCOMPARE(QFileInfo(settings).lastModified(), written);
    QCOMPARE(bin.entryList(QDir::Files | QDir::System, QDir::Name), before);
    // Its own folder was writable, so the per-user one was never made.
    QVERIFY(!QFileInfo::exists(userFolder));
}

// The Debian packages of this build, made as `--target package` makes them and unpacked as
// dpkg unpacks them: together they hold the installed layout. A debug build packs the same
// files as a release build, stripped alike.
void TestEndToEnd::debianPackages() {
    const QDir out(scratch_.filePath(QStringLiteral("deb")));
    const Ran cpack =
        run(kCPack,
            {QStringLiteral("--config"), kBuildDir + QStringLiteral("/CPackConfig.cmake"),
             QStringLiteral("-B"), out.path()},
            90000);
    QVERIFY2(cpack.ok, (cpack.out + cpack.err).constData());
    const Ran arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
    QVERIFY(arch.ok);
    const QString architecture = QString::fromLatin1(arch.out.trimmed());
    // An install rule without a component would add a third package here.
    QCOMPARE(out.entryList({QStringLiteral("*.deb")}, QDir::Files, QDir::Name),
             QStringList({QStringLiteral("tarnivel-headless_%1_%2.deb").arg(kVersion, architecture),
                          QStringLiteral("tarnivel_%1_%2.deb").arg(kVersion, architecture)}));

    const QString root = scratch_.filePath(QStringLiteral("unpacked"));
    for (const QString& package :
         {QStringLiteral("tarnivel"), QStringLiteral("tarnivel-headless")}) {
        packages_[package] =
            out.filePath(QStringLiteral("%1_%2_%3.deb").arg(package, kVersion, architecture));
        const Ran unpack =
            run(QStringLiteral("dpkg"), {QStringLiteral("-x"), packages_[package], root});
        QVERIFY2(unpack.ok, unpack.err.constData());
    }
    const QDir usr(root + QStringLiteral("/usr"));
    verifyLayout(usr);
    if (QTest::currentTestFailed())
        return;
    // Stripping left a program that runs.
    const Ran help =
        run(usr.filePath(QStringLiteral("bin/tarnivel-sim")), {QStringLiteral("--help")});
    QVERIFY(help.ok);
    QVERIFY(help.out.contains("--com"));
}

// Nothing but these files in each package, owned by root, programs executable and data
// read-only: a stray install rule (a test, a static library), a file in the wrong package or a
// wrong mode would show here.
void TestEndToEnd::debianContents_data() {
    QTest::addColumn<QString>("package");
    QTest::addColumn<QStringList>("expected");
    const auto docs = [](const char* package) {
        return QStringList{
            QStringLiteral("-rw-r--r-- ./usr/share/doc/%1/changelog.gz")
                .arg(QLatin1String(package)),
            QStringLiteral("-rw-r--r-- ./usr/share/doc/%1/copyright").arg(QLatin1String(package))};
    };
    QTest::newRow("console holds the desktop program")
        << "tarnivel"
        << docs("tarnivel") +
               QStringList{
                   QStringLiteral("-rwxr-xr-x ./usr/bin/tarnivel"),
                   QStringLiteral("-rw-r--r-- ./usr/share/applications/tarnivel.desktop"),
                   QStringLiteral("-rw-r--r-- ./usr/share/icons/hicolor/128x128/apps/tarnivel.png"),
                   QStringLiteral("-rw-r--r-- ./usr/share/icons/hicolor/256x256/apps/tarnivel.png"),
                   QStringLiteral("-rw-r--r-- ./usr/share/icons/hicolor/48x48/apps/tarnivel.png"),
                   QStringLiteral(
                       "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/tarnivel.svg"),
                   QStringLiteral("-rw-r--r-- ./usr/share/man/man1/tarnivel.1.gz")};
    QTest::newRow("headless holds the driver, its list, the Alpaca server and the simulator")
        << "tarnivel-headless"
        << docs("tarnivel-headless") +
               QStringList{
                   QStringLiteral("-rwxr-xr-x ./usr/bin/indi_tarnivel_focus"),
                   QStringLiteral("-rwxr-xr-x ./usr/bin/tarnivel-alpaca"),
                   QStringLiteral("-rwxr-xr-x ./usr/bin/tarnivel-sim"),
                   QStringLiteral("-rw-r--r-- ./usr/lib/systemd/system/tarnivel-alpaca.service"),
                   QStringLiteral("-rw-r--r-- ./usr/share/indi/indi_tarnivel.xml"),
                   QStringLiteral("-rw-r--r-- ./usr/share/man/man1/indi_tarnivel_focus.1.gz"),
                   QStringLiteral("-rw-r--r-- ./usr/share/man/man1/tarnivel-alpaca.1.gz"),
                   QStringLiteral("-rw-r--r-- ./usr/share/man/man1/tarnivel-sim.1.gz")};
}

void TestEndToEnd::debianContents() {
    QFETCH(QString, package);
    QFETCH(QStringList, expected);
    QVERIFY2(packages_.contains(package), "needs the packages of debianPackages");
    const Ran contents =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), packages_.value(package)});
    QVERIFY2(contents.ok, contents.err.constData());
    QStringList files;
    for (const QString& line :
         QString::fromUtf8(contents.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QVERIFY2(f.size() == 6 && f.at(1) == QStringLiteral("root/root"), qPrintable(line));
        QVERIFY2(f.at(5).startsWith(QStringLiteral("./usr/")), qPrintable(line));
        if (f.at(0).startsWith(QLatin1Char('d')))
            QVERIFY2(f.at(0) == QStringLiteral("drwxr-xr-x"), qPrintable(line));
        else
            files << f.at(0) + QLatin1Char(' ') + f.at(5);
    }
    files.sort();
    expected.sort();
    QCOMPARE(files, expected);
}

// The control fields apt and the package managers show. The dependencies come from the
// libraries each package's programs link, so a missing one means dpkg-shlibdeps did not run,
// and a desktop library in the headless one means a desktop program slipped into it.
void TestEndToEnd::debianControl_data() {
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pattern");
    const Ran arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
    QVERIFY(arch.ok);

    const auto row = [](const char* package, const QString& what) -> QTestData& {
        return QTest::newRow(qPrintable(QLatin1String(package) + QLatin1Char(' ') + what))
               << QString::fromLatin1(package);
    };
    const auto dependsOn = [&row](const char* package, const char* library) {
        row(package, QStringLiteral("depends on ") + QLatin1String(library))
            << "Depends"
            << QStringLiteral("(^|, )%1( \\([^)]*\\))?(,|$)")
                   .arg(QRegularExpression::escape(QLatin1String(library)));
    };
    for (const char* package : {"tarnivel", "tarnivel-headless"}) {
        row(package, "name") << "Package" << QStringLiteral("^%1$").arg(QLatin1String(package));
        row(package, "version") << "Version"
                                << QStringLiteral("^%1$").arg(QRegularExpression::escape(kVersion));
        row(package, "architecture")
            << "Architecture"
            << QStringLiteral("^%1$").arg(QString::fromLatin1(arch.out.trimmed()));
        row(package, "section") << "Section"
                                << "^science$";
        row(package, "priority") << "Priority"
                                 << "^optional$";
        row(package, "maintainer") << "Maintainer"
                                   << "^[^<>\n]+ <[^<>@\\s]+@[^<>@\\s]+>$";
        for (const char* library : {"libc6", "libstdc++6", "libqt6core6"})
            dependsOn(package, library);
    }
    row("tarnivel", "description")
        << "Description"
        << "^console for a motorised telescope focuser on a serial port\n( [^;\n]{1,79}\n)+ "
           "[^;\n]{1,79}$";
    row("tarnivel-headless", "description")
        << "Description"
        << "^telescope focuser driver and simulator without a desktop\n( [^;\n]{1,79}\n)+ "
           "[^;\n]{1,79}$";
    for (const char* library : {"libqt6gui6", "libqt6widgets6", "libqt6serialport6",
                                "libqt6multimedia6", "libqt6charts6"})
        dependsOn("tarnivel", library);
    dependsOn("tarnivel-headless", "libindidriver1");
    row("tarnivel", "recommends the headless programs")
        << "Recommends"
        << QStringLiteral("^tarnivel-headless \\(= %1\\)$")
               .arg(QRegularExpression::escape(kVersion));
    row("tarnivel-headless", "depends on no desktop library")
        << "Depends"
        << "^(?!.*lib(qt6(gui|widgets|multimedia|charts|opengl)|gl|x11|xcb|wayland)).*$";
}

void TestEndToEnd::debianControl() {
    QFETCH(QString, package);
    QFETCH(QString, field);
    QFETCH(QString, pattern);
    QVERIFY2(packages_.contains(package), "needs the packages of debianPackages");
    const Ran value =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), packages_.value(package), field});
    QVERIFY2(value.ok, value.err.constData());
    const QString text = QString::fromUtf8(value.out).trimmed();
    QVERIFY2(QRegularExpression(pattern).match(text).hasMatch(), qPrintable(text));
}

// Debian's own judges: lintian (errors fail, warnings are reported) and the desktop entry
// validator that menus use.
void TestEndToEnd::debianChecks_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    const QString lintian = QStringLiteral("lintian");
    const QStringList failOnError{QStringLiteral("--fail-on"), QStringLiteral("error")};
    QTest::newRow("lintian finds no error in tarnivel")
        << lintian << failOnError + QStringList(packages_.value(QStringLiteral("tarnivel")));
    QTest::newRow("lintian finds no error in tarnivel-headless")
        << lintian
        << failOnError + QStringList(packages_.value(QStringLiteral("tarnivel-headless")));
    QTest::newRow("the menu entry is valid")
        << QStringLiteral("desktop-file-validate")
        << QStringList(scratch_.filePath(
               QStringLiteral("unpacked/usr/share/applications/tarnivel.desktop")));
}

void TestEndToEnd::debianChecks() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QVERIFY2(packages_.size() == 2, "needs the packages of debianPackages");
    const Ran ran = run(program, arguments, 60000);
    QVERIFY2(ran.ok, (ran.out + ran.err).constData());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
