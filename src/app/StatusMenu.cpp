#include "app/StatusMenu.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "ui/Symbols.h"
#include <QMenu>
#include <QSystemTrayIcon>

namespace lomex {

namespace {
// Entries whose text the table has no key for are worded inline by language.
QString inlineText(const char* cs, const char* en) {
    return QString::fromUtf8(L10n::shared().isCzech() ? cs : en);
}
} // namespace

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
    add(inlineText("Nastavení…", "Settings…"), &onSettings);
    add(l.t(QStringLiteral("menu.setup")), &onSetup);
    add(l.t(QStringLiteral("menu.palette")), &onPalette);
    menu_->addSeparator();
    add(inlineText("Ukončit Lomex", "Quit Lomex"), &onQuit);
}

void StatusMenu::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log("no system tray on this desktop; settings open from the notch's gear button, and lomex --show drives the rest");
    }
    if (!tray_) {
        tray_ = new QSystemTrayIcon;
        tray_->setIcon(symbols::icon(QStringLiteral("rectangle.topthird.inset.filled")));
        tray_->setToolTip(QStringLiteral("Lomex"));
        tray_->setContextMenu(menu_);
    }
    tray_->show();
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
