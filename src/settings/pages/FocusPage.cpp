#include "settings/pages/FocusPage.h"
#include "core/L10n.h"
#include "core/Services.h"
#include "notch/NotchModel.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include <QHBoxLayout>
#include <QPainter>

namespace lomex {

FocusPage::FocusPage(QWidget* parent) : SettingsPage(parent) {
    L10n& l = L10n::shared();
    auto* lengths = add(new Card);
    const QString unit = QStringLiteral("min");
    auto* work = new Stepper(keys::workMinutes.min, keys::workMinutes.max, unit, setting(keys::workMinutes));
    work->setObjectName(QStringLiteral("workMinutes"));
    lengths->add(new Row(l.t(QStringLiteral("settings.work")), {}, work));
    auto* rest = new Stepper(keys::breakMinutes.min, keys::breakMinutes.max, unit, setting(keys::breakMinutes));
    rest->setObjectName(QStringLiteral("breakMinutes"));
    lengths->add(new Row(l.t(QStringLiteral("settings.rest")), {}, rest));
    // No timer tab drives the focus timer in this version: the lengths keep what is stored.
    lengths->markNotInVersion(l.t(QStringLiteral("settings.notInVersion")));
    // The start and end shortcuts run macOS Shortcuts, which Linux has no counterpart of: the
    // card with their names is left out rather than offering fields that do nothing.
}

namespace {

// The keys of one binding in a small rounded key cap.
class KeyCaps : public QWidget {
public:
    KeyCaps(QString keys, QWidget* parent) : QWidget(parent), keys_(std::move(keys)) {
        QFont f = style::font(style::callout, QFont::DemiBold);
        f.setFamilies({QStringLiteral("DejaVu Sans"), f.family()});
        setFont(f);
        setObjectName(QStringLiteral("keys"));
        setAccessibleName(keys_);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        return {fontMetrics().horizontalAdvance(keys_) + 16, fontMetrics().height() + 6};
    }
    QString keys() const { return keys_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(QPen(style::primary(this, 0.15), 1));
        p.setBrush(style::primary(this, 0.08));
        p.drawRoundedRect(r, 6, 6);
        p.setPen(style::primary(this));
        p.drawText(rect(), Qt::AlignCenter, keys_);
    }

private:
    QString keys_;
};

QWidget* keyRow(const QString& label, const QString& keys) {
    auto* row = new QWidget;
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(plainLabel(label, style::body, style::primary(row), row));
    h->addStretch(1);
    h->addWidget(new KeyCaps(keys, row));
    return row;
}

} // namespace

ShortcutsPage::ShortcutsPage(const Services& services, QWidget* parent) : SettingsPage(parent) {
    L10n& l = L10n::shared();
    // A global key is grabbed only for a view this version has (the same rule as the app's).
    const bool palette = services.palette != nullptr;
    const bool clipboard = services.model && services.model->hasPage(NotchModel::Tab::clipboard);
    auto* toggle = add(new Card);
    auto* hotkeys = toggle->add(new ToggleRow(l.t(QStringLiteral("settings.hotkeysEnabled.short")),
                                              l.t(QStringLiteral("settings.restartHint")),
                                              setting(keys::hotkeysEnabled)));
    hotkeys->toggle()->setObjectName(QStringLiteral("hotkeysEnabled"));
    if (!palette && !clipboard) hotkeys->markNotInVersion(l.t(QStringLiteral("settings.notInVersion")));
    // The keys the app really grabs on X11.
    auto* keys = add(new Card);
    if (palette) keys->add(keyRow(l.t(QStringLiteral("menu.palette")), QStringLiteral("Super + Alt + K")));
    if (clipboard) keys->add(keyRow(l.t(QStringLiteral("tab.clipboard")), QStringLiteral("Super + Alt + V")));
    // Esc closes the notch; the palette it also closes elsewhere is not in this version.
    keys->add(keyRow(l.t(palette ? QStringLiteral("keys.close") : QStringLiteral("keys.closeNotch")), QStringLiteral("Esc")));
}

} // namespace lomex
