#include "feeds/FeedsTestSupport.h"
#include "core/L10n.h"
#include "feeds/UpdateChecker.h"
#include "platform/Workspace.h"
#include "settings/pages/AboutPage.h"
#include "FakeWorkspace.h"
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>

using namespace lomex;
using namespace lomex::test;

namespace {

class AboutPageTest : public FeedsTest {
protected:
    AboutPageTest() { Workspace::setCurrent(&workspace); }
    ~AboutPageTest() override { Workspace::setCurrent(nullptr); }

    void feed(const QByteArray& body) {
        endpoints::setOverride(endpoints::Service::update, QUrl(server.baseUrl() + "/update.json"));
        server.route("GET", "/update.json", json(body));
    }
    void checked(AboutPage& page) {
        clock.advance(60);
        const auto before = updates.lastCheck();
        page.findChild<QPushButton*>("check")->click();
        ASSERT_TRUE(waitUntil([&] { return updates.lastCheck() != before; }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    static QString text(const QWidget& page, const char* name) {
        auto* label = page.findChild<QLabel*>(name);
        return label ? label->text() : QString();
    }

    FakeWorkspace workspace;
    UpdateChecker updates{&clock};
};

} // namespace

TEST_F(AboutPageTest, VersionButtonsAndNotices) {
    int setups = 0;
    AboutPage page(&updates, [&] { ++setups; });
    EXPECT_EQ(text(page, "version"), "Version " LOMEX_VERSION);
    EXPECT_FALSE(page.updateSection()) << "no feed built in: the page ends with its buttons";
    EXPECT_FALSE(page.findChild<QPushButton*>("check"));

    page.findChild<QPushButton*>("setup")->click();
    EXPECT_EQ(setups, 1);
    page.findChild<QPushButton*>("web")->click();
    page.findChild<QPushButton*>("privacy")->click();
    page.findChild<QPushButton*>("notices")->click();
    ASSERT_EQ(workspace.opened.size(), 3);
    EXPECT_EQ(workspace.opened[0], AboutPage::webPage());
    EXPECT_EQ(workspace.opened[1], AboutPage::privacyPage());
    // The notices open from a real file with the bundled text.
    ASSERT_TRUE(workspace.opened[2].isLocalFile());
    QFile notices(workspace.opened[2].toLocalFile());
    ASSERT_TRUE(notices.open(QIODevice::ReadOnly));
    QFile bundled(":/THIRD_PARTY_NOTICES");
    ASSERT_TRUE(bundled.open(QIODevice::ReadOnly));
    EXPECT_EQ(notices.readAll(), bundled.readAll());
    EXPECT_TRUE(workspace.opened[2].path().endsWith(".md"));
}

TEST_F(AboutPageTest, UpdateStates) {
    feed(R"({"version":"0.0.1","url":"https://lomex.cz/dl"})");
    AboutPage page(&updates, {});
    ASSERT_TRUE(page.updateSection());
    EXPECT_TRUE(page.findChild<QPushButton*>("check"));
    EXPECT_TRUE(text(page, "upToDate").isEmpty()) << "no note before a check has finished";

    checked(page);
    const QString english = text(page, "upToDate");
    EXPECT_TRUE(english.startsWith("You're up to date (checked at ")) << english.toStdString();
    EXPECT_TRUE(english.contains("AM") || english.contains("PM")) << english.toStdString();
    L10n::shared().setLanguage(AppLanguage::cs);
    AboutPage czech(&updates, {});
    const QString note = text(czech, "upToDate");
    EXPECT_TRUE(note.startsWith("Máte nejnovější verzi (kontrola v ")) << note.toStdString();
    EXPECT_FALSE(note.contains("AM") || note.contains("PM"));

    // A newer release with English notes only: no notes in Czech.
    feed(R"({"version":"9.1","url":"https://lomex.cz/dl","notes_en":"<b>Faster</b>"})");
    checked(czech);
    EXPECT_EQ(text(czech, "headline"), "Je dostupná nová verze 9.1");
    EXPECT_FALSE(czech.findChild<QLabel*>("notes"));
    EXPECT_FALSE(czech.findChild<QPushButton*>("check"));
    EXPECT_TRUE(czech.findChild<QPushButton*>("download"));
    L10n::shared().setLanguage(AppLanguage::en);
    AboutPage english2(&updates, {});
    auto* notes = english2.findChild<QLabel*>("notes");
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->textFormat(), Qt::PlainText);
    EXPECT_EQ(notes->text(), "<b>Faster</b>");
}

// With no program for a link, the page says so under the links, naming what could not be
// opened, in the window's language; the next link that opens clears it.
TEST_F(AboutPageTest, ALinkNoProgramOpensIsReportedOnThePage) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::cs}) {
        L10n::shared().setLanguage(language);
        AboutPage page(&updates, [] {});
        page.show();
        EXPECT_FALSE(page.linkError()->isVisibleTo(&page));
        workspace.succeeds = false;
        page.findChild<QPushButton*>("privacy")->click();
        EXPECT_TRUE(page.linkError()->isVisibleTo(&page));
        EXPECT_EQ(page.linkError()->text(), L10n::shared().t("about.cannotOpen", {AboutPage::privacyPage().toString()}));
        EXPECT_NE(page.linkError()->text(), "about.cannotOpen");
        page.findChild<QPushButton*>("notices")->click();
        EXPECT_TRUE(page.linkError()->text().contains(workspace.opened.last().toLocalFile()));
        workspace.succeeds = true;
        page.findChild<QPushButton*>("web")->click();
        EXPECT_FALSE(page.linkError()->isVisibleTo(&page));
    }
}
