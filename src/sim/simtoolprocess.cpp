#include "sim/simtoolprocess.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>
#include <utility>

namespace tarnivel::sim {

namespace {

constexpr int kBoundMs = static_cast<int>(SimToolProcess::kBound.count());
// How often a start that prints to a file looks at it again.
constexpr qint64 kFilePollMs = 20;

bool asksForLink(const QStringList& args) {
    return std::any_of(args.cbegin(), args.cend(), [](const QString& a) {
        return a == QLatin1String("--com") || a.startsWith(QLatin1String("--com="));
    });
}

} // namespace

SimToolProcess::SimToolProcess(QString program) : program_(std::move(program)) {}

SimToolProcess::~SimToolProcess() {
    stop();
}

void SimToolProcess::setOutputFile(const QString& path) {
    outputFile_ = path;
}

bool SimToolProcess::start(const QStringList& args) {
    stop();
    output(); // drains what an earlier run left unread, so that none of it counts now
    errorOutput();
    output_.clear();
    errors_.clear();
    device_.clear();
    link_.clear();
    error_.clear();
    // Merged, so that a complaint lands in the file beside the lines that led to it.
    process_.setProcessChannelMode(outputFile_.isEmpty() ? QProcess::SeparateChannels
                                                         : QProcess::MergedChannels);
    process_.setStandardOutputFile(outputFile_);
    process_.setProgram(program_);
    process_.setArguments(args);
    process_.start();
    if (!process_.waitForStarted(kBoundMs)) {
        fail(QStringLiteral("cannot start %1: %2").arg(program_, process_.errorString()));
        return false;
    }
    const bool needLink = asksForLink(args);
    const QDeadlineTimer deadline(kBound);
    while (!reported(needLink)) {
        if (!isRunning()) {
            fail(QStringLiteral("%1 ended with code %2 before it reported its %3")
                     .arg(program_)
                     .arg(process_.exitCode())
                     .arg(needLink ? QStringLiteral("link") : QStringLiteral("device")));
            return false;
        }
        if (deadline.hasExpired()) {
            fail(QStringLiteral("%1 did not report its %2 within %3 ms")
                     .arg(program_, needLink ? QStringLiteral("link") : QStringLiteral("device"))
                     .arg(kBoundMs));
            return false;
        }
        const int left = static_cast<int>(deadline.remainingTime());
        // A file gives no signal when it grows; waiting for the end at least notices a death.
        if (outputFile_.isEmpty())
            process_.waitForReadyRead(left);
        else
            process_.waitForFinished(static_cast<int>(std::min<qint64>(left, kFilePollMs)));
    }
    return true;
}

bool SimToolProcess::reported(bool needLink) {
    QList<QByteArray> lines = output().split('\n');
    lines.removeLast(); // not ended by a newline yet, or empty
    for (const QByteArray& line : lines) {
        if (device_.isEmpty() && line.startsWith('/'))
            device_ = QString::fromLocal8Bit(line);
        const qsizetype arrow = line.indexOf(" -> ");
        if (link_.isEmpty() && line.startsWith("COM") && arrow > 0)
            link_ = QString::fromLocal8Bit(line.mid(arrow + 4));
    }
    return !device_.isEmpty() && (!needLink || !link_.isEmpty());
}

void SimToolProcess::fail(const QString& why) {
    stop();
    const QByteArray said = (outputFile_.isEmpty() ? errorOutput() : output()).trimmed();
    error_ = said.isEmpty() ? why : why + QStringLiteral(": ") + QString::fromLocal8Bit(said);
}

bool SimToolProcess::stop() {
    if (!isRunning())
        return false;
    process_.terminate();
    const bool ended = process_.waitForFinished(kBoundMs);
    if (!ended) {
        process_.kill();
        process_.waitForFinished(kBoundMs);
    }
    return ended;
}

bool SimToolProcess::kill() {
    if (!isRunning())
        return false;
    process_.kill();
    return process_.waitForFinished(kBoundMs);
}

QByteArray SimToolProcess::output() {
    if (!outputFile_.isEmpty()) {
        QFile file(outputFile_);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    if (process_.isOpen())
        output_ += process_.readAllStandardOutput();
    return output_;
}

QByteArray SimToolProcess::errorOutput() {
    if (outputFile_.isEmpty() && process_.isOpen())
        errors_ += process_.readAllStandardError();
    return errors_;
}

bool SimToolProcess::exitedCleanly() const {
    return !isRunning() && process_.exitStatus() == QProcess::NormalExit &&
           process_.exitCode() == 0;
}

} // namespace tarnivel::sim
