// Must not compile: a settings key is named through the table, so a misspelt one is an error
// (tests/CMakeLists.txt builds this and expects the compiler to name it).
#include "core/Settings.h"

bool misspelt(const lomex::Settings& settings) { return settings.get(lomex::keys::agentsEnabeld); }
