#pragma once
#include "core/Services.h"
#include "settings/SettingsPageId.h"
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QScrollArea;
class QLabel;
class QAbstractButton;

namespace lomex {

class Clock;
class IconTile;
namespace style { enum class Named; }

// The settings window's content: a sidebar of the nine pages, a header naming the current
// page and a scroll area showing it. Only the current page exists; choosing another drops the
// old one with its view state. Follows SettingsNav: its page, and a section to scroll to.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    using Page = SettingsPageId;

    static const QList<Page>& allPages();
    static QString rawValue(Page page);
    // Exactly the nine raw values; anything else is no page.
    static std::optional<Page> pageFrom(const QString& raw);
    static QString symbol(Page page);
    static style::Named tileColor(Page page);

    // A section is scrolled to this long after it is requested.
    static constexpr double scrollDelaySeconds = 0.35;
    static constexpr int width = 780, height = 560;

    explicit SettingsView(Services services, Clock* clock = nullptr, QWidget* parent = nullptr);

    // The sidebar's setup entry.
    std::function<void()> onSetup;

    QWidget* currentPage() const { return page_; }
    QScrollArea* scrollArea() const { return scroll_; }
    QList<QAbstractButton*> sidebarRows() const { return rows_; }
    QAbstractButton* setupEntry() const { return setupEntry_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildPage();
    void retranslate();
    void scrollSoon();

    Services services_;
    Clock* clock_;
    QWidget* sidebar_ = nullptr;
    QList<QAbstractButton*> rows_;
    QAbstractButton* setupEntry_ = nullptr;
    IconTile* headerTile_ = nullptr;
    QLabel* headerTitle_ = nullptr;
    QLabel* headerSubtitle_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* column_ = nullptr;  // header and scroll area
    bool animateNext_ = false;   // the page change under way came from the sidebar
    QPointer<QWidget> page_;
    std::optional<Page> shownPage_; // the page page_ was made for
};

} // namespace lomex
