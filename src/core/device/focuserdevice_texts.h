#pragma once

// What the device's parts share inside the core: its log and the operator's texts of its
// refusals and notices. Front ends see these texts only through an Outcome or a Message.

#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>

Q_DECLARE_LOGGING_CATEGORY(lcDevice)

namespace tarnivel::devicetext {

inline constexpr int kTickBaseMs = 1000;    // the position is read Frequency times a second
inline constexpr int kStatusBaseMs = 25000; // temperatures and fan every 25 / Frequency seconds
// A goto is given up when no position read has been answered for this long: a controller that
// misses an answer now and then has not lost the move, one silent this long has.
inline constexpr qint64 kGiveUpMs = 10000;

inline const QString kSilentText = QStringLiteral("Focuser not responding");
inline const QString kNotConnectedText = QStringLiteral("The focuser is not connected.");
inline const QString kTempCompUnavailableText =
    QStringLiteral("Temperature compensation needs a coefficient: set it in the options or fit "
                   "it from marked focus points.");
inline const QString kNotReadyText = QStringLiteral("Still reading the controller.");
inline const QString kCalibratingText = QStringLiteral("A calibration is running.");
inline const QString kNotCalibratedText = QStringLiteral("Focuser must be Calibrated first.");
inline const QString kScaleUnreadText =
    QStringLiteral("The calibration could not be read; the position scale is kept and read again.");
inline const QString kScaleDisagreesText =
    QStringLiteral("The controller's calibration registers do not agree with each other; the "
                   "position scale is kept and read again.");
inline const QString kEndsUnknownText =
    QStringLiteral("The controller's calibration registers do not agree with each other; the "
                   "end stops are not known until the next connect.");
inline const QString kScaleUnknownText =
    QStringLiteral("The focuser's calibration has not been read yet, so its positions are not "
                   "known; it is read again at the next poll.");
inline const QString kSyncRefusedText =
    QStringLiteral("The end stops define the positions of a calibrated focuser; use the console's "
                   "\"Reset Position to Zero\" to move its zero.");
inline const QString kNoAnswerText =
    QStringLiteral("The focuser did not answer; the position was not reset.");
inline const QString kCounterUnconfirmedText = QStringLiteral(
    "%1 failed: the controller did not confirm the new position; the stored limits were not moved");
inline const QString kRealLimitsUnconfirmedText =
    QStringLiteral("%1 failed: the controller did not confirm the moved limits; the focuser must "
                   "be calibrated again");
inline const QString kActiveLimitsUnconfirmedText = QStringLiteral(
    "%1 failed: the controller did not confirm the active limits; they were read back");
inline const QString kMovingText = QStringLiteral("The focuser is moving.");
// A network client of the console: the console connects, calibrates and switches the fan.
inline const QString kHostNotConnectedText =
    QStringLiteral("The console is not connected to the focuser: press Connect in Tarnivel first.");
inline const QString kHostCalibratesText =
    QStringLiteral("The focuser is calibrated from the console's Options while the console "
                   "serves it.");
inline const QString kHostOwnsText =
    QStringLiteral("The console keeps this setting while it serves the focuser: change it there.");
inline const QString kGivenUpText =
    QStringLiteral("Focuser not responding for 10 seconds: the move was given up and a stop sent.");

} // namespace tarnivel::devicetext
