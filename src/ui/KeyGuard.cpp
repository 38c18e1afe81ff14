#include "ui/KeyGuard.h"
#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace lomex {

KeyGuard::KeyGuard(QWidget* window) : QObject(window), window_(window) {
    // Keys go to the focused widget first: only an application-wide filter sees them all.
    qApp->installEventFilter(this);
}

void KeyGuard::restart() { since_.start(); }

bool KeyGuard::active() const { return since_.isValid() && since_.elapsed() < kMilliseconds; }

bool KeyGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
        if (watched == window_) restart();
        break;
    case QEvent::WindowStateChange:
        if (watched == window_ && static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized &&
            !window_->isMinimized())
            restart();
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
        if (active()) {
            auto* w = qobject_cast<QWidget*>(watched);
            if (w && w->window() == window_) {
                // Still typing: the quiet starts again. An override comes before its press and
                // is not a key of its own.
                if (event->type() != QEvent::ShortcutOverride) restart();
                // An accepted override keeps the key from reaching any shortcut too.
                if (event->type() == QEvent::ShortcutOverride) event->accept();
                return true;
            }
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lomex
