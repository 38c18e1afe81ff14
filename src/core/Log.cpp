#include "core/Log.h"
#include <QDebug>

namespace lomex {

void log(const QString& message) { qInfo().noquote() << "Lomex: " + message; }
void logWarning(const QString& message) { qWarning().noquote() << "Lomex: " + message; }

} // namespace lomex
