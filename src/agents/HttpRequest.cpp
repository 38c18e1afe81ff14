#include "agents/HttpRequest.h"
#include <QStringList>
#include <QUtf8StringView>

namespace lomex {

namespace {

// Requests up to this size get their whole buffer at once; larger ones grow as bytes arrive.
constexpr qsizetype reserveUpTo = 256 * 1024;

QString trimBlanks(QStringView text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && (text[from] == u' ' || text[from] == u'\t'))
        ++from;
    while (to > from && (text[to - 1] == u' ' || text[to - 1] == u'\t'))
        --to;
    return text.mid(from, to - from).toString();
}

// A decimal integer with an optional sign; nothing on any other character or on overflow.
std::optional<qint64> decimal(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == u'+' || text[0] == u'-') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return std::nullopt;
        if (value > (std::numeric_limits<qint64>::max() - 9) / 10)
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return negative ? -value : value;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QString> percentDecode(QByteArrayView piece)
{
    QByteArray out;
    out.reserve(piece.size());
    for (qsizetype i = 0; i < piece.size(); ++i) {
        if (piece[i] != '%') {
            out.append(piece[i]);
            continue;
        }
        if (i + 2 >= piece.size())
            return std::nullopt;
        const int hi = hexValue(piece[i + 1]);
        const int lo = hexValue(piece[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.append(char(hi * 16 + lo));
        i += 2;
    }
    // Qt's check is strict: no overlong forms, no surrogates, nothing above U+10FFFF.
    if (!QUtf8StringView(out).isValidUtf8())
        return std::nullopt;
    return QString::fromUtf8(out);
}

} // namespace

std::optional<FieldMap> HTTPRequest::parseQuery(QByteArrayView query)
{
    FieldMap items;
    qsizetype start = 0;
    while (start <= query.size()) {
        qsizetype end = query.indexOf('&', start);
        if (end < 0)
            end = query.size();
        const QByteArrayView item = query.sliced(start, end - start);
        const qsizetype eq = item.indexOf('=');
        const auto name = percentDecode(eq < 0 ? item : item.first(eq));
        const auto value = eq < 0 ? std::optional<QString>(QString()) : percentDecode(item.sliced(eq + 1));
        if (!name || !value)
            return std::nullopt;
        items[*name] = *value;
        start = end + 1;
    }
    return items;
}

std::optional<HTTPRequest> HTTPRequest::parse(const QByteArray& bytes, qsizetype maxBytes)
{
    RequestReader reader(maxBytes);
    if (reader.feed(bytes) != RequestReader::Status::complete)
        return std::nullopt;
    return reader.takeRequest();
}

RequestReader::RequestReader(qsizetype maxBytes, qsizetype maxHeadBytes)
    : maxBytes_(maxBytes), maxHeadBytes_(std::min(maxHeadBytes, maxBytes))
{
}

RequestReader::Status RequestReader::feed(QByteArrayView bytes)
{
    if (status_ != Status::needMore)
        return status_;
    buffer_.append(bytes);

    if (bodyStart_ < 0) {
        const qsizetype from = std::max<qsizetype>(0, scanned_ - 3);
        const qsizetype blank = buffer_.indexOf("\r\n\r\n", from);
        if (blank < 0) {
            scanned_ = buffer_.size();
            if (buffer_.size() > maxHeadBytes_) {
                buffer_.clear();
                status_ = Status::tooLarge;
            }
            return status_;
        }
        // Judged by size first, so the outcome does not depend on how the bytes were split.
        if (blank + 4 > maxHeadBytes_) {
            buffer_.clear();
            return status_ = Status::tooLarge;
        }
        if (!parseHead(QByteArrayView(buffer_).first(blank))) {
            buffer_.clear();
            return status_ = Status::malformed;
        }
        bodyStart_ = blank + 4;
        if (bodyLength_ > maxBytes_ - bodyStart_) {
            buffer_.clear();
            return status_ = Status::tooLarge;
        }
        // Only what has arrived is held: a declared size alone must not take memory.
        if (buffer_.capacity() < bodyStart_ + bodyLength_ && bodyStart_ + bodyLength_ <= reserveUpTo)
            buffer_.reserve(bodyStart_ + bodyLength_);
    }

    if (buffer_.size() - bodyStart_ < bodyLength_)
        return status_;
    request_.body = buffer_.mid(bodyStart_, bodyLength_);
    buffer_ = QByteArray();
    return status_ = Status::complete;
}

bool RequestReader::parseHead(QByteArrayView head)
{
    if (!QUtf8StringView(head).isValidUtf8())
        return false;
    const QString text = QString::fromUtf8(head);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    const QStringList requestLine = lines.front().split(u' ', Qt::SkipEmptyParts);
    if (requestLine.size() < 2)
        return false;
    request_.method = requestLine[0].toUpper();
    const QString& target = requestLine[1];

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        request_.headers[trimBlanks(QStringView(line).first(colon)).toLower()] =
            trimBlanks(QStringView(line).sliced(colon + 1));
    }

    bodyLength_ = 0;
    if (auto it = request_.headers.find(QStringLiteral("content-length")); it != request_.headers.end())
        bodyLength_ = std::max<qint64>(0, decimal(it->second).value_or(0));

    // Split at the first "?" that follows a non-empty piece; empty pieces are dropped.
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < target.size(); ++i) {
        if (target[i] != u'?')
            continue;
        if (i > start) {
            pieces << target.mid(start, i - start);
            start = i + 1;
            break;
        }
        start = i + 1;
    }
    if (start < target.size())
        pieces << target.mid(start);
    request_.path = pieces.isEmpty() ? target : pieces[0];
    request_.query.clear();
    if (pieces.size() == 2)
        request_.query = HTTPRequest::parseQuery(pieces[1].toUtf8()).value_or(FieldMap{});
    return true;
}

} // namespace lomex
