// Fuzzes the warnings readers: the first byte picks the CAP file parser (with the region
// choice on top) or the folder-listing picker.
#include "feeds/CapWarnings.h"
#include <QTimeZone>
#include <cstdlib>

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (data[0] & 1) {
        const QUrl listing(QStringLiteral("https://example.test/warnings/"));
        const QList<QUrl> files = capwarnings::pickFiles(bytes, listing, 3);
        if (files.size() > 3)
            abort();
        for (const QUrl& url : files) {
            if (url.scheme() != listing.scheme() || url.host() != listing.host() || url.port() != listing.port())
                abort();
        }
        return 0;
    }
    (void)capwarnings::parse(bytes);
    const QDateTime now(QDate(2026, 12, 7), QTime(8, 0), QTimeZone::utc());
    for (const auto& w : capwarnings::warningsFor({bytes}, QStringLiteral("Jihomoravský kraj"), data[0] & 2, now)) {
        if (w.level < 2)
            abort();
    }
    return 0;
}
