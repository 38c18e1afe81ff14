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
    const QString& name = event.name;

    if (name == QLatin1String("SessionEnd")) {
        Table table = sessions_;
        table.remove(event.sessionID);
        forget(event.sessionID);
        assign(std::move(table));
        return;
    }

    Session s;
    if (auto it = sessions_.constFind(event.sessionID); it != sessions_.constEnd()) {
        s = *it;
    } else {
        s.id = event.sessionID;
        s.agent = event.agent;
    }
    if (event.cwd) s.cwd = event.cwd;
    if (event.transcriptPath) s.transcriptPath = event.transcriptPath;
    if (event.termProgram) s.termProgram = event.termProgram;
    if (event.hostBundleID) s.hostBundleID = event.hostBundleID;
    if (event.windowID) s.windowID = event.windowID;
    if (event.agentPID) s.agentPID = event.agentPID;
    s.lastUpdate = clock_->now();

    const ActivityState before = s.state;
    const bool wasWaiting = before.is(Kind::waiting);
    std::optional<Transition> transition;

    auto finishTurn = [&] {
        if (s.turnStartedAt) s.lastTurnDuration = secondsBetween(*s.turnStartedAt, clock_->now());
        s.turnStartedAt.reset();
    };
    auto beginWait = [&](const QString& message) {
        s.state = ActivityState::waiting(message);
        if (!wasWaiting) {
            s.waitingSince = clock_->now();
            s.reminded = false;
        }
    };

    if (name == QLatin1String("SessionStart")) {
        if (!before.isBusy()) s.state = ActivityState::idle();
    } else if (name == QLatin1String("UserPromptSubmit")) {
        s.state = ActivityState::thinking();
        s.unseenSince.reset();
        s.turnStartedAt = clock_->now();
        s.toolCount = 0;
        s.lastSummary.reset();
        transition = Transition::started(s);
    } else if (name == QLatin1String("PreToolUse")) {
        s.state = ActivityState::tool(event.toolActivity());
        if (!s.turnStartedAt) s.turnStartedAt = clock_->now();
        s.toolCount += 1;
    } else if (name == QLatin1String("PostToolUse") || name == QLatin1String("PostToolUseFailure")) {
        s.state = ActivityState::thinking();
    } else if (name == QLatin1String("PreCompact")) {
        s.state = ActivityState::compacting();
    } else if (name == QLatin1String("PermissionRequest")) {
        std::optional<QString> command;
        if (auto it = event.toolInput.find("command"); it != event.toolInput.end() && it->is_string())
            command = QString::fromStdString(it->get_ref<const std::string&>());
        beginWait(AgentText::mayIUse(event.toolActivity(), command));
        if (!wasWaiting) transition = Transition::needsAttention(s);
    } else if (name == QLatin1String("Notification")) {
        const QString message = textcut::showBidiControls(
            event.message.value_or(AgentText::needsAttention(displayName(s.agent))));
        const auto& type = event.notificationType;
        const bool idleLike = (type && *type == QLatin1String("idle_prompt"))
            || message.contains(QLatin1String("waiting for your input"), Qt::CaseInsensitive);
        bool change = true;
        if (idleLike) {
            change = before.isBusy();
        } else if (wasWaiting && type && *type == QLatin1String("permission_prompt")) {
            change = false;
        }
        if (change) {
            beginWait(message);
            transition = Transition::needsAttention(s);
        }
    } else if (name == QLatin1String("Stop")) {
        s.state = ActivityState::done();
        s.unseenSince = clock_->now();
        finishTurn();
        if (event.lastAssistantMessage) s.lastSummary = condense(*event.lastAssistantMessage);
        transition = Transition::finished(s);
    } else if (name == QLatin1String("StopFailure")) {
        s.state = ActivityState::error(textcut::showBidiControls(
            APIErrorText::describe(event.error, event.errorDetails, event.lastAssistantMessage)));
        finishTurn();
        transition = Transition::failed(s);
    } else if (name == QLatin1String("AgentResponse")) {
        if (event.lastAssistantMessage) s.lastSummary = condense(*event.lastAssistantMessage);
        if (event.contextPercent) s.contextPercent = event.contextPercent;
    } else if (name == QLatin1String("Interrupt")) {
        s.state = ActivityState::idle();
        s.turnStartedAt.reset();
    }
    // "SubagentStop" and unknown names: only the common fields above.

    if (!s.state.is(Kind::waiting)) s.waitingSince.reset();
    const bool isStop = name == QLatin1String("Stop");
    if (isStop) {
        s.reminded = false;
        finishedTurn_.insert(s.id, ++turnSerial_);
    }
    store(s);

    if (transition && onTransition) onTransition(*transition);

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
    if (!settings().boolValue(QStringLiteral("agentReminders"), true)) return;
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
