#include "platform/Workspace.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "platform/RunningApps.h"
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>

namespace lomex {

namespace {
Workspace* g_override = nullptr;
// How long the file manager may take to answer before we fall back to opening the folder.
constexpr int kRevealTimeoutMs = 1500;
} // namespace

Workspace* Workspace::current() {
    static DesktopWorkspace desktop;
    return g_override ? g_override : &desktop;
}

void Workspace::setCurrent(Workspace* workspace) { g_override = workspace; }

bool DesktopWorkspace::open(const QUrl& url) {
    if (!url.isValid() || url.isEmpty()) return false;
    return QDesktopServices::openUrl(url);
}

bool DesktopWorkspace::reveal(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
    const QDBusMessage answer = QDBusConnection::sessionBus().call(call, QDBus::Block, kRevealTimeoutMs);
    if (answer.type() == QDBusMessage::ReplyMessage) return true;
    log("no file manager answered on D-Bus (" + answer.errorMessage() + "); opening the folder");
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

namespace {

// The theme a GTK desktop names in its settings file, if any.
QString gtkIconTheme(const QString& settingsFile) {
    QFile f(settingsFile);
    if (!f.open(QIODevice::ReadOnly)) return {};
    for (const QByteArray& raw : f.read(64 * 1024).split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!line.startsWith(QLatin1String("gtk-icon-theme-name"))) continue;
        QString value = line.section(QLatin1Char('='), 1).trimmed();
        value.remove(QLatin1Char('"'));
        return value;
    }
    return {};
}

// Outside a desktop session Qt knows no icon theme but the bare "hicolor", which has no
// file-type icons, so every file would get the same generic page. Then use the theme GTK is
// set to, or a common one that is installed, from the usual icon folders.
void useInstalledIconTheme() {
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor")) return;
    QStringList bases{paths::home() + QStringLiteral("/.icons")};
    for (const QString& dir : paths::dataDirs()) bases << dir + QStringLiteral("/icons");
    QStringList searchPaths = QIcon::themeSearchPaths();
    for (const QString& base : std::as_const(bases))
        if (!searchPaths.contains(base) && QFileInfo(base).isDir()) searchPaths << base;
    QIcon::setThemeSearchPaths(searchPaths);
    const QStringList wanted{gtkIconTheme(paths::configHome() + QStringLiteral("/gtk-3.0/settings.ini")),
                             gtkIconTheme(QStringLiteral("/etc/gtk-3.0/settings.ini")),
                             QStringLiteral("Adwaita"), QStringLiteral("breeze"), QStringLiteral("Papirus"),
                             QStringLiteral("elementary"), QStringLiteral("gnome")};
    for (const QString& name : wanted) {
        if (name.isEmpty() || name.contains(QLatin1Char('/'))) continue;
        for (const QString& base : std::as_const(bases)) {
            if (QFileInfo(base + QLatin1Char('/') + name + QStringLiteral("/index.theme")).isFile()) {
                QIcon::setThemeName(name);
                return;
            }
        }
    }
}

} // namespace

QIcon DesktopWorkspace::icon(const QString& path) {
    static const bool themeChosen = (useInstalledIconTheme(), true);
    Q_UNUSED(themeChosen);
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QIcon themed = QIcon::fromTheme(type.iconName());
    if (themed.isNull()) themed = QIcon::fromTheme(type.genericIconName());
    if (!themed.isNull()) return themed;
    static QFileIconProvider provider;
    return provider.icon(QFileInfo(path));
}

} // namespace lomex
