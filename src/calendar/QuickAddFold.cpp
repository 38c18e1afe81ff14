// The aligned two-copy text the quick-add recognisers work on.
#include "calendar/QuickAddParser.h"
#include "platform/TextFold.h"

#include <QRegularExpression>
#include <algorithm>

namespace lomex {

using textfold::fold;
using textfold::foldCharacter;
using textfold::splitCharacters;

// --- Match ---------------------------------------------------------------------------------

std::optional<QString> QuickAddParser::Match::group(int i) const {
    if (i < 0 || i > result_.lastCapturedIndex() || result_.capturedStart(i) < 0) return std::nullopt;
    return result_.captured(i);
}

std::optional<QuickAddParser::Range> QuickAddParser::Match::range(int i) const {
    if (i < 0 || i > result_.lastCapturedIndex() || result_.capturedStart(i) < 0) return std::nullopt;
    return Range{int(result_.capturedStart(i)), int(result_.capturedEnd(i))};
}

// --- Text ----------------------------------------------------------------------------------

QuickAddParser::Text::Text(const QString& input) : characters_(splitCharacters(input)) {
    foldedCharacters_.reserve(characters_.size());
    for (const QString& c : characters_) foldedCharacters_ << foldCharacter(c);
    rebuild();
}

void QuickAddParser::Text::rebuild() {
    folded_.clear();
    starts_.clear();
    starts_.reserve(foldedCharacters_.size() + 1);
    for (const QString& c : foldedCharacters_) {
        starts_.push_back(int(folded_.size()));
        folded_ += c;
    }
    starts_.push_back(int(folded_.size()));
}

int QuickAddParser::Text::floorIndex(int offset) const {
    // The character that holds the offset (the count at the very end).
    offset = std::clamp(offset, 0, int(folded_.size()));
    return int(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
}

int QuickAddParser::Text::ceilIndex(int offset) const {
    offset = std::clamp(offset, 0, int(folded_.size()));
    return int(std::lower_bound(starts_.begin(), starts_.end(), offset) - starts_.begin());
}

std::optional<QuickAddParser::Match> QuickAddParser::Text::match(const QString& pattern) const {
    // Only tests match by pattern text; the recognisers keep their patterns compiled.
    const QRegularExpression re(pattern, QRegularExpression::UseUnicodePropertiesOption);
    if (!re.isValid()) return std::nullopt;
    return match(re);
}

std::optional<QuickAddParser::Match> QuickAddParser::Text::match(const QRegularExpression& re, int from) const {
    QRegularExpressionMatch m = re.match(folded_, from);
    if (!m.hasMatch()) return std::nullopt;
    return Match(std::move(m), folded_);
}

void QuickAddParser::Text::mask(Range range) {
    const int lo = floorIndex(range.start);
    const int hi = std::max(lo, ceilIndex(range.end));
    if (lo == hi) return;
    // U+FFFC is neither a letter, a digit nor a blank, so no pattern reads through it.
    for (int i = lo; i < hi && i < foldedCharacters_.size(); ++i) foldedCharacters_[i] = QString(QChar(0xFFFC));
    rebuild();
}

QString QuickAddParser::Text::original(Range range) const {
    const int lo = floorIndex(range.start);
    const int hi = std::max(lo, ceilIndex(range.end));
    QString out;
    for (int i = lo; i < hi && i < characters_.size(); ++i) out += characters_[i];
    return out;
}

void QuickAddParser::Text::consume(Range range) {
    const int lo = floorIndex(range.start);
    const int hi = std::max(lo, ceilIndex(range.end));
    if (lo == hi) return;
    for (int i = lo; i < hi && i < characters_.size(); ++i) {
        characters_[i] = QStringLiteral(" ");
        foldedCharacters_[i] = QStringLiteral(" ");
    }
    rebuild();
}

void QuickAddParser::Text::consumeCharacter(int index) {
    if (index < 0 || index >= count()) return;
    characters_[index] = QStringLiteral(" ");
    foldedCharacters_[index] = QStringLiteral(" ");
    rebuild();
}

namespace {
bool isTitleStopword(const QString& folded) {
    static const QStringList stopwords = {"v", "ve", "na", "o", "at", "on", "in", "od", "do",
                                          "a", "and", "s", "se", ",", "-", QStringLiteral("–")};
    return stopwords.contains(folded);
}
} // namespace

QString QuickAddParser::Text::remainingTitle() const {
    // Words are runs of whole characters between blanks; a blank that carries a combining mark
    // or a variation selector is a character of its word, not a gap.
    std::vector<QStringList> words;
    QStringList word;
    for (const QString& c : characters_) {
        if (c != u" ") {
            word << c;
        } else if (!word.isEmpty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.isEmpty()) words.push_back(std::move(word));
    auto stopword = [](const QStringList& w) { return isTitleStopword(fold(w.join(QString()))); };
    while (!words.empty() && stopword(words.back())) words.pop_back();
    while (words.size() >= 2 && stopword(words.front())) words.erase(words.begin());

    QStringList title;
    for (const QStringList& w : words) {
        if (!title.isEmpty()) title << QStringLiteral(" ");
        title << w;
    }
    static const QStringList trimmed = {" ", ",", ".", "-", QStringLiteral("–")};
    qsizetype a = 0, b = title.size();
    while (a < b && trimmed.contains(title[a])) ++a;
    while (b > a && trimmed.contains(title[b - 1])) --b;
    if (a == b) return QString();
    QString out = title[a].toUpper();
    for (qsizetype i = a + 1; i < b; ++i) out += title[i];
    return out;
}

} // namespace lomex
