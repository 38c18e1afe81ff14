#include "agents/HookCommandMode.h"
#include "agents/HookInstaller.h"
#include <cstdio>

namespace lomex {

int hookCommandMode(const QStringList& args) {
    constexpr quint16 port = 7841;
    const QString event = args.value(0);
    const QString line = event == QLatin1String("PermissionRequest")
        ? HookInstaller::permissionCommand(port, Agent::claude)
        : HookInstaller::command(port, Agent::claude);
    const QByteArray out = line.toUtf8() + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace lomex
