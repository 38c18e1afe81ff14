#include "settings/SettingsView.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "settings/SettingsNav.h"
#include "settings/SettingsPage.h"
#include "settings/SettingsPages.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "ui/Accessibility.h"
#include "ui/Motion.h"
#include "ui/Symbols.h"
#include <QAbstractButton>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace lomex {

const QList<SettingsView::Page>& SettingsView::allPages() {
    static const QList<Page> pages{Page::general, Page::notch,  Page::calendar,  Page::places, Page::clipboard,
                                   Page::focus,   Page::limits, Page::shortcuts, Page::about};
    return pages;
}

QString SettingsView::rawValue(Page page) {
    switch (page) {
    case Page::general: return QStringLiteral("general");
    case Page::notch: return QStringLiteral("notch");
    case Page::calendar: return QStringLiteral("calendar");
    case Page::places: return QStringLiteral("places");
    case Page::clipboard: return QStringLiteral("clipboard");
    case Page::focus: return QStringLiteral("focus");
    case Page::limits: return QStringLiteral("limits");
    case Page::shortcuts: return QStringLiteral("shortcuts");
    case Page::about: return QStringLiteral("about");
    }
    return {};
}

std::optional<SettingsView::Page> SettingsView::pageFrom(const QString& raw) {
    for (Page p : allPages())
        if (rawValue(p) == raw) return p;
    return std::nullopt;
}

QString SettingsView::symbol(Page page) {
    switch (page) {
    case Page::general: return QStringLiteral("gearshape.fill");
    case Page::notch: return QStringLiteral("rectangle.topthird.inset.filled");
    case Page::calendar: return QStringLiteral("calendar");
    case Page::places: return QStringLiteral("cloud.sun.fill");
    case Page::clipboard: return QStringLiteral("doc.on.clipboard.fill");
    case Page::focus: return QStringLiteral("timer");
    case Page::limits: return QStringLiteral("gauge.with.dots.needle.67percent");
    case Page::shortcuts: return QStringLiteral("command");
    case Page::about: return QStringLiteral("info.circle.fill");
    }
    return {};
}

style::Named SettingsView::tileColor(Page page) {
    using N = style::Named;
    switch (page) {
    case Page::general: return N::gray;
    case Page::notch: return N::orange;
    case Page::calendar: return N::red;
    case Page::places: return N::teal;
    case Page::clipboard: return N::blue;
    case Page::focus: return N::mint;
    case Page::limits: return N::purple;
    case Page::shortcuts: return N::indigo;
    case Page::about: return N::secondary;
    }
    return N::gray;
}

namespace {

// The controls of a page that take the focus, in the order they were made. Not only Tab
// stops: of a set of radio buttons only the focused one is a stop.
QList<QWidget*> focusableControls(QWidget* page) {
    QList<QWidget*> out;
    for (QWidget* w : page->findChildren<QWidget*>())
        if (w->focusPolicy() != Qt::NoFocus && w->isVisibleTo(page)) out << w;
    return out;
}

QString pageTitle(SettingsView::Page page) { return L10n::shared().t("page." + SettingsView::rawValue(page)); }

// The sidebar's background: a slightly tinted material under the whole column, and the accent
// highlight behind the selected row. The highlight slides from row to row when a page is
// chosen; the rows blend their text to white as it covers them.
class Sidebar : public a11y::Group {
public:
    using a11y::Group::Group;
    void select(QWidget* row, bool animated) {
        const QRectF from = highlight();
        selected_ = row;
        if (!animated || from.isEmpty()) {
            moving_.reset();
            repaintAll();
            return;
        }
        motion::run(this, motion::spring(motion::pageSpring), [this, from](double p) {
            const QRectF to = selected_ ? QRectF(selected_->geometry()) : from;
            moving_ = QRectF(from.topLeft() + (to.topLeft() - from.topLeft()) * p,
                             from.size() + (to.size() - from.size()) * p);
            if (p >= 1) moving_.reset();
            repaintAll();
        });
    }
    // Where the highlight is drawn now, in the sidebar's coordinates.
    QRectF highlight() const {
        if (moving_) return *moving_;
        return selected_ ? QRectF(selected_->geometry()) : QRectF();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), style::primary(this, 0.04));
        const QRectF h = highlight();
        if (h.isEmpty()) return;
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = style::accent(this);
        fill.setAlphaF(0.9f);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(h, 7, 7);
    }

private:
    void repaintAll() {
        update();
        for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) w->update();
    }
    QPointer<QWidget> selected_;
    std::optional<QRectF> moving_;
};

// One sidebar entry: the page's tile and title, white on the highlight.
class SidebarRow : public QAbstractButton {
public:
    SidebarRow(SettingsView::Page page, Sidebar* parent) : QAbstractButton(parent), page_(page), sidebar_(parent) {
        setCheckable(true);
        // One page of the set: a radio button, and choosing the chosen page again keeps it.
        setAutoExclusive(true);
        setCursor(Qt::PointingHandCursor);
        setFont(style::font(13));
        setFixedHeight(32);
        tile_ = new IconTile(SettingsView::symbol(page), style::named(SettingsView::tileColor(page), this), 22, this);
        tile_->move(8, 5);
        tile_->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    SettingsView::Page page() const { return page_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // How much of the row the highlight covers: 1 when it rests here, less while it passes.
        const QRectF covered = sidebar_->highlight().intersected(QRectF(geometry()));
        const double cover = covered.isEmpty() ? 0 : covered.height() / height();
        if (style::showsFocusRing(this)) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(isChecked() ? QColor(Qt::white) : style::accent(this), 1.5));
            p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
        }
        const QColor base = style::primary(this);
        p.setPen(QColor::fromRgbF(base.redF() + (1 - base.redF()) * cover, base.greenF() + (1 - base.greenF()) * cover,
                                  base.blueF() + (1 - base.blueF()) * cover, base.alphaF() + (1 - base.alphaF()) * cover));
        p.setFont(font());
        const QRect textRect = rect().adjusted(8 + 22 + 9, 0, -8, 0);
        p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
    }

private:
    SettingsView::Page page_;
    Sidebar* sidebar_;
    IconTile* tile_;
};

// The setup entry at the foot of the sidebar.
class SetupEntry : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;
    QSize sizeHint() const override {
        return {fontMetrics().horizontalAdvance(text()) + 12 + 5 + 20, fontMetrics().height() + 20};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const bool ring = style::showsFocusRing(this);
        const QColor c = underMouse() || ring ? style::primary(this) : style::secondary(this);
        if (ring) {
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(style::accent(this), 1.5));
            p.drawRoundedRect(QRectF(rect()).adjusted(3, 4, -3, -4), 6, 6);
        }
        const QRect inner = rect().adjusted(10, 10, -10, -10);
        const QPixmap icon = symbols::pixmap(QStringLiteral("wand.and.stars"), 12, c, devicePixelRatioF());
        p.drawPixmap(inner.left(), inner.center().y() - 6, 12, 12, icon);
        p.setPen(c);
        p.setFont(font());
        p.drawText(inner.adjusted(17, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
    void enterEvent(QEnterEvent*) override { update(); }
    void leaveEvent(QEvent*) override { update(); }
};

} // namespace

SettingsView::SettingsView(Services services, Clock* clock, QWidget* parent)
    : QWidget(parent), services_(services), clock_(clock ? clock : Clock::current()) {
    a11y::setRole(this, QAccessible::Window);
    setFixedSize(width, height);
    setAutoFillBackground(true);
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Sidebar: brand, the nine pages, the setup entry at the foot.
    auto* sidebar = new Sidebar(QAccessible::Grouping, this);
    sidebar_ = sidebar;
    sidebar->setFixedWidth(210);
    auto* side = new QVBoxLayout(sidebar);
    side->setContentsMargins(10, 0, 10, 0);
    side->setSpacing(2);
    auto* brand = new QHBoxLayout;
    brand->setContentsMargins(10, 38, 10, 14);
    brand->setSpacing(8);
    auto* brandIcon = new QLabel(sidebar);
    brandIcon->setPixmap(symbols::pixmap(QStringLiteral("rectangle.topthird.inset.filled"), 15,
                                         style::named(style::Named::orange, this), devicePixelRatioF()));
    brand->addWidget(brandIcon);
    brand->addWidget(plainLabel(QStringLiteral("Lomex"), 17, style::primary(this), sidebar, QFont::Bold));
    brand->addStretch(1);
    side->addLayout(brand);
    for (Page page : allPages()) {
        auto* row = new SidebarRow(page, sidebar);
        side->addWidget(row);
        rows_.append(row);
        // On toggled, not clicked: assistive technology checks a row without a click. A page
        // chosen here changes under the spring; one asked for from elsewhere at once.
        connect(row, &QAbstractButton::toggled, this, [this, page](bool on) {
            if (!on || !services_.settingsNav) return;
            animateNext_ = true;
            services_.settingsNav->setPage(page);
            animateNext_ = false;
        });
    }
    side->addStretch(1);
    auto* setup = new SetupEntry(sidebar);
    setup->setFont(style::font(12));
    setup->setCursor(Qt::PointingHandCursor);
    side->addWidget(setup, 0, Qt::AlignLeft);
    setupEntry_ = setup;
    connect(setup, &QAbstractButton::clicked, this, [this] {
        if (onSetup) onSetup();
    });
    root->addWidget(sidebar);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFixedWidth(1);
    divider->setStyleSheet(QStringLiteral("color: rgba(128,128,128,70);"));
    root->addWidget(divider);

    // Content column: header, then the scroll area with the current page. It paints its own
    // background so a picture of it can cover the next page while that fades in.
    column_ = new QWidget(this);
    column_->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(column_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(24, 40, 24, 14);
    header->setSpacing(14);
    headerTile_ = new IconTile(QString(), QColor(), 44, this);
    header->addWidget(headerTile_);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    headerTitle_ = plainLabel(QString(), 22, style::primary(this), this, QFont::Bold);
    headerSubtitle_ = plainLabel(QString(), style::callout, style::secondary(this), this);
    titles->addWidget(headerTitle_);
    titles->addWidget(headerSubtitle_);
    header->addLayout(titles, 1);
    column->addLayout(header);
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(false);
    // The page's controls are the stops; the area itself would be one more, unnamed and unlit.
    scroll_->setFocusPolicy(Qt::NoFocus);
    column->addWidget(scroll_, 1);
    thinScrollBar(scroll_);
    root->addWidget(column_, 1);

    if (services_.settingsNav) {
        connect(services_.settingsNav, &SettingsNav::pageChanged, this, [this] { buildPage(); });
        connect(services_.settingsNav, &SettingsNav::scrollTargetChanged, this, [this] {
            if (isVisible()) scrollSoon();
        });
    }
    // A change of language redraws every text; the page is made again in the new language
    // once the click that changed it has finished.
    connect(&L10n::shared(), &L10n::languageChanged, this, [this] {
        retranslate();
        QTimer::singleShot(0, this, [this] { buildPage(); });
    });
    retranslate();
    buildPage();
}

void SettingsView::retranslate() {
    setWindowTitle(L10n::shared().t(QStringLiteral("settings.title")));
    sidebar_->setAccessibleName(L10n::shared().t(QStringLiteral("settings.pages")));
    for (QAbstractButton* b : rows_) {
        auto* row = static_cast<SidebarRow*>(b);
        row->setText(pageTitle(row->page()));
        row->setAccessibleName(row->text());
    }
    setupEntry_->setText(L10n::shared().t(QStringLiteral("menu.setup")));
    setupEntry_->setAccessibleName(setupEntry_->text());
    setupEntry_->updateGeometry();
}

void SettingsView::buildPage() {
    const Page page = services_.settingsNav ? services_.settingsNav->page() : Page::general;
    const bool animated = animateNext_ && shownPage_ && shownPage_ != page;
    // The old header and page fade out over the new ones while the highlight moves.
    if (animated) motion::fadeOutPicture(column_, motion::spring(motion::pageSpring));
    // The keyboard on another row (it was clicked, then a page was asked for from elsewhere)
    // moves to the selected one: it would sit on a row that is no longer a stop.
    QAbstractButton* focusedRow = nullptr;
    for (QAbstractButton* b : rows_)
        if (b->hasFocus()) focusedRow = b;
    for (QAbstractButton* b : rows_) {
        const QSignalBlocker block(b);
        const bool selected = static_cast<SidebarRow*>(b)->page() == page;
        if (selected && focusedRow && focusedRow != b) b->setFocus(Qt::OtherFocusReason);
        if (selected) {
            b->setChecked(true);
            static_cast<Sidebar*>(sidebar_)->select(b, animated);
        }
        // As in any set of radio buttons, Tab stops at the chosen one; arrows reach the others.
        b->setFocusPolicy(selected ? Qt::StrongFocus : Qt::ClickFocus);
        b->update();
    }
    headerTile_->setSymbol(symbol(page), style::named(tileColor(page), this));
    headerTitle_->setText(pageTitle(page));
    scroll_->setAccessibleName(pageTitle(page));
    headerSubtitle_->setText(L10n::shared().t("page." + rawValue(page) + ".sub"));

    // The old page goes with its view state; it is deleted once any of its handlers returned.
    // The same page made again (a change of language) gets the keyboard focus back on the
    // control that had it.
    int focusIndex = -1;
    if (QWidget* f = QApplication::focusWidget(); page_ && f && page_->isAncestorOf(f) && shownPage_ == page)
        focusIndex = int(focusableControls(page_).indexOf(f));
    if (QWidget* old = scroll_->takeWidget()) old->deleteLater();
    SettingsPage* content = makeSettingsPage(page, services_, [this] {
        if (onSetup) onSetup();
    });
    if (!content) content = new SettingsPage;
    content->setObjectName(QStringLiteral("page.") + rawValue(page));
    scroll_->setWidget(content);
    page_ = content;
    shownPage_ = page;
    if (focusIndex >= 0) {
        const QList<QWidget*> controls = focusableControls(content);
        if (focusIndex < controls.size()) controls[focusIndex]->setFocus(Qt::OtherFocusReason);
    }
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    scrollSoon();
}

void SettingsView::scrollSoon() {
    if (!services_.settingsNav) return;
    const std::optional<QString> id = services_.settingsNav->scrollTarget();
    if (!id) return;
    // Tied to the view: a window closed and gone meanwhile is never touched.
    Timer::singleShot(clock_, scrollDelaySeconds, this, [this, id = *id] {
        if (auto* page = qobject_cast<SettingsPage*>(page_.data())) {
            if (QWidget* target = page->anchor(id)) {
                QScrollBar* bar = scroll_->verticalScrollBar();
                const int from = bar->value();
                const int to = std::min(target->mapTo(page, QPoint(0, 0)).y(), bar->maximum());
                motion::run(page, motion::standard(), [bar, from, to](double p) {
                    bar->setValue(from + int(std::lround((to - from) * p)));
                });
            }
        }
        services_.settingsNav->clearScrollTarget();
    });
}

} // namespace lomex
