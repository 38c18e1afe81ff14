#include "agents/ActivityState.h"

namespace lomex {

ActivityState ActivityState::tool(ToolActivity activity)
{
    ActivityState state(Kind::tool);
    state.tool_ = std::move(activity);
    return state;
}

ActivityState ActivityState::waiting(QString message)
{
    ActivityState state(Kind::waiting);
    state.message_ = std::move(message);
    return state;
}

ActivityState ActivityState::error(QString message)
{
    ActivityState state(Kind::error);
    state.message_ = std::move(message);
    return state;
}

QString toString(ActivityState::Kind kind)
{
    switch (kind) {
    case ActivityState::Kind::tool: return QStringLiteral("tool");
    case ActivityState::Kind::waiting: return QStringLiteral("waiting");
    case ActivityState::Kind::error: return QStringLiteral("error");
    case ActivityState::Kind::idle: return QStringLiteral("idle");
    case ActivityState::Kind::thinking: return QStringLiteral("thinking");
    case ActivityState::Kind::compacting: return QStringLiteral("compacting");
    case ActivityState::Kind::done: return QStringLiteral("done");
    }
    return QStringLiteral("idle");
}

} // namespace lomex
