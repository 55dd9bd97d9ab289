#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <array>
#include <optional>

namespace tarnivel {

// A reading in degrees; empty when the sensor is not fitted or its read failed, so that
// nobody ever sees, logs or acts on a temperature the controller did not report.
using TemperatureReading = std::optional<double>;
using TemperatureReadings = std::array<TemperatureReading, 3>;

// value with one decimal, halves to the even neighbour (decided on the value as it would
// be written in full, so 12.25 gives 12.2 and 12.35 gives 12.4), "." as decimal mark and
// no grouping.
QString FormatTenths(double value);
// The same with the decimal mark of `locale`; the minus sign stays '-'.
QString FormatTenths(double value, const QLocale& locale);
// What a temperature box shows: "n/a", or the value (already in the display unit) with
// one decimal in the operator's locale followed by "°C" (degrees 0) or "°F".
QString TemperatureText(const TemperatureReading& displayValue, int degrees,
                        const QLocale& locale = QLocale());

// The CSV temperature log: one line per temperature update, appended by opening and
// closing the file each time so that another program can read or move it in between.
class TemperatureLog {
public:
    explicit TemperatureLog(QString path);

    const QString& path() const { return path_; }

    // The header, written before the first line of a file that does not exist yet.
    static QByteArray HeaderLine();
    // Field 2-4: five characters, right-aligned, Celsius with "." whatever the locale (a
    // comma would split the column); five blanks for a missing reading.
    static QString TemperatureField(const TemperatureReading& celsius);
    static QByteArray DataLine(const QDateTime& when, const TemperatureReadings& celsius,
                               int fanMode, bool fanOn);

    // Appends one data line (with the header first when the file is new). False when the
    // line could not be written; it is then dropped and lastError() says why.
    bool Append(const QDateTime& when, const TemperatureReadings& celsius, int fanMode, bool fanOn);
    const QString& lastError() const { return lastError_; }

private:
    QString path_;
    QString lastError_;
};

} // namespace tarnivel
