#include "TestEnv.h"
#include "agents/Agent.h"
#include "agents/Format.h"
#include "agents/Session.h"
#include "core/L10n.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

using namespace lomex;

TEST(AgentKinds, RawValuesAndQuery)
{
    for (Agent agent : allAgents)
        EXPECT_EQ(agentFromRawValue(rawValue(agent)), agent);
    EXPECT_EQ(displayName(Agent::codex), "Codex");
    EXPECT_EQ(displayName(Agent::cursor), "Cursor");
    EXPECT_EQ(displayName(Agent::claude), "Claude");
    EXPECT_EQ(agentFromRawValue("Codex"), std::nullopt);
    EXPECT_EQ(agentFromRawValue(""), std::nullopt);
    EXPECT_EQ(agentFromQuery(QString("CODEX")), Agent::codex);
    EXPECT_EQ(agentFromQuery(QString("Cursor")), Agent::cursor);
    EXPECT_EQ(agentFromQuery(QString("claude")), Agent::claude);
    EXPECT_EQ(agentFromQuery(QString("gemini")), Agent::claude);
    EXPECT_EQ(agentFromQuery(QString()), Agent::claude);
    EXPECT_EQ(agentFromQuery(std::nullopt), Agent::claude);
}

TEST(ThemeColours, OpaqueSrgbValues)
{
    const QColor claude = Theme::claude();
    EXPECT_EQ(claude.spec(), QColor::Rgb);
    EXPECT_NEAR(claude.redF(), 0.851, 1e-4);
    EXPECT_NEAR(claude.greenF(), 0.467, 1e-4);
    EXPECT_NEAR(claude.blueF(), 0.341, 1e-4);
    EXPECT_EQ(claude.alphaF(), 1.0);
    EXPECT_NEAR(Theme::codex().blueF(), 1.0, 1e-4);
    EXPECT_NEAR(Theme::amber().redF(), 0.961, 1e-4);
    EXPECT_NEAR(Theme::success().greenF(), 0.871, 1e-4);
    EXPECT_NEAR(Theme::violet().blueF(), 0.98, 1e-4);
    EXPECT_NEAR(Theme::danger().greenF(), 0.443, 1e-4);
    EXPECT_NEAR(Theme::cursor().greenF(), 0.84, 1e-4);
    EXPECT_EQ(color(Agent::cursor), Theme::cursor());
}

TEST(FormatDuration, Boundaries)
{
    EXPECT_EQ(Format::duration(0), "0s");
    EXPECT_EQ(Format::duration(59.4), "59s");
    EXPECT_EQ(Format::duration(59.5), "1m 0s");
    EXPECT_EQ(Format::duration(125), "2m 5s");
    EXPECT_EQ(Format::duration(3599), "59m 59s");
    EXPECT_EQ(Format::duration(3599.5), "1h 0m");
    EXPECT_EQ(Format::duration(3600), "1h 0m");
    EXPECT_EQ(Format::duration(3900), "1h 5m");
    EXPECT_EQ(Format::duration(90061), "25h 1m");
    EXPECT_EQ(Format::duration(-3), "0s");
    EXPECT_EQ(Format::duration(-0.4), "0s");
    EXPECT_EQ(Format::duration(0.5), "1s");
    // Values callers should never pass still give a sane text.
    EXPECT_EQ(Format::duration(std::nan("")), "0s");
    EXPECT_EQ(Format::duration(-INFINITY), "0s");
    EXPECT_TRUE(Format::duration(INFINITY).endsWith("m"));
    EXPECT_TRUE(Format::duration(1e300).endsWith("m"));
}

TEST(ActivityStates, EqualityIncludesPayloads)
{
    EXPECT_EQ(ActivityState(), ActivityState::idle());
    EXPECT_EQ(ActivityState::waiting("a"), ActivityState::waiting("a"));
    EXPECT_NE(ActivityState::waiting("a"), ActivityState::waiting("b"));
    EXPECT_NE(ActivityState::waiting("a"), ActivityState::error("a"));
    EXPECT_NE(ActivityState::tool({"Bash", QString("x")}), ActivityState::tool({"Bash", std::nullopt}));
    EXPECT_EQ(ActivityState::tool({"Bash", QString("x")}), ActivityState::tool({"Bash", QString("x")}));
    EXPECT_NE(ActivityState::done(), ActivityState::thinking());
}

class SessionTexts : public test::LomexTest {
protected:
    Session make(ActivityState state, Agent agent = Agent::claude)
    {
        Session s;
        s.id = "abc";
        s.agent = agent;
        s.state = std::move(state);
        s.lastUpdate = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
        return s;
    }
};

TEST_F(SessionTexts, ProjectName)
{
    Session s = make(ActivityState::idle(), Agent::codex);
    EXPECT_EQ(s.projectName(), "Codex");
    s.cwd = QString();
    EXPECT_EQ(s.projectName(), "Codex");
    s.cwd = QString("/home/eva/lomex/");
    EXPECT_EQ(s.projectName(), "lomex");
    s.cwd = QString("/home/eva/Projekty/Žluťoučký kůň");
    EXPECT_EQ(s.projectName(), QString::fromUtf8("Žluťoučký kůň"));
}

TEST_F(SessionTexts, AccentsTitlesAndDetailsInEnglish)
{
    Session tool = make(ActivityState::tool(ToolActivity{"Read", std::nullopt}), Agent::codex);
    EXPECT_EQ(tool.accent(), Theme::codex());
    EXPECT_EQ(tool.statusTitle(), "Reading");
    EXPECT_EQ(tool.statusDetail(), QString("Read"));
    tool.state = ActivityState::tool(ToolActivity::make("Edit", nlohmann::json{{"file_path", "/w/x.cpp"}}));
    EXPECT_EQ(tool.statusDetail(), QString("x.cpp"));
    tool.state = ActivityState::tool(ToolActivity{"mcp__github__list_prs", std::nullopt});
    EXPECT_EQ(tool.statusTitle(), QString::fromUtf8("Using github · list_prs"));
    EXPECT_EQ(tool.statusDetail(), QString::fromUtf8("github · list_prs"));

    const Session waiting = make(ActivityState::waiting("Claude needs your permission to use Bash"));
    EXPECT_EQ(waiting.accent(), Theme::amber());
    EXPECT_EQ(waiting.statusTitle(), "Waiting for you");
    EXPECT_EQ(waiting.statusDetail(), QString("Claude needs your permission to use Bash"));

    const Session error = make(ActivityState::error("API is overloaded"));
    EXPECT_EQ(error.accent(), Theme::danger());
    EXPECT_EQ(error.statusTitle(), "Error");
    EXPECT_EQ(error.statusDetail(), QString("API is overloaded"));

    const Session idle = make(ActivityState::idle());
    EXPECT_EQ(idle.accent(), QColor::fromRgbF(1, 1, 1, 0.55f));
    EXPECT_EQ(idle.statusTitle(), "Ready");
    EXPECT_EQ(idle.statusDetail(), std::nullopt);

    const Session thinking = make(ActivityState::thinking(), Agent::cursor);
    EXPECT_EQ(thinking.accent(), Theme::cursor());
    EXPECT_EQ(thinking.statusTitle(), "Thinking");
    EXPECT_EQ(thinking.statusDetail(), std::nullopt);

    const Session compacting = make(ActivityState::compacting());
    EXPECT_EQ(compacting.accent(), Theme::violet());
    EXPECT_EQ(compacting.statusTitle(), "Compacting context");

    Session done = make(ActivityState::done());
    EXPECT_EQ(done.accent(), Theme::success());
    EXPECT_EQ(done.statusTitle(), "Done");
    EXPECT_EQ(done.statusDetail(), std::nullopt);
    done.lastTurnDuration = 0.4;
    EXPECT_EQ(done.statusDetail(), std::nullopt);
    done.toolCount = 3;
    done.lastTurnDuration = 75.5;
    EXPECT_EQ(done.statusDetail(), QString::fromUtf8("3 tool calls · 1m 16s"));
    done.toolCount = 1;
    done.lastTurnDuration = 0.99;
    EXPECT_EQ(done.statusDetail(), QString("1 tool call"));
    done.toolCount = 0;
    done.lastTurnDuration = 1.0;
    EXPECT_EQ(done.statusDetail(), QString("1s"));
}

TEST_F(SessionTexts, TitlesAndDetailsInCzech)
{
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(make(ActivityState::waiting("x")).statusTitle(), QString::fromUtf8("Čeká na tebe"));
    EXPECT_EQ(make(ActivityState::error("x")).statusTitle(), QString::fromUtf8("Chyba"));
    EXPECT_EQ(make(ActivityState::idle()).statusTitle(), QString::fromUtf8("Připraven"));
    EXPECT_EQ(make(ActivityState::thinking()).statusTitle(), QString::fromUtf8("Přemýšlí"));
    EXPECT_EQ(make(ActivityState::compacting()).statusTitle(), QString::fromUtf8("Zhušťuje kontext"));
    EXPECT_EQ(make(ActivityState::tool({"WebSearch", std::nullopt})).statusTitle(), QString::fromUtf8("Zkoumá"));
    Session done = make(ActivityState::done());
    EXPECT_EQ(done.statusTitle(), QString::fromUtf8("Hotovo"));
    done.toolCount = 3;
    done.lastTurnDuration = 75.5;
    EXPECT_EQ(done.statusDetail(), QString::fromUtf8("3 nástroje · 1m 16s"));
    done.toolCount = 5;
    done.lastTurnDuration = 3725;
    EXPECT_EQ(done.statusDetail(), QString::fromUtf8("5 nástrojů · 1h 2m"));
}

TEST_F(SessionTexts, UnseenAndEquality)
{
    Session a = make(ActivityState::idle());
    EXPECT_FALSE(a.isUnseen());
    Session b = a;
    EXPECT_EQ(a, b);
    b.unseenSince = a.lastUpdate;
    EXPECT_TRUE(b.isUnseen());
    EXPECT_NE(a, b);
    b = a;
    b.contextPercent = 42;
    EXPECT_NE(a, b);
    b = a;
    b.state = ActivityState::waiting("");
    EXPECT_NE(a, b);
}
