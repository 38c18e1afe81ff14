#include "AgentsTestSupport.h"
#include "XvfbDisplay.h"
#include "agents/ReplySender.h"
#include "core/Clock.h"
#include "platform/DesktopAutomation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>
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

QByteArray xclip(const QStringList& args, const QString& display)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    p.setProcessEnvironment(env);
    test::endsWithTest(p);
    p.start("xclip", args);
    // Keep serving our clipboard while xclip asks for it.
    EXPECT_TRUE(test::waitUntil([&] { return p.state() == QProcess::NotRunning; }, 5000));
    return p.readAllStandardOutput();
}

} // namespace

// It owns a display connection and a thread: a copy would close and free them twice.
TEST(X11DesktopAutomation, CannotBeCopied)
{
    EXPECT_FALSE(std::is_copy_constructible_v<X11DesktopAutomation>);
    EXPECT_FALSE(std::is_copy_assignable_v<X11DesktopAutomation>);
}

// A reply typed into a real xterm whose shell reads a line: it arrives whole, and the clipboard
// that held text and an image holds both again afterwards.
TEST(ReplyTypingX11Test, ReplyArrivesInXtermAndClipboardComesBack)
{
    test::TempHome home;
    Display display;
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(display.start());
    ASSERT_FALSE(QStandardPaths::findExecutable("xterm").isEmpty()) << "xterm is in scripts/bootstrap";
    ASSERT_FALSE(QStandardPaths::findExecutable("xclip").isEmpty()) << "xclip is in scripts/bootstrap";
    test::EnvGuard env("DISPLAY", display.name());

    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==");
    ClipboardSnapshot before;
    before.items.append({"image/png", "image/png", 8, png});
    before.items.append({"UTF8_STRING", "UTF8_STRING", 8, "the user's text"});
    OtherOwner other(before);
    other.start();
    ASSERT_TRUE(test::waitUntil([&] { return xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"}, display.name()).contains("image/png"); }));

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
    const QString reply = "echo \"it's\" $HOME `date` -- done";
    std::optional<ReplySender::Result> result;
    sender.typeIntoApp(reply, s, [&](const ReplySender::Result& r) { result = r; });
    ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 8000));
    EXPECT_EQ(*result, ReplySender::Result::typed("XTerm")) << result->message().toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return test::readAll(out) == reply.toUtf8() + "\n"; }, 5000))
        << test::readAll(out).toStdString();

    ASSERT_TRUE(test::waitUntil([&] { return !sender.isTyping(); }, 5000));
    const QByteArray targets = xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"}, display.name());
    EXPECT_TRUE(targets.contains("image/png")) << targets.toStdString();
    EXPECT_EQ(xclip({"-o", "-selection", "clipboard", "-t", "image/png"}, display.name()), png);
    EXPECT_EQ(xclip({"-o", "-selection", "clipboard", "-t", "UTF8_STRING"}, display.name()), "the user's text");

    other.quit();
    other.wait();
    xterm.kill();
    xterm.waitForFinished(3000);
}

// While a reply sits on the clipboard, the GUI thread may itself be blocked reading the
// clipboard (Qt's clipboard reads wait for the owner): our clipboard must still be served.
TEST(ReplyTypingX11Test, ClipboardIsServedWhileTheOwningThreadIsBusy)
{
    Display display;
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(display.start());
    ASSERT_FALSE(QStandardPaths::findExecutable("xclip").isEmpty()) << "xclip is in scripts/bootstrap";
    test::EnvGuard env("DISPLAY", display.name());

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
    const ClipboardSnapshot snap = automation.snapshotClipboard();
    ASSERT_FALSE(snap.items.isEmpty());
    EXPECT_EQ(snap.items.first().data, "the reply");
    automation.restoreClipboard({});
    EXPECT_FALSE(automation.ownsClipboard());
}

// Taken back right after another program took it, the clipboard still serves what we gave it:
// the notice of the earlier loss, read only while taking it back, does not empty the offer.
TEST(ReplyTypingX11Test, ClipboardTakenBackRightAfterALossIsServed)
{
    Display display;
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(display.start());
    ASSERT_FALSE(QStandardPaths::findExecutable("xclip").isEmpty()) << "xclip is in scripts/bootstrap";
    test::EnvGuard env("DISPLAY", display.name());

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
TEST(ReplyTypingX11Test, RestoredClipboardOffersTheOriginalTargets)
{
    test::TempHome home;
    Display display;
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(display.start());
    ASSERT_FALSE(QStandardPaths::findExecutable("xclip").isEmpty()) << "xclip is in scripts/bootstrap";
    test::EnvGuard env("DISPLAY", display.name());
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
        const ClipboardSnapshot snap = automation.snapshotClipboard();
        automation.restoreClipboard(snap);
        ASSERT_TRUE(automation.ownsClipboard());
        EXPECT_EQ(xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"}, display.name()), original);
        EXPECT_EQ(xclip({"-o", "-selection", "clipboard", "-t", target}, display.name()), data);
    }
    automation.restoreClipboard({});
}
