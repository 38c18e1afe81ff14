#include "core/TextTable.h"

namespace lomex {

// Sorted by key (looked up by binary search).
const TextEntry kTextTable[] = {
    {"settings.title", "Nastavení Lomexu", "Lomex Settings"},
    {"tab.agents", "Agenti", "Agents"},
};

const std::size_t kTextTableSize = sizeof(kTextTable) / sizeof(kTextTable[0]);

} // namespace lomex
