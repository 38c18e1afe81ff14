#pragma once
#include "agents/ActivityState.h"
#include "agents/Agent.h"
#include <QColor>
#include <QDateTime>
#include <QString>
#include <optional>

namespace lomex {

// One coding-agent session as the notch shows it. The session store creates and changes
// these; everything below is derived and read-only.
struct Session {
    QString id;                              // the agent's session id; the table key
    Agent agent = Agent::claude;
    std::optional<QString> cwd;              // working directory last reported by a hook
    ActivityState state;
    std::optional<QDateTime> turnStartedAt;
    std::optional<double> lastTurnDuration;  // seconds
    QDateTime lastUpdate;                    // when a hook event last touched the session
    qint64 toolCount = 0;                    // tool calls since the current turn began
    std::optional<QString> lastSummary;      // the shortened last assistant message
    std::optional<QString> transcriptPath;
    std::optional<QString> termProgram;      // the terminal name reported by the hook
    std::optional<QString> hostBundleID;     // desktop id of the hosting application
    std::optional<quint32> windowID;         // the terminal's X11 window (WINDOWID)
    std::optional<qint64> agentPID;          // the agent process that runs the hooks
    std::optional<QDateTime> unseenSince;    // news the user has not looked at
    std::optional<QDateTime> waitingSince;   // when the session began to wait for the user
    bool reminded = false;                   // a reminder was given for this wait or finish
    std::optional<double> contextPercent;    // 0…100

    bool operator==(const Session&) const = default;

    // The last component of cwd, else the agent's display name.
    QString projectName() const;
    QColor accent() const;
    bool isUnseen() const { return unseenSince.has_value(); }
    // Already passed through AgentText::t.
    QString statusTitle() const;
    std::optional<QString> statusDetail() const;
};

} // namespace lomex
