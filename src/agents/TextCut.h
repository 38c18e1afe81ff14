#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// Small text helpers shared by the agent model. Lengths are user-perceived characters
// (extended grapheme clusters), so a cut never splits an emoji, a flag or a letter from its
// combining marks.
namespace lomex::textcut {

// The pieces between newline characters (LF, CR, CR LF, VT, FF, U+0085, U+2028, U+2029),
// empty pieces dropped.
QStringList splitLines(const QString& text);

// The first non-empty line; nothing when the text holds no such line.
std::optional<QString> firstLine(const QString& text);

int graphemeCount(const QString& text);

// The first `count` grapheme clusters of text (all of it when it has fewer).
QString leftGraphemes(const QString& text, int count);

// A text of more than limit characters becomes its first limit - 1 characters and "…",
// so the result never has more than limit characters.
QString shorten(const QString& text, int limit);

// The first line of text, shortened to limit; nothing when the text has no non-empty line.
std::optional<QString> firstLineShortened(const QString& text, int limit);

// The part after the last "/", trailing slashes ignored ("/a/b/" gives "b"; "/" gives "/").
QString lastPathComponent(const QString& path);

} // namespace lomex::textcut
