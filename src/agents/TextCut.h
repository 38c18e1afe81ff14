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

// A grapheme cluster keeps at most this many code points: enough for any emoji sequence or
// stacked accents of a real script, few enough that a hostile text of one letter and a
// million combining marks cannot stall text layout.
constexpr int maxClusterCodePoints = 16;
constexpr int maxClusterUnits = 2 * maxClusterCodePoints;

// Outside text made cheap to lay out: cut after maxUnits UTF-16 units (never inside a surrogate
// pair), and every grapheme cluster cut to maxClusterCodePoints code points. *cut tells whether
// units were cut away (dropped excess marks alone do not count).
QString bounded(const QString& text, qsizetype maxUnits, bool* cut = nullptr);

// At most maxUnits UTF-16 units of text, never splitting a surrogate pair.
QString leftUnits(const QString& text, qsizetype maxUnits);

// The first `count` grapheme clusters of text (all of it when it has fewer), bounded as above.
QString leftGraphemes(const QString& text, int count);

// A text of more than limit characters becomes its first limit - 1 characters and "…",
// so the result never has more than limit characters; bounded as above, and a text cut by
// bounding ends in "…" too.
QString shorten(const QString& text, int limit);

// The other end kept: a text of more than limit characters becomes "…" and its last limit - 1
// characters. The text must already be bounded (see bounded()).
QString shortenKeepingEnd(const QString& text, int limit, bool* cut = nullptr);

// The lines after the first that holds more than blanks, up to the last such line: what a
// first-line view leaves unseen ("git status", 60 blank lines, "rm -rf ~" gives 61).
int linesAfterFirst(const QString& text);

// The first line of text, shortened to limit; nothing when the text has no non-empty line.
std::optional<QString> firstLineShortened(const QString& text, int limit);

// Every bidirectional control character (embeddings, overrides, isolates, marks) written out
// as "<U+XXXX>", so a text cannot show its parts in an order other than the one they run in.
QString showBidiControls(const QString& text);

// The part after the last "/", trailing slashes ignored ("/a/b/" gives "b"; "/" gives "/").
QString lastPathComponent(const QString& path);

} // namespace lomex::textcut
