#include "TestEnv.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "device/ClipboardStore.h"
#include "platform/Clipboard.h"
#include "platform/PasteKeys.h"
#include "platform/RunningApps.h"
#include "settings/blocks/Blocks.h"
#include "settings/pages/ClipboardPage.h"
#include "FakeClipboard.h"
#include "FakeClock.h"
#include "FakePasteKeys.h"
#include "FakeRunningApps.h"
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QMenu>
#include <QToolButton>

using namespace lomex;

namespace {

class ClipboardPageTest : public test::LomexTest {
protected:
    void SetUp() override {
        entry("org.test.Zed.desktop", "Zed.app Editor");
        entry("org.test.Alpha.desktop", "alpha");
        entry("org.test.Beta.desktop", "Beta");
        store = std::make_unique<ClipboardStore>(&clock, &Settings::shared(), &clipboard, &apps, &keys,
                                                 home.file("clips"));
    }
    void entry(const QString& id, const QString& name) {
        home.write(".local/share/applications/" + id, ("[Desktop Entry]\nType=Application\nName=" + name + "\n").toUtf8());
    }
    std::unique_ptr<ClipboardPage> page() {
        auto p = std::make_unique<ClipboardPage>(store.get(), &keys, &apps);
        p->resize(700, 900);
        p->show();
        return p;
    }
    static QStringList lines(ClipboardPage& p) {
        QStringList ids;
        for (QWidget* w : p.excludedCard()->box()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (!w->objectName().isEmpty() && w->isVisible()) ids << w->objectName();
        return ids;
    }
    static RunningApplication app(const QString& id, qint64 pid = 100) { return {id, id, pid}; }

    FakeClock clock;
    FakeClipboard clipboard;
    FakeRunningApps apps;
    FakePasteKeys keys;
    std::unique_ptr<ClipboardStore> store;
};

} // namespace

TEST_F(ClipboardPageTest, TheXTestRowFollowsDirectPasteAndTrust) {
    Settings::shared().setBool("pasteDirectly", false);
    keys.isTrusted = false;
    auto p = page();
    EXPECT_FALSE(p->accessibilityRow()->isVisible()) << "with direct paste off: only the two switches";

    // Without XTEST nothing can be granted: the row says why, and offers no button that leads nowhere.
    Settings::shared().setBool("pasteDirectly", true);
    EXPECT_TRUE(p->accessibilityRow()->isVisible());
    EXPECT_TRUE(p->accessibilityRow()->findChildren<QPushButton*>().isEmpty());
    for (AppLanguage language : {AppLanguage::en, AppLanguage::cs}) {
        L10n::shared().setLanguage(language);
        auto shown = page();
        const QString detail = shown->accessibilityRow()->detailLabel()->text();
        EXPECT_EQ(detail, L10n::shared().t("setup.ax.unavailable"));
        EXPECT_TRUE(detail.contains("X11") && detail.contains("XTEST")) << detail.toStdString();
        auto* missing = qobject_cast<QLabel*>(shown->accessibilityRow()->trailing());
        ASSERT_NE(missing, nullptr);
        EXPECT_EQ(missing->text(), L10n::shared().t("settings.axMissing"));
        EXPECT_NE(missing->text(), "settings.axMissing");
    }

    keys.isTrusted = true;
    auto trusted = page();
    auto* badge = qobject_cast<StatusBadge*>(trusted->accessibilityRow()->trailing());
    ASSERT_NE(badge, nullptr);
    EXPECT_TRUE(badge->ok());
    EXPECT_TRUE(trusted->accessibilityRow()->detailLabel()->isHidden());
}

TEST_F(ClipboardPageTest, TrustIsReadAgainEachTimeThePageIsShown) {
    keys.isTrusted = false;
    auto p = page();
    EXPECT_FALSE(p->axTrusted());
    keys.isTrusted = true;
    p->hide();
    p->show();
    EXPECT_TRUE(p->axTrusted());
    EXPECT_NE(qobject_cast<StatusBadge*>(p->accessibilityRow()->trailing()), nullptr);
}

TEST_F(ClipboardPageTest, ExclusionListRoundTripsThroughTheSettingsAndTheMenu) {
    apps.apps = {app("org.test.Zed.desktop"), app("org.test.Beta.desktop"), app("org.test.Alpha.desktop")};
    auto p = page();
    int changes = 0;
    QObject::connect(store.get(), &ClipboardStore::changed, [&] { ++changes; });
    EXPECT_EQ(p->runningApps(), QStringList({"org.test.Beta.desktop", "org.test.Zed.desktop", "org.test.Alpha.desktop"}))
        << "plain string order of the names: upper case before lower case";

    p->addExcluded("org.test.Zed.desktop");
    p->addExcluded("org.test.Alpha.desktop");
    EXPECT_EQ(Settings::shared().stringList("clipExcluded"),
              QStringList({"org.test.Zed.desktop", "org.test.Alpha.desktop"}));
    EXPECT_EQ(changes, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(lines(*p), QStringList({"org.test.Zed.desktop", "org.test.Alpha.desktop"}));
    EXPECT_EQ(p->runningApps(), QStringList({"org.test.Beta.desktop"}));
    EXPECT_EQ(ClipboardPage::displayName("org.test.Zed.desktop"), "Zed.app Editor") << "nothing stripped";
    EXPECT_EQ(ClipboardPage::displayName("com.example.Gone.desktop"), "com.example.Gone.desktop");

    // A list written elsewhere with repeats loses every copy at once.
    Settings::shared().setStringList("clipExcluded", {"a.desktop", "org.test.Zed.desktop", "a.desktop"});
    p->removeExcluded("a.desktop");
    EXPECT_EQ(Settings::shared().stringList("clipExcluded"), QStringList({"org.test.Zed.desktop"}));
    p->removeExcluded("org.test.Zed.desktop");
    EXPECT_EQ(p->runningApps(), QStringList({"org.test.Beta.desktop", "org.test.Zed.desktop", "org.test.Alpha.desktop"}));

    // Not a list of strings: read as empty, replaced by the first edit.
    Settings::shared().setValue("clipExcluded", nlohmann::json{{"x", 1}});
    EXPECT_TRUE(ClipboardPage::excluded().isEmpty());
    p->addExcluded("org.test.Beta.desktop");
    EXPECT_EQ(Settings::shared().stringList("clipExcluded"), QStringList({"org.test.Beta.desktop"}));
}

TEST_F(ClipboardPageTest, TheMenuLeavesOutItselfUnknownIdsAndRepeats) {
    QGuiApplication::setDesktopFileName("org.test.Lomex");
    entry("org.test.Lomex.desktop", "Lomex");
    apps.apps = {app("org.test.Beta.desktop"), app("org.test.Beta.desktop", 101), app("org.test.Lomex.desktop"),
                 app("some-window-class"), app("org.test.Alpha.desktop", QCoreApplication::applicationPid())};
    auto p = page();
    EXPECT_EQ(p->runningApps(), QStringList({"org.test.Beta.desktop"}));
    QGuiApplication::setDesktopFileName({});
}

TEST_F(ClipboardPageTest, ClearRemovesUnpinnedClipsAtOnce) {
    store->start();
    ASSERT_TRUE(test::waitUntil([&] { return store->loaded(); }));
    for (const char* text : {"keep", "drop"}) {
        ClipboardContent c;
        c.text = text;
        clipboard.copy(c);
        clock.advance(ClipboardStore::pollSeconds);
        ASSERT_TRUE(test::waitUntil([&] { return !store->reading(); })); // read off the GUI thread
    }
    store->setPinned(store->clips().last().id, true);
    auto p = page();
    p->clearButton()->click();
    ASSERT_EQ(store->clips().size(), 1);
    EXPECT_EQ(store->clips()[0].text, "keep");
}

// With nothing to offer the menu still opens, with a line that says so, instead of a button
// that seems to do nothing.
TEST_F(ClipboardPageTest, AnEmptyAddMenuSaysThatNothingRunsThatCouldBeAdded) {
    apps.apps = {};
    auto p = page();
    auto* button = p->findChild<QToolButton*>("settings.addApp");
    ASSERT_NE(button, nullptr);
    ASSERT_NE(button->menu(), nullptr);
    Q_EMIT button->menu()->aboutToShow();
    const QList<QAction*> actions = button->menu()->actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_FALSE(actions.first()->isEnabled());
    EXPECT_EQ(actions.first()->text(), L10n::shared().t("settings.addApp.none"));

    apps.apps = {app("org.test.Beta.desktop")};
    Q_EMIT button->menu()->aboutToShow();
    ASSERT_EQ(button->menu()->actions().size(), 1);
    EXPECT_TRUE(button->menu()->actions().first()->isEnabled());
}

// Every ignored app's row shows an icon that can be seen: one that draws a few faint pixels
// (XTerm's "mini.xterm", a text-only drawing), a broken file or none gives way to the generic
// application symbol; a real drawing is shown as it is.
TEST_F(ClipboardPageTest, EveryIgnoredAppShowsAnIcon) {
    const QString broken = home.write("broken.png", "not a picture");
    // A drawing like mini.xterm.svg: one small line of text in a large canvas.
    const QString faint = home.write("faint.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48">)"
                                                  R"(<text x="20" y="40" font-size="3" fill="#000" opacity="0.5">xterm</text></svg>)");
    const QString solid = home.write("solid.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48">)"
                                                  R"(<rect x="4" y="4" width="40" height="40" rx="8" fill="#2a7"/></svg>)");
    QPixmap sample(22, 22);
    sample.fill(Qt::transparent);
    EXPECT_LT(ClipboardPage::iconCoverage(QIcon(faint).pixmap(22, 22)), ClipboardPage::minIconCoverage);
    EXPECT_EQ(ClipboardPage::iconCoverage(sample), 0);
    EXPECT_GT(ClipboardPage::iconCoverage(QIcon(solid).pixmap(22, 22)), 0.5);
    const struct {
        const char* id;
        QString icon;
        bool own; // its own drawing is shown, not the generic symbol
    } cases[] = {{"org.test.Mini.desktop", "mini.xterm", false}, {"org.test.Faint.desktop", faint, false},
                 {"org.test.Broken.desktop", broken, false}, {"org.test.None.desktop", "", false},
                 {"org.test.Solid.desktop", solid, true}};
    QStringList ids;
    for (const auto& c : cases) {
        home.write(QString(".local/share/applications/") + c.id,
                   ("[Desktop Entry]\nType=Application\nName=X\nIcon=" + c.icon + "\n").toUtf8());
        ids << c.id;
    }
    Settings::shared().setStringList("clipExcluded", ids);
    auto p = page();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        QWidget* row = p->excludedCard()->box()->findChild<QWidget*>(c.id);
        ASSERT_TRUE(row);
        bool shown = false;
        QPixmap drawn;
        for (QLabel* label : row->findChildren<QLabel*>())
            if (!label->pixmap().isNull()) {
                drawn = label->pixmap();
                shown = shown || ClipboardPage::iconCoverage(drawn) >= ClipboardPage::minIconCoverage;
            }
        EXPECT_TRUE(shown) << "coverage " << ClipboardPage::iconCoverage(drawn);
        // The generic symbol is drawn at 16 in the secondary colour; an own icon fills the frame.
        EXPECT_EQ(drawn.deviceIndependentSize().width() > 16, c.own) << drawn.deviceIndependentSize().width();
    }
}
