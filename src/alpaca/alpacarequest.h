#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace tarnivel {

using AlpacaParameters = QList<QPair<QString, QString>>;

// One HTTP request as the Alpaca layer sees it, independent of the HTTP server's types.
struct AlpacaRequest {
    enum class Method { Get, Put, Other };
    Method method = Method::Other;
    QString path;
    QByteArray query;
    QByteArray body;
};

// Decodes application/x-www-form-urlencoded text (a query string or a PUT body): '+' is a
// space, %XX a byte, UTF-8 throughout. Empty names are dropped; a name without '=' has an
// empty value.
AlpacaParameters DecodeForm(const QByteArray& form);

// The first parameter called name. Alpaca compares GET names without regard to case and
// PUT member names exactly.
std::optional<QString> FindParameter(const AlpacaParameters& parameters, const QString& name,
                                     Qt::CaseSensitivity cs);

// "true"/"false" in any casing.
std::optional<bool> ParseAlpacaBool(const QString& text);
// A decimal integer with an optional sign and no other characters, culture-invariant.
std::optional<qint64> ParseAlpacaInteger(const QString& text);
// A uint32; anything else (negative, too large, not a number) is no value.
std::optional<quint32> ParseAlpacaUint32(const QString& text);

} // namespace tarnivel
