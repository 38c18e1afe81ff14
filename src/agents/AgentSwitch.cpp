#include "agents/AgentSwitch.h"
#include "agents/HookInstaller.h"
#include "core/Log.h"
#include "core/Settings.h"
#include <QFileInfo>

namespace lomex {

namespace {

void undo(const std::optional<LomexError>& error, const char* what) {
    if (error) log(QStringLiteral("could not undo ") + QLatin1String(what) + QStringLiteral(": ") + error->message);
}
} // namespace

AgentSwitch::AgentSwitch(QObject* parent) : QObject(parent) {
    connect(&Settings::shared(), &Settings::changed, this, [this](const QString& key) {
        if (key == keys::agentsEnabled) Q_EMIT changed();
    });
    // The setting did not reach the file and is back at what the file holds: the agents' files
    // follow it, or they would post to a server that never starts.
    connect(&Settings::shared(), &Settings::saveFailed, this, [this](const QString& key) {
        if (key != keys::agentsEnabled) return;
        const quint16 port = HookInstaller::defaultPort;
        if (isOn()) {
            undo(HookInstaller::install(port), "removing the Claude Code hooks");
            if (codexPresent()) undo(HookInstaller::Codex::install(port), "removing the Codex hooks");
        } else {
            undo(HookInstaller::uninstall(), "the Claude Code hooks");
            undo(HookInstaller::Codex::uninstall(), "the Codex hooks");
        }
    });
}

bool AgentSwitch::isOn() const { return Settings::shared().get(keys::agentsEnabled); }

bool AgentSwitch::codexPresent() { return QFileInfo::exists(HookInstaller::Codex::home()); }

std::optional<LomexError> AgentSwitch::setEnabled(bool on) {
    const quint16 port = HookInstaller::defaultPort;
    if (on) {
        if (auto e = HookInstaller::install(port)) {
            // An earlier config folder may already hold the hooks.
            undo(HookInstaller::uninstall(), "the Claude Code hooks");
            return e;
        }
        if (codexPresent()) {
            if (auto e = HookInstaller::Codex::install(port)) {
                undo(HookInstaller::uninstall(), "the Claude Code hooks");
                return e;
            }
        }
    } else {
        if (auto e = HookInstaller::uninstall()) {
            undo(HookInstaller::install(port), "removing the Claude Code hooks");
            return e;
        }
        if (auto e = HookInstaller::Codex::uninstall()) {
            undo(HookInstaller::install(port), "removing the Claude Code hooks");
            return e;
        }
    }
    // A setting that does not reach the file (a read-only settings file, a full disk) is
    // reported by saveFailed, above.
    Settings::shared().set(keys::agentsEnabled, on);
    setFileError(std::nullopt);
    return std::nullopt;
}

void AgentSwitch::setFileError(std::optional<QString> error) {
    if (fileError_ == error) return;
    fileError_ = std::move(error);
    Q_EMIT changed();
}

void AgentSwitch::setServerState(bool listening, std::optional<QString> error) {
    if (listening) error.reset();
    if (serverListening_ == listening && serverError_ == error) return;
    serverListening_ = listening;
    serverError_ = std::move(error);
    Q_EMIT changed();
}

bool AgentSwitch::claudeConnected() const { return isOn() && serverListening_ && HookInstaller::isInstalled(); }

bool AgentSwitch::codexConnected() const {
    return isOn() && serverListening_ && HookInstaller::Codex::isInstalled();
}

} // namespace lomex
