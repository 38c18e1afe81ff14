#include "agents/Agent.h"
#include "ui/Theme.h"

namespace lomex {

QString rawValue(Agent agent)
{
    switch (agent) {
    case Agent::claude: return QStringLiteral("claude");
    case Agent::codex: return QStringLiteral("codex");
    case Agent::cursor: return QStringLiteral("cursor");
    }
    return QStringLiteral("claude");
}

QString displayName(Agent agent)
{
    switch (agent) {
    case Agent::claude: return QStringLiteral("Claude");
    case Agent::codex: return QStringLiteral("Codex");
    case Agent::cursor: return QStringLiteral("Cursor");
    }
    return QStringLiteral("Claude");
}

QColor color(Agent agent)
{
    switch (agent) {
    case Agent::claude: return Theme::claude();
    case Agent::codex: return Theme::codex();
    case Agent::cursor: return Theme::cursor();
    }
    return Theme::claude();
}

std::optional<Agent> agentFromRawValue(const QString& raw)
{
    for (Agent agent : allAgents) {
        if (rawValue(agent) == raw)
            return agent;
    }
    return std::nullopt;
}

Agent agentFromQuery(const std::optional<QString>& query)
{
    const QString lowered = query.value_or(QString()).toLower();
    if (lowered == QLatin1String("codex"))
        return Agent::codex;
    if (lowered == QLatin1String("cursor"))
        return Agent::cursor;
    return Agent::claude;
}

} // namespace lomex
