#include "core/Paths.h"
#include <QDir>
#include <QFile>
#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lomex::paths {

namespace {
QString env(const char* name) { return qEnvironmentVariable(name); }

QString absoluteOr(const QString& value, const QString& fallback) {
    // XDG says relative values are invalid and must be ignored.
    return (!value.isEmpty() && QDir::isAbsolutePath(value)) ? value : fallback;
}
} // namespace

QString home() {
    QString h = env("HOME");
    if (!h.isEmpty()) return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return QString::fromLocal8Bit(pw->pw_dir);
    return QStringLiteral("/");
}

QString configHome() { return absoluteOr(env("XDG_CONFIG_HOME"), home() + "/.config"); }
QString dataHome() { return absoluteOr(env("XDG_DATA_HOME"), home() + "/.local/share"); }

namespace {
// Made private when missing; used only while it is a folder (not a link) of ours that no one
// else may enter: anyone may create a name in a shared folder such as /tmp first.
bool isPrivateFolderOfOurs(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
        && (st.st_mode & 0777) == 0700;
}
} // namespace

QString runtimeDir() {
    QString r = env("XDG_RUNTIME_DIR");
    if (!r.isEmpty() && QDir::isAbsolutePath(r)) return r;
    const QString tmp = absoluteOr(env("TMPDIR"), QStringLiteral("/tmp"));
    const QString shared = tmp + QStringLiteral("/lomex-%1").arg(::getuid());
    if (isPrivateFolderOfOurs(shared)) return shared;
    // Taken by someone else: a folder below our own cache folder, which others cannot reach.
    const QString cache = absoluteOr(env("XDG_CACHE_HOME"), home() + "/.cache") + "/Lomex";
    if (ensureDir(cache) && isPrivateFolderOfOurs(cache + "/run")) return cache + "/run";
    return {};
}

QString configDir() { return configHome() + "/Lomex"; }
QString dataDir() { return dataHome() + "/Lomex"; }
QString settingsFile() { return configDir() + "/settings.json"; }

bool isReadableDir(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    return ::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(name.constData(), R_OK | X_OK) == 0;
}

QString folderFromEnv(const char* variable, const QString& fallback) {
    const QString value = env(variable);
    return value.isEmpty() ? fallback : expandTilde(value);
}

bool ensureDir(const QString& path) {
    QDir dir(path);
    if (dir.exists()) return true;
    // Make parents normally, the leaf private.
    QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) return false;
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) return false;
    return true;
}

QString expandTilde(const QString& path) {
    if (path == "~") return home();
    if (path.startsWith("~/")) return home() + path.mid(1);
    return path;
}

} // namespace lomex::paths
