#include "platform/Workspace.h"

#include <QDesktopServices>

namespace lomex {

namespace {
Workspace* g_installed = nullptr;
}

Workspace* Workspace::current() {
    if (g_installed) return g_installed;
    static DesktopWorkspace desktop;
    return &desktop;
}

void Workspace::setCurrent(Workspace* workspace) { g_installed = workspace; }

bool DesktopWorkspace::open(const QUrl& url) { return QDesktopServices::openUrl(url); }

} // namespace lomex
