#pragma once
#include "core/LomexError.h"
#include <QObject>
#include <QString>
#include <optional>

namespace lomex {

// The one switch of coding-agent monitoring, called by the limits page and the setup wizard.
// Turning it on writes our hook commands into every Claude Code settings file and, when Codex
// is present, into Codex's hooks file, and only then stores "agentsEnabled" (the delegate
// follows that key and starts or stops the hook server). A failing step undoes the steps
// before it, so the agents' files always match the stored setting. The delegate also reports
// here whether the hook server really listens, so a badge can tell the truth.
// Lives on the GUI thread; owned by the app delegate.
class AgentSwitch : public QObject {
    Q_OBJECT
public:
    explicit AgentSwitch(QObject* parent = nullptr);

    // The stored setting "agentsEnabled".
    bool isOn() const;
    // Installs or removes the hooks; stores the setting only on success; the first error otherwise.
    std::optional<LomexError> setEnabled(bool on);

    // Whether a Codex home exists (its row is shown, and it gets hooks, only then).
    static bool codexPresent();

    // The hook server's state, as the delegate last saw it.
    bool serverListening() const { return serverListening_; }
    // Why the server is not listening while monitoring is on (e.g. the port is taken).
    const std::optional<QString>& serverError() const { return serverError_; }
    void setServerState(bool listening, std::optional<QString> error);

    // Why an agent's file could not be brought up to date at start (it cannot be read or
    // parsed, say); cleared by the next switch that works.
    const std::optional<QString>& fileError() const { return fileError_; }
    void setFileError(std::optional<QString> error);

    // Whether events really reach us from the agent: hooks in place, monitoring on and the
    // server listening. Reads the agents' files at each call.
    bool claudeConnected() const;
    bool codexConnected() const;

Q_SIGNALS:
    // The setting or the server state changed.
    void changed();

private:
    bool serverListening_ = false;
    std::optional<QString> serverError_;
    std::optional<QString> fileError_;
};

} // namespace lomex
