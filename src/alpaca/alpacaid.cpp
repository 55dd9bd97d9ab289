#include "alpaca/alpacaid.h"

#include <QFile>
#include <QSaveFile>
#include <QUuid>

namespace tarnivel {

QString LoadOrCreateUniqueId(const QString& path, QString* error) {
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly)) {
        const QUuid kept = QUuid::fromString(QString::fromLatin1(existing.read(64)).trimmed());
        if (!kept.isNull())
            return kept.toString(QUuid::WithoutBraces);
    }
    const QString made = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(made.toLatin1() + '\n') < 0 ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        return QString();
    }
    return made;
}

} // namespace tarnivel
