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

} // namespace lomex
