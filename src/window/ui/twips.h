#pragma once

#include <QtMath>

namespace tarnivel {

// The settings file keeps window coordinates in twips, 1/1440 inch, independent of the
// screen; the window converts with the screen's logical resolution.
inline constexpr double kTwipsPerInch = 1440.0;

inline int TwipsToPixels(double twips, double dpi) {
    return qRound(twips * dpi / kTwipsPerInch);
}
inline int PixelsToTwips(double pixels, double dpi) {
    return qRound(pixels * kTwipsPerInch / dpi);
}

} // namespace tarnivel
