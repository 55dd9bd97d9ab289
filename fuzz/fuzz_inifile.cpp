// Any bytes as an INI file: loading never crashes, every line it keeps has a key, and the
// text written from a loaded document loads back to the same lines.
#include "core/settings/inifile.h"
#include "fuzzfiles.h"

#include <cstdlib>

using namespace tarnivel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::WriteInput(data, size, QStringLiteral("in.ini"));
    if (path.isEmpty())
        return 0;
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
    const QString copy = fuzz::ScratchPath(QStringLiteral("out.ini"));
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
