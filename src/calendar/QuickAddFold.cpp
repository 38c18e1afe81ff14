// Folding and the aligned two-copy text the quick-add recognisers work on.
#include "calendar/QuickAddParser.h"

#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

namespace lomex {

namespace {

const UChar* uchars(const QString& s) { return reinterpret_cast<const UChar*>(s.utf16()); }

// One character break iterator per thread: ICU iterators are not thread-safe.
icu::BreakIterator* graphemeIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> it;
    if (!it) {
        UErrorCode err = U_ZERO_ERROR;
        it.reset(icu::BreakIterator::createCharacterInstance(icu::Locale("cs", "CZ"), err));
        if (U_FAILURE(err)) it.reset();
    }
    return it.get();
}

// ASCII folds to lower case alone; this path spares the common letters the ICU round trip.
char16_t foldAscii(char16_t u) { return (u >= u'A' && u <= u'Z') ? char16_t(u + 32) : u; }

bool isAscii(const QString& s) {
    for (QChar c : s)
        if (c.unicode() >= 0x80) return false;
    return true;
}

// Positions where s breaks into user-perceived characters, from 0 to s.size().
std::vector<int> boundaries(const QString& s) {
    std::vector<int> out;
    out.reserve(s.size() + 1);
    out.push_back(0);
    if (s.isEmpty()) return out;
    if (isAscii(s)) {
        // In ASCII only CR LF joins into one character.
        for (int i = 1; i < s.size(); ++i)
            if (!(s[i - 1] == u'\r' && s[i] == u'\n')) out.push_back(i);
        out.push_back(int(s.size()));
        return out;
    }
    icu::BreakIterator* it = graphemeIterator();
    UErrorCode err = U_ZERO_ERROR;
    UText* ut = utext_openUChars(nullptr, uchars(s), s.size(), &err);
    if (!it || U_FAILURE(err)) {
        // Without ICU break rules fall back to code points.
        if (ut) utext_close(ut);
        for (int i = 1; i < s.size(); ++i)
            if (!(s[i].isLowSurrogate() && s[i - 1].isHighSurrogate())) out.push_back(i);
        out.push_back(int(s.size()));
        return out;
    }
    it->setText(ut, err);
    for (int32_t p = it->next(); p != icu::BreakIterator::DONE; p = it->next()) out.push_back(p);
    utext_close(ut);
    if (out.back() != s.size()) out.push_back(int(s.size()));
    return out;
}

QString foldUncached(const QString& c) {
    // Case folding, not lower-casing: both cases of a letter must come out the same, and
    // lower-casing keeps variants apart that folding joins (final sigma, long s, micro sign).
    UErrorCode err = U_ZERO_ERROR;
    UChar buf[64];
    int32_t n = u_strFoldCase(buf, 64, uchars(c), c.size(), U_FOLD_CASE_DEFAULT, &err);
    if (U_FAILURE(err) || n > 64) return c;
    // Decompose and drop the combining marks (accents, háček, ring, cedilla, dot above...).
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(err);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(err);
    if (U_FAILURE(err)) return c;
    icu::UnicodeString decomposed = nfd->normalize(icu::UnicodeString(false, buf, n), err);
    if (U_FAILURE(err)) return c;
    icu::UnicodeString bare;
    for (int32_t i = 0; i < decomposed.length();) {
        UChar32 cp = decomposed.char32At(i);
        if (!(u_charType(cp) == U_NON_SPACING_MARK && u_getCombiningClass(cp) != 0)) bare.append(cp);
        i += U16_LENGTH(cp);
    }
    icu::UnicodeString composed = nfc->normalize(bare, err);
    if (U_FAILURE(err) || composed.isEmpty()) return c;
    QString out = QString::fromUtf16(reinterpret_cast<const char16_t*>(composed.getBuffer()), composed.length());
    if (out.size() == 1 && !out[0].isSurrogate()) return out;
    if (boundaries(out).size() != 2) return c; // not exactly one character
    return out;
}

} // namespace

QStringList QuickAddParser::splitCharacters(const QString& s) {
    const std::vector<int> b = boundaries(s);
    QStringList out;
    out.reserve(int(b.size()) - 1);
    for (size_t i = 0; i + 1 < b.size(); ++i) out << s.mid(b[i], b[i + 1] - b[i]);
    return out;
}

QString QuickAddParser::foldCharacter(const QString& c) {
    if (c.size() == 1 && c[0].unicode() < 0x80) {
        const char16_t u = foldAscii(c[0].unicode());
        return u == c[0].unicode() ? c : QString(QChar(u));
    }
    // Non-ASCII folding goes through ICU; lines repeat the same few accented letters.
    thread_local QHash<QString, QString> cache;
    auto it = cache.constFind(c);
    if (it != cache.constEnd()) return *it;
    QString folded = foldUncached(c);
    if (cache.size() > 4096) cache.clear();
    cache.insert(c, folded);
    return folded;
}

QString QuickAddParser::fold(const QString& s) {
    const std::vector<int> b = boundaries(s);
    QString out;
    out.reserve(s.size());
    for (size_t i = 0; i + 1 < b.size(); ++i) {
        const int len = b[i + 1] - b[i];
        if (len == 1 && s[b[i]].unicode() < 0x80) out += QChar(foldAscii(s[b[i]].unicode()));
        else out += foldCharacter(s.mid(b[i], len));
    }
    return out;
}

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
