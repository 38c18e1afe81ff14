#include "agents/Session.h"
#include "agents/AgentText.h"
#include "agents/Format.h"
#include "agents/TextCut.h"
#include "ui/Theme.h"

namespace lomex {

using Kind = ActivityState::Kind;

QString Session::projectName() const
{
    if (cwd && !cwd->isEmpty())
        return textcut::showBidiControls(textcut::lastPathComponent(*cwd));
    return displayName(agent);
}

QColor Session::accent() const
{
    switch (state.kind()) {
    case Kind::tool:
    case Kind::thinking: return color(agent);
    case Kind::waiting: return Theme::amber();
    case Kind::error: return Theme::danger();
    case Kind::idle: return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.55f);
    case Kind::compacting: return Theme::violet();
    case Kind::done: return Theme::success();
    }
    return color(agent);
}

QString Session::statusTitle() const
{
    switch (state.kind()) {
    case Kind::tool:
        return AgentText::t(state.toolActivity() ? state.toolActivity()->englishVerb() : QString());
    case Kind::waiting: return AgentText::t(QStringLiteral("Waiting for you"));
    case Kind::error: return AgentText::t(QStringLiteral("Error"));
    case Kind::idle: return AgentText::t(QStringLiteral("Ready"));
    case Kind::thinking: return AgentText::t(QStringLiteral("Thinking"));
    case Kind::compacting: return AgentText::t(QStringLiteral("Compacting context"));
    case Kind::done: return AgentText::t(QStringLiteral("Done"));
    }
    return QString();
}

std::optional<QString> Session::statusDetail() const
{
    switch (state.kind()) {
    case Kind::tool: {
        const std::optional<ToolActivity>& tool = state.toolActivity();
        if (!tool)
            return std::nullopt;
        return tool->detail ? *tool->detail : tool->displayName();
    }
    case Kind::waiting:
    case Kind::error:
        return state.message();
    case Kind::idle:
    case Kind::thinking:
    case Kind::compacting:
        return std::nullopt;
    case Kind::done: {
        QStringList parts;
        if (toolCount >= 1)
            parts.append(AgentText::toolCalls(toolCount));
        if (lastTurnDuration && *lastTurnDuration >= 1.0)
            parts.append(Format::duration(*lastTurnDuration));
        if (parts.isEmpty())
            return std::nullopt;
        return parts.join(QStringLiteral(" \u00B7 "));
    }
    }
    return std::nullopt;
}

} // namespace lomex
