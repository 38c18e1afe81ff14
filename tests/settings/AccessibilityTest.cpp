#include "AccessibleTree.h"
#include "QStringPrint.h"
#include "SettingsWindowFixture.h"
#include "agents/AgentSwitch.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "feeds/UsageMonitor.h"
#include "notch/NotchModel.h"
#include "notch/NotchTabBar.h"
#include "platform/LoginItem.h"
#include "settings/SettingsNav.h"
#include "settings/SettingsView.h"
#include "settings/SetupModel.h"
#include "settings/SetupWizard.h"
#include "ui/KeyGuard.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "ui/Accessibility.h"
#include "FakeClock.h"
#include "FakeLoginItem.h"
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>

using namespace lomex;

namespace {

class AccessibilityTest : public test::SettingsWindowFixture {
protected:
    void SetUp() override {
        SettingsWindowFixture::SetUp();
        L10n::shared().setLanguage(AppLanguage::en);
    }
    // The control a screen reader announces with this name, on the sidebar or the page.
    QAbstractButton* control(const QString& name) {
        for (auto* b : view->findChildren<QAbstractButton*>())
            if (b->isVisibleTo(view.get()) && b->accessibleName() == name) return b;
        return nullptr;
    }
    // Checked members of the set the button belongs to.
    static int checkedInSet(QAbstractButton* b) {
        int n = 0;
        for (auto* sibling : b->parentWidget()->findChildren<QAbstractButton*>())
            n += sibling->autoExclusive() && sibling->isChecked();
        return n;
    }
};

const QString toggle = QAccessibleActionInterface::toggleAction();
const QString press = QAccessibleActionInterface::pressAction();

// Screen readers and voice control operate a control through its accessible action, never by
// a click: the setting must follow, and a set of choices keeps exactly one chosen.
TEST_F(AccessibilityTest, ControlsDrivenThroughTheirAccessibleActionsChangeTheSettings) {
    home.write(".claude/settings.json", "{}");
    const struct {
        Page page;
        const char* control;
        QString action;
        std::function<bool()> took;
    } cases[] = {
        {Page::notch, "Only when active", toggle, [] { return Settings::shared().get(keys::pillMode) == "activity"; }},
        // The chosen one again: still chosen, value kept.
        {Page::notch, "Only when active", toggle, [] { return Settings::shared().get(keys::pillMode) == "activity"; }},
        {Page::notch, "Always", toggle, [] { return Settings::shared().get(keys::pillMode) == "always"; }},
        {Page::notch, "Switch tabs on hover", toggle, [] { return !Settings::shared().get(keys::hoverTabs); }},
        {Page::general, "Calendar", toggle, [this] { return nav.page() == Page::calendar; }},
        {Page::calendar, "Calendar", toggle, [this] { return nav.page() == Page::calendar; }},
        {Page::limits, "Watch Claude Code and Codex", toggle, [] { return Settings::shared().get(keys::agentsEnabled); }},
        {Page::general, "Čeština", toggle, [] { return L10n::shared().language() == AppLanguage::cs; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        open(c.page);
        QAbstractButton* b = control(QString::fromUtf8(c.control));
        ASSERT_TRUE(b);
        ASSERT_TRUE(test::doAccessibleAction(b, c.action));
        EXPECT_TRUE(test::waitUntil(c.took, 2000));
        if (b->autoExclusive()) {
            EXPECT_TRUE(b->isChecked());
            EXPECT_EQ(checkedInSet(b), 1);
        }
    }
    EXPECT_EQ(view->findChildren<QAbstractButton*>().size() > 0, true);
    int rows = 0;
    for (QAbstractButton* row : view->sidebarRows()) rows += row->isChecked();
    EXPECT_EQ(rows, 1);
}

// Clicking the page that is already selected keeps it selected.
TEST_F(AccessibilityTest, ClickingTheSelectedSidebarRowChangesNothing) {
    open(Page::focus);
    QAbstractButton* row = view->sidebarRows()[int(Page::focus)];
    ASSERT_TRUE(row->isChecked());
    QWidget* page = view->currentPage();
    QTest::mouseClick(row, Qt::LeftButton);
    EXPECT_TRUE(row->isChecked());
    EXPECT_EQ(nav.page(), Page::focus);
    EXPECT_EQ(view->currentPage(), page);
}

// A row's title names its control for screen readers; an ampersand in it is text, never an
// underlined mnemonic, and the title reads as written, whether the row names its control or the
// control has a name of its own (a badge, a switch named by its page), and after its control
// was swapped for one of the other kind.
TEST_F(AccessibilityTest, RowTitlesShowAndReadAsWritten) {
    const std::vector<std::pair<const char*, std::function<QWidget*()>>> controls = {
        {"unnamed switch", [] { return new Switch; }},
        {"named switch", [] { auto* s = new Switch; s->setAccessibleName("Contacts"); return s; }},
        {"badge", [] { return new StatusBadge(true, "Done"); }},
    };
    for (const QString& title : {QStringLiteral("Calendar & Reminders"), QStringLiteral("Name days & birthdays"),
                                QStringLiteral("Open delay")})
    for (const auto& [kind, make] : controls)
    for (const bool swapped : {false, true}) {
        SCOPED_TRACE(title.toStdString() + ", " + kind + (swapped ? ", swapped in" : ""));
        QWidget* control = make();
        const QString ownName = control->accessibleName();
        Row row(title, QStringLiteral("detail"), swapped ? new QPushButton("Allow") : control);
        if (swapped) row.setTrailing(control);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        row.resize(420, row.sizeHint().height());
        row.show();
        // Once as built, once after its texts were set again (a change of language).
        for (const bool retitled : {false, true}) {
            SCOPED_TRACE(retitled ? "texts set again" : "as built");
            if (retitled) row.setTexts(title, QStringLiteral("detail"));
            QCoreApplication::processEvents();
            QLabel* label = row.titleLabel();
            QLabel twin(label->parentWidget());
            twin.setTextFormat(Qt::PlainText);
            twin.setFont(label->font());
            twin.setPalette(label->palette());
            twin.setWordWrap(true);
            twin.setText(title);
            twin.setGeometry(label->geometry());
            EXPECT_TRUE(label->grab().toImage() == twin.grab().toImage());
            EXPECT_EQ(control->accessibleName(), ownName.isEmpty() ? title : ownName);
            QAccessibleInterface* read = QAccessible::queryAccessibleInterface(label);
            ASSERT_TRUE(read);
            EXPECT_EQ(read->text(QAccessible::Name), title);
        }
    }
}

// A page asked for from elsewhere (the tray, the command line) takes the sidebar's keyboard
// focus along: it never stays on the row of the page that was shown before.
TEST_F(AccessibilityTest, SidebarFocusFollowsAPageChosenElsewhere) {
    open(Page::general);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QTest::mouseClick(view->sidebarRows()[int(Page::focus)], Qt::LeftButton);
    ASSERT_EQ(nav.page(), Page::focus);
    ASSERT_EQ(QApplication::focusWidget(), view->sidebarRows()[int(Page::focus)]);
    open(Page::notch);
    EXPECT_EQ(QApplication::focusWidget(), view->sidebarRows()[int(Page::notch)]);
}

// In a set of choices Tab stops on the chosen one (arrows reach the others), so a Space typed
// there never changes the choice.
TEST_F(AccessibilityTest, TabStopsOnTheChosenMemberOfEverySet) {
    for (Page page : SettingsView::allPages()) {
        SCOPED_TRACE(SettingsView::rawValue(page).toStdString());
        open(page);
        for (QAbstractButton* b : view->currentPage()->findChildren<QAbstractButton*>()) {
            if (!b->autoExclusive() || !b->isVisibleTo(view.get())) continue;
            SCOPED_TRACE(b->accessibleName().toStdString());
            EXPECT_EQ(bool(b->focusPolicy() & Qt::TabFocus), b->isChecked());
        }
    }
}

// Every stop of the sidebar shows where the keyboard is.
TEST_F(AccessibilityTest, SidebarStopsShowTheKeyboardFocus) {
    open(Page::general);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    for (QWidget* w : {static_cast<QWidget*>(view->sidebarRows()[0]), static_cast<QWidget*>(view->setupEntry())}) {
        SCOPED_TRACE(w->accessibleName().toStdString());
        view->sidebarRows()[1]->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        const QImage plain = w->grab().toImage();
        w->setFocus(Qt::TabFocusReason);
        view->setAttribute(Qt::WA_KeyboardFocusChange);
        QCoreApplication::processEvents();
        ASSERT_TRUE(w->hasFocus());
        EXPECT_FALSE(w->grab().toImage() == plain);
    }
}

// Everything a screen reader can reach is named, with a role that says what it is.
TEST_F(AccessibilityTest, EveryControlOfTheSettingsTheWizardAndTheTabBarIsNamed) {
    for (Page page : SettingsView::allPages()) {
        SCOPED_TRACE(SettingsView::rawValue(page).toStdString());
        open(page);
        EXPECT_EQ(test::unnamedControls(view.get()), QStringList());
        EXPECT_EQ(test::focusableFillers(view.get()), QStringList());
    }
    open(Page::notch);
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(view.get());
    EXPECT_EQ(window->role(), QAccessible::Window);
    // A set of choices is a named group of radio buttons; a pop-up is labelled by its row.
    auto* pill = view->currentPage()->findChild<SegmentedPicker*>();
    QAccessibleInterface* group = QAccessible::queryAccessibleInterface(pill);
    EXPECT_EQ(group->role(), QAccessible::Grouping);
    EXPECT_EQ(group->text(QAccessible::Name), "Black pill on displays without a notch");
    EXPECT_TRUE(group->text(QAccessible::Description).startsWith("With “only when active”"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(pill->segments()[0])->role(), QAccessible::RadioButton);
    auto* where = view->currentPage()->findChild<QComboBox*>();
    QAccessibleInterface* popUp = QAccessible::queryAccessibleInterface(where);
    const auto labels = popUp->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0].first->text(QAccessible::Name), "Where to show the notch");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view->sidebarRows()[0])->role(), QAccessible::RadioButton);
    EXPECT_TRUE(control("Move Home down"));
    EXPECT_TRUE(control("Move Note up"));

    SetupWizardView wizard(services);
    wizard.show();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&wizard)->role(), QAccessible::Window);
    EXPECT_EQ(test::unnamedControls(&wizard), QStringList());
    // Four steps; no card promises music that needs nothing set up.
    for (AppLanguage language : {AppLanguage::en, AppLanguage::cs}) {
        L10n::shared().setLanguage(language);
        const QStringList names = test::shownNames(&wizard);
        for (const char* key : {"setup.cal.title", "setup.ax.title", "contacts.title", "setup.claude.title"})
            EXPECT_TRUE(names.join('|').contains(L10n::shared().t(key))) << key;
        for (const QString& name : names) EXPECT_FALSE(name.contains(language == AppLanguage::en ? "Music" : "Hudba")) << name.toStdString();
    }
    L10n::shared().setLanguage(AppLanguage::en);

    QWidget panel;
    NotchTabBar bar(&model, &panel);
    panel.show();
    model.open(NotchModel::Tab::transit);
    EXPECT_EQ(test::unnamedControls(&panel), QStringList());
    QStringList selected;
    for (NotchTabButton* b : bar.buttons()) {
        QAccessibleInterface* tab = QAccessible::queryAccessibleInterface(b);
        EXPECT_EQ(tab->role(), QAccessible::PageTab);
        EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus);
        if (tab->state().selected) selected << tab->text(QAccessible::Name);
    }
    EXPECT_EQ(selected, QStringList{"Transit"});
    EXPECT_EQ(QAccessible::queryAccessibleInterface(bar.buttons()[0]->parentWidget())->role(), QAccessible::PageTabList);
    ASSERT_TRUE(test::doAccessibleAction(bar.buttons()[0], press));
    EXPECT_EQ(model.tab(), NotchModel::Tab::home);
}

// Keyboard users start at the sidebar, which comes first on screen, and Escape closes the wizard.
TEST_F(AccessibilityTest, TabStartsInTheSidebarAndEscapeClosesTheWizard) {
    open(Page::general);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    if (!QApplication::focusWidget()) QTest::keyClick(view.get(), Qt::Key_Tab);
    QWidget* first = QApplication::focusWidget();
    ASSERT_TRUE(first);
    EXPECT_EQ(first, view->sidebarRows()[0]) << first->metaObject()->className() << " " << first->accessibleName().toStdString();
    // The sidebar's rows are one stop (arrows move within them), then the setup entry, then the page.
    QTest::keyClick(first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->setupEntry());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(view->currentPage()->isAncestorOf(QApplication::focusWidget()));
    // Back from the setup entry: the stop is the selected page's row.
    open(Page::focus);
    view->setupEntry()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view->setupEntry(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), view->sidebarRows()[int(Page::focus)]);

    SetupWizardView wizard(services);
    wizard.show();
    wizard.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard));
    // Keys typed as the wizard appears are dropped; Escape after that moment closes it.
    QTest::keyClick(&wizard, Qt::Key_Escape);
    EXPECT_TRUE(wizard.isVisible());
    QTest::qWait(KeyGuard::kMilliseconds + 50);
    QTest::keyClick(&wizard, Qt::Key_Escape);
    EXPECT_FALSE(wizard.isVisible());
}

// The focus ring on the black notch is at least 3:1 against it.
TEST_F(AccessibilityTest, NotchFocusRingStandsOutOnBlack) {
    QWidget panel;
    NotchTabBar bar(&model, &panel);
    panel.resize(600, 40);
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    EXPECT_GE(test::focusRingContrast(bar.buttons()[1]), 3.0);
    EXPECT_GE(test::focusRingContrast(bar.gearButton()), 3.0);
}

} // namespace
