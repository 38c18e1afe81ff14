#pragma once
#include <cstddef>

namespace lomex {

struct TextEntry {
    const char* key;
    const char* cs;
    const char* en;
};

// Every dotted key of the app with its Czech and English text, sorted by key.
extern const TextEntry kTextTable[];
extern const std::size_t kTextTableSize;

} // namespace lomex
