#include "agents/SessionStore.h"
#include "agents/APIErrorText.h"
#include "agents/AgentText.h"
#include "agents/TextCut.h"
#include "agents/Transcript.h"
#include "core/Settings.h"
#include <QPointer>
#include "core/Async.h"
#include <algorithm>

namespace lomex {

namespace {

using Kind = ActivityState::Kind;

int rank(const ActivityState& s)
{
    switch (s.kind()) {
    case Kind::waiting:
    case Kind::error: return 4;
    case Kind::tool:
    case Kind::thinking:
    case Kind::compacting: return 3;
    case Kind::done: return 2;
    case Kind::idle: return 1;
    }
    return 0;
}

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return double(from.msecsTo(to)) / 1000.0;
}

using Transition = SessionStore::Transition;

// The stored session an event belongs to, or a new one for an id not seen yet.
Session sessionFor(const SessionStore::Table& table, const HookEvent& event)
{
    if (auto it = table.constFind(event.sessionID); it != table.constEnd()) return *it;
    Session s;
    s.id = event.sessionID;
    s.agent = event.agent;
    return s;
}

// Fields any event may carry; an absent one keeps what the session knew.
void takeCommonFields(Session& s, const HookEvent& event)
{
    if (event.cwd) s.cwd = event.cwd;
    if (event.transcriptPath) s.transcriptPath = event.transcriptPath;
    if (event.termProgram) s.termProgram = event.termProgram;
    if (event.hostBundleID) s.hostBundleID = event.hostBundleID;
    if (event.windowID) s.windowID = event.windowID;
    if (event.agentPID) s.agentPID = event.agentPID;
}

// One event being applied to one session: the state it found, and the transition it makes.
struct EventStep {
    Session& s;
    const HookEvent& event;
    Clock* clock;
    ActivityState before;
    bool wasWaiting;
    std::optional<Transition> transition;

    void finishTurn()
    {
        if (s.turnStartedAt) s.lastTurnDuration = secondsBetween(*s.turnStartedAt, clock->now());
        s.turnStartedAt.reset();
    }

    // A wait that goes on keeps its start, so the reminder counts from the first one.
    void beginWait(const QString& message)
    {
        s.state = ActivityState::waiting(message);
        if (!wasWaiting) {
            s.waitingSince = clock->now();
            s.reminded = false;
        }
    }
};

void onPromptSubmit(EventStep& step)
{
    Session& s = step.s;
    s.state = ActivityState::thinking();
    s.unseenSince.reset();
    s.turnStartedAt = step.clock->now();
    s.toolCount = 0;
    s.lastSummary.reset();
    step.transition = Transition::started(s);
}

void onPreToolUse(EventStep& step)
{
    Session& s = step.s;
    s.state = ActivityState::tool(step.event.toolActivity());
    if (!s.turnStartedAt) s.turnStartedAt = step.clock->now();
    s.toolCount += 1;
}

void onPermissionRequest(EventStep& step)
{
    const auto& input = step.event.toolInput;
    std::optional<QString> command;
    if (auto it = input.find("command"); it != input.end() && it->is_string())
        command = QString::fromStdString(it->get_ref<const std::string&>());
    step.beginWait(AgentText::mayIUse(step.event.toolActivity(), command));
    if (!step.wasWaiting) step.transition = Transition::needsAttention(step.s);
}

// An idle prompt only matters after work; a permission prompt repeats a wait already shown.
void onNotification(EventStep& step)
{
    const HookEvent& event = step.event;
    const QString message = textcut::showBidiControls(
        event.message.value_or(AgentText::needsAttention(displayName(step.s.agent))));
    const auto& type = event.notificationType;
    const bool idleLike = (type && *type == QLatin1String("idle_prompt"))
        || message.contains(QLatin1String("waiting for your input"), Qt::CaseInsensitive);
    bool change = true;
    if (idleLike) {
        change = step.before.isBusy();
    } else if (step.wasWaiting && type && *type == QLatin1String("permission_prompt")) {
        change = false;
    }
    if (change) {
        step.beginWait(message);
        step.transition = Transition::needsAttention(step.s);
    }
}

void onStop(EventStep& step)
{
    Session& s = step.s;
    s.state = ActivityState::done();
    s.unseenSince = step.clock->now();
    step.finishTurn();
    if (step.event.lastAssistantMessage)
        s.lastSummary = SessionStore::condense(*step.event.lastAssistantMessage);
    step.transition = Transition::finished(s);
}

void onStopFailure(EventStep& step)
{
    const HookEvent& event = step.event;
    step.s.state = ActivityState::error(textcut::showBidiControls(
        APIErrorText::describe(event.error, event.errorDetails, event.lastAssistantMessage)));
    step.finishTurn();
    step.transition = Transition::failed(step.s);
}

void onAgentResponse(EventStep& step)
{
    Session& s = step.s;
    if (step.event.lastAssistantMessage)
        s.lastSummary = SessionStore::condense(*step.event.lastAssistantMessage);
    if (step.event.contextPercent) s.contextPercent = step.event.contextPercent;
}

// "SubagentStop" and unknown names change nothing beyond the common fields.
void applyEvent(EventStep& step)
{
    const QString& name = step.event.name;
    Session& s = step.s;
    if (name == QLatin1String("SessionStart")) {
        if (!step.before.isBusy()) s.state = ActivityState::idle();
    } else if (name == QLatin1String("UserPromptSubmit")) {
        onPromptSubmit(step);
    } else if (name == QLatin1String("PreToolUse")) {
        onPreToolUse(step);
    } else if (name == QLatin1String("PostToolUse") || name == QLatin1String("PostToolUseFailure")) {
        s.state = ActivityState::thinking();
    } else if (name == QLatin1String("PreCompact")) {
        s.state = ActivityState::compacting();
    } else if (name == QLatin1String("PermissionRequest")) {
        onPermissionRequest(step);
    } else if (name == QLatin1String("Notification")) {
        onNotification(step);
    } else if (name == QLatin1String("Stop")) {
        onStop(step);
    } else if (name == QLatin1String("StopFailure")) {
        onStopFailure(step);
    } else if (name == QLatin1String("AgentResponse")) {
        onAgentResponse(step);
    } else if (name == QLatin1String("Interrupt")) {
        s.state = ActivityState::idle();
        s.turnStartedAt.reset();
    }
}

} // namespace

SessionStore::SessionStore(Clock* clock, Settings* settings, QObject* parent)
    : QObject(parent)
    , clock_(clock ? clock : Clock::current())
    , settings_(settings)
    , sweepTimer_(new Timer(clock_, this))
{
    summaryReader = [](const QString& path) { return Transcript::lastAssistantText(path); };
    connect(sweepTimer_, &Timer::timeout, this, [this] {
        sweep();
        remind();
    });
    sweepTimer_->start(sweepInterval, true);
}

SessionStore::~SessionStore() = default;

Settings& SessionStore::settings() const
{
    return settings_ ? *settings_ : Settings::shared();
}

void SessionStore::setChatID(const std::optional<QString>& id)
{
    if (chatID_ == id) return;
    chatID_ = id;
    Q_EMIT chatIDChanged();
}

std::optional<Session> SessionStore::session(const QString& id) const
{
    auto it = sessions_.constFind(id);
    if (it == sessions_.constEnd()) return std::nullopt;
    return *it;
}

void SessionStore::assign(Table table)
{
    sessions_ = std::move(table);
    Q_EMIT sessionsChanged();
    if (onChange) onChange();
}

void SessionStore::store(const Session& s)
{
    Table table = sessions_;
    table.insert(s.id, s);
    if (table.size() > maxSessions) enforceCap(table, s.id);
    assign(std::move(table));
}

void SessionStore::forget(const QString& id)
{
    finishedTurn_.remove(id);
}

// Drops sessions until the table fits: the least recently updated of those not waiting first,
// waiting ones only when nothing else is left. The session just touched always stays.
void SessionStore::enforceCap(Table& table, const QString& keep)
{
    while (table.size() > maxSessions) {
        const Session* victim = nullptr;
        for (const Session& s : std::as_const(table)) {
            if (s.id == keep) continue;
            if (!victim) {
                victim = &s;
                continue;
            }
            const bool sWaiting = s.state.is(Kind::waiting);
            const bool vWaiting = victim->state.is(Kind::waiting);
            if (sWaiting != vWaiting) {
                if (!sWaiting) victim = &s;
            } else if (s.lastUpdate < victim->lastUpdate) {
                victim = &s;
            }
        }
        if (!victim) return;
        const QString id = victim->id;
        table.remove(id);
        forget(id);
    }
}

void SessionStore::handle(const HookEvent& event)
{
    if (event.name == QLatin1String("SessionEnd")) {
        Table table = sessions_;
        table.remove(event.sessionID);
        forget(event.sessionID);
        assign(std::move(table));
        return;
    }

    Session s = sessionFor(sessions_, event);
    takeCommonFields(s, event);
    s.lastUpdate = clock_->now();

    EventStep step{s, event, clock_, s.state, s.state.is(Kind::waiting), std::nullopt};
    applyEvent(step);

    if (!s.state.is(Kind::waiting)) s.waitingSince.reset();
    const bool isStop = event.name == QLatin1String("Stop");
    if (isStop) {
        s.reminded = false;
        finishedTurn_.insert(s.id, ++turnSerial_);
    }
    store(s);

    if (step.transition && onTransition) onTransition(*step.transition);

    if (isStop && s.agent == Agent::claude && !s.lastSummary && s.transcriptPath) {
        // The table may have been changed by the callback; the read checks again when it lands.
        startSummaryRead(s.id, *s.transcriptPath);
    }
}

void SessionStore::startSummaryRead(const QString& id, const QString& path)
{
    const quint64 turn = finishedTurn_.value(id);
    QPointer<SessionStore> self(this);
    Timer::singleShot(clock_, summaryDelay, this, [self, id, path, turn] {
        if (!self) return;
        auto reader = self->summaryReader;
        if (!reader) return;
        runThen(self.data(), [reader, path]() -> std::optional<QString> {
            auto text = reader(path);
            if (!text) return std::nullopt;
            return condense(*text);
        }, [self, id, turn](const std::optional<QString>& summary) {
            if (!self || !summary) return;
            auto it = self->sessions_.constFind(id);
            if (it == self->sessions_.constEnd() || !it->state.is(Kind::done)) return;
            // A newer turn finished meanwhile: its summary wins over this late read.
            if (self->finishedTurn_.value(id) != turn) return;
            Session s = *it;
            s.lastSummary = *summary;
            self->store(s);
        });
    });
}

QList<Session> SessionStore::ordered() const
{
    QList<Session> list = sessions_.values();
    std::sort(list.begin(), list.end(), [](const Session& a, const Session& b) {
        const int ra = rank(a.state), rb = rank(b.state);
        if (ra != rb) return ra > rb;
        return a.lastUpdate > b.lastUpdate;
    });
    return list;
}

void SessionStore::markSeen(const QString& id)
{
    auto it = sessions_.constFind(id);
    if (it == sessions_.constEnd() || !it->isUnseen()) return;
    Session s = *it;
    s.unseenSince.reset();
    store(s);
}

void SessionStore::markAllSeen()
{
    Table table = sessions_;
    bool changed = false;
    for (Session& s : table) {
        if (!s.isUnseen()) continue;
        s.unseenSince.reset();
        changed = true;
    }
    if (changed) assign(std::move(table));
}

void SessionStore::resume(const QString& id, bool allowed, const ToolActivity& tool)
{
    auto it = sessions_.constFind(id);
    if (it == sessions_.constEnd() || !it->state.is(Kind::waiting)) return;
    Session s = *it;
    s.state = allowed ? ActivityState::tool(tool) : ActivityState::thinking();
    s.lastUpdate = clock_->now();
    // The wait is over: no reminder for it may follow.
    s.waitingSince.reset();
    store(s);
}

void SessionStore::setContext(const QString& id, double percent)
{
    auto it = sessions_.constFind(id);
    if (it == sessions_.constEnd()) return;
    if (it->contextPercent && *it->contextPercent == percent) return;
    Session s = *it;
    s.contextPercent = percent <= 0 ? 0.0 : std::min(percent, 100.0);
    store(s);
}

QString SessionStore::condense(const QString& text)
{
    QString t = text;
    for (const char* mark : {"**", "__", "`", "### ", "## ", "# "}) t.remove(QLatin1String(mark));
    t = t.simplified();
    return textcut::showBidiControls(textcut::shorten(t, 240));
}

// One pass, one published table: a sweep that retires many sessions notifies once.
void SessionStore::sweep()
{
    const QDateTime now = clock_->now();
    Table table = sessions_;
    bool changed = false;
    for (auto it = table.begin(); it != table.end();) {
        Session& s = *it;
        const double age = secondsBetween(s.lastUpdate, now);
        bool toIdle = false;
        bool remove = false;
        switch (s.state.kind()) {
        case Kind::tool: toIdle = age > staleToolAge; break;
        case Kind::thinking:
        case Kind::compacting: toIdle = age > staleThinkingAge; break;
        // A wait stays however old: the agent still holds the question, and the table's cap
        // bounds what forgotten waits can cost.
        case Kind::waiting: break;
        case Kind::error:
        case Kind::idle: remove = age > retireAge; break;
        case Kind::done: remove = age > (s.isUnseen() ? retireUnseenAge : retireAge); break;
        }
        if (remove) {
            forget(s.id);
            it = table.erase(it);
            changed = true;
            continue;
        }
        if (toIdle) {
            s.state = ActivityState::idle();
            s.turnStartedAt.reset();
            changed = true;
        }
        ++it;
    }
    if (changed) assign(std::move(table));
}

void SessionStore::remind()
{
    if (!settings().get(keys::agentReminders)) return;
    const QDateTime now = clock_->now();
    const Table start = sessions_;
    for (const Session& s : start) {
        if (s.reminded) continue;
        std::optional<Transition> reminder;
        if (s.unseenSince && s.state.is(Kind::done) && secondsBetween(*s.unseenSince, now) >= reminderDelay)
            reminder = Transition::finished(s);
        else if (s.waitingSince && s.state.is(Kind::waiting)
                 && secondsBetween(*s.waitingSince, now) >= reminderDelay)
            reminder = Transition::needsAttention(s);
        if (!reminder) continue;
        auto it = sessions_.constFind(s.id);
        if (it == sessions_.constEnd()) continue;
        Session marked = *it;
        marked.reminded = true;
        store(marked);
        if (onReminder) onReminder(*reminder);
    }
}

} // namespace lomex
