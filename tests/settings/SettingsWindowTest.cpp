#include "QStringPrint.h"
#include "TestEnv.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "notch/NotchModel.h"
#include "platform/LoginItem.h"
#include "settings/SettingsNav.h"
#include "settings/SettingsPage.h"
#include "settings/SettingsView.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/pages/GeneralPage.h"
#include "FakeClock.h"
#include "FakeLoginItem.h"
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QScrollArea>
#include <QLabel>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <map>
#include <memory>

using namespace lomex;
using Page = SettingsView::Page;
using json = nlohmann::json;

namespace {

class SettingsWindowTest : public test::LomexTest {
protected:
    void SetUp() override { LoginItem::setCurrent(&login); }
    void TearDown() override {
        view.reset();
        LoginItem::setCurrent(nullptr);
    }
    SettingsView& open(Page page) {
        nav.setPage(page);
        if (!view) {
            Services s;
            s.model = &model;
            s.settingsNav = &nav;
            view = std::make_unique<SettingsView>(s, &clock);
            view->show();
        }
        return *view;
    }
    QByteArray settingsFile() const {
        QFile f(Settings::shared().filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    FakeClock clock;
    FakeLoginItem login;
    NotchModel model{&clock};
    SettingsNav nav;
    std::unique_ptr<SettingsView> view;
};

json stored() {
    json out = json::object();
    for (const char* key : {"liveActivity", "hoverDelay", "hoverTabs", "batteryNotices", "headphoneNotices",
                            "liveEqualizer", "displayChoice", "pillMode", "tabOrder", "hiddenTabs", "workMinutes",
                            "breakMinutes", "hotkeysEnabled", "language"})
        if (auto v = Settings::shared().value(QString::fromLatin1(key)); v && Settings::shared().isStored(key))
            out[key] = *v;
    return out;
}

} // namespace

TEST_F(SettingsWindowTest, OpeningEveryPageWritesNothing) {
    for (Page page : SettingsView::allPages()) {
        open(page);
        ASSERT_NE(view->currentPage(), nullptr);
        EXPECT_EQ(view->currentPage()->objectName(), "page." + SettingsView::rawValue(page));
    }
    EXPECT_TRUE(settingsFile().isEmpty()) << settingsFile().constData();
    EXPECT_EQ(login.calls, 0);
    // Exactly the selected row is highlighted.
    int checked = 0;
    for (QAbstractButton* row : view->sidebarRows()) checked += row->isChecked();
    EXPECT_EQ(checked, 1);
    EXPECT_TRUE(view->sidebarRows().last()->isChecked());
}

// Every control of a page, used once, writes its key with the JSON type its readers expect.
TEST_F(SettingsWindowTest, EachControlWritesItsKeyWithItsType) {
    const std::map<Page, std::map<std::string, json::value_t>> expected{
        {Page::general, {{"liveActivity", json::value_t::boolean}, {"hoverDelay", json::value_t::number_float}}},
        {Page::notch,
         {{"hoverTabs", json::value_t::boolean},
          {"batteryNotices", json::value_t::boolean},
          {"headphoneNotices", json::value_t::boolean},
          {"displayChoice", json::value_t::string},
          {"pillMode", json::value_t::string},
          {"hiddenTabs", json::value_t::array}}},
        {Page::focus, {}}, // the lengths wait for a timer tab: disabled
        {Page::shortcuts, {{"hotkeysEnabled", json::value_t::boolean}}},
    };
    for (const auto& [page, keys] : expected) {
        const json previous = stored();
        for (const auto& item : previous.items()) Settings::shared().remove(QString::fromStdString(item.key()));
        open(page);
        QWidget* p = view->currentPage();
        // What a user can reach: a disabled control takes no input.
        for (Switch* sw : p->findChildren<Switch*>()) sw->click();
        for (SegmentedPicker* seg : p->findChildren<SegmentedPicker*>()) seg->segments().last()->click();
        for (PopUp* pop : p->findChildren<PopUp*>()) pop->activated(pop->count() - 1);
        for (Stepper* st : p->findChildren<Stepper*>())
            if (st->isEnabledTo(p)) st->stepUp();
        for (QSlider* sl : p->findChildren<QSlider*>()) sl->setValue(333);
        const json s = stored();
        for (const auto& [key, type] : keys) {
            ASSERT_TRUE(s.contains(key)) << SettingsView::rawValue(page).toStdString() << ": " << key;
            EXPECT_EQ(s[key].type(), type) << key << " = " << s[key].dump();
        }
        EXPECT_EQ(s.size(), keys.size()) << s.dump();
    }
}

TEST_F(SettingsWindowTest, HoverDelaySnapsToTheGridAndShowsTwoDecimals) {
    EXPECT_DOUBLE_EQ(GeneralPage::snapHoverDelay(0.333), 0.35);
    EXPECT_DOUBLE_EQ(GeneralPage::snapHoverDelay(0.125), 0.15); // halves away from zero
    EXPECT_DOUBLE_EQ(GeneralPage::snapHoverDelay(1.7), 1.0);
    EXPECT_DOUBLE_EQ(GeneralPage::snapHoverDelay(-1), 0.0);
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(GeneralPage::hoverDelayText(0.12), "0.12 s");
    EXPECT_EQ(GeneralPage::hoverDelayText(1), "1.00 s");
}

TEST_F(SettingsWindowTest, LaunchAtLoginSwitchEndsOnTheRealState) {
    open(Page::general);
    Switch* launch = view->currentPage()->findChildren<Switch*>().first();
    EXPECT_FALSE(launch->isChecked());
    login.failNext = true;
    launch->click();
    EXPECT_FALSE(launch->isChecked());
    EXPECT_EQ(login.calls, 1); // one attempt, no reset loop
    launch->click();
    EXPECT_TRUE(launch->isChecked());
    EXPECT_EQ(login.state, LoginItem::Status::enabled);
}

TEST_F(SettingsWindowTest, NotchPageMovesAndHidesTabsThroughTheModel) {
    open(Page::notch);
    auto* card = view->currentPage()->findChildren<Card*>().last();
    // Eight rows, seven dividers; the first up and last down arrows disabled.
    EXPECT_EQ(card->box()->dividerLines().size(), 7);
    QWidget* noteRow = view->currentPage()->findChild<QWidget*>("tab.note");
    ASSERT_NE(noteRow, nullptr);
    auto arrows = noteRow->findChildren<QAbstractButton*>();
    ASSERT_EQ(arrows.size(), 3); // up, down, switch
    EXPECT_TRUE(arrows[0]->isEnabled());
    EXPECT_FALSE(arrows[1]->isEnabled());
    arrows[0]->click();
    EXPECT_EQ(Settings::shared().stringList("tabOrder"),
              (QStringList{"home", "tasks", "agents", "transit", "clipboard", "timer", "note", "shelf"}));
    EXPECT_FALSE(Settings::shared().isStored("hiddenTabs"));
    // Hiding and showing again stores an empty list, not nothing.
    QCoreApplication::processEvents();
    auto* sw = view->currentPage()->findChild<QWidget*>("tab.home")->findChild<Switch*>();
    sw->click();
    EXPECT_EQ(model.hiddenTabs(), QSet<NotchModel::Tab>{NotchModel::Tab::home});
    QCoreApplication::processEvents();
    view->currentPage()->findChild<QWidget*>("tab.home")->findChild<Switch*>()->click();
    EXPECT_EQ(Settings::shared().stringList("hiddenTabs"), QStringList{});
}

TEST_F(SettingsWindowTest, ScrollsTheSectionToTheTopAfterTheDelayAndClearsTheTarget) {
    open(Page::notch);
    view->resize(SettingsView::width, SettingsView::height);
    QCoreApplication::processEvents();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    // The scroll itself runs under the default animation, or at once with reduced motion.
    for (const char* reduced : {"1", "0"}) {
        SCOPED_TRACE(reduced);
        const test::ReducedMotion motion(reduced);
        bar->setValue(0);
        nav.setScrollTarget(QStringLiteral("tab.note"));
        clock.advance(0.3);
        EXPECT_EQ(bar->value(), 0);
        clock.advance(0.06);
        QWidget* row = view->currentPage()->findChild<QWidget*>("tab.note");
        const int y = row->mapTo(view->currentPage(), QPoint()).y();
        EXPECT_GT(y, 0);
        EXPECT_FALSE(nav.scrollTarget().has_value());
        if (QByteArray(reduced) == "0") {
            EXPECT_LT(bar->value(), std::min(y, bar->maximum())) << "on its way, not there at once";
            ASSERT_TRUE(test::waitUntil([&] { return !test::moving(view.get()); }, 3000));
        }
        EXPECT_EQ(bar->value(), std::min(y, bar->maximum()));
    }

    // An id no element carries is still cleared; a view gone before the delay is not touched.
    nav.setScrollTarget(QStringLiteral("nowhere"));
    view.reset();
    clock.advance(1);
    EXPECT_EQ(nav.scrollTarget(), QStringLiteral("nowhere"));
}

TEST_F(SettingsWindowTest, LanguageChangeRedrawsSidebarAndRebuildsThePage) {
    L10n::shared().setLanguage(AppLanguage::en);
    open(Page::general);
    EXPECT_EQ(view->sidebarRows().first()->text(), "General");
    EXPECT_EQ(view->windowTitle(), "Lomex Settings");
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(view->sidebarRows().first()->text(), "Obecné");
    // The title bar too: a window left open never mixes the two languages.
    EXPECT_EQ(view->windowTitle(), "Nastavení Lomexu");
    EXPECT_EQ(view->setupEntry()->text(), "Průvodce nastavením…");
    ASSERT_TRUE(test::waitUntil([&] {
        auto* card = view->currentPage()->findChild<Card*>();
        return card && card->titleLabel()->text() == "JAZYK";
    }));
}

// The painted blocks: dividers follow the rows shown, the badge takes no room when not ok,
// and painted controls still tell a screen reader what they are.
TEST_F(SettingsWindowTest, BuildingBlocks) {
    Card card(QStringLiteral("Účty"));
    auto* a = card.add(new Row("a"));
    auto* b = card.add(new Row("b", "a detail that is long enough to wrap onto a second line in a narrow card"));
    auto* c = card.add(new Row("c"));
    card.resize(300, 400);
    card.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(card.titleLabel()->text(), "ÚČTY");
    auto lines = card.box()->dividerLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].x1(), 14);
    EXPECT_EQ(lines[0].y1(), b->geometry().top());
    c->hide();
    QCoreApplication::processEvents();
    EXPECT_EQ(card.box()->dividerLines().size(), 1);
    b->hide();
    QCoreApplication::processEvents();
    EXPECT_TRUE(card.box()->dividerLines().isEmpty());
    EXPECT_TRUE(a->isVisible());

    StatusBadge badge(false, "ok");
    EXPECT_TRUE(badge.isHidden());
    badge.setState(true, "Připojeno");
    EXPECT_FALSE(badge.isHidden());

    IconTile tile("gearshape.fill", Qt::gray, 44);
    EXPECT_DOUBLE_EQ(tile.cornerRadius(), 10.56);
    EXPECT_EQ(tile.glyphSize(), 22);

    ToggleRow toggle("Launch at login", {}, settingBool("liveActivity", true));
    QAccessibleInterface* acc = QAccessible::queryAccessibleInterface(toggle.toggle());
    ASSERT_NE(acc, nullptr);
    EXPECT_EQ(acc->text(QAccessible::Name), "Launch at login");
    EXPECT_TRUE(acc->state().checkable);
    EXPECT_TRUE(acc->state().checked);
    // A change made elsewhere shows at once.
    Settings::shared().setBool("liveActivity", false);
    EXPECT_FALSE(toggle.toggle()->isChecked());
}

namespace {

// Every control the keyboard can reach, named as a screen reader would read it; those without
// a name are listed by class and object name.
QStringList unnamedControls(QWidget* root) {
    QStringList out;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(root) || w->window() != root->window()) continue;
        if (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) || qobject_cast<QComboBox*>(w->parentWidget())) continue;
        QAccessibleInterface* acc = QAccessible::queryAccessibleInterface(w);
        if (!acc || acc->text(QAccessible::Name).trimmed().isEmpty())
            out << QString::fromLatin1(w->metaObject()->className()) + "#" + w->objectName();
    }
    return out;
}

} // namespace

TEST_F(SettingsWindowTest, EveryControlTheKeyboardReachesHasAName) {
    for (Page page : SettingsView::allPages()) {
        open(page);
        EXPECT_EQ(unnamedControls(view->currentPage()), QStringList()) << SettingsView::rawValue(page).toStdString();
    }
    EXPECT_EQ(unnamedControls(view.get()), QStringList());
}

// Arrows choose the neighbouring segment and a slider moves a whole step of its grid.
TEST_F(SettingsWindowTest, ArrowKeysMoveSegmentsAndTheDelaySlider) {
    SegmentedPicker picker({{"Always", "always"}, {"Activity", "activity"}, {"Never", "never"}},
                           settingString("pillMode", "always"));
    picker.show();
    QAbstractButton* first = picker.segments()[0];
    first->setFocus();
    QTest::keyClick(first, Qt::Key_Right);
    EXPECT_EQ(Settings::shared().stringValue("pillMode"), "activity");
    EXPECT_TRUE(picker.segments()[1]->isChecked());
    EXPECT_FALSE(first->isChecked());
    QTest::keyClick(picker.segments()[1], Qt::Key_Right);
    QTest::keyClick(picker.segments()[2], Qt::Key_Right); // the last stays
    EXPECT_EQ(Settings::shared().stringValue("pillMode"), "never");
    QTest::keyClick(picker.segments()[2], Qt::Key_Left);
    EXPECT_EQ(Settings::shared().stringValue("pillMode"), "activity");

    open(Page::general);
    auto* slider = view->currentPage()->findChild<QSlider*>();
    ASSERT_TRUE(slider);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(Settings::shared().doubleValue("hoverDelay"), 0.15);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(Settings::shared().doubleValue("hoverDelay"), 0.20);
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_DOUBLE_EQ(Settings::shared().doubleValue("hoverDelay"), 0.15);
    EXPECT_EQ(slider->value(), 150) << "the knob sits on the stored step";
}

// A switch reached with Tab shows where the focus is, on as well as off.
TEST_F(SettingsWindowTest, FocusRingShowsOnASwitchThatIsOn) {
    QWidget window;
    auto* sw = boundSwitch(settingBool("liveActivity", true), &window);
    sw->resize(sw->sizeHint());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const QPoint edge(sw->width() / 2, 1);
    const QColor plain = sw->grab().toImage().pixelColor(edge * sw->devicePixelRatioF());
    sw->setFocus(Qt::TabFocusReason);
    window.setAttribute(Qt::WA_KeyboardFocusChange);
    ASSERT_TRUE(sw->hasFocus());
    const QColor focused = sw->grab().toImage().pixelColor(edge * sw->devicePixelRatioF());
    const int distance = std::abs(plain.red() - focused.red()) + std::abs(plain.green() - focused.green()) +
                         std::abs(plain.blue() - focused.blue());
    EXPECT_GT(distance, 60) << plain.name().toStdString() << " vs " << focused.name().toStdString();
}

// Moving a tab or hiding it with the keyboard leaves the focus on the same control of that tab.
TEST_F(SettingsWindowTest, ReorderingTabsKeepsTheKeyboardOnTheMovedTab) {
    open(Page::notch);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto row = [&](const char* name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the old rows
        return view->currentPage()->findChild<QWidget*>(name);
    };
    QWidget* down = row("tab.home")->findChild<QWidget*>("down");
    ASSERT_TRUE(down);
    down->setFocus(Qt::TabFocusReason);
    QTest::keyClick(down, Qt::Key_Space);
    EXPECT_EQ(model.tabOrder().at(1), NotchModel::Tab::home);
    ASSERT_TRUE(QApplication::focusWidget());
    EXPECT_EQ(QApplication::focusWidget(), row("tab.home")->findChild<QWidget*>("down"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(model.tabOrder().at(2), NotchModel::Tab::home);

    QWidget* visible = row("tab.home")->findChild<QWidget*>("visible");
    visible->setFocus(Qt::TabFocusReason);
    QTest::keyClick(visible, Qt::Key_Space);
    EXPECT_TRUE(model.hiddenTabs().contains(NotchModel::Tab::home));
    EXPECT_EQ(QApplication::focusWidget(), row("tab.home")->findChild<QWidget*>("visible"));
}

// Choosing a language from the keyboard: the page is made again in the new language with the
// focus on the same tile.
TEST_F(SettingsWindowTest, LanguageChosenFromTheKeyboardKeepsTheFocusOnItsTile) {
    L10n::shared().setLanguage(AppLanguage::cs);
    open(Page::general);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QAbstractButton* english = nullptr;
    for (auto* b : view->currentPage()->findChildren<QAbstractButton*>())
        if (b->accessibleName() == "English") english = b;
    ASSERT_TRUE(english);
    english->setFocus(Qt::TabFocusReason);
    QTest::keyClick(english, Qt::Key_Space);
    EXPECT_EQ(L10n::shared().language(), AppLanguage::en);
    QWidget* old = view->currentPage();
    ASSERT_TRUE(test::waitUntil([&] { return view->currentPage() != old; }));
    QCoreApplication::processEvents();
    QWidget* focus = QApplication::focusWidget();
    ASSERT_TRUE(focus);
    EXPECT_TRUE(view->currentPage()->isAncestorOf(focus));
    EXPECT_EQ(focus->accessibleName(), "English");
}

// A setting that cannot be saved (the file made read-only) says so, naming the file, under the
// card the user just used, in the language of the window; the next save that works clears it.
TEST_F(SettingsWindowTest, AFailedSaveShowsWhereTheUserActed) {
    struct Case {
        Page page;
        AppLanguage language;
        const char* key; // of the control used
        std::function<void(QWidget*)> act;
        const char* start;
        const char* why; // the tooltip's words for a file made read-only
    };
    auto flip = [](QWidget* w) { static_cast<QAbstractButton*>(w)->click(); };
    const std::vector<Case> cases = {
        {Page::general, AppLanguage::en, "liveActivity", flip, "Not saved", "is read-only"},
        {Page::notch, AppLanguage::cs, "batteryNotices", flip, "Neuloženo", "je jen pro čtení"},
        {Page::focus, AppLanguage::en, "workMinutes", [](QWidget* w) { static_cast<QAbstractSpinBox*>(w)->stepUp(); }, "Not saved",
         "is read-only"},
        {Page::shortcuts, AppLanguage::cs, "hotkeysEnabled", flip, "Neuloženo", "je jen pro čtení"},
    };
    Settings::shared().setString("other", "x"); // the file exists
    const QString file = Settings::shared().filePath();
    for (const Case& c : cases) {
        SCOPED_TRACE(SettingsView::rawValue(c.page).toStdString());
        L10n::shared().setLanguage(c.language);
        open(c.page);
        QCoreApplication::processEvents(); // the page built anew in the new language
        QWidget* page = view->currentPage();
        QWidget* control = nullptr;
        for (QWidget* w : page->findChildren<QWidget*>())
            if (w->property(boundKeyProperty(c.key).constData()).toBool()) control = w;
        ASSERT_TRUE(control);
        QWidget* card = control;
        while (card->parentWidget() != page) card = card->parentWidget();

        QFile::setPermissions(file, QFile::ReadOwner);
        c.act(control);
        QCoreApplication::processEvents();
        auto* error = page->findChild<QLabel*>("saveError");
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->isVisible());
        EXPECT_TRUE(error->text().startsWith(QString::fromUtf8(c.start))) << error->text().toStdString();
        EXPECT_TRUE(error->text().contains(file)) << error->text().toStdString();
        EXPECT_TRUE(error->toolTip().contains(QString::fromUtf8(c.why))) << error->toolTip().toStdString();
        const int top = error->mapTo(page, QPoint()).y();
        EXPECT_GT(top, control->mapTo(page, QPoint()).y()) << "under the control used";
        EXPECT_LT(top, card->geometry().bottom() + 24) << "right under its card";

        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        c.act(control);
        EXPECT_FALSE(error->isVisible());
    }
}

// While saves keep failing (another writer retries every few seconds), the red line stays where
// it first appeared: it moved between the control used and wherever the focus was, shifting the
// page under the pointer.
TEST_F(SettingsWindowTest, TheNotSavedLineStaysWhereItFirstAppeared) {
    Settings::shared().setString("other", "x"); // the file exists
    const QString file = Settings::shared().filePath();
    open(Page::general);
    view->activateWindow();
    QCoreApplication::processEvents();
    QWidget* page = view->currentPage();
    QWidget* live = nullptr;
    for (QWidget* w : page->findChildren<QWidget*>())
        if (w->property(boundKeyProperty("liveActivity").constData()).toBool()) live = w;
    ASSERT_TRUE(live);
    QFile::setPermissions(file, QFile::ReadOwner);
    static_cast<QAbstractButton*>(live)->click();
    QCoreApplication::processEvents();
    auto* error = page->findChild<QLabel*>("saveError");
    ASSERT_TRUE(error && error->isVisible());
    const QWidget* holder = error->parentWidget();
    const int top = error->mapTo(page, QPoint()).y();
    QWidget* firstCard = page->findChildren<Card*>(QString(), Qt::FindDirectChildrenOnly).value(0);
    ASSERT_TRUE(firstCard);
    const int firstCardTop = firstCard->y();

    // The keyboard moves to the language tiles, and a writer elsewhere fails again and again.
    QWidget* tile = nullptr;
    for (auto* b : page->findChildren<QAbstractButton*>())
        if (b->accessibleName() == "English") tile = b;
    ASSERT_TRUE(tile);
    tile->setFocus(Qt::OtherFocusReason);
    for (int i = 0; i < 3; ++i) {
        Settings::shared().setString("note", QString::number(i));
        Settings::shared().setInt("unwatched", i);
        QCoreApplication::processEvents();
        EXPECT_EQ(error->parentWidget(), holder);
        EXPECT_EQ(error->mapTo(page, QPoint()).y(), top);
        EXPECT_EQ(firstCard->y(), firstCardTop) << "nothing above shifted";
        EXPECT_TRUE(error->isVisible());
    }
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
}

// Controls whose only effect is in a view this version lacks are disabled and say so with one
// badge each (one for a whole card); the rest act, and nothing promises a missing view.
TEST_F(SettingsWindowTest, ControlsForMissingViewsAreDisabledWithABadge) {
    model.setTabsWithPages({NotchModel::Tab::agents, NotchModel::Tab::transit, NotchModel::Tab::shelf,
                            NotchModel::Tab::note});
    struct Case {
        Page page;
        QStringList disabled, enabled;
        int badges;
    } cases[] = {
        {Page::notch,
         {"tab.home", "tab.tasks", "tab.clipboard", "tab.timer", "liveEqualizer"},
         {"tab.agents", "tab.transit", "tab.shelf", "tab.note"},
         5},
        {Page::focus, {"workMinutes", "breakMinutes"}, {}, 1},
        {Page::shortcuts, {"hotkeysEnabled"}, {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SettingsView::rawValue(c.page).toStdString());
        for (AppLanguage lang : {AppLanguage::en, AppLanguage::cs}) {
            L10n::shared().setLanguage(lang);
            view.reset();
            open(c.page);
            QCoreApplication::processEvents();
            QWidget* page = view->currentPage();
            auto controlsOf = [&](const QString& name) {
                QWidget* w = page->findChild<QWidget*>(name);
                EXPECT_NE(w, nullptr) << name.toStdString();
                QList<QWidget*> out;
                if (!w) return out;
                if (!name.startsWith("tab.")) return out << w;
                for (auto* b : w->findChildren<QAbstractButton*>()) out << b;
                return out;
            };
            for (const QString& name : c.disabled)
                for (QWidget* w : controlsOf(name)) EXPECT_FALSE(w->isEnabled()) << name.toStdString();
            for (const QString& name : c.enabled)
                for (QWidget* w : controlsOf(name)) {
                    if (w->objectName() == "visible") {
                        EXPECT_TRUE(w->isEnabled()) << name.toStdString();
                    }
                }
            const auto badges = page->findChildren<QLabel*>("notInVersion");
            EXPECT_EQ(badges.size(), c.badges);
            for (QLabel* b : badges)
                EXPECT_EQ(b->text(), lang == AppLanguage::en ? QString("Not in this version")
                                                             : QString::fromUtf8("V této verzi není"));
        }
    }
    // The keys listed are the ones grabbed: none for a palette or a clipboard tab that do not exist.
    open(Page::shortcuts);
    QStringList keys;
    for (QWidget* w : view->currentPage()->findChildren<QWidget*>())
        if (w->objectName() == "keys") keys << w->accessibleName();
    EXPECT_EQ(keys, QStringList{"Esc"});
}
