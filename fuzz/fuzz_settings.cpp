// Any bytes as a settings file: loading never crashes, the values it yields are usable
// (no zero scale, frequency below 1, decimals outside 0..8, raw positions outside the
// counter), and a file saved from them loads back to the same settings and the same
// positions. Rows with equal names may come back in another order: a hand-made file can
// format its rows under several scales, and the list sorts by the row text.
#include "core/settings/focusersettings.h"
#include "core/settings/savedpositionlist.h"
#include "fuzzfiles.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>

using namespace tarnivel;

namespace {

// The file with its position lines in a canonical order.
QList<QByteArray> Canonical(const QByteArray& file) {
    QList<QByteArray> lines = file.split('\n');
    const qsizetype positions = lines.indexOf(QByteArrayLiteral("[POSITIONS]\r"));
    if (positions >= 0)
        std::sort(lines.begin() + positions + 1, lines.end());
    return lines;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::WriteInput(data, size, QStringLiteral("tarnivel.ini"));
    if (path.isEmpty())
        return 0;
    const WindowGeometryTwips geometry{15360, 11520, 9000, 7000};
    FocuserSettings settings;
    SavedPositionList positions;
    LoadSettings(path, settings, positions, geometry);

    if (!(settings.ScaleFactor > 0) || settings.Frequency < 1 || settings.Decimals < 0 ||
        settings.Decimals > 8 || settings.COMport < 0 || settings.COMport > 16)
        std::abort();
    for (int i = 0; i < positions.ListCount(); ++i) {
        const int raw = positions.ItemData(i);
        if (raw < 0 || raw > 16777215 || positions.List(i).size() < 30)
            std::abort();
    }

    const QString first = fuzz::ScratchPath(QStringLiteral("first.ini"));
    const QString second = fuzz::ScratchPath(QStringLiteral("second.ini"));
    if (!SaveSettings(first, settings, positions))
        return 0;
    FocuserSettings reloaded;
    SavedPositionList reloadedPositions;
    LoadSettings(first, reloaded, reloadedPositions, geometry);
    if (!SaveSettings(second, reloaded, reloadedPositions))
        return 0;
    if (Canonical(fuzz::ReadAll(first)) != Canonical(fuzz::ReadAll(second)))
        std::abort();
    return 0;
}
