#pragma once
#include <QColor>
#include <QString>
#include <array>
#include <functional>
#include <optional>

namespace lomex {

// Which coding agent runs a session. The raw values are stored in files and sent by hooks.
enum class Agent { claude, codex, cursor };

inline constexpr std::array<Agent, 3> allAgents{Agent::claude, Agent::codex, Agent::cursor};

// "claude", "codex", "cursor".
QString rawValue(Agent agent);
// "Claude", "Codex", "Cursor".
QString displayName(Agent agent);
// Theme::claude(), Theme::codex() or Theme::cursor().
QColor color(Agent agent);

// The agent whose raw value equals the text exactly (case-sensitive); nothing otherwise.
std::optional<Agent> agentFromRawValue(const QString& raw);
// The agent named by a hook query's "agent" value: "codex" or "cursor" in any letter case;
// anything else, also no text at all, is Claude.
Agent agentFromQuery(const std::optional<QString>& query);

inline size_t qHash(Agent agent, size_t seed = 0) noexcept
{
    return static_cast<size_t>(agent) ^ seed;
}

} // namespace lomex

template <>
struct std::hash<lomex::Agent> {
    size_t operator()(lomex::Agent agent) const noexcept { return std::hash<int>()(int(agent)); }
};
