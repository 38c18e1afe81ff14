#include "settings/SetupModel.h"
#include "core/Async.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "feeds/UsageMonitor.h"
#include "platform/AgentCli.h"
#include "core/FileIO.h"
#include "core/Paths.h"
#include "platform/Terminal.h"
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <nlohmann/json.hpp>

namespace lomex {

namespace {

// A text inside double quotes in bash: only these four characters mean something there.
QString doubleQuoted(const QString& text) {
    QString out;
    for (QChar c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`') out += '\\';
        out += c;
    }
    return '"' + out + '"';
}

QString echo(const QString& text) { return QStringLiteral("echo ") + doubleQuoted(text); }

} // namespace

SetupModel::SetupModel(UsageMonitor* usage, Clock* clock, QObject* parent)
    : QObject(parent), usage_(usage), clock_(clock ? clock : Clock::current()), timer_(new Timer(clock_, this)) {
    connect(timer_, &Timer::timeout, this, &SetupModel::refresh);
}

SetupModel::~SetupModel() { cancelCheck_->store(true); }

void SetupModel::startPolling() {
    refresh();
    timer_->stop();
    timer_->start(pollSeconds, true);
}

void SetupModel::stopPolling() { timer_->stop(); }

bool SetupModel::isPolling() const { return timer_->isActive(); }

void SetupModel::refresh() {
    const auto ask = [](const std::function<bool()>& f) { return f ? f() : false; };
    calendar_ = ask(calendarAccess);
    reminders_ = ask(remindersAccess);
    accessibility_ = ask(accessibilityTrusted);
    const QString tool = agentcli::claudeExecutable();
    claudeInstalled_ = !tool.isEmpty();
    if (claudeInstalled_ && !checking_) {
        checking_ = true;
        ++checksStarted_;
        // `claude` may hang until the timeout: its own pool, not the one of the short reads.
        runSlowThen(this, [tool, cancel = cancelCheck_] { return isLoggedIn(tool, checkTimeoutMs, cancel.get()); },
                [this](bool loggedIn) { finishCheck(loggedIn); });
    } else if (!claudeInstalled_) {
        claudeLoggedIn_ = false;
    }
    // The script in the terminal gave up (installer or sign-in): stop saying "finish in the
    // browser" and offer the step again.
    if (claudeBusy_ && QFile::exists(failureMarkPath())) {
        QFile::remove(failureMarkPath());
        claudeBusy_ = false;
        claudeFailed_ = true;
    }
    Q_EMIT changed();
}

void SetupModel::finishCheck(bool loggedIn) {
    checking_ = false;
    if (loggedIn) {
        if (!claudeLoggedIn_ && usage_) usage_->refresh();
        claudeLoggedIn_ = true;
        claudeBusy_ = false;
        claudeFailed_ = false;
    } else {
        claudeLoggedIn_ = false;
    }
    Q_EMIT changed();
}

bool SetupModel::isLoggedIn(const QString& claudePath, int timeoutMs, const std::atomic_bool* cancelled) {
    // Waits in short slices so a cancel is seen at once.
    constexpr qint64 sliceMs = 20;
    const auto isCancelled = [cancelled] { return cancelled && cancelled->load(); };
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(claudePath, {QStringLiteral("auth"), QStringLiteral("status")});
    if (!process.waitForStarted(timeoutMs)) return false;
    QByteArray out;
    QElapsedTimer elapsed;
    elapsed.start();
    while (process.state() != QProcess::NotRunning && elapsed.elapsed() < timeoutMs && out.size() <= maxCheckOutput &&
           !isCancelled()) {
        process.waitForReadyRead(int(std::clamp<qint64>(timeoutMs - elapsed.elapsed(), 1, sliceMs)));
        out += process.readAllStandardOutput();
    }
    if (process.state() != QProcess::NotRunning) {
        // Hung, talking far more than a status answer, or no longer wanted: signed out, and gone.
        process.kill();
        process.waitForFinished(2000);
        return false;
    }
    out += process.readAllStandardOutput();
    const auto root = nlohmann::json::parse(out.begin(), out.end(), nullptr, false);
    if (!root.is_object()) return false;
    const auto it = root.find("loggedIn");
    return it != root.end() && it->is_boolean() && it->get<bool>();
}

QString SetupModel::scriptPath() { return paths::dataDir() + QLatin1Char('/') + QLatin1String(scriptName); }

QString SetupModel::failureMarkPath() { return paths::dataDir() + QStringLiteral("/setup-claude.failed"); }

QString SetupModel::scriptText(bool czech, const QString& claudePath) {
    const auto pick = [czech](const char* cs, const char* en) { return QString::fromUtf8(czech ? cs : en); };
    const QString rule = echo(QString(44, QChar(0x2500)));
    const QString installFailed = doubleQuoted(pick("Instalace selhala. Zkontrolujte připojení k internetu a zkuste to znovu.",
                                                    "Installation failed. Check your internet connection and try again."));
    const QString signInFailed = doubleQuoted(QString::fromUtf8(
        L10n::text(QStringLiteral("setup.script.signInFailed"), czech ? AppLanguage::cs : AppLanguage::en)));
    // A step that fails leaves a mark the model's poll finds, so the wizard stops waiting.
    const QString failed = QStringLiteral(": > ") + agentcli::shellQuoted(failureMarkPath());
    QStringList lines{
        QStringLiteral("#!/bin/bash"),
        QStringLiteral("clear"),
        rule,
        echo(QStringLiteral("  Lomex \u00b7 ") + pick("nastavení limitů Claude", "Claude limits setup")),
        rule,
        QStringLiteral("echo"),
    };
    if (claudePath.isEmpty()) {
        lines << echo(pick("1/2  Instaluji Claude Code (oficiální instalátor z claude.ai)…",
                           "1/2  Installing Claude Code (official installer from claude.ai)…"));
        // https only, a failed download is an error, and only a script is run.
        lines << QStringLiteral("installer=\"$(mktemp)\" || exit 1");
        lines << QStringLiteral("if ! curl --proto '=https' --tlsv1.2 -fsSL %1 -o \"$installer\" "
                                "|| ! head -n 1 \"$installer\" | grep -q '^#!' || ! bash \"$installer\"; then "
                                "rm -f \"$installer\"; %3; echo; echo %2; read -r; exit 1; fi")
                     .arg(QLatin1String(installerURL), installFailed, failed);
        lines << QStringLiteral("rm -f \"$installer\"");
        lines << QStringLiteral("echo");
    }
    lines << echo(pick("2/2  Přihlášení: otevře se prohlížeč, přihlaste se svým účtem Claude (Pro/Max).",
                       "2/2  Sign-in: a browser will open, sign in with your Claude account (Pro/Max)."));
    lines << QStringLiteral("echo");
    const QString tool = claudePath.isEmpty() ? QStringLiteral("\"$HOME/.local/bin/claude\"") : agentcli::shellQuoted(claudePath);
    lines << tool + QStringLiteral(" auth login --claudeai || { %2; echo; echo %1; read -r; exit 1; }").arg(signInFailed, failed);
    lines << QStringLiteral("echo");
    lines << echo(QStringLiteral("\u2705 ") + pick("Hotovo! Toto okno můžete zavřít. Limity se ve Lomexu objeví do pár minut.",
                                                  "Done! You can close this window. Limits will appear in Lomex within a few minutes."));
    // A terminal started for a script closes when it ends; keep the result on screen.
    lines << QStringLiteral("read -r");
    return lines.join(QLatin1Char('\n'));
}

void SetupModel::setupClaude(bool czech) {
    claudeBusy_ = true;
    claudeFailed_ = false;
    QFile::remove(failureMarkPath());
    Q_EMIT changed();
    Settings::shared().setBool(QStringLiteral("usageEnabled"), true);
    if (auto e = UsageMonitor::installBridge()) log(QStringLiteral("status-line bridge not installed: ") + e->message);

    const QString text = scriptText(czech, agentcli::claudeExecutable());
    paths::ensureDir(paths::dataDir());
    fileio::WriteOptions options;
    options.newFileMode = 0755;
    options.keepExistingMode = false;
    options.followSymlink = false;
    // A script that could not be written is never replaced by an older one: nothing opens.
    const auto error = fileio::writeAtomically(scriptPath(), text.toUtf8(), options);
    if (error || !Terminal::current()->openScript(scriptPath())) {
        if (error) log(QStringLiteral("setup script not written: ") + *error);
        claudeBusy_ = false;
        Q_EMIT changed();
    }
}

} // namespace lomex
