#include "FakeDesktopAutomation.h"
#include "TestEnv.h"
#include "X11Desktop.h"
#include "device/ClipboardStore.h"
#include "platform/Clipboard.h"
#include "platform/QtClipboard.h"
#include "platform/DesktopAutomation.h"
#include "platform/X11Clipboard.h"
#include "platform/XcbSelection.h"
#include "tabs/NoteView.h"
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QThread>
#include <xcb/xcb.h>
#include <memory>

using namespace lomex;

namespace {

// Runs fn on a thread of its own while this one keeps serving its events (its clipboard too).
template <typename T>
T onThread(const std::function<T()>& fn) {
    T result{};
    std::unique_ptr<QThread> thread(QThread::create([&] { result = fn(); }));
    thread->start();
    EXPECT_TRUE(test::waitUntil([&] { return thread->isFinished(); }, 30000));
    thread->wait();
    return result;
}

// Distinct lines, so a lost or repeated piece shows.
QByteArray lines(qint64 size) {
    QByteArray out;
    out.reserve(size);
    for (qint64 n = 0; out.size() < size; ++n) out += "line " + QByteArray::number(n) + " of a long copied log\n";
    out.truncate(size);
    return out;
}

class ClipboardTransferTest : public test::LomexTest {
protected:
    void SetUp() override {
        desktop = test::X11Desktop::current();
        if (!desktop) GTEST_SKIP() << "no private X server (Xvfb and openbox are in scripts/bootstrap)";
        ASSERT_TRUE(x.open());
    }
    void TearDown() override {
        if (!desktop) return;
        x.close();
        desktop->stopHelpers();
    }
    void offer(bool qt, const QByteArray& data) {
        const xcb_window_t before = x.owner(x.atom("CLIPBOARD"));
        if (qt) QGuiApplication::clipboard()->setText(QString::fromLatin1(data));
        else desktop->run("xclip", {"-selection", "clipboard", "-i", home.write("offer", data)}); // serves in the background
        // Qt keeps its window from one offer to the next.
        ASSERT_TRUE(test::waitUntil([&] {
            const xcb_window_t now = x.owner(x.atom("CLIPBOARD"));
            return now != 0 && (qt || now != before);
        }));
    }
    // What another program gets when it pastes.
    QByteArray paste() {
        QProcess* p = desktop->spawn("xclip", {"-o", "-selection", "clipboard"});
        QByteArray out;
        test::waitUntil([&] {
            out += p->readAllStandardOutput();
            return p->state() == QProcess::NotRunning;
        }, 10000);
        return out + p->readAllStandardOutput();
    }

    // Qt ends its side of a transfer in pieces only when it reads the paster's last notice, and a
    // transfer still open when the test ends is never freed: let it read what is queued.
    static void settleQtOwner() {
        xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    test::X11Desktop* desktop = nullptr;
    xcbsupport::SelectionClient x; // another program's connection
};

} // namespace

// A copy too large for the history, from xclip or a Qt program, in one piece or in pieces: once
// the history and the reply-typing snapshot have looked at it, every other program still pastes
// all of it, the note included.
TEST_F(ClipboardTransferTest, LargeCopiesStayPastableAfterTheHistoryLooked) {
    const ClipboardLimits limits = ClipboardStore::limits();
    const struct Case {
        const char* name;
        bool qt;
        qint64 size;
        bool note;
    } cases[] = {
        {"xclip, one piece over the history's limit", false, 900 << 10, false},
        {"xclip, 2 MiB in pieces", false, 2'097'127, true},
        {"xclip, 40 MiB in pieces", false, 40 << 20, false},
        {"Qt, in pieces within the history's limit", true, 300 << 10, false},
        {"Qt, 2 MiB in pieces", true, 2'097'127, false},
        {"Qt, 40 MiB in pieces", true, 40 << 20, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray data = lines(c.size);
        offer(c.qt, data);
        const auto read = onThread<std::optional<ClipboardContent>>(
            [&] { return x11clipboard::read(limits, QtClipboard::readBudgetMs); });
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->text.toLatin1(), c.size <= limits.maxTextBytes ? data : QByteArray());
        EXPECT_TRUE(paste() == data) << "the paste after the history's read";

        X11DesktopAutomation automation;
        const std::optional<ClipboardSnapshot> snap = test::takeSnapshot(automation);
        ASSERT_TRUE(snap.has_value());
        const bool kept = std::any_of(snap->items.cbegin(), snap->items.cend(), [&](const ClipboardSnapshot::Item& i) {
            return i.target == "UTF8_STRING" && i.data.bytes() == data;
        });
        EXPECT_TRUE(kept);
        EXPECT_TRUE(snap->complete);
        EXPECT_TRUE(paste() == data) << "the paste after the snapshot";
        if (c.qt) settleQtOwner();

        if (c.note) {
            NoteView note;
            note.editor()->paste();
            EXPECT_TRUE(note.editor()->toPlainText().toLatin1() == data);
        }
    }
    // On a slow machine a reader may give up on a Qt transfer; Qt's side of it ends only when its
    // own abort timer (5 s of silence) fires, and one still open at exit is never freed.
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 6000) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

// An answer that arrives when nobody waits for it any more leaves an incremental owner waiting
// for good, so no transfer is asked for once the time is spent.
TEST_F(ClipboardTransferTest, NoTransferIsAskedForWithoutTimeToEndIt) {
    const QByteArray data = lines(2'097'127);
    offer(false, data);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(x.fetch(x.atom("UTF8_STRING"), 64 << 20, clock, 0).has_value());
    EXPECT_TRUE(paste() == data);
}
