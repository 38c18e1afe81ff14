// Fuzzes the desktop-entry reader with arbitrary file contents.
#include "platform/DesktopEntries.h"

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)desktopentry::parse(bytes, QStringLiteral("cs_CZ"));
    return 0;
}
