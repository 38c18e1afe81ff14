#pragma once
#include "agents/HookEvent.h"
#include <QByteArray>
#include <QString>
#include <optional>

namespace lomex {

// One parsed HTTP/1.1 request as the hook server sees it.
struct HTTPRequest {
    QString method;   // upper-cased
    QString path;     // the target before the first "?"
    FieldMap query;   // percent-decoded; a later item with the same name wins
    FieldMap headers; // names lower-cased, names and values trimmed of blanks; last value wins
    QByteArray body;  // exactly Content-Length bytes

    static constexpr qsizetype defaultMaxBytes = 8'388'608;
    // A hook's head is a few hundred bytes; this leaves room for far longer ones.
    static constexpr qsizetype defaultMaxHeadBytes = 65'536;

    // Parses a whole buffer: nothing while incomplete, malformed or over the size limit.
    static std::optional<HTTPRequest> parse(const QByteArray& bytes, qsizetype maxBytes = defaultMaxBytes);

    // Query string (without "?") to items; nothing when an escape is broken.
    static std::optional<FieldMap> parseQuery(QByteArrayView query);
};

// Reads one request from bytes arriving in chunks. The head is located by scanning only the
// new bytes and parsed once; after that only body bytes are counted.
class RequestReader {
public:
    enum class Status {
        needMore,
        complete,
        // The head is there but unusable (not UTF-8, request line of one word).
        malformed,
        // The head would not end within its limit, or head plus declared body exceed the limit.
        tooLarge,
    };

    explicit RequestReader(qsizetype maxBytes = HTTPRequest::defaultMaxBytes,
                           qsizetype maxHeadBytes = HTTPRequest::defaultMaxHeadBytes);

    // Appends bytes (ignored once the reader has decided) and returns the status.
    Status feed(QByteArrayView bytes);
    Status status() const { return status_; }
    // The request; only meaningful once status() is complete.
    const HTTPRequest& request() const { return request_; }
    HTTPRequest takeRequest() { return std::move(request_); }
    // Memory the reader holds for the request so far.
    qsizetype bufferedBytes() const { return buffer_.capacity(); }

private:
    bool parseHead(QByteArrayView head);

    qsizetype maxBytes_;
    qsizetype maxHeadBytes_;
    Status status_ = Status::needMore;
    QByteArray buffer_;
    qsizetype scanned_ = 0;     // bytes already searched for the blank line
    qsizetype bodyStart_ = -1;  // set once the head is parsed
    qsizetype bodyLength_ = 0;
    HTTPRequest request_;
};

} // namespace lomex
