#include "TestEnv.h"
#include "agents/AgentText.h"
#include "core/L10n.h"
#include "platform/RunningApps.h"
#include "FakeRunningApps.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace lomex;

class AgentTextTest : public test::LomexTest {
protected:
    void czech() { L10n::shared().setLanguage(AppLanguage::cs); }
};

TEST_F(AgentTextTest, EnglishPassesThrough)
{
    L10n::shared().setLanguage(AppLanguage::en);
    EXPECT_EQ(AgentText::t("Thinking"), "Thinking");
    EXPECT_EQ(AgentText::t("Using github"), "Using github");
    EXPECT_EQ(AgentText::mayIUse("Bash", " (ls)"), "May I use Bash (ls)?");
    EXPECT_EQ(AgentText::needsAttention("Codex"), "Codex needs your attention");
}

TEST_F(AgentTextTest, CzechTableAndUsingRule)
{
    czech();
    ASSERT_EQ(AgentText::cs().size(), 16);
    for (auto it = AgentText::cs().cbegin(); it != AgentText::cs().cend(); ++it)
        EXPECT_EQ(AgentText::t(it.key()), it.value()) << it.key().toStdString();
    EXPECT_EQ(AgentText::t("Waiting for you"), QString::fromUtf8("Čeká na tebe"));
    EXPECT_EQ(AgentText::t("Looking"), QString::fromUtf8("Prohlíží"));
    EXPECT_EQ(AgentText::t("Using Foo"), QString::fromUtf8("Používá Foo"));
    EXPECT_EQ(AgentText::t("Using "), QString::fromUtf8("Používá "));
    // Exact matches only.
    EXPECT_EQ(AgentText::t("using Foo"), "using Foo");
    EXPECT_EQ(AgentText::t("Using"), "Using");
    EXPECT_EQ(AgentText::t("done"), "done");
    EXPECT_EQ(AgentText::t("Something else"), "Something else");
    EXPECT_EQ(AgentText::mayIUse("Bash", " (ls)"), QString::fromUtf8("Smím použít Bash (ls)?"));
    EXPECT_EQ(AgentText::needsAttention("Claude"), QString::fromUtf8("Claude potřebuje tvou pozornost"));
}

TEST_F(AgentTextTest, LanguageFollowsTheSystemChoice)
{
    L10n::setPreferredLanguagesOverride(QStringList{"sk-SK"});
    L10n::shared().setLanguage(AppLanguage::system);
    EXPECT_EQ(AgentText::t("Done"), "Hotovo");
    L10n::setPreferredLanguagesOverride(QStringList{"de-DE", "cs-CZ"});
    EXPECT_EQ(AgentText::t("Done"), "Done");
    L10n::setPreferredLanguagesOverride(std::nullopt);
}

TEST_F(AgentTextTest, ToolCallPlurals)
{
    const std::pair<qint64, const char*> english[] = {
        {0, "0 tool calls"}, {1, "1 tool call"}, {2, "2 tool calls"}, {4, "4 tool calls"},
        {5, "5 tool calls"}, {11, "11 tool calls"}, {22, "22 tool calls"}, {101, "101 tool calls"},
    };
    for (const auto& [n, text] : english)
        EXPECT_EQ(AgentText::toolCalls(n), QString::fromUtf8(text));
    czech();
    const std::pair<qint64, const char*> czechTexts[] = {
        {0, "0 nástrojů"}, {1, "1 nástroj"}, {2, "2 nástroje"}, {3, "3 nástroje"}, {4, "4 nástroje"},
        {5, "5 nástrojů"}, {11, "11 nástrojů"}, {22, "22 nástrojů"}, {101, "101 nástrojů"},
        {1000, "1000 nástrojů"},
    };
    for (const auto& [n, text] : czechTexts)
        EXPECT_EQ(AgentText::toolCalls(n), QString::fromUtf8(text)) << n;
}

namespace {
RunningApplication app(const char* id, qint64 pid)
{
    return RunningApplication{QString::fromUtf8(id), QString::fromUtf8(id).section('.', 0, 0), pid};
}
} // namespace

TEST(AgentTextHostApp, CandidatesInOrder)
{
    FakeRunningApps apps;
    apps.apps = {app("org.gnome.Terminal.desktop", 10), app("code.desktop", 20), app("code.desktop", 21),
                 app("com.mitchellh.ghostty.desktop", 30), app("dev.warp.Warp.desktop", 40)};

    // The hook's id wins over the terminal name; the first running match is returned.
    EXPECT_EQ(AgentText::hostApp(QString("org.gnome.Terminal.desktop"), QString("vscode"), &apps)->pid, 10);
    EXPECT_EQ(AgentText::hostApp(std::nullopt, QString("vscode"), &apps)->pid, 20);
    EXPECT_EQ(AgentText::hostApp(QString("not.running.desktop"), QString("ghostty"), &apps)->pid, 30);
    EXPECT_EQ(AgentText::hostApp(QString(""), QString("WarpTerminal"), &apps)->pid, 40);
    // Names are exact, and macOS-only terminals have no Linux application.
    EXPECT_EQ(AgentText::hostApp(std::nullopt, QString("VSCode"), &apps), std::nullopt);
    EXPECT_EQ(AgentText::hostApp(std::nullopt, QString("Apple_Terminal"), &apps), std::nullopt);
    EXPECT_EQ(AgentText::hostApp(std::nullopt, QString("iTerm.app"), &apps), std::nullopt);
    EXPECT_EQ(AgentText::hostApp(std::nullopt, std::nullopt, &apps), std::nullopt);
    EXPECT_EQ(AgentText::hostApp(QString("not.running.desktop"), std::nullopt, &apps), std::nullopt);

    // An empty id must not match a window that has none.
    apps.apps.prepend(RunningApplication{QString(), QString(), 5});
    EXPECT_EQ(AgentText::hostApp(QString(""), std::nullopt, &apps), std::nullopt);

    // Without an explicit list the installed layer is used.
    RunningApps::setCurrent(&apps);
    EXPECT_EQ(AgentText::hostApp(std::nullopt, QString("ghostty"), nullptr)->pid, 30);
    RunningApps::setCurrent(nullptr);
}

TEST(RunningAppsLinux, WindowClassAndDesktopIds)
{
    EXPECT_EQ(runningapps::windowClassFrom(QByteArray("code\0Code\0", 10)), "Code");
    EXPECT_EQ(runningapps::windowClassFrom(QByteArray("xterm\0XTerm", 11)), "XTerm");
    EXPECT_EQ(runningapps::windowClassFrom(QByteArray("only-instance")), "");
    EXPECT_EQ(runningapps::windowClassFrom(QByteArray()), "");

    test::TempHome home;
    home.write("share1/applications/code.desktop", "[Desktop Entry]\n");
    home.write("share2/applications/dev.warp.Warp.desktop", "[Desktop Entry]\n");
    QDir().mkpath(home.file("share2/applications/xterm.desktop")); // a folder is not a desktop file
    const QStringList dirs{home.file("share1"), home.file("share2")};
    EXPECT_EQ(runningapps::desktopIDForClass("Code", dirs), "code.desktop");
    EXPECT_EQ(runningapps::desktopIDForClass("dev.warp.Warp", dirs), "dev.warp.Warp.desktop");
    EXPECT_EQ(runningapps::desktopIDForClass("XTerm", dirs), "XTerm");
    EXPECT_EQ(runningapps::desktopIDForClass("Firefox", dirs), "Firefox");
    EXPECT_EQ(runningapps::desktopIDForClass("../share1/applications/code", dirs), "../share1/applications/code");
}

TEST(RunningAppsLinux, XdgDataDirs)
{
    test::TempHome home;
    const std::optional<QByteArray> saved =
        qEnvironmentVariableIsSet("XDG_DATA_DIRS") ? std::optional(qgetenv("XDG_DATA_DIRS")) : std::nullopt;
    qputenv("XDG_DATA_DIRS", "/opt/a:/opt/b");
    const QStringList dirs = runningapps::xdgDataDirs();
    ASSERT_EQ(dirs.size(), 3);
    EXPECT_EQ(dirs.at(1), "/opt/a");
    EXPECT_EQ(dirs.at(2), "/opt/b");
    qunsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(runningapps::xdgDataDirs().mid(1), (QStringList{"/usr/local/share", "/usr/share"}));
    EXPECT_EQ(runningapps::xdgDataDirs().first(), home.file(".local/share"));
    if (saved)
        qputenv("XDG_DATA_DIRS", *saved);
}
