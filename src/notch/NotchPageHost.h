#pragma once
#include "notch/NotchModel.h"
#include <QHash>
#include <QPointer>
#include <QStackedWidget>

namespace lomex {

// The body of the open notch: one page per tab. Each subsystem hands its tab page in with
// setPage() (AppDelegate::installTabPages does it at launch); a tab without a page shows its
// symbol and name until its page exists.
class NotchPageHost : public QStackedWidget {
    Q_OBJECT
public:
    explicit NotchPageHost(QWidget* parent = nullptr);

    // Takes ownership; replaces (and deletes) a page set before for the same tab.
    void setPage(NotchModel::Tab tab, QWidget* page);
    // The page set for the tab, or nullptr.
    QWidget* page(NotchModel::Tab tab) const;
    bool hasPage(NotchModel::Tab tab) const { return page(tab) != nullptr; }
    // Brings the tab's page (or its placeholder) to the front.
    void showTab(NotchModel::Tab tab);
    NotchModel::Tab shownTab() const { return shown_; }
    // Texts of the placeholders follow the language.
    void retranslate();

private:
    QWidget* placeholder(NotchModel::Tab tab);
    QHash<NotchModel::Tab, QPointer<QWidget>> pages_;
    QHash<NotchModel::Tab, QPointer<QWidget>> placeholders_;
    NotchModel::Tab shown_ = NotchModel::Tab::home;
};

// The symbol name of each tab, as the tab bar and the settings show it.
QString tabSymbol(NotchModel::Tab tab);

} // namespace lomex
