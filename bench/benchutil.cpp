#include "benchutil.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace tarnivel::bench {

namespace {
constexpr int kChildStartMs = 5000;
const QByteArray kResultTag = "RESULT ";
} // namespace

double Series::median() const {
    if (values_.empty())
        return 0;
    std::vector<double> v = values_;
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}

double Series::percentile(double p) const {
    if (values_.empty())
        return 0;
    std::vector<double> v = values_;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

double Series::min() const {
    return values_.empty() ? 0 : *std::min_element(values_.begin(), values_.end());
}

double Series::max() const {
    return values_.empty() ? 0 : *std::max_element(values_.begin(), values_.end());
}

QJsonObject gotoOverheads(const Series& oneMove, const Series& twoMoves) {
    const auto row = [](const Series& s, double floorMs) {
        QJsonObject o;
        o.insert(QStringLiteral("medianMs"), s.median());
        o.insert(QStringLiteral("minMs"), s.min());
        o.insert(QStringLiteral("maxMs"), s.max());
        o.insert(QStringLiteral("runs"), s.count());
        o.insert(QStringLiteral("floorMs"), floorMs);
        o.insert(QStringLiteral("targetMs"), kGotoFloorRatio * floorMs);
        o.insert(QStringLiteral("met"), !s.empty() && s.median() <= kGotoFloorRatio * floorMs);
        return o;
    };
    QJsonObject o;
    o.insert(QStringLiteral("oneMove"), row(oneMove, kOneMoveFloorMs));
    o.insert(QStringLiteral("twoMoves"), row(twoMoves, kTwoMoveFloorMs));
    return o;
}

QStringList comSimArgs(const QString& folder, const QStringList& extraArgs) {
    return QStringList{QStringLiteral("--com"), QStringLiteral("1"), QStringLiteral("--dir"),
                       folder} +
           extraArgs;
}

QStringList fastSimArgs(const QString& folder, const QStringList& extraArgs) {
    // No artificial reply delay: the figure is the console's own overhead over the pacing.
    return comSimArgs(folder, QStringList{QStringLiteral("--reply-delay"), QStringLiteral("0"),
                                          QStringLiteral("--byte-interval"), QStringLiteral("0")} +
                                  extraArgs);
}

int simExchanges(const QByteArray& toolOutput) {
    // One "time  frame  ->  answer" line per exchange.
    return static_cast<int>(toolOutput.count("  ->  "));
}

bool writeCalibratedSimState(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    file.write("register40=1\nautoStop=1\n");
    return file.error() == QFileDevice::NoError;
}

void startChild(QProcess& child, const QStringList& args) {
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments(args);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start();
}

QJsonObject finishChild(QProcess& child, int timeoutMs) {
    QJsonObject failed;
    if (!child.waitForStarted(kChildStartMs)) {
        failed.insert(QStringLiteral("error"), QStringLiteral("child did not start"));
        return failed;
    }
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished(kChildStartMs);
        failed.insert(QStringLiteral("error"), QStringLiteral("child timed out"));
        return failed;
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith(kResultTag))
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line.mid(kResultTag.size()));
        if (doc.isObject())
            return doc.object();
    }
    // Qt explains a failed start over several lines; the last few say what went wrong.
    QStringList why = QString::fromLocal8Bit(child.readAllStandardError())
                          .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (why.size() > 3)
        why = why.mid(why.size() - 3);
    failed.insert(QStringLiteral("error"), QStringLiteral("child exited with %1 and no result: %2")
                                               .arg(child.exitCode())
                                               .arg(why.join(QStringLiteral(" / "))));
    return failed;
}

QJsonObject runChild(const QStringList& args, int timeoutMs) {
    QProcess child;
    startChild(child, args);
    return finishChild(child, timeoutMs);
}

void printResult(const QJsonObject& result) {
    const QByteArray line = kResultTag + QJsonDocument(result).toJson(QJsonDocument::Compact);
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QJsonObject failure(const QString& why) {
    QJsonObject o;
    o.insert(QStringLiteral("error"), why);
    return o;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

double processCpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name (which may hold blanks) start after the last ')'.
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13)
        return -1;
    return (f[11].toDouble() + f[12].toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

qint64 WaitForLogText(const QString& path, const QString& text, qint64 from,
                      const QElapsedTimer& clock, int waitMs,
                      const std::function<void()>& meanwhile) {
    QFile log(path);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < waitMs) {
        if (meanwhile)
            meanwhile();
        if (log.open(QIODevice::ReadOnly)) {
            log.seek(from);
            const QByteArray added = log.readAll();
            log.close();
            if (QString::fromLatin1(added).contains(text))
                return clock.elapsed();
        }
        QThread::usleep(500);
    }
    return -1;
}

} // namespace tarnivel::bench
