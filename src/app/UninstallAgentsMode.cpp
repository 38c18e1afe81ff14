#include "app/UninstallAgentsMode.h"
#include "agents/HookInstaller.h"
#include "core/FileIO.h"
#include "core/Settings.h"
#include "feeds/UsageMonitor.h"
#include <QMap>
#include <cstdio>

namespace lomex {

namespace {
constexpr qint64 kCompareBytes = 64 << 20;

QMap<QString, QByteArray> contents(const QStringList& files) {
    QMap<QString, QByteArray> out;
    for (const QString& file : files) out.insert(file, fileio::readRegularFile(file, kCompareBytes).value_or(QByteArray()));
    return out;
}
} // namespace

int uninstallAgentsMode(const QStringList& args) {
    if (!args.isEmpty()) {
        std::fputs("usage: lomex --uninstall-agents\n", stderr);
        return 64;
    }
    QStringList files = HookInstaller::settingsURLs();
    files << HookInstaller::Codex::hooksFile();
    if (!files.contains(UsageMonitor::bridgeSettingsFile())) files << UsageMonitor::bridgeSettingsFile();
    const auto before = contents(files);

    bool failed = false;
    auto report = [&](const char* what, const std::optional<LomexError>& error) {
        if (!error) return;
        std::fprintf(stderr, "lomex: %s: %s\n", what, qPrintable(error->message));
        failed = true;
    };
    // The status line first: it runs this program, which is about to go.
    report("the status line was not put back", UsageMonitor::removeBridge());
    report("the Claude Code hooks were not removed", HookInstaller::uninstall());
    report("the Codex hooks were not removed", HookInstaller::Codex::uninstall());
    // The switch shows what the files hold, for a Lomex installed again later.
    Settings& settings = Settings::shared();
    if (!failed && settings.boolValue(QStringLiteral("agentsEnabled")))
        report("agent monitoring is still switched on in the settings", settings.setBool(QStringLiteral("agentsEnabled"), false));

    const auto after = contents(files);
    for (const QString& file : files)
        if (before.value(file) != after.value(file)) std::printf("put back what Lomex changed in %s\n", qPrintable(file));
    return failed ? 1 : 0;
}

} // namespace lomex
