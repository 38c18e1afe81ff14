#pragma once
#include "agents/HookEvent.h"
#include "agents/Session.h"
#include "agents/ToolActivity.h"
#include "core/Clock.h"
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace lomex {

class Settings;

// The live table of coding-agent sessions: the only writer of Session values. Applies hook
// events, measures turns, keeps the last answer's summary, retires stale sessions and gives one
// reminder for a finished turn or a wait nobody answered. Lives on the GUI thread.
class SessionStore : public QObject {
    Q_OBJECT
public:
    // A moment worth the user's attention, with a snapshot of the session it concerns.
    struct Transition {
        enum class Kind { started, finished, needsAttention, failed };
        Kind kind = Kind::started;
        Session session;

        static Transition started(Session s) { return {Kind::started, std::move(s)}; }
        static Transition finished(Session s) { return {Kind::finished, std::move(s)}; }
        static Transition needsAttention(Session s) { return {Kind::needsAttention, std::move(s)}; }
        static Transition failed(Session s) { return {Kind::failed, std::move(s)}; }
        bool operator==(const Transition&) const = default;
    };

    using Table = QHash<QString, Session>;

    // Housekeeping period, and the ages after which sessions are retired (seconds).
    static constexpr double sweepInterval = 15.0;
    static constexpr double staleToolAge = 1800;
    static constexpr double staleThinkingAge = 600;
    static constexpr double retireAge = 3600;
    static constexpr double retireUnseenAge = 43200;
    static constexpr double reminderDelay = 300;
    // Delay before the transcript is read for a finished turn that came without its message.
    static constexpr double summaryDelay = 0.3;
    // Any local process can post events with new ids, so the table is bounded.
    static constexpr int maxSessions = 100;

    // clock: nullptr is Clock::current(); settings: nullptr is Settings::shared() at each use.
    explicit SessionStore(Clock* clock = nullptr, Settings* settings = nullptr,
                          QObject* parent = nullptr);
    ~SessionStore() override;

    // The session whose chat is open. Set and cleared by the agent views and the debug
    // channel; the store itself never changes it.
    const std::optional<QString>& chatID() const { return chatID_; }
    void setChatID(const std::optional<QString>& id);

    const Table& sessions() const { return sessions_; }
    std::optional<Session> session(const QString& id) const;

    // Called after every assignment of the table (after sessionsChanged).
    std::function<void()> onChange;
    // Called by handle() after the table was stored, when the event made a transition.
    std::function<void(const Transition&)> onTransition;
    // Called by the reminder pass.
    std::function<void(const Transition&)> onReminder;

    // Applies one hook event to its session.
    void handle(const HookEvent& event);
    // Display order: waiting and failed first, then working, finished, idle; within a rank the
    // most recently updated first.
    QList<Session> ordered() const;
    void markSeen(const QString& id);
    void markAllSeen();
    // The user answered a permission request from the notch: a waiting session moves on to the
    // tool (allowed) or back to thinking (denied). No transition.
    void resume(const QString& id, bool allowed, const ToolActivity& tool);
    // Context fill, clamped to 0…100.
    void setContext(const QString& id, double percent);

    // One-line form of an assistant message: markdown marks dropped, white space folded,
    // at most 240 characters.
    static QString condense(const QString& text);

    // Reads the last assistant text of a transcript; runs on a worker thread. Defaults to
    // Transcript::lastAssistantText; tests replace it.
    std::function<std::optional<QString>(const QString& path)> summaryReader;

    Clock* clock() const { return clock_; }

Q_SIGNALS:
    void sessionsChanged();
    void chatIDChanged();

private:
    void store(const Session& s);
    void assign(Table table);
    void sweep();
    void remind();
    void startSummaryRead(const QString& id, const QString& path);
    void forget(const QString& id);
    void enforceCap(Table& table, const QString& keep);
    Settings& settings() const;

    Clock* clock_;
    Settings* settings_;
    std::optional<QString> chatID_;
    Table sessions_;
    Timer* sweepTimer_;
    // The turn each session's latest "Stop" belongs to, so that a transcript read that finishes
    // late never overwrites the summary of a newer turn.
    QHash<QString, quint64> finishedTurn_;
    quint64 turnSerial_ = 0;
};

} // namespace lomex
