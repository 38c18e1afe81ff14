#include "agents/ChatTranscript.h"
#include "agents/TextCut.h"
#include "platform/FileTail.h"
#include "platform/Paths.h"
#include <algorithm>
#include <nlohmann/json.hpp>

namespace lomex {

using nlohmann::json;

namespace {

// User texts that are the agent's own bookkeeping, not something the user wrote.
const char* const droppedUserPrefixes[] = {
    "<command-",
    "<local-command",
    "<environment_context",
    "<user_instructions",
    "<system-reminder",
    "Caveat: The messages below",
    "[Request interrupted",
    "<permissions instructions",
};

bool isString(const json& obj, const char* key, const char* value) {
    auto it = obj.find(key);
    return it != obj.end() && it->is_string() && it->get_ref<const std::string&>() == value;
}

bool isTrue(const json& obj, const char* key) {
    auto it = obj.find(key);
    return it != obj.end() && it->is_boolean() && it->get<bool>();
}

// Texts of the parts whose "type" is one of the given kinds, joined with "\n".
QString joinParts(const json& parts, std::initializer_list<const char*> kinds) {
    QString out;
    bool first = true;
    for (const json& part : parts) {
        if (!part.is_object()) continue;
        auto type = part.find("type");
        auto text = part.find("text");
        if (type == part.end() || !type->is_string() || text == part.end() || !text->is_string()) continue;
        const std::string& t = type->get_ref<const std::string&>();
        bool wanted = false;
        for (const char* k : kinds) wanted = wanted || t == k;
        if (!wanted) continue;
        if (!first) out += '\n';
        out += QString::fromStdString(text->get_ref<const std::string&>());
        first = false;
    }
    return out;
}

std::optional<ChatMessage> claudeMessage(const json& record, qint64 offset) {
    auto type = record.find("type");
    if (type == record.end() || !type->is_string()) return std::nullopt;
    const std::string& t = type->get_ref<const std::string&>();
    if (t != "user" && t != "assistant") return std::nullopt;
    if (isTrue(record, "isMeta") || isTrue(record, "isSidechain")) return std::nullopt;
    auto message = record.find("message");
    if (message == record.end() || !message->is_object()) return std::nullopt;
    const auto role = t == "user" ? ChatMessage::Role::user : ChatMessage::Role::assistant;
    QString text;
    if (auto content = message->find("content"); content != message->end()) {
        if (content->is_string()) text = QString::fromStdString(content->get_ref<const std::string&>());
        else if (content->is_array()) text = joinParts(*content, {"text"});
    }
    auto uuid = record.find("uuid");
    const QString id = uuid != record.end() && uuid->is_string()
        ? QString::fromStdString(uuid->get_ref<const std::string&>())
        : QStringLiteral("c%1").arg(offset);
    return ChatTranscript::make(role, text, id);
}

std::optional<ChatMessage> codexMessage(const json& record, qint64 offset) {
    if (!isString(record, "type", "response_item")) return std::nullopt;
    auto payload = record.find("payload");
    if (payload == record.end() || !payload->is_object() || payload->empty()) return std::nullopt;
    if (!isString(*payload, "type", "message")) return std::nullopt;
    ChatMessage::Role role;
    if (isString(*payload, "role", "user")) role = ChatMessage::Role::user;
    else if (isString(*payload, "role", "assistant")) role = ChatMessage::Role::assistant;
    else return std::nullopt;
    auto content = payload->find("content");
    if (content == payload->end() || !content->is_array()) return std::nullopt;
    for (const json& part : *content)
        if (!part.is_object()) return std::nullopt;
    return ChatTranscript::make(role, joinParts(*content, {"input_text", "output_text"}),
                                QStringLiteral("x%1").arg(offset));
}

json parseLine(QByteArrayView line) {
    json record = json::parse(line.begin(), line.end(), nullptr, false);
    if (record.is_discarded() && !QUtf8StringView(line).isValidUtf8()) {
        // A stray invalid byte inside a text: read it as U+FFFD rather than losing the record.
        const QByteArray repaired = QString::fromUtf8(line).toUtf8();
        record = json::parse(repaired.begin(), repaired.end(), nullptr, false);
    }
    return record;
}

} // namespace

std::optional<ChatMessage> ChatTranscript::make(ChatMessage::Role role, const QString& text, const QString& id) {
    QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    if (role == ChatMessage::Role::user) {
        for (const char* prefix : droppedUserPrefixes)
            if (t.startsWith(QLatin1String(prefix))) return std::nullopt;
    }
    return ChatMessage{id, role, textcut::shorten(t, maxCharacters)};
}

QList<ChatMessage> ChatTranscript::messages(const QString& path, int limit) {
    if (limit <= 0) return {};
    auto tail = fileio::readTailLines(paths::expandTilde(path), tailBytes);
    if (!tail) return {};
    // Walk from the newest line back and stop once the oldest message we keep is complete: a
    // long transcript tail is mostly tool output, and parsing it all would cost milliseconds.
    // Joining runs of assistant messages backwards gives the same messages as joining forwards.
    QList<ChatMessage> newestFirst;
    for (auto it = tail->lines.rbegin(); it != tail->lines.rend(); ++it) {
        json record = parseLine(it->text);
        if (!record.is_object()) continue;
        auto msg = claudeMessage(record, it->offset);
        if (!msg) msg = codexMessage(record, it->offset);
        if (!msg) continue;
        if (!newestFirst.isEmpty() && newestFirst.last().role == ChatMessage::Role::assistant
            && msg->role == ChatMessage::Role::assistant) {
            // The older part comes first and gives the id.
            newestFirst.last() = {msg->id, msg->role, msg->text + QStringLiteral("\n\n") + newestFirst.last().text};
            continue;
        }
        if (newestFirst.size() == limit) break; // the oldest kept message can grow no further
        newestFirst.append(std::move(*msg));
    }
    std::reverse(newestFirst.begin(), newestFirst.end());
    return newestFirst;
}

} // namespace lomex
