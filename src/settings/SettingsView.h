#pragma once
#include <QList>
#include <QString>
#include <optional>

namespace lomex {

// The settings window. The window itself comes with the settings pages; what exists here is
// the list of its pages, which the shell already routes to.
class SettingsView {
public:
    // Declaration order is the sidebar order.
    enum class Page { general, notch, calendar, places, clipboard, focus, limits, shortcuts, about };

    static const QList<Page>& allPages();
    static QString rawValue(Page page);
    // Exactly the nine raw values; anything else is no page.
    static std::optional<Page> pageFrom(const QString& raw);
};

} // namespace lomex
