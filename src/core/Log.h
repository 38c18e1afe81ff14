#pragma once
#include <QString>

namespace lomex {

// Plain lines to stderr / the journal, each prefixed "Lomex: ".
void log(const QString& message);
void logWarning(const QString& message);

} // namespace lomex
