#include "settings/SetupWizard.h"
#include <algorithm>
#include "core/L10n.h"
#include "core/Settings.h"
#include "settings/SetupModel.h"
#include "settings/blocks/Binding.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "ui/Accessibility.h"
#include "ui/KeyGuard.h"
#include "ui/Symbols.h"
#include <QAbstractButton>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTextLayout>
#include <QTimer>
#include <cmath>

namespace lomex {

namespace {

// The coloured square of a card: a white symbol on a gradient of the step's colour.
class StepIcon : public QWidget {
public:
    StepIcon(QString symbol, QColor color, QWidget* parent) : QWidget(parent), symbol_(std::move(symbol)), color_(std::move(color)) {
        setFixedSize(36, 36);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, height());
        g.setColorAt(0, color_.lighter(115));
        g.setColorAt(1, color_);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(QRectF(rect()), 9, 9);
        const QPixmap glyph = symbols::icon(symbol_, Qt::white).pixmap(QSize(18, 18), devicePixelRatioF());
        p.drawPixmap(QRect(9, 9, 18, 18), glyph);
    }

private:
    QString symbol_;
    QColor color_;
};

constexpr int kBadgeGap = 6, kBadgePadX = 5, kBadgePadY = 1, kBadgeLineGap = 2;

QFont titleFont() { return style::font(style::body, QFont::DemiBold); }
QFont badgeFont() { return style::font(style::caption - 1); }

} // namespace

// ---- BadgedTitle ----

struct BadgedTitle::Placement {
    QList<QRectF> lines; // each line's natural extent
    QRectF badge;        // empty without a badge
    qreal lineWidth = 0; // the width the title was broken at
    int height = 0;
};

BadgedTitle::BadgedTitle(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void BadgedTitle::setTexts(const QString& title, const QString& badge) {
    title_ = title;
    badge_ = badge;
    setAccessibleName(badge.isEmpty() ? title : title + QStringLiteral(", ") + badge);
    updateGeometry();
    update();
}

namespace {
// The title's lines at a width, each as its natural extent.
QList<QRectF> titleLines(const QString& title, qreal width, QTextLayout* keep = nullptr) {
    QTextLayout own(title, titleFont());
    QTextLayout& layout = keep ? *keep : own;
    layout.beginLayout();
    QList<QRectF> lines;
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax<qreal>(1, width));
        line.setPosition(QPointF(0, y));
        lines.append(QRectF(0, y, line.naturalTextWidth(), line.height()));
        y += line.height();
    }
    layout.endLayout();
    return lines;
}

QSizeF badgeSize(const QString& badge) {
    const QFontMetricsF fm(badgeFont());
    return {fm.horizontalAdvance(badge) + 2 * kBadgePadX, fm.height() + 2 * kBadgePadY};
}
} // namespace

BadgedTitle::Placement BadgedTitle::place(int width) const {
    Placement out;
    out.lineWidth = width;
    out.lines = titleLines(title_, width);
    if (!badge_.isEmpty()) {
        const QSizeF size = badgeSize(badge_);
        // Beside the last word when it fits there, else at the start of a line of its own: the
        // title itself wraps only where its words need it.
        if (out.lines.isEmpty()) {
            out.badge = QRectF(QPointF(0, 0), size);
        } else if (const QRectF last = out.lines.last(); last.right() + kBadgeGap + size.width() <= width) {
            out.badge = QRectF(QPointF(last.right() + kBadgeGap, last.center().y() - size.height() / 2), size);
        } else {
            out.badge = QRectF(QPointF(0, last.bottom() + kBadgeLineGap), size);
        }
    }
    const qreal bottom = std::max(out.lines.isEmpty() ? 0.0 : out.lines.last().bottom(), out.badge.bottom());
    out.height = int(std::ceil(bottom));
    return out;
}

int BadgedTitle::lineCount() const { return int(place(width()).lines.size()); }
QRectF BadgedTitle::lastLineRect() const {
    const Placement p = place(width());
    return p.lines.isEmpty() ? QRectF() : p.lines.last();
}
QRectF BadgedTitle::badgeRect() const { return place(width()).badge; }
int BadgedTitle::heightForWidth(int width) const { return place(width).height; }

QSize BadgedTitle::sizeHint() const {
    // One line when there is room for it.
    const int oneLine = int(std::ceil(QFontMetricsF(titleFont()).horizontalAdvance(title_))) +
                        (badge_.isEmpty() ? 0 : int(std::ceil(QFontMetricsF(badgeFont()).horizontalAdvance(badge_))) +
                                                    kBadgeGap + 2 * kBadgePadX);
    return {oneLine, heightForWidth(oneLine)};
}

QSize BadgedTitle::minimumSizeHint() const { return {80, heightForWidth(80)}; }

void BadgedTitle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Placement placed = place(width());
    QTextLayout layout(title_, titleFont());
    titleLines(title_, placed.lineWidth, &layout);
    p.setPen(style::primary(this));
    layout.draw(&p, QPointF(0, 0));
    const QRectF badge = placed.badge;
    if (badge.isEmpty()) return;
    p.setPen(Qt::NoPen);
    p.setBrush(style::primary(this, 0.2));
    p.drawRoundedRect(badge, badge.height() / 2, badge.height() / 2);
    p.setPen(style::secondary(this));
    p.setFont(badgeFont());
    p.drawText(badge, Qt::AlignCenter, badge_);
}

// ---- StepCard ----

StepCard::StepCard(QString symbol, QColor color, bool optional, QWidget* parent) : QWidget(parent) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(12, 12, 12, 12);
    h->setSpacing(12);
    h->setAlignment(Qt::AlignTop);
    h->addWidget(new StepIcon(std::move(symbol), color, this), 0, Qt::AlignTop);
    auto* v = new QVBoxLayout;
    v->setSpacing(3);
    optional_ = optional;
    title_ = new BadgedTitle(this);
    v->addWidget(title_);
    text_ = plainLabel({}, style::callout, style::secondary(this), this);
    text_->setWordWrap(true);
    v->addWidget(text_);
    h->addLayout(v, 1);
    h->addSpacing(8);
    // The same green check and word as the settings pages' confirmations.
    done_ = new StatusBadge(false, QString(), this);
    info_ = new QLabel(this);
    info_->setPixmap(symbols::icon(QStringLiteral("info.circle"), style::secondary(this)).pixmap(16, 16));
    button_ = blockButton(QString(), ButtonKind::prominent, {}, this);
    // Reached by Tab or the pointer only, so keys typed at the window never run a step.
    button_->setFocusPolicy(Qt::TabFocus);
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, [this] { if (action) action(); });
    for (QWidget* w : {static_cast<QWidget*>(done_), static_cast<QWidget*>(info_), static_cast<QWidget*>(button_)})
        h->addWidget(w, 0, Qt::AlignVCenter);
}

void StepCard::set(const QString& title, const QString& text, std::optional<bool> done, const QString& button) {
    title_->setTexts(title, optional_ ? L10n::shared().t(QStringLiteral("setup.optional")) : QString());
    text_->setText(text);
    info_->setVisible(!done);
    done_->setState(done && *done, L10n::shared().t(QStringLiteral("setup.done")));
    button_->setVisible(done && !*done && !button.isEmpty());
    button_->setText(button);
    // Several cards offer the same "Allow": the card's title tells a screen reader which one.
    button_->setAccessibleDescription(title);
}

QString StepCard::title() const { return title_->title(); }
QString StepCard::text() const { return text_->text(); }
bool StepCard::showsDone() const { return !done_->isHidden(); }

void StepCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(style::primary(this, 0.08));
    p.drawRoundedRect(QRectF(rect()), 12, 12);
}

SetupWizardView::SetupWizardView(Services services, QWidget* parent) : QWidget(parent), services_(std::move(services)) {
    a11y::setRole(this, QAccessible::Window);
    // Escape closes it as its close button does: onboarding stays open for the next launch.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    // The page scrolls inside the window when the screen is too small for all of it.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFocusPolicy(Qt::NoFocus);
    page_ = new QWidget;
    page_->setFixedWidth(width);
    scroll_->setWidget(page_);
    page_->installEventFilter(this);
    outer->addWidget(scroll_);
    thinScrollBar(scroll_);
    keyGuard_ = new KeyGuard(this);
    auto* v = new QVBoxLayout(page_);
    v->setContentsMargins(24, 24 + 14, 24, 24);
    v->setSpacing(16);
    v->setSizeConstraint(QLayout::SetFixedSize);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(new IconTile(QStringLiteral("rectangle.topthird.inset.filled"), style::named(style::Named::orange, this), 52, this));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    title_ = plainLabel({}, 20, style::primary(this), this, QFont::Bold);
    subtitle_ = plainLabel({}, style::body, style::secondary(this), this);
    subtitle_->setWordWrap(true);
    titles->addWidget(title_);
    titles->addWidget(subtitle_);
    header->addLayout(titles, 1);
    v->addLayout(header);

    const struct {
        const char* symbol;
        style::Named color;
        bool optional;
    } steps[] = {
        {"calendar", style::Named::red, false},
        {"hand.tap.fill", style::Named::blue, false},
        {"person.crop.circle.fill", style::Named::orange, true},
        {"gauge.with.dots.needle.67percent", style::Named::orange, true},
    };
    for (const auto& s : steps) {
        QColor color = style::named(s.color, this);
        if (s.symbol == std::string_view("person.crop.circle.fill")) color = QColor(162, 132, 94);   // brown
        auto* card = new StepCard(QString::fromLatin1(s.symbol), color, s.optional, this);
        card->setFixedWidth(width - 48);
        cards_ << card;
        v->addWidget(card);
    }
    SetupModel* setup = services_.setup;
    cards_[0]->action = [this] {
        if (requestCalendarAccess) requestCalendarAccess();
        if (services_.setup) services_.setup->refresh();
    };
    cards_[2]->action = [this] {
        if (requestContactsAccess) requestContactsAccess();
        refresh();
    };
    cards_[3]->action = [setup] { if (setup) setup->setupClaude(L10n::shared().isCzech()); };

    auto* footer = new QHBoxLayout;
    footer_ = plainLabel({}, style::caption, style::secondary(this), this);
    // A long note wraps rather than widen the page past its fixed width.
    footer_->setWordWrap(true);
    footer->addWidget(footer_, 1);
    finish_ = new QPushButton(this);
    finish_->setDefault(true);
    finish_->setAutoDefault(true);
    finish_->setMinimumHeight(30);
    styleButton(finish_, ButtonKind::prominent);
    connect(finish_, &QPushButton::clicked, this, [this] { if (onClose) onClose(); });
    footer->addWidget(finish_);
    v->addLayout(footer);

    if (setup) connect(setup, &SetupModel::changed, this, &SetupWizardView::refresh);
    connect(&L10n::shared(), &L10n::languageChanged, this, &SetupWizardView::refresh);
    whenSettingChanges(this, QStringLiteral("usageEnabled"), [this] { refresh(); });
    refresh();
}

void SetupWizardView::refresh() {
    L10n& l = L10n::shared();
    auto t = [&](const char* key) { return l.t(QString::fromLatin1(key)); };
    SetupModel* s = services_.setup;
    const bool calendar = s && s->calendar() && s->reminders();
    const bool installed = s && s->claudeInstalled();
    const bool loggedIn = s && s->claudeLoggedIn();
    const bool usageOn = Settings::shared().boolValue(QStringLiteral("usageEnabled"));
    title_->setText(t("setup.title"));
    subtitle_->setText(t("setup.subtitle"));
    window()->setWindowTitle(t("setup.title"));
    cards_[0]->set(t("setup.cal.title"), t("setup.cal.text"), calendar, t("setup.allow"));
    // No permission exists to ask for: without XTEST the card says why, with no button.
    const bool canPaste = s && s->accessibility();
    cards_[1]->set(t("setup.ax.title"), canPaste ? t("setup.ax.text") : t("setup.ax.unavailable"), canPaste, {});
    cards_[2]->set(t("contacts.title"), t("contacts.text"), contactsAccess && contactsAccess(), t("setup.allow"));
    const QString claudeButton = installed ? t("setup.claude.login") : t("setup.claude.install");
    const QString claudeText = loggedIn                        ? t("setup.claude.done")
                               : (s && s->claudeBusy())        ? t("setup.claude.busy")
                               : (s && s->claudeFailed())      ? l.t(QStringLiteral("setup.claude.failed"), {claudeButton})
                                                               : t("setup.claude.text");
    cards_[3]->set(t("setup.claude.title"), claudeText, loggedIn && usageOn, claudeButton);
    footer_->setText(t(menuAvailable && !menuAvailable() ? "setup.footer.noTray" : "setup.footer"));
    finish_->setText(s && s->allRequiredDone() ? t("setup.finish") : t("setup.later"));
}

QSize SetupWizardView::sizeHint() const { return page_->sizeHint(); }

QSize SetupWizardView::sizeWithin(const QSize& room) const {
    const QSize full = page_->sizeHint();
    if (full.height() <= room.height()) return full;
    // Scrolling: the thin bar lies over the page's right margin, so the page keeps its width.
    return QSize(full.width(), room.height());
}

void SetupWizardView::fit() {
    setFixedSize(sizeWithin(room ? room() : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)));
}

bool SetupWizardView::eventFilter(QObject* watched, QEvent* event) {
    // A card's text changed its height (a step began, another language): the window follows,
    // leaving no empty band and cutting nothing.
    if (watched == page_ && event->type() == QEvent::Resize && room && isWindow()) fit();
    return QWidget::eventFilter(watched, event);
}

void SetupWizardView::keyPressEvent(QKeyEvent* event) {
    // Return presses the button the user moved to with Tab, as Space does; else the footer's.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QAbstractButton*>(focusWidget());
        QAbstractButton* target = focused && focused->isVisible() && focused->isEnabled() ? focused : finish_;
        target->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SetupWizardView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The keyboard starts on the footer button, never on a step.
    finish_->setFocus(Qt::OtherFocusReason);
    if (services_.setup) services_.setup->startPolling();
}

void SetupWizardView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Minimised or closed: nobody looks, so nothing polls.
    if (services_.setup) services_.setup->stopPolling();
}

} // namespace lomex
