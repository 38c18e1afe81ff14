#include "settings/SettingsPages.h"
#include "settings/pages/ClipboardPage.h"
#include "settings/pages/FocusPage.h"
#include "settings/pages/GeneralPage.h"
#include "settings/pages/LimitsPage.h"
#include "settings/pages/NotchPage.h"

namespace lomex {

SettingsPage* makeSettingsPage(SettingsView::Page page, const Services& services) {
    using Page = SettingsView::Page;
    switch (page) {
    case Page::general: return new GeneralPage;
    case Page::notch: return services.model ? new NotchPage(services.model) : nullptr;
    case Page::focus: return new FocusPage;
    case Page::shortcuts: return new ShortcutsPage;
    case Page::limits: return new LimitsPage(services);
    case Page::clipboard: return services.clipboard ? new ClipboardPage(services.clipboard) : nullptr;
    // The calendar, places and about pages arrive with their services.
    case Page::calendar:
    case Page::places:
    case Page::about: return nullptr;
    }
    return nullptr;
}

} // namespace lomex
