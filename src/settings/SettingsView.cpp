#include "settings/SettingsView.h"

namespace lomex {

const QList<SettingsView::Page>& SettingsView::allPages() {
    static const QList<Page> pages{Page::general, Page::notch,  Page::calendar,  Page::places, Page::clipboard,
                                   Page::focus,   Page::limits, Page::shortcuts, Page::about};
    return pages;
}

QString SettingsView::rawValue(Page page) {
    switch (page) {
    case Page::general: return QStringLiteral("general");
    case Page::notch: return QStringLiteral("notch");
    case Page::calendar: return QStringLiteral("calendar");
    case Page::places: return QStringLiteral("places");
    case Page::clipboard: return QStringLiteral("clipboard");
    case Page::focus: return QStringLiteral("focus");
    case Page::limits: return QStringLiteral("limits");
    case Page::shortcuts: return QStringLiteral("shortcuts");
    case Page::about: return QStringLiteral("about");
    }
    return {};
}

std::optional<SettingsView::Page> SettingsView::pageFrom(const QString& raw) {
    for (Page p : allPages())
        if (rawValue(p) == raw) return p;
    return std::nullopt;
}

} // namespace lomex
