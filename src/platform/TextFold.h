#pragma once
#include <QString>
#include <QStringList>

// Text compared without case and accents, the way the desktop's string folding does it (ICU).
// Any thread.
namespace lomex::textfold {

// Case- and diacritic-insensitive form of s under the Czech locale, one user-perceived
// character for every one of s (a character whose folded form is not exactly one
// character is kept as it is). Shared by every search that ignores case and accents.
QString fold(const QString& s);
// Splits s into user-perceived characters (extended grapheme clusters).
QStringList splitCharacters(const QString& s);
// The folded form of one user-perceived character (itself when that form is not one character).
QString foldCharacter(const QString& c);

} // namespace lomex::textfold
