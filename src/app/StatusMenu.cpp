#include "app/StatusMenu.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "platform/TrayColors.h"
#include "ui/Symbols.h"
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QSystemTrayIcon>

namespace lomex {

StatusMenu::StatusMenu(QObject* parent) : QObject(parent), menu_(new QMenu) {
    connect(&L10n::shared(), &L10n::languageChanged, this, &StatusMenu::rebuild);
}

StatusMenu::~StatusMenu() {
    delete tray_;
    delete menu_;
}

void StatusMenu::rebuild() {
    menu_->clear();
    const L10n& l = L10n::shared();
    auto add = [this](const QString& text, const std::function<void()>* fn) {
        QAction* a = menu_->addAction(text);
        connect(a, &QAction::triggered, this, [fn] {
            if (*fn) (*fn)();
        });
    };
    add(l.t(QStringLiteral("menu.settings")), &onSettings);
    add(l.t(QStringLiteral("menu.setup")), &onSetup);
    if (onPalette) add(l.t(QStringLiteral("menu.palette")), &onPalette);
    menu_->addSeparator();
    add(l.t(QStringLiteral("menu.quit")), &onQuit);
}

void StatusMenu::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log("no system tray on this desktop; settings open from the notch's gear button, and lomex --show drives the rest");
    }
    if (!tray_) {
        tray_ = new QSystemTrayIcon;
        tray_->setToolTip(QStringLiteral("Lomex"));
        tray_->setContextMenu(menu_);
        // Linux trays open an item's menu on a left click too.
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
        });
        // A theme switch can turn the tray from dark to light, and a tray started after us has
        // its own colours: look again now and then.
        qApp->installEventFilter(this);
        connect(menu_, &QMenu::aboutToShow, this, &StatusMenu::updateIcon);
        // A tray that announces other colours, or another tray in its place, is followed at once.
        connect(new traycolors::TrayWatch(this), &traycolors::TrayWatch::changed, this, &StatusMenu::lookSoon);
    }
    updateIcon();
    tray_->show();
    lookSoon();
}

void StatusMenu::lookSoon() {
    updateIcon();
    // The tray's background around the icon can be seen only once the tray has embedded it.
    for (int ms : {300, 1500}) QTimer::singleShot(ms, this, &StatusMenu::updateIcon);
}

bool StatusMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) updateIcon();
    return QObject::eventFilter(watched, event);
}

bool StatusMenu::available() const { return tray_ && QSystemTrayIcon::isSystemTrayAvailable(); }

QRect StatusMenu::geometry() const { return tray_ ? tray_->geometry() : QRect(); }

QColor StatusMenu::iconColor() const {
    const qreal scale = qGuiApp->primaryScreen() ? qGuiApp->primaryScreen()->devicePixelRatio() : 1.0;
    if (auto fg = traycolors::foreground(geometry(), scale)) return *fg;
    return QGuiApplication::palette().color(QPalette::WindowText);
}

void StatusMenu::updateIcon() {
    if (!tray_) return;
    shown_ = iconColor();
    tray_->setIcon(symbols::icon(QStringLiteral("rectangle.topthird.inset.filled"), shown_));
}

QStringList StatusMenu::entryTexts() const {
    QStringList out;
    for (QAction* a : menu_->actions())
        if (!a->isSeparator()) out << a->text();
    return out;
}

void StatusMenu::trigger(int index) {
    int i = 0;
    for (QAction* a : menu_->actions()) {
        if (a->isSeparator()) continue;
        if (i++ == index) {
            a->trigger();
            return;
        }
    }
}

} // namespace lomex
