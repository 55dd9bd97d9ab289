#pragma once

// The tarnivel-sim tool as a child process, for the tests and the bench that talk to it
// through a real serial port: started with its arguments, waited for until its
// pseudo-terminal and COM link are up, and stopped the way an operator would (SIGTERM, so
// that it saves its state and removes its link).

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

namespace tarnivel::sim {

class SimToolProcess {
public:
    // How long a start, a stop or a kill may take before it counts as failed.
    static constexpr std::chrono::milliseconds kBound{5000};

    explicit SimToolProcess(QString program);
    ~SimToolProcess();
    SimToolProcess(const SimToolProcess&) = delete;
    SimToolProcess& operator=(const SimToolProcess&) = delete;

    // Sends everything the tool prints (both channels) to a file instead of keeping it in
    // memory: for long --verbose runs while the caller sits in waits that read no pipe.
    // Takes effect from the next start.
    void setOutputFile(const QString& path);

    // Starts the tool (--com N --dir DIR and the rest as given) and waits up to kBound for it
    // to print its device and, when --com is given, its COMn link. On failure the tool is
    // stopped and error() says why. A second start (after stop or kill) serves the same
    // link again; the output of the earlier run is dropped.
    bool start(const QStringList& args);

    // Ends a running tool: SIGTERM, then SIGKILL after kBound. True when the tool was running
    // and ended on the SIGTERM within kBound.
    bool stop();
    // Ends it at once, the way a pulled adapter vanishes: no state saved, the link left
    // behind. True when it ended within kBound.
    bool kill();

    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    qint64 processId() const { return process_.processId(); }
    // The pseudo-terminal and the COMn link as the tool reported them at start.
    const QString& devicePath() const { return device_; }
    const QString& linkPath() const { return link_; }
    // What the tool printed on standard output so far (with setOutputFile: the file, which
    // also holds its standard error).
    QByteArray output();
    QByteArray errorOutput();
    const QString& error() const { return error_; }

    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    int exitCode() const { return process_.exitCode(); }
    // Exited by itself or on SIGTERM, with code 0.
    bool exitedCleanly() const;

private:
    bool reported(bool needLink);
    void fail(const QString& why);

    QString program_;
    QString outputFile_;
    QProcess process_;
    QByteArray output_;
    QByteArray errors_;
    QString device_;
    QString link_;
    QString error_;
};

} // namespace tarnivel::sim
