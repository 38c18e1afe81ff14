#pragma once
#include "agents/ToolActivity.h"
#include <QString>
#include <optional>

namespace lomex {

// What a session does now. Equal when the kinds are equal and so are their payloads.
class ActivityState {
public:
    enum class Kind { tool, waiting, error, idle, thinking, compacting, done };

    ActivityState() = default; // idle

    static ActivityState tool(ToolActivity activity);
    static ActivityState waiting(QString message); // waits for the user
    static ActivityState error(QString message);   // the turn ended with an error
    static ActivityState idle() { return ActivityState(Kind::idle); }
    static ActivityState thinking() { return ActivityState(Kind::thinking); }
    static ActivityState compacting() { return ActivityState(Kind::compacting); }
    static ActivityState done() { return ActivityState(Kind::done); }

    Kind kind() const { return kind_; }
    bool is(Kind kind) const { return kind_ == kind; }
    // The agent is at work: running a tool, thinking or compacting.
    bool isBusy() const { return kind_ == Kind::tool || kind_ == Kind::thinking || kind_ == Kind::compacting; }
    // The running tool; only for Kind::tool.
    const std::optional<ToolActivity>& toolActivity() const { return tool_; }
    // The message of waiting and error; empty for the other kinds.
    const QString& message() const { return message_; }

    bool operator==(const ActivityState&) const = default;

private:
    explicit ActivityState(Kind kind) : kind_(kind) {}
    Kind kind_ = Kind::idle;
    std::optional<ToolActivity> tool_;
    QString message_;
};

} // namespace lomex
