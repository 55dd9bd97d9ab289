#include "core/device/temperaturelog.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>

namespace tarnivel {

namespace {

constexpr int kFieldWidth = 5;
const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

// Adds one to a string of decimal digits.
QString incrementDigits(QString digits) {
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        if (digits[i] != QLatin1Char('9')) {
            digits[i] = QChar(digits[i].unicode() + 1);
            return digits;
        }
        digits[i] = QLatin1Char('0');
    }
    return QLatin1Char('1') + digits;
}

} // namespace

QString FormatTenths(double value) {
    if (!std::isfinite(value))
        return QString::number(value);
    // Rounding the shortest decimal form rather than the binary value keeps a typed or
    // shown 12.35 a true half, as the operator reads it.
    const QString full = QString::number(std::fabs(value), 'f', QLocale::FloatingPointShortest);
    const qsizetype point = full.indexOf(QLatin1Char('.'));
    const QString whole = point < 0 ? full : full.left(point);
    const QString fraction = point < 0 ? QString() : full.mid(point + 1);

    QString digits = whole + (fraction.isEmpty() ? QStringLiteral("0") : fraction.left(1));
    const QString rest = fraction.mid(1);
    if (!rest.isEmpty()) {
        bool up = false;
        if (rest[0] > QLatin1Char('5')) {
            up = true;
        } else if (rest[0] == QLatin1Char('5')) {
            const bool exactHalf = rest.mid(1).count(QLatin1Char('0')) == rest.size() - 1;
            const int last = digits.back().digitValue();
            up = !exactHalf || (last % 2 == 1);
        }
        if (up)
            digits = incrementDigits(digits);
    }
    QString text = digits.left(digits.size() - 1) + QLatin1Char('.') + digits.back();
    // A value that rounds to zero shows no minus sign.
    const bool zero = digits.count(QLatin1Char('0')) == digits.size();
    if (std::signbit(value) && !zero)
        text.prepend(QLatin1Char('-'));
    return text;
}

QString FormatTenths(double value, const QLocale& locale) {
    // The minus stays '-' (not the U+2212 of some locales), as in the limit boxes and the
    // position readout; only the decimal mark is the locale's.
    QString text = FormatTenths(value);
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point >= 0)
        text.replace(point, 1, locale.decimalPoint());
    return text;
}

QString TemperatureText(const TemperatureReading& displayValue, int degrees,
                        const QLocale& locale) {
    if (!displayValue)
        return QStringLiteral("n/a");
    return FormatTenths(*displayValue, locale) + QChar(0x00B0) +
           (degrees == 0 ? QLatin1Char('C') : QLatin1Char('F'));
}

TemperatureLog::TemperatureLog(QString path) : path_(std::move(path)) {}

QByteArray TemperatureLog::HeaderLine() {
    return QByteArrayLiteral("\"Timestamp\",\"Temp1\",\"Temp2\",\"Temp3\",\"Mode\",\"Fan\"") +
           kLineEnd;
}

QString TemperatureLog::TemperatureField(const TemperatureReading& celsius) {
    if (!celsius)
        return QString(kFieldWidth, QLatin1Char(' '));
    // Longer values keep their last five characters, so the column never widens.
    return (QString(6, QLatin1Char(' ')) + FormatTenths(*celsius)).right(kFieldWidth);
}

QByteArray TemperatureLog::DataLine(const QDateTime& when, const TemperatureReadings& celsius,
                                    int fanMode, bool fanOn) {
    QString line = QLatin1Char('"') + when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                   QStringLiteral("\",");
    for (const TemperatureReading& reading : celsius)
        line += TemperatureField(reading) + QLatin1Char(',');
    line +=
        QString::number(fanMode) + QLatin1Char(',') + (fanOn ? QLatin1Char('1') : QLatin1Char('0'));
    return line.toUtf8() + kLineEnd;
}

bool TemperatureLog::Append(const QDateTime& when, const TemperatureReadings& celsius, int fanMode,
                            bool fanOn) {
    // Checked before opening: a file someone deleted while logging runs starts again with
    // its header.
    const bool headerDue = !QFileInfo::exists(path_);
    QByteArray bytes = DataLine(when, celsius, fanMode, fanOn);
    if (headerDue)
        bytes.prepend(HeaderLine());

    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        lastError_ = file.errorString();
        return false;
    }
    const qint64 written = file.write(bytes);
    const bool flushed = file.flush();
    if (written != bytes.size() || !flushed) {
        lastError_ = file.errorString();
        file.close();
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        lastError_ = file.errorString();
        return false;
    }
    lastError_.clear();
    return true;
}

} // namespace tarnivel
