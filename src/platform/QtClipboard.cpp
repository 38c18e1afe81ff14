#include "platform/QtClipboard.h"
#include "platform/X11Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>
#include <atomic>

namespace lomex {

namespace {
std::atomic<Clipboard*> installed{nullptr};
} // namespace

Clipboard* Clipboard::current() {
    Clipboard* c = installed.load();
    if (c) return c;
    static QtClipboard desktop;
    return &desktop;
}

void Clipboard::setCurrent(Clipboard* clipboard) { installed.store(clipboard); }

QtClipboard::QtClipboard() {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QObject::connect(app->clipboard(), &QClipboard::dataChanged, app, [this] { ++changes_; });
        x11_ = QGuiApplication::platformName() == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("DISPLAY");
    }
}

ClipboardContent QtClipboard::read(const ClipboardLimits& limits) const {
    if (x11_) return x11clipboard::read(limits, readBudgetMs).value_or(ClipboardContent{});
    // QClipboard belongs to the GUI thread.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) return {};
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    return data ? clipboard::withinLimits(clipboard::contentFrom(*data, limits), limits) : ClipboardContent{};
}

void QtClipboard::write(const ClipboardContent& content) {
    QGuiApplication::clipboard()->setMimeData(clipboard::mimeDataFor(content), QClipboard::Clipboard);
}

} // namespace lomex
