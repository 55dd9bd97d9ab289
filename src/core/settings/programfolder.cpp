#include "core/settings/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tarnivel {

ProgramFolder::ProgramFolder(QString folder, QString baseName)
    : folder_(std::move(folder)), baseName_(std::move(baseName)) {}

QString ProgramFolder::userConfigFolder() {
    // Shared by the console and the simulator tool, so it must not depend on which
    // executable asks.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tarnivel");
}

ProgramFolder ProgramFolder::resolve(const QString& baseName) {
    QString name = baseName;
    if (name.isEmpty())
        name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (name.isEmpty())
        name = QStringLiteral("tarnivel");
    return resolveIn(QCoreApplication::applicationDirPath(), name);
}

ProgramFolder ProgramFolder::resolveIn(const QString& programDir, const QString& baseName) {
    const QFileInfo info(programDir);
    if (!programDir.isEmpty() && info.isDir() && info.isWritable())
        return ProgramFolder(programDir, baseName);
    const QString config = userConfigFolder();
    QDir().mkpath(config);
    return ProgramFolder(config, baseName);
}

QString ProgramFolder::settingsPath() const {
    return QDir(folder_).filePath(baseName_ + QStringLiteral(".ini"));
}

QString ProgramFolder::logFileName() const {
    return baseName_ + QStringLiteral(".csv");
}

QString ProgramFolder::logPath() const {
    return QDir(folder_).filePath(logFileName());
}

QString ProgramFolder::comPortDevice(int comPort) const {
    const QString link = QDir(folder_).filePath(QStringLiteral("COM%1").arg(comPort));
    // A link whose device is gone (an adapter unplugged) still names this port: opening it
    // must fail, not fall through to some other serial line.
    const QFileInfo info(link);
    if (info.exists() || info.isSymLink())
        return link;
    return QStringLiteral("/dev/ttyS%1").arg(comPort - 1);
}

} // namespace tarnivel
