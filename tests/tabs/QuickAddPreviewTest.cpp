#include "QStringPrint.h"
#include "TestEnv.h"
#include "calendar/Calendar.h"
#include "calendar/QuickAddParser.h"
#include "core/L10n.h"
#include "tabs/QuickAddPreview.h"

#include <QTimeZone>

namespace lomex {
namespace {

using Kind = QuickAddResult::Kind;

class QuickAddPreviewTest : public test::LomexTest {
protected:
    Calendar cal = *Calendar::withTimeZone("Europe/Prague");
    // Tuesday 8 December 2026, 14:30 in Prague.
    QDateTime now = at("2026-12-08 14:30");

    static QDateTime at(const char* local) {
        QDateTime d = QDateTime::fromString(QString::fromLatin1(local), "yyyy-MM-dd HH:mm");
        d.setTimeZone(QTimeZone("Europe/Prague"));
        return d;
    }
    QString describe(const QuickAddResult& r, AppLanguage language) {
        L10n::shared().setLanguage(language);
        // ICU puts a narrow no-break space before AM/PM; compare it as a plain blank.
        return QuickAddPreview::describe(r, L10n::shared(), now, cal).replace(QChar(0x202F), u' ');
    }
    static QuickAddResult result(Kind kind, std::optional<QDateTime> start = {}, std::optional<QDateTime> end = {},
                                 bool hasTime = false, int priority = 0, std::optional<QString> list = {}) {
        QuickAddResult r;
        r.title = "Never shown";
        r.kind = kind;
        r.start = start;
        r.end = end;
        r.hasTime = hasTime;
        r.priority = priority;
        r.listName = list;
        return r;
    }
};

TEST_F(QuickAddPreviewTest, KindWordAlone) {
    EXPECT_EQ(describe(result(Kind::reminder), AppLanguage::en), "Reminder");
    EXPECT_EQ(describe(result(Kind::reminder), AppLanguage::cs), QStringLiteral("Připomínka"));
    EXPECT_EQ(describe(result(Kind::event), AppLanguage::cs), QStringLiteral("Událost"));
}

TEST_F(QuickAddPreviewTest, TodayWithTimesInBothLanguages) {
    const auto r = result(Kind::event, at("2026-12-08 16:00"), at("2026-12-08 17:00"), true);
    EXPECT_EQ(describe(r, AppLanguage::en), QStringLiteral("Event · today 4:00 PM–5:00 PM"));
    EXPECT_EQ(describe(r, AppLanguage::cs), QStringLiteral("Událost · dnes 16:00–17:00"));
    // Without a time flag neither time is shown, though the end is set.
    auto allDay = r;
    allDay.hasTime = false;
    EXPECT_EQ(describe(allDay, AppLanguage::en), QStringLiteral("Event · today"));
    // A start time alone.
    auto open = r;
    open.end.reset();
    EXPECT_EQ(describe(open, AppLanguage::cs), QStringLiteral("Událost · dnes 16:00"));
}

TEST_F(QuickAddPreviewTest, TomorrowListAndPriorityInOrder) {
    const auto r = result(Kind::reminder, at("2026-12-09 00:00"), {}, false, 1, QStringLiteral("Práce"));
    EXPECT_EQ(describe(r, AppLanguage::cs), QStringLiteral("Připomínka · zítra · @Práce · !"));
    EXPECT_EQ(describe(r, AppLanguage::en), QStringLiteral("Reminder · tomorrow · @Práce · !"));
    // Late in the evening "tomorrow" is still judged by calendar days.
    now = at("2026-12-08 23:59");
    EXPECT_EQ(describe(r, AppLanguage::en), QStringLiteral("Reminder · tomorrow · @Práce · !"));
}

TEST_F(QuickAddPreviewTest, LaterDaysUseTheLocalesPatterns) {
    const auto r = result(Kind::event, at("2026-12-10 09:05"), at("2026-12-10 10:30"), true);
    EXPECT_TRUE(describe(r, AppLanguage::en).endsWith(QStringLiteral(" · Thu, Dec 10 9:05 AM–10:30 AM")));
    EXPECT_TRUE(describe(r, AppLanguage::cs).endsWith(QStringLiteral(" · čt 10. 12. 9:05–10:30")))
        << describe(r, AppLanguage::cs).toStdString();
    const auto past = result(Kind::reminder, at("2026-12-07 00:00"));
    EXPECT_TRUE(describe(past, AppLanguage::en).endsWith(QStringLiteral(" · Mon, Dec 7")));
    // Shown in the calendar's zone, not the process's.
    cal = *Calendar::withTimeZone("America/New_York");
    EXPECT_TRUE(describe(r, AppLanguage::en).endsWith(QStringLiteral(" · Thu, Dec 10 3:05 AM–4:30 AM")));
}

TEST_F(QuickAddPreviewTest, PriorityIsOneMarkWhateverItsValue) {
    for (int priority : {1, 5, 9}) {
        const QString text = describe(result(Kind::reminder, {}, {}, false, priority), AppLanguage::en);
        EXPECT_TRUE(text.endsWith(QStringLiteral(" · !"))) << text.toStdString();
        EXPECT_EQ(text.count(u'!'), 1);
    }
    EXPECT_EQ(describe(result(Kind::reminder), AppLanguage::en).count(QStringLiteral(" · ")), 0);
}

TEST_F(QuickAddPreviewTest, ParsedLineNeverShowsItsTitle) {
    const QuickAddResult r = QuickAddParser::parse("zítra v 10 porada s Petrem na hodinu", now, cal);
    const QString cs = describe(r, AppLanguage::cs);
    EXPECT_FALSE(cs.contains("Porada"));
    EXPECT_TRUE(cs.endsWith(QStringLiteral(" 10:00–11:00"))) << cs.toStdString();
    EXPECT_TRUE(describe(r, AppLanguage::en).endsWith(QStringLiteral(" 10:00 AM–11:00 AM")));
    EXPECT_EQ(QuickAddPreview::kindSymbol(Kind::event), "calendar");
    EXPECT_EQ(QuickAddPreview::kindSymbol(Kind::reminder), "checkmark.circle");
}

} // namespace
} // namespace lomex
