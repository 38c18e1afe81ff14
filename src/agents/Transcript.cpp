#include "agents/Transcript.h"
#include "platform/FileTail.h"
#include "platform/Paths.h"
#include <QStringList>
#include <nlohmann/json.hpp>

namespace lomex {

using nlohmann::json;

namespace {
std::optional<QString> assistantText(const json& record) {
    if (!record.is_object()) return std::nullopt;
    auto type = record.find("type");
    if (type == record.end() || !type->is_string() || type->get_ref<const std::string&>() != "assistant")
        return std::nullopt;
    auto message = record.find("message");
    if (message == record.end() || !message->is_object()) return std::nullopt;
    auto content = message->find("content");
    if (content == message->end()) return std::nullopt;
    if (content->is_array()) {
        QStringList parts;
        for (const json& part : *content) {
            if (!part.is_object()) continue;
            auto pt = part.find("type");
            auto text = part.find("text");
            if (pt == part.end() || !pt->is_string() || pt->get_ref<const std::string&>() != "text") continue;
            if (text == part.end() || !text->is_string()) continue;
            parts << QString::fromStdString(text->get_ref<const std::string&>());
        }
        const QString joined = parts.join(' ').trimmed();
        if (!joined.isEmpty()) return joined;
        return std::nullopt;
    }
    if (content->is_string() && !content->get_ref<const std::string&>().empty())
        return QString::fromStdString(content->get_ref<const std::string&>());
    return std::nullopt;
}
} // namespace

std::optional<QString> Transcript::lastAssistantText(const QString& path) {
    auto tail = fileio::readTailLines(paths::expandTilde(path), tailBytes);
    if (!tail) return std::nullopt;
    for (auto it = tail->lines.rbegin(); it != tail->lines.rend(); ++it) {
        const QByteArrayView line = it->text;
        // Only assistant records can answer; skip the rest without parsing them.
        if (!line.contains("assistant")) continue;
        json record = json::parse(line.begin(), line.end(), nullptr, false);
        if (record.is_discarded()) continue;
        if (auto text = assistantText(record)) return text;
    }
    return std::nullopt;
}

} // namespace lomex
