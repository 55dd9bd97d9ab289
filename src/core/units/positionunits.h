#pragma once

#include <QLocale>
#include <QString>

namespace tarnivel {

inline constexpr int kRawSteps = 16777216;      // 2^24, size of the controller's counter
inline constexpr int kMaxSignedSteps = 8388608; // 2^23 reads as positive
inline constexpr int kMinSignedSteps = -8388607;

// Nearest integer, halves to the even neighbour; saturates at the 32-bit range and maps
// NaN to 0 so that no conversion can overflow.
int RoundToInt(double value);
// value rounded to `decimals` digits after the point, halves to even.
double RoundHalfEven(double value, int decimals);

// The units the options offer.
inline const QString kUnitThou = QStringLiteral("thou");
inline const QString kUnitMm = QStringLiteral("mm");
inline const QString kUnitUser = QStringLiteral("user");
// The scale factor in steps per newUnits for one of factor steps per oldUnits: thou and mm
// convert into each other (rounded to 6 decimals); to or from "user" a fixed factor applies.
// 0 for a unit it does not know.
double ConvertScaleFactor(double factor, const QString& oldUnits, const QString& newUnits);

int SignedSteps(int raw);
// Into 0..16777215; a full modulo, so a target pushed more than one turn out wraps too.
int WrapSteps(int signedSteps);
int DirectionTo(int fromRaw, int toRaw);
double StepsToUnits(int raw, double scaleFactor, int decimals);
int UnitsToSteps(double value, double scaleFactor);
// Whether value converts to a step count inside -8388607..8388608 (a position the
// controller can reach); UnitsToSteps is only meaningful for such values.
bool UnitsWithinStepRange(double value, double scaleFactor);

// v with exactly `decimals` digits after the separator of `locale`, no grouping.
QString FormatFixed(double value, int decimals, const QLocale& locale = QLocale());
// The position in display units, right-aligned in (at least) 10 characters; never cut.
QString FormatPositionText(int raw, double scaleFactor, int decimals,
                           const QLocale& locale = QLocale());
// Without the spaces (U+0020 only) around it: a name keeps a tab or any other white space
// the operator put in or around it.
QString TrimSpaces(const QString& text);
// 20-character name column then 10-character (right-aligned, never cut) value column; a
// blank always parts a name that fills its column from the value.
QString FormatListEntry(const QString& name, const QString& valueText);
QString ListEntryField(const QString& row, int field);

// Operator-typed numbers (locale of the operator; "." always accepted as well).
bool ParseOperatorNumber(const QString& text, double& value, const QLocale& locale = QLocale());

} // namespace tarnivel
