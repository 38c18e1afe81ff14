#include "agents/ApprovalCenter.h"
#include "agents/TextCut.h"
#include "agents/ApprovalToken.h"
#include "agents/EventServer.h"
#include "core/Settings.h"

namespace lomex {

namespace {

bool endsTurn(const QString& name)
{
    return name == QLatin1String("UserPromptSubmit") || name == QLatin1String("Stop")
        || name == QLatin1String("StopFailure") || name == QLatin1String("Interrupt")
        || name == QLatin1String("SessionEnd");
}

bool finishesTool(const QString& name)
{
    return name == QLatin1String("PostToolUse") || name == QLatin1String("PostToolUseFailure");
}

} // namespace

ApprovalCenter::ApprovalCenter(Clock* clock, Settings* settings, QObject* parent)
    : QObject(parent), clock_(clock ? clock : Clock::current()), settings_(settings)
{
}

ApprovalCenter::~ApprovalCenter()
{
    // Answer what is still held so no hook waits for its own time limit.
    auto held = std::move(held_);
    held_.clear();
    for (auto& [id, h] : held)
        if (h.reply) h.reply(std::nullopt);
}

Settings& ApprovalCenter::settings() const
{
    return settings_ ? *settings_ : Settings::shared();
}

std::optional<PendingApproval> ApprovalCenter::pendingFor(const QString& sessionID) const
{
    for (const PendingApproval& p : pending_)
        if (p.sessionID == sessionID) return p;
    return std::nullopt;
}

void ApprovalCenter::observe(const HookEvent& event)
{
    QList<quint64> settled;
    if (endsTurn(event.name)) {
        for (const PendingApproval& p : std::as_const(pending_))
            if (p.sessionID == event.sessionID) settled << p.id;
    } else if (finishesTool(event.name)) {
        // The tool ran (or failed) without us: the terminal answered. Only the oldest matching
        // request ends; an identical call asked again stays.
        const ToolActivity ran = event.toolActivity();
        for (const PendingApproval& p : std::as_const(pending_)) {
            if (p.sessionID == event.sessionID && p.tool == ran) {
                settled << p.id;
                break;
            }
        }
    }
    for (quint64 id : std::as_const(settled)) finish(id, std::nullopt);
}

std::optional<quint64> ApprovalCenter::add(const HookEvent& event, const PermissionReply& reply)
{
    return add(event, [reply](const std::optional<QString>& text) { reply(text); }, reply.id());
}

std::optional<quint64> ApprovalCenter::add(const HookEvent& event, Reply reply, quint64 replyID)
{
    if (!settings().get(keys::agentApprovals)
        || event.name != QLatin1String("PermissionRequest") || event.agent == Agent::cursor) {
        if (reply) reply(std::nullopt);
        return std::nullopt;
    }
    PendingApproval p;
    p.id = nextID_++;
    p.sessionID = event.sessionID;
    p.agent = event.agent;
    p.tool = event.toolActivity();
    if (auto command = event.toolInput.find("command");
        command != event.toolInput.end() && command->is_string()) {
        const QString whole = QString::fromStdString(command->get_ref<const std::string&>());
        p.commandLength = whole.size();
        p.command = textcut::leftUnits(whole, PendingApproval::maxCommandUnits);
    }
    p.cwd = event.cwd;
    p.permissionSuggestions = event.permissionSuggestions;
    p.createdAt = clock_->now();
    const double limit = timeout(event.agent);
    p.deadline = p.createdAt.addMSecs(qint64(limit * 1000));

    Held h;
    h.reply = std::move(reply);
    h.replyID = replyID;
    h.timer = new Timer(clock_, this);
    const quint64 id = p.id;
    connect(h.timer, &Timer::timeout, this, [this, id] { finish(id, std::nullopt); });
    h.timer->start(limit, false);
    held_.emplace(id, std::move(h));
    pending_.append(p);
    Q_EMIT pendingChanged();
    return id;
}

bool ApprovalCenter::decide(quint64 approvalID, Decision decision, const std::function<void()>& beforeSending)
{
    for (const PendingApproval& p : std::as_const(pending_)) {
        if (p.id != approvalID) continue;
        const PendingApproval approval = p;
        if (!ApprovalToken::ensureFile()) {
            finish(approvalID, std::nullopt);
            Q_EMIT undelivered(approval);
            return false;
        }
        if (beforeSending) beforeSending();
        const QString body = ApprovalToken::value() + QLatin1Char(' ')
            + decisionJSON(decision, approval.agent, approval.permissionSuggestions);
        finish(approvalID, body);
        return true;
    }
    return false;
}

void ApprovalCenter::cancel(quint64 replyID)
{
    if (replyID == 0) return;
    for (const auto& [id, h] : held_) {
        if (h.replyID == replyID) {
            finish(id, std::nullopt);
            return;
        }
    }
}

void ApprovalCenter::endAll()
{
    QList<quint64> ids;
    for (const PendingApproval& p : std::as_const(pending_)) ids << p.id;
    for (quint64 id : std::as_const(ids)) finish(id, std::nullopt);
}

void ApprovalCenter::finish(quint64 approvalID, const std::optional<QString>& text)
{
    auto it = held_.find(approvalID);
    if (it == held_.end()) return;
    Held h = std::move(it->second);
    held_.erase(it);
    if (h.timer) {
        h.timer->stop();
        h.timer->deleteLater();
    }
    pending_.removeIf([approvalID](const PendingApproval& p) { return p.id == approvalID; });
    // Taken out of the queue first, so a re-entrant call can never answer it twice.
    if (h.reply) h.reply(text);
    Q_EMIT pendingChanged();
}

QString ApprovalCenter::decisionJSON(Decision decision, Agent agent,
                                     const std::vector<nlohmann::json>& suggestions)
{
    using nlohmann::ordered_json;
    ordered_json d = ordered_json::object();
    if (decision == Decision::deny) {
        d["behavior"] = "deny";
    } else {
        d["behavior"] = "allow";
        if (decision == Decision::alwaysAllow && agent == Agent::claude && !suggestions.empty()) {
            ordered_json updates = ordered_json::array();
            for (const nlohmann::json& s : suggestions) updates.push_back(ordered_json::parse(
                    s.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
            d["updatedPermissions"] = std::move(updates);
        }
    }
    ordered_json out = ordered_json::object();
    out["hookSpecificOutput"]["hookEventName"] = "PermissionRequest";
    out["hookSpecificOutput"]["decision"] = std::move(d);
    return QString::fromStdString(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

} // namespace lomex
