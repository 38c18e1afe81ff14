#include "agents/HookCommandMode.h"
#include "agents/HookInstaller.h"
#include <cstdio>

namespace lomex {

int hookCommandMode(const QStringList& args) {
    const QString event = args.value(0);
    const QString line = event == QLatin1String("PermissionRequest")
        ? HookInstaller::permissionCommand(HookInstaller::defaultPort, Agent::claude)
        : HookInstaller::command(HookInstaller::defaultPort, Agent::claude);
    const QByteArray out = line.toUtf8() + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace lomex
