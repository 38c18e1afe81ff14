#include "agents/ChatTranscript.h"
#include "core/JsonRead.h"
#include "agents/TextCut.h"
#include "platform/FileTail.h"
#include "core/Paths.h"
#include <QStringList>
#include <algorithm>
#include <nlohmann/json.hpp>

namespace lomex {

using nlohmann::json;
using jsonread::isText;
using jsonread::isTrue;

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

// Texts of the parts whose "type" is one of the given kinds, joined with "\n".
QString joinParts(const json& parts, std::initializer_list<std::string_view> kinds) {
    QStringList texts;
    for (const json& part : parts) {
        const bool wanted = std::any_of(kinds.begin(), kinds.end(),
                                        [&](std::string_view kind) { return isText(part, "type", kind); });
        if (!wanted) continue;
        if (auto text = jsonread::text(part, "text")) texts << *text;
    }
    return texts.join(QLatin1Char('\n'));
}

std::optional<ChatMessage> claudeMessage(const json& record, qint64 offset) {
    ChatMessage::Role role;
    if (isText(record, "type", "user")) role = ChatMessage::Role::user;
    else if (isText(record, "type", "assistant")) role = ChatMessage::Role::assistant;
    else return std::nullopt;
    if (isTrue(record, "isMeta") || isTrue(record, "isSidechain")) return std::nullopt;
    const json* message = jsonread::object(record, "message");
    if (!message) return std::nullopt;
    QString text;
    if (const json* content = jsonread::member(*message, "content")) {
        if (content->is_string()) text = QString::fromStdString(content->get_ref<const std::string&>());
        else if (content->is_array()) text = joinParts(*content, {"text"});
    }
    const QString id = jsonread::text(record, "uuid").value_or(QStringLiteral("c%1").arg(offset));
    return ChatTranscript::make(role, text, id);
}

std::optional<ChatMessage> codexMessage(const json& record, qint64 offset) {
    if (!isText(record, "type", "response_item")) return std::nullopt;
    const json* payload = jsonread::object(record, "payload");
    if (!payload || payload->empty()) return std::nullopt;
    if (!isText(*payload, "type", "message")) return std::nullopt;
    ChatMessage::Role role;
    if (isText(*payload, "role", "user")) role = ChatMessage::Role::user;
    else if (isText(*payload, "role", "assistant")) role = ChatMessage::Role::assistant;
    else return std::nullopt;
    const json* content = jsonread::member(*payload, "content");
    if (!content || !content->is_array()) return std::nullopt;
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
    bool lastFull = false; // the joined message has reached its bound: older parts only give the id
    for (auto it = tail->lines.rbegin(); it != tail->lines.rend(); ++it) {
        json record = parseLine(it->text);
        if (!record.is_object()) continue;
        auto msg = claudeMessage(record, it->offset);
        if (!msg) msg = codexMessage(record, it->offset);
        if (!msg) continue;
        if (!newestFirst.isEmpty() && newestFirst.last().role == ChatMessage::Role::assistant
            && msg->role == ChatMessage::Role::assistant) {
            // The older part comes first and gives the id.
            ChatMessage& joined = newestFirst.last();
            joined.id = msg->id;
            if (!lastFull) {
                joined.text = textcut::shortenKeepingEnd(msg->text + QStringLiteral("\n\n") + joined.text,
                                                         maxJoinedCharacters, &lastFull);
            }
            continue;
        }
        if (newestFirst.size() == limit) break; // the oldest kept message can grow no further
        newestFirst.append(std::move(*msg));
        lastFull = false;
    }
    std::reverse(newestFirst.begin(), newestFirst.end());
    return newestFirst;
}

} // namespace lomex
