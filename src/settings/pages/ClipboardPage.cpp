#include "settings/pages/ClipboardPage.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "device/ClipboardStore.h"
#include "platform/DesktopEntries.h"
#include "platform/PasteKeys.h"
#include "platform/RunningApps.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "ui/Symbols.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QToolButton>
#include <algorithm>

namespace lomex {

namespace {

const QString kExcluded = QStringLiteral("clipExcluded");

QString t(const char* key) { return L10n::shared().t(QString::fromLatin1(key)); }

QString language() { return L10n::shared().isCzech() ? QStringLiteral("cs") : QStringLiteral("en"); }

// The desktop id Lomex itself runs under.
QString ownDesktopID() {
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QString() : name + QStringLiteral(".desktop");
}

// The icon at a size: drawn down from the theme's largest raster when it has one (a small
// raster is often a different, sketchier drawing), else rendered at that size.
QPixmap themedPixmap(const QIcon& icon, int size, qreal ratio) {
    if (icon.isNull()) return {};
    const QList<QSize> sizes = icon.availableSizes();
    const auto largest = std::max_element(sizes.begin(), sizes.end(),
                                          [](QSize a, QSize b) { return a.width() * a.height() < b.width() * b.height(); });
    const int pixels = qRound(size * ratio);
    if (largest == sizes.end() || largest->width() <= pixels) return icon.pixmap(QSize(size, size), ratio);
    QPixmap big = icon.pixmap(*largest, 1.0);
    if (big.isNull()) return {};
    QPixmap out = big.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    out.setDevicePixelRatio(ratio);
    return out;
}

QWidget* appIcon(const QString& desktopID, QWidget* parent) {
    auto* icon = new QLabel(parent);
    icon->setFixedSize(22, 22);
    icon->setAlignment(Qt::AlignCenter);
    const auto entry = desktopentry::find(desktopID, language());
    const QPixmap drawn = themedPixmap(entry ? desktopentry::icon(*entry) : QIcon(), 22, parent->devicePixelRatioF());
    if (ClipboardPage::iconCoverage(drawn) >= ClipboardPage::minIconCoverage) {
        icon->setPixmap(drawn);
    } else {
        // Not installed, no icon, or one the theme cannot draw (XTerm's "mini.xterm"): the
        // generic application symbol at its natural size.
        icon->setPixmap(symbols::pixmap(QStringLiteral("app"), 16, style::secondary(parent), parent->devicePixelRatioF()));
    }
    return icon;
}

QPushButton* textButton(const QString& text, QWidget* parent) {
    return blockButton(text, ButtonKind::bordered, {}, parent);
}

} // namespace

ClipboardPage::ClipboardPage(ClipboardStore* store, PasteKeys* keys, RunningApps* apps, QWidget* parent)
    : SettingsPage(parent),
      store_(store),
      keys_(keys ? keys : PasteKeys::current()),
      apps_(apps ? apps : RunningApps::current()) {
    axTrusted_ = keys_->trusted();

    auto* main = add(new Card);
    main->add(new ToggleRow(t("settings.clipEnabled"), t("settings.clip.detail"),
                            settingBool(QStringLiteral("clipboardEnabled"), true)));
    // Direct paste acts only from a clipboard view, which this version lacks: the switch keeps
    // what is stored, and the XTEST row under it only states the fact, promising nothing.
    auto* paste = main->add(new ToggleRow(t("settings.pasteDirectly"), {}, settingBool(QStringLiteral("pasteDirectly"), true)));
    paste->toggle()->setObjectName(QStringLiteral("pasteDirectly"));
    paste->markNotInVersion(t("settings.notInVersion"));
    axRow_ = main->add(new Row(t("setup.ax.title")));
    showTrust();
    whenSettingChanges(this, QStringLiteral("pasteDirectly"), [this] { showTrust(); });

    excludedCard_ = add(new Card(t("settings.excluded")));
    rebuildExcluded();
    // The store announces each edit of the list (and each change of the history).
    if (store_) connect(store_, &ClipboardStore::changed, this, &ClipboardPage::rebuildExcluded);

    auto* clearCard = add(new Card);
    clear_ = textButton(t("clip.delete"), this);
    clear_->setObjectName(QStringLiteral("clip.delete"));
    // Destructive: the block button's look with red text.
    clear_->setStyleSheet(clear_->styleSheet() +
                          QStringLiteral(" QPushButton { color: %1; }").arg(style::named(style::Named::red, this).name()));
    connect(clear_, &QPushButton::clicked, this, [this] {
        if (store_) store_->clearUnpinned();
    });
    clearCard->add(new Row(t("settings.clearClips"), {}, clear_));
}

void ClipboardPage::showEvent(QShowEvent* event) {
    // Each time the page comes on screen.
    checkTrust();
    SettingsPage::showEvent(event);
}

void ClipboardPage::checkTrust() {
    const bool trusted = keys_->trusted();
    if (trusted == axTrusted_) return;
    axTrusted_ = trusted;
    showTrust();
}

void ClipboardPage::showTrust() {
    axRow_->setVisible(Settings::shared().boolValue(QStringLiteral("pasteDirectly"), true));
    axRow_->setTexts(t("setup.ax.title"), axTrusted_ ? QString() : t("setup.ax.unavailable"));
    if (axTrusted_) {
        axRow_->setTrailing(new StatusBadge(true, t("settings.axOK")));
        return;
    }
    // Nothing here can grant it, so no button: the detail says what the session lacks.
    auto* missing = plainLabel(t("settings.axMissing"), style::callout, style::secondary(axRow_), axRow_);
    missing->setObjectName(QStringLiteral("settings.axMissing"));
    axRow_->setTrailing(missing);
}

double ClipboardPage::iconCoverage(const QPixmap& pixmap) {
    if (pixmap.isNull()) return 0;
    if (!pixmap.hasAlphaChannel()) return 1;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    qint64 opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(line[x]) >= 128) ++opaque;
    }
    return double(opaque) / (qint64(image.width()) * image.height());
}

QStringList ClipboardPage::excluded() {
    return Settings::shared().stringList(kExcluded).value_or(QStringList{});
}

QString ClipboardPage::displayName(const QString& desktopID) {
    const auto entry = desktopentry::find(desktopID, language());
    return entry && !entry->name.isEmpty() ? entry->name : desktopID;
}

QStringList ClipboardPage::runningApps() const {
    const QStringList listed = excluded();
    const QString own = ownDesktopID();
    const qint64 ownPid = QCoreApplication::applicationPid();
    QSet<QString> seen;
    QList<std::pair<QString, QString>> named; // name, id
    for (const RunningApplication& app : apps_->running()) {
        const QString& id = app.desktopID;
        if (app.pid == ownPid || id == own || listed.contains(id) || seen.contains(id)) continue;
        // Only applications with an installed entry: a bare window class is no application id.
        const auto entry = desktopentry::find(id, language());
        if (!entry) continue;
        seen.insert(id);
        named.append({entry->name.isEmpty() ? id : entry->name, id});
    }
    // Plain string order, not localized.
    std::sort(named.begin(), named.end());
    QStringList out;
    for (const auto& [name, id] : named) out << id;
    return out;
}

void ClipboardPage::addExcluded(const QString& desktopID) {
    QStringList list = excluded();
    list.append(desktopID);
    Settings::shared().setStringList(kExcluded, list);
    if (store_) store_->notifyChanged();
}

void ClipboardPage::removeExcluded(const QString& desktopID) {
    QStringList list = excluded();
    list.removeAll(desktopID);
    Settings::shared().setStringList(kExcluded, list);
    if (store_) store_->notifyChanged();
}

void ClipboardPage::rebuildExcluded() {
    // Rows are made anew from the stored list; the button that asked is deleted after its click.
    excludedCard_->box()->clearRows();
    for (const QString& id : excluded()) {
        auto* line = new QWidget;
        line->setObjectName(id);
        auto* h = new QHBoxLayout(line);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(10);
        h->addWidget(appIcon(id, line));
        h->addWidget(plainLabel(displayName(id), style::body, style::primary(line), line));
        h->addStretch(1);
        auto* remove = new QToolButton(line);
        remove->setObjectName(QStringLiteral("remove"));
        remove->setAutoRaise(true);
        remove->setCursor(Qt::PointingHandCursor);
        remove->setIcon(symbols::icon(QStringLiteral("minus.circle.fill"), style::secondary(line)));
        remove->setAccessibleName(displayName(id));
        connect(remove, &QToolButton::clicked, this, [this, id] { removeExcluded(id); });
        h->addWidget(remove);
        excludedCard_->add(line);
    }
    auto* addRow = new QWidget;
    auto* h = new QHBoxLayout(addRow);
    h->setContentsMargins(0, 0, 0, 0);
    addButton_ = new QToolButton(addRow);
    addButton_->setObjectName(QStringLiteral("settings.addApp"));
    addButton_->setText(t("settings.addApp"));
    addButton_->setIcon(symbols::icon(QStringLiteral("plus"), style::accent(addRow)));
    addButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addButton_->setAutoRaise(true);
    addButton_->setPopupMode(QToolButton::InstantPopup);
    addButton_->setStyleSheet(QStringLiteral("QToolButton { color: %1; } QToolButton::menu-indicator { image: none; }")
                                  .arg(style::accent(addRow).name()));
    auto* menu = new QMenu(addButton_);
    // Built each time it opens, from the applications running at that moment.
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        for (const QString& id : runningApps()) {
            QAction* a = menu->addAction(displayName(id));
            if (const auto entry = desktopentry::find(id, language())) a->setIcon(desktopentry::icon(*entry));
            a->setData(id);
            connect(a, &QAction::triggered, this, [this, id] { addExcluded(id); });
        }
        // An empty menu would not open at all, and the button would seem dead.
        if (menu->isEmpty()) menu->addAction(t("settings.addApp.none"))->setEnabled(false);
    });
    addButton_->setMenu(menu);
    h->addWidget(addButton_);
    h->addStretch(1);
    excludedCard_->add(addRow);
}

} // namespace lomex
