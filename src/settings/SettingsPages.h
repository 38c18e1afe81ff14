#pragma once
#include "core/Services.h"
#include "settings/SettingsView.h"

namespace lomex {

class SettingsPage;

// Makes the page the window shows for `page`, handed the shared models.
SettingsPage* makeSettingsPage(SettingsView::Page page, const Services& services);

} // namespace lomex
