#include "AgentsTestSupport.h"
#include "agents/ApprovalToken.h"
#include "agents/HookCommandMode.h"
#include "agents/HookInstaller.h"
#include "core/Paths.h"
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

using namespace lomex;
using lomex::test::EnvGuard;
using lomex::test::fixture;
using lomex::test::readAll;
using Json = nlohmann::ordered_json;

namespace {

Json readJson(const QString& path) {
    const QByteArray bytes = readAll(path);
    return Json::parse(bytes.begin(), bytes.end());
}

std::vector<std::string> keysOf(const Json& obj) {
    std::vector<std::string> keys;
    for (auto it = obj.begin(); it != obj.end(); ++it) keys.push_back(it.key());
    return keys;
}

unsigned modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Our entries (command holding the marker) under one event.
int ourEntries(const Json& root, const char* event) {
    int n = 0;
    for (const Json& entry : root["hooks"][event])
        if (entry.is_object() && entry.contains("hooks") && entry["hooks"].is_array())
            for (const Json& h : entry["hooks"])
                if (h.is_object() && h.value("command", "").find("lomex-agent") != std::string::npos) ++n;
    return n;
}

} // namespace

class HookInstallerTest : public lomex::test::LomexTest {
protected:
    // The real environment may point at the user's own agent folders; never touch those.
    EnvGuard claudeDir{"CLAUDE_CONFIG_DIR", std::nullopt};
    EnvGuard codexHome{"CODEX_HOME", std::nullopt};

    void TearDown() override { HookInstaller::setBeforeReplaceHook({}); }
    QString settings() const { return home.file(".claude/settings.json"); }
    QString backup() const { return settings() + ".lomex.bak"; }
};

TEST_F(HookInstallerTest, CommandLinesAreExact) {
    EXPECT_EQ(HookInstaller::command(7841, Agent::claude),
              "curl -s -m 2 -X POST -H 'Content-Type: application/json' -H 'Expect:' "
              "-H \"X-Term-Program: ${TERM_PROGRAM:-}\" "
              "-H \"X-Window-Id: ${WINDOWID:-}\" -H \"X-Agent-Pid: ${PPID:-}\" --data-binary @- 'http://127.0.0.1:7841/event?src=lomex-agent' >/dev/null 2>&1 || true");
    EXPECT_TRUE(HookInstaller::command(9000, Agent::codex).contains("'http://127.0.0.1:9000/event?src=lomex-agent&agent=codex' "));
    EXPECT_TRUE(HookInstaller::command(7841, Agent::cursor).contains("/event?src=lomex-agent&agent=cursor'"));

    // The token is read from its private file when the hook runs, never written into the line
    // (a command line is visible to every local account for as long as the hook waits).
    const QString token = ApprovalToken::value();
    ASSERT_GE(token.size(), 16);
    const QString permission = HookInstaller::permissionCommand(7841, Agent::claude);
    EXPECT_EQ(permission,
              "r=$(curl -s -m 590 -X POST -H 'Content-Type: application/json' -H 'Expect:' "
              "-H \"X-Term-Program: ${TERM_PROGRAM:-}\" "
              "-H \"X-Window-Id: ${WINDOWID:-}\" -H \"X-Agent-Pid: ${PPID:-}\" --data-binary @- 'http://127.0.0.1:7841/permission?src=lomex-agent' 2>/dev/null); "
              "t=; read -r t 2>/dev/null <'" + ApprovalToken::filePath() + "'; "
              "case \"$r\" in \"$t \"*) [ -n \"$t\" ] && printf '%s' \"${r#\"$t \"}\";; esac; true");
    EXPECT_FALSE(permission.contains(token));
    EXPECT_TRUE(permission.contains("lomex-agent"));
}

// The command lines are run by the agent's shell: check them with /bin/sh and a stand-in curl.
TEST_F(HookInstallerTest, CommandLinesBehaveInTheShell) {
    const QString bin = home.file("bin");
    QDir().mkpath(bin);
    const QString curl = home.write("bin/curl",
        "#!/bin/sh\n"
        "cat > \"$FAKE_DIR/body\"\n"
        "printf '%s\\n' \"$@\" > \"$FAKE_DIR/args\"\n"
        "printf '%s' \"$FAKE_REPLY\"\n"
        "exit \"${FAKE_STATUS:-0}\"\n");
    QFile::setPermissions(curl, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    auto run = [&](const QString& line, const QString& reply, int curlStatus) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", bin + ":/usr/bin:/bin");
        env.insert("FAKE_DIR", home.path());
        env.insert("FAKE_REPLY", reply);
        env.insert("FAKE_STATUS", QString::number(curlStatus));
        env.insert("TERM_PROGRAM", "kitty");
        env.insert("WINDOWID", "41943054");
        env.remove("__CFBundleIdentifier");
        p.setProcessEnvironment(env);
        p.start("/bin/sh", {"-c", line});
        p.write(R"({"hook_event_name":"Stop"})");
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 0) << "hook lines always succeed";
        return p.readAllStandardOutput();
    };

    EXPECT_EQ(run(HookInstaller::command(7841, Agent::claude), "ok", 7), "");
    EXPECT_EQ(readAll(home.file("body")), R"({"hook_event_name":"Stop"})");
    const QString args = QString::fromUtf8(readAll(home.file("args")));
    EXPECT_TRUE(args.contains("X-Term-Program: kitty\n")) << args.toStdString();
    EXPECT_FALSE(args.contains("X-Bundle-Id"));
    EXPECT_TRUE(args.contains("X-Window-Id: 41943054\n"));
    // The agent's pid is the hook shell's parent: this test process.
    EXPECT_TRUE(args.contains(QString("X-Agent-Pid: %1\n").arg(QCoreApplication::applicationPid()))) << args.toStdString();
    EXPECT_TRUE(args.contains("http://127.0.0.1:7841/event?src=lomex-agent\n"));

    const QString token = ApprovalToken::value();
    const QString decision = R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"allow"}}})";
    const QString permission = HookInstaller::permissionCommand(7841, Agent::claude);
    EXPECT_EQ(run(permission, token + " " + decision, 0), decision.toUtf8()) << "the token and one blank are cut off";
    EXPECT_EQ(run(permission, QString(token).replace(0, 1, token[0] == 'a' ? "b" : "a") + " " + decision, 0), "")
        << "a reply without our token prints nothing";
    EXPECT_EQ(run(permission, decision, 0), "");
    EXPECT_EQ(run(permission, "", 28), "") << "timeout or no server: no decision";
    // Without a readable token nothing is ever printed, not even for a reply of a blank.
    QFile::remove(ApprovalToken::filePath());
    EXPECT_EQ(run(permission, token + " " + decision, 0), "");
    EXPECT_EQ(run(permission, " " + decision, 0), "");
}

// A data folder whose path holds a quote or blanks still reaches the token file.
TEST_F(HookInstallerTest, TokenFilePathIsQuotedForTheShell) {
    const QString data = home.file("it's data/share");
    QDir().mkpath(data);
    qputenv("XDG_DATA_HOME", data.toUtf8());
    const QString token = ApprovalToken::value();
    ASSERT_TRUE(ApprovalToken::filePath().startsWith(data));
    QProcess p;
    const QString line = HookInstaller::permissionCommand(7841, Agent::claude)
        .replace(QRegularExpression("^r=\\$\\(curl .*2>/dev/null\\); "), "r=\"$REPLY_TEXT\"; ");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("REPLY_TEXT", token + " {\"x\":1}");
    p.setProcessEnvironment(env);
    p.start("/bin/sh", {"-c", line});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.readAllStandardOutput(), "{\"x\":1}");
}

TEST_F(HookInstallerTest, HookCommandModePrintsTheLine) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(hookCommandMode({"Stop"}), 0);
    EXPECT_EQ(QString::fromStdString(testing::internal::GetCapturedStdout()),
              HookInstaller::command(7841, Agent::claude) + "\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(hookCommandMode({"PermissionRequest"}), 0);
    EXPECT_EQ(QString::fromStdString(testing::internal::GetCapturedStdout()),
              HookInstaller::permissionCommand(7841, Agent::claude) + "\n");
}

TEST_F(HookInstallerTest, InstallKeepsEverythingForeignInPlace) {
    const QByteArray original = fixture("claude-settings-foreign.json");
    ASSERT_FALSE(original.isEmpty());
    home.write(".claude/settings.json", original);
    const Json before = Json::parse(original.begin(), original.end());

    EXPECT_FALSE(HookInstaller::isInstalled());
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_TRUE(HookInstaller::isInstalled());
    EXPECT_EQ(readAll(backup()), original) << "backup holds the file as it was";

    const Json after = readJson(settings());
    EXPECT_EQ(keysOf(after), keysOf(before)) << "the user's member order stays";
    for (const char* key : {"$schema", "model", "env", "permissions", "statusLine", "includeCoAuthoredBy"})
        EXPECT_EQ(after[key], before[key]) << key;

    const Json& hooks = after["hooks"];
    for (const auto& event : HookInstaller::events) {
        EXPECT_EQ(ourEntries(after, event.name), 1) << event.name;
        const Json& ours = hooks[event.name].back();
        EXPECT_EQ(ours.contains("matcher"), event.matcher != nullptr) << event.name;
        const bool permission = std::string(event.name) == "PermissionRequest";
        EXPECT_EQ(ours["hooks"][0]["timeout"], permission ? 600 : 5);
        EXPECT_EQ(ours["hooks"][0]["type"], "command");
        EXPECT_EQ(QString::fromStdString(ours["hooks"][0]["command"].get<std::string>()),
                  permission ? HookInstaller::permissionCommand(7841, Agent::claude)
                             : HookInstaller::command(7841, Agent::claude));
    }
    // A foreign entry keeps its place ahead of ours.
    EXPECT_EQ(hooks["PreToolUse"].size(), 2u);
    EXPECT_EQ(hooks["PreToolUse"][0], before["hooks"]["PreToolUse"][0]);
    // An entry that held an old hook of ours beside a foreign one keeps the foreign one.
    ASSERT_EQ(hooks["Stop"].size(), 2u);
    EXPECT_EQ(hooks["Stop"][0]["hooks"], Json::parse(R"([{"type":"command","command":"notify-send 'Claude finished'"}])"));
    // Things that are not entries stay.
    ASSERT_EQ(hooks["Notification"].size(), 3u);
    EXPECT_EQ(hooks["Notification"][0], "left here by hand");
    EXPECT_EQ(hooks["Notification"][1], before["hooks"]["Notification"][1]);
    // An old entry of ours is replaced, not kept beside the new one.
    EXPECT_EQ(hooks["UserPromptSubmit"].size(), 1u);
    // Events we do not install keep what they hold until uninstall.
    EXPECT_EQ(hooks["TaskCompleted"], before["hooks"]["TaskCompleted"]);
}

TEST_F(HookInstallerTest, InstallTwiceChangesNothingThenPortOrTokenChangeIsSeen) {
    home.write(".claude/settings.json", fixture("claude-settings-foreign.json"));
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    const QByteArray first = readAll(settings());
    const QByteArray firstBackup = readAll(backup());

    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_EQ(readAll(settings()), first);
    EXPECT_EQ(readAll(backup()), firstBackup) << "no rewrite, so no new backup";
    EXPECT_TRUE(HookInstaller::isInstalled());

    ASSERT_EQ(HookInstaller::install(9000), std::nullopt);
    EXPECT_FALSE(HookInstaller::isInstalled()) << "another port is not our installation";
    EXPECT_EQ(readAll(backup()), firstBackup) << "a version holding our hooks never replaces the user's own";
    EXPECT_EQ(ourEntries(readJson(settings()), "Stop"), 1);

    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_TRUE(HookInstaller::isInstalled());

    // A new token (another installation's file) needs no new line: hooks read the file.
    paths::ensureDir(QFileInfo(ApprovalToken::filePath()).absolutePath());
    QFile f(ApprovalToken::filePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("0123456789abcdef0123456789abcdef\n");
    f.close();
    readTokenAgain(home);
    ASSERT_EQ(ApprovalToken::value(), "0123456789abcdef0123456789abcdef");
    EXPECT_TRUE(HookInstaller::isInstalled());
    EXPECT_FALSE(readAll(settings()).contains("0123456789abcdef0123456789abcdef"));
}

// Our older command lines carried the token; they are replaced on the next install or start,
// and files without our entries are left alone.
TEST_F(HookInstallerTest, OlderCommandLinesAreReplaced) {
    const QString old = "r=$(curl -s -m 590 -X POST 'http://127.0.0.1:7841/permission?src=lomex-agent' 2>/dev/null); "
                        "case \"$r\" in \"0123456789abcdef \"*) printf '%s' \"${r#0123456789abcdef }\";; esac; true";
    Json root = Json::object();
    root["hooks"]["PermissionRequest"] = Json::array({Json{{"matcher", "*"},
        {"hooks", Json::array({Json{{"type", "command"}, {"command", old.toStdString()}, {"timeout", 600}}})}}});
    root["hooks"]["Stop"] = Json::array({Json{{"hooks", Json::array({Json{{"type", "command"}, {"command", "mine"}}})}}});
    home.write(".claude/settings.json", QByteArray::fromStdString(root.dump(2)));
    const QString other = home.write(".claude-work/settings.json", R"({"hooks":{"Stop":[]}})");
    const QByteArray otherBefore = readAll(other);

    EXPECT_FALSE(HookInstaller::isInstalled());
    EXPECT_TRUE(HookInstaller::refreshInstalled(7841).isEmpty());
    const QByteArray after = readAll(settings());
    EXPECT_FALSE(after.contains("0123456789abcdef"));
    EXPECT_TRUE(after.contains(HookInstaller::permissionCommand(7841, Agent::claude).toUtf8().replace("\"", "\\\"")));
    EXPECT_TRUE(after.contains("\"mine\""));
    EXPECT_EQ(ourEntries(readJson(settings()), "PermissionRequest"), 1);
    EXPECT_EQ(readAll(other), otherBefore) << "a file without our hooks gets none";
    EXPECT_FALSE(QFile::exists(HookInstaller::Codex::hooksFile()));
}

// A "hooks" member or an event value of a type we would have to replace: the file is
// refused with an error naming it, and nothing is written.
TEST_F(HookInstallerTest, ForeignShapesAreRefusedNotOverwritten) {
    struct Case { const char* content; const char* message; };
    const Case cases[] = {
        {R"({"hooks": ["mine"]})", R"(: "hooks" is not a JSON object – please check it manually.)"},
        {R"({"hooks": "mine"})", R"(: "hooks" is not a JSON object – please check it manually.)"},
        {R"({"hooks": {"Stop": {"hooks": []}}})", R"(: "hooks" → "Stop" is not a JSON array – please check it manually.)"},
        {R"({"hooks": {"PreToolUse": "x"}})", R"(: "hooks" → "PreToolUse" is not a JSON array – please check it manually.)"},
    };
    for (const Case& c : cases) {
        home.write(".claude/settings.json", c.content);
        const auto error = HookInstaller::install(7841);
        ASSERT_TRUE(error) << c.content;
        EXPECT_EQ(error->domain, "Lomex");
        EXPECT_EQ(error->code, 2);
        EXPECT_EQ(error->message, settings() + QString::fromUtf8(c.message));
        EXPECT_EQ(readAll(settings()), c.content);
        EXPECT_FALSE(QFile::exists(backup()));
    }
    home.write(".codex/hooks.json", R"({"hooks": 3})");
    EXPECT_TRUE(HookInstaller::Codex::install(7841));
    EXPECT_EQ(readAll(HookInstaller::Codex::hooksFile()), R"({"hooks": 3})");
}

TEST_F(HookInstallerTest, WhiteSpaceFileCountsAsEmpty) {
    home.write(".claude/settings.json", " \n\t\r\n");
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_TRUE(HookInstaller::isInstalled());
    EXPECT_EQ(readAll(backup()), " \n\t\r\n");
}

// Uninstall removes an empty "hooks" member, also when none of ours was in it.
TEST_F(HookInstallerTest, UninstallDropsEmptyHooks) {
    home.write(".claude/settings.json", R"({"model": "x", "hooks": {}})");
    ASSERT_EQ(HookInstaller::uninstall(), std::nullopt);
    EXPECT_EQ(readJson(settings()), Json::parse(R"({"model": "x"})"));
}

// settings.json -> a -> b -> real file: the real file gets the content, both links stay.
TEST_F(HookInstallerTest, LinkChainIsWrittenAtItsEnd) {
    const QString real = home.write("dotfiles/claude/settings.json", R"({"model": "x"})");
    QDir().mkpath(home.file(".claude"));
    QDir().mkpath(home.file("links"));
    ASSERT_TRUE(QFile::link("../dotfiles/claude/settings.json", home.file("links/b")));
    ASSERT_TRUE(QFile::link(home.file("links/b"), home.file("links/a")));
    ASSERT_TRUE(QFile::link("../links/a", settings()));
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_EQ(QFileInfo(settings()).symLinkTarget(), home.file("links/a"));
    EXPECT_TRUE(QFileInfo(home.file("links/a")).isSymLink());
    EXPECT_TRUE(QFileInfo(home.file("links/b")).isSymLink());
    EXPECT_EQ(readJson(real)["model"], "x");
    EXPECT_EQ(ourEntries(readJson(real), "Stop"), 1);
    EXPECT_TRUE(HookInstaller::isInstalled());
}

// Settings written by an older Lomex hold other command lines (without the window headers, or
// with a header nothing here fills): they are ours by the marker, so install replaces them
// instead of adding a second hook.
TEST_F(HookInstallerTest, InstallReplacesOlderCommandLinesOfOurs) {
    const std::string olders[] = {
        "curl -s -m 2 -X POST -H 'Content-Type: application/json' -H 'Expect:' "
        "-H \"X-Term-Program: ${TERM_PROGRAM:-}\" -H \"X-Bundle-Id: ${__CFBundleIdentifier:-}\" "
        "--data-binary @- 'http://127.0.0.1:7841/event?src=lomex-agent' >/dev/null 2>&1 || true",
        "curl -s -m 2 -X POST -H 'Content-Type: application/json' -H 'Expect:' "
        "-H \"X-Term-Program: ${TERM_PROGRAM:-}\" -H \"X-Bundle-Id: ${__CFBundleIdentifier:-}\" "
        "-H \"X-Window-Id: ${WINDOWID:-}\" -H \"X-Agent-Pid: ${PPID:-}\" --data-binary @- "
        "'http://127.0.0.1:7841/event?src=lomex-agent' >/dev/null 2>&1 || true",
    };
    for (const std::string& older : olders) {
        SCOPED_TRACE(older);
        nlohmann::json root = {{"hooks", {{"Stop", {{{"hooks", {{{"type", "command"}, {"command", older}}}}}}}}}};
        home.write(".claude/settings.json", QByteArray::fromStdString(root.dump()));
        EXPECT_FALSE(HookInstaller::isInstalled());
        ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
        EXPECT_TRUE(HookInstaller::isInstalled());
        EXPECT_EQ(ourEntries(readJson(settings()), "Stop"), 1);
        EXPECT_FALSE(readAll(settings()).contains("X-Bundle-Id"));
    }
}

TEST_F(HookInstallerTest, UninstallLeavesOnlyForeignEntries) {
    const QByteArray original = fixture("claude-settings-foreign.json");
    home.write(".claude/settings.json", original);
    const Json before = Json::parse(original.begin(), original.end());
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    ASSERT_EQ(HookInstaller::uninstall(), std::nullopt);
    EXPECT_FALSE(HookInstaller::isInstalled());

    const Json after = readJson(settings());
    EXPECT_EQ(keysOf(after), keysOf(before));
    const Json& hooks = after["hooks"];
    EXPECT_EQ(keysOf(hooks), (std::vector<std::string>{"PreToolUse", "Stop", "Notification"}))
        << "events left only with our entries go, also those we never install";
    EXPECT_EQ(hooks["PreToolUse"], before["hooks"]["PreToolUse"]);
    EXPECT_EQ(hooks["Notification"], before["hooks"]["Notification"]);
    EXPECT_EQ(hooks["Stop"][0]["hooks"].size(), 1u);
    EXPECT_EQ(hooks["Stop"][0]["hooks"][0]["command"], "notify-send 'Claude finished'");

    const QByteArray once = readAll(settings());
    const QByteArray backupOnce = readAll(backup());
    ASSERT_EQ(HookInstaller::uninstall(), std::nullopt);
    EXPECT_EQ(readAll(settings()), once);
    EXPECT_EQ(readAll(backup()), backupOnce) << "nothing of ours left: no rewrite, no backup";
}

// The backup holds the user's last version without our entries, byte for byte, however often
// monitoring is switched.
TEST_F(HookInstallerTest, OnOffCyclesKeepTheUsersOriginalInTheBackup) {
    const QByteArray original = "{ \"model\": \"opus\",\n  \"permissions\": {\"allow\": [\"Bash(ls)\"]} }";
    home.write(".claude/settings.json", original);
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
        ASSERT_EQ(HookInstaller::uninstall(), std::nullopt);
        EXPECT_EQ(readAll(backup()), original) << "cycle " << cycle;
    }
    // The user's own next version, without our entries, is the next backup.
    const QByteArray edited = R"({"model":"haiku"})";
    home.write(".claude/settings.json", edited);
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_EQ(readAll(backup()), edited);
}

// A file the user made read-only is not replaced: the error names it and nothing is written.
TEST_F(HookInstallerTest, ReadOnlyFilesAreRefused) {
    const QByteArray original = R"({"model":"opus"})";
    home.write(".claude/settings.json", original);
    home.write(".codex/hooks.json", original);
    struct Case {
        QString file;
        std::function<std::optional<LomexError>()> run;
    };
    const Case cases[] = {
        {settings(), [] { return HookInstaller::install(7841); }},
        {HookInstaller::Codex::hooksFile(), [] { return HookInstaller::Codex::install(7841); }},
    };
    for (const Case& c : cases) {
        ::chmod(QFile::encodeName(c.file).constData(), 0444);
        const auto error = c.run();
        ASSERT_TRUE(error.has_value()) << c.file.toStdString();
        EXPECT_TRUE(error->message.startsWith(c.file)) << error->message.toStdString();
        EXPECT_EQ(readAll(c.file), original);
        EXPECT_EQ(modeOf(c.file), 0444u);
        EXPECT_FALSE(QFileInfo::exists(c.file + ".lomex.bak"));
    }
}

TEST_F(HookInstallerTest, UninstallDropsHooksMemberWhenOnlyOursWasThere) {
    home.write(".claude/settings.json", R"({"theme":"dark","hooks":{}})");
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    ASSERT_EQ(HookInstaller::uninstall(), std::nullopt);
    EXPECT_EQ(readJson(settings()), Json::parse(R"({"theme":"dark"})"));

    // Missing files are not created by uninstall.
    QFile::remove(settings());
    ASSERT_EQ(HookInstaller::uninstall(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(settings()));
}

TEST_F(HookInstallerTest, NonObjectFileIsReportedAndLeftAlone) {
    const QByteArray array = "[\"permissions\", 1]\n";
    home.write(".claude/settings.json", array);
    const LomexError expected{"Lomex", 2, settings() + " is not a JSON object – please check it manually."};
    EXPECT_EQ(HookInstaller::install(7841), expected);
    EXPECT_EQ(HookInstaller::uninstall(), expected);
    EXPECT_FALSE(HookInstaller::isInstalled());
    EXPECT_EQ(readAll(settings()), array);
    EXPECT_FALSE(QFileInfo::exists(backup()));

    const QByteArray broken = "{\"hooks\": {";
    home.write(".claude/settings.json", broken);
    auto error = HookInstaller::install(7841);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->message.startsWith(settings())) << error->message.toStdString();
    EXPECT_EQ(readAll(settings()), broken);
    EXPECT_FALSE(QFileInfo::exists(backup()));

    // Deep nesting written by some other program is refused, not recursed into.
    const QByteArray deep = "{\"x\":" + QByteArray(200000, '[') + QByteArray(200000, ']') + "}";
    home.write(".claude/settings.json", deep);
    error = HookInstaller::install(7841);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->message.startsWith(settings()));
    EXPECT_FALSE(HookInstaller::isInstalled());
    EXPECT_EQ(readAll(settings()), deep);
}

TEST_F(HookInstallerTest, ZeroByteAndMissingFiles) {
    home.write(".claude/settings.json", "");
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    const Json root = readJson(settings());
    EXPECT_EQ(keysOf(root), std::vector<std::string>{"hooks"});
    EXPECT_TRUE(HookInstaller::isInstalled());

    QDir(home.file(".claude")).removeRecursively();
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_EQ(modeOf(home.file(".claude")), 0700u) << "a folder we make is private";
    EXPECT_EQ(modeOf(settings()), 0600u);
    EXPECT_FALSE(QFileInfo::exists(backup())) << "nothing existed, nothing to back up";
    EXPECT_TRUE(readAll(settings()).endsWith("}\n"));
    EXPECT_TRUE(readAll(settings()).contains("http://127.0.0.1:7841/event")) << "slashes are not escaped";
}

TEST_F(HookInstallerTest, ModeAndSymlinkAreKept) {
    const QString target = home.write("dotfiles/claude-settings.json", R"({"model":"sonnet"})");
    QDir().mkpath(home.file(".claude"));
    ASSERT_TRUE(QFile::link(target, settings()));
    ::chmod(QFile::encodeName(target).constData(), 0640);

    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_TRUE(QFileInfo(settings()).isSymLink()) << "the link stays a link";
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(readJson(target)["model"], "sonnet");
    EXPECT_TRUE(readJson(target).contains("hooks"));
    EXPECT_EQ(readAll(backup()), R"({"model":"sonnet"})");
    EXPECT_FALSE(QFileInfo(backup()).isSymLink());
    EXPECT_EQ(modeOf(backup()), 0600u);
    EXPECT_TRUE(HookInstaller::isInstalled());
}

TEST_F(HookInstallerTest, OutsideChangeDuringWriteIsMergedOrReported) {
    home.write(".claude/settings.json", R"({"model":"opus"})");
    int calls = 0;
    HookInstaller::setBeforeReplaceHook([&](const QString& path) {
        // The agent rewrites its settings between our read and our replace, once.
        if (calls++ == 0) home.write(".claude/settings.json", R"({"model":"opus","theme":"light"})");
    });
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_EQ(calls, 2);
    const Json root = readJson(settings());
    EXPECT_EQ(root["theme"], "light") << "the other program's change survives";
    EXPECT_TRUE(HookInstaller::isInstalled());

    // A file that keeps changing is not overwritten; the error names it.
    QFile::remove(settings());
    home.write(".claude/settings.json", R"({"n":0})");
    HookInstaller::setBeforeReplaceHook([&](const QString&) {
        home.write(".claude/settings.json", QByteArray(R"({"n":)") + QByteArray::number(++calls) + "}");
    });
    auto error = HookInstaller::install(7841);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->message.startsWith(settings()));
    EXPECT_FALSE(readAll(settings()).contains("lomex-agent"));
}

TEST_F(HookInstallerTest, SeveralConfigDirectories) {
    // ~/.claude does not exist yet and is still listed first.
    const QString alt = home.file("alt-claude");
    EnvGuard custom("CLAUDE_CONFIG_DIR", QStringLiteral("~/alt-claude"));
    QDir().mkpath(home.file(".claude-work/projects"));
    home.write(".claude_personal/settings.json", R"({"model":"haiku"})");
    home.write(".claude-notch/settings.json", "{}");
    QDir().mkpath(home.file(".claude-empty/other"));
    home.write(".claude-creds/.credentials.json", "{}");

    const QStringList dirs = HookInstaller::configDirectories();
    EXPECT_EQ(dirs, (QStringList{home.file(".claude"), alt, home.file(".claude-creds"), home.file(".claude-work"),
                                 home.file(".claude_personal")}));
    EXPECT_EQ(HookInstaller::settingsSummary(), "~/.claude, ~/alt-claude, ~/.claude-creds, ~/.claude-work, ~/.claude_personal");

    EXPECT_FALSE(HookInstaller::isInstalled());
    ASSERT_EQ(HookInstaller::install(7841), std::nullopt);
    EXPECT_TRUE(HookInstaller::isInstalled());
    for (const QString& file : HookInstaller::settingsURLs()) EXPECT_EQ(ourEntries(readJson(file), "Stop"), 1) << file.toStdString();
    EXPECT_EQ(readJson(home.file(".claude_personal/settings.json"))["model"], "haiku");
    EXPECT_FALSE(readAll(home.file(".claude-notch/settings.json")).contains("lomex"));

    // One file losing its entries makes the whole installation incomplete.
    home.write(".claude-work/settings.json", "{}");
    EXPECT_FALSE(HookInstaller::isInstalled());

    ASSERT_EQ(HookInstaller::uninstall(), std::nullopt);
    for (const QString& file : HookInstaller::settingsURLs()) EXPECT_FALSE(readAll(file).contains("lomex-agent"));
}

TEST_F(HookInstallerTest, ConfigDirectoriesDropDuplicatesAndKeepHomeWhole) {
    QDir().mkpath(home.file(".claude"));
    ASSERT_TRUE(QFile::link(home.file(".claude"), home.file("claude-link")));
    {
        EnvGuard custom("CLAUDE_CONFIG_DIR", home.file("claude-link"));
        EXPECT_EQ(HookInstaller::configDirectories(), QStringList{home.file(".claude")});
    }
    {
        EnvGuard custom("CLAUDE_CONFIG_DIR", home.file(".claude/"));
        EXPECT_EQ(HookInstaller::configDirectories(), QStringList{home.file(".claude")});
    }
    {
        // A folder beside the home whose name merely starts with the home's path.
        const QString sibling = home.path() + "2/cfg";
        EnvGuard custom("CLAUDE_CONFIG_DIR", sibling);
        EXPECT_EQ(HookInstaller::settingsSummary(), "~/.claude, " + sibling);
    }
}

TEST_F(HookInstallerTest, CodexHooksFile) {
    EXPECT_EQ(HookInstaller::Codex::home(), home.file(".codex"));
    {
        EnvGuard empty("CODEX_HOME", QString());
        EXPECT_EQ(HookInstaller::Codex::home(), home.file(".codex"));
    }
    EnvGuard codex("CODEX_HOME", QStringLiteral("~/codex-home"));
    EXPECT_EQ(HookInstaller::Codex::hooksFile(), home.file("codex-home/hooks.json"));

    ASSERT_EQ(HookInstaller::Codex::uninstall(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(HookInstaller::Codex::hooksFile())) << "uninstall creates nothing";

    const QByteArray original = fixture("codex-hooks-foreign.json");
    home.write("codex-home/hooks.json", original);
    EXPECT_FALSE(HookInstaller::Codex::isInstalled());
    ASSERT_EQ(HookInstaller::Codex::install(7841), std::nullopt);
    EXPECT_TRUE(HookInstaller::Codex::isInstalled());
    EXPECT_FALSE(HookInstaller::isInstalled()) << "Claude's files are separate";
    EXPECT_EQ(readAll(HookInstaller::Codex::hooksFile() + ".lomex.bak"), original);

    const Json root = readJson(HookInstaller::Codex::hooksFile());
    EXPECT_EQ(keysOf(root["hooks"]).front(), "Stop") << "existing events keep their places";
    for (const auto& event : HookInstaller::Codex::events) {
        EXPECT_EQ(ourEntries(root, event.name), 1) << event.name;
        const Json& hook = root["hooks"][event.name].back()["hooks"][0];
        const bool permission = std::string(event.name) == "PermissionRequest";
        EXPECT_EQ(hook["timeout"], permission ? 600 : event.timeout) << event.name;
        EXPECT_NE(hook["command"].get<std::string>().find("src=lomex-agent&agent=codex'"), std::string::npos);
    }
    EXPECT_EQ(root["hooks"]["Interrupt"].back()["hooks"][0]["timeout"], 3);
    EXPECT_EQ(root["hooks"]["Stop"][0]["hooks"][0]["command"], "python3 ~/.codex/hooks/log_turn.py");

    const QByteArray installed = readAll(HookInstaller::Codex::hooksFile());
    ASSERT_EQ(HookInstaller::Codex::install(7841), std::nullopt);
    EXPECT_EQ(readAll(HookInstaller::Codex::hooksFile()), installed);

    ASSERT_EQ(HookInstaller::Codex::uninstall(), std::nullopt);
    EXPECT_EQ(readJson(HookInstaller::Codex::hooksFile()), Json::parse(original.begin(), original.end()));
    EXPECT_FALSE(HookInstaller::Codex::isInstalled());

    home.write("codex-home/hooks.json", "[]");
    EXPECT_EQ(HookInstaller::Codex::install(7841),
              (LomexError{"Lomex", 2, HookInstaller::Codex::hooksFile() + " is not a JSON object – please check it manually."}));
}

TEST_F(HookInstallerTest, FirstFailingFileStopsInstallAndIsNamed) {
    // A configuration folder below a plain file cannot be made, not even by root.
    home.write("plain-file", "x");
    EnvGuard custom("CLAUDE_CONFIG_DIR", home.file("plain-file/claude"));
    QDir().mkpath(home.file(".claude-work/projects"));
    ASSERT_EQ(HookInstaller::settingsURLs().size(), 3);

    auto error = HookInstaller::install(7841);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->message.startsWith(home.file("plain-file/claude/settings.json"))) << error->message.toStdString();
    EXPECT_EQ(error->domain, "POSIX");
    EXPECT_TRUE(readAll(settings()).contains("lomex-agent")) << "files before the failing one stay written";
    EXPECT_FALSE(QFileInfo::exists(home.file(".claude-work/settings.json"))) << "files after it are not touched";
    EXPECT_FALSE(HookInstaller::isInstalled());
}

// An agent's file that no parse can take (a number past any double) or far too large to be
// one (a sparse file claiming terabytes) is refused with an error naming it and never rewritten;
// the start-up refresh reports it too, so the limits page can say why.
TEST_F(HookInstallerTest, OverflowingOrHugeFilesAreRefusedUntouched) {
    const QByteArray overflow = R"({"cleanupPeriodDays": 1e400, "hooks": {}})";
    for (const bool sparse : {false, true}) {
        SCOPED_TRACE(sparse ? "sparse" : "1e400");
        home.write(".claude/settings.json", overflow);
        if (sparse) {
            ASSERT_EQ(::truncate(QFile::encodeName(settings()).constData(), 3LL << 40), 0);
        }
        const qint64 size = QFileInfo(settings()).size();
        for (const auto& error : {HookInstaller::install(7841), HookInstaller::uninstall()}) {
            ASSERT_TRUE(error.has_value());
            EXPECT_TRUE(error->message.startsWith(settings())) << error->message.toStdString();
        }
        EXPECT_FALSE(HookInstaller::isInstalled());
        const QList<LomexError> refreshed = HookInstaller::refreshInstalled(7841);
        ASSERT_EQ(refreshed.size(), 1);
        EXPECT_TRUE(refreshed.first().message.startsWith(settings()));
        EXPECT_EQ(QFileInfo(settings()).size(), size);
        if (!sparse) {
            EXPECT_EQ(readAll(settings()), overflow);
        }
        EXPECT_FALSE(QFileInfo::exists(backup()));
    }
}
