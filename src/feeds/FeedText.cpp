#include "feeds/FeedText.h"

namespace lomex::feedtext {

namespace {

bool isBidiControl(char16_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F;
}

QString clean(const QString& text, int maxChars, bool keepLineFeeds) {
    QString out;
    out.reserve(qMin(text.size(), maxChars));
    for (QChar ch : text) {
        if (out.size() >= maxChars) break;
        const char16_t c = ch.unicode();
        if (c == u'\r') continue;
        if (c == u'\n') {
            out += keepLineFeeds ? QChar(u'\n') : QChar(u' ');
        } else if (c == u'\t') {
            out += QChar(u' ');
        } else if (ch.category() == QChar::Other_Control || isBidiControl(c)) {
            continue;
        } else {
            out += ch;
        }
    }
    // Never end on half a surrogate pair.
    if (!out.isEmpty() && out.back().isHighSurrogate()) out.chop(1);
    return out.trimmed();
}

} // namespace

QString line(const QString& text, int maxChars) {
    return clean(text, maxChars, false).simplified();
}

QString paragraph(const QString& text, int maxChars) {
    return clean(text, maxChars, true);
}

} // namespace lomex::feedtext
