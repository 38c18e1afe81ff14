#include "platform/LoginItem.h"
#include "platform/DesktopEntries.h"
#include "core/FileIO.h"
#include "core/Log.h"
#include "core/Paths.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

namespace lomex {

namespace {
LoginItem* g_override = nullptr;
constexpr qint64 kMaxEntryBytes = 64 * 1024;

// Characters that make an Exec argument need quotes.
bool needsQuotes(const QString& arg) {
    if (arg.isEmpty()) return true;
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    for (QChar c : arg)
        if (reserved.contains(c)) return true;
    return false;
}

// Escapes of a string value: backslash, and the control characters a line cannot hold.
QString escapeString(const QString& s) {
    QString out;
    for (QChar c : s) {
        if (c == QLatin1Char('\\')) out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n')) out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t')) out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r')) out += QStringLiteral("\\r");
        else out += c;
    }
    return out;
}

} // namespace

LoginItem* LoginItem::current() {
    static XdgAutostart autostart;
    return g_override ? g_override : &autostart;
}

void LoginItem::setCurrent(LoginItem* item) { g_override = item; }

namespace desktopentry {

QString execLine(const QStringList& arguments) {
    QStringList parts;
    for (QString arg : arguments) {
        arg.replace(QLatin1Char('%'), QStringLiteral("%%"));
        if (needsQuotes(arg)) {
            QString quoted;
            for (QChar c : arg) {
                if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                    c == QLatin1Char('\\'))
                    quoted += QLatin1Char('\\');
                quoted += c;
            }
            arg = QLatin1Char('"') + quoted + QLatin1Char('"');
        }
        parts.append(arg);
    }
    return escapeString(parts.join(QLatin1Char(' ')));
}

QStringList execArguments(const QString& value) {
    const QString s = desktopentry::unescape(value);
    QStringList args;
    QString current;
    bool inArg = false, quoted = false;
    for (int i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < s.size()) current += s[++i];
            else if (c == QLatin1Char('"')) quoted = false;
            else current += c;
        } else if (c == QLatin1Char('"')) {
            quoted = inArg = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArg) args.append(current);
            current.clear();
            inArg = false;
        } else if (c == QLatin1Char('%') && i + 1 < s.size()) {
            // "%%" is a percent sign; other field codes expand to nothing here.
            if (s[++i] == QLatin1Char('%')) current += QLatin1Char('%');
            inArg = true;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg) args.append(current);
    return args;
}

} // namespace desktopentry

XdgAutostart::XdgAutostart(QString program) : program_(std::move(program)) {}

QString XdgAutostart::program() const {
    return program_.isEmpty() ? QCoreApplication::applicationFilePath() : program_;
}

QString LoginItem::buildFolderOf(const QString& program) {
    if (program.isEmpty()) return {};
    const QString folder = QFileInfo(program).absolutePath();
    return QFileInfo::exists(folder + QStringLiteral("/CMakeCache.txt")) ? folder : QString();
}

bool LoginItem::isLeftBehind(const QString& program) {
    if (program.isEmpty()) return false;
    // A name without a folder is found the way the session finds it.
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    return path.isEmpty() || !QFileInfo::exists(path) || !buildFolderOf(path).isEmpty();
}

QString XdgAutostart::buildFolder() const { return buildFolderOf(program()); }

namespace {
// Which argument of an Exec line is the program it runs: the first, or the one after `env`
// with its options and assignments. -1 when that cannot be told (env -S splits a string of its
// own): such an entry is the user's.
int programArgument(const QStringList& args) {
    if (args.isEmpty()) return -1;
    if (QFileInfo(args.first()).fileName() != QLatin1String("env")) return 0;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--")) return i + 1 < args.size() ? i + 1 : -1;
        if (a == QLatin1String("-u") || a == QLatin1String("--unset") || a == QLatin1String("-C") ||
            a == QLatin1String("--chdir")) {
            ++i; // their value
            continue;
        }
        if (a.startsWith(QLatin1String("-S")) || a.startsWith(QLatin1String("--split-string"))) return -1;
        if (a.startsWith(QLatin1Char('-')) || a.contains(QLatin1Char('='))) continue;
        return i;
    }
    return -1;
}

// The entry with the Exec value of its [Desktop Entry] group replaced; every other byte stays.
QByteArray withExec(const QByteArray& content, const QString& exec) {
    QList<QByteArray> lines = content.split('\n');
    bool inEntry = false;
    for (QByteArray& line : lines) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[')) {
            inEntry = trimmed == "[Desktop Entry]";
            continue;
        }
        const int eq = line.indexOf('=');
        if (!inEntry || eq < 0 || line.left(eq).trimmed() != "Exec") continue;
        line = "Exec=" + exec.toUtf8() + (line.endsWith('\r') ? "\r" : "");
        break;
    }
    return lines.join('\n');
}
} // namespace

void XdgAutostart::refresh() {
    if (status() != Status::enabled || !buildFolder().isEmpty()) return;
    const auto content = fileio::readRegularFile(entryPath(), kMaxEntryBytes);
    if (!content) return;
    QStringList args = desktopentry::execArguments(desktopentry::readEntry(*content).value(QStringLiteral("Exec")));
    const int at = programArgument(args);
    if (at < 0) return;
    const QString started = args.at(at);
    // A wrapper, a shell line or an installed program is the user's choice, kept as written.
    if (started == program() || !isLeftBehind(started)) return;
    // Only the program changes: the user's variables, arguments and other keys stay.
    args[at] = program();
    fileio::WriteOptions options;
    options.newFileMode = 0644;
    if (auto error = fileio::writeAtomically(entryPath(), withExec(*content, desktopentry::execLine(args)), options))
        log(QStringLiteral("login entry not updated: ") + *error);
    else
        log(QStringLiteral("the login entry started %1, which is gone or a build's; it now starts %2").arg(started, program()));
}

QString XdgAutostart::entryPath() { return paths::configHome() + QStringLiteral("/autostart/lomex.desktop"); }

LoginItem::Status XdgAutostart::status() const {
    const auto content = fileio::readRegularFile(entryPath(), kMaxEntryBytes);
    if (!content) return Status::notRegistered;
    const auto values = desktopentry::readEntry(*content);
    if (values.value(QStringLiteral("Hidden")) == QLatin1String("true")) return Status::notRegistered;
    if (values.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false"))
        return Status::notRegistered;
    if (desktopentry::execArguments(values.value(QStringLiteral("Exec"))).isEmpty()) return Status::notRegistered;
    return Status::enabled;
}

std::optional<QString> XdgAutostart::registerItem() {
    const QString program = this->program();
    if (program.isEmpty()) return QStringLiteral("the path of the running program is not known");
    const QString dir = QFileInfo(entryPath()).absolutePath();
    if (!paths::ensureDir(dir)) return dir + QStringLiteral(": cannot create the folder");
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Lomex\n"
                                         "Comment=Notch panel for coding agents, transit and meetings\n"
                                         "Exec=%1\n"
                                         "Icon=cz.lomex.Lomex\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(desktopentry::execLine({program}));
    fileio::WriteOptions options;
    options.newFileMode = 0644;
    return fileio::writeAtomically(entryPath(), entry.toUtf8(), options);
}

std::optional<QString> XdgAutostart::unregisterItem() {
    QFile file(entryPath());
    if (!file.exists() && !QFileInfo(entryPath()).isSymLink()) return std::nullopt;
    if (!file.remove()) return entryPath() + QStringLiteral(": ") + file.errorString();
    return std::nullopt;
}

} // namespace lomex
