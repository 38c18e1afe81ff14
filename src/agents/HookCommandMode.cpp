#include "agents/HookCommandMode.h"
#include "agents/HookInstaller.h"
#include <cstdio>

namespace lomex {

int hookCommandMode(const QStringList& args) {
    const QString event = args.value(0);
    QStringList known;
    for (const auto& e : HookInstaller::events) known << QLatin1String(e.name);
    if (!known.contains(event)) {
        // A typo would otherwise print a working command for some other event.
        std::fprintf(stderr, "lomex: --hook-command needs one of the Claude Code hook events: %s\n",
                     qPrintable(known.join(QLatin1String(", "))));
        return 64;
    }
    const QString line = event == QLatin1String("PermissionRequest")
        ? HookInstaller::permissionCommand(HookInstaller::defaultPort, Agent::claude)
        : HookInstaller::command(HookInstaller::defaultPort, Agent::claude);
    const QByteArray out = line.toUtf8() + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace lomex
