#include "agents/Transcript.h"
#include "core/JsonRead.h"
#include "platform/FileTail.h"
#include "core/Paths.h"
#include <QStringList>
#include <nlohmann/json.hpp>

namespace lomex {

using nlohmann::json;

namespace {
std::optional<QString> assistantText(const json& record) {
    if (!jsonread::isText(record, "type", "assistant")) return std::nullopt;
    const json* message = jsonread::object(record, "message");
    const json* content = message ? jsonread::member(*message, "content") : nullptr;
    if (!content) return std::nullopt;
    if (content->is_array()) {
        QStringList parts;
        for (const json& part : *content) {
            if (!jsonread::isText(part, "type", "text")) continue;
            if (auto text = jsonread::text(part, "text")) parts << *text;
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
