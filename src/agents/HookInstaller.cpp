#include "agents/HookInstaller.h"
#include "agents/ApprovalToken.h"
#include "platform/AgentCli.h"
#include "core/JsonFile.h"
#include "core/Paths.h"
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <variant>

namespace lomex {

// ordered_json keeps the members of the user's files in the order they were written.
using Json = jsonfile::Json;

const std::array<HookInstaller::Event, 12> HookInstaller::events{{
    {"SessionStart", nullptr},
    {"SessionEnd", nullptr},
    {"UserPromptSubmit", nullptr},
    {"PreToolUse", "*"},
    {"PostToolUse", "*"},
    {"PostToolUseFailure", "*"},
    {"PermissionRequest", "*"},
    {"Notification", nullptr},
    {"Stop", nullptr},
    {"StopFailure", nullptr},
    {"SubagentStop", nullptr},
    {"PreCompact", nullptr},
}};

const std::array<HookInstaller::Codex::Event, 10> HookInstaller::Codex::events{{
    {"SessionStart", nullptr, 5},
    {"SessionEnd", nullptr, 3},
    {"UserPromptSubmit", nullptr, 5},
    {"PreToolUse", "*", 5},
    {"PostToolUse", "*", 5},
    {"PermissionRequest", "*", 5},
    {"Stop", nullptr, 5},
    {"Interrupt", nullptr, 3},
    {"SubagentStop", nullptr, 5},
    {"PreCompact", nullptr, 5},
}};

const QStringList HookInstaller::legacyMarkers{};

namespace {

constexpr int permissionTimeout = 600;

QString queryString(Agent agent) {
    QString q = QStringLiteral("src=") + QLatin1String(HookInstaller::marker);
    if (agent != Agent::claude) q += QStringLiteral("&agent=") + rawValue(agent);
    return q;
}

// Linux terminals rarely set TERM_PROGRAM: the terminal's X11 window
// and the agent's process (the hook shell's parent) let the app find the session's window.
QString linuxWindowHeaders() {
    return QStringLiteral("-H \"X-Window-Id: ${WINDOWID:-}\" -H \"X-Agent-Pid: ${PPID:-}\" ");
}

// Pieces 2 to 6 of both command lines, with the Linux window headers before the body.
QString commonCurlOptions() {
    return QStringLiteral(
        "-H 'Content-Type: application/json' -H 'Expect:' "
        "-H \"X-Term-Program: ${TERM_PROGRAM:-}\" "
        "%1--data-binary @-").arg(linuxWindowHeaders());
}

bool hasMarker(const std::string& command) {
    if (command.find(HookInstaller::marker) != std::string::npos) return true;
    for (const QString& m : HookInstaller::legacyMarkers)
        if (!m.isEmpty() && command.find(m.toStdString()) != std::string::npos) return true;
    return false;
}

// One hook object of an entry's "hooks" array that we wrote.
bool isOurHook(const Json& hook) {
    if (!hook.is_object()) return false;
    auto cmd = hook.find("command");
    return cmd != hook.end() && cmd->is_string() && hasMarker(cmd->get_ref<const std::string&>());
}

// The event's entries without our hooks. An entry that held only our hooks goes; an entry that
// also holds someone else's hook keeps that hook; anything that is not an entry we recognise
// (non-objects, entries without a "hooks" array) stays as it is.
Json withoutOurHooks(const Json& entries, bool* removed) {
    Json kept = Json::array();
    for (const Json& entry : entries) {
        const Json* hooks = nullptr;
        if (entry.is_object()) {
            auto it = entry.find("hooks");
            if (it != entry.end() && it->is_array()) hooks = &*it;
        }
        if (!hooks || std::none_of(hooks->begin(), hooks->end(), isOurHook)) {
            kept.push_back(entry);
            continue;
        }
        *removed = true;
        Json rest = Json::array();
        for (const Json& h : *hooks)
            if (!isOurHook(h)) rest.push_back(h);
        if (rest.empty()) continue;
        Json trimmed = entry;
        trimmed["hooks"] = std::move(rest);
        kept.push_back(std::move(trimmed));
    }
    return kept;
}

struct Row {
    std::string name;
    const char* matcher;
    std::string command;
    int timeout;
};

// The permission hook waits for the user, so it gets the long timeout and its own command.
Row row(const char* name, const char* matcher, int timeout, Agent agent, quint16 port) {
    const bool permission = std::strcmp(name, "PermissionRequest") == 0;
    const QString command = permission ? HookInstaller::permissionCommand(port, agent)
                                       : HookInstaller::command(port, agent);
    return {name, matcher, command.toStdString(), permission ? permissionTimeout : timeout};
}

std::vector<Row> claudeRows(quint16 port) {
    std::vector<Row> rows;
    for (const auto& e : HookInstaller::events) rows.push_back(row(e.name, e.matcher, 5, Agent::claude, port));
    return rows;
}

std::vector<Row> codexRows(quint16 port) {
    std::vector<Row> rows;
    for (const auto& e : HookInstaller::Codex::events)
        rows.push_back(row(e.name, e.matcher, e.timeout, Agent::codex, port));
    return rows;
}

// The text after the path of the error for a file we must not rewrite.
QString notObject(const QString& what) {
    return QStringLiteral(": ") + what + QStringLiteral(" is not a JSON object – please check it manually.");
}

// What the user's file holds besides our hooks must survive, so a "hooks" member or an event
// value of a type we would have to replace refuses the file. Returns the problem, or empty.
QString addOurEntries(Json& root, const std::vector<Row>& rows) {
    Json hooks = Json::object();
    if (auto it = root.find("hooks"); it != root.end()) {
        if (!it->is_object()) return notObject(QStringLiteral("\"hooks\""));
        hooks = *it;
    }
    for (const Row& row : rows) {
        Json entries = Json::array();
        if (auto it = hooks.find(row.name); it != hooks.end()) {
            if (!it->is_array())
                return QStringLiteral(": \"hooks\" → \"%1\" is not a JSON array – please check it manually.")
                    .arg(QString::fromStdString(row.name));
            bool removed = false;
            entries = withoutOurHooks(*it, &removed);
        }
        Json entry = Json::object();
        if (row.matcher) entry["matcher"] = row.matcher;
        entry["hooks"] = Json::array({Json{{"type", "command"}, {"command", row.command}, {"timeout", row.timeout}}});
        entries.push_back(std::move(entry));
        hooks[row.name] = std::move(entries);
    }
    root["hooks"] = std::move(hooks);
    return {};
}

QString removeOurEntries(Json& root) {
    auto hooksIt = root.find("hooks");
    if (hooksIt == root.end() || !hooksIt->is_object()) return {};
    Json& hooks = *hooksIt;
    std::vector<std::string> emptied;
    for (auto it = hooks.begin(); it != hooks.end(); ++it) {
        if (!it->is_array()) continue;
        bool removed = false;
        Json kept = withoutOurHooks(*it, &removed);
        if (!removed) continue;
        if (kept.empty()) emptied.push_back(it.key());
        else *it = std::move(kept);
    }
    for (const std::string& name : emptied) hooks.erase(name);
    if (hooks.empty()) root.erase("hooks");
    return {};
}

// Whether any event of the file holds a hook of ours, whatever its command line.
bool holdsAnyOfOurs(const Json& root) {
    auto hooksIt = root.find("hooks");
    if (hooksIt == root.end() || !hooksIt->is_object()) return false;
    for (const Json& entries : *hooksIt) {
        if (!entries.is_array()) continue;
        bool removed = false;
        withoutOurHooks(entries, &removed);
        if (removed) return true;
    }
    return false;
}

bool holdsCommands(const Json& root, const std::vector<Row>& rows) {
    auto hooksIt = root.find("hooks");
    if (hooksIt == root.end() || !hooksIt->is_object()) return false;
    for (const Row& row : rows) {
        auto entries = hooksIt->find(row.name);
        if (entries == hooksIt->end() || !entries->is_array()) return false;
        bool found = false;
        for (const Json& entry : *entries) {
            if (!entry.is_object()) continue;
            auto hooks = entry.find("hooks");
            if (hooks == entry.end() || !hooks->is_array()) continue;
            for (const Json& h : *hooks) {
                if (!h.is_object()) continue;
                auto cmd = h.find("command");
                if (cmd != h.end() && cmd->is_string() && cmd->get_ref<const std::string&>() == row.command) {
                    found = true;
                    break;
                }
            }
            if (found) break;
        }
        if (!found) return false;
    }
    return true;
}

std::variant<Json, LomexError> load(const QString& path) { return jsonfile::read(path); }

// Another program may write the same file meanwhile (the agent itself does); jsonfile starts
// over once when it changed between our read and the replace.
std::optional<LomexError> update(const QString& path, const jsonfile::Edit& edit, bool onlyExisting) {
    jsonfile::EditOptions options = agentcli::agentFileOptions(onlyExisting);
    options.ownMarkers += HookInstaller::legacyMarkers;
    return jsonfile::edit(path, edit, options);
}

QString resolvedKey(const QString& path) {
    // Symlink-resolved form of a path that may not exist yet: resolve the nearest existing
    // ancestor and keep the rest as written.
    QString abs = QDir::cleanPath(QDir(path).absolutePath());
    QString rest;
    QString probe = abs;
    while (!probe.isEmpty()) {
        const QString canonical = QFileInfo(probe).canonicalFilePath();
        if (!canonical.isEmpty()) return QDir::cleanPath(canonical + rest);
        const int slash = probe.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0) break;
        rest = probe.mid(slash) + rest;
        probe = probe.left(slash);
    }
    return abs;
}

} // namespace

QString HookInstaller::command(quint16 port, Agent agent) {
    return QStringLiteral("curl -s -m 2 -X POST ") + commonCurlOptions()
        + QStringLiteral(" 'http://127.0.0.1:%1/event?%2'").arg(port).arg(queryString(agent))
        + QStringLiteral(" >/dev/null 2>&1 || true");
}

QString HookInstaller::permissionCommand(quint16 port, Agent agent) {
    // The file must exist by the time a hook reads it.
    ApprovalToken::value();
    // "read" is a shell builtin: the token never shows in any process's arguments. With no
    // readable token the reply is never printed.
    return QStringLiteral("r=$(curl -s -m 590 -X POST ") + commonCurlOptions()
        + QStringLiteral(" 'http://127.0.0.1:%1/permission?%2'").arg(port).arg(queryString(agent))
        + QStringLiteral(" 2>/dev/null); t=; read -r t 2>/dev/null <") + agentcli::shellQuoted(ApprovalToken::filePath())
        + QStringLiteral("; case \"$r\" in \"$t \"*) [ -n \"$t\" ] && printf '%s' \"${r#\"$t \"}\";; esac; true");
}

QStringList HookInstaller::configDirectories() {
    const QString home = paths::home();
    QStringList candidates{home + QStringLiteral("/.claude")};
    const QString custom = qEnvironmentVariable("CLAUDE_CONFIG_DIR");
    if (!custom.isEmpty()) candidates << paths::expandTilde(custom);

    QStringList names = QDir(home).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                              QDir::NoSort);
    std::sort(names.begin(), names.end());
    for (const QString& name : names) {
        if (!(name.startsWith(QLatin1String(".claude-")) || name.startsWith(QLatin1String(".claude_")))) continue;
        if (name == QLatin1String(".claude-notch")) continue;
        const QString dir = home + QLatin1Char('/') + name;
        for (const char* probe : {"settings.json", "projects", ".credentials.json"}) {
            if (QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(probe))) {
                candidates << dir;
                break;
            }
        }
    }

    QStringList out;
    QStringList seen;
    for (const QString& dir : candidates) {
        const QString key = resolvedKey(dir);
        if (seen.contains(key)) continue;
        seen << key;
        out << dir;
    }
    return out;
}

QStringList HookInstaller::settingsURLs() {
    QStringList files;
    for (const QString& dir : configDirectories()) files << QDir(dir).filePath(QStringLiteral("settings.json"));
    return files;
}

QString HookInstaller::settingsSummary() {
    QString home = paths::home();
    while (home.size() > 1 && home.endsWith(QLatin1Char('/'))) home.chop(1);
    QStringList items;
    for (const QString& file : settingsURLs()) {
        QString dir = QFileInfo(file).path();
        // Only a whole leading path is the home folder: "/home/ann" must not shorten "/home/anna".
        if (dir == home) dir = QStringLiteral("~");
        else if (home != QLatin1String("/") && dir.startsWith(home + QLatin1Char('/'))) dir = QStringLiteral("~") + dir.mid(home.size());
        items << dir;
    }
    return items.join(QStringLiteral(", "));
}

bool HookInstaller::isInstalled() {
    const auto rows = claudeRows(defaultPort);
    for (const QString& file : settingsURLs()) {
        auto root = load(file);
        if (!std::holds_alternative<Json>(root) || !holdsCommands(std::get<Json>(root), rows)) return false;
    }
    return true;
}

std::optional<LomexError> HookInstaller::install(quint16 port) {
    const auto rows = claudeRows(port);
    for (const QString& file : settingsURLs())
        if (auto e = update(file, [&](Json& root) { return addOurEntries(root, rows); }, false)) return e;
    return std::nullopt;
}

std::optional<LomexError> HookInstaller::uninstall() {
    for (const QString& file : settingsURLs())
        if (auto e = update(file, removeOurEntries, true)) return e;
    return std::nullopt;
}

QString HookInstaller::Codex::home() { return agentcli::codexHome(); }

QString HookInstaller::Codex::hooksFile() {
    return QDir(home()).filePath(QStringLiteral("hooks.json"));
}

bool HookInstaller::Codex::isInstalled() {
    auto root = load(hooksFile());
    return std::holds_alternative<Json>(root) && holdsCommands(std::get<Json>(root), codexRows(defaultPort));
}

std::optional<LomexError> HookInstaller::Codex::install(quint16 port) {
    const auto rows = codexRows(port);
    return update(hooksFile(), [&](Json& root) { return addOurEntries(root, rows); }, false);
}

std::optional<LomexError> HookInstaller::Codex::uninstall() {
    return update(hooksFile(), removeOurEntries, true);
}

QList<LomexError> HookInstaller::refreshInstalled(quint16 port) {
    QList<LomexError> errors;
    auto refresh = [&](const QString& file, const std::vector<Row>& rows) {
        auto root = load(file);
        // A file we cannot take is left as it is, and said so: the limits page shows why.
        if (auto* e = std::get_if<LomexError>(&root)) {
            errors << *e;
            return;
        }
        const Json* json = std::get_if<Json>(&root);
        if (!holdsAnyOfOurs(*json) || holdsCommands(*json, rows)) return;
        if (auto e = update(file, [&](Json& r) { return addOurEntries(r, rows); }, true)) errors << *e;
    };
    const auto claude = claudeRows(port);
    for (const QString& file : settingsURLs()) refresh(file, claude);
    refresh(Codex::hooksFile(), codexRows(port));
    return errors;
}

void HookInstaller::setBeforeReplaceHook(std::function<void(const QString&)> hook) {
    jsonfile::setBeforeReplaceHook(std::move(hook));
}

} // namespace lomex
