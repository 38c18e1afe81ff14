#include "TestEnv.h"
#include "notch/NotchModel.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "notch/CollapsedView.h"
#include "notch/ExpandedView.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchRootView.h"
#include "notch/NotchShape.h"
#include "notch/NotchTabBar.h"
#include "ui/Symbols.h"
#include "FakeClock.h"
#include <QAbstractButton>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <memory>

using namespace lomex;
using Tab = NotchModel::Tab;

namespace {

class NotchSurfaceTest : public test::LomexTest {
protected:
    void SetUp() override {
        Settings::shared().registerLaunchDefaults();
        model = std::make_unique<NotchModel>(&clock, &Settings::shared());
        model->configure(QRect(0, 0, 1920, 1080));
        Services s;
        s.model = model.get();
        s.l10n = &L10n::shared();
        root = std::make_unique<NotchRootView>(s);
        root->resize(724, 306);
    }
    void TearDown() override {
        root.reset();
        model.reset();
    }
    QList<Tab> barTabs() const {
        QList<Tab> out;
        for (auto* b : root->expandedView()->tabBar()->buttons()) out << b->tab();
        return out;
    }
    static void hover(QWidget* w, bool inside) {
        if (inside) {
            QEnterEvent e(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
            QCoreApplication::sendEvent(w, &e);
        } else {
            QEvent e(QEvent::Leave);
            QCoreApplication::sendEvent(w, &e);
        }
    }

    FakeClock clock;
    std::unique_ptr<NotchModel> model;
    std::unique_ptr<NotchRootView> root;
};

} // namespace

TEST_F(NotchSurfaceTest, ShapesFollowTheModel) {
    const QRect closed = notchshape::collapsedRect(*model);
    EXPECT_EQ(closed.size(), QSize(model->collapsedWidth(), model->notchSize().height()));
    EXPECT_EQ(closed.center().x(), 724 / 2 - (closed.width() % 2 == 0 ? 1 : 0));
    model->setLive(NotchModel::Live::media);
    EXPECT_GT(notchshape::collapsedRect(*model).width(), closed.width()); // room for the sides
    EXPECT_EQ(notchshape::expandedRect(*model), QRect(0, 0, 724, 284));

    const QRegion r = notchshape::region(QRect(0, 0, 100, 40), 10);
    EXPECT_TRUE(r.contains(QPoint(0, 0)));
    EXPECT_TRUE(r.contains(QPoint(99, 29)));
    EXPECT_FALSE(r.contains(QPoint(0, 39)));
    EXPECT_FALSE(r.contains(QPoint(99, 39)));
    EXPECT_TRUE(r.contains(QPoint(50, 39)));
    EXPECT_TRUE(notchshape::region(QRect(), 10).isEmpty());
}

TEST_F(NotchSurfaceTest, CollapsedAndExpandedViewsSwapWithTheOpenState) {
    root->show();
    EXPECT_TRUE(root->collapsedView()->isVisible());
    EXPECT_FALSE(root->expandedView()->isVisible());
    model->open(Tab::home);
    EXPECT_FALSE(root->collapsedView()->isVisible());
    EXPECT_TRUE(root->expandedView()->isVisible());
    EXPECT_EQ(root->expandedView()->geometry(), QRect(0, 0, 724, 284));

    // The black body is painted where the shape is, nothing beside the pill when closed.
    QImage open = root->grab().toImage();
    EXPECT_EQ(QColor(open.pixel(5, 200)), QColor(Qt::black));
    model->close();
    QImage img = root->grab().toImage();
    const QRect pill = notchshape::collapsedRect(*model);
    EXPECT_EQ(QColor(img.pixel(pill.center())), QColor(Qt::black));
    EXPECT_NE(QColor(img.pixel(5, 200)), QColor(Qt::black));
}

TEST_F(NotchSurfaceTest, TabBarShowsVisibleTabsInOrder) {
    EXPECT_EQ(barTabs(), NotchModel::allTabs());
    model->setHiddenTabs({Tab::tasks, Tab::note});
    EXPECT_EQ(barTabs(), (QList<Tab>{Tab::home, Tab::agents, Tab::transit, Tab::clipboard, Tab::timer, Tab::shelf}));
    model->setTabOrder({Tab::shelf, Tab::home});
    EXPECT_EQ(barTabs().first(), Tab::shelf);
    model->setHiddenTabs(QSet<Tab>(NotchModel::allTabs().begin(), NotchModel::allTabs().end()));
    EXPECT_EQ(barTabs(), QList<Tab>{Tab::home});
}

TEST_F(NotchSurfaceTest, HoveringATabSwitchesAfterTheDelayClickSwitchesAtOnce) {
    model->open(Tab::home);
    auto buttons = root->expandedView()->tabBar()->buttons();
    NotchTabButton* timer = nullptr;
    NotchTabButton* shelf = nullptr;
    for (auto* b : buttons) {
        if (b->tab() == Tab::timer) timer = b;
        if (b->tab() == Tab::shelf) shelf = b;
    }
    ASSERT_TRUE(timer && shelf);
    hover(timer, true);
    clock.advance(0.1);
    EXPECT_EQ(model->tab(), Tab::home);
    clock.advance(0.1);
    EXPECT_EQ(model->tab(), Tab::timer);
    EXPECT_TRUE(timer->isSelected());
    EXPECT_EQ(root->pages()->shownTab(), Tab::timer);

    // Passing over a tab without resting does not switch.
    hover(timer, false);
    hover(shelf, true);
    clock.advance(0.05);
    hover(shelf, false);
    clock.advance(0.5);
    EXPECT_EQ(model->tab(), Tab::timer);

    shelf->click();
    EXPECT_EQ(model->tab(), Tab::shelf);

    Settings::shared().set(keys::hoverTabs, false);
    hover(timer, true);
    clock.advance(1);
    EXPECT_EQ(model->tab(), Tab::shelf);
}

TEST_F(NotchSurfaceTest, PageHostShowsRegisteredPagesElsePlaceholders) {
    NotchPageHost* pages = root->pages();
    pages->showTab(Tab::note);
    QWidget* placeholder = pages->currentWidget();
    ASSERT_NE(placeholder, nullptr);
    auto* name = placeholder->findChild<QLabel*>("name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), L10n::shared().t("tab.note"));

    auto* page = new QLabel("note page");
    pages->setPage(Tab::note, page);
    EXPECT_EQ(pages->currentWidget(), page);
    QPointer<QWidget> old(page);
    auto* replacement = new QLabel("newer");
    pages->setPage(Tab::note, replacement);
    EXPECT_EQ(pages->currentWidget(), replacement);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(old.isNull());

    model->open(Tab::tasks);
    EXPECT_NE(pages->currentWidget(), replacement);
    model->open(Tab::note);
    EXPECT_EQ(pages->currentWidget(), replacement);
}

namespace {
QStringList qtWarnings;
void keepWarning(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg) qtWarnings << text;
}
} // namespace

TEST_F(NotchSurfaceTest, ToastLineAndGearButton) {
    // Without a toast the line is hidden, never sized from an empty text (Qt warns of a negative size).
    qtWarnings.clear();
    const QtMessageHandler before = qInstallMessageHandler(keepWarning);
    root->show();
    model->open(Tab::home);
    QLabel* toast = root->expandedView()->toastLine();
    EXPECT_FALSE(toast->isVisible());
    model->show(QStringLiteral("<b>Claude</b> finished"), 3);
    EXPECT_TRUE(toast->isVisible());
    EXPECT_EQ(toast->textFormat(), Qt::PlainText);
    EXPECT_EQ(toast->text(), "<b>Claude</b> finished");
    clock.advance(3.1);
    EXPECT_FALSE(toast->isVisible());
    qInstallMessageHandler(before);
    EXPECT_TRUE(qtWarnings.filter("Negative sizes").isEmpty()) << qtWarnings.join('\n').toStdString();

    // A toast longer than the panel wraps inside it, whole, below the page: the page's last
    // row stays in view.
    const QString longToast = QStringLiteral("Claude Code in lomex-with-a-rather-long-project-name finished "
                                             "its turn and would like you to look at what it did before lunch, "
                                             "and then perhaps at the tests it added");
    model->show(longToast, 3);
    root->expandedView()->layout()->activate();
    EXPECT_TRUE(root->expandedView()->rect().contains(toast->geometry()))
        << toast->geometry().x() << "+" << toast->geometry().width();
    EXPECT_EQ(toast->text(), longToast);
    EXPECT_GE(toast->height(), 2 * toast->fontMetrics().height()) << "wrapped";
    EXPECT_LE(toast->heightForWidth(toast->width()), toast->height());
    EXPECT_LE(root->expandedView()->pages()->geometry().bottom(), toast->geometry().top());

    int settings = 0;
    root->setOnSettings([&] { ++settings; });
    root->expandedView()->tabBar()->gearButton()->click();
    EXPECT_EQ(settings, 1);
}

TEST_F(NotchSurfaceTest, CollapsedSidesShowTheLiveActivity) {
    CollapsedView* c = root->collapsedView();
    EXPECT_TRUE(c->leftSymbol().isEmpty());
    model->setLive(NotchModel::Live::timer);
    EXPECT_EQ(c->leftSymbol(), "timer");
    model->show(Notice::device("AirPods", "airpods", {{"L", 80}, {"R", 35}, {"C", 90}}));
    model->setLive(NotchModel::Live::notice);
    EXPECT_EQ(c->leftSymbol(), "airpods");
    EXPECT_EQ(c->rightText(), "35%");
    model->show(Notice::lowBattery(9));
    EXPECT_EQ(c->rightText(), "9%");
}

// The pill's own symbols are bundled (a device notice brings its own name).
TEST_F(NotchSurfaceTest, CollapsedSymbolsAreBundled) {
    CollapsedView* c = root->collapsedView();
    using Live = NotchModel::Live;
    for (Live live : {Live::media, Live::timer, Live::meeting, Live::leave, Live::agent}) {
        model->setLive(live);
        EXPECT_TRUE(symbols::hasSymbol(c->leftSymbol())) << NotchModel::rawName(live).toStdString();
    }
    model->setLive(Live::notice);
    for (const Notice& n : {Notice::charging(80), Notice::lowBattery(9), Notice::device("Headset", {}, {})}) {
        model->show(n);
        EXPECT_TRUE(symbols::hasSymbol(c->leftSymbol())) << c->leftSymbol().toStdString();
    }
}
