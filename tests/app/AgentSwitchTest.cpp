#include "TestEnv.h"
#include "agents/AgentSwitch.h"
#include "agents/HookInstaller.h"
#include "app/AppDelegate.h"
#include "core/Settings.h"
#include <QSignalSpy>
#include "platform/RunningApps.h"
#include "platform/Screens.h"
#include "FakeClock.h"
#include "FakeRunningApps.h"
#include "FakeScreens.h"
#include <QFile>
#include <sys/stat.h>
#include <memory>

using namespace lomex;

namespace {

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class AgentSwitchTest : public test::LomexTest {
protected:
    void SetUp() override {
        screens.setScreens({ScreenInfo{"only", QRect(0, 0, 1920, 1080), true, false}});
        RunningApps::setCurrent(&apps);
        Settings::shared().set(keys::onboardingDone, true);
        Settings::shared().flush();
        // Two Claude Code config folders and a Codex home with a foreign hook.
        home.write(".claude/settings.json", R"({"model":"opus"})");
        home.write(".claude-work/settings.json", "{}");
        home.write(".codex/hooks.json", R"({"hooks":{"Stop":[{"hooks":[{"type":"command","command":"say done"}]}]}})");
        app = std::make_unique<AppDelegate>(&clock, &screens);
        app->setDebugSocketPath(home.file("run/debug.sock"));
        app->applicationDidFinishLaunching();
        sw = app->agentSwitch();
    }
    void TearDown() override {
        app.reset();
        RunningApps::setCurrent(nullptr);
    }
    FakeClock clock;
    FakeScreens screens;
    FakeRunningApps apps;
    std::unique_ptr<AppDelegate> app;
    AgentSwitch* sw = nullptr;
};

TEST_F(AgentSwitchTest, OnWritesEveryAgentFileStartsTheServerAndOffRemovesExactlyOurs) {
    const QByteArray codexBefore = read(home.file(".codex/hooks.json"));
    ASSERT_FALSE(sw->setEnabled(true));
    EXPECT_TRUE(Settings::shared().get(keys::agentsEnabled));
    EXPECT_EQ(HookInstaller::configDirectories().size(), 2);
    EXPECT_TRUE(HookInstaller::isInstalled());
    EXPECT_TRUE(HookInstaller::Codex::isInstalled());
    EXPECT_TRUE(read(home.file(".claude-work/settings.json")).contains("lomex-agent"));
    ASSERT_NE(app->agentServer(), nullptr);
    // Another program may hold the port: then the page must say so rather than show "connected".
    EXPECT_TRUE(sw->serverListening() || sw->serverError());
    EXPECT_EQ(sw->claudeConnected(), sw->serverListening());

    ASSERT_FALSE(sw->setEnabled(false));
    EXPECT_FALSE(Settings::shared().get(keys::agentsEnabled));
    EXPECT_EQ(app->agentServer(), nullptr);
    EXPECT_FALSE(sw->serverListening());
    EXPECT_FALSE(sw->claudeConnected());
    EXPECT_FALSE(read(home.file(".claude/settings.json")).contains("lomex-agent"));
    EXPECT_TRUE(read(home.file(".claude/settings.json")).contains("opus"));
    const QByteArray codexAfter = read(home.file(".codex/hooks.json"));
    EXPECT_FALSE(codexAfter.contains("lomex-agent"));
    EXPECT_TRUE(codexAfter.contains("say done"));
    EXPECT_EQ(nlohmann::json::parse(codexAfter.toStdString()), nlohmann::json::parse(codexBefore.toStdString()));
}

TEST_F(AgentSwitchTest, AFileThatIsNotAnObjectLeavesTheSwitchOffAndTheFileUntouched) {
    home.write(".claude-work/settings.json", "[1,2]");
    const auto error = sw->setEnabled(true);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, home.file(".claude-work/settings.json") + " is not a JSON object – please check it manually.");
    EXPECT_FALSE(Settings::shared().get(keys::agentsEnabled));
    EXPECT_EQ(app->agentServer(), nullptr);
    EXPECT_EQ(read(home.file(".claude-work/settings.json")), "[1,2]");
    // The folder before it got the hooks first; they are taken out again.
    EXPECT_FALSE(read(home.file(".claude/settings.json")).contains("lomex-agent"));
    EXPECT_FALSE(read(home.file(".codex/hooks.json")).contains("lomex-agent"));

    home.write(".claude-work/settings.json", "{}");
    EXPECT_FALSE(sw->setEnabled(true));
    EXPECT_TRUE(Settings::shared().get(keys::agentsEnabled));
}

TEST_F(AgentSwitchTest, AFailingCodexStepRollsTheClaudeStepBack) {
    home.write(".codex/hooks.json", "\"text\"");
    ASSERT_TRUE(sw->setEnabled(true));
    EXPECT_FALSE(Settings::shared().get(keys::agentsEnabled));
    EXPECT_FALSE(read(home.file(".claude/settings.json")).contains("lomex-agent"));
    EXPECT_FALSE(read(home.file(".claude-work/settings.json")).contains("lomex-agent"));
    EXPECT_FALSE(sw->claudeConnected());
}

TEST_F(AgentSwitchTest, AFailedRemovalKeepsMonitoringOnWithItsHooks) {
    ASSERT_FALSE(sw->setEnabled(true));
    home.write(".codex/hooks.json", "{broken");
    ASSERT_TRUE(sw->setEnabled(false));
    EXPECT_TRUE(Settings::shared().get(keys::agentsEnabled));
    EXPECT_NE(app->agentServer(), nullptr);
    EXPECT_TRUE(HookInstaller::isInstalled());
}

TEST_F(AgentSwitchTest, WithoutACodexHomeOnlyClaudeIsTouched) {
    QDir(home.file(".codex")).removeRecursively();
    EXPECT_FALSE(AgentSwitch::codexPresent());
    ASSERT_FALSE(sw->setEnabled(true));
    EXPECT_FALSE(QFileInfo::exists(home.file(".codex")));
    ASSERT_FALSE(sw->setEnabled(false));
}

// When "agentsEnabled" cannot be stored, the hooks written for it are taken out again, so the
// agents' files match the stored setting; the same holds the other way round.
TEST_F(AgentSwitchTest, AnUnstorableSettingRollsTheHooksBack) {
    const QString file = Settings::shared().filePath();
    ::chmod(QFile::encodeName(file).constData(), 0400);
    QSignalSpy failed(&Settings::shared(), &Settings::saveFailed);
    ASSERT_FALSE(sw->setEnabled(true)) << "the file is written after the switch";
    Settings::shared().flush();
    ASSERT_EQ(failed.count(), 1);
    ASSERT_TRUE(Settings::shared().lastError());
    EXPECT_TRUE(Settings::shared().lastError()->message.contains(file));
    EXPECT_FALSE(Settings::shared().get(keys::agentsEnabled));
    EXPECT_EQ(app->agentServer(), nullptr);
    for (const char* agentFile : {".claude/settings.json", ".claude-work/settings.json", ".codex/hooks.json"})
        EXPECT_FALSE(read(home.file(agentFile)).contains("lomex-agent")) << agentFile;

    ::chmod(QFile::encodeName(file).constData(), 0600);
    ASSERT_FALSE(sw->setEnabled(true));
    Settings::shared().flush();
    ::chmod(QFile::encodeName(file).constData(), 0400);
    ASSERT_FALSE(sw->setEnabled(false));
    Settings::shared().flush();
    EXPECT_EQ(failed.count(), 2);
    EXPECT_TRUE(Settings::shared().get(keys::agentsEnabled));
    EXPECT_TRUE(HookInstaller::isInstalled());
    EXPECT_TRUE(HookInstaller::Codex::isInstalled());
    ::chmod(QFile::encodeName(file).constData(), 0600);
}

// The user turns monitoring on by editing the settings file while the app runs.
TEST_F(AgentSwitchTest, FlippingTheSettingByHandStartsAndStopsTheServer) {
    ASSERT_EQ(app->agentServer(), nullptr);
    const QString file = Settings::shared().filePath();
    const QByteArray before = read(file);
    ASSERT_TRUE(before.contains("onboardingDone"));
    QByteArray on = before;
    on.replace("\"onboardingDone\"", "\"agentsEnabled\": true, \"onboardingDone\"");
    home.write(".config/Lomex/settings.json", on);
    ASSERT_TRUE(test::waitUntil([&] { return app->agentServer() != nullptr; }));
    EXPECT_TRUE(sw->isOn());
    home.write(".config/Lomex/settings.json", before);
    ASSERT_TRUE(test::waitUntil([&] { return app->agentServer() == nullptr; }));
}

} // namespace
