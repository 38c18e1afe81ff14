#include "AgentsTestSupport.h"
#include "agents/AgentContext.h"
#include "agents/ChatTranscript.h"
#include "agents/TextCut.h"
#include "agents/Transcript.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/types.h>

using namespace lomex;
using lomex::test::fixture;
using Role = ChatMessage::Role;

namespace {

QByteArray line(const nlohmann::json& record) {
    return QByteArray::fromStdString(record.dump()) + '\n';
}

QByteArray assistant(const std::string& text, const std::string& uuid = "a") {
    return line({{"type", "assistant"}, {"uuid", uuid},
                 {"message", {{"role", "assistant"}, {"content", {{{"type", "text"}, {"text", text}}}}}}});
}

QByteArray user(const std::string& text, std::optional<std::string> uuid = std::nullopt) {
    nlohmann::json r = {{"type", "user"}, {"message", {{"role", "user"}, {"content", text}}}};
    if (uuid) r["uuid"] = *uuid;
    return line(r);
}

// A JSON line of exactly n bytes (newline included) that is no conversation record.
QByteArray filler(qsizetype n, char fill = 'x') {
    const QByteArray head = R"({"type":"progress","data":")";
    const QByteArray tail = "\"}\n";
    return head + QByteArray(n - head.size() - tail.size(), fill) + tail;
}

} // namespace

class TranscriptTest : public lomex::test::LomexTest {
protected:
    QString write(const QByteArray& bytes, const QString& name = "t.jsonl") { return home.write(name, bytes); }
    void append(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(bytes);
    }
};

TEST_F(TranscriptTest, LastAssistantTextOfRealTranscripts) {
    const QString claude = write(fixture("claude-transcript.jsonl"), "claude.jsonl");
    EXPECT_EQ(Transcript::lastAssistantText(claude), "All 214 tests pass now.")
        << "a last record holding only a tool call is passed over";
    EXPECT_EQ(Transcript::lastAssistantText("~/claude.jsonl"), "All 214 tests pass now.");
    EXPECT_EQ(Transcript::lastAssistantText(write(fixture("codex-rollout.jsonl"), "codex.jsonl")), std::nullopt);
    EXPECT_EQ(Transcript::lastAssistantText(home.file("missing.jsonl")), std::nullopt);
    EXPECT_EQ(Transcript::lastAssistantText(home.path()), std::nullopt) << "a folder is no transcript";
}

TEST_F(TranscriptTest, LastAssistantTextShapes) {
    const QByteArray twoParts = line(nlohmann::json::parse(
        R"({"type":"assistant","message":{"content":[{"type":"text","text":" First."},{"type":"tool_use","name":"Read"},{"type":"text","text":"Second. "}]}})"));
    EXPECT_EQ(Transcript::lastAssistantText(write(twoParts + user("thanks"))), "First. Second.");

    const QByteArray plain = line(nlohmann::json::parse(R"({"type":"assistant","message":{"content":"  as typed  "}})"));
    const QByteArray emptyPlain = line(nlohmann::json::parse(R"({"type":"assistant","message":{"content":""}})"));
    const QByteArray blank = assistant(" \n\t ");
    const QByteArray odd = line(nlohmann::json::parse(R"({"type":"assistant","message":{"content":{"text":"no"}}})"));
    const QByteArray noMessage = line(nlohmann::json::parse(R"({"type":"assistant","text":"no"})"));
    EXPECT_EQ(Transcript::lastAssistantText(write(plain + emptyPlain + blank + odd + noMessage + "not json\n")),
              "  as typed  ");
    EXPECT_EQ(Transcript::lastAssistantText(write(user("only the user"))), std::nullopt);
    // Deep nesting from whoever wrote the file is skipped without exhausting the stack.
    const QByteArray deep = R"({"type":"assistant","message":{"content":)" + QByteArray(60000, '[')
        + QByteArray(60000, ']') + "}}\n";
    EXPECT_EQ(Transcript::lastAssistantText(write(assistant("before") + deep)), "before");
    EXPECT_EQ(ChatTranscript::messages(home.file("t.jsonl"), 12).size(), 1);
    EXPECT_EQ(Transcript::lastAssistantText(write("")), std::nullopt);
}

TEST_F(TranscriptTest, LastAssistantTextWindow) {
    constexpr qint64 window = Transcript::tailBytes;
    // A reply wholly before the window is not found.
    const QByteArray early = assistant("too early");
    EXPECT_EQ(Transcript::lastAssistantText(write(early + filler(window))), std::nullopt);
    // A file of exactly the window size is read whole.
    const QByteArray exact = assistant("fits") + filler(window - assistant("fits").size());
    ASSERT_EQ(exact.size(), window);
    EXPECT_EQ(Transcript::lastAssistantText(write(exact)), "fits");
    // A window starting exactly at a record's first byte keeps that record.
    const QByteArray rec = assistant("at the edge");
    EXPECT_EQ(Transcript::lastAssistantText(write(filler(1000) + rec + filler(window - rec.size()))), "at the edge");

    // A window that starts inside a two-byte character still finds the records after it.
    const QByteArray prefix = R"({"type":"progress","data":")";
    QByteArray run = prefix;
    while (run.size() < window + 40000) run += "é";
    run += "\"}\n";
    bool tested = false;
    for (int extra = 0; extra < 2 && !tested; ++extra) {
        const QByteArray file = run + filler(4000 + extra) + assistant("after the cut") + filler(2000);
        const qint64 start = file.size() - window;
        ASSERT_GT(start, prefix.size());
        ASSERT_LT(start, run.size() - 3);
        if ((start - prefix.size()) % 2 != 1) continue;
        tested = true;
        EXPECT_EQ(Transcript::lastAssistantText(write(file)), "after the cut");
    }
    EXPECT_TRUE(tested);
}

TEST_F(TranscriptTest, NonRegularFilesAreRefusedWithoutBlocking) {
    const QString fifo = home.file("pipe.jsonl");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(Transcript::lastAssistantText(fifo), std::nullopt);
    EXPECT_TRUE(ChatTranscript::messages(fifo, 12).isEmpty());
    EXPECT_EQ(AgentContext::codex(fifo), std::nullopt);
    EXPECT_LT(t.elapsed(), 2000) << "a FIFO without a writer must not hang the reader";
    EXPECT_TRUE(ChatTranscript::messages("/dev/zero", 12).isEmpty());
}

TEST_F(TranscriptTest, ChatOfClaudeTranscript) {
    const QString path = write(fixture("claude-transcript.jsonl"));
    const QList<ChatMessage> chat = ChatTranscript::messages(path, 12);
    ASSERT_EQ(chat.size(), 4);
    EXPECT_EQ(chat[0], (ChatMessage{"u-001", Role::user, "Fix the failing test in parser.cpp, please."}));
    EXPECT_EQ(chat[1], (ChatMessage{"a-001", Role::assistant,
                                    "I'll look at the failing test first.\n\n"
                                    "The test expects \"d.M.yyyy\" dates.\nI changed the format to match."}))
        << "assistant texts join across tool calls and tool results; side-chain records are left out";
    EXPECT_EQ(chat[2], (ChatMessage{"u-004", Role::user, "Now run the whole suite."}));
    EXPECT_EQ(chat[3], (ChatMessage{"a-005", Role::assistant, "All 214 tests pass now."}));

    // Every limit gives the newest messages of the whole list, assistant runs joined in full.
    for (int limit = 1; limit <= 5; ++limit)
        EXPECT_EQ(ChatTranscript::messages(path, limit), chat.mid(std::max(0, int(chat.size()) - limit))) << limit;
    EXPECT_TRUE(ChatTranscript::messages(path, 0).isEmpty());
    EXPECT_TRUE(ChatTranscript::messages(home.file("nope.jsonl"), 12).isEmpty());
}

TEST_F(TranscriptTest, ChatOfCodexRollout) {
    const QByteArray bytes = fixture("codex-rollout.jsonl");
    const QList<ChatMessage> chat = ChatTranscript::messages(write(bytes), 12);
    ASSERT_EQ(chat.size(), 3);
    const auto offsetOf = [&](const char* text) {
        const qsizetype at = bytes.indexOf(text);
        return QStringLiteral("x%1").arg(bytes.lastIndexOf('\n', at) + 1);
    };
    EXPECT_EQ(chat[0], (ChatMessage{offsetOf("Why does the build fail"), Role::user, "Why does the build fail on ARM?"}))
        << "the environment context is not the user's text";
    EXPECT_EQ(chat[1], (ChatMessage{offsetOf("The build passes"), Role::assistant,
                                    "The build passes -march=native, which ARM's compiler rejects.\n\n"
                                    "Drop the flag or guard it by architecture."}));
    EXPECT_EQ(chat[2].text, "Guard it.");
    EXPECT_EQ(ChatTranscript::messages(home.file("t.jsonl"), 2), chat.mid(1));
}

TEST_F(TranscriptTest, ChatFiltersAndCaps) {
    QByteArray b;
    b += user("<system-reminder>be brief</system-reminder>");
    b += user("  [Request interrupted by user]");
    b += assistant("<system-reminder> is fine from the assistant", "a1");
    b += user("one", "u1");
    b += user("two", "u2");
    b += line(nlohmann::json::parse(R"({"type":"response_item","payload":{"type":"reasoning","content":[{"type":"output_text","text":"no"}]}})"));
    b += line(nlohmann::json::parse(R"({"type":"event_msg","payload":{"type":"message","role":"user","content":[{"type":"input_text","text":"no"}]}})"));
    b += line(nlohmann::json::parse(R"({"type":"response_item","payload":{"type":"message","role":"user","content":[{"type":"input_text","text":"a"}, "b"]}})"));
    const std::string exact(1500, 'e');
    b += assistant(exact, "a2");
    b += user("break", "u3");
    // 1501 graphemes, each two code points (a thumbs-up with a skin tone).
    std::string thumbs;
    for (int i = 0; i < 1501; ++i) thumbs += "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";
    b += assistant(thumbs, "a3");

    const QList<ChatMessage> chat = ChatTranscript::messages(write(b), 12);
    ASSERT_EQ(chat.size(), 6);
    EXPECT_EQ(chat[0].text, "<system-reminder> is fine from the assistant");
    EXPECT_EQ(chat[1].id, "u1");
    EXPECT_EQ(chat[2].id, "u2") << "user messages never join";
    EXPECT_EQ(chat[3].text.size(), 1500) << "exactly 1500 characters stay whole";
    EXPECT_EQ(chat[4].id, "u3");
    const QString cut = chat[5].text;
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
    EXPECT_EQ(cut.size(), 1499 * 4 + 1) << "1499 whole graphemes and the ellipsis";
}

TEST_F(TranscriptTest, JoinedAssistantRunIsBoundedAndKeepsItsNewestText) {
    // Long replies in scripts that are costly to lay out: combining marks, Devanagari, emoji
    // sequences, right-to-left marks.
    const std::string piece = "a\xCC\x81\xCC\xA7 \xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87 "
                              "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB \xE2\x80\x8F\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D ";
    std::string reply;
    while (QString::fromStdString(reply).size() < 1500) reply += piece;
    QByteArray b = user("go", "u0");
    for (int i = 0; i < 250; ++i) b += assistant(reply + std::to_string(i), "a" + std::to_string(i));
    const QString path = write(b);
    const QList<ChatMessage> chat = ChatTranscript::messages(path, 12);
    ASSERT_EQ(chat.size(), 1) << "the window holds only the assistant's run";
    const ChatMessage& joined = chat[0];
    EXPECT_EQ(joined.role, Role::assistant);
    EXPECT_LE(textcut::graphemeCount(joined.text), ChatTranscript::maxJoinedCharacters);
    EXPECT_TRUE(joined.text.startsWith(QChar(0x2026)));
    EXPECT_TRUE(joined.text.endsWith("249")) << "the newest part is what stays";
    EXPECT_FALSE(joined.id == "a249") << "the id is the first part's in the window, not the newest";

    // Short runs are joined whole, as before.
    const QList<ChatMessage> small = ChatTranscript::messages(write(assistant("one", "a1") + assistant("two", "a2")), 12);
    ASSERT_EQ(small.size(), 1);
    EXPECT_EQ(small[0], (ChatMessage{"a1", Role::assistant, "one\n\ntwo"}));
}

TEST_F(TranscriptTest, ChatIdsStayAsTheFileGrows) {
    const QByteArray b = filler(20000) + user("no uuid here") + assistant("answer", "a1");
    const QString path = write(b);
    const QList<ChatMessage> first = ChatTranscript::messages(path, 12);
    ASSERT_EQ(first.size(), 2);
    EXPECT_EQ(first[0].id, "c20000") << "from the byte offset of the line";

    // Other records arrive in front of the window's end until the window no longer starts at 0.
    const qint64 grow = ChatTranscript::tailBytes - 50000;
    append(path, filler(grow));
    append(path, user("later", "u9"));
    const QList<ChatMessage> second = ChatTranscript::messages(path, 12);
    ASSERT_EQ(second.size(), 3);
    EXPECT_EQ(second[0].id, "c20000");

    append(path, filler(40000));
    const QList<ChatMessage> third = ChatTranscript::messages(path, 12);
    ASSERT_EQ(third.size(), 3);
    EXPECT_EQ(third[0], first[0]) << "same record, same id, with the window no longer at the start";
    EXPECT_GT(QFileInfo(path).size(), ChatTranscript::tailBytes);
    EXPECT_LT(QFileInfo(path).size() - ChatTranscript::tailBytes, 20000);
}

TEST_F(TranscriptTest, ChatWindowStartingMidCharacter) {
    // A long line of three-byte characters, cut by the window, then a conversation.
    const QByteArray prefix = R"({"type":"progress","data":")";
    QByteArray run = prefix;
    while (run.size() < ChatTranscript::tailBytes + 30000) run += "€";
    run += "\"}\n";
    int tested = 0;
    for (int extra = 0; extra < 3; ++extra) {
        const QByteArray file = run + filler(300 + extra) + user("after the cut", "u1") + assistant("still here", "a1");
        const qint64 start = file.size() - ChatTranscript::tailBytes;
        ASSERT_GT(start, prefix.size());
        if ((start - prefix.size()) % 3 == 0) continue;
        ++tested;
        const QList<ChatMessage> chat = ChatTranscript::messages(write(file), 12);
        ASSERT_EQ(chat.size(), 2);
        EXPECT_EQ(chat[0].text, "after the cut");
        EXPECT_EQ(chat[1].text, "still here");
    }
    EXPECT_EQ(tested, 2) << "both cut positions inside a character";
}

TEST_F(TranscriptTest, CodexContextFill) {
    const QString path = write(fixture("codex-rollout.jsonl"));
    // The newest count without "info" is passed over; 65,000 of 272,000 with 12,000 set aside.
    const auto fill = AgentContext::codex(path);
    ASSERT_TRUE(fill.has_value());
    EXPECT_NEAR(*fill, (65000.0 - 12000.0) / (272000.0 - 12000.0) * 100.0, 1e-9);

    EXPECT_EQ(AgentContext::codex(write(fixture("claude-transcript.jsonl"), "c.jsonl")), std::nullopt);
    EXPECT_EQ(AgentContext::codex(home.file("missing.jsonl")), std::nullopt);

    auto count = [](qint64 total, std::optional<qint64> window) {
        nlohmann::json info = {{"total_token_usage", {{"total_tokens", total * 3}}},
                               {"last_token_usage", {{"total_tokens", total}}}};
        if (window) info["model_context_window"] = *window;
        return line({{"type", "event_msg"}, {"payload", {{"type", "token_count"}, {"info", info}}}});
    };
    EXPECT_EQ(AgentContext::codex(write(count(5000, 272000))), 0.0) << "below the baseline counts as empty";
    EXPECT_EQ(AgentContext::codex(write(count(400000, 272000))), 100.0);
    EXPECT_EQ(AgentContext::codex(write(count(50000, std::nullopt))), std::nullopt) << "no window, no percentage";

    // A huge tool output after the last count still leaves it findable.
    const QString big = write(count(142000, 272000) + filler(1 << 20));
    ASSERT_TRUE(AgentContext::codex(big).has_value());
    EXPECT_NEAR(*AgentContext::codex(big), 50.0, 1e-9);
}
