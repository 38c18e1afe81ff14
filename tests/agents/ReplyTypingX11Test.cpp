#include "AgentsTestSupport.h"
#include "FakeDesktopAutomation.h"
#include "XvfbDisplay.h"
#include "agents/ReplySender.h"
#include "core/Clock.h"
#include "platform/ClipboardData.h"
#include "platform/DesktopAutomation.h"
#include "platform/XcbSelectionOwner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include <random>
#include <type_traits>
#include <xcb/xcb.h>

using namespace lomex;

namespace {

using Display = test::XvfbDisplay;

// Another program's clipboard: an owner on its own connection and thread, so it answers while
// the sender waits for it.
class OtherOwner : public QThread {
public:
    explicit OtherOwner(ClipboardSnapshot content) : content_(std::move(content)) {}
    void run() override
    {
        X11DesktopAutomation owner;
        owner.restoreClipboard(content_);
        exec();
    }

private:
    ClipboardSnapshot content_;
};

QByteArray xclip(const QStringList& args, const QString& display, int timeoutMs = 5000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    p.setProcessEnvironment(env);
    test::endsWithTest(p);
    p.start("xclip", args);
    // Keep serving our clipboard while xclip asks for it.
    EXPECT_TRUE(test::waitUntil([&] { return p.state() == QProcess::NotRunning; }, timeoutMs));
    return p.readAllStandardOutput();
}

// Another program's clipboard that answers a request only once this thread's event loop has
// turned a few times after it came: whoever reads it while blocking this thread is never
// answered in time.
class GatedOwner : public QThread {
public:
    explicit GatedOwner(QByteArray text) : text_(std::move(text)) {}
    std::atomic<int> turns{0}; // counted on the GUI thread
    std::atomic<bool> stop{false};

    void run() override
    {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        auto atom = [&](const char* name) {
            auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
            const xcb_atom_t a = r ? r->atom : 0;
            std::free(r);
            return a;
        };
        const xcb_atom_t clipboard = atom("CLIPBOARD"), targets = atom("TARGETS"), utf8 = atom("UTF8_STRING");
        xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
        xcb_flush(c);
        while (!stop) {
            xcb_generic_event_t* ev = xcb_poll_for_event(c);
            if (!ev) {
                QThread::msleep(2);
                continue;
            }
            if ((ev->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
                auto* req = reinterpret_cast<xcb_selection_request_event_t*>(ev);
                for (const int seen = turns; !stop && turns < seen + 3;) QThread::msleep(2);
                xcb_selection_notify_event_t notify{};
                notify.response_type = XCB_SELECTION_NOTIFY;
                notify.requestor = req->requestor;
                notify.selection = req->selection;
                notify.target = req->target;
                notify.time = req->time;
                notify.property = req->property;
                if (req->target == targets) {
                    const xcb_atom_t list[] = {targets, utf8};
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, req->property, XCB_ATOM_ATOM, 32, 2, list);
                } else if (req->target == utf8) {
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, req->property, utf8, 8,
                                        uint32_t(text_.size()), text_.constData());
                } else {
                    notify.property = XCB_ATOM_NONE;
                }
                xcb_send_event(c, 0, req->requestor, 0, reinterpret_cast<const char*>(&notify));
                xcb_flush(c);
            }
            std::free(ev);
        }
        xcb_disconnect(c);
    }

private:
    QByteArray text_;
};

// Bytes that do not compress, behind a PNG signature.
QByteArray noise(qint64 size)
{
    QByteArray out(size, Qt::Uninitialized);
    std::mt19937 random(7);
    for (char& c : out) c = char(random());
    out.replace(0, 8, QByteArray("\x89PNG\r\n\x1a\n", 8));
    return out;
}

// A private X server of its own for each test (no window manager), with xclip as the other program.
class ReplyTypingX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(display.start());
        ASSERT_FALSE(QStandardPaths::findExecutable("xclip").isEmpty()) << "xclip is in scripts/bootstrap";
        env.emplace("DISPLAY", display.name());
    }

    test::TempHome home;
    Display display;
    std::optional<test::EnvGuard> env;
};

} // namespace

// It owns a display connection and a thread: a copy would close and free them twice.
TEST(X11DesktopAutomation, CannotBeCopied)
{
    EXPECT_FALSE(std::is_copy_constructible_v<X11DesktopAutomation>);
    EXPECT_FALSE(std::is_copy_assignable_v<X11DesktopAutomation>);
}

// A reply typed into a real xterm whose shell reads a line arrives whole, and the clipboard comes
// back afterwards with every target it offered and the same bytes, read by another program:
// large images (in pieces both ways), and an owner that answers only while the GUI thread runs.
TEST_F(ReplyTypingX11Test, ReplyArrivesInXtermAndClipboardComesBack)
{
    ASSERT_FALSE(QStandardPaths::findExecutable("xterm").isEmpty()) << "xterm is in scripts/bootstrap";

    // The terminal the agent runs in: its shell reports WINDOWID and its pid, then reads.
    const QString ids = home.file("ids"), out = home.file("out");
    QProcess xterm;
    test::endsWithTest(xterm);
    xterm.start("xterm", {"-xrm", "XTerm*VT100.translations: #override Ctrl Shift <Key>V: insert-selection(CLIPBOARD)",
                          "-e", "sh", "-c", QString("echo \"$WINDOWID $$\" > '%1'; exec cat > '%2'").arg(ids, out)});
    ASSERT_TRUE(test::waitUntil([&] { return test::readAll(ids).trimmed().split(' ').size() == 2; }, 10000));
    const QList<QByteArray> parts = test::readAll(ids).trimmed().split(' ');
    // The shell can run before xterm has mapped its window, and a window not yet shown cannot
    // take the keyboard; a user answers a terminal they see.
    xcb_connection_t* look = xcb_connect(display.name().toLatin1().constData(), nullptr);
    ASSERT_TRUE(test::waitUntil([&] {
        auto* a = xcb_get_window_attributes_reply(look, xcb_get_window_attributes(look, parts[0].toUInt()), nullptr);
        const bool shown = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        return shown;
    }, 10000));
    xcb_disconnect(look);

    Session s;
    s.id = "s1";
    s.agent = Agent::claude;
    s.windowID = parts[0].toUInt();
    s.agentPID = parts[1].toLongLong();
    X11DesktopAutomation automation;
    ASSERT_TRUE(automation.trusted());
    ReplySender sender(Clock::system(), &automation);

    const QByteArray smallPng = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==");
    const QByteArray bigPng = noise(22'700'000);
    enum class Owner { ours, xclip, gated };
    const struct Case {
        const char* name;
        Owner owner;
        QList<std::pair<QByteArray, QByteArray>> content; // target, data
    } cases[] = {
        {"a small image and a text", Owner::ours, {{"image/png", smallPng}, {"UTF8_STRING", "the user's text"}}},
        {"a 22.7 MB image and a text", Owner::ours, {{"image/png", bigPng}, {"UTF8_STRING", "the user's text"}}},
        {"a 22.7 MB image from xclip", Owner::xclip, {{"image/png", bigPng}}},
        {"an owner that answers only while the GUI thread runs", Owner::gated, {{"UTF8_STRING", "gated text"}}},
    };
    QByteArray typed;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QThread> owner;
        GatedOwner* gated = nullptr;
        QTimer turning;
        if (c.owner == Owner::ours) {
            ClipboardSnapshot before;
            for (const auto& [target, data] : c.content) before.items.append({target, target, 8, data});
            owner = std::make_unique<OtherOwner>(before);
        } else if (c.owner == Owner::gated) {
            owner = std::make_unique<GatedOwner>(c.content.first().second);
            gated = static_cast<GatedOwner*>(owner.get());
            QObject::connect(&turning, &QTimer::timeout, [gated] { ++gated->turns; });
            turning.start(5);
        } else {
            // xclip serves in the background until another program takes the clipboard.
            xclip({"-selection", "clipboard", "-t", "image/png", "-i", home.write("big.png", bigPng)}, display.name());
        }
        if (owner) owner->start();
        ASSERT_TRUE(test::waitUntil([&] {
            return xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"}, display.name()).contains(c.content.first().first);
        }));

        const QString reply = QString("echo \"it's\" $HOME `date` -- %1").arg(c.name);
        typed += reply.toUtf8() + "\n";
        std::optional<ReplySender::Result> result;
        sender.typeIntoApp(reply, s, [&](const ReplySender::Result& r) { result = r; });
        ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 15000));
        EXPECT_EQ(*result, ReplySender::Result::typed("XTerm")) << result->message().toStdString();
        EXPECT_TRUE(test::waitUntil([&] { return test::readAll(out) == typed; }, 5000)) << test::readAll(out).toStdString();

        ASSERT_TRUE(test::waitUntil([&] { return !sender.isTyping(); }, 5000));
        const QByteArray targets = xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"}, display.name());
        for (const auto& [target, data] : c.content) {
            EXPECT_TRUE(targets.contains(target)) << targets.toStdString();
            EXPECT_TRUE(xclip({"-o", "-selection", "clipboard", "-t", target}, display.name(), 20000) == data)
                << target.toStdString();
        }
        if (gated) gated->stop = true;
        if (owner) {
            owner->quit();
            owner->wait();
        }
    }
    xterm.kill();
    xterm.waitForFinished(3000);
}

// While a reply sits on the clipboard, the GUI thread may itself be blocked reading the
// clipboard (Qt's clipboard reads wait for the owner): our clipboard must still be served.
TEST_F(ReplyTypingX11Test, ClipboardIsServedWhileTheOwningThreadIsBusy)
{

    X11DesktopAutomation automation;
    automation.setClipboardText("the reply");
    EXPECT_TRUE(automation.ownsClipboard());
    EXPECT_FALSE(automation.pasteFetched());

    // waitForFinished does not run this thread's event loop.
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    penv.insert("DISPLAY", display.name());
    auto blockingXclip = [&](const char* target) {
        QProcess p;
        p.setProcessEnvironment(penv);
        test::endsWithTest(p);
        p.start("xclip", {"-o", "-selection", "clipboard", "-t", target});
        EXPECT_TRUE(p.waitForFinished(4000)) << "the clipboard was not served";
        return p.readAllStandardOutput();
    };
    // A clipboard history looks at the targets only, sees the marker and fetches nothing.
    EXPECT_TRUE(blockingXclip("TARGETS").contains("org.nspasteboard.TransientType"));
    EXPECT_FALSE(automation.pasteFetched());
    EXPECT_EQ(blockingXclip("UTF8_STRING"), "the reply");
    EXPECT_TRUE(automation.pasteFetched());

    // Our own snapshot of our own offer needs no round trip; an empty restore gives it up.
    const std::optional<ClipboardSnapshot> snap = test::takeSnapshot(automation);
    ASSERT_TRUE(snap && !snap->items.isEmpty());
    EXPECT_EQ(snap->items.first().data.bytes(), "the reply");
    automation.restoreClipboard({});
    EXPECT_FALSE(automation.ownsClipboard());
}

// Taken back right after another program took it, the clipboard still serves what we gave it:
// the notice of the earlier loss, read only while taking it back, does not empty the offer.
TEST_F(ReplyTypingX11Test, ClipboardTakenBackRightAfterALossIsServed)
{

    xcb_connection_t* other = xcb_connect(display.name().toLatin1().constData(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    const xcb_window_t window = xcb_generate_id(other);
    xcb_create_window(other, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    auto* clipboardAtom = xcb_intern_atom_reply(other, xcb_intern_atom(other, 0, 9, "CLIPBOARD"), nullptr);
    ASSERT_NE(clipboardAtom, nullptr);
    const xcb_atom_t clipboard = clipboardAtom->atom;
    std::free(clipboardAtom);

    X11DesktopAutomation automation;
    ClipboardSnapshot content;
    content.items.append({"UTF8_STRING", "UTF8_STRING", 8, "kept"});
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        automation.restoreClipboard(content);
        ASSERT_TRUE(automation.ownsClipboard());
        // Another program takes it; once the server answers us it has made the change.
        xcb_set_selection_owner(other, window, clipboard, XCB_CURRENT_TIME);
        std::free(xcb_get_selection_owner_reply(other, xcb_get_selection_owner(other, clipboard), nullptr));
        automation.restoreClipboard(content);
        ASSERT_TRUE(automation.ownsClipboard());
        ASSERT_EQ(xclip({"-o", "-selection", "clipboard", "-t", "UTF8_STRING"}, display.name()), "kept");
    }
    automation.restoreClipboard({});
    xcb_disconnect(other);
}

// What another program offers comes back as it was: the same targets (a snapshot once read
// four times the TARGETS reply and offered invented ones) and the same data.
TEST_F(ReplyTypingX11Test, RestoredClipboardOffersTheOriginalTargets)
{
    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==");
    const std::vector<std::pair<QString, QByteArray>> offers = {
        {"UTF8_STRING", "plain words"},
        {"image/png", png},
        {"text/html", "<b>bold</b>"},
    };
    X11DesktopAutomation automation;
    for (const auto& [target, data] : offers) {
        SCOPED_TRACE(target.toStdString());
        const QString file = home.write("offer", data);
        xclip({"-selection", "clipboard", "-t", target, "-i", file}, display.name());
        QByteArray original;
        ASSERT_TRUE(test::waitUntil([&] {
            original = xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"}, display.name());
            return original.contains(target.toUtf8());
        }));
        const std::optional<ClipboardSnapshot> snap = test::takeSnapshot(automation);
        ASSERT_TRUE(snap.has_value());
        automation.restoreClipboard(*snap);
        ASSERT_TRUE(automation.ownsClipboard());
        EXPECT_EQ(xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"}, display.name()), original);
        EXPECT_EQ(xclip({"-o", "-selection", "clipboard", "-t", target}, display.name()), data);
    }
    automation.restoreClipboard({});
}

// Data larger than one piece is served by the incremental protocol, from memory or from the spill
// file, to several programs at once; one that stops asking half way, or goes away, holds up
// nobody else.
TEST_F(ReplyTypingX11Test, LargeTargetsAreServedInPiecesToSeveralProgramsAtOnce)
{

    const QByteArray image = noise(22'700'000), html = noise(6'000'000).replace(0, 8, "<html>  ");
    ClipboardSnapshot content;
    {
        ClipboardDataWriter writer;
        ASSERT_TRUE(writer.append(image.constData(), image.size()));
        content.items.append({"image/png", "image/png", 8, writer.finish()});
    }
    content.items.append({"text/html", "text/html", 8, html});
    content.items.append({"UTF8_STRING", "UTF8_STRING", 8, "small"});
    ASSERT_TRUE(content.items.first().data.inFile());
    X11DesktopAutomation automation;
    automation.restoreClipboard(content);
    ASSERT_TRUE(automation.ownsClipboard());

    // Two programs that ask for the image and get its first answer (INCR): one stops there, the
    // other goes away.
    xcbsupport::SelectionClient stalled, gone;
    for (xcbsupport::SelectionClient* x : {&stalled, &gone}) {
        ASSERT_TRUE(x->open());
        const xcb_atom_t property = x->atom("LOMEX_TEST");
        xcb_convert_selection(x->conn, x->window, x->atom("CLIPBOARD"), x->atom("image/png"), property, XCB_CURRENT_TIME);
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(x->waitFor([](xcb_generic_event_t* e) { return (e->response_type & 0x7f) == XCB_SELECTION_NOTIFY; },
                               clock, 5000));
        auto* head = xcb_get_property_reply(
            x->conn, xcb_get_property(x->conn, 0, x->window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr);
        ASSERT_NE(head, nullptr);
        EXPECT_EQ(head->type, x->atom("INCR"));
        std::free(head);
    }
    gone.close();

    const struct {
        const char* target;
        QByteArray data;
    } reads[] = {{"image/png", image}, {"image/png", image}, {"text/html", html}, {"UTF8_STRING", "small"}};
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    penv.insert("DISPLAY", display.name());
    std::vector<std::unique_ptr<QProcess>> readers;
    for (const auto& r : reads) {
        readers.push_back(std::make_unique<QProcess>());
        readers.back()->setProcessEnvironment(penv);
        test::endsWithTest(*readers.back());
        readers.back()->start("xclip", {"-o", "-selection", "clipboard", "-t", r.target});
    }
    ASSERT_TRUE(test::waitUntil([&] {
        return std::all_of(readers.cbegin(), readers.cend(), [](const auto& p) { return p->state() == QProcess::NotRunning; });
    }, 30000));
    for (std::size_t i = 0; i < readers.size(); ++i)
        EXPECT_TRUE(readers[i]->readAllStandardOutput() == reads[i].data) << reads[i].target;

    // Once nobody offers it, the spill file goes when the stalled transfer is given up on.
    automation.restoreClipboard({});
    content = {};
    auto spillOpen = [] {
        const QFileInfoList fds = QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System);
        return std::any_of(fds.cbegin(), fds.cend(),
                           [](const QFileInfo& fd) { return fd.symLinkTarget().contains("/lomex-clipboard-"); });
    };
    EXPECT_TRUE(spillOpen()) << "the stalled transfer still holds it";
    EXPECT_TRUE(test::waitUntil([&] { return !spillOpen(); }, xcbsupport::SelectionOwner::stallMs + 5000));
    stalled.close();
}
