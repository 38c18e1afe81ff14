#pragma once
#include "core/Services.h"
#include "settings/SettingsPageId.h"
#include <functional>

namespace lomex {

class SettingsPage;

// Makes the page the window shows for `page`, handed the shared models.
// openSetup is what the about page's setup button calls.
SettingsPage* makeSettingsPage(SettingsPageId page, const Services& services, std::function<void()> openSetup = {});

} // namespace lomex
