#include "TestEnv.h"
#include "FakeClock.h"
#include "core/Paths.h"
#include "core/Settings.h"
#include "device/ShelfStore.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QSignalSpy>
#include <QSysInfo>

using namespace lomex;

namespace {

class ShelfStoreTest : public test::LomexTest {
protected:
    QUrl file(const QString& name) { return QUrl::fromLocalFile(home.write("files/" + name, "x")); }
    // The list as the file on disk holds it, not as Settings remembers it.
    static QStringList storedOnDisk() {
        QFile f(Settings::shared().filePath());
        if (!f.open(QIODevice::ReadOnly)) return {"(no file)"};
        QStringList out;
        for (const auto& v : QJsonDocument::fromJson(f.readAll()).object().value("shelfItems").toArray())
            out << v.toString();
        return out;
    }
    static std::unique_ptr<QMimeData> drop(const QList<QUrl>& urls) {
        auto data = std::make_unique<QMimeData>();
        data->setUrls(urls);
        return data;
    }
    // Drops in turn: whether each is taken and what the shelf holds after it.
    struct DropCase {
        const char* what;
        QList<QUrl> urls;
        bool accepted;
        QList<QUrl> after;
    };
    static void expectDrops(ShelfStore& shelf, const QList<DropCase>& cases) {
        for (const DropCase& c : cases) {
            EXPECT_EQ(shelf.handleDrop(drop(c.urls).get()), c.accepted) << c.what;
            EXPECT_EQ(shelf.items(), c.after) << c.what;
        }
    }
};

} // namespace

TEST_F(ShelfStoreTest, DropsTakeLocalFilesOnlyAndNeverTwice) {
    ShelfStore shelf;
    const QUrl a = file("a.txt"), b = file("b.pdf");
    const QUrl web("https://example.com/a.txt");
    const QList<DropCase> cases = {
        {"remote URLs alone are refused", {web, QUrl("ftp://host/x")}, false, {}},
        {"local files are added in order", {a, b}, true, {a, b}},
        {"a file already shelved is skipped", {b, a}, true, {a, b}},
        {"another spelling of the same path is the same file",
         {QUrl::fromLocalFile(home.path() + "/files//./a.txt")}, true, {a, b}},
        {"a mixed drop keeps the local file and ignores the link", {web, file("c.png")}, true,
         {a, b, file("c.png")}},
        {"a drop without URLs is refused", {}, false, {a, b, file("c.png")}},
    };
    expectDrops(shelf, cases);
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
    // The files are looked up off the GUI thread.
    ASSERT_TRUE(test::waitUntil([&] { return again.items().size() == 2; }));
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

// A file URL names this machine with no host, "localhost" or its own host name; a file of
// another machine, or a path that is not there, is never put on the shelf, and a drop of
// nothing else is refused.
TEST_F(ShelfStoreTest, HostFormUrisAreLocalAndOtherHostsOrMissingPathsAreRefused) {
    const QUrl a = file("a.png"), b = file("b b.txt");
    const QString host = QSysInfo::machineHostName();
    ASSERT_FALSE(host.isEmpty());
    auto withHost = [](const QUrl& local, const QString& h) {
        QUrl url(local);
        url.setHost(h);
        return url;
    };
    ShelfStore shelf;
    const QList<DropCase> cases = {
        {"file://localhost/… is the local path", {QUrl("file://localhost" + a.path())}, true, {a}},
        {"file://<this host>/… is the local path", {withHost(b, host)}, true, {a, b}},
        {"the host name in capitals too", {withHost(a, host.toUpper())}, true, {a, b}},
        {"another machine's file is refused", {withHost(file("c.txt"), "elsewhere.example")}, false, {a, b}},
        {"a path that is not there is refused", {QUrl::fromLocalFile(home.path() + "/files/gone.txt")}, false, {a, b}},
        {"of a mixed drop only the file that is here is taken",
         {QUrl::fromLocalFile(home.path() + "/nowhere"), QUrl("file://localhost" + file("d.txt").path())}, true,
         {a, b, file("d.txt")}},
    };
    expectDrops(shelf, cases);
    for (const QString& path : Settings::shared().find(keys::shelfItems).value_or(QStringList{}))
        EXPECT_TRUE(QFileInfo::exists(path)) << "made-up path stored: " << path.toStdString();
}

// A shelved file that is deleted stays listed (its view dims it) until the user removes it;
// other changes of the shelf do not filter it out. Only a new launch drops it.
TEST_F(ShelfStoreTest, ADeletedFileStaysUntilRemoved) {
    const QUrl gone = file("gone.txt"), a = file("a.txt"), b = file("b.txt");
    ShelfStore shelf;
    shelf.add({gone, a});
    ASSERT_TRUE(QFile::remove(gone.toLocalFile()));
    shelf.add({b});
    EXPECT_EQ(shelf.items(), QList<QUrl>({gone, a, b}));
    shelf.remove(a);
    EXPECT_EQ(shelf.items(), QList<QUrl>({gone, b}));
    EXPECT_EQ(Settings::shared().find(keys::shelfItems), QStringList({gone.toLocalFile(), b.toLocalFile()}));
    shelf.remove(gone);
    EXPECT_EQ(shelf.items(), QList<QUrl>({b}));
}

// While the settings file cannot be written, what was dropped or cleared stays on the shelf
// as the user left it, the store says why it is not saved, and it is stored once it can be.
TEST_F(ShelfStoreTest, AChangeThatCannotBeSavedIsKeptAndStoredLater) {
    FakeClock clock;
    const QUrl a = file("a.txt"), b = file("b.txt");
    ShelfStore shelf(nullptr, &clock);
    shelf.add({a});
    Settings::shared().flush(); // the file is written on the settings' own thread
    const QString path = Settings::shared().filePath();
    QFile::setPermissions(path, QFile::ReadOwner);
    QSignalSpy status(&shelf, &ShelfStore::statusChanged);

    EXPECT_TRUE(shelf.handleDrop(drop({b}).get())) << "accepted";
    Settings::shared().flush();
    EXPECT_EQ(shelf.items(), QList<QUrl>({a, b})) << "and shown";
    ASSERT_TRUE(shelf.saveError().has_value());
    EXPECT_EQ(shelf.saveError()->domain, "Lomex.ReadOnlyFile");
    EXPECT_GE(status.count(), 1);
    EXPECT_EQ(storedOnDisk(), QStringList({a.toLocalFile()})) << "the file keeps the old list";

    shelf.setItems({}); // Clear
    Settings::shared().flush();
    EXPECT_TRUE(shelf.items().isEmpty());
    EXPECT_TRUE(shelf.saveError().has_value());
    clock.advance(ShelfStore::retrySeconds);
    Settings::shared().flush();
    EXPECT_TRUE(shelf.saveError().has_value()) << "still read-only";

    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    clock.advance(ShelfStore::retrySeconds);
    Settings::shared().flush();
    EXPECT_FALSE(shelf.saveError().has_value());
    EXPECT_EQ(storedOnDisk(), QStringList());
}

// The shelf holds at most maxItems files: a drop takes what fits and the store says how many
// of it were left out; a drop of which nothing fits is refused. A longer stored list (edited by
// hand) is cut the same way at start.
TEST_F(ShelfStoreTest, HoldsAtMostItsBoundAndSaysWhatWasLeftOut) {
    const int n = ShelfStore::maxItems;
    QList<QUrl> many;
    QStringList paths;
    QDir().mkpath(home.path() + "/many");
    for (int i = 0; i < n + 3; ++i) {
        const QString path = home.path() + "/many/" + QString::number(i);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        many << QUrl::fromLocalFile(path);
        paths << path;
    }
    {
        ShelfStore shelf;
        shelf.add(many.mid(0, n - 1));
        EXPECT_EQ(shelf.leftOut(), 0);
        EXPECT_TRUE(shelf.handleDrop(drop(many.mid(n - 1, 3)).get())) << "one of the three fits";
        EXPECT_EQ(shelf.items().size(), n);
        EXPECT_EQ(shelf.items().last(), many[n - 1]);
        EXPECT_EQ(shelf.leftOut(), 2);
        EXPECT_FALSE(shelf.handleDrop(drop({many[n + 2]}).get())) << "nothing fits";
        EXPECT_EQ(shelf.leftOut(), 1);
        EXPECT_TRUE(shelf.handleDrop(drop({many[0]}).get())) << "already there";
        EXPECT_EQ(shelf.leftOut(), 0) << "it tells of the last drop only";
    }
    Settings::shared().set(keys::shelfItems, paths);
    ShelfStore again;
    EXPECT_EQ(again.items().size(), n);
    EXPECT_EQ(again.items().first(), many[0]);
    EXPECT_EQ(again.leftOut(), 3);
}

// A drop of checkedAside files or more is taken once one of its files is found; the others are
// asked about off the GUI thread and added a moment later, in order, and the store says how
// many were not found. One of which nothing exists is refused, as a small one is.
TEST_F(ShelfStoreTest, ABigDropIsCheckedAsideAndSaysWhichFilesWereNotFound) {
    const int n = ShelfStore::checkedAside;
    QDir().mkpath(home.path() + "/big");
    QList<QUrl> urls{QUrl("file://elsewhere.example/big/x"), QUrl("https://example.com/a")};
    QList<QUrl> there;
    int missing = 0;
    for (int i = 0; i < n; ++i) {
        const QString path = home.path() + "/big/" + QString::number(i);
        urls << QUrl::fromLocalFile(path);
        // Missing: the first two (found is the third) and every hundredth after.
        if (i < 2 || i % 100 == 50) {
            ++missing;
            continue;
        }
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        there << QUrl::fromLocalFile(path);
    }
    ShelfStore shelf;
    QSignalSpy status(&shelf, &ShelfStore::statusChanged);
    EXPECT_TRUE(shelf.handleDrop(drop(urls).get()));
    ASSERT_TRUE(test::waitUntil([&] { return !shelf.isChecking(); }));
    EXPECT_EQ(shelf.items(), there);
    EXPECT_EQ(shelf.notFound(), missing);
    EXPECT_EQ(shelf.leftOut(), 0);
    EXPECT_GE(status.count(), 1);
    EXPECT_EQ(Settings::shared().get(keys::shelfItems).size(), there.size());

    // The same drop again: all of it is here or missing; taken, nothing new, none checked aside.
    EXPECT_TRUE(shelf.handleDrop(drop(urls).get()));
    EXPECT_FALSE(shelf.isChecking());
    EXPECT_EQ(shelf.items(), there);

    // Nothing of it exists: refused at once.
    QList<QUrl> gone;
    for (int i = 0; i < n; ++i) gone << QUrl::fromLocalFile(home.path() + "/gone/" + QString::number(i));
    EXPECT_FALSE(shelf.handleDrop(drop(gone).get()));
    EXPECT_FALSE(shelf.isChecking());

    // Any other change clears what the last drop said.
    shelf.remove(there.first());
    EXPECT_EQ(shelf.notFound(), 0);
}
