#include "agents/ReplySender.h"
#include "agents/AgentText.h"
#include "agents/TextCut.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "platform/AgentCli.h"
#include "platform/DesktopAutomation.h"
#include "platform/DesktopEntries.h"
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <memory>
#include <unistd.h>

namespace lomex {

namespace {

QString localized(const char* key, const QString& arg = QString())
{
    return arg.isNull() ? L10n::shared().t(QString::fromLatin1(key))
                        : L10n::shared().t(QString::fromLatin1(key), {arg});
}

QString couldNotStart(Agent agent, const QString& description)
{
    return L10n::shared().t(QStringLiteral("reply.couldNotStart"), {displayName(agent), description});
}

// Where the session runs: the terminal's window and the agent's process from the hooks, then
// the host applications AgentText::hostApp would try.
WindowHint hintFor(const Session& session)
{
    WindowHint hint;
    hint.windowID = session.windowID;
    hint.pid = session.agentPID;
    if (session.hostBundleID && !session.hostBundleID->isEmpty())
        hint.desktopIDs << *session.hostBundleID;
    if (session.termProgram) {
        if (auto mapped = AgentText::terminalDesktopID(*session.termProgram))
            hint.desktopIDs << *mapped;
    }
    return hint;
}

// The name people know the window's application by: its desktop entry's Name in the app's
// language ("Terminal", not the class "Gnome-terminal"), else the class, else the agent.
QString appNameOf(const TargetWindow& target, Agent agent)
{
    // One line of a file of another program: bounded, as the class is.
    constexpr int maxNameGraphemes = 80;
    QString name = target.name;
    if (!target.desktopID.isEmpty()) {
        const auto entry = desktopentry::find(target.desktopID, toString(L10n::shared().resolved()));
        if (entry && !entry->name.trimmed().isEmpty()) name = entry->name;
    }
    name = textcut::leftGraphemes(name.simplified(), maxNameGraphemes);
    return name.isEmpty() ? displayName(agent) : name;
}

} // namespace

QString ReplySender::Result::message() const
{
    const QString line = statusLine();
    return clipboardHoldsReply ? line + QLatin1Char(' ') + localized("reply.clipboardHoldsReply") : line;
}

QString ReplySender::Result::statusLine() const
{
    switch (kind) {
    case Kind::typed:
        return L10n::shared().t(QStringLiteral("reply.sent"), {text});
    case Kind::failed:
        return text;
    case Kind::background:
        return localized("reply.background");
    case Kind::noApp:
        return localized("reply.noApp");
    case Kind::needsAccessibility:
        // Linux has no Accessibility switch: typing needs an X11 session with XTEST.
        return localized("reply.noTyping");
    }
    return text;
}

// One typed reply on its way.
struct ReplySender::Typing {
    enum class Phase { activating, pasting, fetching, returning, restoring };
    Phase phase = Phase::activating;
    QString text;
    TargetWindow target;
    QString appName;
    bool terminal = false;
    ClipboardSnapshot saved;
    bool snapshotTaken = false; // saved holds the clipboard (read off the GUI thread)
    bool clipboardTaken = false;
    QDateTime deadline; // of the current phase
    QDateTime snapshotDeadline;
    Completion completion;
    Timer* ticker = nullptr;
};

ReplySender::ReplySender(Clock* clock, DesktopAutomation* automation, QObject* parent)
    : QObject(parent),
      clock_(clock ? clock : Clock::current()),
      automation_(automation ? automation : DesktopAutomation::current())
{
}

ReplySender::~ReplySender()
{
    if (typing_) {
        // Never leave the user's clipboard holding our reply.
        if (typing_->clipboardTaken && typing_->saved.complete && automation_->ownsClipboard())
            automation_->restoreClipboard(typing_->saved);
        delete typing_;
    }
}

bool ReplySender::isPlainToken(const QString& id)
{
    static const QRegularExpression token(QStringLiteral("^[A-Za-z0-9._:][A-Za-z0-9._:-]{0,127}$"));
    return token.match(id).hasMatch();
}

QString ReplySender::script(Agent agent, bool toolInArg3)
{
    // "--" ends the tools' options, so a reply that starts with "-" stays the prompt.
    const QString tool = toolInArg3 ? QStringLiteral("\"$3\"") : agent == Agent::codex ? QStringLiteral("codex") : QStringLiteral("claude");
    if (agent == Agent::codex) return tool + QStringLiteral(" exec resume \"$1\" -- \"$2\"");
    return tool + QStringLiteral(" --resume \"$1\" -p -- \"$2\"");
}

bool ReplySender::focusApp(const Session& session)
{
    const std::optional<TargetWindow> target = automation_->findWindow(hintFor(session));
    if (!target)
        return false;
    automation_->requestActivation(target->window);
    return true;
}

bool ReplySender::isInFront(const Session& session) const
{
    if (!session.windowID && !session.agentPID)
        return false;
    WindowHint hint;
    hint.windowID = session.windowID;
    hint.pid = session.agentPID;
    const std::optional<TargetWindow> target = automation_->findWindow(hint);
    return target && automation_->isActive(target->window);
}

void ReplySender::typeIntoApp(const QString& text, const Session& session, Completion completion)
{
    if (typing_) {
        completion(Result::failed(localized("reply.busy")));
        return;
    }
    if (!automation_->trusted()) {
        completion(Result::needsAccessibility());
        return;
    }
    const std::optional<TargetWindow> target = automation_->findWindow(hintFor(session));
    if (!target || target->pid == QCoreApplication::applicationPid()) {
        completion(Result::noApp());
        return;
    }
    typing_ = new Typing;
    typing_->text = text;
    typing_->target = *target;
    typing_->appName = appNameOf(*target, session.agent);
    // Cursor's own agent panel is an editor field, not a terminal.
    typing_->terminal = target->terminal && session.agent != Agent::cursor;
    typing_->completion = std::move(completion);
    // The clipboard is read while the window comes to the front; nothing is pasted before it
    // is held. A snapshot that comes after its reply ended is dropped.
    Typing* typing = typing_;
    automation_->snapshotClipboard(this, [this, typing, serial = ++typingSerial_](const ClipboardSnapshot& snap) {
        if (typing_ != typing || typingSerial_ != serial || typing->snapshotTaken)
            return;
        typing->saved = snap;
        typing->snapshotTaken = true;
    });
    typing_->snapshotDeadline = clock_->now().addMSecs(qint64(snapshotTimeout * 1000));
    typing_->deadline = clock_->now().addMSecs(qint64(activationTimeout * 1000));
    automation_->requestActivation(target->window);
    typing_->ticker = new Timer(clock_, this);
    connect(typing_->ticker, &Timer::timeout, this, &ReplySender::step);
    typing_->ticker->start(pollInterval, true);
}

void ReplySender::step()
{
    Typing* t = typing_;
    if (!t)
        return;
    const QDateTime now = clock_->now();
    const quint32 window = t->target.window;
    auto next = [&](Typing::Phase phase, double seconds) {
        t->phase = phase;
        t->deadline = now.addMSecs(qint64(seconds * 1000));
    };
    auto fail = [&](const char* key, bool restoreNow) {
        finishTyping(Result::failed(localized(key, t->appName)), restoreNow);
    };
    switch (t->phase) {
    case Typing::Phase::activating:
        if (automation_->isActive(window))
            next(Typing::Phase::pasting, pasteDelay);
        else if (now >= t->deadline)
            fail("reply.notActivated", true);
        return;
    case Typing::Phase::pasting:
        if (now < t->deadline)
            return;
        if (!t->snapshotTaken) {
            if (now < t->snapshotDeadline)
                return;
            // Never came: the reply goes on, and the clipboard is not put back as if it were held.
            t->saved = {};
            t->saved.complete = false;
            t->snapshotTaken = true;
        }
        // Checked again right before the keys: nothing is pasted into whatever came in front.
        if (!automation_->isActive(window))
            return fail("reply.notActivated", true);
        automation_->setClipboardText(t->text);
        t->clipboardTaken = true;
        automation_->sendPaste(t->terminal);
        next(Typing::Phase::fetching, fetchTimeout);
        return;
    case Typing::Phase::fetching:
        if (automation_->pasteFetched())
            next(Typing::Phase::returning, returnDelay);
        else if (now >= t->deadline)
            fail("reply.notFetched", true);
        return;
    case Typing::Phase::returning:
        if (now < t->deadline)
            return;
        if (!automation_->isActive(window))
            return fail("reply.focusLost", false);
        automation_->sendReturn();
        finishTyping(Result::typed(t->appName), false);
        return;
    case Typing::Phase::restoring:
        if (now < t->deadline)
            return;
        finishTyping({}, true);
        return;
    }
}

void ReplySender::finishTyping(const Result& result, bool restoreNow)
{
    Typing* t = typing_;
    if (t->completion) {
        Completion done = std::move(t->completion);
        t->completion = nullptr;
        Result told = result;
        told.clipboardHoldsReply = t->clipboardTaken && !t->saved.complete;
        done(told);
        if (typing_ != t)
            return;
    }
    if (!restoreNow) {
        // Give the target time to read what it fetched before the clipboard changes again.
        t->phase = Typing::Phase::restoring;
        t->deadline = clock_->now().addMSecs(qint64(restoreDelay * 1000));
        return;
    }
    // Only while the clipboard still holds our reply: a copy the user made meanwhile stays. A
    // snapshot that could not hold all of it is not offered as if it did: the reply stays, and
    // the status line has said so.
    if (t->clipboardTaken && t->saved.complete && automation_->ownsClipboard())
        automation_->restoreClipboard(t->saved);
    t->ticker->stop();
    t->ticker->deleteLater();
    typing_ = nullptr;
    delete t;
}

void ReplySender::runInBackground(const QString& text, const Session& session, Completion completion)
{
    if (!isPlainToken(session.id)) {
        completion(Result::failed(localized("reply.badSession")));
        return;
    }
    const Agent agent = session.agent;
    // Not parented: a resume that outlives the app keeps running (it has its own session).
    auto* process = new QProcess;
    process->setProgram(processes::loginShell());
    // The tool where the setup page finds Claude Code (PATH, else ~/.local/bin), which a login
    // shell whose profile does not add ~/.local/bin would miss; the shell's own lookup only when
    // neither has it.
    const QString tool = agentcli::agentExecutable(agent == Agent::codex ? QStringLiteral("codex") : QStringLiteral("claude"));
    QStringList arguments{QStringLiteral("-lc"), script(agent, !tool.isEmpty()), QStringLiteral("lomex"), session.id, text};
    if (!tool.isEmpty()) arguments << tool;
    process->setArguments(arguments);
    if (session.cwd && !session.cwd->isEmpty())
        process->setWorkingDirectory(*session.cwd);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->setChildProcessModifier([] { ::setsid(); });

    auto done = std::make_shared<Completion>(std::move(completion));
    auto report = [done](const Result& r) {
        if (!*done)
            return;
        Completion c = std::move(*done);
        *done = nullptr;
        c(r);
    };
    auto* grace = new Timer(clock_, process);
    connect(grace, &Timer::timeout, this, [report] { report(Result::background()); });
    connect(process, &QProcess::errorOccurred, this, [process, report, agent](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            report(Result::failed(couldNotStart(agent, process->errorString())));
            process->deleteLater();
        }
    });
    connect(process, &QProcess::finished, this, [process, report, agent](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0)
            report(Result::background());
        else if (status == QProcess::NormalExit && code == 127)
            report(Result::failed(couldNotStart(
                agent, localized("reply.commandNotFound"))));
        else
            report(Result::failed(localized("reply.exited", displayName(agent))));
        process->deleteLater();
    });
    grace->start(backgroundGrace, false);
    process->start();
}

} // namespace lomex
