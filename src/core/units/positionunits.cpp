#include "core/units/positionunits.h"

#include <climits>
#include <cmath>

namespace tarnivel {

namespace {

// Beyond this magnitude a double has no fractional part left to round.
constexpr double kNoFraction = 4503599627370496.0; // 2^52

// Digits after the point that the display can use; more than a double holds is pointless.
constexpr int kMaxDecimals = 15;

int ClampDecimals(int decimals) {
    if (decimals < 0)
        return 0;
    return decimals > kMaxDecimals ? kMaxDecimals : decimals;
}

} // namespace

int RoundToInt(double value) {
    if (std::isnan(value))
        return 0;
    // nearbyint follows the current rounding mode, which is round-to-nearest-even unless
    // someone changed it; the comparisons happen on the double so that the conversion
    // below never sees a value outside the int range.
    const double r = std::nearbyint(value);
    if (r >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (r <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(r);
}

double RoundHalfEven(double value, int decimals) {
    if (!std::isfinite(value))
        return value;
    const double scale = std::pow(10.0, ClampDecimals(decimals));
    const double scaled = value * scale;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= kNoFraction)
        return value;
    return std::nearbyint(scaled) / scale;
}

int SignedSteps(int raw) {
    return raw <= kMaxSignedSteps ? raw : raw - kRawSteps;
}

int WrapSteps(int signedSteps) {
    // A full modulo rather than one correction, so that any computed target (however far
    // an offset or overshoot pushed it) lands on a count the controller can hold.
    int r = signedSteps % kRawSteps;
    if (r < 0)
        r += kRawSteps;
    return r;
}

int DirectionTo(int fromRaw, int toRaw) {
    const int from = SignedSteps(fromRaw);
    const int to = SignedSteps(toRaw);
    if (to > from)
        return 1;
    if (to < from)
        return -1;
    return 0;
}

double StepsToUnits(int raw, double scaleFactor, int decimals) {
    // A zero or broken scale would turn every position into inf or nan; the loader keeps
    // such values out, this keeps a slip elsewhere from reaching the display.
    if (scaleFactor == 0.0 || !std::isfinite(scaleFactor))
        return 0.0;
    const double v = static_cast<double>(SignedSteps(raw)) / scaleFactor;
    const double rounded = RoundHalfEven(v, decimals);
    return rounded == 0.0 ? 0.0 : rounded; // no "-0"
}

int UnitsToSteps(double value, double scaleFactor) {
    double x = value * scaleFactor;
    if (value < 0)
        x += kRawSteps;
    return RoundToInt(x);
}

bool UnitsWithinStepRange(double value, double scaleFactor) {
    const double steps = std::nearbyint(value * scaleFactor);
    return std::isfinite(steps) && steps >= kMinSignedSteps && steps <= kMaxSignedSteps;
}

QString FormatFixed(double value, int decimals, const QLocale& locale) {
    const int d = ClampDecimals(decimals);
    double v = RoundHalfEven(value, d);
    if (v == 0.0)
        v = 0.0; // a value that rounds to zero shows without a sign
    // Plain ASCII digits and "-" (the readout and the list rely on them); only the
    // separator follows the operator's regional settings.
    QString text = QString::number(std::fabs(v), 'f', d);
    if (d > 0)
        text.replace(QLatin1Char('.'), locale.decimalPoint());
    if (std::signbit(v) && !std::isnan(v))
        text.prepend(QLatin1Char('-'));
    return text;
}

QString FormatPositionText(int raw, double scaleFactor, int decimals, const QLocale& locale) {
    return FormatFixed(StepsToUnits(raw, scaleFactor, decimals), decimals, locale)
        .rightJustified(10, QLatin1Char(' '), false);
}

QString TrimSpaces(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start] == QLatin1Char(' '))
        ++start;
    while (end > start && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(start, end - start);
}

QString FormatListEntry(const QString& name, const QString& valueText) {
    const QString nameColumn = TrimSpaces(name).leftJustified(20, QLatin1Char(' '), true);
    const QString value = TrimSpaces(valueText);
    // A name filling its column and a value filling (or overflowing) its own would read as
    // one word; the value then moves one place right. Field 0 stays the first 20 characters.
    const bool runTogether = value.size() >= 10 && !nameColumn.endsWith(QLatin1Char(' '));
    return nameColumn + (runTogether ? QStringLiteral(" ") : QString()) +
           value.rightJustified(10, QLatin1Char(' '), false);
}

QString ListEntryField(const QString& row, int field) {
    switch (field) {
    case 0:
        return row.left(20);
    case 1:
        return row.mid(20);
    default:
        return QString();
    }
}

namespace {

bool IsAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Matches the whole of `t` as one number with `sep` as the only decimal separator; on
// success `out` holds it rewritten with "." so that the C locale converts it.
bool ScanNumber(const QString& t, const QString& sep, const QString& minus, const QString& plus,
                QString& out) {
    qsizetype i = 0;
    out.clear();
    if (t.startsWith(QLatin1Char('-'))) {
        out += QLatin1Char('-');
        i = 1;
    } else if (t.startsWith(QLatin1Char('+'))) {
        i = 1;
    } else if (!minus.isEmpty() && t.startsWith(minus)) {
        out += QLatin1Char('-');
        i = minus.size();
    } else if (!plus.isEmpty() && t.startsWith(plus)) {
        i = plus.size();
    }
    int digits = 0;
    while (i < t.size() && IsAsciiDigit(t[i])) {
        out += t[i++];
        ++digits;
    }
    if (!sep.isEmpty() && t.mid(i, sep.size()) == sep) {
        out += QLatin1Char('.');
        i += sep.size();
        while (i < t.size() && IsAsciiDigit(t[i])) {
            out += t[i++];
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < t.size() && (t[i] == QLatin1Char('e') || t[i] == QLatin1Char('E'))) {
        out += QLatin1Char('e');
        ++i;
        if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
            out += t[i++];
        int expDigits = 0;
        while (i < t.size() && IsAsciiDigit(t[i])) {
            out += t[i++];
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    return i == t.size();
}

} // namespace

bool ParseOperatorNumber(const QString& text, double& value, const QLocale& locale) {
    const QString t = text.trimmed();
    const QString seps[] = {locale.decimalPoint(), QStringLiteral(".")};
    for (const QString& sep : seps) {
        QString normalized;
        if (!ScanNumber(t, sep, locale.negativeSign(), locale.positiveSign(), normalized))
            continue;
        bool ok = false;
        const double v = QLocale::c().toDouble(normalized, &ok);
        if (!ok || !std::isfinite(v))
            return false;
        value = v;
        return true;
    }
    return false;
}

namespace {
constexpr double kThouPerMm = 39.37007874;
constexpr double kUserToThou = 2924.414268;
constexpr double kUserToMm = 115134.42;
constexpr int kFactorDecimals = 6;
} // namespace

double ConvertScaleFactor(double factor, const QString& oldUnits, const QString& newUnits) {
    if (oldUnits == kUnitThou) {
        if (newUnits == kUnitMm)
            return RoundHalfEven(factor * kThouPerMm, kFactorDecimals);
        if (newUnits == kUnitUser)
            return 1;
        return factor;
    }
    if (oldUnits == kUnitMm) {
        if (newUnits == kUnitThou)
            return RoundHalfEven(factor / kThouPerMm, kFactorDecimals);
        if (newUnits == kUnitUser)
            return 1;
        return factor;
    }
    if (oldUnits == kUnitUser) {
        if (newUnits == kUnitThou)
            return kUserToThou;
        if (newUnits == kUnitMm)
            return kUserToMm;
        return factor;
    }
    return 0;
}

} // namespace tarnivel
