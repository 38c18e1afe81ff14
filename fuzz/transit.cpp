// Fuzzes the transit answer readers with arbitrary bodies; the first byte picks the reader.
#include "feeds/TransitParse.h"
#include <cstdlib>

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0:
        if (auto d = transitparse::departureBoard(body); d && d->size() > 200)
            abort();
        break;
    case 1:
        if (auto d = transitparse::stopTimes(body); d && d->size() > 200)
            abort();
        break;
    case 2:
        (void)transitparse::stopList(body);
        break;
    default:
        if (auto g = transitparse::geocodeStops(body); g && g->size() > 12)
            abort();
    }
    return 0;
}
