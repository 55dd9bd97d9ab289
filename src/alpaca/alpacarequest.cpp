#include "alpaca/alpacarequest.h"

#include <limits>

namespace tarnivel {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A '%' not followed by two hex digits stays as it is, as browsers send it.
QString DecodeComponent(QByteArrayView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            bytes.append(' ');
        } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
            bytes.append(char(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
            i += 2;
        } else {
            bytes.append(c);
        }
    }
    return QString::fromUtf8(bytes);
}

} // namespace

AlpacaParameters DecodeForm(const QByteArray& form) {
    AlpacaParameters parameters;
    qsizetype start = 0;
    while (start <= form.size()) {
        qsizetype end = form.indexOf('&', start);
        if (end < 0)
            end = form.size();
        const QByteArrayView pair(form.constData() + start, end - start);
        const qsizetype equals = pair.indexOf('=');
        const QByteArrayView name = equals < 0 ? pair : pair.first(equals);
        if (!name.isEmpty()) {
            const QByteArrayView value = equals < 0 ? QByteArrayView() : pair.sliced(equals + 1);
            parameters.append({DecodeComponent(name), DecodeComponent(value)});
        }
        start = end + 1;
    }
    return parameters;
}

std::optional<QString> FindParameter(const AlpacaParameters& parameters, const QString& name,
                                     Qt::CaseSensitivity cs) {
    for (const auto& [key, value] : parameters) {
        if (key.compare(name, cs) == 0)
            return value;
    }
    return std::nullopt;
}

std::optional<bool> ParseAlpacaBool(const QString& text) {
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

std::optional<qint64> ParseAlpacaInteger(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 20)
        return std::nullopt;
    qsizetype i = 0;
    const bool negative = trimmed[0] == QLatin1Char('-');
    if (negative || trimmed[0] == QLatin1Char('+'))
        ++i;
    if (i == trimmed.size())
        return std::nullopt;
    qint64 value = 0;
    // Beyond this any further digit overflows; such numbers are out of range anyway.
    constexpr qint64 kCeiling = std::numeric_limits<qint64>::max() / 10 - 1;
    for (; i < trimmed.size(); ++i) {
        const char16_t c = trimmed[i].unicode();
        if (c < u'0' || c > u'9' || value > kCeiling)
            return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return negative ? -value : value;
}

std::optional<quint32> ParseAlpacaUint32(const QString& text) {
    const auto value = ParseAlpacaInteger(text);
    if (!value || *value < 0 || *value > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return quint32(*value);
}

} // namespace tarnivel
