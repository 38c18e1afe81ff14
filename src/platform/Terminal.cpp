#include "platform/Terminal.h"
#include "core/Log.h"
#include <QProcess>
#include <QStandardPaths>

namespace lomex {

namespace {
Terminal* g_current = nullptr;
} // namespace

Terminal* Terminal::current() {
    static DesktopTerminal desktop;
    return g_current ? g_current : &desktop;
}

void Terminal::setCurrent(Terminal* terminal) { g_current = terminal; }

const QList<DesktopTerminal::Candidate>& DesktopTerminal::candidates() {
    // Debian's alternative first; then each terminal with the option after which it runs a
    // program with its own arguments.
    static const QList<Candidate> list{
        {QStringLiteral("x-terminal-emulator"), {QStringLiteral("-e")}},
        {QStringLiteral("gnome-terminal"), {QStringLiteral("--")}},
        {QStringLiteral("konsole"), {QStringLiteral("-e")}},
        {QStringLiteral("xfce4-terminal"), {QStringLiteral("-x")}},
        {QStringLiteral("kitty"), {}},
        {QStringLiteral("alacritty"), {QStringLiteral("-e")}},
        {QStringLiteral("foot"), {}},
        {QStringLiteral("tilix"), {QStringLiteral("-e")}},
        {QStringLiteral("xterm"), {QStringLiteral("-e")}},
    };
    return list;
}

bool DesktopTerminal::openScript(const QString& scriptPath) {
    for (const Candidate& c : candidates()) {
        const QString program = QStandardPaths::findExecutable(c.program);
        if (program.isEmpty()) continue;
        if (QProcess::startDetached(program, c.argsBeforeScript + QStringList{scriptPath})) return true;
    }
    log(QStringLiteral("no terminal found to open ") + scriptPath);
    return false;
}

} // namespace lomex
