// Reads the end of large agent transcripts the way the session store, the chat and the Codex
// context refresh do, and prints how long a warm read takes for files of 1 MB, 100 MB and 1 GB
// (the reading thread's CPU time). Exits non-zero when a figure misses its limit. The files are
// written to /tmp and removed afterwards.
#include "BenchSupport.h"
#include "agents/AgentContext.h"
#include "agents/ChatTranscript.h"
#include "agents/Transcript.h"
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <vector>

using namespace lomex;
using nlohmann::json;

namespace {

QByteArray line(const json& j) { return QByteArray::fromStdString(j.dump()) + '\n'; }

// One Claude Code turn: prompt, thinking and text, a tool call, a large tool result, the answer.
QByteArray claudeTurn(int n) {
    const std::string id = std::to_string(n);
    const std::string code(8000, 'x');
    QByteArray b;
    b += line({{"parentUuid", "p" + id}, {"isSidechain", false}, {"userType", "external"}, {"cwd", "/home/ann/src/app"},
               {"sessionId", "8f0c3b6e"}, {"version", "2.0.14"}, {"type", "user"},
               {"message", {{"role", "user"}, {"content", "Please look at parser.cpp and fix test " + id}}},
               {"uuid", "u" + id}, {"timestamp", "2026-12-07T08:00:00.000Z"}});
    b += line({{"type", "assistant"}, {"uuid", "a" + id}, {"isSidechain", false},
               {"message", {{"role", "assistant"}, {"model", "claude-sonnet-4-5"},
                            {"content", {{{"type", "thinking"}, {"thinking", "Reading the file first."}},
                                         {{"type", "text"}, {"text", "I'll read the parser first."}}}},
                            {"usage", {{"input_tokens", 4}, {"output_tokens", 61}}}}}});
    b += line({{"type", "assistant"}, {"uuid", "t" + id},
               {"message", {{"role", "assistant"},
                            {"content", {{{"type", "tool_use"}, {"id", "toolu_" + id}, {"name", "Read"},
                                          {"input", {{"file_path", "/home/ann/src/app/parser.cpp"}}}}}}}}});
    b += line({{"type", "user"}, {"uuid", "r" + id},
               {"message", {{"role", "user"},
                            {"content", {{{"tool_use_id", "toolu_" + id}, {"type", "tool_result"}, {"content", code}}}}}}});
    b += line({{"type", "assistant"}, {"uuid", "f" + id},
               {"message", {{"role", "assistant"},
                            {"content", {{{"type", "text"}, {"text", "Fixed test " + id + "; all tests pass."}}}}}}});
    return b;
}

// One Codex turn: user message, reasoning, a shell call with a large output, the answer, a token count.
QByteArray codexTurn(int n) {
    const std::string id = std::to_string(n);
    const std::string out(8000, 'y');
    auto usage = [](int total) {
        return json{{"input_tokens", total - 500}, {"cached_input_tokens", 1000}, {"output_tokens", 500},
                    {"reasoning_output_tokens", 100}, {"total_tokens", total}};
    };
    QByteArray b;
    b += line({{"timestamp", "2026-12-07T08:10:00.000Z"}, {"type", "response_item"},
               {"payload", {{"type", "message"}, {"role", "user"},
                            {"content", {{{"type", "input_text"}, {"text", "Why does build " + id + " fail?"}}}}}}});
    b += line({{"type", "response_item"}, {"payload", {{"type", "reasoning"}, {"summary", json::array()}, {"encrypted_content", "gAAAAB"}}}});
    b += line({{"type", "response_item"}, {"payload", {{"type", "function_call"}, {"name", "shell"}, {"call_id", "c" + id},
                                                        {"arguments", "{\"command\":[\"make\"]}"}}}});
    b += line({{"type", "response_item"}, {"payload", {{"type", "function_call_output"}, {"call_id", "c" + id}, {"output", out}}}});
    b += line({{"type", "response_item"},
               {"payload", {{"type", "message"}, {"role", "assistant"},
                            {"content", {{{"type", "output_text"}, {"text", "Build " + id + " needs a flag."}}}}}}});
    b += line({{"type", "event_msg"},
               {"payload", {{"type", "token_count"},
                            {"info", {{"total_token_usage", usage(90000 + n)}, {"last_token_usage", usage(60000)},
                                      {"model_context_window", 272000}}}}}});
    return b;
}

bool writeFile(const QString& path, qint64 size, const std::function<QByteArray(int)>& turn) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QByteArray chunk;
    int n = 0;
    qint64 written = 0;
    while (written < size) {
        chunk.clear();
        while (chunk.size() < (4 << 20) && written + chunk.size() < size) chunk += turn(n++);
        if (f.write(chunk) != chunk.size()) return false;
        written += chunk.size();
    }
    return true;
}

struct Figures {
    double median, p95;
};

Figures timeIt(int runs, const std::function<void()>& fn) {
    fn(); // warm: page cache and first-use costs
    const std::vector<double> us = bench::sampleCpuMicros(runs, fn);
    return {bench::percentile(us, 50), bench::percentile(us, 95)};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QStringLiteral("/tmp/lomex-bench-XXXXXX"));
    if (!dir.isValid()) return 1;
    const qint64 sizes[] = {qint64(1) << 20, qint64(100) << 20, qint64(1) << 30};
    const int runs = 300;
    std::printf("warm tail reads, %d runs each (median / p95, microseconds of CPU)\n", runs);
    std::printf("%-10s %-34s %12s %12s\n", "file", "reader", "median", "p95");
    bool ok = true;
    double slowest = 0; // the slowest reader's median at any size
    for (qint64 size : sizes) {
        const QString label = size >= (qint64(1) << 30) ? QStringLiteral("%1 GB").arg(size >> 30)
                                                         : QStringLiteral("%1 MB").arg(size >> 20);
        const QString claude = dir.filePath(QStringLiteral("claude.jsonl"));
        const QString codex = dir.filePath(QStringLiteral("codex.jsonl"));
        if (!writeFile(claude, size, claudeTurn) || !writeFile(codex, size, codexTurn)) {
            std::fprintf(stderr, "cannot write the test files in %s\n", qPrintable(dir.path()));
            return 1;
        }
        // Check the readers found something, so the figures are for real work.
        ok = ok && Transcript::lastAssistantText(claude).has_value() && ChatTranscript::messages(claude, 12).size() == 12
             && ChatTranscript::messages(codex, 12).size() == 12 && AgentContext::codex(codex).has_value();

        const struct {
            const char* name;
            std::function<void()> fn;
        } readers[] = {
            {"Transcript::lastAssistantText", [&] { (void)Transcript::lastAssistantText(claude); }},
            {"ChatTranscript::messages (Claude)", [&] { (void)ChatTranscript::messages(claude, 12); }},
            {"ChatTranscript::messages (Codex)", [&] { (void)ChatTranscript::messages(codex, 12); }},
            {"AgentContext::codex", [&] { (void)AgentContext::codex(codex); }},
        };
        for (const auto& r : readers) {
            const Figures f = timeIt(runs, r.fn);
            std::printf("%-10s %-34s %12.1f %12.1f\n", qPrintable(label), r.name, f.median, f.p95);
            slowest = std::max(slowest, f.median);
        }
        QFile::remove(claude);
        QFile::remove(codex);
    }
    double worstCase = 0;
    // Worst case for the chat: the whole window is one long run of tool output, so every line in
    // it is parsed before the reader knows there is nothing older to show.
    {
        const QString claude = dir.filePath(QStringLiteral("tools.jsonl"));
        const QByteArray turn = claudeTurn(0);
        writeFile(claude, qint64(100) << 20, [&](int n) {
            if (n == 0) return turn;
            const std::string code(8000, 'z');
            return line({{"type", "user"}, {"uuid", "r" + std::to_string(n)},
                         {"message", {{"role", "user"},
                                      {"content", {{{"tool_use_id", "toolu"}, {"type", "tool_result"}, {"content", code}}}}}}});
        });
        const Figures f = timeIt(runs, [&] { (void)ChatTranscript::messages(claude, 12); });
        std::printf("%-10s %-34s %12.1f %12.1f  (worst case: no chat in the last 384 KiB)\n", "100 MB",
                    "ChatTranscript::messages (tools)", f.median, f.p95);
        QFile::remove(claude);
        worstCase = f.median;
    }
    bench::Limits limits;
    limits.holds("every reader found its text in every file", ok);
    // Only the tail is read: under 2 ms at any size (under 1 ms here); a reader that walked the
    // file would take a second at 1 GB.
    limits.atMost("slowest reader's median at 1 MB, 100 MB and 1 GB", slowest / 1000, 2, "ms");
    // The chat's worst case parses its whole 384 KiB window: about 3 ms.
    limits.atMost("chat read of a window of tool output only, median", worstCase / 1000, 8, "ms");
    return limits.exitCode();
}
