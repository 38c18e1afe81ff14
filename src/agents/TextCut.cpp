#include "agents/TextCut.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace lomex::textcut {

namespace {

bool isNewline(char16_t c)
{
    switch (c) {
    case 0x000A: case 0x000B: case 0x000C: case 0x000D:
    case 0x0085: case 0x2028: case 0x2029:
        return true;
    default:
        return false;
    }
}

// Offsets (in UTF-16 units) where grapheme clusters end, in order; the last is text.size().
// One character iterator per thread: ICU iterators are not safe to share.
std::vector<int> clusterEnds(const QString& text, int maxClusters)
{
    std::vector<int> ends;
    if (text.isEmpty())
        return ends;
    // Below U+0300 nothing extends or joins a character but LF after CR: each unit is a cluster
    // of its own. Commands and paths are mostly such text, and walking them with ICU costs
    // milliseconds per 16 K.
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x0300; })) {
        const int size = int(text.size());
        ends.reserve(size_t(std::min(size, maxClusters)));
        for (int i = 0; i < size && int(ends.size()) < maxClusters; ++i) {
            if (text.at(i).unicode() == 0x0D && i + 1 < size && text.at(i + 1).unicode() == 0x0A)
                ++i;
            ends.push_back(i + 1);
        }
        return ends;
    }
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status))
            it.reset();
        return it;
    }();
    if (!iterator) {
        // Without ICU data fall back to code points, still never splitting a surrogate pair.
        for (int i = 0; i < text.size() && int(ends.size()) < maxClusters; ++i) {
            if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ++i;
            ends.push_back(i + 1);
        }
        return ends;
    }
    const icu::UnicodeString ustr(false, reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()));
    iterator->setText(ustr);
    iterator->first();
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE && int(ends.size()) < maxClusters;
         end = iterator->next())
        ends.push_back(end);
    // Drop the iterator's reference to the caller's buffer.
    static const icu::UnicodeString empty;
    iterator->setText(empty);
    return ends;
}

} // namespace

QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isNewline(text.at(i).unicode())) {
            if (i > start)
                lines.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    return lines;
}

std::optional<QString> firstLine(const QString& text)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isNewline(text.at(i).unicode())) {
            if (i > start)
                return text.mid(start, i - start);
            start = i + 1;
        }
    }
    return std::nullopt;
}

int graphemeCount(const QString& text)
{
    return int(clusterEnds(text, std::numeric_limits<int>::max()).size());
}

QString leftUnits(const QString& text, qsizetype maxUnits)
{
    if (maxUnits <= 0)
        return QString();
    if (text.size() <= maxUnits)
        return text;
    qsizetype end = maxUnits;
    if (text.at(end - 1).isHighSurrogate() && text.at(end).isLowSurrogate())
        --end;
    return text.left(end);
}

QString bounded(const QString& text, qsizetype maxUnits, bool* cut)
{
    // Dropped marks shrink a text, so more than maxUnits is read; but never all of a text that
    // may be megabytes long.
    constexpr qsizetype readFactor = 16;
    const QString source = leftUnits(text, maxUnits > text.size() / readFactor ? text.size() : maxUnits * readFactor);
    bool wasCut = source.size() < text.size();
    // Each cluster adds at least one unit: one past maxUnits of them is all the walk below reads.
    const int clusters = int(std::min<qsizetype>(maxUnits, std::numeric_limits<int>::max() - 1)) + 1;
    const std::vector<int> ends = clusterEnds(source, clusters);
    QString out;
    int start = 0;
    for (int end : ends) {
        if (out.size() >= maxUnits) {
            wasCut = true;
            break;
        }
        int i = start;
        for (int kept = 0; i < end && kept < maxClusterCodePoints; ++kept) {
            const bool pair = source.at(i).isHighSurrogate() && i + 1 < end && source.at(i + 1).isLowSurrogate();
            i += pair ? 2 : 1;
        }
        if (start == 0 && i == end && end == source.size()) {
            out = source; // one cluster, nothing to drop: no copy
            break;
        }
        out.append(QStringView(source).mid(start, i - start));
        start = end;
    }
    if (ends.empty())
        out = source;
    if (out.size() > maxUnits) {
        out = leftUnits(out, maxUnits);
        wasCut = true;
    }
    if (cut)
        *cut = wasCut;
    return out;
}

QString leftGraphemes(const QString& text, int count)
{
    if (count <= 0)
        return QString();
    const QString t = bounded(text, qsizetype(count) * maxClusterUnits);
    // A cluster is at least one UTF-16 unit, so a text this short needs no walk.
    if (t.size() <= count)
        return t;
    const std::vector<int> ends = clusterEnds(t, count);
    if (int(ends.size()) < count)
        return t;
    return t.left(ends.back());
}

QString shorten(const QString& text, int limit)
{
    if (limit <= 0)
        return QString();
    bool cut = false;
    const QString t = bounded(text, (qsizetype(limit) + 1) * maxClusterUnits, &cut);
    if (t.size() <= limit && !cut) // see leftGraphemes
        return t;
    // One cluster more than the limit tells whether the text is too long without walking all of it.
    const std::vector<int> ends = clusterEnds(t, limit + 1);
    if (int(ends.size()) <= limit && !cut)
        return t;
    const int keep = std::min(limit - 1, int(ends.size()));
    return (keep > 0 ? t.left(ends[size_t(keep) - 1]) : QString()) + QChar(0x2026);
}

int linesAfterFirst(const QString& text)
{
    int line = 0, first = -1, last = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (isNewline(c)) {
            if (!(c == 0x0D && i + 1 < text.size() && text.at(i + 1).unicode() == 0x0A))
                ++line;
        } else if (!text.at(i).isSpace()) {
            if (first < 0)
                first = line;
            last = line;
        }
    }
    return first < 0 ? 0 : last - first;
}

QString shortenKeepingEnd(const QString& text, int limit, bool* cut)
{
    if (cut)
        *cut = false;
    if (text.size() <= limit)
        return text;
    const std::vector<int> ends = clusterEnds(text, std::numeric_limits<int>::max());
    const int count = int(ends.size());
    if (count <= limit)
        return text;
    if (cut)
        *cut = true;
    if (limit <= 0)
        return QString();
    return QChar(0x2026) + text.mid(ends[size_t(count - limit)]);
}

std::optional<QString> firstLineShortened(const QString& text, int limit)
{
    const std::optional<QString> line = firstLine(text);
    if (!line)
        return std::nullopt;
    return shorten(*line, limit);
}

QString showBidiControls(const QString& text)
{
    auto isBidiControl = [](char16_t c) {
        return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E)
            || (c >= 0x2066 && c <= 0x2069);
    };
    if (std::none_of(text.begin(), text.end(), [&](QChar c) { return isBidiControl(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (QChar c : text) {
        if (isBidiControl(c.unicode()))
            out += QStringLiteral("<U+%1>").arg(uint(c.unicode()), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

QString lastPathComponent(const QString& path)
{
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    if (end == 0)
        return path.isEmpty() ? QString() : QStringLiteral("/");
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'), end - 1);
    return path.mid(slash + 1, end - slash - 1);
}

} // namespace lomex::textcut
