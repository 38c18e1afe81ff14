// Fuzzes the clipboard history entries: any element of the history file either is refused or
// gives a clip whose image name stays inside the history folder.
#include "device/Clip.h"
#include <cstdlib>

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto j = nlohmann::json::parse(data, data + size, nullptr, false);
    if (!j.is_array())
        return 0;
    for (const auto& element : j) {
        const auto clip = Clip::fromJson(element);
        if (!clip)
            continue;
        const QString& f = clip->imageFile;
        if (!f.isEmpty() && (f.contains(QLatin1Char('/')) || f.startsWith(QLatin1Char('.'))))
            abort();
        if (clip->kind == Clip::Kind::image && f.isEmpty())
            abort();
        (void)clip->toJson().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return 0;
}
