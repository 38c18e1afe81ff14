#include "SettingsWindowFixture.h"
#include "core/L10n.h"
#include "settings/SettingsPage.h"
#include "settings/SetupWizard.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include <QAbstractButton>
#include <QApplication>
#include <QWheelEvent>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <memory>

using namespace lomex;

namespace {

class SettingsFinishTest : public test::SettingsWindowFixture {
protected:
    void SetUp() override {
        SettingsWindowFixture::SetUp();
        L10n::shared().setLanguage(AppLanguage::en);
    }
    SettingsView& open(Page page, AppLanguage language = AppLanguage::en) {
        L10n::shared().setLanguage(language);
        return SettingsWindowFixture::open(page);
    }
    // How far a picture's pixels stand out from a ground of this lightness, summed.
    static long inkAgainst(const QImage& image, int ground) {
        long sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) sum += std::abs(image.pixelColor(x, y).lightness() - ground);
        return sum;
    }
    // The page's elements in layout order, those shown and with a height only.
    QList<QWidget*> elements() const {
        QList<QWidget*> out;
        QLayout* layout = view->currentPage()->layout();
        for (int i = 0; i < layout->count(); ++i)
            if (QWidget* w = layout->itemAt(i)->widget(); w && !w->isHidden() && w->height() > 0) out << w;
        return out;
    }
};

} // namespace

// The bar is thin, lies over the page's right margin and comes only when the page scrolls;
// the cards are as wide on a page that scrolls as on one that does not.
TEST_F(SettingsFinishTest, ScrollBarTakesNoWidthFromTheCards) {
    open(Page::focus);
    const int shortPageCard = view->currentPage()->findChild<Card*>()->width();
    auto* thin = view->scrollArea()->findChild<QScrollBar*>(QStringLiteral("thinScrollBar"));
    ASSERT_NE(thin, nullptr);
    EXPECT_FALSE(thin->isVisible()) << "nothing to scroll";

    open(Page::notch);
    ASSERT_GT(view->scrollArea()->verticalScrollBar()->maximum(), 0);
    Card* card = view->currentPage()->findChild<Card*>();
    EXPECT_EQ(card->width(), shortPageCard);
    EXPECT_EQ(view->scrollArea()->viewport()->width(), view->scrollArea()->width());
    EXPECT_TRUE(thin->isVisible());
    EXPECT_LE(thin->width(), 10);
    const int cardRight = card->mapTo(view->scrollArea(), QPoint(card->width(), 0)).x();
    EXPECT_GE(thin->geometry().left(), cardRight) << "the bar stays in the margin";
    EXPECT_GE(thin->geometry().right(), view->scrollArea()->width() - 6) << "at the right edge";
    EXPECT_GE(thin->height(), view->scrollArea()->height() - 6);

    // A scroll area that grows keeps the bar at its right edge, over its full height.
    QScrollArea area;
    auto* tall = new QWidget;
    tall->setMinimumHeight(2000);
    area.setWidget(tall);
    area.setWidgetResizable(true);
    thinScrollBar(&area);
    area.resize(100, 30);
    area.show();
    settle();
    area.resize(400, 300);
    settle();
    auto* grown = area.findChild<QScrollBar*>(QStringLiteral("thinScrollBar"));
    EXPECT_GE(grown->geometry().right(), 400 - 6);
    EXPECT_GE(grown->height(), 300 - 6);

    // It drives the page and follows it.
    thin->setValue(thin->maximum());
    EXPECT_EQ(view->scrollArea()->verticalScrollBar()->value(), view->scrollArea()->verticalScrollBar()->maximum());
    view->scrollArea()->verticalScrollBar()->setValue(0);
    EXPECT_EQ(thin->value(), 0);
}

// A section anchor takes no room: the card after it keeps the usual distance from the one
// before, and the anchor sits on that card's top edge.
TEST_F(SettingsFinishTest, SectionAnchorsTakeNoSpace) {
    for (auto [page, id] : {std::pair{Page::places, "pid"}, std::pair{Page::limits, "agents"}}) {
        SCOPED_TRACE(id);
        open(page);
        const QList<QWidget*> shown = elements();
        ASSERT_GE(shown.size(), 3);
        QWidget* anchor = static_cast<SettingsPage*>(view->currentPage())->anchor(QString::fromLatin1(id));
        ASSERT_NE(anchor, nullptr);
        bool found = false;
        for (int i = 1; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i]->y() - shown[i - 1]->geometry().bottom() - 1, 32) << "between elements " << i - 1 << " and " << i;
            if (shown[i]->y() == anchor->y()) found = true;
        }
        EXPECT_TRUE(found) << "the anchor marks the top of its section";
    }
}

// Every block button keeps the same room between its text and its border.
TEST_F(SettingsFinishTest, BlockButtonsShareOnePaddingInBothLanguages) {
    auto check = [](QPushButton* b) {
        ASSERT_NE(b, nullptr);
        if (b->text().isEmpty()) return; // a card without a button
        SCOPED_TRACE(b->text().toStdString());
        // Padding and a one-pixel border on each side, give or take the rounding of the text.
        const int room = b->sizeHint().width() - b->fontMetrics().horizontalAdvance(b->text());
        EXPECT_GE(room, 2 * (buttonPaddingX + 1));
        EXPECT_LE(room, 2 * (buttonPaddingX + 1) + 2);
        EXPECT_GE(b->sizeHint().height() - b->fontMetrics().height(), 2 * buttonPaddingY);
    };
    for (AppLanguage language : {AppLanguage::cs, AppLanguage::en}) {
        open(Page::about, language);
        for (const char* name : {"setup", "web", "privacy"})
            check(view->currentPage()->findChild<QPushButton*>(QLatin1String(name)));
        open(Page::clipboard, language);
        check(view->currentPage()->findChild<QPushButton*>(QStringLiteral("clip.delete")));
        open(Page::places, language);
        for (const char* name : {"getKey", "tryIdos"}) check(view->currentPage()->findChild<QPushButton*>(QLatin1String(name)));
        SetupWizardView wizard(services);
        for (StepCard* card : wizard.cards()) check(card->button());
        check(wizard.finishButton());
    }
}

// The knob shows the value that was stored, on the 0.05 s grid, during a drag and after it.
TEST_F(SettingsFinishTest, HoverDelayKnobFollowsTheStoredValue) {
    open(Page::general);
    auto* slider = view->currentPage()->findChild<QSlider*>();
    ASSERT_NE(slider, nullptr);
    for (int position : {437, 462, 12, 988}) {
        SCOPED_TRACE(position);
        slider->setSliderDown(true);
        slider->setSliderPosition(position);
        const double stored = Settings::shared().get(keys::hoverDelay);
        EXPECT_EQ(slider->value(), int(std::lround(stored * 1000)));
        EXPECT_EQ(slider->value() % 50, 0);
        slider->setSliderDown(false);
        EXPECT_EQ(slider->value(), int(std::lround(stored * 1000)));
    }
}

// The pill-mode row: the picker goes under the texts, so the title stays on one line and the
// detail reads as a short paragraph.
TEST_F(SettingsFinishTest, PillModeRowReadsNormallyInBothLanguages) {
    for (AppLanguage language : {AppLanguage::cs, AppLanguage::en}) {
        open(Page::notch, language);
        Row* pill = nullptr;
        for (Row* row : view->currentPage()->findChildren<Row*>())
            if (row->titleLabel()->text() == L10n::shared().t(QStringLiteral("display.pill"))) pill = row;
        ASSERT_NE(pill, nullptr);
        SCOPED_TRACE(pill->titleLabel()->text().toStdString());
        const int line = pill->titleLabel()->fontMetrics().lineSpacing();
        EXPECT_LT(pill->titleLabel()->height(), 2 * line) << "one line";
        EXPECT_LE(pill->detailLabel()->height(), 3 * pill->detailLabel()->fontMetrics().lineSpacing());
        EXPECT_GE(pill->trailing()->y(), pill->detailLabel()->geometry().bottom());
        EXPECT_EQ(pill->trailing()->width(), 230);
    }
}

// Wizard cards: the button is filled with the accent, and a done step shows the green
// circled check of the confirmations.
TEST_F(SettingsFinishTest, WizardCardsUseTheProminentButtonAndTheCheckBadge) {
    L10n::shared().setLanguage(AppLanguage::en);
    SetupWizardView wizard(services);
    wizard.show();
    settle();
    QPushButton* allow = nullptr;
    for (StepCard* card : wizard.cards())
        if (!allow && card->button()->isVisible()) allow = card->button();
    ASSERT_NE(allow, nullptr);
    const QColor fill = allow->grab().toImage().pixelColor(4, allow->height() / 2);
    const QColor accent = style::accent(allow);
    EXPECT_LT(std::abs(fill.red() - accent.red()) + std::abs(fill.green() - accent.green()) + std::abs(fill.blue() - accent.blue()), 30)
        << fill.name().toStdString() << " vs " << accent.name().toStdString();

    for (StepCard* card : wizard.cards()) {
        auto* badge = card->findChild<StatusBadge*>();
        ASSERT_NE(badge, nullptr);
        EXPECT_EQ(badge->isVisibleTo(card), card->showsDone());
        EXPECT_EQ(badge->text(), "Done");
    }
}

// The page change chosen in the sidebar runs under the spring: the old header and page fade
// out over the new ones and the highlight moves. A page opened from elsewhere, or any page with
// reduced motion, is there at once. Moving a tab glides the two rows; hiding one does not.
TEST_F(SettingsFinishTest, PageChangeAndTabMovesAnimateUnlessMotionIsReduced) {
    open(Page::general);
    for (const char* reduced : {"1", "0"}) {
        SCOPED_TRACE(reduced);
        const test::ReducedMotion motion(reduced);
        const bool animated = QByteArray(reduced) == "0";
        view->sidebarRows()[int(Page::notch)]->click();
        EXPECT_EQ(nav.page(), Page::notch);
        EXPECT_EQ(view->currentPage()->objectName(), "page.notch");
        EXPECT_EQ(test::moving(view.get()), animated);
        ASSERT_TRUE(test::waitUntil([&] { return !test::moving(view.get()); }, 3000));

        QWidget* note = view->currentPage()->findChild<QWidget*>("tab.note");
        const QPoint noteAt = note->pos();
        note->findChild<QAbstractButton*>("up")->click();
        settle();
        QWidget* moved = view->currentPage()->findChild<QWidget*>("tab.note");
        EXPECT_EQ(test::moving(view->currentPage()), animated);
        if (animated) {
            EXPECT_GT(moved->y(), noteAt.y() - moved->height() / 2) << "starts from its old place";
        }
        ASSERT_TRUE(test::waitUntil([&] { return !test::moving(view.get()); }, 3000));
        settle();
        EXPECT_LT(view->currentPage()->findChild<QWidget*>("tab.note")->y(), noteAt.y());
        view->currentPage()->findChild<QWidget*>("tab.home")->findChild<Switch*>()->click();
        EXPECT_FALSE(test::moving(view.get())) << "hiding is instant";
        model.setTabOrder(NotchModel::allTabs());
        model.setHiddenTabs({});

        nav.setPage(Page::general); // as openSettings does
        EXPECT_FALSE(test::moving(view.get()));
        settle();
    }
}

// Scrolling the page with the wheel while the pointer passes over a pop-up, a stepper or the
// delay slider scrolls the page and changes no setting; once the control has the keyboard
// focus, the wheel changes it as usual.
TEST_F(SettingsFinishTest, WheelOverAnUnfocusedControlScrollsThePageInstead) {
    struct Case {
        Page page;
        const char* type; // class of the control
        const char* key;
    } cases[] = {{Page::notch, "lomex::PopUp", "displayChoice"},
                 {Page::general, "QSlider", "hoverDelay"},
                 {Page::places, "lomex::Stepper", "walkMinutes"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        if (c.page == Page::places) Settings::shared().set(keys::leaveEnabled, true);
        open(c.page);
        settle();
        QWidget* control = nullptr;
        for (QWidget* w : view->currentPage()->findChildren<QWidget*>())
            if (w->inherits(c.type) && w->isVisible()) control = w;
        ASSERT_NE(control, nullptr);
        // An ignored turn goes on to the control's parents, up to the scroll area.
        auto turn = [&] {
            const QPoint at = control->rect().center();
            QWheelEvent wheel(at, control->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(control, &wheel);
            return wheel.isAccepted();
        };
        EXPECT_FALSE(turn()) << "left to the page";
        EXPECT_FALSE(Settings::shared().isStoredByName(QString::fromLatin1(c.key))) << "no setting changed";
        EXPECT_FALSE(control->hasFocus());

        QApplication::setActiveWindow(view.get());
        control->setFocus();
        ASSERT_TRUE(control->hasFocus());
        EXPECT_TRUE(turn());
        EXPECT_TRUE(Settings::shared().isStoredByName(QString::fromLatin1(c.key))) << "focused, it takes the wheel";
    }
}

// The first row's "up" and the last row's "down" do nothing: they look it, in light and dark.
TEST_F(SettingsFinishTest, DisabledTabArrowsLookDisabledInLightAndDark) {
    const QPalette original = QApplication::palette();
    // How far the glyph stands out from the button's ground.
    auto ink = [](QWidget* w) {
        const QImage image = w->grab().toImage();
        return inkAgainst(image, image.pixelColor(0, 0).lightness());
    };
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QPalette palette = original;
        palette.setColor(QPalette::Window, dark ? QColor(45, 45, 45) : QColor(240, 240, 240));
        palette.setColor(QPalette::WindowText, dark ? Qt::white : Qt::black);
        QApplication::setPalette(palette);
        view.reset();
        open(Page::notch);
        auto up = [this](const char* row) {
            return view->currentPage()->findChild<QWidget*>(row)->findChild<QAbstractButton*>("up");
        };
        QAbstractButton* off = up("tab.home");
        QAbstractButton* on = up("tab.tasks");
        ASSERT_TRUE(off && on);
        ASSERT_FALSE(off->isEnabled());
        EXPECT_LT(ink(off) * 2, ink(on));
    }
    view.reset();
    QApplication::setPalette(original);
}

// A disabled control still shows its value: the chosen segment of a disabled picker reads in
// both themes, and a disabled switch that is off stays visible on a light ground. The palettes
// have a disabled group of their own, as a desktop's do.
TEST_F(SettingsFinishTest, DisabledControlsShowTheirValueInLightAndDark) {
    const QPalette original = QApplication::palette();
    auto ink = [](QWidget* w) {
        return inkAgainst(w->grab().toImage(), w->parentWidget()->palette().color(QPalette::Window).lightness());
    };
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QPalette palette = QApplication::style()->standardPalette();
        if (dark) {
            palette.setColor(QPalette::Window, QColor(45, 45, 45));
            palette.setColor(QPalette::WindowText, Qt::white);
            palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(90, 90, 90));
        }
        QApplication::setPalette(palette);
        QWidget ground;
        ground.setAutoFillBackground(true);
        ground.resize(400, 100);
        auto* enabledSwitch = new Switch(&ground);
        auto* disabledSwitch = new Switch(&ground);
        disabledSwitch->move(50, 0);
        disabledSwitch->setEnabled(false);
        for (Switch* s : {enabledSwitch, disabledSwitch}) s->resize(s->sizeHint());
        const SegmentedPicker::Options options{{"Today", "1"}, {"Week", "7"}};
        static constexpr Key<QString> unusedPicker{"unusedPicker", "7"};
        auto* enabledPicker = new SegmentedPicker(options, setting(unusedPicker), &ground);
        auto* disabledPicker = new SegmentedPicker(options, setting(unusedPicker), &ground);
        enabledPicker->setGeometry(0, 30, 200, 28);
        disabledPicker->setGeometry(200, 30, 200, 28);
        disabledPicker->setEnabled(false);
        ground.show();
        QCoreApplication::processEvents();
        EXPECT_GT(ink(disabledSwitch) * 10, ink(enabledSwitch) * 6) << "an off switch keeps most of its outline";
        EXPECT_GT(ink(disabledPicker) * 10, ink(enabledPicker) * 4) << "the chosen value stays readable";
    }
    QApplication::setPalette(original);
}
