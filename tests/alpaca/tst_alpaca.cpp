// The Alpaca server as a client sees it over HTTP and UDP: the protocol on a recording
// focuser (paths, parameters, transaction ids, status codes, error numbers), what bad and
// abusive clients cost it, and the tarnivel-alpaca daemon driving tarnivel-sim on a
// pseudo-terminal linked as COM1, with the frames the simulator saw.

#include "alpaca/alpacadiscovery.h"
#include "alpaca/alpacahttpserver.h"
#include "alpaca/alpacaservice.h"
#include "sim/simtoolprocess.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

class RecordingFocuser : public AlpacaFocuser {
public:
    AlpacaFocuserStatus Status() const override { return status; }
    AlpacaResult Connect() override { return Log(QStringLiteral("Connect")); }
    AlpacaResult WaitConnected() override { return Log(QStringLiteral("Wait")); }
    AlpacaResult Disconnect() override { return Log(QStringLiteral("Disconnect")); }
    AlpacaResult Move(qint64 position) override {
        return Log(QStringLiteral("Move %1").arg(position));
    }
    AlpacaResult Halt() override { return Log(QStringLiteral("Halt")); }
    AlpacaResult SetTempComp(bool on) override {
        return Log(QStringLiteral("TempComp %1").arg(on));
    }
    QStringList SupportedActions() const override { return {QStringLiteral("Temperatures")}; }
    AlpacaResult Action(const QString& name, const QString& parameters, QString& value) override {
        value = QStringLiteral("[]");
        return Log(QStringLiteral("Action %1 %2").arg(name, parameters));
    }
    AlpacaResult Log(const QString& call) {
        calls << call;
        return {};
    }
    AlpacaFocuserStatus status;
    QStringList calls;
};

// Sends raw bytes and returns what came back once the reply is complete or the server
// closed the connection; the event loop runs meanwhile, so the server in this process answers.
// A PUT Connected answers once the whole connect is done, failed reads and their quiet line
// included.
QByteArray Exchange(QTcpSocket& socket, const QByteArray& raw, int waitMs = 10000) {
    socket.write(raw);
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < waitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        socket.waitForReadyRead(5);
        reply += socket.readAll();
        const qsizetype head = reply.indexOf("\r\n\r\n");
        if (head >= 0) {
            static const QRegularExpression length(QStringLiteral("Content-Length: (\\d+)"),
                                                   QRegularExpression::CaseInsensitiveOption);
            const auto m = length.match(QString::fromLatin1(reply.left(head)));
            if (m.hasMatch() && reply.size() - head - 4 >= m.captured(1).toLongLong())
                return reply;
        }
        if (socket.state() == QAbstractSocket::UnconnectedState)
            break;
    }
    return reply;
}

QByteArray Request(const QByteArray& method, const QByteArray& target, const QByteArray& body) {
    return method + ' ' + target + " HTTP/1.1\r\nHost: focuser\r\n" +
           (method == "PUT" ? "Content-Type: application/x-www-form-urlencoded\r\n" : "") +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

struct Rig {
    RecordingFocuser focuser;
    AlpacaService service{focuser, AlpacaServerInfo{QStringLiteral("Test server"),
                                                    {},
                                                    {},
                                                    {},
                                                    QStringLiteral("Focuser"),
                                                    {},
                                                    {},
                                                    {},
                                                    QStringLiteral("fixed-id")}};
    AlpacaHttpServer http{service};
    QTcpSocket socket;

    explicit Rig(AlpacaTcpServer::Limits limits = {}) {
        focuser.status.connected = true;
        focuser.status.position = 1234;
        focuser.status.maxStep = 8000;
        focuser.status.temperature = 21.5;
        focuser.status.tempCompUnavailable = QStringLiteral("No coefficient");
        http.Listen(QHostAddress::LocalHost, 0, limits);
    }
    bool Open(QTcpSocket& s) {
        s.connectToHost(QHostAddress::LocalHost, http.port());
        return s.waitForConnected(3000);
    }
};

const QString kSimTool = QStringLiteral(TARNIVEL_SIM_TOOL);
const QString kDaemon = QStringLiteral(TARNIVEL_ALPACA_DAEMON);
constexpr int kWaitMs = 15000;

// A calibrated controller with 8000 steps of travel, -4000..4000 on its counter (position =
// counter + 4000), whole steps, the final approach downward with 1000 steps of overshoot, one
// saved position at -2500 (position 1500); compensation available but off.
const QByteArray kCalibratedState = "register40=1\nregister41=0\nregister42=31\nregister43=64\n"
                                    "register44=255\nregister45=240\nregister46=96\n"
                                    "register47=0\nregister48=15\nregister49=160\nautoStop=1\n"
                                    "place=0\nposition=0\n";
const QByteArray kSettings = "[TARNIVEL]\r\n   COMport = 1\r\n   ScaleFactor = 1\r\n"
                             "   ScaleUnits = user\r\n   Decimals = 0\r\n   Approach = 1\r\n"
                             "   Overshoot = 1000\r\n   SensorName1 = Mirror\r\n"
                             "   TempCompCoefficient = -80\r\n"
                             "[POSITIONS]\r\n   Position = 16774716,Focus A\r\n";

// One step of a conversation with the daemon. what: a member (GET or PUT), a frame as hex,
// or a message id's frames since Mark joined by "|"; client: which of two connections asks.
struct Talk {
    // Send: a PUT answered at Reply; Same: the last answer's value again; Freeze: silence.
    // clang-format off
    enum Kind { Get, Put, Until, Mark, WaitFrame, Frames, Settle, PullPort, PlugPort, Send, Reply,
                Same, Freeze, Thaw };
    // clang-format on
    Kind kind;
    QByteArray what = {};
    QByteArray body = {}; // PUT: the form; Frames: the message id as hex; Settle: milliseconds
    QByteArray expect = {};
    int client = 0;
};
using Conversation = QList<Talk>;

// What the recording focuser reports; each includes the one before.
constexpr int Offline = 0, Online = 1, CompAvailable = 2;

} // namespace

Q_DECLARE_METATYPE(Conversation)

class TestAlpaca : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void protocol_data();
    void protocol();
    void abuse();
    void discovery();
    void daemon_data();
    void daemon();
};

void TestAlpaca::protocol_data() {
    QTest::addColumn<int>("fake");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("call");

    const QByteArray api = "/api/v1/focuser/0/";
    QTest::newRow("api versions, transaction ids")
        << Online << QByteArray("GET")
        << QByteArray("/management/apiversions?ClientTransactionID=5") << QByteArray() << 200
        << QByteArray(R"({"ClientTransactionID":5,"ErrorMessage":"","ErrorNumber":0,)"
                      R"("ServerTransactionID":1,"Value":[1]})")
        << QString();
    QTest::newRow("configured devices")
        << Offline << QByteArray("GET") << QByteArray("/management/v1/configureddevices")
        << QByteArray() << 200
        << QByteArray(R"("Value":[{"DeviceName":"Focuser","DeviceNumber":0,)"
                      R"("DeviceType":"Focuser","UniqueID":"fixed-id"}])")
        << QString();
    QTest::newRow("server description")
        << Offline << QByteArray("GET") << QByteArray("/management/v1/description") << QByteArray()
        << 200 << QByteArray(R"("ServerName":"Test server")") << QString();
    QTest::newRow("setup page") << Offline << QByteArray("GET")
                                << QByteArray("/setup/v1/focuser/0/setup") << QByteArray() << 200
                                << QByteArray("<h1>Test server</h1>") << QString();
    QTest::newRow("GET names in any case")
        << Online << QByteArray("GET") << api + "position?clienttransactionid=42&CLIENTID=3"
        << QByteArray() << 200 << QByteArray(R"("ClientTransactionID":42,)") << QString();
    QTest::newRow("id not a uint32: refused, no move")
        << Online << QByteArray("PUT") << api + "move" << QByteArray("Position=5&ClientID=+") << 400
        << QByteArray("ClientID must be a whole number from 0 to 4294967295") << QString();
    QTest::newRow("position") << Online << QByteArray("GET") << api + "position" << QByteArray()
                              << 200 << QByteArray(R"("Value":1234})") << QString();
    QTest::newRow("max increment is max step")
        << Online << QByteArray("GET") << api + "maxincrement" << QByteArray() << 200
        << QByteArray(R"("Value":8000})") << QString();
    QTest::newRow("temperature") << Online << QByteArray("GET") << api + "temperature"
                                 << QByteArray() << 200 << QByteArray(R"("Value":21.5})")
                                 << QString();
    QTest::newRow("device state")
        << Online << QByteArray("GET") << api + "devicestate" << QByteArray() << 200
        << QByteArray(R"("Value":[{"Name":"IsMoving","Value":false},{"Name":"Position","Value")"
                      R"(:1234},{"Name":"Temperature","Value":21.5},{"Name":"TimeStamp")")
        << QString();
    QTest::newRow("not connected")
        << Offline << QByteArray("GET") << api + "position" << QByteArray() << 200
        << QByteArray(R"("ErrorMessage":"The focuser is not connected",)"
                      R"("ErrorNumber":1031,)")
        << QString();
    QTest::newRow("descriptive before connecting")
        << Offline << QByteArray("GET") << api + "interfaceversion" << QByteArray() << 200
        << QByteArray(R"("Value":4})") << QString();
    QTest::newRow("move, extras and + as space")
        << Online << QByteArray("PUT") << api + "move"
        << QByteArray("Position=500&ClientTransactionID=7&Note=a+b%2Bc") << 200
        << QByteArray(R"({"ClientTransactionID":7,"ErrorMessage":"","ErrorNumber":0,)")
        << QStringLiteral("Move 500");
    QTest::newRow("move below 0 goes to the focuser")
        << Online << QByteArray("PUT") << api + "move" << QByteArray("Position=-20") << 200
        << QByteArray(R"("ErrorNumber":0)") << QStringLiteral("Move -20");
    QTest::newRow("PUT member names are exact")
        << Online << QByteArray("PUT") << api + "move" << QByteArray("pOSITION=5") << 400
        << QByteArray("The parameter Position is missing") << QString();
    QTest::newRow("move not a number")
        << Online << QByteArray("PUT") << api + "move" << QByteArray("Position=12abc") << 400
        << QByteArray(R"(Position must be a whole number, not "12abc")") << QString();
    QTest::newRow("move beyond int32")
        << Online << QByteArray("PUT") << api + "move" << QByteArray("Position=3000000000") << 400
        << QByteArray("Position must be a whole number") << QString();
    QTest::newRow("connected, booleans in any case")
        << Offline << QByteArray("PUT") << api + "connected" << QByteArray("Connected=TRUE") << 200
        << QByteArray(R"("ErrorNumber":0)") << QStringLiteral("Connect|Wait");
    QTest::newRow("connected not a boolean")
        << Offline << QByteArray("PUT") << api + "connected" << QByteArray("Connected=yes") << 400
        << QByteArray(R"(Connected must be True or False, not "yes")") << QString();
    QTest::newRow("tempcomp off while disconnected")
        << Offline << QByteArray("PUT") << api + "tempcomp" << QByteArray("TempComp=False") << 200
        << QByteArray(R"("ErrorNumber":1031)") << QString();
    QTest::newRow("action parameters in any case")
        << Online << QByteArray("PUT") << api + "action"
        << QByteArray("Action=Temperatures&parameters=Auto+1") << 200
        << QByteArray(R"("ErrorNumber":0)") << QStringLiteral("Action Temperatures Auto 1");
    QTest::newRow("halt; a lower-case id in a PUT body is ignored")
        << Online << QByteArray("PUT") << api + "halt" << QByteArray("clienttransactionid=9") << 200
        << QByteArray(R"({"ClientTransactionID":0,)") << QStringLiteral("Halt");
    QTest::newRow("tempcomp on while unavailable is not implemented")
        << Online << QByteArray("PUT") << api + "tempcomp" << QByteArray("TempComp=true") << 200
        << QByteArray(R"("ErrorMessage":"No coefficient","ErrorNumber":1024)") << QString();
    QTest::newRow("tempcomp on") << CompAvailable << QByteArray("PUT") << api + "tempcomp"
                                 << QByteArray("TempComp=True") << 200
                                 << QByteArray(R"("ErrorNumber":0)")
                                 << QStringLiteral("TempComp 1");
    QTest::newRow("tempcomp off") << CompAvailable << QByteArray("PUT") << api + "tempcomp"
                                  << QByteArray("TempComp=false") << 200
                                  << QByteArray(R"("ErrorNumber":0)")
                                  << QStringLiteral("TempComp 0");
    QTest::newRow("action names in any case")
        << Online << QByteArray("PUT") << api + "action"
        << QByteArray("Action=temperatures&Parameters=") << 200 << QByteArray(R"("Value":"[]")")
        << QStringLiteral("Action Temperatures ");
    QTest::newRow("unknown action")
        << Online << QByteArray("PUT") << api + "action" << QByteArray("Action=Dance") << 200
        << QByteArray(R"("ErrorNumber":1036)") << QString();
    QTest::newRow("raw commands") << Online << QByteArray("PUT") << api + "commandblind"
                                  << QByteArray("Command=x&Raw=true") << 200
                                  << QByteArray(R"("ErrorNumber":1024)") << QString();
    QTest::newRow("unknown member")
        << Online << QByteArray("GET") << api + "speed" << QByteArray() << 400
        << QByteArray("The focuser has no member speed") << QString();
    QTest::newRow("unknown device number")
        << Online << QByteArray("GET") << QByteArray("/api/v1/focuser/1/position") << QByteArray()
        << 400 << QByteArray("There is no focuser number 1") << QString();
    QTest::newRow("unknown device type")
        << Online << QByteArray("GET") << QByteArray("/api/v1/camera/0/position") << QByteArray()
        << 400 << QByteArray("There is no device of type camera") << QString();
    QTest::newRow("unknown path") << Online << QByteArray("GET") << QByteArray("/nothing/here")
                                  << QByteArray() << 404 << QByteArray("Not found") << QString();
    QTest::newRow("GET of a PUT member")
        << Online << QByteArray("GET") << api + "move" << QByteArray() << 405
        << QByteArray("move does not answer GET") << QString();
    QTest::newRow("body over 64 KiB") << Online << QByteArray("PUT") << api + "move"
                                      << QByteArray("Position=1&Pad=") + QByteArray(70000, 'x')
                                      << 413 << QByteArray("larger than 64 KiB") << QString();
}

void TestAlpaca::protocol() {
    QFETCH(int, fake);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(QString, call);

    Rig rig;
    rig.focuser.status.connected = fake != Offline;
    rig.focuser.status.tempCompAvailable = fake >= CompAvailable;
    QVERIFY(rig.Open(rig.socket));
    const QByteArray answer = Exchange(rig.socket, Request(method, target, body));
    QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '), answer.constData());
    QVERIFY2(answer.contains(reply), answer.constData());
    QCOMPARE(rig.focuser.calls.join(QLatin1Char('|')), call);
}

// A header flood, a request that never ends and more idle connections than the limit: each
// costs the server a bounded buffer and a connection it drops, and it goes on answering.
void TestAlpaca::abuse() {
    Rig rig({AlpacaService::kMaxBody + 16 * 1024, 4, 300, 600});
    const QByteArray position = Request("GET", "/api/v1/focuser/0/position", {});

    QTcpSocket flood;
    QVERIFY(rig.Open(flood));
    QByteArray headers = "GET /api/v1/focuser/0/position HTTP/1.1\r\n";
    for (int i = 0; i < 4000; ++i)
        headers += "X-Flood-" + QByteArray::number(i) + ": " + QByteArray(40, 'y') + "\r\n";
    QVERIFY(!Exchange(flood, headers + "\r\n").startsWith("HTTP/1.1 200"));

    QTcpSocket slow;
    QVERIFY(rig.Open(slow));
    QCOMPARE(Exchange(slow, "GET /api/v1/focuser/0/posi", 2000), QByteArray());
    QCOMPARE(slow.state(), QAbstractSocket::UnconnectedState);

    // A client gone before its PUT is answered: the answer has nowhere to go, the server goes on.
    QTcpSocket gone;
    QVERIFY(rig.Open(gone));
    gone.write(Request("PUT", "/api/v1/focuser/0/move", "Position=10"));
    QVERIFY(gone.waitForBytesWritten(1000));
    gone.abort();

    QList<QTcpSocket*> idle;
    for (int i = 0; i < 6; ++i) {
        idle << new QTcpSocket(this);
        QVERIFY(rig.Open(*idle.last()));
    }
    QTRY_VERIFY(rig.http.listener()->openConnections() <= 4);
    QVERIFY(rig.Open(rig.socket));
    QVERIFY(Exchange(rig.socket, position).contains(R"("Value":1234})"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.http.listener()->openConnections(), 0, 3000);
    qDeleteAll(idle);
}

void TestAlpaca::discovery() {
    AlpacaDiscovery responder(4321);
    QVERIFY(responder.Start(0, QHostAddress::Any));
    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    client.writeDatagram("alpacadiscovery1 and more", QHostAddress::LocalHost, responder.port());
    QTRY_VERIFY(client.hasPendingDatagrams());
    QCOMPARE(client.receiveDatagram().data(), QByteArray(R"({"AlpacaPort":4321})"));
}

void TestAlpaca::daemon_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QByteArray>("state"); // the controller's registers, limits and position
    QTest::addColumn<Conversation>("talk");
    const QStringList fast{QStringLiteral("--approach-speed"), QStringLiteral("8000"),
                           QStringLiteral("--temp1"),          QStringLiteral("25"),
                           QStringLiteral("--drift"),          QStringLiteral("0")};
    const QByteArray none;
    const auto ok = [](const char* value) { return QByteArray(R"("ErrorNumber":0,)") + value; };

    QTest::newRow("each member after connect")
        << fast << kCalibratedState
        << Conversation{
               {Talk::Get, "position", none, R"("ErrorNumber":0,"ServerTransactionID":)"},
               {Talk::Get, "position", none, R"("Value":4000})"},
               {Talk::Get, "maxstep", none, R"("Value":8000})"},
               {Talk::Get, "maxincrement", none, R"("Value":8000})"},
               {Talk::Get, "ismoving", none, R"("Value":false})"},
               {Talk::Get, "temperature", none, R"("Value":25})"},
               {Talk::Get, "stepsize", none, R"("ErrorNumber":1024,)"},
               {Talk::Get, "tempcomp", none, R"("Value":false})"},
               {Talk::Get, "devicestate", none,
                R"("Value":[{"Name":"IsMoving","Value":false},{"Name":"Position","Value":4000},)"
                R"({"Name":"Temperature","Value":25},{"Name":"TimeStamp")"},
               {Talk::Put, "action", "Action=SavedPositions&Parameters=",
                R"("Value":"[{\"Name\":\"Focus A\",\"Position\":1500}]"})"},
               {Talk::Put, "action", "Action=Temperatures&Parameters=",
                R"("Value":"[{\"Celsius\":25,\"Name\":\"Mirror\"},{\"Celsius\":12.5,)"
                R"(\"Name\":\"Ambient\"},{\"Celsius\":null,\"Name\":\"Secondary\"}]"})"},
               {Talk::Put, "action", "Action=FirmwareVersion&Parameters=", R"("Value":"2.7"})"},
               {Talk::Put, "connected", "Connected=False", ok("")},
               {Talk::Get, "connected", none, R"("Value":false})"},
               {Talk::Get, "position", none, R"("ErrorNumber":1031,)"}};

    QTest::newRow("move up: past by the overshoot, then back down")
        << fast << kCalibratedState
        << Conversation{
               {Talk::Mark},
               {Talk::Put, "move", "Position=6000", ok("")},
               {Talk::Until, "position", none, R"("Value":6000})"},
               {Talk::Until, "ismoving", none, R"("Value":false})"},
               {Talk::Frames, {}, "17", "50 04 12 17 00 0B B8 00|50 04 12 17 00 07 D0 00"}};
    QTest::newRow("move down: one approach; a move to where it stands ends")
        << fast << kCalibratedState
        << Conversation{{Talk::Mark},
                        {Talk::Put, "move", "Position=2000", ok("")},
                        {Talk::Until, "ismoving", none, R"("Value":false})"},
                        {Talk::Get, "position", none, R"("Value":2000})"},
                        {Talk::Frames, {}, "17", "50 04 12 17 FF F8 30 00"},
                        {Talk::Put, "move", "Position=2000", ok("")},
                        {Talk::Until, "ismoving", none, R"("Value":false})"}};
    QTest::newRow("saved position by name")
        << fast << kCalibratedState
        << Conversation{
               {Talk::Mark},
               {Talk::Put, "action", "Action=GotoSavedPosition&Parameters=focus+a", ok("")},
               {Talk::Until, "position", none, R"("Value":1500})"},
               {Talk::Frames, {}, "17", "50 04 12 17 FF F6 3C 00"}};
    QTest::newRow("below 0 stops at 0")
        << fast << kCalibratedState
        << Conversation{{Talk::Mark},
                        {Talk::Put, "move", "Position=-20", ok("")},
                        {Talk::Until, "position", none, R"("Value":0})"},
                        {Talk::Frames, {}, "17", "50 04 12 17 FF F0 60 00"}};
    QTest::newRow("above MaxStep stops at MaxStep")
        << fast << kCalibratedState
        << Conversation{{Talk::Mark},
                        {Talk::Put, "move", "Position=20000", ok("")},
                        {Talk::Until, "position", none, R"("Value":8000})"},
                        {Talk::Until, "ismoving", none, R"("Value":false})"},
                        // The end stop is the target: no overshoot point beyond it.
                        {Talk::Frames, {}, "17", "50 04 12 17 00 0F A0 00"}};

    QTest::newRow("temperature compensation: on, a move keeps it, halt switches it off")
        << fast << kCalibratedState
        << Conversation{
               {Talk::Get, "tempcompavailable", none, R"("Value":true})"},
               {Talk::Put, "tempcomp", "TempComp=True", ok("")},
               {Talk::Put, "move", "Position=5000", ok("")},
               {Talk::Until, "position", none, R"("Value":5000})"},
               {Talk::Get, "tempcomp", none, R"("Value":true})"},
               {Talk::Put, "halt", none, ok("")},
               {Talk::Get, "tempcomp", none, R"("Value":false})"},
               {Talk::Put, "action", "Action=TempCompStatus", R"("Temp comp off: stopped")"},
               {Talk::Put, "action", "Action=MarkFocus",
                R"("Value":"Focus point 1 recorded (not kept: dropped at the next connect); 1 point)"}};

    // Slow enough to be caught on the way; after the stop nothing moves again.
    QTest::newRow("halt mid-move")
        << QStringList{QStringLiteral("--approach-speed"), QStringLiteral("500")}
        << kCalibratedState
        << Conversation{{Talk::Mark},
                        {Talk::Put, "move", "Position=1000", ok("")},
                        {Talk::WaitFrame, "50 04 12 17 FF F4 48 00"},
                        {Talk::Settle, {}, "400"},
                        {Talk::Get, "ismoving", none, R"("Value":true})"},
                        {Talk::Put, "halt", none, ok("")},
                        {Talk::WaitFrame, "50 02 12 24 00 00 00 00"},
                        {Talk::Until, "ismoving", none, R"("Value":false})"},
                        {Talk::Get, "position", none, ok("")},
                        {Talk::Settle, {}, "1500"},
                        {Talk::Same, "position"},
                        {Talk::Frames, {}, "17", "50 04 12 17 FF F4 48 00"},
                        {Talk::Frames, {}, "02", ""}};

    // Stopped, then planned from where it is: past the target by the overshoot and back.
    QTest::newRow("move while moving")
        << QStringList{QStringLiteral("--approach-speed"), QStringLiteral("500")}
        << kCalibratedState
        << Conversation{
               {Talk::Mark},
               {Talk::Put, "move", "Position=1000", ok("")},
               {Talk::WaitFrame, "50 04 12 17 FF F4 48 00"},
               {Talk::Settle, {}, "400"},
               {Talk::Put, "move", "Position=6000", ok("")},
               {Talk::Until, "position", none, R"("Value":6000})"},
               {Talk::Frames, {}, "24", "50 02 12 24 00 00 00 00"},
               {Talk::Frames,
                {},
                "17",
                "50 04 12 17 FF F4 48 00|50 04 12 17 00 0B B8 00|50 04 12 17 00 07 D0 00"}};

    // Status is answered while a verb (the connect) waits for the focuser.
    QTest::newRow("status while a connect waits")
        << fast << kCalibratedState
        << Conversation{{Talk::Put, "disconnect", none, ok("")},
                        {Talk::Send, "connected", "Connected=True", {}, 1},
                        {Talk::Settle, {}, "200"},
                        {Talk::Get, "connecting", none, R"("Value":true})"},
                        {Talk::Reply, {}, {}, ok(""), 1},
                        {Talk::Get, "connected", none, R"("Value":true})"},
                        {Talk::Get, "position", none, R"("Value":4000})"}};
    QTest::newRow("temperature: sensor not fitted")
        << QStringList{QStringLiteral("--sensors"), QStringLiteral("2")} << kCalibratedState
        << Conversation{
               {Talk::Get, "temperature", none,
                R"("ErrorMessage":"Mirror (sensor 1) is not fitted","ErrorNumber":1024,)"}};
    // Both tries of sensor 1's first read lost: an error, not the reading before.
    QTest::newRow("temperature: a failed read")
        << QStringList{QStringLiteral("--fault"), QStringLiteral("38:no-answer:2")}
        << kCalibratedState
        << Conversation{{Talk::Get, "temperature", none,
                         R"("ErrorMessage":"Mirror (sensor 1) did not answer its last read",)"
                         R"("ErrorNumber":1280,)"}};
    QTest::newRow("silent controller")
        << fast << kCalibratedState
        << Conversation{{Talk::Freeze},
                        {Talk::Settle, {}, "12000"},
                        {Talk::Until, "ismoving", none, R"("ErrorNumber":1280,)"},
                        {Talk::Get, "position", none, R"("ErrorNumber":1280,)"},
                        {Talk::Get, "temperature", none, R"("ErrorNumber":1280,)"},
                        {Talk::Thaw},
                        {Talk::Until, "position", none, R"("Value":4000})"}};
    QTest::newRow("calibrate from the network")
        << fast << kCalibratedState
        << Conversation{{Talk::Put, "action", "Action=Calibrate&Parameters=Quick", ok("")},
                        {Talk::Until, "ismoving", none, R"("Value":true})"},
                        {Talk::Until, "ismoving", none, R"("Value":false})"},
                        {Talk::Put, "action", "Action=CalibrationStatus",
                         R"("Value":"Calibration Complete\r\n-- Ready --"})"}};

    // The members say why while the port is gone; the server goes on answering, and a
    // connect opens the port afresh once it is back.
    QTest::newRow("lost port, then connect")
        << fast << kCalibratedState
        << Conversation{{Talk::PullPort},
                        {Talk::Until, "position", none, R"("ErrorNumber":1280,)"},
                        {Talk::Get, "connected", none, R"("Value":false})"},
                        {Talk::Get, "name", none, R"("Value":"Tarnivel focuser"})"},
                        {Talk::PlugPort},
                        {Talk::Put, "connect", none, ok("")},
                        {Talk::Until, "connected", none, R"("Value":true})"},
                        {Talk::Put, "move", "Position=3000", ok("")},
                        {Talk::Until, "position", none, R"("Value":3000})"}};

    QTest::newRow("two clients see one focuser")
        << fast << kCalibratedState
        << Conversation{{Talk::Put, "move", "Position=5000", ok("")},
                        {Talk::Until, "position", none, R"("Value":5000})", 1},
                        {Talk::Until, "ismoving", none, R"("Value":false})", 1},
                        {Talk::Put, "move", "Position=4500", ok(""), 1},
                        {Talk::Until, "position", none, R"("Value":4500})"}};

    // No end stops to count from: a client aiming at 0 or MaxStep would run it blind.
    const QByteArray uncalibrated =
        QByteArray(kCalibratedState).replace("register40=1", "register40=0");
    QTest::newRow("uncalibrated: a move is refused")
        << fast << uncalibrated
        << Conversation{{Talk::Get, "maxstep", none, R"("Value":16777215})"},
                        {Talk::Put, "move", "Position=8388607",
                         R"x("ErrorMessage":"Calibrate the focuser first (Action Calibrate)",)x"
                         R"("ErrorNumber":1035,)"}};
    // Active limits at -65536 and +131072: the span the controller lets it reach.
    QTest::newRow("uncalibrated with both active limits: counted from the lower one")
        << fast << uncalibrated + "limitMin=255\nlimitMax=2\n"
        << Conversation{{Talk::Get, "maxstep", none, R"("Value":196608})"},
                        {Talk::Get, "position", none, R"("Value":65536})"},
                        {Talk::Put, "move", "Position=66536", ok("")},
                        {Talk::Until, "position", none, R"("Value":66536})"}};
}

void TestAlpaca::daemon() {
    QFETCH(QStringList, simArgs);
    QFETCH(QByteArray, state);
    QFETCH(Conversation, talk);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir folder(dir.path());
    QVERIFY(WriteFile(folder.filePath(QStringLiteral("tarnivel.ini")), kSettings));
    QVERIFY(WriteFile(folder.filePath(QStringLiteral("sim.state")), state));
    const QString simLog = folder.filePath(QStringLiteral("sim.log"));
    sim::SimToolProcess sim(kSimTool);
    sim.setOutputFile(simLog);
    const QStringList args =
        QStringList{QStringLiteral("--com"),    QStringLiteral("1"),
                    QStringLiteral("--dir"),    folder.path(),
                    QStringLiteral("--state"),  folder.filePath(QStringLiteral("sim.state")),
                    QStringLiteral("--lower"),  QStringLiteral("-4000"),
                    QStringLiteral("--upper"),  QStringLiteral("4000"),
                    QStringLiteral("--verbose")} +
        simArgs;
    QVERIFY2(sim.start(args), qPrintable(sim.error()));

    QProcess server;
    server.setStandardErrorFile(folder.filePath(QStringLiteral("server.log")));
    server.start(kDaemon,
                 {QStringLiteral("--dir"), folder.path(), QStringLiteral("--port"),
                  QStringLiteral("0"), QStringLiteral("--discovery-port"), QStringLiteral("0"),
                  QStringLiteral("--bind"), QStringLiteral("127.0.0.1")});
    const auto ended = qScopeGuard([&server] {
        server.kill();
        server.waitForFinished(5000);
    });
    QVERIFY(server.waitForReadyRead(kWaitMs));
    const auto port = QRegularExpression(QStringLiteral("http://127.0.0.1:(\\d+)/"))
                          .match(QString::fromUtf8(server.readAllStandardOutput()));
    QVERIFY(port.hasMatch());

    QTcpSocket sockets[2];
    const auto ask = [&](int client, const QByteArray& method, const QByteArray& member,
                         const QByteArray& body) {
        QTcpSocket& socket = sockets[client];
        // The server drops idle connections; a client then opens another.
        if (socket.state() != QAbstractSocket::ConnectedState) {
            socket.abort();
            socket.connectToHost(QHostAddress::LocalHost, port.captured(1).toUShort());
            socket.waitForConnected(3000);
        }
        return Exchange(socket, Request(method, "/api/v1/focuser/0/" + member, body));
    };
    const auto frames = [&simLog] {
        static const QRegularExpression line(
            QStringLiteral("^\\s*\\d+\\.\\d+  ((?:[0-9A-F]{2} ){7}[0-9A-F]{2})  -> "),
            QRegularExpression::MultilineOption);
        QFile file(simLog);
        file.open(QIODevice::ReadOnly);
        QStringList out;
        for (auto it = line.globalMatch(QString::fromLatin1(file.readAll())); it.hasNext();)
            out << it.next().captured(1);
        return out;
    };

    // Connected as soon as the PUT answers: no polling.
    QVERIFY(ask(0, "PUT", "connected", "Connected=True").contains(R"("ErrorNumber":0,)"));
    QVERIFY(ask(0, "GET", "connected", {}).contains(R"("Value":true})"));
    QVERIFY(ask(0, "GET", "position", {}).contains(R"("ErrorNumber":0,)"));
    qsizetype mark = 0;
    QByteArray last;
    for (const Talk& step : std::as_const(talk)) {
        QByteArray reply;
        const auto why = [&] {
            return QStringLiteral("%1 %2 %3: %4\nframes: %5")
                .arg(int(step.kind))
                .arg(QString::fromLatin1(step.what), QString::fromLatin1(step.expect),
                     QString::fromUtf8(reply), frames().mid(mark).join(QLatin1Char('|')))
                .toUtf8();
        };
        switch (step.kind) {
        case Talk::Get:
        case Talk::Put:
            reply = ask(step.client, step.kind == Talk::Get ? "GET" : "PUT", step.what, step.body);
            QVERIFY2(reply.contains(step.expect), why().constData());
            last = reply.mid(reply.indexOf("\"Value\""));
            break;
        case Talk::Send:
            ask(step.client, "GET", "name", {});
            sockets[step.client].write(Request("PUT", "/api/v1/focuser/0/" + step.what, step.body));
            break;
        case Talk::Reply:
            reply = Exchange(sockets[step.client], {}, kWaitMs);
            QVERIFY2(reply.contains(step.expect), why().constData());
            break;
        case Talk::Same:
            reply = ask(step.client, "GET", step.what, {});
            QVERIFY2(reply.endsWith(last), why().constData());
            break;
        case Talk::Freeze:
        case Talk::Thaw:
            QCOMPARE(::kill(pid_t(sim.processId()), step.kind == Talk::Freeze ? SIGSTOP : SIGCONT),
                     0);
            break;
        case Talk::Until:
            QTRY_VERIFY2_WITH_TIMEOUT(
                (reply = ask(step.client, "GET", step.what, {})).contains(step.expect),
                why().constData(), kWaitMs);
            break;
        case Talk::Mark:
            mark = frames().size();
            break;
        case Talk::WaitFrame:
            QTRY_VERIFY2_WITH_TIMEOUT(frames().mid(mark).contains(QString::fromLatin1(step.what)),
                                      why().constData(), kWaitMs);
            break;
        case Talk::Frames: {
            QStringList seen;
            for (const QString& f : frames().mid(mark)) {
                if (f.mid(6, 5) == QStringLiteral("12 ") + QString::fromLatin1(step.body))
                    seen << f;
            }
            QVERIFY2(seen.join(QLatin1Char('|')) == QString::fromLatin1(step.expect),
                     why().constData());
            break;
        }
        case Talk::Settle:
            QTest::qWait(step.body.toInt());
            break;
        case Talk::PullPort:
            QVERIFY(sim.kill());
            break;
        case Talk::PlugPort:
            QVERIFY2(sim.start(args), qPrintable(sim.error()));
            break;
        }
    }
    server.terminate();
    QVERIFY(server.waitForFinished(5000));
    QCOMPARE(server.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestAlpaca)
#include "tst_alpaca.moc"
