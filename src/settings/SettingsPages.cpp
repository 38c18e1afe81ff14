#include "settings/SettingsPages.h"
#include "settings/pages/AboutPage.h"
#include "settings/pages/CalendarPage.h"
#include "settings/pages/ClipboardPage.h"
#include "settings/pages/FocusPage.h"
#include "settings/pages/GeneralPage.h"
#include "settings/pages/LimitsPage.h"
#include "settings/pages/NotchPage.h"
#include "settings/pages/PlacesPage.h"

namespace lomex {

SettingsPage* makeSettingsPage(SettingsView::Page page, const Services& services, std::function<void()> openSetup) {
    using Page = SettingsView::Page;
    switch (page) {
    case Page::general: return new GeneralPage;
    case Page::notch: return services.model ? new NotchPage(services.model) : nullptr;
    case Page::focus: return new FocusPage;
    case Page::shortcuts: return new ShortcutsPage(services);
    case Page::places: return new PlacesPage(services.weather, services.transit);
    case Page::about: return new AboutPage(services.updates, std::move(openSetup));
    case Page::limits: return new LimitsPage(services);
    case Page::clipboard: return services.clipboard ? new ClipboardPage(services.clipboard) : nullptr;
    case Page::calendar:
        return services.events && services.contacts ? new CalendarPage(services.events, services.contacts) : nullptr;
    }
    return nullptr;
}

} // namespace lomex
