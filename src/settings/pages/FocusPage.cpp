#include "settings/pages/FocusPage.h"
#include "core/L10n.h"
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
    lengths->add(new Row(l.t(QStringLiteral("settings.work")), {},
                         new Stepper(1, 120, unit, settingInt(QStringLiteral("workMinutes"), 25))));
    lengths->add(new Row(l.t(QStringLiteral("settings.rest")), {},
                         new Stepper(1, 60, unit, settingInt(QStringLiteral("breakMinutes"), 5))));
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

ShortcutsPage::ShortcutsPage(QWidget* parent) : SettingsPage(parent) {
    L10n& l = L10n::shared();
    auto* toggle = add(new Card);
    toggle->add(new ToggleRow(l.t(QStringLiteral("settings.hotkeysEnabled.short")), l.t(QStringLiteral("settings.restartHint")),
                              settingBool(QStringLiteral("hotkeysEnabled"), true)));
    // The keys the app really grabs on X11.
    auto* keys = add(new Card);
    keys->add(keyRow(l.t(QStringLiteral("menu.palette")), QStringLiteral("Super + Alt + K")));
    keys->add(keyRow(l.t(QStringLiteral("tab.clipboard")), QStringLiteral("Super + Alt + V")));
    keys->add(keyRow(l.t(QStringLiteral("keys.close")), QStringLiteral("Esc")));
    keys->add(keyRow(l.t(QStringLiteral("keys.multiselect")), l.t(QStringLiteral("keys.cmdClick"))));
}

} // namespace lomex
