#include "AgentsTestSupport.h"
#include "agents/ReplySender.h"
#include "core/Clock.h"
#include "platform/DesktopAutomation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

using namespace lomex;

namespace {

// A private Xvfb display, without a window manager.
class Display {
public:
    bool start()
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty()) return false;
        for (int n = 500 + int(QCoreApplication::applicationPid() % 400); n < 1000; ++n) {
            if (QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(n)) || QFileInfo::exists(QString("/tmp/.X%1-lock").arg(n)))
                continue;
            name_ = QString(":%1").arg(n);
            test::endsWithTest(process_);
            process_.start(xvfb, {name_, "-nolisten", "tcp", "-screen", "0", "800x600x24"});
            if (!process_.waitForStarted(3000)) return false;
            return test::waitUntil([&] { return QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(n)); }, 5000);
        }
        return false;
    }
    ~Display()
    {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    QString name() const { return name_; }

private:
    QString name_;
    QProcess process_;
};

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
