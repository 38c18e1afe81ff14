#include "settings/pages/GeneralPage.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "platform/LoginItem.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "ui/Accessibility.h"
#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

namespace lomex {

namespace {

// One language choice: a flag over a name, the whole rounded rectangle clickable.
class LanguageTile : public QAbstractButton {
public:
    LanguageTile(AppLanguage language, QString flag, QString name, QWidget* parent)
        : QAbstractButton(parent), language_(language), flag_(std::move(flag)) {
        setText(std::move(name));
        setAccessibleName(text());
        setCheckable(true);
        // One of a set: reported as a radio button, and the chosen one cannot be unchecked.
        setAutoExclusive(true);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(12 + 36 + 6 + 18 + 12);
    }
    AppLanguage language() const { return language_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const bool on = isChecked();
        QColor fill = on ? style::accent(this) : style::primary(this, 0.03);
        if (on) fill.setAlphaF(0.15f);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        p.setBrush(fill);
        p.setPen(on ? QPen(style::accent(this), 2) : QPen(style::primary(this, 0.08), 1));
        p.drawRoundedRect(r, 10, 10);
        if (style::showsFocusRing(this)) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(style::accent(this), 1.5, Qt::DashLine));
            p.drawRoundedRect(r.adjusted(3, 3, -3, -3), 8, 8);
        }
        p.setPen(style::primary(this));
        p.setFont(style::font(28));
        p.drawText(QRectF(0, 12, width(), 36), Qt::AlignCenter, flag_);
        p.setFont(style::font(style::callout, on ? QFont::DemiBold : QFont::Normal));
        p.drawText(QRectF(0, 12 + 36 + 6, width(), 18), Qt::AlignCenter, text());
    }

private:
    AppLanguage language_;
    QString flag_;
};

} // namespace

double GeneralPage::snapHoverDelay(double seconds) {
    const double clamped = std::clamp(seconds, 0.0, 1.0);
    return std::round(clamped * 20) / 20; // halves away from zero
}

QString GeneralPage::hoverDelayText(double seconds) {
    return QString::asprintf("%.2f s", seconds);
}

GeneralPage::GeneralPage(QWidget* parent) : SettingsPage(parent) {
    L10n& l = L10n::shared();

    auto* languages = add(new Card(l.t(QStringLiteral("settings.language"))));
    auto* tiles = new a11y::Group;
    tiles->setAccessibleName(l.t(QStringLiteral("settings.language")));
    auto* tileRow = new QHBoxLayout(tiles);
    tileRow->setContentsMargins(0, 0, 0, 0);
    tileRow->setSpacing(10);
    const struct {
        AppLanguage language;
        const char* flag;
        QString name;
    } choices[] = {
        {AppLanguage::system, "\U0001F5A5\uFE0F", l.t(QStringLiteral("settings.lang.system"))},
        {AppLanguage::cs, "\U0001F1E8\U0001F1FF", QStringLiteral("Čeština")},
        {AppLanguage::en, "\U0001F1EC\U0001F1E7", QStringLiteral("English")},
    };
    QList<QAbstractButton*> set;
    for (const auto& c : choices) {
        auto* tile = new LanguageTile(c.language, QString::fromUtf8(c.flag), c.name, tiles);
        set << tile;
        tile->setChecked(l.language() == c.language);
        tileRow->addWidget(tile, 1);
        // On toggled, not clicked: assistive technology checks a tile without a click.
        connect(tile, &QAbstractButton::toggled, this, [language = c.language](bool on) {
            if (on) L10n::shared().setLanguage(language);
        });
    }
    a11y::tabStopOnChecked(set);
    languages->add(tiles);

    auto* behaviour = add(new Card);
    // The login item is asked each time the page is made; after every change the switch shows
    // what the system really holds, so a refused change simply puts it back.
    // Run from a build folder, the entry would start that build; say so where it is switched.
    const QString buildFolder = LoginItem::current()->buildFolder();
    behaviour->add(new ToggleRow(l.t(QStringLiteral("settings.launchAtLogin")),
                                 buildFolder.isEmpty() ? QString()
                                                       : l.t(QStringLiteral("settings.launchAtLogin.buildFolder"), {buildFolder}),
                                 Binding<bool>{[] { return LoginItem::current()->status() == LoginItem::Status::enabled; },
                                               [](const bool& on) {
                                                   LoginItem* item = LoginItem::current();
                                                   if (on) item->registerItem();
                                                   else item->unregisterItem();
                                               },
                                               {}}));
    // No trackpad haptics on Linux: the row would change nothing.
    behaviour->add(new ToggleRow(l.t(QStringLiteral("settings.liveActivity")), {},
                                 setting(keys::liveActivity)));

    auto* delay = new QWidget;
    auto* delayRow = new QHBoxLayout(delay);
    delayRow->setContentsMargins(0, 0, 0, 0);
    auto* slider = new QSlider(Qt::Horizontal, delay);
    slider->setRange(0, 1000);
    slider->setFixedWidth(160);
    scrollPastUnlessFocused(slider);
    // Arrow keys and page keys move one step of the 0.05 s grid; a step of a thousandth would
    // snap straight back and leave the knob where it was.
    slider->setSingleStep(50);
    slider->setPageStep(50);
    slider->setAccessibleName(l.t(QStringLiteral("settings.hoverDelay")));
    auto* value = plainLabel(QString(), style::body, style::secondary(this), delay);
    value->setFixedWidth(50);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    delayRow->addWidget(slider);
    delayRow->addWidget(value);
    auto sync = [slider, value] {
        const double stored = Settings::shared().get(keys::hoverDelay);
        const QSignalBlocker block(slider);
        slider->setValue(int(std::lround(stored * 1000)));
        value->setText(hoverDelayText(stored));
    };
    sync();
    // The knob always shows the stored value: a drag or a key press lands on the 0.05 s grid,
    // also when the snapped value is the one already stored.
    connect(slider, &QSlider::valueChanged, this, [sync](int position) {
        Settings::shared().set(keys::hoverDelay, snapHoverDelay(position / 1000.0));
        sync();
    });
    whenSettingChanges(slider, keys::hoverDelay, sync);
    behaviour->add(new Row(l.t(QStringLiteral("settings.hoverDelay")), {}, delay));
}

} // namespace lomex
