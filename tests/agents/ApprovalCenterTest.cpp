#include "AgentsTestSupport.h"
#include "agents/ApprovalCenter.h"
#include "agents/ApprovalToken.h"
#include "core/Settings.h"
#include "FakeClock.h"

#include <gtest/gtest.h>

using namespace lomex;
using nlohmann::json;
using Decision = ApprovalCenter::Decision;
using test::ev;

namespace {

HookEvent request(const QString& session, const QString& toolName, json input,
                  Agent agent = Agent::claude)
{
    HookEvent e = ev("PermissionRequest", session, agent);
    e.toolName = toolName;
    e.toolInput = std::move(input);
    return e;
}

// Records every answer a reply function was given.
struct Answers {
    std::vector<std::optional<QString>> got;
    ApprovalCenter::Reply reply()
    {
        return [this](const std::optional<QString>& t) { got.push_back(t); };
    }
};

class ApprovalCenterTest : public test::LomexTest {
protected:
    FakeClock clock;
    ApprovalCenter center{&clock};
};

} // namespace

TEST_F(ApprovalCenterTest, QueuesOnlyWhatTheUserCanAnswer)
{
    Answers a;
    const auto id = center.add(request("s", "Bash", {{"command", "ls"}}), a.reply());
    ASSERT_TRUE(id);
    ASSERT_EQ(center.pending().size(), 1);
    const PendingApproval& p = center.pending().front();
    EXPECT_EQ(p.tool, (ToolActivity{"Bash", QString("ls")}));
    EXPECT_EQ(p.deadline, clock.now().addSecs(570));
    EXPECT_TRUE(a.got.empty());

    // Cursor, other event names and switched-off approvals are answered at once with nothing.
    Answers cursor, other, off;
    EXPECT_FALSE(center.add(request("c", "Shell", {{"command", "ls"}}, Agent::cursor), cursor.reply()));
    HookEvent notRequest = request("s", "Bash", json::object());
    notRequest.name = "PreToolUse";
    EXPECT_FALSE(center.add(notRequest, other.reply()));
    Settings::shared().set(keys::agentApprovals, false);
    EXPECT_FALSE(center.add(request("s", "Bash", json::object()), off.reply()));
    for (const Answers* x : {&cursor, &other, &off}) {
        ASSERT_EQ(x->got.size(), 1u);
        EXPECT_FALSE(x->got[0]);
    }
    EXPECT_EQ(center.pending().size(), 1);
    // Ended here, while the answer it writes into still exists.
    center.endAll();
    ASSERT_EQ(a.got.size(), 1u);
    EXPECT_FALSE(a.got[0]);
}

TEST_F(ApprovalCenterTest, TimeoutsByAgent)
{
    Answers claude, codex;
    center.add(request("a", "Bash", {{"command", "ls"}}), claude.reply());
    center.add(request("b", "Bash", {{"command", "ls"}}, Agent::codex), codex.reply());
    clock.advance(44.9);
    EXPECT_TRUE(codex.got.empty());
    clock.advance(0.1);
    ASSERT_EQ(codex.got.size(), 1u);
    EXPECT_FALSE(codex.got[0]);
    EXPECT_FALSE(center.hasPending("b"));
    clock.advance(570 - 45 - 0.1);
    EXPECT_TRUE(claude.got.empty());
    clock.advance(0.1);
    ASSERT_EQ(claude.got.size(), 1u);
    EXPECT_FALSE(claude.got[0]);
    EXPECT_TRUE(center.pending().isEmpty());

    // A decision after the timeout sends nothing more.
    center.decide(1, Decision::allow);
    clock.advance(1000);
    EXPECT_EQ(claude.got.size(), 1u);
}

TEST_F(ApprovalCenterTest, ExactlyOneReplyWhateverComesFirst)
{
    Answers a;
    const quint64 id = *center.add(request("s", "Edit", {{"file_path", "/x/main.cpp"}}), a.reply(), 77);
    center.decide(id, Decision::deny);
    center.decide(id, Decision::allow);
    center.observe(ev("Stop", "s"));
    center.cancel(77);
    center.endAll();
    clock.advance(600);
    ASSERT_EQ(a.got.size(), 1u);
    EXPECT_EQ(*a.got[0], ApprovalToken::value()
                  + R"( {"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"deny"}}})");
}

TEST_F(ApprovalCenterTest, LaterEventsSettleInTheTerminal)
{
    Answers bash, edit, other;
    center.add(request("s", "Bash", {{"command", "make"}}), bash.reply());
    center.add(request("s", "Edit", {{"file_path", "/p/a.cpp"}}), edit.reply());
    center.add(request("t", "Bash", {{"command", "make"}}), other.reply());

    // Events that say nothing about the answer leave the requests alone.
    center.observe(ev("PermissionRequest", "s"));
    center.observe(ev("Notification", "s"));
    HookEvent pre = ev("PreToolUse", "s");
    pre.toolName = "Bash";
    pre.toolInput = {{"command", "make"}};
    center.observe(pre);
    HookEvent otherCall = ev("PostToolUse", "s");
    otherCall.toolName = "Bash";
    otherCall.toolInput = {{"command", "make test"}};
    center.observe(otherCall);
    EXPECT_EQ(center.pending().size(), 3);

    // The matching tool call finished: that request ends with no text, the others stay.
    HookEvent post = pre;
    post.name = "PostToolUse";
    center.observe(post);
    ASSERT_EQ(bash.got.size(), 1u);
    EXPECT_FALSE(bash.got[0]);
    EXPECT_TRUE(edit.got.empty());
    EXPECT_TRUE(other.got.empty());

    // A new prompt ends whatever the session still asked.
    center.observe(ev("UserPromptSubmit", "s"));
    ASSERT_EQ(edit.got.size(), 1u);
    EXPECT_FALSE(edit.got[0]);
    EXPECT_FALSE(center.hasPending("s"));
    EXPECT_TRUE(center.hasPending("t"));

    center.cancel(0); // a reply without an id matches nothing
    EXPECT_TRUE(center.hasPending("t"));
    center.endAll();
    ASSERT_EQ(other.got.size(), 1u);
    EXPECT_FALSE(other.got[0]);
}

TEST_F(ApprovalCenterTest, DecisionJsonPerAgentAndChoice)
{
    const json rule = json::parse(R"({"type":"addRules","rules":[{"toolName":"Bash","ruleContent":"npm test"}],"behavior":"allow","destination":"localSettings"})");
    const std::vector<json> suggestions{rule};

    auto parsed = [](const QString& text) { return json::parse(text.toStdString()); };
    const json allow = parsed(ApprovalCenter::decisionJSON(Decision::allow, Agent::claude, suggestions));
    EXPECT_EQ(allow, json::parse(R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"allow"}}})"));

    const json always = parsed(ApprovalCenter::decisionJSON(Decision::alwaysAllow, Agent::claude, suggestions));
    EXPECT_EQ(always["hookSpecificOutput"]["decision"]["behavior"], "allow");
    EXPECT_EQ(always["hookSpecificOutput"]["decision"]["updatedPermissions"], json::array({rule}));

    // Without suggestions "always" is a plain allow; Codex refuses any permission update.
    EXPECT_EQ(parsed(ApprovalCenter::decisionJSON(Decision::alwaysAllow, Agent::claude, {})), allow);
    EXPECT_EQ(parsed(ApprovalCenter::decisionJSON(Decision::alwaysAllow, Agent::codex, suggestions)), allow);

    const json deny = parsed(ApprovalCenter::decisionJSON(Decision::deny, Agent::codex, suggestions));
    EXPECT_EQ(deny["hookSpecificOutput"]["decision"], json::parse(R"({"behavior":"deny"})"));
    // The wire form keeps the event name first.
    EXPECT_TRUE(ApprovalCenter::decisionJSON(Decision::deny, Agent::claude, {})
                    .startsWith(R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest",)"));
}

TEST_F(ApprovalCenterTest, AlwaysAllowReplyCarriesTheRequestsSuggestions)
{
    Answers a;
    HookEvent e = request("s", "Bash", {{"command", "npm test"}});
    e.permissionSuggestions = {json::parse(R"({"type":"setMode","mode":"acceptEdits","destination":"session"})")};
    const quint64 id = *center.add(e, a.reply());
    center.decide(id, Decision::alwaysAllow);
    ASSERT_EQ(a.got.size(), 1u);
    const QString token = ApprovalToken::value();
    ASSERT_TRUE(a.got[0]->startsWith(token + " "));
    const json body = json::parse(a.got[0]->mid(token.size() + 1).toStdString());
    EXPECT_EQ(body["hookSpecificOutput"]["decision"]["updatedPermissions"][0]["mode"], "acceptEdits");
}

TEST_F(ApprovalCenterTest, DestroyingAnswersHeldRequests)
{
    Answers a;
    {
        ApprovalCenter local{&clock};
        local.add(request("s", "Bash", {{"command", "ls"}}), a.reply());
    }
    ASSERT_EQ(a.got.size(), 1u);
    EXPECT_FALSE(a.got[0]);
}
