#include "AgentsTestSupport.h"
#include "QStringPrint.h"
#include "agents/ReplySender.h"
#include "platform/AgentCli.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "platform/DesktopAutomation.h"
#include "FakeClock.h"
#include "FakeDesktopAutomation.h"
#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>
#include <csignal>

using namespace lomex;
using Kind = ReplySender::Result::Kind;

namespace {

Session session(Agent agent = Agent::claude, const QString& id = "3f2a9c1e-77aa-4e2b-9d1c-5a6b7c8d9e0f")
{
    Session s;
    s.id = id;
    s.agent = agent;
    s.agentPID = 4242;
    return s;
}

ClipboardSnapshot userClipboard()
{
    ClipboardSnapshot c;
    c.items.append({"image/png", "image/png", 8, QByteArray("\x89PNG\r\n\x1a\n....", 12)});
    c.items.append({"UTF8_STRING", "UTF8_STRING", 8, "copied by the user"});
    return c;
}

class ReplySenderTypingTest : public test::LomexTest {
protected:
    ReplySenderTypingTest()
    {
        fake.windows.append({7, "XTerm", "xterm.desktop", 4242, true});
        fake.clipboard = userClipboard();
        fake.owned = false;
        L10n::shared().setLanguage(AppLanguage::en);
    }

    // Types and runs the clock until the reply is done, its clipboard put back included.
    std::optional<ReplySender::Result> type(const Session& s, const QString& text = "yes, go on")
    {
        std::optional<ReplySender::Result> result;
        int calls = 0;
        sender.typeIntoApp(text, s, [&](const ReplySender::Result& r) {
            result = r;
            ++calls;
        });
        for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
        EXPECT_LE(calls, 1) << "the completion runs once";
        return result;
    }

    FakeClock clock;
    FakeDesktopAutomation fake;
    ReplySender sender{&clock, &fake};
};

} // namespace

TEST_F(ReplySenderTypingTest, TypedReplyIsPastedIntoTheTerminalThenReturnAndTheClipboardComesBack)
{
    auto result = type(session());
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, ReplySender::Result::typed("XTerm"));
    EXPECT_EQ(result->message(), "Sent to XTerm");
    EXPECT_EQ(fake.typed, QStringList{"yes, go on"});
    EXPECT_EQ(fake.calls, (QStringList{"snapshot", "activate 7", "set clipboard", "paste terminal", "return", "restore"}));
    EXPECT_EQ(fake.clipboard.items.size(), 2) << "image and text again";
    EXPECT_EQ(fake.clipboard.items.at(0).target, "image/png");
}

// A clipboard too large to be held whole is not "put back" as an empty or partial one: the reply
// stays on it, and the status line says so.
TEST_F(ReplySenderTypingTest, AClipboardThatCouldNotBeHeldWholeIsLeftWithTheReplyAndSaysSo)
{
    fake.clipboard.complete = false;
    auto result = type(session());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, ReplySender::Result::Kind::typed);
    EXPECT_TRUE(result->clipboardHoldsReply);
    EXPECT_EQ(result->message(), "Sent to XTerm The clipboard now holds the reply: what it held before was too large to put back.");
    EXPECT_FALSE(fake.calls.contains("restore"));
    ASSERT_EQ(fake.clipboard.items.size(), 1);
    EXPECT_EQ(fake.clipboard.items.first().data.bytes(), "yes, go on");
}

// The clipboard is read off the GUI thread: nothing is pasted before its snapshot came; one that
// never comes lets the reply go on, and the clipboard then keeps the reply, as the line says.
TEST_F(ReplySenderTypingTest, ThePasteWaitsForTheClipboardSnapshot)
{
    fake.snapshotsAtOnce = false;
    std::optional<ReplySender::Result> result;
    sender.typeIntoApp("yes, go on", session(), [&](const ReplySender::Result& r) { result = r; });
    for (int i = 0; i < 50; ++i) clock.advance(0.02); // well past the paste's delay
    EXPECT_EQ(fake.calls, (QStringList{"snapshot", "activate 7"}));
    ASSERT_TRUE(fake.answerSnapshot());
    for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, ReplySender::Result::typed("XTerm"));
    EXPECT_EQ(fake.calls, (QStringList{"snapshot", "activate 7", "set clipboard", "paste terminal", "return", "restore"}));
    EXPECT_EQ(fake.clipboard.items.size(), 2) << "image and text again";

    fake.calls.clear();
    result.reset();
    sender.typeIntoApp("once more", session(), [&](const ReplySender::Result& r) { result = r; });
    for (int i = 0; i < 1000 && sender.isTyping(); ++i) clock.advance(0.02);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->clipboardHoldsReply);
    EXPECT_FALSE(fake.calls.contains("restore"));
    EXPECT_TRUE(fake.answerSnapshot()) << "the late snapshot is dropped";
    EXPECT_EQ(fake.clipboard.items.first().data.bytes(), "once more");
}

// Every way a typed reply can end early; nothing is pasted anywhere unless the window was
// confirmed in front, and a clipboard we took is always put back.
TEST_F(ReplySenderTypingTest, EarlyEndsTouchNothingOrRestore)
{
    struct Case {
        const char* name;
        std::function<void(FakeDesktopAutomation&, Session&)> setup;
        Kind kind;
        const char* message;
        QStringList calls;
    };
    const std::vector<Case> cases{
        {"no XTEST", [](auto& f, auto&) { f.isTrusted = false; }, Kind::needsAccessibility,
         "Typing replies needs an X11 session with the XTEST extension. Try “background” mode in Settings.", {}},
        {"no window", [](auto&, auto& s) { s.agentPID = 1; }, Kind::noApp,
         "Couldn't find the session's app. Try “background” mode in Settings.", {}},
        {"our own window", [](auto& f, auto&) { f.windows[0].pid = QCoreApplication::applicationPid(); }, Kind::noApp,
         "Couldn't find the session's app. Try “background” mode in Settings.", {}},
        {"not activated", [](auto& f, auto&) { f.activates = false; }, Kind::failed,
         "Couldn't bring XTerm to the front; nothing was pasted.", {"snapshot", "activate 7"}},
        {"never fetched", [](auto& f, auto&) { f.fetches = false; }, Kind::failed,
         "XTerm didn't take the pasted reply; nothing was sent.",
         {"snapshot", "activate 7", "set clipboard", "paste terminal", "restore"}},
    };
    for (const Case& c : cases) {
        FakeDesktopAutomation f;
        f.windows.append({7, "XTerm", "xterm.desktop", 4242, true});
        f.clipboard = userClipboard();
        Session s = session();
        c.setup(f, s);
        ReplySender r{&clock, &f};
        std::optional<ReplySender::Result> result;
        r.typeIntoApp("hi", s, [&](const ReplySender::Result& x) { result = x; });
        for (int i = 0; i < 200 && r.isTyping(); ++i) clock.advance(0.02);
        ASSERT_TRUE(result) << c.name;
        EXPECT_EQ(result->kind, c.kind) << c.name;
        EXPECT_EQ(result->message(), c.message) << c.name;
        EXPECT_EQ(f.calls, c.calls) << c.name;
        EXPECT_TRUE(f.typed.isEmpty()) << c.name;
        EXPECT_EQ(f.clipboard.items.size(), 2) << c.name << ": the user's clipboard is intact";
    }
}

TEST_F(ReplySenderTypingTest, FocusLostBeforeReturnPressesNothing)
{
    std::optional<ReplySender::Result> result;
    sender.typeIntoApp("hi", session(), [&](const ReplySender::Result& r) { result = r; });
    for (int i = 0; i < 200 && fake.typed.isEmpty(); ++i) clock.advance(0.02);
    fake.activeWindow = 99; // another window came to the front
    for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, Kind::failed);
    EXPECT_FALSE(fake.calls.contains("return"));
}

TEST_F(ReplySenderTypingTest, CopyMadeMeanwhileSurvivesAndOneReplyAtATime)
{
    std::optional<ReplySender::Result> first, second;
    sender.typeIntoApp("one", session(), [&](const ReplySender::Result& r) { first = r; });
    sender.typeIntoApp("two", session(), [&](const ReplySender::Result& r) { second = r; });
    ASSERT_TRUE(second);
    EXPECT_EQ(second->message(), "The previous reply is still being typed.");
    for (int i = 0; i < 200 && !first; ++i) clock.advance(0.02);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->kind, Kind::typed);
    // The user copies something before the clipboard would be put back.
    fake.clipboard = {};
    fake.clipboard.items.append({"UTF8_STRING", "UTF8_STRING", 8, "newer copy"});
    fake.owned = false;
    for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
    EXPECT_FALSE(fake.calls.contains("restore"));
    EXPECT_EQ(fake.clipboard.items.first().data.bytes(), "newer copy");
}

TEST_F(ReplySenderTypingTest, ChordAndNameFollowTheTargetAndAgent)
{
    // An editor window found by desktop id takes Ctrl+V; a Cursor session never gets the
    // terminal chord; without a window name the agent's name is shown.
    fake.windows = {{9, "", "code.desktop", 0, false}};
    Session codex = session(Agent::codex);
    codex.agentPID.reset();
    codex.termProgram = "vscode";
    auto result = type(codex);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->message(), "Sent to Codex");
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(result->message(), "Odesláno do Codex");
    EXPECT_TRUE(fake.calls.contains("paste"));

    fake.calls.clear();
    fake.windows = {{7, "XTerm", "xterm.desktop", 4242, true}};
    ASSERT_TRUE(type(session(Agent::cursor)));
    EXPECT_TRUE(fake.calls.contains("paste")) << fake.calls.join(", ").toStdString();
}

// The result line names the window's application as its desktop entry does, in the app's
// language, and falls back to the window class, then to the agent.
TEST_F(ReplySenderTypingTest, ResultLineNamesTheApplicationAsItsDesktopEntryDoes)
{
    home.write(".local/share/applications/org.gnome.Terminal.desktop",
               "[Desktop Entry]\nType=Application\nName=Terminal\nName[cs]=Terminál\nStartupWMClass=Gnome-terminal\n");
    home.write(".local/share/applications/kitty.desktop", "[Desktop Entry]\nType=Application\nName=kitty\n");
    home.write(".local/share/applications/nameless.desktop", "[Desktop Entry]\nType=Application\nIcon=x\n");
    const struct {
        TargetWindow window;
        AppLanguage language;
        const char* message;
    } cases[] = {
        {{7, "Gnome-terminal", "org.gnome.Terminal.desktop", 4242, true}, AppLanguage::en, "Sent to Terminal"},
        {{7, "Gnome-terminal", "org.gnome.Terminal.desktop", 4242, true}, AppLanguage::cs, "Odesláno do Terminál"},
        {{7, "kitty", "kitty.desktop", 4242, true}, AppLanguage::cs, "Odesláno do kitty"},
        {{7, "XTerm", "xterm-not-installed.desktop", 4242, true}, AppLanguage::en, "Sent to XTerm"},
        {{7, "Nameless", "nameless.desktop", 4242, true}, AppLanguage::en, "Sent to Nameless"},
        {{7, "", "", 4242, true}, AppLanguage::cs, "Odesláno do Claude"},
    };
    for (const auto& c : cases) {
        L10n::shared().setLanguage(c.language);
        fake.windows = {c.window};
        auto result = type(session());
        ASSERT_TRUE(result) << c.message;
        EXPECT_EQ(result->kind, Kind::typed) << c.message;
        EXPECT_EQ(result->message(), QString::fromUtf8(c.message));
    }
    // The words come from the text table, in the language shown now.
    EXPECT_TRUE(L10n::hasKey("reply.sent"));
    L10n::shared().setLanguage(AppLanguage::en);
    EXPECT_EQ(ReplySender::Result::typed("Terminál").message(), QString::fromUtf8("Sent to Terminál"));
}

// ---- background ----

namespace {

class ReplySenderBackgroundTest : public test::LomexTest {
protected:
    ReplySenderBackgroundTest()
    {
        L10n::shared().setLanguage(AppLanguage::en);
        bin = home.file("bin");
        QDir().mkpath(bin);
        // The login shell reads the profile: that is where the agents' folder joins PATH.
        home.write(".profile", QString("PATH=\"%1:$PATH\"; export PATH\n").arg(bin).toUtf8());
        home.write(".bash_profile", QString("PATH=\"%1:$PATH\"; export PATH\n").arg(bin).toUtf8());
    }

    // A stand-in agent that writes its working directory and arguments, one per record.
    void stub(const char* name, const char* tail = "exit 0")
    {
        const QString path = home.write(QString("bin/") + name,
            QByteArray("#!/bin/sh\npwd > \"$HOME/") + name + ".cwd\"\n"
            "for a in \"$@\"; do printf '%s\\036' \"$a\"; done > \"$HOME/" + name + ".args\"\n" + tail + "\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QStringList args(const char* name) const
    {
        QStringList out = QString::fromUtf8(test::readAll(home.file(QString(name) + ".args"))).split(QChar(0x1e));
        out.removeLast();
        return out;
    }

    ReplySender::Result run(const Session& s, const QString& text, double advance = 0)
    {
        std::optional<ReplySender::Result> result;
        sender.runInBackground(text, s, [&](const ReplySender::Result& r) { result = r; });
        if (advance > 0) clock.advance(advance);
        EXPECT_TRUE(test::waitUntil([&] { return result.has_value(); }, 15000));
        return result.value_or(ReplySender::Result::failed("no result"));
    }

    QString bin;
    FakeClock clock;
    FakeDesktopAutomation fake;
    ReplySender sender{&clock, &fake};
};

} // namespace

TEST_F(ReplySenderBackgroundTest, ReplyReachesTheAgentUnchanged)
{
    stub("claude");
    stub("codex");
    const QString tricky = "-p \"quoted\" 'single' $HOME `date` $(id)\nsecond line\\n ; rm -rf x";
    Session claude = session(Agent::claude);
    claude.cwd = home.path();
    EXPECT_EQ(run(claude, tricky), ReplySender::Result::background());
    EXPECT_EQ(args("claude"), (QStringList{"--resume", claude.id, "-p", "--", tricky}));
    EXPECT_EQ(test::readAll(home.file("claude.cwd")).trimmed(), QDir(home.path()).canonicalPath().toUtf8());

    Session codex = session(Agent::codex, "019a-codex_thread.2");
    EXPECT_EQ(run(codex, "-- go"), ReplySender::Result::background());
    EXPECT_EQ(args("codex"), (QStringList{"exec", "resume", codex.id, "--", "-- go"}));
    EXPECT_EQ(test::readAll(home.file("codex.cwd")).trimmed(), QDir::currentPath().toUtf8())
        << "no working directory: the app's own";
}

TEST_F(ReplySenderBackgroundTest, TheToolIsFoundWhereTheSetupFindsIt)
{
    // Only the installer's folder holds the tool and no profile puts it on PATH: the reply
    // runs the very file the setup page would report as installed.
    const struct {
        Agent agent;
        const char* name;
        QStringList before; // the arguments before the reply
    } cases[] = {
        {Agent::claude, "claude", {"--resume", "sess-1", "-p", "--"}},
        {Agent::codex, "codex", {"exec", "resume", "sess-1", "--"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString tool = home.write(QString(".local/bin/") + c.name,
            QByteArray("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\036' \"$a\"; done > \"$HOME/") + c.name + ".args\"\n");
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(run(session(c.agent, "sess-1"), "go on"), ReplySender::Result::background());
        EXPECT_EQ(args(c.name), c.before + QStringList{"go on"});
    }
    EXPECT_EQ(agentcli::claudeExecutable(), home.file(".local/bin/claude"));
}

TEST_F(ReplySenderBackgroundTest, FailuresAreReportedNotSent)
{
    // Missing command.
    auto missing = run(session(), "hi");
    EXPECT_EQ(missing.kind, Kind::failed);
    EXPECT_EQ(missing.message(), "Couldn't start Claude: command not found");
    // The agent gives up at once (an unknown session, say).
    stub("claude", "exit 3");
    EXPECT_EQ(run(session(), "hi").message(), "Claude stopped at once – the reply was not sent.");
    // A session id that is not a plain token never reaches a shell.
    stub("claude");
    QFile::remove(home.file("claude.args"));
    for (const char* id : {"-rf", "a b", "$(id)", "x;y", ""}) {
        const auto r = run(session(Agent::claude, id), "hi");
        EXPECT_EQ(r.message(), "The session id is not a plain token; nothing was run.") << id;
    }
    EXPECT_FALSE(QFile::exists(home.file("claude.args")));
    // A working directory that does not exist: the shell cannot start there.
    Session gone = session();
    gone.cwd = home.file("gone");
    const auto r = run(gone, "hi");
    EXPECT_EQ(r.kind, Kind::failed);
    EXPECT_TRUE(r.message().startsWith("Couldn't start Claude: ")) << r.message().toStdString();
}

TEST_F(ReplySenderBackgroundTest, LongRunningAgentIsReportedAfterTheGrace)
{
    stub("codex", "echo $$ > \"$HOME/codex.pid\"; exec sleep 30");
    Session s = session(Agent::codex);
    std::optional<ReplySender::Result> result;
    sender.runInBackground("hi", s, [&](const ReplySender::Result& r) { result = r; });
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(home.file("codex.args")); }, 15000));
    EXPECT_FALSE(result);
    clock.advance(ReplySender::backgroundGrace);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, ReplySender::Result::background());
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(result->message(), "Odesláno – běží na pozadí");
    // The agent keeps running in its own session; end it here.
    ASSERT_TRUE(test::waitUntil([&] { return !test::readAll(home.file("codex.pid")).trimmed().isEmpty(); }));
    const qint64 pid = test::readAll(home.file("codex.pid")).trimmed().toLongLong();
    ASSERT_GT(pid, 1);
    ::kill(pid_t(pid), SIGTERM);
}
