// Any bytes as an INI file: loading never crashes, every line it keeps has a key, and the
// text written from a loaded document loads back to the same lines.
#include "inifile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

using tarnivel::INIfile;

namespace {
// On tmpfs where there is one: the atomic save syncs to disk, which would cost most of
// the run on a real file system.
QTemporaryDir& Dir() {
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/tarnivel-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/tarnivel-fuzz-XXXXXX"));
    return dir;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = Dir().filePath(QStringLiteral("in.ini"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    INIfile doc;
    doc.LoadFile(path);
    for (const auto& line : doc.INIlines()) {
        if (line.Section.isEmpty())
            std::abort();
    }

    // Key lines re-written and re-read come back as the same key and value.
    INIfile out;
    for (const auto& line : doc.INIlines()) {
        if (line.Section.startsWith(QLatin1Char('[')))
            out.INIlines().Add(line.Group, QString(), QString());
        else
            out.INIlines().Add(line.Group, line.Section, line.Value);
    }
    const QString copy = Dir().filePath(QStringLiteral("out.ini"));
    if (!out.SaveFile(copy))
        return 0;
    INIfile again;
    again.LoadFile(copy);
    INIfile twice;
    for (const auto& line : again.INIlines()) {
        if (line.Section.startsWith(QLatin1Char('[')))
            twice.INIlines().Add(line.Group, QString(), QString());
        else
            twice.INIlines().Add(line.Group, line.Section, line.Value);
    }
    if (twice.ToText() != out.ToText())
        std::abort();
    return 0;
}
