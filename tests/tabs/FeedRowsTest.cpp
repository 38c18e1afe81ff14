#include "QStringPrint.h"
#include "TestEnv.h"
#include "calendar/Calendar.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "platform/Workspace.h"
#include "tabs/FeedRows.h"
#include "ui/ElidedLabel.h"
#include "FakeWorkspace.h"
#include <QLabel>
#include <QMouseEvent>
#include <QTimeZone>
#include <QtTest/QTest>

using namespace lomex;
using Departure = TransitService::Departure;

namespace {

// The rows use the user's calendar, so the test's times are in the local zone too.
const QDateTime kNow(QDate(2026, 3, 2), QTime(23, 50));

Departure departure(int secondsAhead, const QString& line = "9", int routeType = 0) {
    Departure d;
    d.id = QUuid::createUuid();
    d.line = line;
    d.routeType = routeType;
    d.headsign = "Sídliště Řepy";
    d.time = kNow.addSecs(secondsAhead);
    return d;
}

class FeedRowsTest : public test::LomexTest {
protected:
    FeedRowsTest() { Settings::shared().set(keys::language, "en"); L10n::resetShared(); }
    Calendar local = Calendar::current();
};

} // namespace

TEST_F(FeedRowsTest, TimeLeftRoundsDownAndTurnsOrangeFromTwoMinutes) {
    struct Case {
        int seconds;
        bool cancelled;
        int minutes;
        QString text;
        bool orange;
    };
    const Case cases[] = {
        {0, false, 0, "now", true},          {59, false, 0, "now", true},
        {-30, false, -1, "now", true},       {60, false, 1, "1 min", true},
        {179, false, 2, "2 min", true},      {180, false, 3, "3 min", false},
        {59 * 60 + 59, false, 59, "59 min", false},
        {3600, false, 60, "12:50 AM", false}, // from an hour on, the clock time
        {600, true, 10, "cancelled", false}, {120, true, 2, "cancelled", true},
    };
    for (const Case& c : cases) {
        Departure d = departure(c.seconds);
        d.cancelled = c.cancelled;
        EXPECT_EQ(DepartureRow::minutesUntil(kNow, d.time), c.minutes) << c.seconds;
        const QString text = DepartureRow::timeLeftText(d, kNow, L10n::shared(), local);
        EXPECT_EQ(QString(text).replace(u'\u202F', u' '), c.text) << c.seconds;
        EXPECT_EQ(DepartureRow::timeLeftColor(c.minutes) == notchcolor::orange(), c.orange) << c.seconds;
    }
}

TEST_F(FeedRowsTest, BadgeColoursByRouteTypeNightAndMetroLine) {
    struct Case {
        const char* name;
        QString line;
        int type;
        bool night;
        std::optional<QColor> custom, customText;
        QColor fill, text;
    };
    auto rgb = [](double r, double g, double b) { return QColor::fromRgbF(float(r), float(g), float(b)); };
    const Case cases[] = {
        {"tram", "9", 0, false, {}, {}, rgb(0.48, 0.02, 0.01), Qt::white},
        {"metro A", "A", 1, false, {}, {}, rgb(0, 0.65, 0.38), Qt::white},
        {"metro B", "B", 1, false, {}, {}, rgb(0.97, 0.7, 0.13), Qt::black},
        {"metro C", "C", 1, false, {}, {}, rgb(0.81, 0, 0.24), Qt::white},
        {"bus named B", "B", 3, false, {}, {}, rgb(0, 0.49, 0.66), Qt::white},
        {"train", "S9", 2, false, {}, {}, rgb(0.15, 0.12, 0.38), Qt::white},
        {"ferry", "P2", 4, false, {}, {}, rgb(0, 0.7, 0.8), Qt::white},
        {"night tram", "98", 0, true, {}, {}, rgb(0.25, 0.25, 0.25), Qt::white},
        {"own colours win", "B", 1, true, QColor("#8B1A4A"), QColor("#FFEE00"), QColor("#8B1A4A"), QColor("#FFEE00")},
    };
    for (const Case& c : cases) {
        Departure d = departure(300, c.line, c.type);
        d.isNight = c.night;
        d.customColor = c.custom;
        d.customTextColor = c.customText;
        EXPECT_EQ(d.color(), c.fill) << c.name;
        EXPECT_EQ(d.color().alpha(), 255) << c.name;
        EXPECT_EQ(d.textColor(), c.text) << c.name;
    }
}

TEST_F(FeedRowsTest, DetailLineShowsOnlyWhatIsThere) {
    Departure d = departure(20 * 60); // 00:10 the next day
    d.platform = "";
    d.delayMinutes = 0;
    DepartureRow plain(d, kNow);
    EXPECT_EQ(plain.label("weekday")->text(), "Tue") << "after midnight the day is named";
    EXPECT_EQ(plain.label("platform"), nullptr);
    EXPECT_EQ(plain.label("delay"), nullptr);
    EXPECT_EQ(plain.label("live"), nullptr);

    d = departure(5 * 60);
    d.platform = "B";
    d.delayMinutes = 2;
    d.realTime = true;
    d.headsign = "<b>Řepy</b>";
    DepartureRow full(d, kNow);
    EXPECT_EQ(full.label("weekday"), nullptr);
    EXPECT_EQ(full.label("platform")->text(), "\u00B7 plat. B");
    EXPECT_EQ(full.label("delay")->text(), "+2 min");
    EXPECT_EQ(full.label("live")->toolTip(), "Live vehicle data");
    EXPECT_EQ(full.label("headsign")->textFormat(), Qt::PlainText);
    EXPECT_EQ(full.label("headsign")->text(), "<b>Řepy</b>");
}

TEST_F(FeedRowsTest, WarningLevelsTooltipAndTap) {
    EXPECT_EQ(WarningLine::levelColor(2), notchcolor::yellow());
    EXPECT_EQ(WarningLine::levelColor(3), notchcolor::orange());
    EXPECT_EQ(WarningLine::levelColor(4), notchcolor::red());
    EXPECT_EQ(WarningLine::levelColor(5), notchcolor::red());

    WeatherService::Warning w;
    w.event = "Silný vítr";
    w.level = 2;
    w.area = "Jihomoravský kraj";
    EXPECT_EQ(WarningLine::tooltipText(w), "Jihomoravský kraj");
    w.area.clear();
    EXPECT_EQ(WarningLine::tooltipText(w), "");
    w.area = "A";
    w.description = "<img src=x>";
    w.instruction = "C";
    EXPECT_EQ(WarningLine::tooltipText(w), "A\n\n<img src=x>\n\nC");

    WarningLine bare(WeatherService::Warning{QUuid(), "Vítr", 2, {}, {}, {}, {}, {}}, 0);
    EXPECT_EQ(bare.label("until"), nullptr);
    EXPECT_EQ(bare.label("more"), nullptr);

    w.expires = QDateTime(QDate(2026, 3, 3), QTime(21, 0));
    WarningLine line(w, 2);
    EXPECT_EQ(line.label("event")->text(), "Silný vítr");
    EXPECT_EQ(line.label("more")->text(), "+2");
    EXPECT_TRUE(line.label("until")->text().startsWith("until Tue")) << line.label("until")->text().toStdString();
    // The feed's text reaches the tooltip escaped, never as markup.
    EXPECT_TRUE(line.toolTip().contains("&lt;img src=x&gt;"));
    EXPECT_FALSE(line.toolTip().contains("<img"));

    FakeWorkspace workspace;
    Workspace::setCurrent(&workspace);
    line.resize(200, 20);
    QTest::mouseClick(&line, Qt::LeftButton);
    Workspace::setCurrent(nullptr);
    ASSERT_EQ(workspace.opened.size(), 1);
    EXPECT_EQ(workspace.opened[0], WarningLine::warningsPage());
}

// On a wide line the parts follow one another: "until …" right after the name, "+N" right
// after that, and the spare width stays at the end; a narrow line still shows every part.
TEST_F(FeedRowsTest, WarningLinePartsFollowTheNameAndLeaveTheSpareWidthAtTheEnd) {
    WeatherService::Warning w{QUuid(), "Silný vítr", 3, {}, {}, {}, {}, {}};
    w.expires = QDateTime(QDate(2026, 3, 3), QTime(21, 0));
    for (int width : {460, 220}) {
        SCOPED_TRACE(width);
        WarningLine line(w, 2);
        line.resize(width, 20);
        line.show();
        QCoreApplication::processEvents();
        const QRect event = line.label("event")->geometry(), until = line.label("until")->geometry(),
                    more = line.label("more")->geometry();
        EXPECT_LE(until.left() - event.right(), 7);
        EXPECT_LE(more.left() - until.right(), 7);
        EXPECT_LE(more.right(), width);
        if (width == 460) {
            EXPECT_EQ(event.width(), line.label("event")->sizeHint().width());
            EXPECT_GT(width - more.right(), 150) << "the spare width is after the last part";
        }
    }
}

// One-line texts from the feeds end in "…" at a whole letter when the row is too narrow.
TEST_F(FeedRowsTest, LongHeadsignAndWarningEndInAnEllipsis) {
    Departure d = departure(300);
    d.headsign = "Nádraží Holešovice přes Palmovka, Vysočanská a Českomoravská";
    DepartureRow row(d, kNow);
    WeatherService::Warning w{QUuid(), "Velmi silný vítr s nárazy přes 90 km/h ve vyšších polohách", 3, {}, {}, {}, {}, {}};
    WarningLine warning(w, 0);
    const struct {
        QWidget* view;
        QLabel* label;
        QString text;
    } cases[] = {{&row, row.label("headsign"), d.headsign}, {&warning, warning.label("event"), w.event}};
    for (const auto& c : cases) {
        c.view->resize(170, 40);
        c.view->show();
        QCoreApplication::processEvents();
        auto* line = qobject_cast<ElidedLabel*>(c.label);
        ASSERT_NE(line, nullptr) << c.text.toStdString();
        EXPECT_EQ(line->text(), c.text);
        EXPECT_TRUE(line->shownText().endsWith(QChar(0x2026))) << line->shownText().toStdString();
        EXPECT_LE(line->fontMetrics().horizontalAdvance(line->shownText()), line->contentsRect().width());
        EXPECT_LE(line->geometry().right(), c.view->width());
    }
}
