#pragma once
#include <QString>

// Texts that arrive from a feed are shown as they are, as plain text; these cut them to a
// sane size and drop control characters (a stray escape or bidi override cannot restyle a row).
namespace lomex::feedtext {

// One line: line breaks and tabs become blanks, other controls go, at most maxChars.
QString line(const QString& text, int maxChars = 200);
// Paragraphs kept: line feeds stay, other controls go, at most maxChars.
QString paragraph(const QString& text, int maxChars = 4000);

} // namespace lomex::feedtext
