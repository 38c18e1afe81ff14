#include "TestEnv.h"
#include "agents/AgentText.h"
#include "agents/ToolActivity.h"
#include "core/L10n.h"

#include <gtest/gtest.h>

using namespace lomex;
using nlohmann::json;

namespace {

std::optional<QString> describe(const char* name, const json& input)
{
    return ToolActivity::describe(QString::fromUtf8(name), input);
}

std::optional<QString> q(const char* text)
{
    return QString::fromUtf8(text);
}

const std::optional<QString> none = std::nullopt;

} // namespace

TEST(ToolActivityDescribe, ClaudeCodeInputs)
{
    // Shapes as Claude Code's PreToolUse hooks send them.
    EXPECT_EQ(describe("Bash", json::parse(R"({"command":"npm test -- --watch=false","description":"Run the unit tests","timeout":120000})")),
              q("Run the unit tests"));
    EXPECT_EQ(describe("Bash", json::parse(R"({"command":"git status --short"})")), q("git status --short"));
    EXPECT_EQ(describe("Bash", json::parse(R"({"command":"cd src\nmake -j4","description":""})")), q("cd src"));
    EXPECT_EQ(describe("Edit", json::parse(R"({"file_path":"/home/eva/app/src/main.cpp","old_string":"a","new_string":"b","replace_all":false})")),
              q("main.cpp"));
    EXPECT_EQ(describe("MultiEdit", json::parse(R"({"file_path":"/home/eva/app/README.md","edits":[{"old_string":"x","new_string":"y"}]})")),
              q("README.md"));
    EXPECT_EQ(describe("Write", json::parse(R"({"file_path":"/tmp/out/notes.txt","content":"hello\nworld"})")), q("notes.txt"));
    EXPECT_EQ(describe("Read", json::parse(R"({"file_path":"/etc/hosts","offset":10,"limit":20})")), q("hosts"));
    EXPECT_EQ(describe("Read", json::parse(R"({"offset":10})")), none);
    EXPECT_EQ(describe("NotebookEdit", json::parse(R"({"notebook_path":"/w/analysis.ipynb","new_source":"x"})")), q("analysis.ipynb"));
    EXPECT_EQ(describe("Grep", json::parse(R"j({"pattern":"TODO\\(eva\\)","path":"/w","output_mode":"content"})j")), q("TODO\\(eva\\)"));
    EXPECT_EQ(describe("Glob", json::parse(R"({"pattern":"**/*.cpp","path":"/w"})")), q("**/*.cpp"));
    EXPECT_EQ(describe("LS", json::parse(R"({"path":"/home/eva/projects/"})")), q("projects"));
    EXPECT_EQ(describe("WebFetch", json::parse(R"({"url":"https://docs.anthropic.com/en/docs/hooks","prompt":"Summarise"})")),
              q("docs.anthropic.com"));
    EXPECT_EQ(describe("WebSearch", json::parse(R"({"query":"qt6 QTextBoundaryFinder grapheme","allowed_domains":["doc.qt.io"]})")),
              q("qt6 QTextBoundaryFinder grapheme"));
    EXPECT_EQ(describe("Task", json::parse(R"({"description":"Find flaky tests","prompt":"...","subagent_type":"general-purpose"})")),
              q("Find flaky tests"));
    EXPECT_EQ(describe("Task", json::parse(R"({"prompt":"...","subagent_type":"code-reviewer"})")), q("code-reviewer"));
    EXPECT_EQ(describe("Agent", json::parse(R"({"subagent_type":"explorer"})")), q("explorer"));
    // TodoWrite has none of the generic keys.
    EXPECT_EQ(describe("TodoWrite", json::parse(R"({"todos":[{"content":"x","status":"pending","activeForm":"Doing x"}]})")), none);
}

TEST(ToolActivityDescribe, CodexAndCursorInputs)
{
    // Codex runs commands as an argument array: a wrongly typed value does not count.
    EXPECT_EQ(describe("shell", json::parse(R"({"command":["bash","-lc","ls"],"workdir":"/w"})")), none);
    EXPECT_EQ(describe("update_plan", json::parse(R"({"explanation":"x","plan":[{"step":"a","status":"pending"}]})")), none);
    EXPECT_EQ(describe("view_image", json::parse(R"({"path":"/home/eva/shots/screen.png"})")), q("screen.png"));
    // Cursor's tools.
    EXPECT_EQ(describe("run_terminal_cmd", json::parse(R"({"command":"pnpm build","is_background":false})")), q("pnpm build"));
    EXPECT_EQ(describe("edit_file", json::parse(R"({"target_file":"src/app/page.tsx","instructions":"fix","code_edit":"..."})")),
              q("page.tsx"));
    EXPECT_EQ(describe("read_file", json::parse(R"({"target_file":"/w/package.json","should_read_entire_file":true})")), q("package.json"));
    EXPECT_EQ(describe("codebase_search", json::parse(R"({"query":"where is auth handled","target_directories":[]})")),
              q("where is auth handled"));
    EXPECT_EQ(describe("search_replace", json::parse(R"({"file_path":"/w/a/b.rs","old_string":"x","new_string":"y"})")), q("b.rs"));
    // The generic row: description before command before query before the file keys.
    EXPECT_EQ(describe("Shell", json::parse(R"({"query":"q","command":"c"})")), q("c"));
    EXPECT_EQ(describe("Whatever", json::parse(R"({"target_file":"/a/t.txt","path":"/a/p.txt"})")), q("t.txt"));
    EXPECT_EQ(describe("Whatever", json::parse(R"({"file_path":"/a/f.txt","target_file":"/a/t.txt"})")), q("f.txt"));
    EXPECT_EQ(describe("Whatever", json::parse(R"({"description":"","command":"","path":"/srv/data/"})")), q("data"));
}

TEST(ToolActivityDescribe, McpAndUnknownTools)
{
    EXPECT_EQ(describe("mcp__github__create_issue", json::parse(R"({"title":"Bug","body":"x","repo":"a/b"})")), none);
    EXPECT_EQ(describe("mcp__linear__search", json::parse(R"({"query":"open bugs"})")), q("open bugs"));
    EXPECT_EQ(describe("SomethingNew", json::object()), none);
}

TEST(ToolActivityDescribe, WrongTypesAndNonObjectsCountAsAbsent)
{
    EXPECT_EQ(describe("Bash", json::parse(R"({"description":42,"command":"ls"})")), q("ls"));
    EXPECT_EQ(describe("Edit", json::parse(R"({"file_path":null})")), none);
    EXPECT_EQ(describe("Edit", json::parse(R"({"file_path":["/a/b"]})")), none);
    EXPECT_EQ(describe("Bash", json::parse(R"(["ls"])")), none);
    EXPECT_EQ(describe("Bash", json("ls")), none);
    EXPECT_EQ(describe("Bash", json()), none);
    // A text made of line breaks only has no line to show.
    EXPECT_EQ(describe("Bash", json::parse(R"({"description":"\n\r\n"})")), none);
}

TEST(ToolActivityDescribe, CutsToEightyCharactersOfTheFirstLine)
{
    const QString eighty(80, QLatin1Char('x'));
    const QString eightyOne(81, QLatin1Char('y'));
    EXPECT_EQ(ToolActivity::describe("Bash", json{{"command", eighty.toStdString()}}), eighty);
    EXPECT_EQ(ToolActivity::describe("Bash", json{{"command", (eightyOne + "\nsecond").toStdString()}}),
              QString(79, QLatin1Char('y')) + QChar(0x2026));
    // The cut applies to the file name, not to the long path it came from.
    const std::string longPath = "/" + std::string(200, 'd') + "/short.txt";
    EXPECT_EQ(ToolActivity::describe("Edit", json{{"file_path", longPath}}), q("short.txt"));
    // Leading blank lines are dropped; other separators split too.
    EXPECT_EQ(describe("Bash", json::parse(R"({"command":"\n\nfirst\u2028second"})")), q("first"));
}

TEST(ToolActivityDescribe, WebFetchHostOrText)
{
    EXPECT_EQ(describe("WebFetch", json::parse(R"({"url":"http://127.0.0.1:8080/x?y=1"})")), q("127.0.0.1"));
    EXPECT_EQ(describe("WebFetch", json::parse(R"({"url":"example dot com"})")), q("example dot com"));
    EXPECT_EQ(describe("WebFetch", json::parse(R"({"url":"/relative/path"})")), q("/relative/path"));
    const std::string longText = "not a url " + std::string(100, 'z') + "\nline two";
    const auto cut = ToolActivity::describe("WebFetch", json{{"url", longText}});
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->startsWith("not a url zz"));
    EXPECT_EQ(cut->size(), 80);
    EXPECT_TRUE(cut->endsWith(QChar(0x2026)));
}

TEST(ToolActivityDescribe, ApplyPatch)
{
    const char* patch =
        "*** Begin Patch\n"
        "*** Update File: src/agents/Session.cpp\n"
        "@@\n-old\n+new\n"
        "*** Add File: docs/notes.md\n"
        "+hello\n"
        "*** End Patch";
    EXPECT_EQ(describe("apply_patch", json{{"input", patch}}), q("Session.cpp and 1 more"));
    EXPECT_EQ(describe("apply_patch", json{{"command", "*** Begin Patch\n*** Delete File: a/old.txt\n*** End Patch"},
                                           {"input", patch}}),
              q("old.txt"));
    EXPECT_EQ(describe("apply_patch", json{{"patch", patch}}), q("Session.cpp and 1 more"));
    EXPECT_EQ(describe("apply_patch", json{{"input", "just text\nno files"}}), none);
    EXPECT_EQ(describe("apply_patch", json{{"command", json::array({"apply_patch", patch})}}), none);
    // The patch result is not cut, even for a long name.
    const std::string longName(120, 'n');
    EXPECT_EQ(ToolActivity::describe("apply_patch", json{{"input", "*** Add File: " + longName}}),
              QString::fromStdString(longName));
}

TEST(ToolActivityPatchFiles, LinesPrefixesAndCounts)
{
    EXPECT_EQ(ToolActivity::patchFiles(std::nullopt), none);
    EXPECT_EQ(ToolActivity::patchFiles(QString()), none);
    EXPECT_EQ(ToolActivity::patchFiles(q("*** Update File: a/b/c.swift\r\n*** Add File: d.txt\r*** Delete File: e/f.txt")),
              q("c.swift and 2 more"));
    // Prefixes must start the line exactly.
    EXPECT_EQ(ToolActivity::patchFiles(q(" *** Update File: x.txt\n***Update File: y.txt")), none);
    EXPECT_EQ(ToolActivity::patchFiles(q("*** Update File: one\u2029*** Update File: two\u0085*** Update File: three\f"
                                         "*** Update File: four\v*** Update File: five")),
              q("one and 4 more"));
    EXPECT_EQ(ToolActivity::patchFiles(q("*** Update File: dir/")), q("dir"));
}

TEST(ToolActivityPresentation, SymbolsNamesAndVerbs)
{
    struct Row {
        const char* name;
        const char* symbol;
        const char* verb;
    };
    const Row rows[] = {
        {"Bash", "terminal", "Running"},
        {"BashOutput", "terminal", "Running"},
        {"KillShell", "terminal", "Using KillShell"},
        {"Shell", "terminal", "Running"},
        {"run_terminal_cmd", "terminal", "Running"},
        {"Edit", "pencil", "Editing"},
        {"MultiEdit", "pencil", "Editing"},
        {"edit_file", "pencil", "Editing"},
        {"search_replace", "pencil", "Editing"},
        {"StrReplace", "pencil", "Editing"},
        {"apply_patch", "pencil", "Editing"},
        {"Write", "square.and.pencil", "Writing"},
        {"Read", "doc.text", "Reading"},
        {"read_file", "doc.text", "Reading"},
        {"NotebookEdit", "book", "Editing"},
        {"Grep", "magnifyingglass", "Searching"},
        {"codebase_search", "magnifyingglass", "Searching"},
        {"grep_search", "magnifyingglass", "Searching"},
        {"file_search", "magnifyingglass", "Searching"},
        {"Glob", "folder", "Searching"},
        {"LS", "folder", "Searching"},
        {"WebFetch", "globe", "Fetching"},
        {"WebSearch", "safari", "Researching"},
        {"web_search", "safari", "Researching"},
        {"Task", "person.2", "Delegating"},
        {"Agent", "person.2", "Delegating"},
        {"TodoWrite", "checklist", "Planning"},
        {"update_plan", "checklist", "Planning"},
        {"view_image", "photo", "Looking"},
        {"mcp__github__create_issue", "puzzlepiece.extension", "Using github \u00B7 create_issue"},
        {"bash", "wrench.and.screwdriver", "Using bash"},
        {"", "wrench.and.screwdriver", "Using "},
    };
    for (const Row& row : rows) {
        const ToolActivity tool{QString::fromUtf8(row.name), std::nullopt};
        EXPECT_EQ(tool.symbol(), QString::fromUtf8(row.symbol)) << row.name;
        EXPECT_EQ(tool.englishVerb(), QString::fromUtf8(row.verb)) << row.name;
    }
}

TEST(ToolActivityPresentation, McpDisplayNames)
{
    auto shown = [](const char* name) { return ToolActivity{QString::fromUtf8(name), std::nullopt}.displayName(); };
    EXPECT_EQ(shown("mcp__github__create_issue"), QString::fromUtf8("github \u00B7 create_issue"));
    EXPECT_EQ(shown("mcp__my_server__do_it"), QString::fromUtf8("my \u00B7 server_do_it"));
    EXPECT_EQ(shown("mcp__solo"), QString::fromUtf8("mcp__solo"));
    EXPECT_EQ(shown("mcp____a___b"), QString::fromUtf8("a \u00B7 b"));
    EXPECT_EQ(shown("Bash"), QString::fromUtf8("Bash"));
    EXPECT_EQ(shown("MCP__x__y"), QString::fromUtf8("MCP__x__y"));
    const ToolActivity mcp{"mcp__solo", std::nullopt};
    EXPECT_EQ(mcp.symbol(), "puzzlepiece.extension");
}

class ToolActivityCzech : public test::LomexTest {};

TEST_F(ToolActivityCzech, VerbsPassThroughAgentText)
{
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(AgentText::t(ToolActivity{"mcp__github__create_issue", std::nullopt}.englishVerb()),
              QString::fromUtf8("Používá github \u00B7 create_issue"));
    EXPECT_EQ(AgentText::t(ToolActivity{"KillShell", std::nullopt}.englishVerb()), QString::fromUtf8("Používá KillShell"));
    EXPECT_EQ(AgentText::t(ToolActivity{"NotebookEdit", std::nullopt}.englishVerb()), QString::fromUtf8("Upravuje"));
}

TEST(ToolActivityDescribe, BidiControlsAreWrittenOut)
{
    EXPECT_EQ(describe("Bash", json{{"command", "echo safe \u202E hs.live/ver.ecruos lruc"}}),
              q("echo safe <U+202E> hs.live/ver.ecruos lruc"));
    EXPECT_EQ(describe("Bash", json{{"command", "ls \u2066x\u2069\nrm \u200F"}}), q("ls <U+2066>x<U+2069>"));
    EXPECT_EQ(describe("Write", json{{"file_path", "/w/\u202Etxt.exe"}}), q("<U+202E>txt.exe"));
    EXPECT_EQ(describe("apply_patch", json{{"input", "*** Update File: a/\u202Egpj.exe\n"}}), q("<U+202E>gpj.exe"));
}

TEST(ToolActivityMake, EqualCallsGiveEqualValues)
{
    const json input = json::parse(R"({"command":"ls -la","description":"List files"})");
    EXPECT_EQ(ToolActivity::make("Bash", input), ToolActivity::make("Bash", input));
    EXPECT_EQ(ToolActivity::make("Bash", input), (ToolActivity{"Bash", QString("List files")}));
    EXPECT_NE(ToolActivity::make("Bash", input), ToolActivity::make("Shell", input));
}
