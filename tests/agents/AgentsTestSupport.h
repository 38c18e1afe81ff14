#pragma once
#include "TestEnv.h"
#include "agents/ApprovalToken.h"
#include "agents/HookEvent.h"
#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

namespace lomex::test {

// Sets (or, with nothing, unsets) an environment variable for the life of the guard.
class EnvGuard {
public:
    EnvGuard(const char* name, const std::optional<QString>& value) : name_(name) {
        if (qEnvironmentVariableIsSet(name)) saved_ = qgetenv(name);
        if (value) qputenv(name, value->toUtf8());
        else qunsetenv(name);
    }
    ~EnvGuard() {
        if (saved_) qputenv(name_, *saved_);
        else qunsetenv(name_);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> saved_;
};

// As the next run of the app would, the next ApprovalToken::value() reads the token file
// again: the token is kept for one data folder, so a look into another one forgets it.
inline void readTokenAgain(const TempHome& home) {
    EnvGuard elsewhere("XDG_DATA_HOME", home.file(QStringLiteral("another-run")));
    ApprovalToken::value();
}

// A hook event with nothing but its name, session and agent.
inline HookEvent ev(const QString& name, const QString& sessionID = QStringLiteral("s1"),
                    Agent agent = Agent::claude)
{
    HookEvent e;
    e.name = name;
    e.sessionID = sessionID;
    e.agent = agent;
    return e;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray fixture(const QString& name) {
    return readAll(QStringLiteral(LOMEX_FIXTURES_DIR "/agents/") + name);
}

} // namespace lomex::test
