// Fuzzes the hook server's request reader: any bytes, fed in chunks of any size, must give the
// same result as one whole feed, stay within the size limit and never crash.
#include "agents/HttpRequest.h"
#include <cstdlib>

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const qsizetype chunk = 1 + data[0] % 61;
    const qsizetype limit = data[1] & 1 ? HTTPRequest::defaultMaxBytes : 64 + data[1];
    const QByteArray input(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));

    RequestReader whole(limit);
    const RequestReader::Status expected = whole.feed(input);

    RequestReader pieces(limit);
    RequestReader::Status status = RequestReader::Status::needMore;
    for (qsizetype at = 0; at < input.size() && status == RequestReader::Status::needMore; at += chunk)
        status = pieces.feed(QByteArrayView(input).sliced(at, std::min(chunk, input.size() - at)));

    // A split can only be judged too large where the whole feed already was.
    if (status != expected)
        abort();
    if (status == RequestReader::Status::complete) {
        const HTTPRequest& a = whole.request();
        const HTTPRequest& b = pieces.request();
        if (a.method != b.method || a.path != b.path || a.query != b.query || a.headers != b.headers || a.body != b.body)
            abort();
        if (a.body.size() > limit)
            abort();
        for (const auto& [name, value] : a.headers) {
            if (name != name.toLower())
                abort();
        }
        // The same path the server takes next.
        (void)HookEvent::decode(a.body, a.headers, a.query);
    }
    return 0;
}
