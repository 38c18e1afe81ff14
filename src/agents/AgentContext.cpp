#include "agents/AgentContext.h"
#include "core/JsonRead.h"
#include "platform/FileTail.h"
#include "core/Paths.h"
#include <algorithm>
#include <nlohmann/json.hpp>

namespace lomex {

using nlohmann::json;

namespace {

// Token counts come as integers; a float or a negative number is read as absent.
std::optional<qint64> count(const json& obj, const char* key) {
    const json* value = jsonread::member(obj, key);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) return qint64(std::min<std::uint64_t>(value->get<std::uint64_t>(), INT64_MAX));
    if (value->is_number_integer() && value->get<std::int64_t>() >= 0) return value->get<std::int64_t>();
    return std::nullopt;
}

std::optional<double> fillOf(const json& record) {
    if (!jsonread::isText(record, "type", "event_msg")) return std::nullopt;
    const json* payload = jsonread::object(record, "payload");
    if (!payload || !jsonread::isText(*payload, "type", "token_count")) return std::nullopt;
    const json* info = jsonread::object(*payload, "info");
    if (!info) return std::nullopt;
    const auto window = count(*info, "model_context_window");
    if (!window || *window <= 0) return std::nullopt;
    // The last request's total is what the model saw; the session total only grows and says
    // nothing about the window. Very old rollouts carry only the running total.
    std::optional<qint64> used;
    for (const char* key : {"last_token_usage", "total_token_usage"}) {
        if (const json* usage = jsonread::object(*info, key)) used = count(*usage, "total_tokens");
        if (used) break;
    }
    if (!used) return std::nullopt;
    const qint64 base = AgentContext::codexBaselineTokens;
    if (*window <= base) return 100.0;
    const double effective = double(*window - base);
    const double inUse = double(std::max<qint64>(*used - base, 0));
    return std::clamp(inUse / effective * 100.0, 0.0, 100.0);
}

} // namespace

std::optional<double> AgentContext::codex(const QString& transcriptPath) {
    const QString path = paths::expandTilde(transcriptPath);
    // A token count follows every model reply, so it is nearly always in the last few lines;
    // a huge tool output after it is why a second, wider look exists at all.
    for (qint64 window : {qint64(262144), qint64(4 << 20)}) {
        auto tail = fileio::readTailLines(path, window);
        if (!tail) return std::nullopt;
        for (auto it = tail->lines.rbegin(); it != tail->lines.rend(); ++it) {
            if (!it->text.contains("token_count")) continue;
            json record = json::parse(it->text.begin(), it->text.end(), nullptr, false);
            if (auto fill = fillOf(record)) return fill;
        }
        if (tail->fileSize <= window) break;
    }
    return std::nullopt;
}

} // namespace lomex
