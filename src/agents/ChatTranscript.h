#pragma once
#include <QList>
#include <QString>
#include <optional>

namespace lomex {

// One line of the notch chat.
struct ChatMessage {
    enum class Role { user, assistant };

    QString id;
    Role role = Role::user;
    QString text; // trimmed, never empty

    bool operator==(const ChatMessage&) const = default;
};

// The short conversation at the end of a Claude Code or Codex transcript (JSON lines).
struct ChatTranscript {
    // Bytes read from the end of the file, however long the transcript has grown.
    static constexpr qint64 tailBytes = 393216;
    // Longest text kept from one record, in user-perceived characters.
    static constexpr int maxCharacters = 1500;
    // Longest text of consecutive assistant messages joined into one: the newest part is kept
    // behind a leading "…", so a long run costs no more to lay out than this.
    static constexpr int maxJoinedCharacters = maxCharacters;

    // The last `limit` messages, oldest first; empty when the file cannot be read. Consecutive
    // assistant messages are joined. Records without a "uuid" get ids from the byte offset of
    // their line ("c…" for Claude, "x…" for Codex), so ids stay put while the file grows.
    static QList<ChatMessage> messages(const QString& path, int limit);

    // The common filter and cap: trimmed text, empty and tool-chatter user texts dropped,
    // long texts cut to 1499 characters and "…".
    static std::optional<ChatMessage> make(ChatMessage::Role role, const QString& text, const QString& id);
};

} // namespace lomex
