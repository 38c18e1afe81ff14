#include "TestEnv.h"
#include "core/Paths.h"
#include "core/Settings.h"
#include "device/ShelfStore.h"
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QSignalSpy>

using namespace lomex;

namespace {

class ShelfStoreTest : public test::LomexTest {
protected:
    QUrl file(const QString& name) { return QUrl::fromLocalFile(home.write("files/" + name, "x")); }
    static std::unique_ptr<QMimeData> drop(const QList<QUrl>& urls) {
        auto data = std::make_unique<QMimeData>();
        data->setUrls(urls);
        return data;
    }
};

} // namespace

TEST_F(ShelfStoreTest, DropsTakeLocalFilesOnlyAndNeverTwice) {
    ShelfStore shelf;
    const QUrl a = file("a.txt"), b = file("b.pdf");
    const QUrl web("https://example.com/a.txt");
    struct Case {
        const char* what;
        QList<QUrl> urls;
        bool accepted;
        QList<QUrl> after;
    };
    const QList<Case> cases = {
        {"remote URLs alone are refused", {web, QUrl("ftp://host/x")}, false, {}},
        {"local files are added in order", {a, b}, true, {a, b}},
        {"a file already shelved is skipped", {b, a}, true, {a, b}},
        {"another spelling of the same path is the same file",
         {QUrl::fromLocalFile(home.path() + "/files//./a.txt")}, true, {a, b}},
        {"a mixed drop keeps the local file and ignores the link", {web, file("c.png")}, true,
         {a, b, file("c.png")}},
        {"a drop without URLs is refused", {}, false, {a, b, file("c.png")}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shelf.handleDrop(drop(c.urls).get()), c.accepted) << c.what;
        EXPECT_EQ(shelf.items(), c.after) << c.what;
    }
    EXPECT_FALSE(shelf.handleDrop(nullptr));
}

TEST_F(ShelfStoreTest, KeepsItsItemsAcrossARestartWithoutDeletedFiles) {
    const QUrl a = file("a.txt"), b = file("b.txt"), c = file("c.txt");
    {
        ShelfStore shelf;
        shelf.add({a, b, c});
    }
    EXPECT_EQ(Settings::shared().find(keys::shelfItems),
              QStringList({a.toLocalFile(), b.toLocalFile(), c.toLocalFile()}));
    ASSERT_TRUE(QFile::remove(b.toLocalFile()));

    Settings::resetShared(); // read the file anew, as a new launch does
    ShelfStore again;
    EXPECT_EQ(again.items(), QList<QUrl>({a, c}));
    EXPECT_EQ(Settings::shared().find(keys::shelfItems), QStringList({a.toLocalFile(), c.toLocalFile()}));
}

TEST_F(ShelfStoreTest, RemoveKeepsTheOrderAndClearEmptiesTheStoredList) {
    ShelfStore shelf;
    const QUrl a = file("a"), b = file("b"), c = file("c");
    shelf.add({a, b, c});
    int changes = 0;
    QObject::connect(&shelf, &ShelfStore::itemsChanged, [&] { ++changes; });
    shelf.remove(b);
    EXPECT_EQ(shelf.items(), QList<QUrl>({a, c}));
    shelf.remove(b); // not there: no change announced
    EXPECT_EQ(changes, 1);
    shelf.setItems({});
    EXPECT_TRUE(shelf.items().isEmpty());
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(Settings::shared().find(keys::shelfItems), QStringList());
}

// The list edited by hand while the app runs is what the shelf shows, and the next drop adds
// to it rather than writing the old list back over the edit.
TEST_F(ShelfStoreTest, FollowsTheListEditedByHand) {
    const QUrl a = file("a.txt"), b = file("b.txt"), c = file("c.txt");
    ShelfStore shelf;
    shelf.add({a});
    Settings::shared().flush(); // in the file before the user's edit
    QSignalSpy spy(&shelf, &ShelfStore::itemsChanged);
    const QString path = paths::settingsFile();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QJsonDocument(QJsonObject{{"shelfItems", QJsonArray{b.toLocalFile(), a.toLocalFile()}}}).toJson());
    f.close();
    ASSERT_TRUE(test::waitUntil([&] { return shelf.items() == QList<QUrl>({b, a}); }));
    EXPECT_GE(spy.count(), 1);
    shelf.add({c});
    EXPECT_EQ(Settings::shared().find(keys::shelfItems),
              QStringList({b.toLocalFile(), a.toLocalFile(), c.toLocalFile()}));
}
