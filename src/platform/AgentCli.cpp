#include "platform/AgentCli.h"
#include "platform/Paths.h"
#include <QFileInfo>
#include <QStandardPaths>

namespace lomex::agentcli {

QString claudeDefaultPath() {
    return paths::home() + QStringLiteral("/.local/bin/claude");
}

QString claudeExecutable() {
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("claude"));
    if (!onPath.isEmpty()) return onPath;
    const QFileInfo info(claudeDefaultPath());
    return info.isFile() && info.isExecutable() ? info.filePath() : QString();
}

} // namespace lomex::agentcli
