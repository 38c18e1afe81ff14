#include "platform/AgentCli.h"
#include "core/Paths.h"
#include <QFileInfo>
#include <QStandardPaths>

namespace lomex::agentcli {

QString claudeDefaultPath() {
    return paths::home() + QStringLiteral("/.local/bin/claude");
}

QString agentExecutable(const QString& name) {
    const QString onPath = QStandardPaths::findExecutable(name);
    if (!onPath.isEmpty()) return onPath;
    const QFileInfo info(paths::home() + QStringLiteral("/.local/bin/") + name);
    return info.isFile() && info.isExecutable() ? info.filePath() : QString();
}

QString claudeExecutable() { return agentExecutable(QStringLiteral("claude")); }

QString codexHome() {
    const QString custom = qEnvironmentVariable("CODEX_HOME");
    if (!custom.isEmpty()) return paths::expandTilde(custom);
    return paths::home() + QStringLiteral("/.codex");
}

QStringList ownMarkers() { return {QStringLiteral("lomex-agent"), QStringLiteral("--statusline")}; }

jsonfile::EditOptions agentFileOptions(bool onlyExisting) {
    jsonfile::EditOptions options;
    options.onlyExisting = onlyExisting;
    options.backupExtension = QLatin1String(backupExtension);
    options.ownMarkers = ownMarkers();
    return options;
}

QString shellQuoted(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

} // namespace lomex::agentcli
