#include "notch/NotchPageHost.h"
#include "core/L10n.h"
#include "ui/Symbols.h"
#include <QLabel>
#include <QVBoxLayout>

namespace lomex {

QString tabSymbol(NotchModel::Tab tab) {
    switch (tab) {
    case NotchModel::Tab::home: return QStringLiteral("house.fill");
    case NotchModel::Tab::tasks: return QStringLiteral("checklist");
    case NotchModel::Tab::agents: return QStringLiteral("sparkles");
    case NotchModel::Tab::transit: return QStringLiteral("tram.fill");
    case NotchModel::Tab::clipboard: return QStringLiteral("doc.on.clipboard.fill");
    case NotchModel::Tab::timer: return QStringLiteral("timer");
    case NotchModel::Tab::shelf: return QStringLiteral("tray.full.fill");
    case NotchModel::Tab::note: return QStringLiteral("note.text");
    }
    return {};
}

NotchPageHost::NotchPageHost(QWidget* parent) : QStackedWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void NotchPageHost::setPage(NotchModel::Tab tab, QWidget* page) {
    if (QWidget* old = pages_.value(tab)) {
        removeWidget(old);
        old->deleteLater();
    }
    pages_.insert(tab, page);
    if (page) addWidget(page);
    if (shown_ == tab) showTab(tab);
}

QWidget* NotchPageHost::page(NotchModel::Tab tab) const { return pages_.value(tab); }

void NotchPageHost::showTab(NotchModel::Tab tab) {
    shown_ = tab;
    QWidget* w = page(tab);
    if (!w) w = placeholder(tab);
    setCurrentWidget(w);
}

QWidget* NotchPageHost::placeholder(NotchModel::Tab tab) {
    if (QWidget* existing = placeholders_.value(tab)) return existing;
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("placeholder.") + NotchModel::rawName(tab));
    auto* layout = new QVBoxLayout(box);
    layout->addStretch();
    auto* icon = new QLabel(box);
    icon->setPixmap(symbols::pixmap(tabSymbol(tab), 36, QColor(255, 255, 255, 150), devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);
    auto* name = new QLabel(box);
    name->setObjectName(QStringLiteral("name"));
    name->setTextFormat(Qt::PlainText);
    name->setAlignment(Qt::AlignCenter);
    name->setText(L10n::shared().t(QStringLiteral("tab.") + NotchModel::rawName(tab)));
    QFont f = name->font();
    f.setPixelSize(15);
    f.setBold(true);
    name->setFont(f);
    name->setStyleSheet(QStringLiteral("color: rgba(255,255,255,170);"));
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addStretch();
    addWidget(box);
    placeholders_.insert(tab, box);
    return box;
}

void NotchPageHost::retranslate() {
    for (auto it = placeholders_.begin(); it != placeholders_.end(); ++it) {
        if (!it.value()) continue;
        if (auto* name = it.value()->findChild<QLabel*>(QStringLiteral("name")))
            name->setText(L10n::shared().t(QStringLiteral("tab.") + NotchModel::rawName(it.key())));
    }
}

} // namespace lomex
