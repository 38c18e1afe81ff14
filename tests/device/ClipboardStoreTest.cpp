#include "TestEnv.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "device/ClipboardStore.h"
#include "platform/Clipboard.h"
#include "platform/QtClipboard.h"
#include "core/FileIO.h"
#include "device/ClipHistory.h"
#include "platform/PasteKeys.h"
#include "platform/RunningApps.h"
#include "FakeClipboard.h"
#include "FakeClock.h"
#include "FakePasteKeys.h"
#include "FakeRunningApps.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QClipboard>
#include <QMimeData>
#include <QSemaphore>
#include <QThread>
#include <QBuffer>
#include <QElapsedTimer>
#include <nlohmann/json.hpp>

using namespace lomex;
using Kind = Clip::Kind;

namespace {

ClipboardContent text(const QString& t) {
    ClipboardContent c;
    c.text = t;
    return c;
}

class ClipboardStoreTest : public test::LomexTest {
protected:
    std::unique_ptr<ClipboardStore> make(Clipboard* board = nullptr) {
        auto s = std::make_unique<ClipboardStore>(&clock, &Settings::shared(), board ? board : &fake, &apps, &keys,
                                                  folder());
        s->start();
        // Long enough for a full history in the unoptimised sanitizer build.
        EXPECT_TRUE(test::waitUntil([&] { return s->loaded(); }, 60000));
        last_ = s.get();
        return s;
    }
    QString folder() const { return home.file("data/Clipboard"); }
    // Another program copies, then one poll passes.
    void copy(const ClipboardContent& c) {
        fake.copy(c);
        clock.advance(ClipboardStore::pollSeconds);
        EXPECT_TRUE(test::waitUntil([&] { return !last_->reading(); }));
    }
    QStringList texts(const ClipboardStore& s) {
        QStringList out;
        for (const Clip& c : s.clips()) out << c.text;
        return out;
    }

    FakeClock clock;
    FakeClipboard fake;
    ClipboardStore* last_ = nullptr;
    FakeRunningApps apps;
    FakePasteKeys keys;
};

} // namespace

TEST_F(ClipboardStoreTest, RecordsTextLinksAndFilesNewestFirstAndReloadsThem) {
    apps.frontmost = RunningApplication{"org.gnome.TextEditor.desktop", "gnome-text-editor", 42};
    auto store = make();
    copy(text("hello"));
    copy(text("https://example.com/a?b=1"));
    ClipboardContent files;
    files.urls = {QUrl::fromLocalFile("/tmp/a.txt"), QUrl::fromLocalFile("/tmp/b.txt")};
    copy(files);
    copy(text("hello")); // again: moves up, no second clip

    ASSERT_EQ(store->clips().size(), 3);
    EXPECT_EQ(store->clips()[0].kind, Kind::text);
    EXPECT_EQ(store->clips()[0].text, "hello");
    EXPECT_EQ(store->clips()[1].kind, Kind::file);
    EXPECT_EQ(store->clips()[1].filePaths, QStringList({"/tmp/a.txt", "/tmp/b.txt"}));
    EXPECT_EQ(store->clips()[2].kind, Kind::link);
    EXPECT_EQ(store->clips()[0].sourceBundleID, "org.gnome.TextEditor.desktop");
    store->setPinned(store->clips()[2].id, true);
    store->waitForSaves();
    const QList<Clip> before = store->clips();
    store.reset();

    auto reloaded = make();
    EXPECT_EQ(reloaded->clips(), before);
    // What was on the clipboard at start is not recorded again.
    clock.advance(1);
    EXPECT_EQ(reloaded->clips().size(), 3);
}

TEST_F(ClipboardStoreTest, NothingIsRecordedWhileOffFromExcludedAppsOrWhenMarked) {
    auto store = make();
    Settings::shared().set(keys::clipboardEnabled, false);
    copy(text("while off"));
    Settings::shared().set(keys::clipboardEnabled, true);
    clock.advance(1);
    EXPECT_TRUE(store->clips().isEmpty()) << "a copy made while off is not picked up when turned on";

    Settings::shared().set(keys::clipExcluded, QStringList{"org.keepassxc.KeePassXC.desktop"});
    apps.frontmost = RunningApplication{"org.keepassxc.KeePassXC.desktop", "keepassxc", 7};
    copy(text("from an ignored app"));
    EXPECT_TRUE(store->clips().isEmpty());

    apps.frontmost.reset();
    ClipboardContent secret = text("hunter2");
    secret.secret = true;
    copy(secret);
    ClipboardContent transient = text("one-time code");
    transient.transient = true;
    copy(transient);
    copy(text("   \n"));
    EXPECT_TRUE(store->clips().isEmpty());

    copy(text(QString(ClipboardStore::maxTextChars + 1, QLatin1Char('x'))));
    EXPECT_TRUE(store->clips().isEmpty()) << "over-long text is not kept";
}

// A clipboard owner that takes its time: the GUI thread does not wait for it, and the read asks
// for no more than the history would keep.
TEST_F(ClipboardStoreTest, ReadsWaitForTheOwnerOffTheGuiThread) {
    struct SlowClipboard : FakeClipboard {
        ClipboardContent read(const ClipboardLimits& limits) const override {
            asked = limits;
            thread = QThread::currentThread();
            release.acquire();
            return FakeClipboard::read(limits);
        }
        mutable QSemaphore release;
        mutable ClipboardLimits asked;
        mutable std::atomic<QThread*> thread{nullptr};
    } slow;
    auto store = make(&slow);
    slow.copy(text("slow owner"));
    clock.advance(ClipboardStore::pollSeconds);
    EXPECT_TRUE(store->reading());
    EXPECT_TRUE(store->clips().isEmpty());
    slow.release.release();
    ASSERT_TRUE(test::waitUntil([&] { return store->clips().size() == 1; }));
    EXPECT_EQ(store->clips()[0].text, "slow owner");
    EXPECT_NE(slow.thread.load(), QThread::currentThread());
    EXPECT_LE(slow.asked.maxTextBytes, 3 * ClipboardStore::maxTextChars);
    EXPECT_LE(slow.asked.maxImageBytes, ClipboardStore::maxImageBytes);
}

TEST_F(ClipboardStoreTest, MarkersAreReadFromTheMimeBundle) {
    struct Case {
        const char* format;
        QByteArray value;
        bool secret, transient;
    };
    const Case cases[] = {
        {"x-kde-passwordManagerHint", "secret", true, false},
        {"x-kde-passwordManagerHint", "public", false, false},
        {"org.nspasteboard.ConcealedType", "", true, false},
        {"org.nspasteboard.TransientType", "", false, true},
        {"org.nspasteboard.AutoGeneratedType", "", false, true},
    };
    for (const Case& c : cases) {
        QMimeData data;
        data.setText("pw");
        data.setData(c.format, c.value);
        const ClipboardContent content = clipboard::contentFrom(data);
        EXPECT_EQ(content.secret, c.secret) << c.format << " " << c.value.constData();
        EXPECT_EQ(content.transient, c.transient) << c.format;
        EXPECT_EQ(content.text.isEmpty(), c.secret || c.transient) << "a marked copy is not even read";
    }
}

TEST_F(ClipboardStoreTest, ASecretCopiedThroughTheSystemClipboardIsNotRecorded) {
    QtClipboard system;
    auto store = make(&system);
    auto* secret = new QMimeData;
    secret->setText("correct horse battery staple");
    secret->setData("x-kde-passwordManagerHint", "secret");
    QGuiApplication::clipboard()->setMimeData(secret);
    clock.advance(ClipboardStore::pollSeconds);
    EXPECT_TRUE(store->clips().isEmpty());

    QGuiApplication::clipboard()->setText("plain note");
    clock.advance(ClipboardStore::pollSeconds);
    ASSERT_EQ(store->clips().size(), 1);
    EXPECT_EQ(store->clips()[0].text, "plain note");
}

TEST_F(ClipboardStoreTest, ImagesBecomePngFilesAndClearingKeepsOnlyPinnedClips) {
    auto store = make();
    ClipboardContent shot;
    shot.image = QImage(40, 30, QImage::Format_ARGB32);
    shot.image.fill(Qt::red);
    copy(shot);
    ASSERT_TRUE(test::waitUntil([&] { return store->clips().size() == 1; }));
    const Clip image = store->clips()[0];
    EXPECT_EQ(image.kind, Kind::image);
    EXPECT_EQ(image.imageFile, image.id + ".png");
    EXPECT_EQ(QImage(store->imagePath(image)).size(), QSize(40, 30));

    copy(text("keep me"));
    store->setPinned(store->clips()[0].id, true);
    copy(text("drop me"));
    store->clearUnpinned();
    store->waitForSaves();
    EXPECT_EQ(texts(*store), QStringList({"keep me"}));
    EXPECT_FALSE(QFile::exists(store->imagePath(image)));
}

TEST_F(ClipboardStoreTest, HistoryIsCappedWithoutPushingOutPinnedClips) {
    auto store = make();
    copy(text("pinned"));
    store->setPinned(store->clips()[0].id, true);
    for (int i = 0; i < ClipboardStore::maxClips + 20; ++i) copy(text(QString::number(i)));
    EXPECT_EQ(store->clips().size(), ClipboardStore::maxClips);
    EXPECT_EQ(store->clips().last().text, "pinned");
    EXPECT_EQ(store->clips().first().text, QString::number(ClipboardStore::maxClips + 19));
}

TEST_F(ClipboardStoreTest, AHistoryFileCannotNameFilesOutsideItsFolder) {
    const QString victim = home.write("precious.png", "data");
    QDir().mkpath(folder());
    const QByteArray json = R"([
        {"id":"A","kind":"image","text":"","imageFile":"../../precious.png","date":"2026-03-02T09:00:00.000Z","pinned":false},
        {"id":"B","kind":"text","text":"ok","date":"2026-03-02T09:00:00.000Z","pinned":false},
        {"id":"C","kind":"bogus","text":"x"},
        42
    ])";
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json", json));
    auto store = make();
    EXPECT_EQ(texts(*store), QStringList({"ok"}));
    store->clearUnpinned();
    store->waitForSaves();
    EXPECT_TRUE(QFile::exists(victim));
}

// A history that cannot be read is kept aside, never replaced by the next save.
TEST_F(ClipboardStoreTest, AnUnreadableHistoryIsMovedAsideNotOverwritten) {
    QDir().mkpath(folder());
    const QByteArray broken = "[{\"id\":\"P\",\"kind\":\"text\",\"text\":\"pinned\",\"pinned\":true";
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json", broken));
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json.corrupt", "older"));
    auto store = make();
    EXPECT_TRUE(store->clips().isEmpty());
    copy(text("new"));
    store->waitForSaves();
    QFile aside(folder() + "/clips.json.corrupt-2");
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), broken);
    QFile older(folder() + "/clips.json.corrupt");
    ASSERT_TRUE(older.open(QIODevice::ReadOnly));
    EXPECT_EQ(older.readAll(), "older");
    store.reset();
    EXPECT_EQ(texts(*make()), QStringList({"new"}));
}

TEST_F(ClipboardStoreTest, PastePressesCtrlVOnlyWhenAllowedAndIsNotRecordedAgain) {
    auto store = make();
    copy(text("first"));
    copy(text("second"));
    const QList<Clip> both = store->clips();

    struct Case {
        const char* what;
        bool pasteDirectly, trusted, result;
    };
    const Case cases[] = {
        {"direct paste on and XTEST present", true, true, true},
        {"direct paste off", false, true, false},
        {"no XTEST", true, false, false},
    };
    for (const Case& c : cases) {
        Settings::shared().set(keys::pasteDirectly, c.pasteDirectly);
        keys.isTrusted = c.trusted;
        keys.pastes = 0;
        EXPECT_EQ(store->paste(both), c.result) << c.what;
        EXPECT_EQ(fake.content.text, "second\nfirst") << c.what;
        clock.advance(0.1);
        EXPECT_EQ(keys.pastes, 0) << c.what << ": not before 0.12 s";
        clock.advance(0.05);
        EXPECT_EQ(keys.pastes, c.result ? 1 : 0) << c.what;
    }
    // The desktop may report our own write later than the write itself.
    ++fake.changes;
    clock.advance(1);
    EXPECT_EQ(store->clips().size(), 2) << "our own copy is not a new clip";
    std::unique_ptr<QMimeData> bundle(clipboard::mimeDataFor(fake.content));
    EXPECT_TRUE(clipboard::contentFrom(*bundle).fromHistory) << "the mark survives the system clipboard";
}

namespace {

// An owner (or a decode) that never finishes by itself and does not heed a cancel: the worst a
// read can do.
struct StuckClipboard : FakeClipboard {
    ClipboardContent read(const ClipboardLimits& limits) const override {
        if (content.text == "stuck") {
            ++stuck;
            release.acquire();
            --stuck;
        }
        ClipboardContent c = FakeClipboard::read(limits);
        ++done;
        return c;
    }
    // Lets the stuck reads end, and waits until they did, before the fake goes.
    ~StuckClipboard() override {
        release.release(100);
        test::waitUntil([&] { return stuck == 0; }, 10000);
    }
    mutable QSemaphore release;
    mutable std::atomic<int> stuck{0};
    mutable std::atomic<int> done{0};
};

} // namespace

// A read that runs past its time is given up: the copies after it are recorded, in order, and
// what it brings at last is dropped.
TEST_F(ClipboardStoreTest, AReadPastItsTimeIsGivenUpAndLaterCopiesAreRecorded) {
    StuckClipboard board;
    auto store = make(&board);
    board.copy(text("before"));
    clock.advance(ClipboardStore::pollSeconds);
    ASSERT_TRUE(test::waitUntil([&] { return texts(*store).size() == 1; }));
    board.copy(text("stuck"));
    clock.advance(ClipboardStore::pollSeconds);
    ASSERT_TRUE(test::waitUntil([&] { return board.stuck == 1; }));
    board.copy(text("right after"));
    clock.advance(ClipboardStore::pollSeconds);
    ASSERT_TRUE(test::waitUntil([&] { return board.done == 2; }));
    test::waitUntil([] { return false; }, 100); // its future reports itself done
    clock.advance(ClipboardStore::pollSeconds);
    EXPECT_EQ(texts(*store), QStringList({"before"})) << "a later copy waits for the one before while it has time";

    clock.advance(ClipboardStore::readTimeoutSeconds);
    ASSERT_TRUE(test::waitUntil([&] { return texts(*store).size() == 2; }));
    EXPECT_EQ(texts(*store), QStringList({"right after", "before"}));
    board.copy(text("later"));
    clock.advance(ClipboardStore::pollSeconds);
    ASSERT_TRUE(test::waitUntil([&] { return texts(*store).size() == 3; }));
    EXPECT_EQ(texts(*store), QStringList({"later", "right after", "before"}));

    board.content = text("stuck, at last");
    board.release.release();
    ASSERT_TRUE(test::waitUntil([&] { return board.stuck == 0; }));
    clock.advance(ClipboardStore::pollSeconds);
    QCoreApplication::processEvents();
    EXPECT_EQ(texts(*store), QStringList({"later", "right after", "before"}));
}

// Quitting with a read under way that never ends by itself does not wait for it beyond a
// short while, and the read left behind touches nothing of the store when it ends.
TEST_F(ClipboardStoreTest, TheStoreEndsSoonWithAReadInFlight) {
    StuckClipboard board;
    auto store = make(&board);
    board.copy(text("stuck"));
    clock.advance(ClipboardStore::pollSeconds);
    ASSERT_TRUE(test::waitUntil([&] { return board.stuck == 1; }));
    QElapsedTimer quitting;
    quitting.start();
    store.reset();
    EXPECT_LT(quitting.elapsed(), 2000);
    board.release.release();
    ASSERT_TRUE(test::waitUntil([&] { return board.stuck == 0; }));
    QCoreApplication::processEvents();
}

namespace {

// A text of n characters, mostly control characters (six bytes each in JSON), unique by seed.
QString controlText(qsizetype n, int seed) {
    QString t(n, QChar(0x01));
    const QString tag = QStringLiteral("clip %1 ").arg(seed);
    for (qsizetype i = 0; i < tag.size(); ++i) t[i] = tag[i];
    return t;
}

// A list in the format an earlier version wrote: every text inside clips.json.
QByteArray oldFormatList(int count, qsizetype chars, int pinnedEvery) {
    QByteArray out = "[";
    for (int i = 0; i < count; ++i) {
        nlohmann::json j = {{"id", QStringLiteral("OLD-%1").arg(i).toStdString()},
                            {"kind", "text"},
                            {"text", controlText(chars, i).toStdString()},
                            {"date", "2026-03-02T09:00:00.000Z"},
                            {"pinned", i % pinnedEvery == pinnedEvery - 1}};
        if (i) out += ',';
        out += QByteArray::fromStdString(j.dump());
    }
    return out + "]";
}

QStringList pinnedTexts(const ClipboardStore& s) {
    QStringList out;
    for (const Clip& c : s.clips())
        if (c.pinned) out << s.fullText(c);
    return out;
}
} // namespace

// Control characters take six bytes each in JSON: 500 clips at the text cap made a list that the
// next start refused, and every pinned clip with it.
TEST_F(ClipboardStoreTest, AHistoryAtItsCountLimitOfLongControlTextsReadsBackWhole) {
    auto store = make();
    QStringList pinned;
    for (int i = 0; i < ClipboardStore::maxClips; ++i) {
        copy(text(controlText(ClipboardStore::maxTextChars, i)));
        if (i % 10 == 0) {
            store->setPinned(store->clips()[0].id, true);
            pinned.prepend(controlText(ClipboardStore::maxTextChars, i));
        }
    }
    ASSERT_EQ(store->clips().size(), ClipboardStore::maxClips);
    store->waitForSaves();
    const QList<Clip> before = store->clips();
    store.reset();
    EXPECT_LE(QFileInfo(folder() + "/clips.json").size(), 1 << 20) << "texts this long are kept beside the list";

    auto reloaded = make();
    EXPECT_EQ(reloaded->clips(), before);
    EXPECT_EQ(pinnedTexts(*reloaded), pinned);
    EXPECT_FALSE(QFile::exists(folder() + "/clips.json.corrupt"));
}

// A list of an earlier version, too large to read at once and cut off at its end (the disk
// filled): what is sound is kept, pinned clips first, and the file itself is kept aside.
TEST_F(ClipboardStoreTest, AnOldListIsReadAsFarAsItIsSoundPinnedClipsFirst) {
    QDir().mkpath(folder());
    QByteArray list = oldFormatList(2 * ClipboardStore::maxClips, 1500, 10);
    list.chop(40); // cut inside the last clip
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json", list));

    auto store = make();
    ASSERT_EQ(store->clips().size(), ClipboardStore::maxClips);
    QStringList expected;
    for (int i = 9; i < 2 * ClipboardStore::maxClips - 1; i += 10) expected << controlText(1500, i);
    EXPECT_EQ(pinnedTexts(*store), expected) << "every pinned clip, in order";
    EXPECT_EQ(store->fullText(store->clips()[0]), controlText(1500, 0)) << "the newest unpinned clips next";
    QFile aside(folder() + "/clips.json.corrupt");
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.size(), list.size());
    store.reset();
    EXPECT_EQ(make()->clips().size(), ClipboardStore::maxClips) << "and it is saved in a form that reads back";
}

// Saving after a copy cost as much as the whole history (52-125 MB at its largest).
TEST_F(ClipboardStoreTest, OneCopyIntoAFullHistoryWritesLittle) {
    QDir().mkpath(folder());
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json", oldFormatList(ClipboardStore::maxClips, 2048, 50)));
    auto store = make();
    store->waitForSaves();
    ASSERT_EQ(store->clips().size(), ClipboardStore::maxClips);

    const qint64 before = cliphistory::bytesWritten();
    copy(text("abc"));
    store->waitForSaves();
    const qint64 written = cliphistory::bytesWritten() - before;
    EXPECT_GT(written, 0);
    EXPECT_LE(written, ClipboardStore::maxClips * (cliphistory::kHeadBytes + 512))
        << "the history holds " << ClipboardStore::maxClips * 2048 << " characters";
}

TEST_F(ClipboardStoreTest, TheSameImageIsStoredOnceAndAnOfferedPngAsItIs) {
    auto store = make();
    QImage pixels(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) pixels.setPixel(x, y, qRgb(x * 4, y * 5, 100));
    auto encoded = [&](const char* format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(pixels.save(&buffer, format, format == QByteArray("PNG") ? 100 : -1));
        return bytes;
    };
    ClipboardContent png;
    png.image = pixels;
    png.imageData = encoded("PNG"); // least compression: our own encode would be smaller
    ClipboardContent bmp;
    bmp.imageData = encoded("BMP");
    bmp.image = QImage::fromData(bmp.imageData);

    copy(png);
    copy(png);
    store->waitForSaves();
    copy(text("between"));
    copy(png);
    copy(bmp); // the same pixels in other bytes
    store->waitForSaves();
    ASSERT_TRUE(test::waitUntil([&] { return store->clips().size() == 2; }));
    const Clip image = store->clips()[0];
    EXPECT_EQ(image.kind, Kind::image);
    const QStringList files = QDir(folder()).entryList({"*.png", "*.bmp", "*.jpg"}, QDir::Files);
    EXPECT_EQ(files, QStringList({image.imageFile}));
    QFile file(store->imagePath(image));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), png.imageData) << "an offered PNG is kept byte for byte";
}

// A kill between writing a clip's file and saving the list, or between a temporary file and its
// rename, leaves files nothing names; the next start removes them, and only them.
TEST_F(ClipboardStoreTest, OrphansAndStaleTemporariesAreGoneAfterAStart) {
    QDir().mkpath(folder());
    const QString kept = "0A1B2C3D-0000-4000-8000-000000000001.png";
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/" + kept, "png"));
    const QByteArray json = R"([{"id":"0A1B2C3D-0000-4000-8000-000000000001","kind":"image","text":"",)"
                            R"("imageFile":"0A1B2C3D-0000-4000-8000-000000000001.png","date":"2026-03-02T09:00:00.000Z"}])";
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json", json));
    const QStringList gone = {"0A1B2C3D-0000-4000-8000-000000000002.png",
                              "0A1B2C3D-0000-4000-8000-000000000003.txt", ".clips.json.tmp-Ab12Cd",
                              ".0A1B2C3D-0000-4000-8000-000000000004.png.tmp-xY9z00"};
    const QStringList stay = {"notes.txt", "0A1B2C3D.png", ".other.json.tmp-Ab12Cd"};
    auto writeOld = [&](const QString& name) {
        QFile f(folder() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.flush();
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    };
    for (const QString& name : gone + stay) writeOld(name);
    auto store = make();
    store->waitForSaves();
    ASSERT_EQ(store->clips().size(), 1);
    for (const QString& name : gone) EXPECT_FALSE(QFile::exists(folder() + "/" + name)) << qPrintable(name);
    for (const QString& name : stay + QStringList{kept, "clips.json"})
        EXPECT_TRUE(QFile::exists(folder() + "/" + name)) << qPrintable(name);

    // A list kept aside may name files the user can still get back: they stay.
    store.reset();
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json.corrupt", "[{\"imageFile\":\"" + gone[0].toUtf8()));
    for (const QString& name : {gone[0], gone[2]}) writeOld(name);
    store = make();
    store->waitForSaves();
    EXPECT_TRUE(QFile::exists(folder() + "/" + gone[0]));
    EXPECT_FALSE(QFile::exists(folder() + "/" + gone[2])) << "temporaries still go";
}

// The history is read on a worker thread: start returns at once, and a copy made meanwhile is
// recorded once it is read, above the clips read.
TEST_F(ClipboardStoreTest, TheHistoryIsReadOffTheGuiThread) {
    QDir().mkpath(folder());
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json", oldFormatList(300, 2048, 10)));
    ClipboardStore store(&clock, &Settings::shared(), &fake, &apps, &keys, folder());
    last_ = &store;
    QElapsedTimer t;
    t.start();
    store.start();
    EXPECT_LT(t.elapsed(), 50);
    EXPECT_FALSE(store.loaded());
    fake.copy(text("while reading"));
    clock.advance(ClipboardStore::pollSeconds);
    ASSERT_TRUE(test::waitUntil([&] { return store.clips().size() == 301; }, 60000));
    EXPECT_EQ(store.clips()[0].text, "while reading");
}

// A quit waited for every queued image encode (32.8 s after five large copies).
TEST_F(ClipboardStoreTest, AQuitDoesNotWaitForAnImageEncode) {
    auto store = make();
    QImage noise(4000, 4000, QImage::Format_RGB32);
    quint32 x = 2463534242u;
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int i = 0; i < noise.width(); ++i) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            line[i] = 0xff000000u | x;
        }
    }
    ClipboardContent shot;
    shot.image = noise;
    for (int i = 0; i < 3; ++i) {
        shot.image.setPixel(0, 0, qRgb(i, 0, 0));
        copy(shot);
    }
    test::waitUntil([] { return false; }, 400); // hashed, and the first encode under way
    QElapsedTimer t;
    t.start();
    store.reset();
    EXPECT_LT(t.elapsed(), 500) << "the encodes stop at their next write";
}

TEST_F(ClipboardStoreTest, StoredImagesStayWithinTheirBudgetOldestUnpinnedFirst) {
    QDir().mkpath(folder());
    const qint64 each = ClipboardStore::maxStoredImageBytes / 5 * 2; // two fit, three do not
    QByteArray json = "[";
    for (int i = 1; i <= 4; ++i) {
        const QString name = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000%1.png").arg(i);
        QFile f(folder() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(each)); // sparse: takes no disk
        json += QStringLiteral(R"(%1{"id":"I%2","kind":"image","text":"","imageFile":"%3","pinned":%4})")
                    .arg(i > 1 ? "," : "").arg(i).arg(name, i == 4 ? "true" : "false").toUtf8();
    }
    ASSERT_FALSE(fileio::writeAtomically(folder() + "/clips.json", json + "]"));
    auto store = make();
    ASSERT_EQ(store->clips().size(), 4);
    copy(text("a copy trims"));
    store->waitForSaves();
    QStringList ids;
    for (const Clip& c : store->clips()) ids << c.id;
    EXPECT_EQ(ids.mid(1), QStringList({"I1", "I4"})) << "the newest unpinned image and the pinned one";
    EXPECT_FALSE(QFile::exists(folder() + "/0A1B2C3D-0000-4000-8000-000000000002.png"));
    EXPECT_FALSE(QFile::exists(folder() + "/0A1B2C3D-0000-4000-8000-000000000003.png"));
}
