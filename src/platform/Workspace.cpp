#include "platform/Workspace.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>
#include <atomic>

namespace lomex {

namespace {
std::atomic<Workspace*> installed{nullptr};

Workspace* desktopWorkspace() {
    static DesktopWorkspace workspace;
    return &workspace;
}

// A drawn page shape, for themes that name no icon for the type.
QIcon genericFileIcon() {
    QPixmap pix(64, 64);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(200, 200, 200), 3));
    p.setBrush(QColor(245, 245, 245));
    p.drawRoundedRect(QRectF(12, 4, 40, 56), 4, 4);
    return QIcon(pix);
}
} // namespace

Workspace* Workspace::current() {
    Workspace* w = installed.load();
    return w ? w : desktopWorkspace();
}

void Workspace::setCurrent(Workspace* workspace) { installed.store(workspace); }

bool DesktopWorkspace::open(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool DesktopWorkspace::reveal(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    auto openFolder = [folder] { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return openFolder();
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Asynchronous: a slow file manager must not freeze the notch; a refusal opens the folder.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [openFolder](QDBusPendingCallWatcher* w) {
        if (w->isError()) openFolder();
        w->deleteLater();
    });
    return true;
}

QIcon DesktopWorkspace::icon(const QString& path) {
    const QFileInfo info(path);
    if (info.exists()) {
        static QFileIconProvider provider;
        const QIcon fromProvider = provider.icon(info);
        if (!fromProvider.isNull() && !fromProvider.availableSizes().isEmpty()) return fromProvider;
    }
    // Gone or unknown to the provider: the type the name suggests.
    static QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    QIcon themed = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    if (!themed.isNull()) return themed;
    return genericFileIcon();
}

QIcon FakeWorkspace::icon(const QString& path) {
    iconsAsked.append(path);
    return genericFileIcon();
}

} // namespace lomex
