#pragma once

#include <QString>

namespace tarnivel {

// The one folder that holds everything the program keeps: the settings file, the
// temperature log and the COMn links. It is the program's own folder when that is
// writable (a portable install), otherwise the per-user configuration folder.
class ProgramFolder {
public:
    ProgramFolder(QString folder, QString baseName);

    // baseName: the name the files are called after; empty means the running executable's.
    static ProgramFolder resolve(const QString& baseName = QString());
    // The rule itself, for a program that lives in programDir.
    static ProgramFolder resolveIn(const QString& programDir, const QString& baseName);
    static QString userConfigFolder();

    const QString& folder() const { return folder_; }
    // The executable's name without extension; also the title of the program's messages.
    const QString& baseName() const { return baseName_; }
    QString settingsPath() const;
    QString logPath() const;
    QString logFileName() const;
    // The device behind "COMn": a link named COMn in this folder when there is one
    // (to /dev/ttyUSB0, /dev/serial/by-id/..., a pseudo-terminal), else /dev/ttyS<n-1>.
    QString comPortDevice(int comPort) const;

private:
    QString folder_;
    QString baseName_;
};

} // namespace tarnivel
