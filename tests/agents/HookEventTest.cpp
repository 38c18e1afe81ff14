#include "agents/HookEvent.h"
#include <gtest/gtest.h>

using namespace lomex;
using nlohmann::json;

namespace {

std::optional<HookEvent> decode(const QByteArray& body, const FieldMap& query = {}, const FieldMap& headers = {})
{
    return HookEvent::decode(body, headers, query);
}

TEST(HookEventDecode, BodiesThatAreNotHookNotificationsGiveNothing)
{
    for (const QByteArray& body :
         {QByteArray(), QByteArray("[]"), QByteArray("{}"), QByteArray(R"({"hook_event_name":5})"),
          QByteArray(R"({"hook_event_name":null})"), QByteArray(R"("Stop")"), QByteArray("not json"),
          QByteArray(R"({"hook_event_name":"Stop")"), QByteArray("{\"hook_event_name\":\"St\xff\"}"),
          QByteArray(R"({"hook_event_name":"Stop"} trailing)")}) {
        EXPECT_FALSE(decode(body).has_value()) << body.constData();
    }
}

TEST(HookEventDecode, MinimalStopHasEveryFallback)
{
    const auto event = decode(R"({"hook_event_name":"Stop"})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "Stop");
    EXPECT_EQ(event->agent, Agent::claude);
    EXPECT_FALSE(event->isCursorViaClaudeHook);
    EXPECT_EQ(event->sessionID, "default");
    EXPECT_EQ(event->toolInput, json::object());
    EXPECT_TRUE(event->permissionSuggestions.empty());
    EXPECT_FALSE(event->cwd || event->transcriptPath || event->toolName || event->message || event->notificationType
                 || event->prompt || event->lastAssistantMessage || event->error || event->errorDetails
                 || event->contextPercent || event->termProgram || event->hostBundleID);
}

TEST(HookEventDecode, ClaudeCodePermissionRequest)
{
    const QByteArray body = R"({
      "session_id": "0b9f6c7e-3c2a-4a55-9d7e-1f2e3d4c5b6a",
      "transcript_path": "/home/u/.claude/projects/-home-u-app/0b9f6c7e.jsonl",
      "cwd": "/home/u/app",
      "permission_mode": "default",
      "hook_event_name": "PermissionRequest",
      "tool_name": "Bash",
      "tool_input": {"command": "rm -rf build", "description": "Clean", "timeout": 120000, "run_in_background": false,
                     "nested": {"list": [1, 2.5, null, "x"]}},
      "permission_suggestions": [
        {"type": "addRules", "rules": [{"toolName": "Bash", "ruleContent": "rm -rf build"}], "behavior": "allow",
         "destination": "localSettings"},
        {"type": "setMode", "mode": "acceptEdits", "destination": "session"}
      ]
    })";
    const auto event = decode(body, {{"src", "lomex-agent"}},
                              {{"x-term-program", "vscode"}, {"x-bundle-id", "code.desktop"}, {"content-length", "9"}});
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "PermissionRequest");
    EXPECT_EQ(event->agent, Agent::claude);
    EXPECT_EQ(event->sessionID, "0b9f6c7e-3c2a-4a55-9d7e-1f2e3d4c5b6a");
    EXPECT_EQ(event->cwd, QString("/home/u/app"));
    EXPECT_EQ(event->transcriptPath, QString("/home/u/.claude/projects/-home-u-app/0b9f6c7e.jsonl"));
    EXPECT_EQ(event->toolName, QString("Bash"));
    EXPECT_EQ(event->toolInput["timeout"], 120000);
    EXPECT_EQ(event->toolInput["run_in_background"], false);
    EXPECT_EQ(event->toolInput["nested"]["list"], json::parse(R"([1, 2.5, null, "x"])"));
    ASSERT_EQ(event->permissionSuggestions.size(), 2u);
    EXPECT_EQ(event->permissionSuggestions[1]["mode"], "acceptEdits");
    EXPECT_EQ(event->termProgram, QString("vscode"));
    EXPECT_EQ(event->hostBundleID, QString("code.desktop"));
    EXPECT_FALSE(event->contextPercent);
}

TEST(HookEventDecode, ClaudeCodeNotificationPromptAndStopFailure)
{
    auto notification = decode(R"({"session_id":"s","hook_event_name":"Notification",
        "message":"Claude needs your permission to use Bash","notification_type":"permission_prompt"})");
    ASSERT_TRUE(notification);
    EXPECT_EQ(notification->message, QString("Claude needs your permission to use Bash"));
    EXPECT_EQ(notification->notificationType, QString("permission_prompt"));

    auto prompt = decode(R"({"session_id":"s","hook_event_name":"UserPromptSubmit","prompt":"Fix the bug – prosím"})");
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->prompt, QString::fromUtf8("Fix the bug – prosím"));

    auto failure = decode(R"({"session_id":"s","hook_event_name":"StopFailure","error":"rate_limit",
        "error_details":"429 Too Many Requests","last_assistant_message":"Partial"})");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error, QString("rate_limit"));
    EXPECT_EQ(failure->errorDetails, QString("429 Too Many Requests"));
    EXPECT_EQ(failure->lastAssistantMessage, QString("Partial"));
}

TEST(HookEventDecode, CodexStopThroughQuery)
{
    const QByteArray body = R"({"hook_event_name":"Stop","stop_hook_active":false,
        "session_id":"11111111-1111-4111-8111-111111111111","turn_id":"22222222-2222-4222-8222-222222222222",
        "cwd":"/work/repo","transcript_path":"/home/u/.codex/sessions/2026/12/07/rollout.jsonl",
        "last_assistant_message":"all set"})";
    for (const QString& value : {QString("codex"), QString("CODEX"), QString("Codex")}) {
        const auto event = decode(body, {{"src", "lomex-agent"}, {"agent", value}});
        ASSERT_TRUE(event);
        EXPECT_EQ(event->agent, Agent::codex);
        EXPECT_EQ(event->lastAssistantMessage, QString("all set"));
        EXPECT_EQ(event->sessionID, "11111111-1111-4111-8111-111111111111");
    }
    EXPECT_EQ(decode(body, {{"agent", "gemini"}})->agent, Agent::claude);
}

TEST(HookEventDecode, WrongTypesCountAsAbsent)
{
    const auto event = decode(R"({"hook_event_name":"PreToolUse","session_id":42,"cwd":["/a"],
        "transcript_path":null,"tool_name":{"x":1},"tool_input":"{\"command\":\"ls\"}","message":true,
        "notification_type":3,"prompt":[],"last_assistant_message":{},"error":1,"error_details":false,
        "permission_suggestions":[{"type":"addRules"},"text"],
        "conversation_id":"ignored","workspace_roots":["/ignored"],"text":"ignored","status":"error"})",
                              {}, {{"x-term-program", ""}, {"x-bundle-id", ""}});
    ASSERT_TRUE(event);
    EXPECT_EQ(event->sessionID, "default");
    EXPECT_FALSE(event->cwd || event->transcriptPath || event->toolName || event->message
                 || event->notificationType || event->prompt || event->lastAssistantMessage || event->error
                 || event->errorDetails || event->termProgram || event->hostBundleID);
    EXPECT_EQ(event->toolInput, json::object());
    EXPECT_TRUE(event->permissionSuggestions.empty());
    EXPECT_EQ(decode(R"({"hook_event_name":"X","permission_suggestions":{"a":1}})")->permissionSuggestions.size(), 0u);
}

TEST(HookEventDecode, CursorShellThroughClaudeHook)
{
    const QByteArray body = R"({"conversation_id":"conv-123","generation_id":"gen-456","model":"gpt-5",
        "hook_event_name":"beforeShellExecution","cursor_version":"2.0.77","workspace_roots":["/p/app","/p/lib"],
        "user_email":null,"command":"npm install express","cwd":"","sandbox":false,
        "tool_name":"ignored","tool_input":{"ignored":true}})";
    const auto event = decode(body, {{"src", "lomex-agent"}});
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "PermissionRequest");
    EXPECT_EQ(event->agent, Agent::cursor);
    EXPECT_TRUE(event->isCursorViaClaudeHook);
    EXPECT_EQ(event->sessionID, "conv-123");
    EXPECT_EQ(event->cwd, QString("")); // present text wins over workspace_roots
    EXPECT_EQ(event->toolName, QString("Shell"));
    EXPECT_EQ(event->toolInput, json({{"command", "npm install express"}}));

    const auto sandboxed = decode(R"({"hook_event_name":"beforeShellExecution","sandbox":true,
        "workspace_roots":["/p/app"]})", {{"agent", "cursor"}});
    ASSERT_TRUE(sandboxed);
    EXPECT_EQ(sandboxed->name, "SandboxedShell");
    EXPECT_FALSE(sandboxed->isCursorViaClaudeHook);
    EXPECT_EQ(sandboxed->sessionID, "cursor");
    EXPECT_EQ(sandboxed->cwd, QString("/p/app"));
    EXPECT_EQ(sandboxed->toolInput, json({{"command", ""}}));
}

TEST(HookEventDecode, CursorDialectRules)
{
    // cursor_version present with null still selects the Cursor dialect.
    auto mcp = decode(R"({"hook_event_name":"beforeMCPExecution","cursor_version":null,"session_id":"s-1",
        "tool_name":"database_query","tool_input":"{\"query\":\"SELECT 1\"}","workspace_roots":["/a",3]})");
    ASSERT_TRUE(mcp);
    EXPECT_EQ(mcp->name, "PermissionRequest");
    EXPECT_EQ(mcp->sessionID, "s-1");
    EXPECT_EQ(mcp->toolName, QString("database_query"));
    EXPECT_EQ(mcp->toolInput, json::object()); // a JSON string is not an object
    EXPECT_FALSE(mcp->cwd);                    // roots must all be texts

    auto failed = decode(R"({"hook_event_name":"stop","status":"error","loop_count":2})", {{"agent", "cursor"}});
    EXPECT_EQ(failed->name, "StopFailure");
    EXPECT_EQ(failed->error, QString("error"));
    auto aborted = decode(R"({"hook_event_name":"stop","status":"aborted"})", {{"agent", "cursor"}});
    EXPECT_EQ(aborted->name, "Interrupt");
    EXPECT_FALSE(aborted->error);
    auto explicitError = decode(R"({"hook_event_name":"stop","status":"error","error":"boom"})", {{"agent", "cursor"}});
    EXPECT_EQ(explicitError->error, QString("boom"));

    auto response = decode(R"({"hook_event_name":"afterAgentResponse","text":"Done, tests pass."})",
                           {{"agent", "cursor"}});
    EXPECT_EQ(response->name, "AgentResponse");
    EXPECT_EQ(response->lastAssistantMessage, QString("Done, tests pass."));
    auto edit = decode(R"({"hook_event_name":"afterFileEdit","file_path":"/a.ts"})", {{"agent", "cursor"}});
    EXPECT_EQ(edit->name, "afterFileEdit");
}

TEST(HookEventDecode, CursorEventNameTable)
{
    const std::optional<QString> none;
    EXPECT_EQ(HookEvent::cursorEventName("beforeShellExecution", none, true), "SandboxedShell");
    EXPECT_EQ(HookEvent::cursorEventName("beforeShellExecution", none, false), "PermissionRequest");
    EXPECT_EQ(HookEvent::cursorEventName("beforeMCPExecution", none, true), "PermissionRequest");
    EXPECT_EQ(HookEvent::cursorEventName("sessionStart", none, false), "SessionStart");
    EXPECT_EQ(HookEvent::cursorEventName("sessionEnd", none, false), "SessionEnd");
    EXPECT_EQ(HookEvent::cursorEventName("beforeSubmitPrompt", none, false), "UserPromptSubmit");
    EXPECT_EQ(HookEvent::cursorEventName("preToolUse", none, false), "PreToolUse");
    EXPECT_EQ(HookEvent::cursorEventName("postToolUse", none, false), "PostToolUse");
    EXPECT_EQ(HookEvent::cursorEventName("postToolUseFailure", none, false), "PostToolUseFailure");
    EXPECT_EQ(HookEvent::cursorEventName("preCompact", none, false), "PreCompact");
    EXPECT_EQ(HookEvent::cursorEventName("subagentStop", none, false), "SubagentStop");
    EXPECT_EQ(HookEvent::cursorEventName("afterAgentResponse", none, false), "AgentResponse");
    EXPECT_EQ(HookEvent::cursorEventName("stop", none, false), "Stop");
    EXPECT_EQ(HookEvent::cursorEventName("stop", QString("completed"), false), "Stop");
    EXPECT_EQ(HookEvent::cursorEventName("stop", QString("aborted"), false), "Interrupt");
    EXPECT_EQ(HookEvent::cursorEventName("stop", QString("error"), false), "StopFailure");
    EXPECT_EQ(HookEvent::cursorEventName("Stop", QString("error"), false), "Stop"); // case-sensitive
    EXPECT_EQ(HookEvent::cursorEventName("STOP", none, false), "STOP");
}

TEST(HookEventDecode, CursorContextPercentage)
{
    auto context = [](const char* text) { return HookEvent::cursorContext(json::parse(text)); };
    const auto withValue = [](double tokens, const std::string& value) {
        return HookEvent::cursorContext(
            json{{"input_tokens", tokens}, {"model_params", json::array({{{"id", "context"}, {"value", value}}})}});
    };
    EXPECT_DOUBLE_EQ(*withValue(50'000, "200k"), 25);
    EXPECT_DOUBLE_EQ(*withValue(300'000, "200k"), 100);
    EXPECT_DOUBLE_EQ(*withValue(500'000, "1M"), 50);
    EXPECT_DOUBLE_EQ(*withValue(100'000, " \t200K\t "), 50);
    EXPECT_DOUBLE_EQ(*withValue(1'000, "2000"), 50);
    EXPECT_DOUBLE_EQ(*withValue(1'000, "ctx2.5k"), 40);
    EXPECT_FALSE(withValue(50'000, "200 k"));
    EXPECT_FALSE(withValue(0, "200k"));
    EXPECT_FALSE(withValue(-5, "200k"));
    EXPECT_FALSE(withValue(50'000, "k"));
    EXPECT_FALSE(withValue(50'000, "0k"));
    EXPECT_FALSE(withValue(50'000, "1e999"));
    EXPECT_FALSE(withValue(1, "1e308m")); // share rounds to nothing
    // The first entry with the text id "context" counts; entries without a text id are skipped.
    EXPECT_DOUBLE_EQ(*context(R"({"input_tokens":1000,"model_params":[{"id":1},{"value":"9"},
        {"id":"context","value":"10k"},{"id":"context","value":"1k"}]})"), 10);
    EXPECT_FALSE(context(R"({"input_tokens":1000,"model_params":[{"id":"Context","value":"10k"}]})"));
    EXPECT_FALSE(context(R"({"input_tokens":1000,"model_params":[{"id":"context","value":10000}]})"));
    EXPECT_FALSE(context(R"({"input_tokens":1000,"model_params":[{"id":"context","value":"10k"},"x"]})"));
    EXPECT_FALSE(context(R"({"input_tokens":"1000","model_params":[{"id":"context","value":"10k"}]})"));
    EXPECT_FALSE(context(R"({"input_tokens":true,"model_params":[{"id":"context","value":"10k"}]})"));
    EXPECT_FALSE(context(R"({"input_tokens":1000,"model_params":{"id":"context","value":"10k"}})"));

    // Only the Cursor dialect fills it.
    const QByteArray body = R"({"hook_event_name":"stop","input_tokens":50000,
        "model_params":[{"id":"context","value":"200k"}]})";
    EXPECT_DOUBLE_EQ(*decode(body, {{"agent", "cursor"}})->contextPercent, 25);
    EXPECT_FALSE(decode(body)->contextPercent);
}

TEST(HookEventDecode, DeepNestingIsRefused)
{
    const QByteArray ok = R"({"hook_event_name":"Stop","tool_input":{"a":)" + QByteArray(200, '[')
                          + QByteArray(200, ']') + "}}";
    EXPECT_TRUE(decode(ok));
    const QByteArray deep = R"({"hook_event_name":"Stop","tool_input":{"a":)" + QByteArray(100'000, '[')
                            + QByteArray(100'000, ']') + "}}";
    EXPECT_FALSE(decode(deep));
    // Brackets inside strings do not count.
    const QByteArray quoted = R"({"hook_event_name":"Stop","prompt":")" + QByteArray(1000, '[') + R"(\"{"})";
    ASSERT_TRUE(decode(quoted));
    EXPECT_EQ(decode(quoted)->prompt->size(), 1002);
}

// A JavaScript agent that cut a string inside an emoji sends half a surrogate pair; the
// event is kept with U+FFFD in its place. Whole pairs and other escapes are left alone.
TEST(HookEventDecode, LoneSurrogateEscapesAreRepaired)
{
    struct Case { const char* json; const char* message; };
    const Case cases[] = {
        {R"(cut \ud83d)", "cut \uFFFD"},
        {R"(\udc00 low first)", "\uFFFD low first"},
        {R"(\ud83d\ud83d\ude00 two highs)", "\uFFFD\U0001F600 two highs"},
        {R"(pair \ud83d\ude00 ok)", "pair \U0001F600 ok"},
        {R"(escaped \\ud800 backslash)", "escaped \\ud800 backslash"},
        {R"(\uD800\u0041)", "\uFFFDA"},
    };
    for (const Case& c : cases) {
        const QByteArray body = QByteArray(R"({"hook_event_name":"Notification","session_id":"s","message":")")
            + c.json + R"(","cwd":"\ud800/x"})";
        const auto event = decode(body);
        ASSERT_TRUE(event) << c.json;
        EXPECT_EQ(event->message, QString::fromUtf8(c.message)) << c.json;
        EXPECT_EQ(event->cwd, QString::fromUtf8("\uFFFD/x"));
    }
    // Outside strings nothing is touched: still not JSON.
    EXPECT_FALSE(decode(R"({"hook_event_name":"Stop"} \ud800)"));
}

// Every kept field is bounded when decoded: the table keeps them for hours.
TEST(HookEventDecode, KeptFieldsAreBounded)
{
    const std::string huge(1 << 20, 'x');
    json payload = {{"hook_event_name", "Notification"}, {"session_id", huge}, {"cwd", huge},
                    {"transcript_path", huge}, {"tool_name", huge}, {"message", huge}, {"prompt", huge},
                    {"notification_type", huge}, {"last_assistant_message", huge}, {"error", huge},
                    {"error_details", huge}};
    const auto event = decode(QByteArray::fromStdString(payload.dump()), {},
                              {{"x-term-program", QString(100'000, 'y')}, {"x-bundle-id", QString(100'000, 'z')}});
    ASSERT_TRUE(event);
    for (const QString* field : {&event->sessionID, &*event->cwd, &*event->transcriptPath, &*event->toolName,
                                 &*event->notificationType, &*event->error, &*event->termProgram, &*event->hostBundleID})
        EXPECT_EQ(field->size(), HookEvent::maxFieldUnits);
    for (const QString* field : {&*event->message, &*event->prompt, &*event->lastAssistantMessage, &*event->errorDetails})
        EXPECT_EQ(field->size(), HookEvent::maxMessageUnits);
    // A cut never leaves half a surrogate pair behind.
    QString emoji;
    for (int i = 0; i < 3000; ++i)
        emoji += QString::fromUtf8("😀");
    const auto cut = decode(QByteArray::fromStdString(
        json{{"hook_event_name", "Stop"}, {"cwd", "a" + emoji.toStdString()}}.dump()));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->cwd->size(), HookEvent::maxFieldUnits - 1);
    EXPECT_FALSE(cut->cwd->back().isHighSurrogate());
}

} // namespace

// The window headers come from the hook's shell: anything but a plain positive number is absent.
TEST(HookEventDecode, WindowAndProcessHeaders)
{
    struct Case {
        const char* window;
        const char* pid;
        std::optional<quint32> windowID;
        std::optional<qint64> agentPID;
    };
    const std::vector<Case> cases{
        {"41943054", "4242", 41943054u, 4242},
        {"", "", std::nullopt, std::nullopt},
        {"4294967295", "4194304", 4294967295u, 4194304},
        {"4294967296", "4194305", std::nullopt, std::nullopt},
        {"0", "0", std::nullopt, std::nullopt},
        {"-5", "+7", std::nullopt, std::nullopt},
        {"0x2800006", "12 ", std::nullopt, std::nullopt},
        {"99999999999999999999999", "1e3", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto event = decode(R"({"session_id":"s","hook_event_name":"Stop"})", {},
                                  {{"x-window-id", c.window}, {"x-agent-pid", c.pid}});
        ASSERT_TRUE(event);
        EXPECT_EQ(event->windowID, c.windowID) << c.window;
        EXPECT_EQ(event->agentPID, c.agentPID) << c.pid;
    }
}
