#include "platform/DesktopAutomation.h"
#include "core/FileIO.h"
#include <QFileInfo>
#include <atomic>
#include <pwd.h>
#include <unistd.h>

namespace lomex {

namespace {
std::atomic<DesktopAutomation*> installed{nullptr};
} // namespace

DesktopAutomation* DesktopAutomation::current()
{
    if (DesktopAutomation* a = installed.load())
        return a;
    static X11DesktopAutomation x11;
    return &x11;
}

void DesktopAutomation::setCurrent(DesktopAutomation* automation)
{
    installed.store(automation);
}

// ---- processes ----

namespace processes {

std::optional<qint64> parentOf(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    const auto stat = fileio::readRegularFile(QStringLiteral("/proc/%1/stat").arg(pid), 4096);
    if (!stat)
        return std::nullopt;
    // "pid (comm) state ppid …": comm may hold blanks and parentheses, so read after the last ')'.
    const qsizetype close = stat->lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat->mid(close + 1).trimmed().split(' ');
    if (fields.size() < 2)
        return std::nullopt;
    bool ok = false;
    const qint64 parent = fields.at(1).toLongLong(&ok);
    return ok && parent > 0 ? std::optional<qint64>(parent) : std::nullopt;
}

QList<qint64> lineage(qint64 pid, int limit)
{
    QList<qint64> out;
    std::optional<qint64> p = pid > 1 ? std::optional<qint64>(pid) : std::nullopt;
    while (p && *p > 1 && out.size() < limit && !out.contains(*p)) {
        out.append(*p);
        p = parentOf(*p);
    }
    return out;
}

QString loginShell()
{
    static const QStringList posix{QStringLiteral("sh"), QStringLiteral("bash"), QStringLiteral("zsh"),
                                   QStringLiteral("dash"), QStringLiteral("ksh"), QStringLiteral("ksh93"),
                                   QStringLiteral("mksh"), QStringLiteral("yash")};
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_shell) {
        const QString shell = QString::fromLocal8Bit(pw->pw_shell);
        const QFileInfo info(shell);
        if (info.isAbsolute() && posix.contains(info.fileName()) && info.isExecutable())
            return shell;
    }
    return QStringLiteral("/bin/bash");
}

} // namespace processes

} // namespace lomex
