#pragma once

#include <QString>

namespace tarnivel {

// The device's UniqueID: a UUID made on the first start and kept in its own file in the
// program folder (the console owns tarnivel.ini). Empty with error set when the file can
// neither be read nor written.
QString LoadOrCreateUniqueId(const QString& path, QString* error = nullptr);

} // namespace tarnivel
