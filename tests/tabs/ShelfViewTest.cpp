#include "TestEnv.h"
#include "core/Settings.h"
#include "core/L10n.h"
#include "device/ShelfStore.h"
#include "platform/Clipboard.h"
#include "platform/Workspace.h"
#include "tabs/ShelfView.h"
#include "FakeClipboard.h"
#include "FakeClock.h"
#include "FakeWorkspace.h"
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QMenu>
#include <QMimeDatabase>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QToolTip>
#include <QSysInfo>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

using namespace lomex;

namespace {

class ShelfViewTest : public test::LomexTest {
protected:
    void SetUp() override {
        view = std::make_unique<ShelfView>(&shelf, &workspace, &clipboard);
        view->resize(640, 160);
        view->show();
    }
    QUrl file(const QString& name) { return QUrl::fromLocalFile(home.write("files/" + name, "x")); }
    // A drag entering, then either leaving or dropping; returns whether the view took it.
    bool enter(const QList<QUrl>& urls) {
        mime.setUrls(urls);
        QDragEnterEvent e(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &e);
        return e.isAccepted();
    }
    bool drop() {
        QDropEvent e(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &e);
        return e.isAccepted();
    }
    QColor pixelOnBorder() { return view->grab().toImage().pixelColor(view->width() / 2 - 2, 0); }

    FakeClock clock;
    ShelfStore shelf{nullptr, &clock};
    FakeWorkspace workspace;
    FakeClipboard clipboard;
    QMimeData mime;
    std::unique_ptr<ShelfView> view;
};

} // namespace

TEST_F(ShelfViewTest, EmptyStateTurnsIntoARowOfItemsAndClearBringsItBack) {
    EXPECT_TRUE(view->showsEmptyState());
    EXPECT_FALSE(view->clearButton()->isVisible());
    shelf.add({file("a.txt"), file("b.txt")});
    EXPECT_FALSE(view->showsEmptyState());
    ASSERT_EQ(view->itemViews().size(), 2);
    EXPECT_EQ(view->itemViews()[1]->url(), file("b.txt"));
    EXPECT_TRUE(view->clearButton()->isVisible());
    EXPECT_EQ(view->clearButton()->text(), L10n::shared().t("shelf.clear"));
    view->clearButton()->click();
    EXPECT_TRUE(shelf.items().isEmpty());
    EXPECT_TRUE(view->showsEmptyState());
}

TEST_F(ShelfViewTest, AFileDragLightsTheZoneAndADropAddsEachFileOnce) {
    const QColor idle = pixelOnBorder();
    EXPECT_FALSE(enter({QUrl("https://example.com/x.zip")})) << "a remote URL is not a file";
    EXPECT_FALSE(view->targeted());

    const QUrl a = file("a.txt");
    EXPECT_TRUE(enter({a, a}));
    EXPECT_TRUE(view->targeted());
    EXPECT_NE(pixelOnBorder(), idle) << "the border takes the accent colour";
    QDragLeaveEvent leave;
    QApplication::sendEvent(view.get(), &leave);
    EXPECT_FALSE(view->targeted());
    EXPECT_EQ(pixelOnBorder(), idle);

    enter({a, a});
    EXPECT_TRUE(drop());
    EXPECT_FALSE(view->targeted());
    EXPECT_EQ(shelf.items(), QList<QUrl>({a}));
    enter({a});
    drop();
    EXPECT_EQ(view->itemViews().size(), 1);
}

TEST_F(ShelfViewTest, ItemMenuOpensRevealsCopiesThePlainPathAndRemoves) {
    const QUrl a = file("<img src=x>report.pdf"), b = file("b.txt");
    shelf.add({a, b});
    ShelfItemView* item = view->itemViews()[0];
    EXPECT_TRUE(item->toolTip().contains(a.toLocalFile().toHtmlEscaped())) << "shown as written, not as markup";
    EXPECT_FALSE(item->toolTip().contains("<img"));

    QObject owner;
    const QList<QAction*> actions = item->menuActions(&owner);
    QStringList names;
    for (QAction* act : actions) names << (act ? act->objectName() : "-");
    EXPECT_EQ(names, QStringList({"shelf.open", "shelf.reveal", "shelf.copyPath", "-", "shelf.remove"}));

    actions[0]->trigger();
    EXPECT_EQ(workspace.opened, QList<QUrl>({a}));
    actions[1]->trigger();
    EXPECT_EQ(workspace.revealed, QStringList({a.toLocalFile()}));
    clipboard.content.image = QImage(2, 2, QImage::Format_RGB32);
    actions[2]->trigger();
    EXPECT_EQ(clipboard.content.text, a.toLocalFile()) << "the path, not a file:// URL";
    EXPECT_TRUE(clipboard.content.image.isNull()) << "whatever was there is replaced";
    actions[4]->trigger();
    EXPECT_EQ(shelf.items(), QList<QUrl>({b}));
}

TEST_F(ShelfViewTest, DraggingOutCarriesTheUrlOnlyAndNothingForAGoneFile) {
    const QUrl a = file("big.iso");
    shelf.add({a});
    ShelfItemView* item = view->itemViews()[0];
    std::unique_ptr<QMimeData> data(item->dragData());
    EXPECT_EQ(data->urls(), QList<QUrl>({a}));
    EXPECT_EQ(data->formats(), QStringList({"text/uri-list"}));

    QFile::remove(a.toLocalFile());
    data.reset(item->dragData());
    EXPECT_TRUE(data->formats().isEmpty());
}

TEST_F(ShelfViewTest, ALongNameIsCutAfterTheSecondLine) {
    shelf.add({file(QString(120, QLatin1Char('n')) + ".txt"), file("short.txt")});
    const QString shown = view->itemViews()[0]->shownName();
    EXPECT_EQ(shown.count(QLatin1Char('\n')), 1);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_EQ(view->itemViews()[1]->shownName(), "short.txt");
}

// Clearing and removing happen under the default animation: what goes fades out in its place
// and the files that stay glide over; with reduced motion the row is final at once.
TEST_F(ShelfViewTest, ClearAndRemoveAnimateUnlessMotionIsReduced) {
    for (const char* reduced : {"1", "0"}) {
        SCOPED_TRACE(reduced);
        const test::ReducedMotion motion(reduced);
        const bool animated = QByteArray(reduced) == "0";
        shelf.setItems({file("a.txt"), file("b.txt"), file("c.txt")});
        QCoreApplication::processEvents();
        const QPoint firstPlace = view->itemViews()[0]->pos();

        view->itemViews()[0]->remove();
        EXPECT_EQ(shelf.items().size(), 2);
        EXPECT_EQ(test::moving(view.get()), animated);
        ShelfItemView* b = view->itemViews()[0];
        if (animated) {
            EXPECT_NE(b->pos(), firstPlace) << "b starts where it was";
            ASSERT_TRUE(test::waitUntil([&] { return !test::moving(view.get()); }, 3000));
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(b->pos(), firstPlace);

        view->clearButton()->click();
        EXPECT_TRUE(view->showsEmptyState());
        EXPECT_EQ(test::moving(view.get()), animated) << "the row fades out over the empty state";
        ASSERT_TRUE(test::waitUntil([&] { return !test::moving(view.get()); }, 3000));
    }
}

// The drag source learns whether the drop was taken: a file of another machine or a path that
// is not there is ignored, the host forms of a local file are taken.
TEST_F(ShelfViewTest, ADropOfNothingThatCanBeShelvedIsIgnored) {
    const QUrl a = file("a.txt");
    QUrl remote(a);
    remote.setHost("elsewhere.example");
    QUrl own(a);
    own.setHost(QSysInfo::machineHostName());
    struct Case {
        const char* what;
        QList<QUrl> urls;
        bool taken;
    };
    for (const Case& c : QList<Case>{{"another machine's file", {remote}, false},
                                      {"a path that is not there", {QUrl::fromLocalFile(home.path() + "/none")}, false},
                                      {"file://<this host>/…", {own}, true}}) {
        enter(c.urls);
        EXPECT_EQ(drop(), c.taken) << c.what;
        EXPECT_FALSE(view->targeted()) << c.what;
    }
    ASSERT_EQ(view->itemViews().size(), 1);
    EXPECT_EQ(view->itemViews()[0]->url(), a);
}

// A change builds only what it adds: the rows of files that stay are the same objects.
TEST_F(ShelfViewTest, AChangeKeepsTheRowsOfTheFilesThatStay) {
    const QUrl a = file("a"), b = file("b"), c = file("c");
    shelf.add({a, b, c});
    const QList<ShelfItemView*> before = view->itemViews();
    ASSERT_EQ(before.size(), 3);
    const QList<QPointer<ShelfItemView>> kept{before[0], before[1], before[2]};
    const int looked = workspace.iconLookups;

    shelf.add({file("d")});
    QCoreApplication::processEvents();
    ASSERT_EQ(view->itemViews().size(), 4);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(view->itemViews()[i], kept[i].data()) << i;
    EXPECT_EQ(workspace.iconLookups, looked + 1) << "only the new row looks up an icon";

    shelf.remove(b);
    QCoreApplication::processEvents();
    ASSERT_EQ(view->itemViews().size(), 3);
    EXPECT_EQ(view->itemViews()[0], kept[0].data());
    EXPECT_EQ(view->itemViews()[1], kept[2].data());
    EXPECT_EQ(view->itemViews()[1]->url(), c);
}

// A long shelf builds rows (and looks up icons) only for what the row shows; scrolling brings
// the others as they come into view.
TEST_F(ShelfViewTest, ALongShelfBuildsOnlyTheRowsInView) {
    QList<QUrl> many;
    for (int i = 0; i < 2000; ++i) many << file(QString::number(i) + ".txt");
    shelf.add(many);
    QCoreApplication::processEvents();
    const int shown = view->itemViews().size();
    EXPECT_GE(shown, 5);
    EXPECT_LE(shown, 40);
    EXPECT_LE(workspace.iconLookups, 40);
    EXPECT_EQ(view->itemViews()[0]->url(), many[0]);

    QScrollBar* bar = view->findChild<QScrollArea*>("shelfScroll")->horizontalScrollBar();
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    EXPECT_LE(view->itemViews().size(), 40);
    ASSERT_FALSE(view->itemViews().isEmpty());
    EXPECT_EQ(view->itemViews().last()->url(), many.last());
    EXPECT_LE(workspace.iconLookups, 80);
}

// A file deleted after it was shelved stays, dimmed, when other files are dropped.
TEST_F(ShelfViewTest, ADeletedFileStaysDimmed) {
    const QUrl gone = file("gone.txt"), a = file("a.txt");
    shelf.add({gone});
    QFile::remove(gone.toLocalFile());
    enter({a});
    ASSERT_TRUE(drop());
    QCoreApplication::processEvents();
    const QList<ShelfItemView*> items = view->itemViews();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->url(), gone);
    EXPECT_TRUE(items[0]->missing());
    EXPECT_FALSE(items[1]->missing());
    // The name of the missing file is drawn fainter than the other (over nothing, as over the
    // black notch).
    auto brightest = [](QWidget* w) {
        QImage image(w->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        int best = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) best = std::max(best, qGray(image.pixel(x, y)) * qAlpha(image.pixel(x, y)) / 255);
        return best;
    };
    EXPECT_LT(brightest(items[0]), brightest(items[1]) * 3 / 4);
}

// While the settings file cannot be written the shelf shows what was dropped or cleared and a
// line says it is not saved and why; the line goes once it is stored.
TEST_F(ShelfViewTest, ALineSaysTheShelfIsNotSavedUntilItIs) {
    shelf.add({file("a.txt")});
    Settings::shared().flush(); // the file is written on the settings' own thread
    auto* line = view->findChild<QLabel*>("shelfNotice");
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->isVisible());
    const QString path = Settings::shared().filePath();
    QFile::setPermissions(path, QFile::ReadOwner);

    enter({file("b.txt")});
    EXPECT_TRUE(drop());
    Settings::shared().flush();
    EXPECT_EQ(view->itemViews().size(), 2);
    EXPECT_TRUE(line->isVisible());
    const QString why = L10n::shared().worded(*shelf.saveError()).message;
    EXPECT_EQ(line->text(), L10n::shared().t("shelf.notSaved", {why}));
    EXPECT_TRUE(line->text().contains("read-only"));

    view->clearButton()->click();
    Settings::shared().flush();
    EXPECT_TRUE(view->showsEmptyState());
    EXPECT_TRUE(line->isVisible()) << "the cleared shelf is not saved either";
    L10n::shared().setLanguage(AppLanguage::cs);
    Settings::shared().flush();
    EXPECT_EQ(line->text(), L10n::shared().t("shelf.notSaved", {L10n::shared().worded(*shelf.saveError()).message}));

    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    clock.advance(ShelfStore::retrySeconds);
    Settings::shared().flush();
    EXPECT_FALSE(line->isVisible());
}

// A drop of many files is taken by the drop event itself (the drag source is told at once);
// its files show a moment later, and a line says how many were not found, in both languages.
TEST_F(ShelfViewTest, ABigDropIsTakenAtOnceAndTheLineSaysWhatWasNotFound) {
    QList<QUrl> urls;
    int there = 0;
    for (int i = 0; i < ShelfStore::checkedAside; ++i) {
        if (i % 50 == 7) urls << QUrl::fromLocalFile(home.path() + "/files/gone-" + QString::number(i));
        else {
            urls << file(QString("f%1.txt").arg(i));
            ++there;
        }
    }
    auto* line = view->findChild<QLabel*>("shelfNotice");
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(enter(urls));
    EXPECT_TRUE(drop());
    ASSERT_TRUE(test::waitUntil([&] { return shelf.items().size() == there; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->showsEmptyState());
    const int missing = ShelfStore::checkedAside - there;
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(line->text(), L10n::shared().t("shelf.notFound", {missing}));
    EXPECT_EQ(line->text(), QString("Files not found, not added: %1.").arg(missing));
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(line->text(), QString("Soubory nenalezeny, nepřidáno: %1.").arg(missing));
}

namespace {

// Share of fully transparent pixels in a popup as it draws itself.
double transparentShare(QWidget* popup) {
    const QImage image = popup->grab().toImage();
    int clear = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) clear += image.pixelColor(x, y).alpha() == 0;
    return image.isNull() ? 1.0 : double(clear) / (image.width() * image.height());
}

} // namespace

// The item's menu and its path tooltip draw with the ordinary popup colours, not see-through.
TEST_F(ShelfViewTest, ItemMenuAndTooltipHaveABackground) {
    shelf.add({file("report.pdf")});
    ShelfItemView* item = view->itemViews()[0];
    double menuClear = -1;
    QString firstEntry;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menuClear = transparentShare(menu);
            firstEntry = menu->actions().value(0) ? menu->actions().first()->text() : QString();
            menu->close();
        }
    });
    QContextMenuEvent press(QContextMenuEvent::Mouse, QPoint(10, 10), item->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(item, &press);
    EXPECT_EQ(firstEntry, L10n::shared().t("shelf.open"));
    EXPECT_LT(menuClear, 0.05) << "share of see-through pixels in the menu";

    QToolTip::showText(item->mapToGlobal(QPoint(10, 10)), item->toolTip(), item);
    QWidget* tip = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible()) tip = w;
    ASSERT_NE(tip, nullptr);
    EXPECT_LT(transparentShare(tip), 0.05) << "share of see-through pixels in the tooltip";
    QToolTip::hideText();
}

// Each common file type gets its own icon from the desktop's icon theme; a folder gets its own.
TEST(WorkspaceIcons, FileTypesGetTheirThemeIcons) {
    test::TempHome home;
    const QStringList files{home.write("a.png", "x"), home.write("a.pdf", "x"), home.write("a.txt", "x"),
                            home.write("a.mp3", "x"), home.write("a.zip", "x"), home.file("")};
    DesktopWorkspace workspace;
    QSet<QString> names;
    for (const QString& path : files) {
        const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
        const QIcon icon = workspace.icon(path);
        EXPECT_FALSE(icon.isNull()) << path.toStdString();
        EXPECT_TRUE(icon.name() == type.iconName() || icon.name() == type.genericIconName())
            << path.toStdString() << ": " << icon.name().toStdString();
        names.insert(icon.name());
    }
    EXPECT_EQ(names.size(), files.size()) << "no two of these types share an icon";
}
