#include "QStringPrint.h"
#include "TestEnv.h"
#include "calendar/ContactsService.h"
#include "calendar/EventService.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "platform/ContactStore.h"
#include "FakeCalendarStore.h"
#include "platform/Workspace.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/pages/CalendarPage.h"
#include "FakeClock.h"
#include "FakeContactStore.h"
#include "FakeWorkspace.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

using namespace lomex;

namespace {

void drain() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class CalendarPageTest : public test::LomexTest {
protected:
    CalendarPageTest() {
        Settings::shared().registerLaunchDefaults();
        events.refresh();
    }
    std::unique_ptr<CalendarPage> page() {
        contacts.reload(false);
        return std::make_unique<CalendarPage>(&events, &contacts);
    }
    template <class W>
    static W* find(QWidget* page, const char* name) {
        return page->findChild<W*>(QString::fromLatin1(name));
    }
    static QStringList segmentTexts(QWidget* page) {
        QStringList out;
        for (QAbstractButton* b : find<SegmentedPicker>(page, "agendaDays")->segments()) out << b->text();
        return out;
    }
    static int checkedSegment(QWidget* page) {
        const auto segments = find<SegmentedPicker>(page, "agendaDays")->segments();
        for (int i = 0; i < segments.size(); ++i)
            if (segments[i]->isChecked()) return i;
        return -1;
    }

    FakeClock clock;
    FakeCalendarStore store;
    FakeContactStore contactStore;
    FakeWorkspace workspace;
    EventService events{&store, &clock, &Settings::shared(), &workspace};
    ContactsService contacts{&contactStore, &clock, &workspace};
};

TEST_F(CalendarPageTest, AccessRowsFollowTheServices) {
    store.access = false;
    store.grantOnRequest = false;
    contactStore.access = false;
    events.refresh();
    auto p = page();
    ASSERT_TRUE(find<QPushButton>(p.get(), "allowCalendar"));
    ASSERT_TRUE(find<QPushButton>(p.get(), "allowContacts"));
    EXPECT_EQ(find<QPushButton>(p.get(), "allowCalendar")->text(), "Allow");
    EXPECT_FALSE(find<Switch>(p.get(), "contactsOccasions"));

    find<QPushButton>(p.get(), "allowCalendar")->click();
    drain();
    EXPECT_EQ(store.accessRequests, 1);
    EXPECT_TRUE(find<QPushButton>(p.get(), "allowCalendar")); // refused: the button stays

    store.grantOnRequest = true;
    find<QPushButton>(p.get(), "allowCalendar")->click();
    drain();
    EXPECT_FALSE(find<QPushButton>(p.get(), "allowCalendar"));
    const auto badges = p->findChildren<StatusBadge*>();
    ASSERT_EQ(badges.size(), 1);
    EXPECT_TRUE(badges.first()->ok());
    EXPECT_EQ(badges.first()->text(), "Done");

    // Contacts: nothing of this version shows what access gives, so the row says so from the
    // start; once granted (in the wizard), the switch in its stored state (on by default).
    EXPECT_FALSE(find<QPushButton>(p.get(), "allowContacts")->isEnabled());
    EXPECT_TRUE(find<QPushButton>(p.get(), "allowContacts")->parentWidget()->findChild<QLabel*>("notInVersion"));
    contacts.requestAccess();
    drain();
    Switch* occasions = find<Switch>(p.get(), "contactsOccasions");
    ASSERT_TRUE(occasions);
    EXPECT_TRUE(occasions->isChecked());
    EXPECT_FALSE(Settings::shared().isStored("contactsOccasions"));
}

// The calendar row says which folder "Allow" makes and reads, that a sync tool's folder can be
// used instead, and opens the folder (or, before it exists, the nearest one that does).
TEST_F(CalendarPageTest, TheCalendarRowShowsItsFolderAndOpensIt) {
    Workspace::setCurrent(&workspace);
    for (AppLanguage language : {AppLanguage::en, AppLanguage::cs}) {
        L10n::shared().setLanguage(language);
        workspace.opened.clear();
        auto p = page();
        Row* row = nullptr;
        for (Row* r : p->findChildren<Row*>())
            if (r->titleLabel()->text() == L10n::shared().t("setup.cal.title")) row = r;
        ASSERT_TRUE(row);
        const QString detail = row->detailLabel()->text();
        EXPECT_TRUE(detail.contains("/fake/calendars")) << detail.toStdString();
        EXPECT_TRUE(detail.contains("LOMEX_CALENDAR_DIR"));
        EXPECT_TRUE(detail.contains("vdirsyncer") && detail.contains("khal"));
        auto* open = find<QPushButton>(p.get(), "openCalendarFolder");
        ASSERT_TRUE(open);
        EXPECT_EQ(open->text(), L10n::shared().t("calendar.openFolder"));
        open->click();
        ASSERT_EQ(workspace.opened.size(), 1);
        EXPECT_EQ(workspace.opened[0], QUrl::fromLocalFile("/")) << "/fake/calendars does not exist";
    }
    Workspace::setCurrent(nullptr);
}

TEST_F(CalendarPageTest, AgendaDaysSegmentsStoreAndRefreshOnlyOnChange) {
    auto p = page();
    EXPECT_EQ(segmentTexts(p.get()), (QStringList{"Today", "2 days", "3 days", "Week"}));
    EXPECT_EQ(checkedSegment(p.get()), 0);
    const int before = store.eventQueries;
    // Shown disabled while no view lists the agenda; the binding is what a later view uses.
    find<SegmentedPicker>(p.get(), "agendaDays")->setEnabled(true);
    auto segments = find<SegmentedPicker>(p.get(), "agendaDays")->segments();
    segments[3]->click();
    EXPECT_EQ(Settings::shared().intValue("agendaDays"), 7);
    EXPECT_EQ(store.eventQueries, before + 1);
    segments[3]->click(); // already chosen: nothing
    EXPECT_EQ(store.eventQueries, before + 1);
    segments[0]->click();
    EXPECT_EQ(Settings::shared().intValue("agendaDays"), 1);
    EXPECT_EQ(store.eventQueries, before + 2);

    // A range written elsewhere selects no segment until one is chosen.
    Settings::shared().setInt("agendaDays", 5);
    EXPECT_EQ(checkedSegment(p.get()), -1);
    segments[1]->click();
    EXPECT_EQ(Settings::shared().intValue("agendaDays"), 2);
    EXPECT_EQ(checkedSegment(p.get()), 1);
}

// No view of this version lists the agenda, name days or contacts' occasions: their controls
// are disabled with a badge and their stored values stay; the meeting lead still acts.
TEST_F(CalendarPageTest, ControlsForTheMissingAgendaAreDisabledWithABadge) {
    Settings::shared().setBool("showNameDays", false);
    auto p = page();
    for (const char* name : {"showNameDays", "agendaDays", "contactsOccasions"}) {
        QWidget* w = find<QWidget>(p.get(), name);
        ASSERT_TRUE(w) << name;
        EXPECT_FALSE(w->isEnabled()) << name;
    }
    EXPECT_FALSE(find<Switch>(p.get(), "showNameDays")->isChecked()) << "shows what is stored";
    EXPECT_TRUE(find<Stepper>(p.get(), "meetingLead")->isEnabled());
    const auto badges = p->findChildren<QLabel*>("notInVersion");
    EXPECT_EQ(badges.size(), 3) << "name days, the agenda range, contacts";
    for (QLabel* b : badges) EXPECT_EQ(b->text(), "Not in this version");
    find<SegmentedPicker>(p.get(), "agendaDays")->segments().last()->click();
    EXPECT_FALSE(Settings::shared().isStored("agendaDays"));
}

TEST_F(CalendarPageTest, CzechTextsAndTheMeetingLeadStepper) {
    Settings::shared().setString("language", "cs");
    L10n::resetShared();
    auto p = page();
    EXPECT_EQ(segmentTexts(p.get()), (QStringList{"Dnes", "2 dny", "3 dny", "Týden"}));
    auto* lead = find<Stepper>(p.get(), "meetingLead");
    ASSERT_TRUE(lead);
    EXPECT_EQ(lead->value(), 10);
    EXPECT_EQ(lead->text(), "10 min");
    EXPECT_EQ(lead->minimum(), 1);
    EXPECT_EQ(lead->maximum(), 60);
    lead->setValue(61);
    EXPECT_EQ(Settings::shared().intValue("meetingLead"), 60);
}

} // namespace

// Series the store leaves out are said on the page, with the file of the first, in the
// window's language; the line goes once the store shows them all again.
TEST_F(CalendarPageTest, SkippedSeriesAreSaidWithTheirFile) {
    auto p = page();
    EXPECT_EQ(find<Row>(p.get(), "skippedSeries"), nullptr);
    store.skipped = {3, QStringLiteral("/cal/prace/weird.ics")};
    events.refresh();
    drain();
    Row* row = find<Row>(p.get(), "skippedSeries");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->titleLabel()->text(), L10n::shared().t(QStringLiteral("calendar.skipped"), {3}));
    EXPECT_TRUE(row->detailLabel()->text().contains(QStringLiteral("/cal/prace/weird.ics")));
    EXPECT_EQ(row->detailLabel()->textFormat(), Qt::PlainText);
    store.skipped = {};
    events.refresh();
    drain();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(find<Row>(p.get(), "skippedSeries"), nullptr);
}
