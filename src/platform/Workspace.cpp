#include "platform/Workspace.h"
#include "core/Log.h"
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
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

QIcon DesktopWorkspace::icon(const QString& path) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QIcon themed = QIcon::fromTheme(type.iconName());
    if (themed.isNull()) themed = QIcon::fromTheme(type.genericIconName());
    if (!themed.isNull()) return themed;
    static QFileIconProvider provider;
    return provider.icon(QFileInfo(path));
}

} // namespace lomex
