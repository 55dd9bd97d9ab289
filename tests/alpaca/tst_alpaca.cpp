// The Alpaca server as a client sees it over HTTP and UDP: the protocol on a recording
// focuser (paths, parameters, transaction ids, status codes, error numbers), and what bad
// and abusive clients cost it.

#include "alpaca/alpacadiscovery.h"
#include "alpaca/alpacahttpserver.h"
#include "alpaca/alpacaservice.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

using namespace tarnivel;

namespace {

class RecordingFocuser : public AlpacaFocuser {
public:
    AlpacaFocuserStatus Status() const override { return status; }
    AlpacaResult Connect() override { return Log(QStringLiteral("Connect")); }
    AlpacaResult Disconnect() override { return Log(QStringLiteral("Disconnect")); }
    AlpacaResult Move(qint64 position) override {
        return Log(QStringLiteral("Move %1").arg(position));
    }
    AlpacaResult Halt() override { return Log(QStringLiteral("Halt")); }
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
QByteArray Exchange(QTcpSocket& socket, const QByteArray& raw, int waitMs = 3000) {
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
        http.Listen(QHostAddress::LocalHost, 0, limits);
    }
    bool Open(QTcpSocket& s) {
        s.connectToHost(QHostAddress::LocalHost, http.port());
        return s.waitForConnected(3000);
    }
};

} // namespace

class TestAlpaca : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void protocol_data();
    void protocol();
    void abuse();
    void discovery();
};

void TestAlpaca::protocol_data() {
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("call");

    const QByteArray api = "/api/v1/focuser/0/";
    QTest::newRow("api versions, transaction ids")
        << true << QByteArray("GET") << QByteArray("/management/apiversions?ClientTransactionID=5")
        << QByteArray() << 200
        << QByteArray(R"({"ClientTransactionID":5,"ErrorMessage":"","ErrorNumber":0,)"
                      R"("ServerTransactionID":1,"Value":[1]})")
        << QString();
    QTest::newRow("configured devices")
        << false << QByteArray("GET") << QByteArray("/management/v1/configureddevices")
        << QByteArray() << 200
        << QByteArray(R"("Value":[{"DeviceName":"Focuser","DeviceNumber":0,)"
                      R"("DeviceType":"Focuser","UniqueID":"fixed-id"}])")
        << QString();
    QTest::newRow("server description")
        << false << QByteArray("GET") << QByteArray("/management/v1/description") << QByteArray()
        << 200 << QByteArray(R"("ServerName":"Test server")") << QString();
    QTest::newRow("setup page") << false << QByteArray("GET")
                                << QByteArray("/setup/v1/focuser/0/setup") << QByteArray() << 200
                                << QByteArray("<h1>Test server</h1>") << QString();
    QTest::newRow("GET names in any case")
        << true << QByteArray("GET") << api + "position?clienttransactionid=42&CLIENTID=3"
        << QByteArray() << 200 << QByteArray(R"("ClientTransactionID":42,)") << QString();
    QTest::newRow("transaction id not a uint32 is 0")
        << true << QByteArray("GET") << api + "position?ClientTransactionID=-5" << QByteArray()
        << 200 << QByteArray(R"({"ClientTransactionID":0,)") << QString();
    QTest::newRow("position") << true << QByteArray("GET") << api + "position" << QByteArray()
                              << 200 << QByteArray(R"("Value":1234})") << QString();
    QTest::newRow("max increment is max step")
        << true << QByteArray("GET") << api + "maxincrement" << QByteArray() << 200
        << QByteArray(R"("Value":8000})") << QString();
    QTest::newRow("temperature") << true << QByteArray("GET") << api + "temperature" << QByteArray()
                                 << 200 << QByteArray(R"("Value":21.5})") << QString();
    QTest::newRow("device state")
        << true << QByteArray("GET") << api + "devicestate" << QByteArray() << 200
        << QByteArray(R"("Value":[{"Name":"IsMoving","Value":false},{"Name":"Position","Value")"
                      R"(:1234},{"Name":"Temperature","Value":21.5},{"Name":"TimeStamp")")
        << QString();
    QTest::newRow("not connected")
        << false << QByteArray("GET") << api + "position" << QByteArray() << 200
        << QByteArray(R"("ErrorMessage":"The focuser is not connected",)"
                      R"("ErrorNumber":1031,)")
        << QString();
    QTest::newRow("descriptive before connecting")
        << false << QByteArray("GET") << api + "interfaceversion" << QByteArray() << 200
        << QByteArray(R"("Value":4})") << QString();
    QTest::newRow("move, extras and + as space")
        << true << QByteArray("PUT") << api + "move"
        << QByteArray("Position=500&ClientTransactionID=7&Note=a+b%2Bc") << 200
        << QByteArray(R"({"ClientTransactionID":7,"ErrorMessage":"","ErrorNumber":0,)")
        << QStringLiteral("Move 500");
    QTest::newRow("move below 0 goes to the focuser")
        << true << QByteArray("PUT") << api + "move" << QByteArray("Position=-20") << 200
        << QByteArray(R"("ErrorNumber":0)") << QStringLiteral("Move -20");
    QTest::newRow("PUT member names are exact")
        << true << QByteArray("PUT") << api + "move" << QByteArray("pOSITION=5") << 400
        << QByteArray("The parameter Position is missing") << QString();
    QTest::newRow("move not a number")
        << true << QByteArray("PUT") << api + "move" << QByteArray("Position=12abc") << 400
        << QByteArray(R"(Position must be a whole number, not "12abc")") << QString();
    QTest::newRow("move beyond int32")
        << true << QByteArray("PUT") << api + "move" << QByteArray("Position=3000000000") << 400
        << QByteArray("Position must be a whole number") << QString();
    QTest::newRow("connected, booleans in any case")
        << false << QByteArray("PUT") << api + "connected" << QByteArray("Connected=TRUE") << 200
        << QByteArray(R"("ErrorNumber":0)") << QStringLiteral("Connect");
    QTest::newRow("connected not a boolean")
        << false << QByteArray("PUT") << api + "connected" << QByteArray("Connected=yes") << 400
        << QByteArray(R"(Connected must be True or False, not "yes")") << QString();
    QTest::newRow("halt") << true << QByteArray("PUT") << api + "halt" << QByteArray() << 200
                          << QByteArray(R"("ErrorNumber":0)") << QStringLiteral("Halt");
    QTest::newRow("tempcomp on is not implemented")
        << true << QByteArray("PUT") << api + "tempcomp" << QByteArray("TempComp=true") << 200
        << QByteArray(R"("ErrorNumber":1024)") << QString();
    QTest::newRow("action names in any case")
        << true << QByteArray("PUT") << api + "action"
        << QByteArray("Action=temperatures&Parameters=") << 200 << QByteArray(R"("Value":"[]")")
        << QStringLiteral("Action Temperatures ");
    QTest::newRow("unknown action")
        << true << QByteArray("PUT") << api + "action" << QByteArray("Action=Dance") << 200
        << QByteArray(R"("ErrorNumber":1036)") << QString();
    QTest::newRow("raw commands") << true << QByteArray("PUT") << api + "commandblind"
                                  << QByteArray("Command=x&Raw=true") << 200
                                  << QByteArray(R"("ErrorNumber":1024)") << QString();
    QTest::newRow("unknown member")
        << true << QByteArray("GET") << api + "speed" << QByteArray() << 400
        << QByteArray("The focuser has no member speed") << QString();
    QTest::newRow("unknown device number")
        << true << QByteArray("GET") << QByteArray("/api/v1/focuser/1/position") << QByteArray()
        << 400 << QByteArray("There is no focuser number 1") << QString();
    QTest::newRow("unknown device type")
        << true << QByteArray("GET") << QByteArray("/api/v1/camera/0/position") << QByteArray()
        << 400 << QByteArray("There is no device of type camera") << QString();
    QTest::newRow("unknown path") << true << QByteArray("GET") << QByteArray("/nothing/here")
                                  << QByteArray() << 404 << QByteArray("Not found") << QString();
    QTest::newRow("GET of a PUT member")
        << true << QByteArray("GET") << api + "move" << QByteArray() << 405
        << QByteArray("move does not answer GET") << QString();
    QTest::newRow("body over 64 KiB") << true << QByteArray("PUT") << api + "move"
                                      << QByteArray("Position=1&Pad=") + QByteArray(70000, 'x')
                                      << 413 << QByteArray("larger than 64 KiB") << QString();
}

void TestAlpaca::protocol() {
    QFETCH(bool, connected);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(QString, call);

    Rig rig;
    rig.focuser.status.connected = connected;
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

QTEST_GUILESS_MAIN(TestAlpaca)
#include "tst_alpaca.moc"
