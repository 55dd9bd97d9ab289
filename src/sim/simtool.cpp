#include "sim/simtool.h"

#include "core/settings/programfolder.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace tarnivel::sim {

namespace {

// A pseudo-terminal delivers at once; a real 9600-baud line takes about a millisecond per
// byte and the firmware a few more to start its answer.
constexpr int kToolReplyDelayMs = 3;
constexpr int kToolByteIntervalMs = 1;
constexpr double kToolDriftAmplitude = 0.3;
constexpr int kIdlePollMs = 100;
constexpr int kReadChunk = 256;

struct FaultName {
    const char* name;
    Fault fault;
};

constexpr FaultName kFaultNames[] = {
    {"no-answer", Fault::NoAnswer},     {"wrong-terminator", Fault::WrongTerminator},
    {"drop-byte", Fault::DropByte},     {"extra-byte", Fault::ExtraByte},
    {"slow-answer", Fault::SlowAnswer}, {"go-silent", Fault::GoSilent},
    {"port-vanish", Fault::PortVanish},
};

bool faultFromName(const QString& name, Fault& out) {
    for (const FaultName& f : kFaultNames) {
        if (name == QLatin1String(f.name)) {
            out = f.fault;
            return true;
        }
    }
    return false;
}

QString faultNames() {
    QStringList names;
    for (const FaultName& f : kFaultNames)
        names << QLatin1String(f.name);
    return names.join(QStringLiteral(", "));
}

void setRate(FaultRates& rates, Fault fault, double rate) {
    switch (fault) {
    case Fault::NoAnswer:
        rates.noAnswer = rate;
        break;
    case Fault::WrongTerminator:
        rates.wrongTerminator = rate;
        break;
    case Fault::DropByte:
        rates.dropByte = rate;
        break;
    case Fault::ExtraByte:
        rates.extraByte = rate;
        break;
    case Fault::SlowAnswer:
        rates.slowAnswer = rate;
        break;
    case Fault::GoSilent:
        rates.goSilent = rate;
        break;
    case Fault::PortVanish:
        rates.portVanish = rate;
        break;
    }
}

void say(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void complain(const QString& text) {
    std::fputs(qPrintable(QStringLiteral("tarnivel-sim: ") + text + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

// The pseudo-terminal, its link and the loop that carries bytes between it and the model.
class PtyServer {
public:
    explicit PtyServer(const ToolOptions& options) : options_(options), model_(options.config) {}
    ~PtyServer() {
        removeLink();
        closePty();
    }
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    int run();

private:
    bool openPty();
    void closePty();
    bool placeLink();
    void removeLink();
    void serveArrived(qint64 now);
    void readConsole();
    int waitMs(qint64 now) const;

    ToolOptions options_;
    ControllerModel model_;
    QElapsedTimer clock_;
    int master_ = -1;
    // Held open so that the master never sees a hang-up while the console has the port
    // closed; otherwise a reconnect would find a dead line.
    int slave_ = -1;
    QString slavePath_;
    QString linkPath_;
    qint64 goneUntil_ = -1;
    qint64 silentUntil_ = -1;
};

bool PtyServer::openPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        complain(QStringLiteral("cannot open a pseudo-terminal: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
        closePty();
        return false;
    }
    const char* name = ptsname(master_);
    if (name == nullptr) {
        complain(QStringLiteral("no name for the pseudo-terminal"));
        closePty();
        return false;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ >= 0) {
        termios tio{};
        if (tcgetattr(slave_, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B9600);
            cfsetospeed(&tio, B9600);
            tcsetattr(slave_, TCSANOW, &tio);
        }
    }
    const int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    return true;
}

void PtyServer::closePty() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = -1;
    master_ = -1;
}

bool PtyServer::placeLink() {
    if (options_.com <= 0)
        return true;
    QString folder = options_.dir;
    if (folder.isEmpty())
        folder = ProgramFolder::resolve(QStringLiteral("tarnivel")).folder();
    QDir().mkpath(folder);
    linkPath_ = QDir(folder).absoluteFilePath(QStringLiteral("COM%1").arg(options_.com));
    const QFileInfo existing(linkPath_);
    if (existing.exists() || existing.isSymLink()) {
        if (!existing.isSymLink()) {
            complain(
                QStringLiteral("%1 exists and is not a link; leaving it alone").arg(linkPath_));
            linkPath_.clear();
            return false;
        }
        // A link left by a run that was killed, or by the previous pseudo-terminal of this one.
        QFile::remove(linkPath_);
    }
    if (!QFile::link(slavePath_, linkPath_)) {
        complain(QStringLiteral("cannot create %1").arg(linkPath_));
        linkPath_.clear();
        return false;
    }
    return true;
}

void PtyServer::removeLink() {
    if (linkPath_.isEmpty())
        return;
    const QFileInfo info(linkPath_);
    // Only our own link: another run may have taken the name over since.
    if (info.isSymLink() && info.symLinkTarget() == slavePath_)
        QFile::remove(linkPath_);
    linkPath_.clear();
}

void PtyServer::serveArrived(qint64 now) {
    if (master_ < 0)
        return;
    while (model_.bytesArrived(now) > 0) {
        const auto byte = static_cast<char>(model_.takeByte(now));
        if (::write(master_, &byte, 1) != 1)
            break;
    }
}

void PtyServer::readConsole() {
    char buffer[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i)
            model_.receiveByte(static_cast<quint8>(buffer[i]), clock_.elapsed());
    }
}

int PtyServer::waitMs(qint64 now) const {
    qint64 wait = kIdlePollMs;
    const qint64 next = model_.nextArrival();
    if (next >= 0)
        wait = std::min(wait, std::max<qint64>(0, next - now));
    if (goneUntil_ >= 0)
        wait = std::min(wait, std::max<qint64>(0, goneUntil_ - now));
    if (silentUntil_ >= 0)
        wait = std::min(wait, std::max<qint64>(0, silentUntil_ - now));
    return static_cast<int>(wait);
}

int PtyServer::run() {
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGHUP);
    sigprocmask(SIG_BLOCK, &watched, nullptr);
    const int signalFd = signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) {
        complain(QStringLiteral("cannot watch for signals"));
        return 1;
    }

    for (const FaultRule& rule : options_.faults)
        model_.injectFault(rule);
    if (options_.verbose) {
        model_.onExchange = [this](const QByteArray& frame, const QByteArray& answer) {
            const QString reply =
                answer.isEmpty() ? QStringLiteral("(no answer)") : ControllerModel::toHex(answer);
            say(QStringLiteral("%1  %2  ->  %3")
                    .arg(static_cast<double>(clock_.elapsed()) / 1000.0, 9, 'f', 3)
                    .arg(ControllerModel::toHex(frame), reply));
        };
    }

    clock_.start();
    if (!openPty()) {
        ::close(signalFd);
        return 1;
    }
    say(slavePath_);
    if (options_.com > 0) {
        if (!placeLink()) {
            ::close(signalFd);
            return 1;
        }
        say(QStringLiteral("COM%1 -> %2").arg(options_.com).arg(linkPath_));
    }

    bool running = true;
    while (running) {
        qint64 now = clock_.elapsed();
        model_.advanceTo(now);
        if (model_.takeVanishRequest()) {
            say(QStringLiteral("port vanished; back in %1 ms").arg(options_.recoverMs));
            model_.resetLine();
            closePty();
            goneUntil_ = now + options_.recoverMs;
        }
        if (goneUntil_ >= 0 && now >= goneUntil_) {
            goneUntil_ = -1;
            removeLink();
            if (!openPty())
                break;
            say(slavePath_);
            placeLink();
            say(QStringLiteral("port back"));
        }
        if (model_.silent() && silentUntil_ < 0) {
            say(QStringLiteral("controller silent for %1 ms").arg(options_.recoverMs));
            silentUntil_ = now + options_.recoverMs;
        }
        if (silentUntil_ >= 0 && now >= silentUntil_) {
            silentUntil_ = -1;
            model_.setSilent(false);
            say(QStringLiteral("controller answers again"));
        }
        serveArrived(now);

        pollfd fds[2] = {{signalFd, POLLIN, 0}, {master_, POLLIN, 0}};
        const nfds_t count = master_ >= 0 ? 2 : 1;
        const int ready = ::poll(fds, count, waitMs(clock_.elapsed()));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) > 0)
                running = false;
        }
        if (count == 2 && (fds[1].revents & POLLIN))
            readConsole();
    }

    model_.saveState();
    removeLink();
    closePty();
    ::close(signalFd);
    return 0;
}

} // namespace

ParseOutcome parseToolArguments(const QStringList& args, ToolOptions& options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a simulated focuser controller on a pseudo-terminal.\n"
        "Prints the device path, and with --com N places the link COMN where the console\n"
        "looks for it (beside this tool when that folder is writable, otherwise the console's\n"
        "per-user configuration folder). Runs until interrupted; removes its link on exit.\n"
        "Positions are counter steps as read at power-on; negative values lie below zero."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const auto opt = [](const char* name, const char* text, const char* valueName) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text),
                                  QString::fromLatin1(valueName));
    };
    const QCommandLineOption com = opt("com", "Place the link COM<n> (n >= 1).", "n");
    const QCommandLineOption dir =
        opt("dir", "Folder for the COM link instead of the console's.", "folder");
    const QCommandLineOption lower = opt("lower", "Lower end stop (default -30000).", "steps");
    const QCommandLineOption upper = opt("upper", "Upper end stop (default 30000).", "steps");
    const QCommandLineOption travel = opt(
        "travel", "Travel between the end stops; places the upper one above the lower.", "steps");
    const QCommandLineOption start = opt("start", "Start position (default 0).", "steps");
    const QCommandLineOption slew =
        opt("slew-speed", "Speed of GotoPosition in steps/s (default 4000).", "n");
    const QCommandLineOption approach =
        opt("approach-speed", "Speed of ApproachPosition in steps/s (default 4000).", "n");
    const QCommandLineOption rates =
        opt("rate-speeds", "Nine speeds in steps/s for rates 1..9, comma separated.", "list");
    const QCommandLineOption autoStop =
        opt("auto-stop", "Auto-stop flag at start, 0 or 1 (0).", "0|1");
    const QCommandLineOption focuser = opt("focuser-address", "Focuser bus address (18).", "n");
    const QCommandLineOption fan = opt("fan-address", "Fan bus address (19).", "n");
    const QCommandLineOption sensors =
        opt("sensors", "Fitted sensor slots, comma separated, or none (default 1,2).", "list");
    const QCommandLineOption temp1 = opt("temp1", "Set point of slot 1 in deg C (18).", "C");
    const QCommandLineOption temp2 = opt("temp2", "Set point of slot 2 in deg C (12.5).", "C");
    const QCommandLineOption temp3 = opt("temp3", "Set point of slot 3 in deg C (20).", "C");
    const QCommandLineOption drift =
        opt("drift", "Amplitude of the slow drift around the set points (0.3 deg C).", "C");
    const QCommandLineOption driftPeriod =
        opt("drift-period", "Period of the drift in seconds (1200).", "s");
    const QCommandLineOption firmware = opt("firmware", "Firmware version (2.7).", "major.minor");
    const QCommandLineOption replyDelay =
        opt("reply-delay", "Milliseconds before the first answer byte (3).", "ms");
    const QCommandLineOption byteInterval =
        opt("byte-interval", "Milliseconds between answer bytes (1).", "ms");
    const QCommandLineOption faultRate =
        opt("fault-rate",
            "Chance per answer of a fault, repeatable. Kinds: no-answer, wrong-terminator, "
            "drop-byte, extra-byte, slow-answer, go-silent, port-vanish.",
            "kind=rate");
    const QCommandLineOption fault =
        opt("fault", "Fault on a message id, repeatable; times -1 is every time (default 1).",
            "id:kind[:times]");
    const QCommandLineOption seed = opt("fault-seed", "Seed of the random faults (1).", "n");
    const QCommandLineOption slowMs =
        opt("slow-ms", "Delay of a slow answer in milliseconds (500).", "ms");
    const QCommandLineOption recover =
        opt("recover-ms", "How long the controller stays silent or the port gone (5000).", "ms");
    const QCommandLineOption state =
        opt("state", "File keeping the memory registers, limits, auto-stop and position.", "file");
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Print every frame and its answer in hex."));
    parser.addOptions({help,        com,      dir,        lower,        upper,     travel,
                       start,       slew,     approach,   rates,        autoStop,  focuser,
                       fan,         sensors,  temp1,      temp2,        temp3,     drift,
                       driftPeriod, firmware, replyDelay, byteInterval, faultRate, fault,
                       seed,        slowMs,   recover,    state,        verbose});

    ParseOutcome outcome;
    const auto fail = [&outcome](const QString& message) {
        outcome.ok = false;
        outcome.message = message;
        return outcome;
    };
    if (!parser.parse(args))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        outcome.help = true;
        outcome.message = parser.helpText();
        return outcome;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments()[0]));

    SimConfig& c = options.config;
    c.replyDelayMs = kToolReplyDelayMs;
    c.byteIntervalMs = kToolByteIntervalMs;
    c.driftAmplitude = kToolDriftAmplitude;

    QString error;
    const auto integer = [&](const QCommandLineOption& o, qint64 low, qint64 high, qint64& out) {
        if (!parser.isSet(o) || !error.isEmpty())
            return;
        bool ok = false;
        const qint64 v = parser.value(o).toLongLong(&ok);
        if (!ok || v < low || v > high)
            error = QStringLiteral("--%1 needs a whole number from %2 to %3")
                        .arg(o.names().constFirst())
                        .arg(low)
                        .arg(high);
        else
            out = v;
    };
    const auto integer32 = [&](const QCommandLineOption& o, int low, int high, int& out) {
        qint64 v = out;
        integer(o, low, high, v);
        out = static_cast<int>(v);
    };
    const auto real = [&](const QCommandLineOption& o, double& out) {
        if (!parser.isSet(o) || !error.isEmpty())
            return;
        bool ok = false;
        const double v = parser.value(o).toDouble(&ok);
        if (!ok)
            error = QStringLiteral("--%1 needs a number").arg(o.names().constFirst());
        else
            out = v;
    };

    constexpr qint64 kHalfRange = 8388608;
    constexpr int kMaxSpeed = 10000000;
    constexpr int kMaxMs = 3600000;
    integer32(com, 1, 255, options.com);
    integer(lower, -kHalfRange, kHalfRange, c.lowerEndStop);
    integer(upper, -kHalfRange, kHalfRange, c.upperEndStop);
    qint64 travelSteps = -1;
    integer(travel, 1, kCounterModulus - 1, travelSteps);
    if (travelSteps > 0)
        c.upperEndStop = c.lowerEndStop + travelSteps;
    integer(start, -kHalfRange, kHalfRange, c.startPosition);
    integer32(slew, 0, kMaxSpeed, c.slewSpeed);
    integer32(approach, 0, kMaxSpeed, c.approachSpeed);
    qint64 autoStopValue = c.autoStop ? 1 : 0;
    integer(autoStop, 0, 1, autoStopValue);
    c.autoStop = autoStopValue != 0;
    integer32(focuser, 0, 255, c.focuserAddress);
    integer32(fan, 0, 255, c.fanAddress);
    real(temp1, c.sensors[0].setPoint);
    real(temp2, c.sensors[1].setPoint);
    real(temp3, c.sensors[2].setPoint);
    real(drift, c.driftAmplitude);
    qint64 periodS = c.driftPeriodMs / 1000;
    integer(driftPeriod, 1, 86400, periodS);
    c.driftPeriodMs = static_cast<int>(periodS * 1000);
    integer32(replyDelay, 0, kMaxMs, c.replyDelayMs);
    integer32(byteInterval, 0, kMaxMs, c.byteIntervalMs);
    qint64 seedValue = c.faultSeed;
    integer(seed, 0, 4294967295LL, seedValue);
    c.faultSeed = static_cast<quint32>(seedValue);
    integer32(slowMs, 0, kMaxMs, c.slowAnswerMs);
    integer32(recover, 0, kMaxMs, options.recoverMs);
    if (!error.isEmpty())
        return fail(error);

    if (c.upperEndStop <= c.lowerEndStop)
        return fail(QStringLiteral("the upper end stop must lie above the lower one"));
    if (!parser.isSet(start))
        c.startPosition = std::clamp<qint64>(0, c.lowerEndStop, c.upperEndStop);
    if (c.startPosition < c.lowerEndStop || c.startPosition > c.upperEndStop)
        return fail(QStringLiteral("--start must lie between the end stops (%1 to %2)")
                        .arg(c.lowerEndStop)
                        .arg(c.upperEndStop));

    if (parser.isSet(rates)) {
        const QStringList parts = parser.value(rates).split(QLatin1Char(','));
        if (parts.size() != kRateCount - 1)
            return fail(QStringLiteral("--rate-speeds needs nine speeds"));
        for (int i = 0; i < parts.size(); ++i) {
            bool ok = false;
            const int v = parts[i].trimmed().toInt(&ok);
            if (!ok || v < 0 || v > kMaxSpeed)
                return fail(QStringLiteral("--rate-speeds: %1 is not a speed").arg(parts[i]));
            c.rateSpeeds[static_cast<size_t>(i + 1)] = v;
        }
    }
    if (parser.isSet(sensors)) {
        for (SensorConfig& s : c.sensors)
            s.fitted = false;
        const QString list = parser.value(sensors).trimmed();
        if (list != QStringLiteral("none")) {
            for (const QString& part : list.split(QLatin1Char(','))) {
                bool ok = false;
                const int slot = part.trimmed().toInt(&ok);
                if (!ok || slot < 1 || slot > kSensorSlots)
                    return fail(QStringLiteral("--sensors: %1 is not a slot 1..3").arg(part));
                c.sensors[static_cast<size_t>(slot - 1)].fitted = true;
            }
        }
    }
    if (parser.isSet(firmware)) {
        const QStringList parts = parser.value(firmware).split(QLatin1Char('.'));
        bool okMajor = false;
        bool okMinor = false;
        const int major = parts.size() == 2 ? parts[0].toInt(&okMajor) : -1;
        const int minor = parts.size() == 2 ? parts[1].toInt(&okMinor) : -1;
        if (!okMajor || !okMinor || major < 0 || major > 255 || minor < 0 || minor > 255)
            return fail(QStringLiteral("--firmware needs major.minor, each 0..255"));
        c.firmwareMajor = major;
        c.firmwareMinor = minor;
    }
    for (const QString& item : parser.values(faultRate)) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        Fault kind{};
        bool ok = false;
        const double rate = eq > 0 ? item.mid(eq + 1).toDouble(&ok) : 0.0;
        if (eq <= 0 || !faultFromName(item.left(eq), kind) || !ok || rate < 0.0 || rate > 1.0)
            return fail(QStringLiteral("--fault-rate needs kind=rate with rate 0..1 (kinds: %1)")
                            .arg(faultNames()));
        setRate(c.faultRates, kind, rate);
    }
    for (const QString& item : parser.values(fault)) {
        const QStringList parts = item.split(QLatin1Char(':'));
        FaultRule rule;
        bool okId = false;
        bool okTimes = true;
        if (parts.size() >= 2)
            rule.messageId = parts[0].toInt(&okId);
        if (parts.size() == 3)
            rule.times = parts[2].toInt(&okTimes);
        if (parts.size() < 2 || parts.size() > 3 || !okId || rule.messageId < 0 ||
            rule.messageId > 255 || !faultFromName(parts[1], rule.fault) || !okTimes ||
            rule.times < -1 || rule.times == 0)
            return fail(
                QStringLiteral("--fault needs id:kind[:times] (kinds: %1)").arg(faultNames()));
        options.faults.append(rule);
    }
    options.dir = parser.value(dir);
    options.verbose = parser.isSet(verbose);
    c.stateFile = parser.value(state);
    return outcome;
}

int runTool(const ToolOptions& options) {
    PtyServer server(options);
    return server.run();
}

} // namespace tarnivel::sim
