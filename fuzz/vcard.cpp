// Fuzzes the vCard reader with arbitrary file contents: every birthday it returns must be a
// real calendar day, and no input may crash or stall it.
#include "platform/ContactStore.h"
#include <QDate>
#include <cstdlib>

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const Contact& c : vcard::read(bytes)) {
        if (!c.birthday)
            continue;
        const Birthday& b = *c.birthday;
        if (!QDate::isValid(b.year.value_or(2000), b.month, b.day))
            abort();
        if (b.year && *b.year <= 1900)
            abort();
    }
    (void)vcard::birthday(QString::fromUtf8(bytes.left(64)));
    return 0;
}
