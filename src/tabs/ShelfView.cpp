#include "tabs/ShelfView.h"
#include "core/L10n.h"
#include "device/ShelfStore.h"
#include "tabs/FeedRows.h"
#include "platform/Clipboard.h"
#include "platform/Workspace.h"
#include "ui/Motion.h"
#include "ui/Symbols.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <utility>
#include <QStackedLayout>
#include <QTextLayout>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace lomex {

namespace {

const QColor kGrey(255, 255, 255, 140);

QString t(const char* key) { return L10n::shared().t(QString::fromLatin1(key)); }

QFont pixelFont(const QFont& base, int size, QFont::Weight weight = QFont::Normal) {
    QFont f = base;
    f.setPixelSize(size);
    f.setWeight(weight);
    return f;
}

QLabel* label(int size, const QColor& color, QWidget* parent, QFont::Weight weight = QFont::Normal) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(pixelFont(l->font(), size, weight));
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    return l;
}

// The system's accent colour; the dashed border and the tint of a hovering drag.
QColor accent() { return QApplication::palette().color(QPalette::Highlight); }

// At most two lines of width, broken anywhere when a word is too long, the second cut with "…".
QString twoLines(const QString& text, const QFont& font, int width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    int secondStart = -1;
    for (int n = 0; n < 2; ++n) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (n == 1) secondStart = line.textStart();
        else lines << text.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    if (secondStart >= 0) lines << QFontMetrics(font).elidedText(text.mid(secondStart), Qt::ElideRight, width);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

// ---- ShelfItemView ----

ShelfItemView::ShelfItemView(const QUrl& url, ShelfStore* shelf, Workspace* workspace, Clipboard* clipboard,
                             QWidget* parent)
    : QWidget(parent), url_(url), shelf_(shelf), workspace_(workspace), clipboard_(clipboard) {
    setAttribute(Qt::WA_Hover);
    setToolTip(plainToolTip(url_.toLocalFile())); // file names may look like markup
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setFixedSize(iconSize, iconSize);
    icon->setPixmap(workspace_->icon(url_.toLocalFile()).pixmap(QSize(iconSize, iconSize), devicePixelRatioF()));
    icon->setScaledContents(true);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    name_ = label(10, QColor(255, 255, 255, 230), this);
    name_->setObjectName(QStringLiteral("name"));
    name_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    name_->setFixedWidth(nameWidth);
    name_->setText(twoLines(QFileInfo(url_.toLocalFile()).fileName(), name_->font(), nameWidth));
    layout->addWidget(name_, 0, Qt::AlignHCenter);
    layout->addStretch();
}

QString ShelfItemView::shownName() const { return name_->text(); }

void ShelfItemView::open() { workspace_->open(url_); }
void ShelfItemView::reveal() { workspace_->reveal(url_.toLocalFile()); }
void ShelfItemView::copyPath() { clipboard_->setText(url_.toLocalFile()); }
void ShelfItemView::remove() {
    if (!shelf_) return;
    if (beforeRemove) beforeRemove();
    shelf_->remove(url_);
}

QList<QAction*> ShelfItemView::menuActions(QObject* owner) {
    auto make = [&](const char* key, void (ShelfItemView::*fn)()) {
        auto* a = new QAction(t(key), owner);
        a->setObjectName(QString::fromLatin1(key));
        QPointer<ShelfItemView> self(this);
        connect(a, &QAction::triggered, owner, [self, fn] { if (self) (self.data()->*fn)(); });
        return a;
    };
    // Sending with AirDrop has no counterpart here, so its entry is left out.
    return {make("shelf.open", &ShelfItemView::open), make("shelf.reveal", &ShelfItemView::reveal),
            make("shelf.copyPath", &ShelfItemView::copyPath), nullptr,
            make("shelf.remove", &ShelfItemView::remove)};
}

QMimeData* ShelfItemView::dragData() const {
    auto* data = new QMimeData;
    if (QFileInfo::exists(url_.toLocalFile())) data->setUrls({url_});
    return data;
}

void ShelfItemView::enterEvent(QEnterEvent*) {
    hover_ = true;
    update();
}

void ShelfItemView::leaveEvent(QEvent*) {
    hover_ = false;
    update();
}

void ShelfItemView::paintEvent(QPaintEvent*) {
    if (!hover_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 26));
    p.drawRoundedRect(QRectF(rect()), 10, 10);
}

void ShelfItemView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressAt_ = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void ShelfItemView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) ||
        (event->position().toPoint() - pressAt_).manhattanLength() < QApplication::startDragDistance())
        return;
    QMimeData* data = dragData();
    if (!data->hasUrls()) {
        delete data;
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(workspace_->icon(url_.toLocalFile()).pixmap(QSize(iconSize, iconSize), devicePixelRatioF()));
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
}

void ShelfItemView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) open();
}

void ShelfItemView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    for (QAction* a : menuActions(&menu)) {
        if (a) menu.addAction(a);
        else menu.addSeparator();
    }
    menu.exec(event->globalPos());
}

// ---- ShelfView ----

ShelfView::ShelfView(ShelfStore* shelf, Workspace* workspace, Clipboard* clipboard, QWidget* parent)
    : QWidget(parent),
      shelf_(shelf),
      workspace_(workspace ? workspace : Workspace::current()),
      clipboard_(clipboard ? clipboard : Clipboard::current()) {
    setObjectName(QStringLiteral("ShelfView"));
    setAcceptDrops(true);
    setAttribute(Qt::WA_TranslucentBackground);
    layers_ = new QStackedLayout(this);

    empty_ = new QWidget(this);
    auto* emptyLayout = new QVBoxLayout(empty_);
    emptyLayout->setSpacing(6);
    emptyLayout->addStretch();
    auto* tray = new QLabel(empty_);
    tray->setPixmap(symbols::pixmap(QStringLiteral("tray.and.arrow.down.fill"), 26, kGrey, devicePixelRatioF()));
    tray->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(tray);
    dropTitle_ = label(13, Qt::white, empty_, QFont::DemiBold);
    dropTitle_->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(dropTitle_);
    dropHint_ = label(11, kGrey, empty_);
    dropHint_->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(dropHint_);
    emptyLayout->addStretch();
    layers_->addWidget(empty_);

    full_ = new QWidget(this);
    auto* fullLayout = new QVBoxLayout(full_);
    fullLayout->setContentsMargins(0, 10, 0, 6);
    fullLayout->setSpacing(4);
    scroll_ = new QScrollArea(full_);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    // No Tab stop: unnamed and unlit, it would only hide where the focus went.
    scroll_->setFocusPolicy(Qt::NoFocus);
    // Only the scroll area and its row: an unscoped rule would reach the items' menus and
    // tooltips too (they take their style from the item) and draw them see-through.
    scroll_->setObjectName(QStringLiteral("shelfScroll"));
    scroll_->setStyleSheet(QStringLiteral("#shelfScroll, #shelfScroll > QWidget, #shelfScroll > QWidget > QWidget"
                                          " { background: transparent; }"));
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->viewport()->installEventFilter(this);
    row_ = new QWidget(scroll_);
    rowLayout_ = new QHBoxLayout(row_);
    rowLayout_->setContentsMargins(12, 0, 12, 0);
    rowLayout_->setSpacing(12);
    scroll_->setWidget(row_);
    fullLayout->addWidget(scroll_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(12, 0, 12, 0);
    bottom->addStretch();
    clear_ = new QPushButton(full_);
    clear_->setObjectName(QStringLiteral("shelf.clear"));
    clear_->setFlat(true);
    clear_->setCursor(Qt::PointingHandCursor);
    clear_->setFont(pixelFont(clear_->font(), 11));
    clear_->setStyleSheet(QStringLiteral("QPushButton { color: rgba(255,255,255,140); border: none; padding: 0 2px; }"
                                         " QPushButton:hover { color: white; }"));
    connect(clear_, &QPushButton::clicked, this, [this] {
        if (!shelf_) return;
        animateNext_ = true;
        shelf_->setItems({});
    });
    bottom->addWidget(clear_);
    fullLayout->addLayout(bottom);
    layers_->addWidget(full_);

    if (shelf_) connect(shelf_, &ShelfStore::itemsChanged, this, &ShelfView::rebuild);
    connect(&L10n::shared(), &L10n::languageChanged, this, &ShelfView::retranslate);
    retranslate();
    rebuild();
}

bool ShelfView::showsEmptyState() const { return layers_->currentWidget() == empty_; }

QList<ShelfItemView*> ShelfView::itemViews() const {
    return row_->findChildren<ShelfItemView*>(QString(), Qt::FindDirectChildrenOnly);
}

void ShelfView::retranslate() {
    dropTitle_->setText(t("shelf.drop"));
    dropHint_->setText(t("shelf.dropHint"));
    clear_->setText(t("shelf.clear"));
}

void ShelfView::rebuild() {
    // A clear or a removal happens under the default animation: what goes fades out where it
    // was, the files that stay glide to their new places.
    const bool animated = std::exchange(animateNext_, false);
    const QList<QUrl> items = shelf_ ? shelf_->items() : QList<QUrl>{};
    QHash<QUrl, QPoint> before;
    // The drop zone's outline is the view's own: it stays while the row fades.
    if (animated && items.isEmpty()) motion::fadeOutPicture(full_, motion::standard(), nullptr, motion::Background::without);
    for (ShelfItemView* v : itemViews()) {
        if (!animated || items.isEmpty()) continue;
        if (items.contains(v->url())) before[v->url()] = v->pos();
        else motion::fadeOutPicture(v, motion::standard());
    }
    // Later, not now: a removal arrives from inside the item's own menu.
    for (ShelfItemView* v : itemViews()) {
        v->hide();
        v->setParent(nullptr);
        v->deleteLater();
    }
    while (QLayoutItem* item = rowLayout_->takeAt(0)) delete item;
    QList<ShelfItemView*> made;
    for (const QUrl& url : items) {
        auto* view = new ShelfItemView(url, shelf_, workspace_, clipboard_, row_);
        view->beforeRemove = [this] { animateNext_ = true; };
        rowLayout_->addWidget(view, 0, Qt::AlignVCenter);
        // Shown now, not on the next pass, so the layout places it before it glides there.
        if (row_->isVisible()) view->show();
        made << view;
    }
    rowLayout_->addStretch();
    layers_->setCurrentWidget(items.isEmpty() ? empty_ : full_);
    if (before.isEmpty()) return;
    rowLayout_->activate();
    for (ShelfItemView* view : made)
        if (before.contains(view->url())) motion::slideFrom(view, before[view->url()], motion::standard());
}

void ShelfView::setTargeted(bool on) {
    if (targeted_ == on) return;
    targeted_ = on;
    update();
}

void ShelfView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Stroked inside the shape: inset by half the line width.
    const QRectF zone = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
    if (targeted_) {
        QColor tint = accent();
        tint.setAlphaF(0.12);
        p.setPen(Qt::NoPen);
        p.setBrush(tint);
        p.drawRoundedRect(zone, 16, 16);
    }
    QPen pen(targeted_ ? accent() : QColor(255, 255, 255, 64), 1.5);
    pen.setDashPattern({6 / 1.5, 5 / 1.5}); // the pattern is in line widths
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(zone, 16, 16);
}

void ShelfView::dragEnterEvent(QDragEnterEvent* event) {
    if (!ShelfStore::carriesFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setTargeted(true);
}

void ShelfView::dragMoveEvent(QDragMoveEvent* event) {
    if (ShelfStore::carriesFiles(event->mimeData())) event->acceptProposedAction();
}

void ShelfView::dragLeaveEvent(QDragLeaveEvent*) { setTargeted(false); }

void ShelfView::dropEvent(QDropEvent* event) {
    setTargeted(false);
    if (shelf_ && shelf_->handleDrop(event->mimeData())) event->acceptProposedAction();
    else event->ignore();
}

bool ShelfView::eventFilter(QObject* watched, QEvent* event) {
    // The row scrolls sideways; an ordinary wheel turns it too, with no bar shown.
    if (watched == scroll_->viewport() && event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint delta = wheel->angleDelta();
        const int step = qAbs(delta.x()) > qAbs(delta.y()) ? delta.x() : delta.y();
        QScrollBar* bar = scroll_->horizontalScrollBar();
        bar->setValue(bar->value() - step / 2);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lomex
