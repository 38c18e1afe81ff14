#include "platform/TextFold.h"

#include <QHash>
#include <memory>
#include <vector>
#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

namespace lomex::textfold {

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

QStringList splitCharacters(const QString& s) {
    const std::vector<int> b = boundaries(s);
    QStringList out;
    out.reserve(int(b.size()) - 1);
    for (size_t i = 0; i + 1 < b.size(); ++i) out << s.mid(b[i], b[i + 1] - b[i]);
    return out;
}

QString foldCharacter(const QString& c) {
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

QString fold(const QString& s) {
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

} // namespace lomex::textfold
