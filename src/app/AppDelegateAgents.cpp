// The delegate's coding-agent wiring: the hook server's callbacks, the session store's
// transitions and reminders, and the agents' part of the live activity.
#include "agents/AgentContext.h"
#include "agents/AgentSwitch.h"
#include "agents/AgentText.h"
#include "agents/ReplySender.h"
#include "agents/views/AgentViews.h"
#include "agents/ApprovalCenter.h"
#include "agents/ApprovalToken.h"
#include "agents/EventServer.h"
#include "agents/HookInstaller.h"
#include "core/JsonRead.h"
#include "agents/SessionStore.h"
#include "agents/TextCut.h"
#include "app/AppDelegate.h"
#include "notch/LiveActivity.h"
#include "app/NotchPanel.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "notch/CollapsedView.h"
#include "notch/NotchRootView.h"
#include "platform/Feedback.h"
#include "platform/RunningApps.h"
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QPointer>
#include <memory>
#include "core/Async.h"
#include <nlohmann/json.hpp>

namespace lomex {

namespace {

constexpr double kAgentToastSeconds = 5.0;
// How soon a taken or freed port shows on the limits page.
constexpr double kServerWatchSeconds = 1.0;
// Much more than the toast line shows: an agent's message can be huge, and the whole toast is
// laid out to elide it.
constexpr int kAgentToastCharacters = 400;
// How long one pass may spend on the hook server's arrivals before it lets the rest wait.
constexpr qint64 kArrivalPassMs = 2;

using Transition = SessionStore::Transition;

// The port the hook server listens on: LOMEX_HOOK_PORT when set (a second instance, tests),
// else the one the installed hook commands post to.
quint16 hookServerPort()
{
    bool ok = false;
    const uint port = qEnvironmentVariable("LOMEX_HOOK_PORT").toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : HookInstaller::defaultPort;
}

// Puts the agent glyphs over the closed notch's sides while the live activity is an agent.
class AgentGlyphs : public QObject {
public:
    AgentGlyphs(CollapsedView* host, NotchModel* model, SessionStore* store)
        : QObject(host), host_(host), model_(model),
          leading_(new AgentLeading(store, host)), trailing_(new AgentTrailing(store, host))
    {
        // Drawn over the pill without a background of their own (a filled square would hide
        // the pill's round corners): the pill leaves out its generic agent symbol instead.
        host->leaveSidesTo(NotchModel::Live::agent);
        host->installEventFilter(this);
        connect(model, &NotchModel::liveChanged, this, &AgentGlyphs::place);
        connect(model, &NotchModel::geometryChanged, this, &AgentGlyphs::place);
        place();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == host_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            place();
        return false;
    }

private:
    void place()
    {
        const bool on = model_->live() == NotchModel::Live::agent;
        const int side = model_->sideWidth();
        const int h = host_->height();
        leading_->setGeometry(0, 0, side, h);
        trailing_->setGeometry(host_->width() - side, 0, side, h);
        leading_->setVisible(on && side > 0);
        trailing_->setVisible(on && side > 0);
        leading_->raise();
        trailing_->raise();
    }

    CollapsedView* host_;
    NotchModel* model_;
    AgentLeading* leading_;
    AgentTrailing* trailing_;
};

QString transitionToast(const Transition& t)
{
    const Session& s = t.session;
    const QString project = s.projectName();
    switch (t.kind) {
    case Transition::Kind::needsAttention:
        return s.state.is(ActivityState::Kind::waiting) && !s.state.message().isEmpty()
            ? project + QStringLiteral(": ") + s.state.message()
            : AgentText::needsAttention(displayName(s.agent));
    case Transition::Kind::finished: {
        return project + QStringLiteral(" · ") + AgentText::t(QStringLiteral("Done"))
            + (s.lastSummary ? QStringLiteral(" · ") + *s.lastSummary : QString());
    }
    case Transition::Kind::failed:
        return project + QStringLiteral(": ") + s.state.message();
    case Transition::Kind::started: break;
    }
    return {};
}

} // namespace

void AppDelegate::setupAgents()
{
    QPointer<AppDelegate> self(this);
    agents_->onTransition = [self](const Transition& t) {
        if (self) self->agentTransition(t, false);
    };
    agents_->onReminder = [self](const Transition& t) {
        if (self) self->agentTransition(t, true);
    };
    connect(agents_, &SessionStore::sessionsChanged, this, &AppDelegate::updateAgentLive);
    connect(approvals_, &ApprovalCenter::pendingChanged, this, &AppDelegate::updateAgentLive);
    // The notch was held open for the approvals; once the last one is answered the hold ends.
    connect(approvals_, &ApprovalCenter::pendingChanged, this, [this, hadPending = std::make_shared<bool>(false)] {
        const bool has = !approvals_->pending().isEmpty();
        if (*hadPending && !has) model_->endPeek();
        *hadPending = has;
    });
    // The card went away, but the agent did not hear: say so, or the user waits for nothing.
    connect(approvals_, &ApprovalCenter::undelivered, this, [this] {
        model_->open(NotchModel::Tab::agents);
        model_->show(L10n::shared().t(QStringLiteral("agents.answerLost"), {ApprovalToken::filePath()}), kAgentToastSeconds);
    });
    installAgentGlyphs();
    updateAgentLive();
    // settingChanged() follows "agentsEnabled" from here on.
    if (Settings::shared().get(keys::agentsEnabled)) startAgentServer();
}

void AppDelegate::openFirstChat()
{
    const QList<Session> sessions = agents_->ordered();
    if (!sessions.isEmpty()) agents_->setChatID(sessions.first().id);
    showNotch(NotchModel::Tab::agents);
}

void AppDelegate::installAgentGlyphs()
{
    if (!panel_ || !panel_->root() || !panel_->root()->collapsedView()) return;
    new AgentGlyphs(panel_->root()->collapsedView(), model_, agents_);
}

void AppDelegate::startAgentServer()
{
    if (agentServer_) return;
    QPointer<AppDelegate> self(this);
    auto server = std::make_unique<EventServer>(hookServerPort(), [self](const HookEvent& event) {
        postToGui([self, event] {
            if (self) self->queueAgentArrival({[self, event] { self->handleAgentEvent(event); }, {}});
        });
    });
    server->onPermission = [self](const HookEvent& event, PermissionReply reply) {
        postToGui([self, event, reply] {
            AppDelegate* d = self.data();
            if (!d) {
                reply(std::nullopt);
                return;
            }
            d->queueAgentArrival({[self, event, reply] {
                                      AppDelegate* d = self.data();
                                      d->approvals_->add(event, reply);
                                      if (d->approvals_->hasPending(event.sessionID)) {
                                          d->model_->open(NotchModel::Tab::agents);
                                          d->model_->peek(ApprovalCenter::timeout(event.agent));
                                      }
                                  },
                                  [reply] { reply(std::nullopt); }});
        });
    };
    server->onPermissionCancelled = [self](quint64 replyID) {
        postToGui([self, replyID] {
            if (self) self->queueAgentArrival({[self, replyID] { self->approvals_->cancel(replyID); }, {}});
        });
    };
    server->onUsage = [self](const QByteArray& body) {
        postToGui([self, body] {
            if (self) self->ingestAgentStatusLine(body);
        });
    };
    if (auto error = server->start()) {
        log(QStringLiteral("agent server ") + error->message);
        agentSwitch_->setServerState(false, error->message);
        return;
    }
    agentServer_ = std::move(server);
    // Hooks installed by an older version carry the approval token on their command line.
    const QList<LomexError> fileErrors = HookInstaller::refreshInstalled(HookInstaller::defaultPort);
    for (const LomexError& error : fileErrors)
        log(QStringLiteral("agent hooks not updated: ") + error.message);
    agentSwitch_->setFileError(fileErrors.isEmpty() ? std::nullopt : std::optional<QString>(fileErrors.first().message));
    if (!agentServerWatch_) {
        agentServerWatch_ = new Timer(clock_, this);
        connect(agentServerWatch_, &Timer::timeout, this, &AppDelegate::reportAgentServer);
    }
    agentServerWatch_->start(kServerWatchSeconds, true);
    reportAgentServer();
}

void AppDelegate::reportAgentServer()
{
    if (!agentServer_) {
        agentSwitch_->setServerState(false, std::nullopt);
        return;
    }
    agentSwitch_->setServerState(agentServer_->isListening(), agentServer_->lastError());
}

void AppDelegate::stopAgentServer()
{
    if (agentServer_) {
        agentServer_->stop();
        agentServer_.reset();
    }
    if (agentServerWatch_) agentServerWatch_->stop();
    reportAgentServer();
    approvals_->endAll();
}

void AppDelegate::queueAgentArrival(AgentArrival arrival)
{
    agentArrivals_.push_back(std::move(arrival));
    scheduleAgentDrain();
}

void AppDelegate::scheduleAgentDrain()
{
    if (agentDrainQueued_) return;
    agentDrainQueued_ = true;
    // The pass starts once the window in front is known; meanwhile the GUI thread goes on.
    RunningApps* apps = RunningApps::current();
    activeLookup_ = runThen(slowPool(), this, [apps] { return apps->active(); },
                            [this](const std::optional<RunningApplication>& active) {
                                activeInPass_ = active;
                                drainAgentArrivals();
                            });
}

void AppDelegate::drainAgentArrivals()
{
    agentDrainQueued_ = false;
    inArrivalPass_ = true;
    ++agentArrivalPasses_;
    QElapsedTimer spent;
    spent.start();
    // At least one a pass, then as many as fit in a few milliseconds; the rest in the next
    // pass, after what else waits (input, painting, the debug socket).
    while (!agentArrivals_.empty()) {
        AgentArrival next = std::move(agentArrivals_.front());
        agentArrivals_.pop_front();
        next.handle();
        if (spent.elapsed() >= kArrivalPassMs) break;
    }
    inArrivalPass_ = false;
    activeInPass_.reset();
    if (!agentArrivals_.empty()) scheduleAgentDrain();
}

void AppDelegate::handleAgentEvent(const HookEvent& event)
{
    approvals_->observe(event);
    agents_->handle(event);
    const bool refreshesContext = event.name == QLatin1String("Stop")
        || event.name == QLatin1String("PostToolUse") || event.name == QLatin1String("UserPromptSubmit");
    if (event.agent != Agent::codex || !refreshesContext || !event.transcriptPath) return;
    const QString path = *event.transcriptPath;
    const QString id = event.sessionID;
    const quint64 serial = ++contextReadSerial_;
    contextReads_.insert(id, serial);
    auto reader = codexContextReader;
    if (!reader) reader = [](const QString& p) { return AgentContext::codex(p); };
    runThen(this, [reader, path] { return reader(path); }, [this, id, serial](const std::optional<double>& percent) {
        // A newer read of this session is on its way or done: this figure is older.
        if (contextReads_.value(id) != serial) return;
        contextReads_.remove(id);
        if (percent) agents_->setContext(id, *percent);
    });
}

void AppDelegate::ingestAgentStatusLine(const QByteArray& body)
{
    // Only the top level and one object below it matter; anything nested deeper is dropped
    // while parsing, so an untrusted body cannot build a deep tree.
    const auto shallow = [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) { return depth <= 2; };
    const nlohmann::json j = nlohmann::json::parse(body.constBegin(), body.constEnd(), shallow, false);
    const auto id = jsonread::text(j, "session_id");
    const nlohmann::json* window = jsonread::object(j, "context_window");
    const nlohmann::json* used = window ? jsonread::member(*window, "used_percentage") : nullptr;
    if (!id || !used || !used->is_number()) return;
    agents_->setContext(*id, used->get<double>());
}

void AppDelegate::agentTransition(const SessionStore::Transition& transition, bool reminder)
{
    using Kind = Transition::Kind;
    if (transition.kind == Kind::started) return;
    const Session& s = transition.session;
    if (!reminder && (transition.kind == Kind::finished || transition.kind == Kind::needsAttention)) {
        const auto host = AgentText::hostApp(s.hostBundleID, s.termProgram);
        // One lookup (a round trip to the X server) for a burst handled in one pass.
        if (!activeInPass_) activeInPass_ = RunningApps::current()->active();
        const std::optional<RunningApplication> active = *activeInPass_;
        if (!inArrivalPass_) activeInPass_.reset();
        const bool inFront = (host && active && host->desktopID == active->desktopID) || replies_->isInFront(s);
        if (inFront && !approvals_->hasPending(s.id)) {
            // The user is looking at the agent's own terminal.
            if (transition.kind == Kind::finished) agents_->markSeen(s.id);
            return;
        }
    }
    model_->open(NotchModel::Tab::agents);
    model_->show(textcut::shorten(transitionToast(transition), kAgentToastCharacters), kAgentToastSeconds);
    if (transition.kind == Kind::needsAttention) {
        feedback::playSound(QStringLiteral("Funk"));
    } else if (transition.kind == Kind::finished
               && Settings::shared().get(keys::agentCelebrate)) {
        feedback::playSound(QStringLiteral("Glass"));
    }
}

void AppDelegate::updateAgentLive()
{
    if (!liveActivity_) return;
    bool needsUser = !approvals_->pending().isEmpty();
    bool active = false;
    for (const Session& s : agents_->sessions()) {
        needsUser = needsUser || s.state.is(ActivityState::Kind::waiting);
        active = active || s.state.isBusy() || s.isUnseen();
    }
    liveActivity_->setAgentNeedsUser(needsUser);
    liveActivity_->setAgentActive(active);
}

} // namespace lomex
