#include "tabs/ShelfView.h"
#include "core/L10n.h"
#include "device/ShelfStore.h"
#include "tabs/FeedRows.h"
#include "platform/Clipboard.h"
#include "platform/Workspace.h"
#include "ui/ElidedLabel.h"
#include "ui/Motion.h"
#include "ui/Symbols.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QTimer>
#include <QVariantAnimation>
#include <algorithm>
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
    : QWidget(parent), shelf_(shelf), workspace_(workspace), clipboard_(clipboard) {
    setAttribute(Qt::WA_Hover);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(4);
    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("icon"));
    icon_->setFixedSize(iconSize, iconSize);
    icon_->setScaledContents(true);
    layout->addWidget(icon_, 0, Qt::AlignHCenter);
    name_ = label(10, Qt::white, this);
    name_->setObjectName(QStringLiteral("name"));
    name_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    name_->setFixedWidth(nameWidth);
    layout->addWidget(name_, 0, Qt::AlignHCenter);
    layout->addStretch();
    setUrl(url);
}

void ShelfItemView::setUrl(const QUrl& url) {
    url_ = url;
    setToolTip(plainToolTip(url_.toLocalFile())); // file names may look like markup
    pixmap_ = workspace_->icon(url_.toLocalFile()).pixmap(QSize(iconSize, iconSize), devicePixelRatioF());
    name_->setText(twoLines(QFileInfo(url_.toLocalFile()).fileName(), name_->font(), nameWidth));
    missing_ = !QFileInfo::exists(url_.toLocalFile());
    showMissing();
}

void ShelfItemView::checkMissing() {
    const bool gone = !QFileInfo::exists(url_.toLocalFile());
    if (gone == missing_) return;
    missing_ = gone;
    showMissing();
}

// A file that is gone stays on the shelf until removed, faint, so it is told from the others.
void ShelfItemView::showMissing() {
    QPalette pal = name_->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 255, 255, missing_ ? 90 : 230));
    name_->setPalette(pal);
    if (!missing_ || pixmap_.isNull()) {
        icon_->setPixmap(pixmap_);
        return;
    }
    QPixmap faint(pixmap_.size());
    faint.setDevicePixelRatio(pixmap_.devicePixelRatio());
    faint.fill(Qt::transparent);
    QPainter p(&faint);
    p.setOpacity(0.35);
    p.drawPixmap(0, 0, pixmap_);
    p.end();
    icon_->setPixmap(faint);
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
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    layers_ = new QStackedLayout;
    outer->addLayout(layers_, 1);

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
    // The items are placed by hand at fixed steps, so the row knows where any file is without
    // an item for each.
    row_ = new QWidget(scroll_);
    scroll_->setWidget(row_);
    connect(scroll_->horizontalScrollBar(), &QScrollBar::valueChanged, this, &ShelfView::realize);
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

    notice_ = new ElidedLabel(this);
    notice_->setObjectName(QStringLiteral("shelfNotice"));
    notice_->setTextFormat(Qt::PlainText);
    notice_->setFont(pixelFont(notice_->font(), 11));
    notice_->setContentsMargins(12, 0, 12, 6);
    QPalette red = notice_->palette();
    red.setColor(QPalette::WindowText, QColor(255, 105, 97));
    notice_->setPalette(red);
    notice_->hide();
    outer->addWidget(notice_);

    if (shelf_) {
        connect(shelf_, &ShelfStore::itemsChanged, this, &ShelfView::itemsChanged);
        connect(shelf_, &ShelfStore::statusChanged, this, &ShelfView::showStatus);
    }
    connect(&L10n::shared(), &L10n::languageChanged, this, &ShelfView::retranslate);
    retranslate();
    itemsChanged();
}

bool ShelfView::showsEmptyState() const { return layers_->currentWidget() == empty_; }

QList<ShelfItemView*> ShelfView::itemViews() const {
    QList<ShelfItemView*> out = views_.values();
    if (!shelf_) return out;
    std::sort(out.begin(), out.end(), [this](ShelfItemView* x, ShelfItemView* y) {
        return shelf_->indexOf(x->url()) < shelf_->indexOf(y->url());
    });
    return out;
}

void ShelfView::retranslate() {
    dropTitle_->setText(t("shelf.drop"));
    dropHint_->setText(t("shelf.dropHint"));
    clear_->setText(t("shelf.clear"));
    showStatus();
}

// What the shelf could not do, in words: not stored (and why), or files a drop left out (the
// bound) or did not find.
void ShelfView::showStatus() {
    QStringList lines;
    if (shelf_ && shelf_->saveError())
        lines << L10n::shared().t(QStringLiteral("shelf.notSaved"), {L10n::shared().worded(*shelf_->saveError()).message});
    if (shelf_ && shelf_->leftOut() > 0)
        lines << L10n::shared().t(QStringLiteral("shelf.full"), {ShelfStore::maxItems, shelf_->leftOut()});
    if (shelf_ && shelf_->notFound() > 0)
        lines << L10n::shared().t(QStringLiteral("shelf.notFound"), {shelf_->notFound()});
    notice_->setText(lines.join(QLatin1Char(' ')));
    notice_->setToolTip(plainToolTip(notice_->text()));
    notice_->setVisible(!lines.isEmpty());
}

void ShelfView::itemsChanged() {
    // A clear or a removal happens under the default animation: what goes fades out where it
    // was, the files that stay glide to their new places.
    const bool animated = std::exchange(animateNext_, false);
    const bool empty = !shelf_ || shelf_->items().isEmpty();
    QHash<ShelfItemView*, std::pair<QUrl, QPoint>> before;
    // The drop zone's outline is the view's own: it stays while the row fades.
    if (animated && empty) motion::fadeOutPicture(full_, motion::standard(), nullptr, motion::Background::without);
    for (ShelfItemView* v : std::as_const(views_)) {
        if (!animated || empty) continue;
        if (shelf_->indexOf(v->url()) >= 0) before.insert(v, {v->url(), v->pos()});
        else motion::fadeOutPicture(v, motion::standard());
    }
    layers_->setCurrentWidget(empty ? empty_ : full_);
    realize();
    // A drop is a moment the user looks at the shelf: a file gone since shows it now.
    for (ShelfItemView* v : std::as_const(views_)) v->checkMissing();
    // Only items that still show the same file glide; one reused for another file just appears.
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (it.key()->url() == it.value().first && views_.value(it.value().first) == it.key())
            motion::slideFrom(it.key(), it.value().second, motion::standard());
}

void ShelfView::realize() {
    const QList<QUrl> none;
    const QList<QUrl>& items = shelf_ ? shelf_->items() : none;
    const qsizetype n = items.size();
    row_->setMinimumWidth(n ? int(2 * gap + n * pitch - gap) : 0);
    // The items in view and a few on each side, so a short scroll finds them made.
    const int spare = 3 * pitch;
    const int left = scroll_->horizontalScrollBar()->value() - spare;
    const int right = scroll_->horizontalScrollBar()->value() + scroll_->viewport()->width() + spare;
    const qsizetype first = std::clamp<qsizetype>((left - gap) / pitch, 0, n);
    const qsizetype end = std::clamp<qsizetype>((right - gap) / pitch + 1, 0, n);
    // The items of files still in range stay as they are; the others are free to show the
    // files that came into range (a scroll makes no widgets, it renames them).
    QHash<QUrl, ShelfItemView*> kept;
    kept.reserve(end - first);
    for (qsizetype i = first; i < end; ++i)
        if (ShelfItemView* view = views_.take(items[i])) kept.insert(items[i], view);
    QList<ShelfItemView*> free = views_.values();
    for (qsizetype i = first; i < end; ++i) {
        ShelfItemView* view = kept.value(items[i]);
        if (!view && !free.isEmpty()) {
            view = free.takeLast();
            view->setUrl(items[i]);
            kept.insert(items[i], view);
        } else if (!view) {
            view = new ShelfItemView(items[i], shelf_, workspace_, clipboard_, row_);
            view->beforeRemove = [this] { animateNext_ = true; };
            kept.insert(items[i], view);
        }
        place(view, i);
    }
    // Later, not now: a removal arrives from inside the item's own menu.
    for (ShelfItemView* gone : std::as_const(free)) {
        gone->hide();
        gone->setParent(nullptr);
        gone->deleteLater();
    }
    views_ = std::move(kept);
}

void ShelfView::place(ShelfItemView* view, qsizetype index) {
    // A glide still running from an earlier change would carry the item off its new place.
    for (QVariantAnimation* a : view->findChildren<QVariantAnimation*>(QStringLiteral("motion"), Qt::FindDirectChildrenOnly))
        a->stop();
    const QSize size = view->sizeHint();
    view->setGeometry(int(gap + index * pitch), std::max(0, (row_->height() - size.height()) / 2), ShelfItemView::width,
                      size.height());
    // Shown now, not on the next pass, so it is in place before it glides there.
    if (row_->isVisible()) view->show();
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
    // Decided when the drag came in: a drag of thousands of files is not parsed at each move.
    if (targeted_) event->acceptProposedAction();
    else event->ignore();
}

void ShelfView::dragLeaveEvent(QDragLeaveEvent*) { setTargeted(false); }

void ShelfView::dropEvent(QDropEvent* event) {
    setTargeted(false);
    if (shelf_ && shelf_->handleDrop(event->mimeData())) event->acceptProposedAction();
    else event->ignore();
}

void ShelfView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The files may have gone while the shelf was not shown.
    for (ShelfItemView* v : std::as_const(views_)) v->checkMissing();
    realize();
}

bool ShelfView::eventFilter(QObject* watched, QEvent* event) {
    // A wider or narrower view has other items in it; a taller one centres them anew.
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) QTimer::singleShot(0, this, &ShelfView::realize);
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
