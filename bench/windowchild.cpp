#include "windowchild.h"

#include "benchutil.h"
#include "core/link/focuserlink.h"
#include "core/settings/programfolder.h"
#include "core/settings/savedpositionlist.h"
#include "window/app/application.h"
#include "window/app/frmtarnivel.h"
#include "window/app/ratetimer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <utility>

#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace tarnivel::bench {

namespace {

constexpr int kWarmUpMs = 1000;

// Seconds since boot, on the clock the kernel stamps a process's start time with.
double bootSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// This process's start time in seconds since boot (/proc/self/stat, field 22), to the
// kernel's clock tick; -1 when it cannot be read.
double processStartSeconds() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The command name in parentheses may hold blanks; the fields after it do not.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    constexpr int kStartTimeAfterName = 19; // field 22, counted from field 3
    if (fields.size() <= kStartTimeAfterName)
        return -1;
    bool ok = false;
    const qulonglong ticks = fields[kStartTimeAfterName].toULongLong(&ok);
    const long hz = sysconf(_SC_CLK_TCK);
    if (!ok || hz <= 0)
        return -1;
    return static_cast<double>(ticks) / static_cast<double>(hz);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
}

// Calls back once, after the window's first paint has been handled.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget* window, std::function<void()> then)
        : window_(window), then_(std::move(then)) {
        window_->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Paint && then_) {
            window_->removeEventFilter(this);
            // Queued: the paint itself runs first.
            QTimer::singleShot(0, this, std::exchange(then_, nullptr));
        }
        return false;
    }

private:
    QWidget* window_;
    std::function<void()> then_;
};

} // namespace

int runStartupChild(int& argc, char** argv, const ChildOptions& options) {
    const double mainEntered = bootSeconds();
    QApplication app(argc, argv);
    const double started = processStartSeconds();
    // Composed as the program composes itself, in the given folder.
    UseProgramStyle();
    Application program(ProgramFolder(options.folder, QStringLiteral("tarnivel")));
    QJsonObject result;
    FirstPaint painted(&program.window(), [&] {
        const double shown = bootSeconds();
        result.insert(QStringLiteral("startupSeconds"), started < 0 ? -1.0 : shown - started);
        result.insert(QStringLiteral("mainSeconds"), started < 0 ? -1.0 : mainEntered - started);
        result.insert(QStringLiteral("peakRssMb"), peakRssMb());
        result.insert(QStringLiteral("positions"), program.console().positions.ListCount());
        result.insert(QStringLiteral("platform"), QGuiApplication::platformName());
        QApplication::quit();
    });
    program.window().show();
    app.exec();
    if (result.isEmpty())
        result.insert(QStringLiteral("error"), QStringLiteral("the window was never painted"));
    printResult(result);
    return 0;
}

int runIdleChild(int& argc, char** argv, const ChildOptions& options) {
    QApplication app(argc, argv);
    // Composed as the program composes itself, in the given folder.
    UseProgramStyle();
    Application program(ProgramFolder(options.folder, QStringLiteral("tarnivel")),
                        options.servePort);
    Console& console = program.console();
    QJsonObject result;
    double cpuStart = 0;
    QElapsedTimer wall;

    const auto finish = [&] {
        const double cpu = cpuSeconds() - cpuStart;
        const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        result.insert(QStringLiteral("cpuSeconds"), cpu);
        result.insert(QStringLiteral("wallSeconds"), seconds);
        result.insert(QStringLiteral("corePercent"), seconds > 0 ? 100.0 * cpu / seconds : 0.0);
        result.insert(QStringLiteral("connected"), console.link.LinkOpen());
        // Polling means the poll timer kept its interval for the whole window.
        result.insert(QStringLiteral("polling"), program.window().rateTimer->interval() > 0);
        QApplication::quit();
    };
    const auto begin = [&] {
        cpuStart = cpuSeconds();
        wall.start();
        QTimer::singleShot(options.seconds * 1000, Qt::PreciseTimer, &app, finish);
    };
    FirstPaint painted(&program.window(), [&] {
        if (options.connect) {
            program.window().cmdConnect->click();
            if (!console.link.LinkOpen()) {
                result.insert(QStringLiteral("error"), QStringLiteral("could not connect"));
                QApplication::quit();
                return;
            }
        }
        // The first poll ticks and the first temperature update settle before timing.
        QTimer::singleShot(kWarmUpMs, &app, begin);
    });
    program.window().show();
    app.exec();
    if (result.isEmpty())
        result.insert(QStringLiteral("error"), QStringLiteral("the window was never painted"));
    printResult(result);
    return 0;
}

} // namespace tarnivel::bench
