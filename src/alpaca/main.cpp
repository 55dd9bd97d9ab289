// tarnivel-alpaca: one focuser, device number 0, for ASCOM Alpaca clients.
#include "alpaca/alpacahub.h"
#include "alpaca/devicefocuser.h"
#include "core/device/focuserdevice.h"
#include "core/seams/soundplayer.h"
#include "core/settings/programfolder.h"
#include "platform/qt/qtplatform.h"
#include "platform/qt/qtscheduler.h"
#include "platform/qt/qtserialport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSemaphore>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace tarnivel;

namespace {

constexpr quint16 kHttpPort = 11111;
constexpr quint16 kDiscoveryPort = 32227;

class SilentSound final : public SoundPlayer {
public:
    void play(const QString&, bool) override {}
    void stop() override {}
};

void Say(const QString& text) {
    std::fprintf(stderr, "tarnivel-alpaca: %s\n", qPrintable(text));
    std::fflush(stderr);
}

// SIGTERM and SIGINT end the event loop through a socket pair: nothing else may run in a
// signal handler.
int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(gSignalPipe[1], &byte, 1);
}

// The focuser's thread: the port, the device and its timers are made, used and ended here,
// where waiting for the controller holds up no client.
class DeviceThread final : public QThread {
public:
    explicit DeviceThread(ProgramFolder folder) : folder_(std::move(folder)) {}
    ~DeviceThread() override {
        quit();
        wait();
    }

    // Starts the thread and returns the focuser once it is built.
    DeviceAlpacaFocuser& Begin() {
        start();
        built_.acquire();
        return *focuser_;
    }

protected:
    void run() override {
        QtSerialPort port(folder_);
        QtServedPlatform platform;
        SilentSound sound;
        QtScheduler scheduler;
        FocuserDevice device(port, platform, sound, &scheduler);
        QString error;
        if (!device.LoadSettings(folder_, &error))
            Say(QStringLiteral("%1; serving with the default settings").arg(error));
        DeviceAlpacaFocuser focuser(
            device, &scheduler, [](const QString& text, bool) { Say(text); }, folder_);
        scheduler.SetRequestWaiting([&focuser] { return focuser.VerbWaiting(); });
        focuser_ = &focuser;
        built_.release();
        exec();
        // Whatever a client left running stops with the server.
        device.Stop();
        device.Disconnect();
        scheduler.SetRequestWaiting({});
    }

private:
    ProgramFolder folder_;
    QSemaphore built_;
    DeviceAlpacaFocuser* focuser_ = nullptr;
};

bool ParsePort(const QString& text, quint16& port) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 65535)
        return false;
    port = quint16(value);
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnivel-alpaca"));
    const QString version = QStringLiteral("%1.%2.%3")
                                .arg(TARNIVEL_VERSION_MAJOR)
                                .arg(TARNIVEL_VERSION_MINOR)
                                .arg(TARNIVEL_VERSION_PATCH);
    QCoreApplication::setApplicationVersion(version);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the focuser to ASCOM Alpaca clients (imaging software on Windows) over HTTP, "
        "with UDP discovery. It reads the console's settings and never writes them. Alpaca "
        "has no authentication: run it on a trusted network only."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dirOption(
        QStringLiteral("dir"),
        QStringLiteral("The folder with tarnivel.ini and the COMn links (default: the "
                       "console's program folder)."),
        QStringLiteral("DIR"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("The HTTP port (11111; 0 picks one)."),
                                        QStringLiteral("N"), QString::number(kHttpPort));
    const QCommandLineOption discoveryOption(
        QStringLiteral("discovery-port"),
        QStringLiteral("The UDP discovery port (32227; 0 picks one)."), QStringLiteral("N"),
        QString::number(kDiscoveryPort));
    const QCommandLineOption bindOption(
        QStringLiteral("bind"),
        QStringLiteral("Serve on this address only (default: every IPv4 address)."),
        QStringLiteral("ADDRESS"), QStringLiteral("0.0.0.0"));
    parser.addOptions({dirOption, portOption, discoveryOption, bindOption});
    parser.process(app);

    quint16 httpPort = 0;
    quint16 discoveryPort = 0;
    if (!ParsePort(parser.value(portOption), httpPort) ||
        !ParsePort(parser.value(discoveryOption), discoveryPort)) {
        Say(QStringLiteral("a port is a number from 0 to 65535"));
        return 2;
    }
    const QHostAddress bind(parser.value(bindOption));
    if (bind.isNull()) {
        Say(QStringLiteral("\"%1\" is not an IP address").arg(parser.value(bindOption)));
        return 2;
    }
    const ProgramFolder folder =
        parser.isSet(dirOption) ? ProgramFolder(QDir(parser.value(dirOption)).absolutePath(),
                                                QStringLiteral("tarnivel"))
                                : ProgramFolder::resolveIn(QCoreApplication::applicationDirPath(),
                                                           QStringLiteral("tarnivel"));

    DeviceThread deviceThread(folder);
    DeviceAlpacaFocuser& focuser = deviceThread.Begin();
    AlpacaHub hub(focuser, folder.folder(), QStringLiteral("tarnivel-alpaca"));
    if (!hub.warning().isEmpty())
        Say(hub.warning());
    QString error;
    if (!hub.Start(bind, httpPort, discoveryPort, false, &error)) {
        Say(error);
        return 1;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0) {
        Say(QStringLiteral("cannot set up the signal handling"));
        return 1;
    }
    QSocketNotifier signalled(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalled, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);

    std::printf("tarnivel-alpaca: serving the focuser on http://%s:%u/ (discovery on UDP port "
                "%u), settings from %s\n",
                qPrintable(bind.toString()), unsigned(hub.port()), unsigned(hub.discoveryPort()),
                qPrintable(QDir::toNativeSeparators(folder.folder())));
    std::fflush(stdout);

    return QCoreApplication::exec();
}
