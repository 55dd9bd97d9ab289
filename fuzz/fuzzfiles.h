#pragma once

// Scratch files for the fuzz targets that feed the loaders through real files.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace tarnivel::fuzz {

// On tmpfs where there is one: the atomic save syncs to disk, which would cost most of
// the run on a real file system.
inline QString ScratchPath(const QString& name) {
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/tarnivel-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/tarnivel-fuzz-XXXXXX"));
    return dir.filePath(name);
}

// The fuzz input as a file; empty when it cannot be written.
inline QString WriteInput(const uint8_t* data, size_t size, const QString& name) {
    const QString path = ScratchPath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    return path;
}

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace tarnivel::fuzz
