// indi_tarnivel_focus as INDI clients see it: Debian's INDI::BaseClient talks over TCP to a
// relay that runs the driver on its standard input and output (as the INDI server does),
// and the driver talks to tarnivel-sim on a pseudo-terminal linked as COM1. Each feature
// is one scripted conversation; the frames the simulator saw are checked where they are the
// point (the final approach, the stop).

#include "frames.h"
#include "sim/simtoolprocess.h"
#include "testfiles.h"

#include <baseclient.h>
#include <basedevice.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using namespace tarnivel;

using namespace tarnivel::test;

namespace {

const QString kSimTool = QStringLiteral(TARNIVEL_SIM_TOOL);
const QString kDriver = QStringLiteral(TARNIVEL_INDI_DRIVER);
const char* const kDevice = "Tarnivel";
constexpr int kWaitMs = 15000;
constexpr int kCalibrationWaitMs = 60000;

// Runs the driver on a TCP connection: what the client sends goes to the driver's standard
// input, what the driver prints goes back without the XML declaration that heads each of its
// messages (the INDI server forwards elements, not declarations).
class Relay : public QObject {
public:
    Relay(const QString& driver, const QString& home) : driver_(driver), home_(home) {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
    }
    ~Relay() override {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished(5000);
        }
    }
    quint16 port() const { return server_.serverPort(); }
    QByteArray driverLog() const { return ReadFile(home_ + QStringLiteral("/driver.log")); }

private:
    void accept() {
        socket_ = server_.nextPendingConnection();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // INDI keeps its configuration under the home folder: a fresh one per test.
        env.insert(QStringLiteral("HOME"), home_);
        process_.setProcessEnvironment(env);
        process_.setStandardErrorFile(home_ + QStringLiteral("/driver.log"));
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, this, [this] {
            pending_ += process_.readAllStandardOutput();
            static const QByteArray declaration = "<?xml version='1.0'?>";
            pending_.replace(declaration, QByteArray());
            // A declaration cut in two by the pipe waits for its other half.
            qsizetype keep = 0;
            for (qsizetype n = declaration.size() - 1; n > 0; --n) {
                if (pending_.endsWith(declaration.left(n))) {
                    keep = n;
                    break;
                }
            }
            socket_->write(pending_.left(pending_.size() - keep));
            pending_ = pending_.right(keep);
        });
        QObject::connect(socket_, &QTcpSocket::readyRead, this,
                         [this] { process_.write(socket_->readAll()); });
        process_.start(driver_, {});
    }

    QString driver_;
    QString home_;
    QTcpServer server_;
    QTcpSocket* socket_ = nullptr;
    QProcess process_;
    QByteArray pending_;
};

// The client's view of the device, copied out of libindiclient's listener thread.
class Client : public INDI::BaseClient {
public:
    double number(const QString& key) {
        QMutexLocker lock(&mutex_);
        return numbers_.value(key, qQNaN());
    }
    QString text(const QString& key) {
        QMutexLocker lock(&mutex_);
        return texts_.value(key);
    }
    bool on(const QString& key) {
        QMutexLocker lock(&mutex_);
        return switches_.value(key, false);
    }
    int state(const QString& property) {
        QMutexLocker lock(&mutex_);
        return states_.value(property, -1);
    }
    QStringList messages() {
        QMutexLocker lock(&mutex_);
        return messages_;
    }
    // Every "PROPERTY=state" and "PROPERTY.ELEMENT=value" seen since the last forget().
    QStringList history() {
        QMutexLocker lock(&mutex_);
        return history_;
    }
    void forget() {
        QMutexLocker lock(&mutex_);
        history_.clear();
    }

protected:
    void newProperty(INDI::Property p) override { record(p); }
    void updateProperty(INDI::Property p) override { record(p); }
    void removeProperty(INDI::Property p) override {
        QMutexLocker lock(&mutex_);
        states_.remove(QString::fromUtf8(p.getName()));
    }
    void newMessage(INDI::BaseDevice device, int id) override {
        QMutexLocker lock(&mutex_);
        messages_ << QString::fromStdString(device.messageQueue(static_cast<size_t>(id)));
    }

private:
    void record(INDI::Property p) {
        QMutexLocker lock(&mutex_);
        const QString name = QString::fromUtf8(p.getName());
        states_[name] = p.getState();
        history_ << name + QLatin1Char('=') + QString::number(p.getState());
        const auto key = [&name](const char* element) {
            return name + QLatin1Char('.') + QString::fromUtf8(element);
        };
        switch (p.getType()) {
        case INDI_NUMBER:
            for (const auto& n : *p.getNumber()) {
                numbers_[key(n.getName())] = n.getValue();
                history_ << key(n.getName()) + QLatin1Char('=') + QString::number(n.getValue());
            }
            break;
        case INDI_SWITCH:
            for (const auto& s : *p.getSwitch())
                switches_[key(s.getName())] = s.getState() == ISS_ON;
            break;
        case INDI_TEXT:
            for (const auto& t : *p.getText())
                texts_[key(t.getName())] = QString::fromUtf8(t.getText());
            break;
        case INDI_LIGHT:
            for (const auto& l : *p.getLight())
                switches_[key(l.getName())] = l.getState() == IPS_OK;
            break;
        default:
            break;
        }
    }

    QMutex mutex_;
    QMap<QString, double> numbers_;
    QMap<QString, QString> texts_;
    QMap<QString, bool> switches_;
    QMap<QString, int> states_;
    QStringList messages_;
    QStringList history_;
};

// One step of a conversation. Waits are bounded; a frame check compares the frames of the
// given message id that the simulator saw since the last Mark.
struct Step {
    enum Kind {
        SetNumber,  // key = PROPERTY.ELEMENT, value
        SetSwitch,  // key = PROPERTY.ELEMENT (turned on)
        WaitNumber, // key, value
        WaitState,  // key = PROPERTY, value = IPState
        WaitText,   // key, text
        WaitOn,     // key (switch or light on), value 1 or 0
        Mark,       // frames and client history seen from here on
        Seen,       // text in the client's history since Mark: value 1, or never: value 0
        StopAfter,  // the stop frame, after at most value frames since Mark
        WaitFrame,  // text = frame as hex, seen since Mark
        Frames,     // value = message id, text = its frames since Mark, space-joined by "|"
        Settle,     // value = milliseconds of nothing
        PullPort,   // the simulator vanishes without a word
        PlugPort,   // and comes back on the same COM link
        Message,    // text: a message the driver sent
    };
    Kind kind;
    QString key;
    double value = 0;
    QString text = {};
};

using Script = QList<Step>;

QString approaches(std::initializer_list<qint64> targets) {
    QStringList out;
    for (qint64 t : targets)
        out << Frame(0x17, t);
    return out.join(QLatin1Char('|'));
}

// A calibrated controller with 8000 steps of travel, -4000..4000 on its counter: INDI
// position = counter + 4000.
const QByteArray kCalibratedState = "register40=1\nregister41=0\nregister42=31\nregister43=64\n"
                                    "register44=255\nregister45=240\nregister46=96\n"
                                    "register47=0\nregister48=15\nregister49=160\nautoStop=1\n"
                                    "place=0\nposition=0\n";

// Whole steps, final approach downward with 1000 steps of overshoot, one saved position at
// -2500 (INDI 1500).
const QByteArray kSettings = "[TARNIVEL]\r\n"
                             "   ScaleFactor          = 1\r\n"
                             "   ScaleUnits           = user\r\n"
                             "   Decimals             = 0\r\n"
                             "   Approach             = 1\r\n"
                             "   Overshoot            = 1000\r\n"
                             "   SensorName1          = Mirror\r\n"
                             "\r\n[POSITIONS]\r\n"
                             "   Position             = 16774716,Focus A\r\n";

} // namespace

Q_DECLARE_METATYPE(Script)

class TestIndiDriver : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void conversation_data();
    void conversation();
};

void TestIndiDriver::conversation_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<Script>("script");

    const QStringList fast{QStringLiteral("--approach-speed"), QStringLiteral("8000")};

    QTest::newRow("connect")
        << fast
        << Script{{Step::WaitNumber, "FOCUS_MAX.FOCUS_MAX_VALUE", 8000},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 4000},
                  {Step::WaitText, "TARNIVEL_FIRMWARE.VERSION", 0, "2.7"},
                  {Step::WaitOn, "TARNIVEL_AUTO_STOP.ON", 1},
                  {Step::WaitOn, "FOCUS_BACKLASH_TOGGLE.INDI_ENABLED", 1},
                  {Step::WaitNumber, "FOCUS_BACKLASH_STEPS.FOCUS_BACKLASH_VALUE", 1000}};

    // Down to 2000 arrives from above in one move; up to 6000 runs past by the overshoot
    // and comes back down.
    QTest::newRow("absolute moves")
        << fast
        << Script{{Step::Mark, {}},
                  {Step::SetNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 2000},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 2000},
                  {Step::Frames, {}, 0x17, approaches({16775216})},
                  {Step::Mark, {}},
                  {Step::SetNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 6000},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 6000},
                  {Step::Frames, {}, 0x17, approaches({3000, 2000})},
                  {Step::WaitNumber, "TARNIVEL_POSITION_UNITS.POSITION", 2000}};

    // Up to 7500 would run past the upper end stop (client 8000): the overshoot stops there.
    QTest::newRow("near the end stop")
        << fast
        << Script{{Step::Mark, {}},
                  {Step::SetNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 7500},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 7500},
                  {Step::Frames, {}, 0x17, approaches({4000, 3500})}};

    QTest::newRow("relative moves")
        << fast
        << Script{{Step::Mark, {}},
                  {Step::SetSwitch, "FOCUS_MOTION.FOCUS_INWARD"},
                  {Step::SetNumber, "REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION", 1000},
                  {Step::WaitState, "REL_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 3000},
                  {Step::Frames, {}, 0x17, approaches({16776216})},
                  {Step::Mark, {}},
                  {Step::SetSwitch, "FOCUS_MOTION.FOCUS_OUTWARD"},
                  {Step::SetNumber, "REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION", 1500},
                  {Step::WaitState, "REL_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 4500},
                  {Step::Frames, {}, 0x17, approaches({1500, 500})}};

    // Slow enough to be caught on the way; after the stop nothing moves again.
    QTest::newRow("abort mid-move")
        << QStringList{QStringLiteral("--approach-speed"), QStringLiteral("500")}
        << Script{{Step::Mark, {}},
                  {Step::SetNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 1000},
                  {Step::WaitFrame, {}, 0, Frame(0x17, 16774216)},
                  {Step::Settle, {}, 400},
                  {Step::SetSwitch, "FOCUS_ABORT_MOTION.ABORT"},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_IDLE},
                  {Step::WaitFrame, {}, 0, Frame(0x24, 0, 1)},
                  {Step::Settle, {}, 1500},
                  {Step::Frames, {}, 0x17, approaches({16774216})},
                  {Step::Frames, {}, 0x02, {}}};

    // FOCUS_TIMER is the console's jog: the fast rate (9) outward, then rate 0.
    QTest::newRow("timed move") << fast
                                << Script{{Step::Mark, {}},
                                          {Step::SetNumber, "FOCUS_SPEED.FOCUS_SPEED_VALUE", 2},
                                          {Step::SetSwitch, "FOCUS_MOTION.FOCUS_OUTWARD"},
                                          {Step::SetNumber, "FOCUS_TIMER.FOCUS_TIMER_VALUE", 300},
                                          {Step::Settle, {}, 1500},
                                          {Step::WaitState, "FOCUS_TIMER", IPS_OK},
                                          {Step::Frames,
                                           {},
                                           0x24,
                                           QStringLiteral(
                                               "50 02 12 24 09 00 00 00|50 02 12 24 00 00 00 00")}};

    // The end stops define a calibrated focuser's positions: a sync would move them off.
    QTest::newRow("sync refused while calibrated")
        << fast
        << Script{{Step::Mark, {}},
                  {Step::SetNumber, "FOCUS_SYNC.FOCUS_SYNC_VALUE", 5000},
                  {Step::WaitState, "FOCUS_SYNC", IPS_ALERT},
                  {Step::Settle, {}, 500},
                  {Step::Frames, {}, 0x04, {}},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 4000}};

    QTest::newRow("preset") << fast
                            << Script{{Step::Mark, {}},
                                      {Step::SetNumber, "Presets.PRESET_2", 3500},
                                      {Step::SetSwitch, "Goto.Preset 2"},
                                      {Step::WaitNumber,
                                       "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 3500},
                                      {Step::WaitState, "ABS_FOCUS_POSITION", IPS_OK},
                                      {Step::Frames, {}, 0x17, approaches({16776716})}};

    QTest::newRow("saved position")
        << fast
        << Script{{Step::Mark, {}},
                  {Step::SetSwitch, "TARNIVEL_SAVED_POSITIONS.POS0"},
                  {Step::SetSwitch, "TARNIVEL_SAVED_GOTO.GOTO"},
                  {Step::WaitState, "TARNIVEL_SAVED_GOTO", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 1500},
                  {Step::Frames, {}, 0x17, approaches({16774716})}};

    // Sensor 1 at 25 degrees, sensor 3 not fitted; rule 1 with a limit of 20 runs the fan,
    // Off stops it.
    QTest::newRow("temperatures and fan")
        << (fast + QStringList{QStringLiteral("--temp1"), QStringLiteral("25"),
                               QStringLiteral("--drift"), QStringLiteral("0")})
        << Script{{Step::WaitNumber, "FOCUS_TEMPERATURE.TEMPERATURE", 25},
                  {Step::WaitNumber, "TARNIVEL_TEMPERATURES.SENSOR1", 25},
                  {Step::WaitNumber, "TARNIVEL_TEMPERATURES.SENSOR2", 12.5},
                  {Step::WaitNumber, "TARNIVEL_TEMPERATURES.SENSOR3", -9999},
                  {Step::Mark, {}},
                  {Step::SetNumber, "TARNIVEL_FAN_LIMITS.LIMIT1", 20},
                  {Step::SetSwitch, "TARNIVEL_FAN_MODE.FAN_RULE1"},
                  {Step::WaitFrame, {}, 0, Frame(0x27, 3, 1, 0x13)},
                  {Step::WaitOn, "TARNIVEL_FAN_STATE.FAN", 1},
                  {Step::SetSwitch, "TARNIVEL_FAN_MODE.FAN_OFF"},
                  {Step::WaitFrame, {}, 0, Frame(0x27, 0, 1, 0x13)}};

    // With a coefficient compensation switches on; abort switches it off and says so.
    QTest::newRow("temperature compensation")
        << (fast + QStringList{QStringLiteral("--temp1"), QStringLiteral("25"),
                               QStringLiteral("--drift"), QStringLiteral("0")})
        << Script{{Step::WaitNumber, "FOCUS_TEMPERATURE.TEMPERATURE", 25},
                  {Step::SetNumber, "TEMPERATURE_COMPENSATION_SETTINGS.COEFFICIENT", -80},
                  {Step::SetSwitch, "TEMPERATURE_COMPENSATION.ENABLE"},
                  {Step::WaitOn, "TEMPERATURE_COMPENSATION.ENABLE", 1},
                  {Step::SetSwitch, "TARNIVEL_MARK_FOCUS.MARK"},
                  {Step::Message, {}, 0, "Focus point 1 recorded for this connection (not kept"},
                  {Step::SetSwitch, "FOCUS_ABORT_MOTION.ABORT"},
                  {Step::WaitOn, "TEMPERATURE_COMPENSATION.DISABLE", 1},
                  {Step::WaitText, "TARNIVEL_TEMP_COMP_STATUS.TEXT", 0, "Temp comp off: stopped"}};

    // Cancel with no calibration under way: the goto goes on to its end.
    QTest::newRow("calibration cancel leaves a goto alone")
        << QStringList{QStringLiteral("--approach-speed"), QStringLiteral("2000")}
        << Script{{Step::Mark, {}},
                  {Step::SetNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 1000},
                  {Step::WaitFrame, {}, 0, Frame(0x17, 16774216)},
                  {Step::SetSwitch, "TARNIVEL_CALIBRATE.CANCEL"},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 1000}};

    // The lower end stop becomes -4000 (half the stored travel), then the focuser goes to
    // the middle.
    QTest::newRow("quick calibration")
        << (fast + QStringList{QStringLiteral("--rate-speeds"),
                               QStringLiteral("500,1000,1500,2000,2500,3000,3500,4000,8000")})
        << Script{{Step::Mark, {}},
                  {Step::SetSwitch, "TARNIVEL_CALIBRATE.QUICK"},
                  {Step::WaitState, "TARNIVEL_CALIBRATE", IPS_BUSY},
                  {Step::WaitText, "TARNIVEL_CALIBRATION.TEXT", 1,
                   "Calibration Complete / -- Ready --"},
                  {Step::WaitState, "TARNIVEL_CALIBRATE", IPS_OK},
                  {Step::WaitFrame, {}, 0, Frame(0x04, 16773216)},
                  {Step::WaitFrame, {}, 0, Frame(0x02, 0)},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 4000},
                  // 8000 steps are too short for the controller's block-wise limits: they stay off.
                  {Step::WaitOn, "TARNIVEL_AUTO_STOP.ON", 1}};

    // The controller falls silent for 5 seconds at its first slew-done query: the position
    // stays Busy (clients take Alert for the move's end), and the goto goes on to its end
    // once it answers again.
    QTest::newRow("silent controller")
        << (fast + QStringList{QStringLiteral("--fault"), QStringLiteral("19:go-silent"),
                               QStringLiteral("--recover-ms"), QStringLiteral("5000")})
        << Script{{Step::Mark, {}},
                  {Step::SetNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 2000},
                  {Step::Message, {}, 0, "Focuser not responding"},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 2000},
                  {Step::Seen, {}, 0, "ABS_FOCUS_POSITION=3"}};

    // The first reads of sensor 1 go unanswered: Alert, never the "not fitted" value.
    QTest::newRow("failed sensor read")
        << (fast + QStringList{QStringLiteral("--temp1"), QStringLiteral("25"),
                               QStringLiteral("--drift"), QStringLiteral("0"),
                               QStringLiteral("--fault"), QStringLiteral("38:no-answer:2")})
        << Script{{Step::WaitNumber, "TARNIVEL_TEMPERATURES.SENSOR1", 25},
                  {Step::Seen, {}, 1, "TARNIVEL_TEMPERATURES=3"},
                  {Step::Seen, {}, 0, "TARNIVEL_TEMPERATURES.SENSOR1=-9999"}};

    // Aborts right behind a request: the stop follows at most the frame on the wire.
    QTest::newRow("abort right after the limits switch")
        << fast
        << Script{{Step::Mark, {}},
                  {Step::SetSwitch, "TARNIVEL_LIMITS.ON"},
                  {Step::SetSwitch, "FOCUS_ABORT_MOTION.ABORT"},
                  {Step::StopAfter, {}, 1}};
    QTest::newRow("abort right after a quick calibration starts")
        << fast
        << Script{{Step::Mark, {}},
                  {Step::SetSwitch, "TARNIVEL_CALIBRATE.QUICK"},
                  {Step::SetSwitch, "FOCUS_ABORT_MOTION.ABORT"},
                  {Step::StopAfter, {}, 1},
                  {Step::WaitState, "TARNIVEL_CALIBRATE", IPS_ALERT},
                  {Step::Settle, {}, 1500},
                  {Step::Frames, {}, 0x25, {}},
                  {Step::Frames, {}, 0x02, {}}};

    // A move sent as soon as the connection is up starts once the controller has been read.
    QTest::newRow("move right after connect")
        << fast
        << Script{{Step::SetSwitch, "CONNECTION.DISCONNECT"},
                  {Step::WaitOn, "CONNECTION.DISCONNECT", 1},
                  {Step::SetSwitch, "CONNECTION.CONNECT"},
                  {Step::WaitState, "CONNECTION", IPS_OK},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_IDLE},
                  {Step::SetNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 2000},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 2000}};

    // Abort inside the edge search: the motor stops at once, the calibration takes its cancel
    // ending and nothing moves afterwards (no counter set, no goto to the middle).
    QTest::newRow("calibration aborted")
        << (fast + QStringList{QStringLiteral("--rate-speeds"),
                               QStringLiteral("100,200,300,400,500,600,700,800,900")})
        << Script{{Step::Mark, {}},
                  {Step::SetSwitch, "TARNIVEL_CALIBRATE.QUICK"},
                  {Step::WaitFrame, {}, 0, Frame(0x25, 9, 1)},
                  {Step::Settle, {}, 500},
                  {Step::SetSwitch, "FOCUS_ABORT_MOTION.ABORT"},
                  {Step::WaitText, "TARNIVEL_CALIBRATION.TEXT", 0, "Cancelled!"},
                  {Step::WaitState, "TARNIVEL_CALIBRATE", IPS_ALERT},
                  {Step::WaitFrame, {}, 0, Frame(0x24, 0, 1)},
                  {Step::Settle, {}, 1500},
                  {Step::Frames, {}, 0x04, {}},
                  {Step::Frames, {}, 0x02, {}},
                  {Step::Frames, {}, 0x17, {}}};

    QTest::newRow("pulled port")
        << fast
        << Script{{Step::PullPort, {}},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_ALERT},
                  {Step::Message, {}, 0, "Focuser connection lost"},
                  {Step::PlugPort, {}},
                  {Step::SetSwitch, "CONNECTION.DISCONNECT"},
                  {Step::WaitOn, "CONNECTION.DISCONNECT", 1},
                  {Step::SetSwitch, "CONNECTION.CONNECT"},
                  {Step::WaitState, "CONNECTION", IPS_OK},
                  {Step::WaitState, "FOCUS_TEMPERATURE", IPS_OK},
                  {Step::Mark, {}},
                  {Step::SetNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 3000},
                  {Step::WaitState, "ABS_FOCUS_POSITION", IPS_OK},
                  {Step::WaitNumber, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", 3000}};
}

void TestIndiDriver::conversation() {
    QFETCH(QStringList, simArgs);
    QFETCH(Script, script);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path();
    // The driver finds the settings file and the COM1 link beside itself, as installed.
    const QString driver = QDir(folder).filePath(QStringLiteral("indi_tarnivel_focus"));
    QVERIFY(QFile::copy(kDriver, driver));
    QVERIFY(WriteFile(QDir(folder).filePath(QStringLiteral("tarnivel.ini")), kSettings));
    const QString statePath = QDir(folder).filePath(QStringLiteral("sim.state"));
    const QString simLog = QDir(folder).filePath(QStringLiteral("sim.log"));
    QVERIFY(WriteFile(statePath, kCalibratedState));

    sim::SimToolProcess sim(kSimTool);
    sim.setOutputFile(simLog);
    const QStringList args = QStringList{QStringLiteral("--com"),    QStringLiteral("1"),
                                         QStringLiteral("--dir"),    folder,
                                         QStringLiteral("--state"),  statePath,
                                         QStringLiteral("--lower"),  QStringLiteral("-4000"),
                                         QStringLiteral("--upper"),  QStringLiteral("4000"),
                                         QStringLiteral("--verbose")} +
                             simArgs;
    QVERIFY2(sim.start(args), qPrintable(sim.error()));

    const auto frames = [&simLog] {
        static const QRegularExpression line(
            QStringLiteral("^\\s*\\d+\\.\\d+  ((?:[0-9A-F]{2} ){7}[0-9A-F]{2})  -> "),
            QRegularExpression::MultilineOption);
        QStringList out;
        const QString log = QString::fromLatin1(ReadFile(simLog));
        for (auto it = line.globalMatch(log); it.hasNext();)
            out << it.next().captured(1);
        return out;
    };

    // The relay runs the copy, so the program folder is the test's.
    const auto running = std::make_unique<Relay>(driver, folder);
    Client client;
    client.setServer("127.0.0.1", running->port());
    client.watchDevice(kDevice);
    QVERIFY(client.connectServer());
    const auto ready = [&client] { return client.state(QStringLiteral("DEVICE_PORT")) >= 0; };
    QTRY_VERIFY_WITH_TIMEOUT(ready(), kWaitMs);
    client.sendNewText(kDevice, "DEVICE_PORT", "PORT", "COM1");
    client.connectDevice(kDevice);
    QTRY_VERIFY_WITH_TIMEOUT(client.state(QStringLiteral("CONNECTION")) == IPS_OK &&
                                 client.state(QStringLiteral("FOCUS_TEMPERATURE")) == IPS_OK,
                             kWaitMs);

    qsizetype mark = 0;
    for (const Step& step : std::as_const(script)) {
        const QByteArray key = step.key.toUtf8();
        const QList<QByteArray> parts = key.split('.');
        const QString why = QStringLiteral("step %1 %2 %3 %4\nsimulator:\n%5\ndriver:\n%6")
                                .arg(int(step.kind))
                                .arg(step.key)
                                .arg(step.value)
                                .arg(step.text, QString::fromLatin1(ReadFile(simLog).right(3000)),
                                     QString::fromLatin1(running->driverLog().right(3000)));
        switch (step.kind) {
        case Step::SetNumber:
            client.sendNewNumber(kDevice, parts[0].constData(), parts[1].constData(), step.value);
            break;
        case Step::SetSwitch: {
            // The client's copy still has the old choice on; a one-of-many vector goes out
            // with only the new one.
            INDI::PropertySwitch sw = client.getDevice(kDevice).getSwitch(parts[0].constData());
            QVERIFY2(sw.isValid(), qPrintable(why));
            sw.reset();
            auto* element = sw.findWidgetByName(parts[1].constData());
            QVERIFY2(element != nullptr, qPrintable(why));
            element->setState(ISS_ON);
            client.sendNewSwitch(sw);
            break;
        }
        case Step::WaitNumber: {
            const auto reached = [&] { return qAbs(client.number(step.key) - step.value) < 0.05; };
            QTRY_VERIFY2_WITH_TIMEOUT(reached(), qPrintable(why), kWaitMs);
            break;
        }
        case Step::WaitState:
            QTRY_VERIFY2_WITH_TIMEOUT(client.state(step.key) == int(step.value), qPrintable(why),
                                      kWaitMs);
            break;
        case Step::WaitText:
            QTRY_VERIFY2_WITH_TIMEOUT(client.text(step.key) == step.text, qPrintable(why),
                                      step.value != 0 ? kCalibrationWaitMs : kWaitMs);
            break;
        case Step::WaitOn:
            QTRY_VERIFY2_WITH_TIMEOUT(client.on(step.key) == (step.value != 0), qPrintable(why),
                                      kWaitMs);
            break;
        case Step::Mark:
            mark = frames().size();
            client.forget();
            break;
        case Step::Seen:
            QVERIFY2(client.history().contains(step.text) == (step.value != 0),
                     qPrintable(client.history().join(QLatin1Char(' ')) + QLatin1Char('\n') + why));
            break;
        case Step::StopAfter: {
            QTRY_VERIFY2_WITH_TIMEOUT(frames().mid(mark).contains(kStopFrame), qPrintable(why),
                                      kWaitMs);
            QVERIFY2(frames().mid(mark).indexOf(kStopFrame) <= step.value, qPrintable(why));
            break;
        }
        case Step::WaitFrame:
            QTRY_VERIFY2_WITH_TIMEOUT(frames().mid(mark).contains(step.text), qPrintable(why),
                                      kWaitMs);
            break;
        case Step::Frames: {
            const QString tag =
                QStringLiteral("12 %1 ").arg(int(step.value), 2, 16, QLatin1Char('0')).toUpper();
            QStringList seen;
            for (const QString& f : frames().mid(mark))
                if (f.mid(6, tag.size()) == tag)
                    seen << f;
            QVERIFY2(seen.join(QLatin1Char('|')) == step.text,
                     qPrintable(seen.join(QLatin1Char('|')) + QStringLiteral("\n") + why));
            break;
        }
        case Step::Settle:
            QTest::qWait(int(step.value));
            break;
        case Step::PullPort:
            QVERIFY(sim.kill());
            break;
        case Step::PlugPort:
            QVERIFY2(sim.start(args), qPrintable(sim.error()));
            break;
        case Step::Message:
            QTRY_VERIFY2_WITH_TIMEOUT(client.messages().join(QLatin1Char('\n')).contains(step.text),
                                      qPrintable(why), kWaitMs);
            break;
        }
    }
    client.disconnectServer();
}

QTEST_GUILESS_MAIN(TestIndiDriver)
#include "tst_indidriver.moc"
