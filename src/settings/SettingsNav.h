#pragma once
#include "settings/SettingsView.h"
#include <QObject>
#include <QString>
#include <optional>

namespace lomex {

// Which settings page the window shows and which section is still to be scrolled into view.
// Written by AppDelegate::openSettings, the sidebar and the scroll operation.
class SettingsNav : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    SettingsView::Page page() const { return page_; }
    void setPage(SettingsView::Page page) {
        if (page_ == page) return;
        page_ = page;
        Q_EMIT pageChanged();
    }

    std::optional<QString> scrollTarget() const { return scrollTarget_; }
    void setScrollTarget(std::optional<QString> target) {
        if (scrollTarget_ == target) return;
        scrollTarget_ = std::move(target);
        Q_EMIT scrollTargetChanged();
    }
    void clearScrollTarget() {
        if (!scrollTarget_) return;
        scrollTarget_.reset();
        Q_EMIT scrollTargetChanged();
    }

Q_SIGNALS:
    void pageChanged();
    void scrollTargetChanged();

private:
    SettingsView::Page page_ = SettingsView::Page::general;
    std::optional<QString> scrollTarget_;
};

} // namespace lomex
