#pragma once
#include "agents/Agent.h"
#include "agents/HookEvent.h"
#include "agents/ToolActivity.h"
#include "core/Clock.h"
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace lomex {

class PermissionReply;
class Settings;

// One tool-permission request waiting for the user.
struct PendingApproval {
    static constexpr qsizetype maxCommandUnits = 16384;

    quint64 id = 0;                    // unique within the process, increasing
    QString sessionID;
    Agent agent = Agent::claude;
    ToolActivity tool;                 // what the agent asks to run
    // The exact command of a shell request, its first maxCommandUnits UTF-16 units; the
    // description an agent gives may say anything, so the card shows this under it.
    std::optional<QString> command;
    qsizetype commandLength = 0;       // of the whole command
    std::optional<QString> cwd;
    // The agent's own "always allow" rule updates, applied by Decision::alwaysAllow.
    std::vector<nlohmann::json> permissionSuggestions;
    QDateTime createdAt;
    QDateTime deadline;                // the request ends without a decision then

    bool operator==(const PendingApproval&) const = default;
};

// The queue of permission requests held open by the hook server until the user decides in
// the notch, the request times out, or the agent shows it was answered in the terminal. Every
// request is answered exactly once. Lives on the GUI thread.
class ApprovalCenter : public QObject {
    Q_OBJECT
public:
    enum class Decision { allow, alwaysAllow, deny };
    // Answers the hook: the decision reply, or no text to let the agent ask on its own.
    using Reply = std::function<void(const std::optional<QString>& text)>;

    // Claude Code's hook waits 590 s; Codex falls back to its own prompt quickly.
    static constexpr double claudeTimeout = 570;
    static constexpr double otherTimeout = 45;
    static double timeout(Agent agent) { return agent == Agent::claude ? claudeTimeout : otherTimeout; }

    // clock: nullptr is Clock::current(); settings: nullptr is Settings::shared() at each use.
    explicit ApprovalCenter(Clock* clock = nullptr, Settings* settings = nullptr,
                            QObject* parent = nullptr);
    // Requests still held are ended without a decision.
    ~ApprovalCenter() override;

    // Oldest first.
    const QList<PendingApproval>& pending() const { return pending_; }
    // The oldest request of a session.
    std::optional<PendingApproval> pendingFor(const QString& sessionID) const;
    bool hasPending(const QString& sessionID) const { return pendingFor(sessionID).has_value(); }

    // Sees every hook event before the session store: an event showing that the session's
    // question was answered in the terminal (the tool ran, a new prompt, the turn ended)
    // ends the matching requests with no text.
    void observe(const HookEvent& event);
    // Takes a "/permission" request. Answers at once with no text when approvals are off, the
    // event is not a "PermissionRequest", or it comes from Cursor; otherwise queues it.
    // replyID identifies the request for cancel(). Returns the queued request's id.
    std::optional<quint64> add(const HookEvent& event, Reply reply, quint64 replyID = 0);
    std::optional<quint64> add(const HookEvent& event, const PermissionReply& reply);
    // The user's choice: sends the token, a blank and the decision JSON, after putting the
    // token file back when it went missing (the hook compares with it). beforeSending runs right
    // before the decision goes out, only when it can reach the hook; when it cannot, the request
    // ends without a decision (the agent asks in its terminal), undelivered is emitted and
    // false returned.
    bool decide(quint64 approvalID, Decision decision, const std::function<void()>& beforeSending = {});
    // The hook's client went away: the request is dropped (its reply goes nowhere).
    void cancel(quint64 replyID);
    // Ends every request without a decision (the server is stopping).
    void endAll();

    // {"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{…}}} for the
    // agent. "Always allow" carries the agent's suggestions where the agent applies them
    // (Claude Code); Codex refuses any permission update, so there it is a plain allow.
    static QString decisionJSON(Decision decision, Agent agent,
                                const std::vector<nlohmann::json>& suggestions);

Q_SIGNALS:
    void pendingChanged();
    // A decision the user made could not be handed to the agent's hook.
    void undelivered(const PendingApproval& approval);

private:
    struct Held {
        Reply reply;
        quint64 replyID = 0;
        Timer* timer = nullptr;
    };
    // Removes the request and answers it once.
    void finish(quint64 approvalID, const std::optional<QString>& text);
    Settings& settings() const;

    Clock* clock_;
    Settings* settings_;
    QList<PendingApproval> pending_;
    std::map<quint64, Held> held_;
    quint64 nextID_ = 1;
};

} // namespace lomex
