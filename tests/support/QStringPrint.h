#pragma once
#include <QString>
#include <ostream>

// Readable QString values in failure messages. Every test file of a program that compares
// QStrings includes it, so all instantiations of gtest's printer agree.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE
