#include "agents/HookEvent.h"
#include "core/JsonRead.h"
#include "agents/TextCut.h"
#include <algorithm>
#include <charconv>
#include <cmath>

namespace lomex {

using nlohmann::json;
using jsonread::isText;
using jsonread::isTrue;
using jsonread::member;
using jsonread::text;

namespace {

// Largest nesting depth of arrays/objects outside strings, stopping early past limit.
bool nestingWithin(const QByteArray& data, int limit)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : data) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit)
                return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

// The value of the "\uXXXX" escape starting at i, or -1.
int escapeAt(const QByteArray& data, qsizetype i)
{
    if (i + 6 > data.size() || data[i] != '\\' || data[i + 1] != 'u')
        return -1;
    unsigned value = 0;
    const char* digits = data.constData() + i + 2;
    const auto [end, ec] = std::from_chars(digits, digits + 4, value, 16);
    if (ec != std::errc() || end != digits + 4)
        return -1;
    return int(value);
}

// A JavaScript agent that cuts a string inside an emoji sends half a surrogate pair as an
// escape, which the JSON parser refuses. Each lone half becomes U+FFFD (same length, so in
// place), and the rest of the event is kept.
void repairLoneSurrogates(QByteArray& data)
{
    if (!data.contains("\\u"))
        return;
    static const char replacement[] = "\\ufffd";
    bool inString = false;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
            continue;
        }
        if (c != '\\')
            continue;
        const int value = escapeAt(data, i);
        if (value < 0) {
            ++i; // some other escape: skip the escaped character
            continue;
        }
        if (value >= 0xD800 && value <= 0xDBFF) {
            const int next = escapeAt(data, i + 6);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                i += 11; // a whole pair
                continue;
            }
            data.replace(i, 6, replacement, 6);
        } else if (value >= 0xDC00 && value <= 0xDFFF) {
            data.replace(i, 6, replacement, 6);
        }
        i += 5;
    }
}

std::optional<QString> bounded(std::optional<QString> text, qsizetype maxUnits)
{
    if (text && text->size() > maxUnits)
        text = textcut::leftUnits(*text, maxUnits);
    return text;
}

std::optional<QString> header(const FieldMap& headers, const char* name)
{
    auto it = headers.find(QString::fromLatin1(name));
    if (it == headers.end() || it->second.isEmpty())
        return std::nullopt;
    return it->second;
}

// A decimal number in 1…max; anything else (empty, signs, blanks, overflow) is absent.
std::optional<quint64> positiveHeader(const FieldMap& headers, const char* name, quint64 max)
{
    const std::optional<QString> value = header(headers, name);
    if (!value || value->size() > 20)
        return std::nullopt;
    quint64 n = 0;
    for (QChar c : *value) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = n * 10 + (c.unicode() - u'0');
        if (n > max)
            return std::nullopt;
    }
    if (n == 0)
        return std::nullopt;
    return n;
}

// The event's JSON object, or nothing for input too deep, malformed or not an object.
std::optional<json> parsePayload(const QByteArray& rawData)
{
    if (!nestingWithin(rawData, HookEvent::maxJsonDepth))
        return std::nullopt;
    QByteArray data = rawData;
    repairLoneSurrogates(data);
    json payload = json::parse(data.begin(), data.end(), nullptr, /*allow_exceptions=*/false);
    if (!payload.is_object())
        return std::nullopt;
    return payload;
}

// Cursor names its events and sessions its own way, and may give only the workspace roots.
void takeCursorIdentity(HookEvent& event, const json& payload, const QString& rawName)
{
    const std::optional<QString> status = text(payload, "status");
    event.name = HookEvent::cursorEventName(rawName, status, isTrue(payload, "sandbox"));
    event.agent = Agent::cursor;
    event.sessionID = text(payload, "conversation_id")
                          .value_or(text(payload, "session_id").value_or(QStringLiteral("cursor")));
    event.cwd = text(payload, "cwd");
    if (!event.cwd) {
        const json* roots = member(payload, "workspace_roots");
        if (roots && roots->is_array() && !roots->empty()
            && std::all_of(roots->begin(), roots->end(), [](const json& r) { return r.is_string(); }))
            event.cwd = QString::fromStdString(roots->front().get_ref<const std::string&>());
    }
}

// Moves the tool input out of the payload; a Cursor shell check becomes a "Shell" tool.
void takeTool(HookEvent& event, json& payload, bool cursorShell)
{
    if (cursorShell) {
        event.toolName = QStringLiteral("Shell");
        const json* command = member(payload, "command");
        event.toolInput = json::object();
        event.toolInput["command"] = command && command->is_string() ? *command : json("");
    } else {
        event.toolName = text(payload, "tool_name");
        const json* input = member(payload, "tool_input");
        event.toolInput = input && input->is_object() ? std::move(payload["tool_input"]) : json::object();
    }
}

void takeTexts(HookEvent& event, const json& payload, bool cursorDialect)
{
    event.message = text(payload, "message");
    event.notificationType = text(payload, "notification_type");
    event.prompt = text(payload, "prompt");

    event.lastAssistantMessage = text(payload, "last_assistant_message");
    if (!event.lastAssistantMessage && cursorDialect)
        event.lastAssistantMessage = text(payload, "text");

    event.error = text(payload, "error");
    if (!event.error && cursorDialect && text(payload, "status") == u"error")
        event.error = QStringLiteral("error");
    event.errorDetails = text(payload, "error_details");

    if (const json* suggestions = member(payload, "permission_suggestions");
        suggestions && suggestions->is_array()
        && std::all_of(suggestions->begin(), suggestions->end(), [](const json& s) { return s.is_object(); })) {
        event.permissionSuggestions.assign(suggestions->begin(), suggestions->end());
    }
}

void takeHeaders(HookEvent& event, const FieldMap& headers)
{
    event.termProgram = header(headers, "x-term-program");
    event.hostBundleID = header(headers, "x-bundle-id");
    if (auto w = positiveHeader(headers, "x-window-id", 0xffffffffu))
        event.windowID = quint32(*w);
    // Linux pids stay below 2^22.
    if (auto pid = positiveHeader(headers, "x-agent-pid", 1 << 22))
        event.agentPID = qint64(*pid);
}

// Any local process can post events, so no text field grows without bound.
void boundFields(HookEvent& event)
{
    event.name = bounded(event.name, HookEvent::maxFieldUnits).value();
    event.sessionID = bounded(event.sessionID, HookEvent::maxFieldUnits).value();
    for (std::optional<QString>* field : {&event.cwd, &event.transcriptPath, &event.toolName,
                                          &event.notificationType, &event.error, &event.termProgram,
                                          &event.hostBundleID})
        *field = bounded(std::move(*field), HookEvent::maxFieldUnits);
    for (std::optional<QString>* field : {&event.message, &event.prompt, &event.lastAssistantMessage,
                                          &event.errorDetails})
        *field = bounded(std::move(*field), HookEvent::maxMessageUnits);
}

} // namespace

ToolActivity HookEvent::toolActivity() const
{
    return ToolActivity::make(toolName.value_or(QStringLiteral("Tool")), toolInput);
}

QString HookEvent::cursorEventName(const QString& name, const std::optional<QString>& status,
                                   bool sandboxed)
{
    if (name == u"beforeShellExecution")
        return sandboxed ? QStringLiteral("SandboxedShell") : QStringLiteral("PermissionRequest");
    if (name == u"stop") {
        if (status == u"aborted")
            return QStringLiteral("Interrupt");
        if (status == u"error")
            return QStringLiteral("StopFailure");
        return QStringLiteral("Stop");
    }
    static const std::map<QString, QString> table = {
        {QStringLiteral("beforeMCPExecution"), QStringLiteral("PermissionRequest")},
        {QStringLiteral("sessionStart"), QStringLiteral("SessionStart")},
        {QStringLiteral("sessionEnd"), QStringLiteral("SessionEnd")},
        {QStringLiteral("beforeSubmitPrompt"), QStringLiteral("UserPromptSubmit")},
        {QStringLiteral("preToolUse"), QStringLiteral("PreToolUse")},
        {QStringLiteral("postToolUse"), QStringLiteral("PostToolUse")},
        {QStringLiteral("postToolUseFailure"), QStringLiteral("PostToolUseFailure")},
        {QStringLiteral("preCompact"), QStringLiteral("PreCompact")},
        {QStringLiteral("subagentStop"), QStringLiteral("SubagentStop")},
        {QStringLiteral("afterAgentResponse"), QStringLiteral("AgentResponse")},
    };
    auto it = table.find(name);
    return it == table.end() ? name : it->second;
}

std::optional<double> HookEvent::cursorContext(const json& payload)
{
    if (!payload.is_object())
        return std::nullopt;
    // Booleans are not numbers here, unlike in some JSON bridges.
    const json* tokensValue = member(payload, "input_tokens");
    if (!tokensValue || !tokensValue->is_number())
        return std::nullopt;
    const double tokens = tokensValue->get<double>();
    if (!(tokens > 0) || !std::isfinite(tokens))
        return std::nullopt;

    const json* params = member(payload, "model_params");
    if (!params || !params->is_array())
        return std::nullopt;
    for (const json& element : *params) {
        if (!element.is_object())
            return std::nullopt;
    }
    const json* contextEntry = nullptr;
    for (const json& element : *params) {
        if (isText(element, "id", "context")) {
            contextEntry = &element;
            break;
        }
    }
    if (!contextEntry)
        return std::nullopt;
    const std::optional<QString> raw = text(*contextEntry, "value");
    if (!raw)
        return std::nullopt;

    QString value = raw->toLower();
    auto isBlank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!value.isEmpty() && isBlank(value.front()))
        value.remove(0, 1);
    while (!value.isEmpty() && isBlank(value.back()))
        value.chop(1);

    double multiplier = 1;
    if (value.endsWith(u'm'))
        multiplier = 1'000'000;
    else if (value.endsWith(u'k'))
        multiplier = 1'000;

    qsizetype from = 0;
    qsizetype to = value.size();
    while (from < to && value.at(from).isLetter())
        ++from;
    while (to > from && value.at(to - 1).isLetter())
        --to;
    QByteArray number = value.mid(from, to - from).toUtf8();
    if (number.startsWith('+'))
        number.remove(0, 1);
    double parsed = 0;
    const char* first = number.constData();
    const char* last = first + number.size();
    auto [end, ec] = std::from_chars(first, last, parsed, std::chars_format::general);
    if (number.isEmpty() || ec != std::errc() || end != last)
        return std::nullopt;
    if (!(parsed > 0) || !std::isfinite(parsed))
        return std::nullopt;

    const double percent = std::min(tokens / (multiplier * parsed) * 100.0, 100.0);
    // An enormous window can round the share down to zero, which is no reading at all.
    if (!(percent > 0) || !std::isfinite(percent))
        return std::nullopt;
    return percent;
}

std::optional<HookEvent> HookEvent::decode(const QByteArray& rawData, const FieldMap& headers,
                                           const FieldMap& query)
{
    std::optional<json> parsed = parsePayload(rawData);
    if (!parsed)
        return std::nullopt;
    json& payload = *parsed;
    const std::optional<QString> rawName = text(payload, "hook_event_name");
    if (!rawName)
        return std::nullopt;

    std::optional<QString> queryAgentValue;
    if (auto it = query.find(QStringLiteral("agent")); it != query.end())
        queryAgentValue = it->second;
    const Agent queryAgent = agentFromQuery(queryAgentValue);
    const bool hasCursorVersion = payload.contains("cursor_version");
    const bool cursorDialect = hasCursorVersion || queryAgent == Agent::cursor;

    HookEvent event;
    if (cursorDialect) {
        takeCursorIdentity(event, payload, *rawName);
        event.isCursorViaClaudeHook = hasCursorVersion && queryAgent != Agent::cursor;
    } else {
        event.name = *rawName;
        event.agent = queryAgent;
        event.sessionID = text(payload, "session_id").value_or(QStringLiteral("default"));
        event.cwd = text(payload, "cwd");
    }
    event.transcriptPath = text(payload, "transcript_path");
    takeTool(event, payload, cursorDialect && *rawName == u"beforeShellExecution");
    if (cursorDialect)
        event.contextPercent = cursorContext(payload);
    takeTexts(event, payload, cursorDialect);
    takeHeaders(event, headers);
    boundFields(event);
    return event;
}

} // namespace lomex
