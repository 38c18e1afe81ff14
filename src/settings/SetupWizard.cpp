#include "settings/SetupWizard.h"
#include <algorithm>
#include "core/L10n.h"
#include "core/Settings.h"
#include "settings/SetupModel.h"
#include "settings/blocks/Binding.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Style.h"
#include "ui/Accessibility.h"
#include "ui/KeyGuard.h"
#include "ui/Symbols.h"
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

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

} // namespace

StepCard::StepCard(QString symbol, QColor color, bool optional, QWidget* parent) : QWidget(parent) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(12, 12, 12, 12);
    h->setSpacing(12);
    h->setAlignment(Qt::AlignTop);
    h->addWidget(new StepIcon(std::move(symbol), color, this), 0, Qt::AlignTop);
    auto* v = new QVBoxLayout;
    v->setSpacing(3);
    auto* head = new QHBoxLayout;
    head->setSpacing(6);
    title_ = plainLabel({}, style::body, style::primary(this), this, QFont::DemiBold);
    title_->setWordWrap(true);
    badge_ = plainLabel({}, style::caption - 1, style::secondary(this), this);
    badge_->setContentsMargins(5, 1, 5, 1);
    badge_->setStyleSheet(QStringLiteral("background:%1;border-radius:7px").arg(style::primary(this, 0.2).name(QColor::HexArgb)));
    badge_->setVisible(optional);
    head->addWidget(title_);
    // Beside a title that wraps, the badge stays by its first line at its own height.
    head->addWidget(badge_, 0, Qt::AlignTop);
    head->addStretch(1);
    v->addLayout(head);
    text_ = plainLabel({}, style::callout, style::secondary(this), this);
    text_->setWordWrap(true);
    v->addWidget(text_);
    h->addLayout(v, 1);
    h->addSpacing(8);
    done_ = plainLabel({}, style::callout, style::named(style::Named::green, this), this, QFont::DemiBold);
    info_ = new QLabel(this);
    info_->setPixmap(symbols::icon(QStringLiteral("info.circle"), style::secondary(this)).pixmap(16, 16));
    button_ = new QPushButton(this);
    // Reached by Tab or the pointer only, so keys typed at the window never run a step.
    button_->setFocusPolicy(Qt::TabFocus);
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, [this] { if (action) action(); });
    for (QWidget* w : {static_cast<QWidget*>(done_), static_cast<QWidget*>(info_), static_cast<QWidget*>(button_)})
        h->addWidget(w, 0, Qt::AlignVCenter);
}

void StepCard::set(const QString& title, const QString& text, std::optional<bool> done, const QString& button) {
    title_->setText(title);
    // A wrapped label asks for little width; let a title that fits take its whole line.
    title_->setMinimumWidth(std::min(title_->fontMetrics().horizontalAdvance(title) + 2, 240));
    text_->setText(text);
    badge_->setText(L10n::shared().t(QStringLiteral("setup.optional")));
    done_->setText(QStringLiteral("\u2714 ") + L10n::shared().t(QStringLiteral("setup.done")));
    info_->setVisible(!done);
    done_->setVisible(done && *done);
    button_->setVisible(done && !*done && !button.isEmpty());
    button_->setText(button);
    // Several cards offer the same "Allow": the card's title tells a screen reader which one.
    button_->setAccessibleDescription(title);
}

QString StepCard::title() const { return title_->text(); }
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
    outer->addWidget(scroll_);
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
        {"music.note", style::Named::purple, false},
        {"gauge.with.dots.needle.67percent", style::Named::orange, true},
    };
    for (const auto& s : steps) {
        QColor color = style::named(s.color, this);
        if (s.symbol == std::string_view("person.crop.circle.fill")) color = QColor(162, 132, 94);   // brown
        if (s.symbol == std::string_view("music.note")) color = QColor(255, 45, 85);                  // pink
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
    cards_[4]->action = [setup] { if (setup) setup->setupClaude(L10n::shared().isCzech()); };

    auto* footer = new QHBoxLayout;
    footer_ = plainLabel({}, style::caption, style::secondary(this), this);
    footer->addWidget(footer_);
    footer->addStretch(1);
    finish_ = new QPushButton(this);
    finish_->setDefault(true);
    finish_->setAutoDefault(true);
    finish_->setMinimumHeight(30);
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
    cards_[3]->set(t("setup.music.title"), t("setup.music.text"), std::nullopt, {});
    const QString claudeText = loggedIn ? t("setup.claude.done") : (s && s->claudeBusy()) ? t("setup.claude.busy") : t("setup.claude.text");
    cards_[4]->set(t("setup.claude.title"), claudeText, loggedIn && usageOn,
                   installed ? t("setup.claude.login") : t("setup.claude.install"));
    footer_->setText(t(menuAvailable && !menuAvailable() ? "setup.footer.noTray" : "setup.footer"));
    finish_->setText(s && s->allRequiredDone() ? t("setup.finish") : t("setup.later"));
}

QSize SetupWizardView::sizeHint() const { return page_->sizeHint(); }

QSize SetupWizardView::sizeWithin(const QSize& room) const {
    const QSize full = page_->sizeHint();
    if (full.height() <= room.height()) return full;
    // Scrolling: the scroll bar stands beside the page, which keeps its width.
    return QSize(full.width() + scroll_->verticalScrollBar()->sizeHint().width(), room.height());
}

void SetupWizardView::keyPressEvent(QKeyEvent* event) {
    // Return does what the footer button does, wherever the focus is.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        finish_->click();
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
