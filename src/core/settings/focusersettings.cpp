#include "core/settings/focusersettings.h"

#include "core/seams/soundplayer.h"
#include "core/settings/inifile.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"

#include <QLocale>
#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace tarnivel {

namespace {

const QString kGroupMain = QStringLiteral("[TARNIVEL]");
const QString kGroupPositions = QStringLiteral("[POSITIONS]");
const QString kKeyPosition = QStringLiteral("Position");
const QString kGroupFocusPoints = QStringLiteral("[FOCUSPOINTS]");
const QString kKeyFocusPoint = QStringLiteral("Point");
constexpr int kSensorCount = 3;

constexpr int kDefaultDecimals = 3;
constexpr int kMaxDecimals = 8;
constexpr int kMaxComPort = 16;
// The poll ticks every 50 ms: more position reads a second than 20 never happen.
constexpr int kMaxFrequency = 20;
constexpr int kMinJogRate = 1;
constexpr int kMaxJogRate = 9;
constexpr int kMaxDeviceAddress = 255;

// Reals in the file: at most 15 significant digits, written out in full from 0.0001 up
// to (not including) 1E+15, with an exponent beyond.
constexpr int kSettingsRealDigits = 15;
constexpr int kPlainFromExponent = -4;
constexpr int kPlainBelowExponent = 15;

// An integer field: out-of-range values (and inf) are not something the file can have
// meant, so the default stands rather than a clipped number.
int IntValue(const QString& text, int fallback) {
    const double r = std::nearbyint(LeadingNumber(text));
    if (!std::isfinite(r) || r < static_cast<double>(INT_MIN) || r > static_cast<double>(INT_MAX))
        return fallback;
    return static_cast<int>(r);
}

// A jog rate travels as one unsigned byte and the controller knows the rates 1..9: one
// outside would reach it as some other rate, a negative one as the opposite direction.
int RateValue(const QString& text, int fallback) {
    const int rate = IntValue(text, fallback);
    return rate >= kMinJogRate && rate <= kMaxJogRate ? rate : fallback;
}

// A bus address travels as one byte: 274 would reach device 18 unannounced.
int AddressValue(const QString& text, int fallback) {
    const int address = IntValue(text, fallback);
    return address >= 0 && address <= kMaxDeviceAddress ? address : fallback;
}

double RealValue(const QString& text, double fallback) {
    const double v = LeadingNumber(text);
    return std::isfinite(v) ? v : fallback;
}

// Written as a whole number; read the way the operator's own regional settings would
// write it as well, since older files came from hand edits.
int DecimalsValue(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    double v = QLocale().toDouble(t, &ok);
    if (!ok)
        v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return kDefaultDecimals;
    return static_cast<int>(std::clamp(std::nearbyint(v), 0.0, static_cast<double>(kMaxDecimals)));
}

bool FlagValue(const QString& text) {
    return text.toUpper() == QStringLiteral("TRUE");
}

QString FlagText(bool flag) {
    return flag ? QStringLiteral("True") : QStringLiteral("False");
}

// One "Position" value as a list row. The raw count is wrapped into the counter's range:
// a hand-edited or damaged value keeps its row rather than vanishing.
SavedPositionList::Entry PositionEntry(const QString& value, double scaleFactor, int decimals) {
    const qsizetype comma = value.indexOf(QLatin1Char(','));
    const QString positionPart = comma < 0 ? value : value.left(comma);
    const QString namePart = comma < 0 ? QString() : value.mid(comma + 1);
    double r = std::nearbyint(LeadingNumber(positionPart));
    if (!std::isfinite(r))
        r = 0;
    r = std::fmod(r, static_cast<double>(kRawSteps));
    if (r < 0)
        r += kRawSteps;
    const int raw = static_cast<int>(r);
    return {FormatListEntry(namePart, FormatPositionText(raw, scaleFactor, decimals)), raw};
}

void ApplyKey(const QString& key, const QString& value, FocuserSettings& s) {
    const FocuserSettings defaults;
    if (key == QLatin1String("TOP")) {
        s.Top = IntValue(value, s.Top);
    } else if (key == QLatin1String("LEFT")) {
        s.Left = IntValue(value, s.Left);
    } else if (key == QLatin1String("DEVICE")) {
        s.Device = AddressValue(value, defaults.Device);
    } else if (key == QLatin1String("DEVICE2")) {
        s.Device2 = AddressValue(value, defaults.Device2);
    } else if (key == QLatin1String("COMPORT")) {
        const int port = IntValue(value, defaults.COMport);
        s.COMport = (port >= 0 && port <= kMaxComPort) ? port : 0;
    } else if (key == QLatin1String("FREQUENCY")) {
        const int frequency = IntValue(value, defaults.Frequency);
        s.Frequency =
            frequency <= kMaxFrequency ? PositionUpdateFrequency(frequency) : defaults.Frequency;
    } else if (key == QLatin1String("SCALEFACTOR")) {
        // Every position is divided by it.
        const double scale = RealValue(value, defaults.ScaleFactor);
        s.ScaleFactor = scale > 0 ? scale : defaults.ScaleFactor;
    } else if (key == QLatin1String("SCALEUNITS")) {
        s.ScaleUnits = value;
    } else if (key == QLatin1String("DECIMALS")) {
        s.Decimals = DecimalsValue(value);
    } else if (key == QLatin1String("APPROACH")) {
        s.Approach = IntValue(value, defaults.Approach);
    } else if (key == QLatin1String("OVERSHOOT")) {
        s.Overshoot = IntValue(value, defaults.Overshoot);
    } else if (key == QLatin1String("SLOWSLEWSPEED")) {
        s.SlowSlewSpeed = RateValue(value, defaults.SlowSlewSpeed);
    } else if (key == QLatin1String("FASTSLEWSPEED")) {
        s.FastSlewSpeed = RateValue(value, defaults.FastSlewSpeed);
    } else if (key == QLatin1String("SLEWINGSOUND")) {
        s.SlewingSound = FlagValue(value);
    } else if (key == QLatin1String("COMPLETIONSOUND")) {
        s.CompletionSound = FlagValue(value);
    } else if (key == QLatin1String("DEGREES")) {
        s.Degrees = IntValue(value, defaults.Degrees);
    } else if (key == QLatin1String("SENSORNAME1")) {
        s.SensorName1 = value;
    } else if (key == QLatin1String("SENSORNAME2")) {
        s.SensorName2 = value;
    } else if (key == QLatin1String("SENSORNAME3")) {
        s.SensorName3 = value;
    } else if (key == QLatin1String("SENSORLIMIT1")) {
        s.SensorLimit1 = RealValue(value, defaults.SensorLimit1);
    } else if (key == QLatin1String("SENSORLIMIT2")) {
        s.SensorLimit2 = RealValue(value, defaults.SensorLimit2);
    } else if (key == QLatin1String("SENSORLIMIT3")) {
        s.SensorLimit3 = RealValue(value, defaults.SensorLimit3);
    } else if (key == QLatin1String("LOGGING")) {
        s.Logging = FlagValue(value);
    } else if (key == QLatin1String("PLOTTOP")) {
        s.PlotTop = IntValue(value, defaults.PlotTop);
    } else if (key == QLatin1String("PLOTLEFT")) {
        s.PlotLeft = IntValue(value, defaults.PlotLeft);
    } else if (key == QLatin1String("PLOTWIDTH")) {
        s.PlotWidth = IntValue(value, defaults.PlotWidth);
    } else if (key == QLatin1String("PLOTHEIGHT")) {
        s.PlotHeight = IntValue(value, defaults.PlotHeight);
    } else if (key == QLatin1String("TEMPCOMPCOEFFICIENT")) {
        s.TempCompCoefficient = RealValue(value, defaults.TempCompCoefficient);
    } else if (key == QLatin1String("TEMPCOMPSENSOR")) {
        const int sensor = IntValue(value, defaults.TempCompSensor);
        s.TempCompSensor = sensor >= 1 && sensor <= kSensorCount ? sensor : defaults.TempCompSensor;
    } else if (key == QLatin1String("TEMPCOMPDEADBAND")) {
        // A dead band of 0 would send a goto to where the focuser already stands.
        const int band = IntValue(value, defaults.TempCompDeadband);
        s.TempCompDeadband = band >= 1 ? band : defaults.TempCompDeadband;
    } else if (key == QLatin1String("TEMPCOMPAVERAGE")) {
        const int seconds = IntValue(value, defaults.TempCompAverage);
        s.TempCompAverage = seconds >= 0 ? seconds : defaults.TempCompAverage;
    } else if (key == QLatin1String("TEMPCOMPMAXTRAVEL")) {
        const int cap = IntValue(value, defaults.TempCompMaxTravel);
        s.TempCompMaxTravel = cap >= 1 ? cap : defaults.TempCompMaxTravel;
    } else if (key == QLatin1String("TEMPCOMPOVERSHOOT")) {
        const int steps = IntValue(value, defaults.TempCompOvershoot);
        s.TempCompOvershoot = steps >= -1 ? steps : defaults.TempCompOvershoot;
    } else if (key == QLatin1String("ALPACAPORT")) {
        // A port the network cannot have serves nothing rather than some other port.
        const int port = IntValue(value, defaults.AlpacaPort);
        s.AlpacaPort = port >= 0 && port <= 65535 ? port : defaults.AlpacaPort;
    }
}

const QString kBeforeCalibration = QStringLiteral("before");

// "12.5,-1234,2024-03-05T21:07:09Z", then the sensor when not 1 or when the point comes from
// before a calibration ("...,2,before"); a line missing a part or with an unreadable time or
// sensor is dropped: a made-up point would pull the fitted coefficient.
std::optional<FocusPoint> FocusPointValue(const QString& value) {
    const QStringList parts = value.split(QLatin1Char(','));
    if (parts.size() < 3 || parts.size() > 5)
        return std::nullopt;
    int sensor = 1;
    if (parts.size() >= 4) {
        bool ok = false;
        sensor = parts[3].trimmed().toInt(&ok);
        if (!ok || sensor < 1 || sensor > kSensorCount)
            return std::nullopt;
    }
    const bool before = parts.size() == 5;
    if (before && parts[4].trimmed() != kBeforeCalibration)
        return std::nullopt;
    const double celsius = LeadingNumber(parts[0]);
    const double position = std::nearbyint(LeadingNumber(parts[1]));
    const QDateTime time = QDateTime::fromString(parts[2].trimmed(), Qt::ISODate);
    if (!std::isfinite(celsius) || !std::isfinite(position) || !time.isValid() ||
        std::fabs(position) > static_cast<double>(kRawSteps))
        return std::nullopt;
    return FocusPoint{celsius, static_cast<int>(position), time.toUTC(), sensor, before};
}

QString FocusPointText(const FocusPoint& point) {
    QString text = FormatSettingsReal(point.Celsius) + QLatin1Char(',') +
                   QString::number(point.Position) + QLatin1Char(',') +
                   point.Time.toUTC().toString(Qt::ISODate);
    if (point.Sensor != 1 || point.BeforeCalibration)
        text += QLatin1Char(',') + QString::number(point.Sensor);
    if (point.BeforeCalibration)
        text += QLatin1Char(',') + kBeforeCalibration;
    return text;
}

} // namespace

int PositionUpdateFrequency(int frequency) {
    return frequency >= 1 ? frequency : FocuserSettings().Frequency;
}

double LeadingNumber(const QString& text) {
    // Blanks are skipped wherever they stand ("30 000" reads as 30000).
    QByteArray t;
    t.reserve(text.size());
    for (const char16_t *p = QStringView(text).utf16(), *e = p + text.size(); p != e; ++p) {
        if (*p == u' ' || *p == u'\t' || *p == u'\n' || *p == u'\r')
            continue;
        // Anything beyond ASCII ends a number; '~' stands for it.
        t += *p < 0x80 ? static_cast<char>(*p) : '~';
    }
    const qsizetype size = t.size();
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };

    if (size >= 1 && t[0] == '&') {
        const char kind = size >= 2 ? static_cast<char>(t[1] & ~0x20) : 0;
        if (kind != 'H' && kind != 'O')
            return 0;
        const int radix = kind == 'H' ? 16 : 8;
        double v = 0;
        for (qsizetype i = 2; i < size; ++i) {
            const char c = t[i];
            int d = -1;
            if (isDigit(c))
                d = c - '0';
            else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                d = (c | 0x20) - 'a' + 10;
            if (d < 0 || d >= radix)
                break;
            v = v * radix + d;
        }
        return v;
    }

    QByteArray number;
    qsizetype i = 0;
    if (i < size && (t[i] == '-' || t[i] == '+'))
        number += t[i++];
    bool nonZeroDigit = false;
    int digits = 0;
    auto takeDigits = [&]() {
        while (i < size && isDigit(t[i])) {
            nonZeroDigit = nonZeroDigit || t[i] != '0';
            number += t[i++];
            ++digits;
        }
    };
    takeDigits();
    if (i < size && t[i] == '.') {
        number += t[i++];
        takeDigits();
    }
    if (digits == 0)
        return 0;
    bool negativeExponent = false;
    if (i < size && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
        qsizetype j = i + 1;
        QByteArray exponent = "e";
        if (j < size && (t[j] == '+' || t[j] == '-')) {
            negativeExponent = t[j] == '-';
            exponent += t[j++];
        }
        if (j < size && isDigit(t[j])) {
            while (j < size && isDigit(t[j]))
                exponent += t[j++];
            number += exponent;
        }
    }
    bool ok = false;
    const double v = number.toDouble(&ok);
    if (ok)
        return v;
    // Only an exponent beyond the double range gets here.
    if (!nonZeroDigit || negativeExponent)
        return 0;
    return number.startsWith('-') ? -HUGE_VAL : HUGE_VAL;
}

QString FormatSettingsReal(double value) {
    if (value == 0.0)
        return QStringLiteral("0"); // no "-0"
    if (!std::isfinite(value))
        return QString::number(value);
    auto digitsOf = [](const QString& exponentForm, QString& digits, int& exponent) {
        const qsizetype e = exponentForm.indexOf(QLatin1Char('e'));
        digits = exponentForm.left(e);
        digits.remove(QLatin1Char('.'));
        exponent = exponentForm.mid(e + 1).toInt();
    };
    const double magnitude = std::fabs(value);
    QString digits;
    int exponent = 0;
    digitsOf(QString::number(magnitude, 'e', QLocale::FloatingPointShortest), digits, exponent);
    if (digits.size() > kSettingsRealDigits)
        digitsOf(QString::number(magnitude, 'e', kSettingsRealDigits - 1), digits, exponent);
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);

    QString text;
    if (exponent >= kPlainFromExponent && exponent < kPlainBelowExponent) {
        if (exponent < 0) {
            text = QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
        } else {
            const int whole = exponent + 1;
            if (digits.size() <= whole) {
                text = digits + QString(whole - digits.size(), QLatin1Char('0'));
            } else {
                text = digits.left(whole) + QLatin1Char('.') + digits.mid(whole);
            }
        }
    } else {
        text = digits.left(1);
        if (digits.size() > 1)
            text += QLatin1Char('.') + digits.mid(1);
        text += exponent < 0 ? QStringLiteral("E-") : QStringLiteral("E+");
        text += QString::number(std::abs(exponent)).rightJustified(2, QLatin1Char('0'));
    }
    if (value < 0)
        text.prepend(QLatin1Char('-'));
    return text;
}

LoadResult LoadSettings(const QString& path, FocuserSettings& settings,
                        SavedPositionList& positions, const WindowGeometryTwips& geometry) {
    INIfile document;
    settings = FocuserSettings();
    settings.Top = RoundToInt(geometry.screenHeight - geometry.windowHeight) / 2;
    settings.Left = RoundToInt(geometry.screenWidth - geometry.windowWidth) / 2;
    positions.Clear();

    LoadResult result;
    switch (document.LoadFile(path)) {
    case INIfile::LoadStatus::Loaded:
        result.fileExisted = true;
        break;
    case INIfile::LoadStatus::Unreadable:
        result.fileExisted = true;
        result.unreadable = true;
        return result;
    case INIfile::LoadStatus::Missing:
        return result;
    }

    // Rows are formatted with the Decimals in force when their section header was read.
    int rowDecimals = settings.Decimals;
    QList<SavedPositionList::Entry> rows;
    for (const INIline& line : document.INIlines()) {
        if (line.Group == kGroupMain) {
            ApplyKey(line.Section, line.Value, settings);
        } else if (line.Group == kGroupPositions) {
            if (line.Section == kGroupPositions)
                rowDecimals = settings.Decimals;
            else if (line.Section == QLatin1String("POSITION"))
                rows.append(PositionEntry(line.Value, settings.ScaleFactor, rowDecimals));
        } else if (line.Group == kGroupFocusPoints &&
                   line.Section.toUpper() == QLatin1String("POINT")) {
            if (const std::optional<FocusPoint> point = FocusPointValue(line.Value))
                settings.FocusPoints.append(*point);
        }
    }
    // All at once: the same order as adding them one by one, without the quadratic cost.
    positions.AddItems(rows);
    return result;
}

void AddSavedPosition(const QString& value, const FocuserSettings& settings,
                      SavedPositionList& positions) {
    const SavedPositionList::Entry row =
        PositionEntry(value, settings.ScaleFactor, settings.Decimals);
    positions.AddItem(row.text, row.itemData);
}

bool SaveSettings(const QString& path, const FocuserSettings& settings,
                  const SavedPositionList& positions) {
    INIfile document;
    document.EqualPos = 25;
    INIlines& lines = document.INIlines();
    const FocuserSettings& s = settings;
    auto key = [&](const char* name, const QString& value) {
        lines.Add(kGroupMain, QLatin1String(name), value);
    };
    auto number = [](int v) { return QString::number(v); };

    lines.Add(kGroupMain, QString(), QString());
    key("Top", number(s.Top));
    key("Left", number(s.Left));
    key("Device", number(s.Device));
    key("Device2", number(s.Device2));
    key("COMport", number(s.COMport));
    key("Frequency", number(s.Frequency));
    key("ScaleFactor", FormatSettingsReal(s.ScaleFactor));
    key("ScaleUnits", s.ScaleUnits);
    key("Decimals", number(s.Decimals));
    key("Approach", number(s.Approach));
    key("Overshoot", number(s.Overshoot));
    key("SlowSlewSpeed", number(s.SlowSlewSpeed));
    key("FastSlewSpeed", number(s.FastSlewSpeed));
    key("SlewingSound", FlagText(s.SlewingSound));
    key("CompletionSound", FlagText(s.CompletionSound));
    key("Degrees", number(s.Degrees));
    key("SensorName1", s.SensorName1);
    key("SensorName2", s.SensorName2);
    key("SensorName3", s.SensorName3);
    key("SensorLimit1", FormatSettingsReal(s.SensorLimit1));
    key("SensorLimit2", FormatSettingsReal(s.SensorLimit2));
    key("SensorLimit3", FormatSettingsReal(s.SensorLimit3));
    key("Logging", FlagText(s.Logging));
    key("PlotTop", number(s.PlotTop));
    key("PlotLeft", number(s.PlotLeft));
    key("PlotWidth", number(s.PlotWidth));
    key("PlotHeight", number(s.PlotHeight));
    key("TempCompCoefficient", FormatSettingsReal(s.TempCompCoefficient));
    key("TempCompSensor", number(s.TempCompSensor));
    key("TempCompDeadband", number(s.TempCompDeadband));
    key("TempCompAverage", number(s.TempCompAverage));
    key("TempCompMaxTravel", number(s.TempCompMaxTravel));
    key("TempCompOvershoot", number(s.TempCompOvershoot));
    // Only once chosen: a file of a console that never served keeps its shape.
    if (s.AlpacaPort != 0)
        key("AlpacaPort", number(s.AlpacaPort));
    lines.Add(QString(), QString(), QString());
    lines.Add(kGroupPositions, QString(), QString());
    for (int i = 0; i < positions.ListCount(); ++i) {
        const QString name = TrimSpaces(ListEntryField(positions.List(i), 0));
        lines.Add(kGroupPositions, kKeyPosition,
                  QString::number(positions.ItemData(i)) + QLatin1Char(',') + name);
    }
    if (!s.FocusPoints.isEmpty()) {
        lines.Add(QString(), QString(), QString());
        lines.Add(kGroupFocusPoints, QString(), QString());
        for (const FocusPoint& point : s.FocusPoints)
            lines.Add(kGroupFocusPoints, kKeyFocusPoint, FocusPointText(point));
    }
    return document.SaveFile(path);
}

bool SaveSettingsOnExit(const QString& path, const FocuserSettings& settings,
                        const SavedPositionList& positions, SoundPlayer& sound) {
    const bool saved = SaveSettings(path, settings, positions);
    sound.stop();
    return saved;
}

bool SaveSettingsOnExit(const QString& path, const FocuserSettings& settings,
                        const SavedPositionList& positions, SoundPlayer& sound,
                        const LoadResult& loaded) {
    if (!loaded.unreadable)
        return SaveSettingsOnExit(path, settings, positions, sound);
    sound.stop();
    return false;
}

} // namespace tarnivel
