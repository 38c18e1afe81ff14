#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "ui/Symbols.h"
#include <QEvent>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

namespace lomex {

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
}

QLabel* plainLabel(const QString& text, double pixelSize, const QColor& color, QWidget* parent,
                   QFont::Weight weight) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(style::font(pixelSize, weight));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    return label;
}

// ---- IconTile ----

IconTile::IconTile(QString symbol, QColor color, int size, QWidget* parent)
    : QWidget(parent), symbol_(std::move(symbol)), color_(std::move(color)), size_(size) {
    setFixedSize(size, size);
}

void IconTile::setSymbol(const QString& symbol, const QColor& color) {
    symbol_ = symbol;
    color_ = color;
    update();
}

void IconTile::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The gradient a colour gets as a tile fill: a touch lighter at the top, as deep at the foot.
    QLinearGradient g(0, 0, 0, size_);
    g.setColorAt(0, color_.lighter(118));
    g.setColorAt(1, color_);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, size_, size_), cornerRadius(), cornerRadius());
    const int glyph = glyphSize();
    const QPixmap pm = symbols::pixmap(symbol_, glyph, Qt::white, devicePixelRatioF());
    p.drawPixmap(QRectF((size_ - glyph) / 2.0, (size_ - glyph) / 2.0, glyph, glyph), pm, pm.rect());
}

// ---- DividedBox ----

namespace {
constexpr int kRowPadH = 14, kRowPadV = 10, kDividerInset = 14;
} // namespace

DividedBox::DividedBox(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
}

void DividedBox::addRow(QWidget* row) {
    row->setContentsMargins(kRowPadH, kRowPadV, kRowPadH, kRowPadV);
    layout_->addWidget(row);
    // Shown and hidden rows move the dividers.
    row->installEventFilter(this);
}

void DividedBox::clearRows() {
    while (QLayoutItem* item = layout_->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->removeEventFilter(this);
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    update();
}

bool DividedBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) update();
    return QWidget::eventFilter(watched, event);
}

QList<QLine> DividedBox::dividerLines() const {
    QList<QWidget*> shown;
    for (int i = 0; i < layout_->count(); ++i) {
        QWidget* w = layout_->itemAt(i)->widget();
        if (w && !w->isHidden()) shown.append(w);
    }
    QList<QLine> lines;
    for (int i = 0; i + 1 < shown.size(); ++i) {
        const int y = shown[i + 1]->geometry().top();
        lines.append(QLine(kDividerInset, y, width(), y));
    }
    return lines;
}

void DividedBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QPen(style::primary(this, 0.12), 1));
    for (const QLine& line : dividerLines()) p.drawLine(line);
}

// ---- Card ----

Card::Card(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 10, 0, 0);
    stack->setSpacing(6);
    title_ = plainLabel(QString(), style::cardTitle, style::secondary(this), this, QFont::DemiBold);
    title_->setContentsMargins(4, 0, 0, 0);
    head_ = new QHBoxLayout;
    head_->setContentsMargins(0, 0, 0, 0);
    head_->setSpacing(8);
    head_->addWidget(title_);
    head_->addStretch(1);
    stack->addLayout(head_);
    auto* frame = new style::RoundedPanel(12, 0.045, 0.07, this);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    box_ = new DividedBox(frame);
    frameLayout->addWidget(box_);
    stack->addWidget(frame);
    setTitle(title);
}

void Card::setTitle(const QString& title) {
    title_->setText(title.toUpper());
    title_->setVisible(!title.isEmpty());
}

void Card::markNotInVersion(const QString& badgeText) {
    if (findChild<QLabel*>(QStringLiteral("notInVersion"), Qt::FindDirectChildrenOnly)) return;
    head_->insertWidget(1, notInVersionBadge(badgeText, this));
    box_->setEnabled(false);
    for (QWidget* w : box_->findChildren<QWidget*>())
        if (w->focusPolicy() != Qt::NoFocus) w->setAccessibleDescription(badgeText);
}

// ---- Row ----

Row::Row(const QString& title, const QString& detail, QWidget* trailing, QWidget* parent) : QWidget(parent) {
    stack_ = new QVBoxLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->setSpacing(8);
    row_ = new QHBoxLayout;
    stack_->addLayout(row_);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    title_ = plainLabel(QString(), style::body, style::primary(this), this);
    title_->setWordWrap(true);
    detail_ = plainLabel(QString(), style::caption, style::secondary(this), this);
    detail_->setWordWrap(true);
    texts->addWidget(title_);
    texts->addWidget(detail_);
    row_->addLayout(texts, 1);
    row_->addSpacing(12);
    setTexts(title, detail);
    if (trailing) setTrailing(trailing);
}

void Row::setTexts(const QString& title, const QString& detail) {
    titleText_ = title;
    detail_->setText(detail);
    detail_->setVisible(!detail.isEmpty());
    if (trailing_ && title_->buddy() == trailing_) describe(trailing_);
    else if (trailing_) trailing_->setAccessibleDescription(detail);
    showTitle();
}

void Row::showTitle() {
    // A label with a buddy reads "&" as a mnemonic mark: doubled, it shows (and reads) as
    // itself. Without one it is shown as it stands, so it must not be doubled.
    title_->setText(title_->buddy() ? QString(titleText_).replace(QLatin1Char('&'), QLatin1String("&&")) : titleText_);
}

void Row::describe(QWidget* trailing) {
    // The row's texts are its control's: the title names it (and labels a pop-up, which Linux
    // screen readers name by its value) and the detail describes it.
    trailing->setAccessibleName(titleText_);
    trailing->setAccessibleDescription(detail_->text());
    title_->setBuddy(trailing);
}

void Row::setTrailing(QWidget* trailing) {
    if (trailing_) {
        row_->removeWidget(trailing_);
        trailing_->deleteLater();
    }
    trailing_ = trailing;
    trailing->setParent(this);
    // A control with a name of its own (a badge, a switch its page named) keeps it.
    if (trailing->accessibleName().isEmpty()) {
        describe(trailing);
    } else {
        title_->setBuddy(nullptr);
        trailing->setAccessibleDescription(detail_->text());
    }
    showTitle();
    if (below_) stack_->addWidget(trailing, 0, Qt::AlignRight);
    else row_->addWidget(trailing, 0, Qt::AlignVCenter);
}

void Row::placeTrailingBelow() {
    if (below_) return;
    below_ = true;
    if (!trailing_) return;
    row_->removeWidget(trailing_);
    stack_->addWidget(trailing_, 0, Qt::AlignRight);
}

void Row::markNotInVersion(const QString& badgeText) {
    if (!trailing_ || findChild<QLabel*>(QStringLiteral("notInVersion"))) return;
    trailing_->setEnabled(false);
    // Under the texts, so a wide control keeps its room beside them.
    addUnderTexts(notInVersionBadge(badgeText, this));
    const QString detail = detail_->text();
    trailing_->setAccessibleDescription(detail.isEmpty() ? badgeText : detail + QStringLiteral(" – ") + badgeText);
}

void Row::addUnderTexts(QWidget* widget) {
    auto* texts = static_cast<QBoxLayout*>(row_->itemAt(0)->layout());
    texts->addSpacing(3);
    texts->addWidget(widget, 0, Qt::AlignLeft);
}

QLabel* notInVersionBadge(const QString& text, QWidget* parent) {
    QLabel* badge = plainLabel(text, style::caption, style::secondary(parent), parent, QFont::Medium);
    badge->setObjectName(QStringLiteral("notInVersion"));
    badge->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const QColor fill = style::primary(parent, 0.08);
    const QColor ink = style::secondary(parent);
    badge->setStyleSheet(QStringLiteral("QLabel{background:rgba(%1,%2,%3,%4);color:rgba(%5,%6,%7,%8);"
                                        "border-radius:6px;padding:2px 7px;}")
                             .arg(fill.red()).arg(fill.green()).arg(fill.blue()).arg(fill.alpha())
                             .arg(ink.red()).arg(ink.green()).arg(ink.blue()).arg(ink.alpha()));
    return badge;
}

// ---- ToggleRow ----

ToggleRow::ToggleRow(const QString& title, const QString& detail, Binding<bool> binding, QWidget* parent)
    : Row(title, detail, nullptr, parent), switch_(boundSwitch(std::move(binding))) {
    setTrailing(switch_);
}

// ---- StatusBadge ----

StatusBadge::StatusBadge(bool ok, const QString& okText, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    const QColor green = style::named(style::Named::green, this);
    icon_ = new QLabel(this);
    icon_->setPixmap(symbols::pixmap(QStringLiteral("checkmark.circle.fill"), 14, green, devicePixelRatioF()));
    text_ = plainLabel(QString(), style::callout, green, this, QFont::Medium);
    row->addWidget(icon_);
    row->addWidget(text_);
    setState(ok, okText);
}

void StatusBadge::setState(bool ok, const QString& okText) {
    ok_ = ok;
    text_->setText(okText);
    setAccessibleName(okText);
    setVisible(ok);
}

} // namespace lomex
