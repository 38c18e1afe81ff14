#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "ui/Accessibility.h"
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <algorithm>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSignalBlocker>

namespace lomex {

// ---- Switch ----

Switch::Switch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize Switch::sizeHint() const { return {38, 22}; }

void Switch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal r = track.height() / 2;
    QColor fill = isChecked() ? style::accent(this) : style::primary(this, 0.14);
    // Disabled and on: a paler accent. Disabled and off keeps its grey, outlined, so that on a
    // light ground it does not fade into the card.
    if (!isEnabled() && isChecked()) fill.setAlphaF(fill.alphaF() * 0.5f);
    p.setPen(!isEnabled() && !isChecked() ? QPen(style::primary(this, 0.22), 1) : QPen(Qt::NoPen));
    p.setBrush(fill);
    p.drawRoundedRect(track, r, r);
    p.setPen(Qt::NoPen);
    const qreal d = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - d : track.left() + 2;
    const QRectF knob(x, track.top() + 2, d, d);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawEllipse(knob.translated(0, 0.6));
    p.setBrush(Qt::white);
    p.drawEllipse(knob);
    if (style::showsFocusRing(this)) {
        p.setBrush(Qt::NoBrush);
        // An accent ring would vanish against the accent fill of a switch that is on.
        p.setPen(QPen(isChecked() ? style::primary(this, 0.7) : style::accent(this), 1.5));
        p.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), r, r);
    }
}

Switch* boundSwitch(Binding<bool> binding, QWidget* parent) {
    auto* sw = new Switch(parent);
    auto sync = [sw, get = binding.get] {
        const QSignalBlocker block(sw);
        sw->setChecked(get());
        sw->update();
    };
    sync();
    QObject::connect(sw, &QAbstractButton::toggled, sw, [sync, set = binding.set](bool on) {
        set(on);
        sync();
    });
    whenSettingChanges(sw, binding.watchKey, sync);
    return sw;
}

// ---- SegmentedPicker ----

namespace {
class Segment : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;
    QSize sizeHint() const override {
        return {fontMetrics().horizontalAdvance(text()) + 20, 24};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
        if (isChecked()) {
            p.setPen(QPen(style::primary(this, 0.10), 0.5));
            const bool dark = palette().color(QPalette::Window).lightness() < 128;
            p.setBrush(dark ? QColor(255, 255, 255, 60) : QColor(Qt::white));
            p.drawRoundedRect(r, 5, 5);
        }
        if (style::showsFocusRing(this)) {
            p.setPen(QPen(style::accent(this), 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(r, 5, 5);
        }
        p.setPen(isEnabled() ? style::primary(this) : style::secondary(this));
        p.setFont(font());
        p.drawText(r, Qt::AlignCenter, fontMetrics().elidedText(text(), Qt::ElideRight, int(r.width()) - 4));
    }
};

} // namespace

SegmentedPicker::SegmentedPicker(Options options, Binding<QString> binding, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), binding_(std::move(binding)) {
    // Named by its row: the segments are one group of radio buttons.
    a11y::setRole(this, QAccessible::Grouping);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* track = new style::RoundedPanel(7, 0.07, 0, this);
    outer->addWidget(track);
    auto* row = new QHBoxLayout(track);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (const auto& [text, value] : options_) {
        auto* seg = new Segment(track);
        seg->setText(text);
        seg->setCheckable(true);
        seg->setFont(style::font(style::body));
        seg->setCursor(Qt::PointingHandCursor);
        seg->setAccessibleName(text);
        // One of a set: reported as a radio button, and a checked one cannot be unchecked.
        seg->setAutoExclusive(true);
        seg->installEventFilter(this);
        row->addWidget(seg, 1);
        segments_.append(seg);
        // On toggled, not clicked: assistive technology checks a segment without a click.
        connect(seg, &QAbstractButton::toggled, this, [this, value = value](bool on) {
            if (!on) return;
            binding_.set(value);
            sync();
        });
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    sync();
    whenSettingChanges(this, binding_.watchKey, [this] { sync(); });
}

void SegmentedPicker::setTexts(const QStringList& texts) {
    for (int i = 0; i < segments_.size() && i < texts.size(); ++i) {
        segments_[i]->setText(texts[i]);
        segments_[i]->setAccessibleName(texts[i]);
    }
}

bool SegmentedPicker::eventFilter(QObject* watched, QEvent* event) {
    // Arrows choose the neighbouring segment, as in any segmented control; a plain button
    // would only move the focus.
    if (event->type() == QEvent::KeyPress) {
        const int index = segments_.indexOf(static_cast<QAbstractButton*>(watched));
        int step = 0;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up: step = -1; break;
        case Qt::Key_Right:
        case Qt::Key_Down: step = 1; break;
        default: break;
        }
        if (index >= 0 && step != 0) {
            if (layoutDirection() == Qt::RightToLeft) step = -step;
            const int target = std::clamp(index + step, 0, int(segments_.size()) - 1);
            if (target != index) {
                segments_[target]->setFocus(Qt::TabFocusReason);
                segments_[target]->click();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QString SegmentedPicker::value() const { return binding_.get(); }

void SegmentedPicker::sync() {
    const QString v = binding_.get();
    // A value that names no segment checks none, which a set of radio buttons would refuse.
    for (QAbstractButton* seg : segments_) {
        seg->blockSignals(true);
        seg->setAutoExclusive(false);
    }
    for (int i = 0; i < segments_.size(); ++i) {
        segments_[i]->setChecked(options_[i].second == v);
        segments_[i]->update();
    }
    for (QAbstractButton* seg : segments_) {
        seg->setAutoExclusive(true);
        seg->blockSignals(false);
    }
    a11y::tabStopOnChecked(segments_);
}

// ---- PopUp ----

PopUp::PopUp(Options options, Binding<QString> binding, QWidget* parent)
    : QComboBox(parent), binding_(std::move(binding)) {
    for (const auto& [text, value] : options) addItem(text, value);
    setFont(style::font(style::body));
    scrollPastUnlessFocused(this);
    sync();
    connect(this, &QComboBox::activated, this, [this](int index) {
        binding_.set(itemData(index).toString());
        sync();
    });
    whenSettingChanges(this, binding_.watchKey, [this] { sync(); });
}

void PopUp::sync() {
    const QSignalBlocker block(this);
    setCurrentIndex(findData(binding_.get()));
}

// ---- Stepper ----

Stepper::Stepper(int minimum, int maximum, const QString& unit, Binding<int> binding, QWidget* parent)
    : QSpinBox(parent), binding_(std::move(binding)) {
    setRange(minimum, maximum);
    setSuffix(QLatin1Char(' ') + unit);
    setFont(style::font(style::body));
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    scrollPastUnlessFocused(this);
    // One width for every stepper of a page, whatever its limits.
    setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("000") + suffix()) + 44);
    sync();
    connect(this, &QSpinBox::valueChanged, this, [this](int v) {
        binding_.set(v);
        sync();
    });
    whenSettingChanges(this, binding_.watchKey, [this] { sync(); });
}

void Stepper::sync() {
    const QSignalBlocker block(this);
    setValue(binding_.get());
}

// ---- BoundLineEdit ----

BoundLineEdit::BoundLineEdit(Binding<QString> binding, int width, QWidget* parent)
    : QLineEdit(parent), binding_(std::move(binding)) {
    setFixedWidth(width);
    setFont(style::font(style::body));
    sync();
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) { binding_.set(text); });
    whenSettingChanges(this, binding_.watchKey, [this] { sync(); });
}

void BoundLineEdit::sync() {
    // Equal text is left alone so typing keeps its cursor, selection and undo history.
    const QString v = binding_.get();
    if (v != text()) setText(v);
}

// ---- wheel ----

namespace {
class WheelPassesUnfocused : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel && !static_cast<QWidget*>(watched)->hasFocus()) {
            // Ignored and filtered: the parents get it, up to the scroll area.
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

void scrollPastUnlessFocused(QWidget* control) {
    static auto* filter = new WheelPassesUnfocused(qApp);
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(filter);
}

// ---- buttons ----

void styleButton(QPushButton* button, ButtonKind kind, QColor tint) {
    const auto rgba = [button](double opacity) { return style::primary(button, opacity).name(QColor::HexArgb); };
    const QString box = QStringLiteral("border-radius: 6px; padding: %1px %2px;").arg(buttonPaddingY).arg(buttonPaddingX);
    button->setCursor(Qt::PointingHandCursor);
    if (kind == ButtonKind::prominent) {
        if (!tint.isValid()) tint = style::accent(button);
        button->setStyleSheet(QStringLiteral("QPushButton { color: white; background: %1; border: 1px solid %1; %2 }"
                                             " QPushButton:hover { background: %3; border-color: %3; }"
                                             " QPushButton:pressed { background: %4; border-color: %4; }"
                                             " QPushButton:focus { border-color: %5; }"
                                             " QPushButton:disabled { background: %6; border-color: %6; }")
                                  .arg(tint.name(), box, tint.lighter(110).name(), tint.darker(112).name(), rgba(0.75),
                                       rgba(0.2)));
        return;
    }
    button->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3; %4 }"
                                         " QPushButton:hover { background: %5; }"
                                         " QPushButton:pressed { background: %6; }"
                                         " QPushButton:focus { border-color: %7; }"
                                         " QPushButton:disabled { color: %8; }")
                              .arg(style::primary(button).name(QColor::HexArgb), rgba(0.06), rgba(0.2), box, rgba(0.1),
                                   rgba(0.16), style::accent(button).name(), rgba(0.4)));
}

QPushButton* blockButton(const QString& text, ButtonKind kind, QColor tint, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setFont(style::font(style::body));
    styleButton(b, kind, std::move(tint));
    return b;
}

// ---- thin scroll bar ----

namespace {

// Follows the area's hidden bar both ways and keeps to the area's right edge.
class OverlayScrollBar : public QScrollBar {
public:
    static constexpr int kWidth = 10;

    explicit OverlayScrollBar(QAbstractScrollArea* area) : QScrollBar(Qt::Vertical, area), area_(area) {
        setObjectName(QStringLiteral("thinScrollBar"));
        QScrollBar* inner = area->verticalScrollBar();
        restyle();
        auto follow = [this, inner] {
            const QSignalBlocker block(this);
            setRange(inner->minimum(), inner->maximum());
            setPageStep(inner->pageStep());
            setSingleStep(inner->singleStep());
            setValue(inner->value());
            setVisible(inner->maximum() > inner->minimum());
            raise();
        };
        connect(inner, &QScrollBar::rangeChanged, this, follow);
        connect(inner, &QScrollBar::valueChanged, this, follow);
        connect(this, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area->installEventFilter(this);
        follow();
        place();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == area_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
            place();
        if (watched == area_ && event->type() == QEvent::PaletteChange) restyle();
        return QScrollBar::eventFilter(watched, event);
    }

private:
    void place() {
        // The area's own rect: when the area hears of a resize, its viewport has not yet.
        const QRect v = area_->contentsRect();
        setGeometry(v.right() + 1 - kWidth - 2, v.top() + 2, kWidth, v.height() - 4);
    }
    void restyle() {
        const auto rgba = [this](double opacity) { return style::primary(this, opacity).name(QColor::HexArgb); };
        setStyleSheet(QStringLiteral("QScrollBar:vertical { background: transparent; width: %1px; margin: 0; border: none; }"
                                     " QScrollBar::handle:vertical { background: %2; border-radius: 3px; min-height: 28px;"
                                     " margin: 0 2px; }"
                                     " QScrollBar::handle:vertical:hover, QScrollBar::handle:vertical:pressed { background: %3; }"
                                     " QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; border: none;"
                                     " background: none; }"
                                     " QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
                          .arg(kWidth)
                          .arg(rgba(0.28), rgba(0.45)));
    }
    QAbstractScrollArea* area_;
};

} // namespace

void thinScrollBar(QAbstractScrollArea* area) { new OverlayScrollBar(area); }

} // namespace lomex
