#pragma once
#include "agents/Agent.h"
#include "agents/ToolActivity.h"
#include <QByteArray>
#include <QString>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace lomex {

// Header names (lower-cased) or query item names to their values.
using FieldMap = std::map<QString, QString>;

// One decoded hook notification, in the Claude-style vocabulary whichever agent sent it.
struct HookEvent {
    QString name;
    Agent agent = Agent::claude;
    // The payload carried "cursor_version" but the query did not name Cursor.
    bool isCursorViaClaudeHook = false;
    QString sessionID;
    std::optional<QString> cwd;
    std::optional<QString> transcriptPath;
    std::optional<QString> toolName;
    // Always a JSON object (empty when the payload had none).
    nlohmann::json toolInput = nlohmann::json::object();
    std::optional<QString> message;
    std::optional<QString> notificationType;
    std::optional<QString> prompt;
    std::optional<QString> lastAssistantMessage;
    std::optional<QString> error;
    std::optional<QString> errorDetails;
    // Each element is a JSON object.
    std::vector<nlohmann::json> permissionSuggestions;
    std::optional<double> contextPercent;
    std::optional<QString> termProgram;
    std::optional<QString> hostBundleID;
    // Where the agent's terminal is on X11: the terminal's WINDOWID as the hook's shell saw it,
    // and the process id of the agent that ran the hook (the shell's parent).
    std::optional<quint32> windowID;
    std::optional<qint64> agentPID;

    bool operator==(const HookEvent&) const = default;

    // The tool call the event reports ("Tool" when it names none). The session store and the
    // approval queue both build it here, so a request and the later "PostToolUse" of the same
    // call compare equal.
    ToolActivity toolActivity() const;

    // Decodes a request body with its lower-cased headers and its query items. Nothing when the
    // body is not a JSON object with a text "hook_event_name" (or nests deeper than
    // maxJsonDepth). Never throws.
    static std::optional<HookEvent> decode(const QByteArray& data, const FieldMap& headers,
                                           const FieldMap& query);

    // Cursor hook name -> Claude-style name; unknown names come back unchanged.
    static QString cursorEventName(const QString& name, const std::optional<QString>& status,
                                   bool sandboxed);
    // Share of the context window in use, from a Cursor payload's "input_tokens" and its
    // "model_params" entry with id "context".
    static std::optional<double> cursorContext(const nlohmann::json& payload);

    // Payloads are untrusted; deeper nesting than this is refused before parsing so that no
    // later recursive walk (copy, dump, compare) can exhaust the stack.
    static constexpr int maxJsonDepth = 256;

    // Kept text fields are cut (in UTF-16 units) when decoded: any local process may post,
    // and the session table keeps these for hours. Names, ids and paths get a few KB; texts
    // written for people (message, prompt, last answer, error details) get more.
    static constexpr qsizetype maxFieldUnits = 4096;
    static constexpr qsizetype maxMessageUnits = 65536;
};

} // namespace lomex
