#include "app/NotchPanel.h"
#include "ui/Accessibility.h"
#include "notch/NotchModel.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "notch/NotchRootView.h"
#include "notch/NotchShape.h"
#include "platform/Feedback.h"
#include "platform/PointerClicks.h"
#include "platform/Screens.h"
#include "platform/WindowHints.h"
#include <QApplication>
#include <QPointer>
#include <QWindow>
#include <utility>
#include <QBuffer>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace lomex {

namespace {
constexpr double kFollowSeconds = 0.5; // "mouse": how often the pointer's screen is checked
constexpr int kHiddenPillHeight = 3;   // pill shown only while active: the hover strip left
constexpr double kStripPollSeconds = 0.1; // the pointer over a strip that cannot take input
} // namespace

NotchPanel::NotchPanel(const Services& services, Screens* screens, Clock* clock, Settings* settings,
                       PointerClicks* clicks)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      model_(services.model),
      screens_(screens ? screens : Screens::current()),
      clock_(clock ? clock : Clock::current()),
      settings_(settings ? settings : &Settings::shared()),
      clicks_(clicks) {
    Q_ASSERT(model_);
    a11y::setRole(this, QAccessible::Window);
    setObjectName(QStringLiteral("notchPanel"));
    setWindowTitle(QStringLiteral("Lomex"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::StrongFocus);
    // Only the root view paints, black where the notch is. The hover strip of a pill shown
    // only while active stays unpainted, so on a compositing desktop it is invisible while
    // it still takes the pointer (the window shape decides input, not the alpha).
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    // Pages inherit a black window colour for whatever they fill themselves.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setFixedSize(NotchModel::kOpenWidth, NotchModel::kOpenHeightWithUsage);
    // Drags over any part of the notch count as hovering it (see eventFilter).
    setAcceptDrops(true);
    qApp->installEventFilter(this);

    root_ = new NotchRootView(services, this);
    root_->setGeometry(rect());

    stripWatch_ = new Timer(clock_, this);
    connect(stripWatch_, &Timer::timeout, this, &NotchPanel::checkStripHover);
    followTimer_ = new Timer(clock_, this);
    connect(followTimer_, &Timer::timeout, this, [this] {
        const int idx = chooseScreen(QStringLiteral("mouse"), screens_->screens(), screens_->cursorPos());
        if (idx != screenIndex_) place();
    });
    if (!clicks_) clicks_ = PointerClicks::create(this).release();
    connect(clicks_, &PointerClicks::pressed, this, &NotchPanel::pointerPressed);

    Screens* s = screens_;
    model_->pointerLocation = [s] { return s->cursorPos(); };
    model_->hapticFeedback = [] { feedback::haptic(feedback::Haptic::levelChange); };

    connect(model_, &NotchModel::isOpenChanged, this, [this] {
        if (model_->isOpen()) rememberFocus();
        else giveFocusBack();
        updateShape();
        // Watching starts with the first opening, so a notch never opened costs nothing.
        if (model_->isOpen() && !clicks_->isWatching()) clicks_->start();
    });
    // A new live activity or usage row comes with geometryChanged.
    connect(model_, &NotchModel::geometryChanged, this, &NotchPanel::updateShape);
    connect(model_, &NotchModel::notchSizeChanged, this, &NotchPanel::updateShape);
    connect(screens_, &Screens::screensChanged, this, [this] {
        place();
        updateMouseFollow();
    });
    connect(settings_, &Settings::changed, this, [this](const QString& key) {
        if (key == keys::displayChoice) {
            place();
            updateMouseFollow();
        } else if (key == keys::pillMode) {
            updateShape();
        }
    });
    // The native window now, so the window manager learns what it is before it maps it.
    create();
    windowhints::markAsDesktopPanel(this);
    watchScreen();
    place();
    updateMouseFollow();
    updateShape();
}

NotchPanel::~NotchPanel() {
    if (model_) {
        model_->pointerLocation = nullptr;
        model_->hapticFeedback = nullptr;
    }
}

void NotchPanel::place() {
    const QList<ScreenInfo> list = screens_->screens();
    const int idx = chooseScreen(settings_->get(keys::displayChoice), list, screens_->cursorPos());
    screenIndex_ = idx;
    if (idx < 0) return;
    // Below a panel along the screen's top edge (its clock often sits at the centre), as a
    // camera notch sits below nothing.
    QRect frame = list[idx].frame;
    const QRect work = list[idx].available;
    if (work.isValid() && work.top() > frame.top() && work.top() < frame.top() + frame.height() / 4) frame.setTop(work.top());
    home_ = QPoint(frame.x() + (frame.width() - width()) / 2, frame.y());
    move(home_);
    model_->configure(frame);
    updateShape();
}

void NotchPanel::updateMouseFollow() {
    const bool follow = settings_->get(keys::displayChoice) == QLatin1String("mouse") &&
                        screens_->screens().size() > 1;
    if (follow && !followTimer_->isActive())
        followTimer_->start(kFollowSeconds, true);
    else if (!follow)
        followTimer_->stop();
}

bool NotchPanel::pillShown() const {
    return settings_->get(keys::pillMode) != QLatin1String("activity") ||
           model_->live() != NotchModel::Live::none;
}

void NotchPanel::updateShape() {
    const bool pill = pillShown();
    QRegion next;
    if (model_->isOpen()) {
        next = notchshape::region(notchshape::expandedRect(*model_), notchshape::kOpenRadius);
    } else if (pill) {
        next = notchshape::region(notchshape::collapsedRect(*model_), notchshape::kClosedRadius);
    } else {
        QRect strip = notchshape::collapsedRect(*model_);
        strip.setHeight(kHiddenPillHeight);
        next = QRegion(strip);
    }
    root_->setPillVisible(pill);
    // The native shape is in device pixels: on a screen of another scale the same logical
    // shape must be applied again.
    const qreal scale = devicePixelRatioF();
    // Asking whether a compositor runs is a round trip to the X server, which takes tens of
    // milliseconds while it is busy: asked when the shape changes (every opening and closing),
    // not for each new live activity that leaves it as it is.
    if (next == shape_ && scale == shapeScale_) return;
    // With a compositor the outline is drawn antialiased on the translucent window and only
    // input is shaped; without one a mask cuts the window, which steps the corners.
    const bool blended = windowhints::compositing();
    const bool rescaled = next == shape_;
    shape_ = next;
    shapeScale_ = scale;
    blended_ = blended;
    bool stripHidden = false;
    if (blended && windowhints::setInputShape(this, shape_)) {
        clearMask();
    } else {
        setMask(shape_);
        if (rescaled && windowHandle()) windowHandle()->setMask(shape_);
        windowhints::setInputShape(this, {});
        // Without a compositor every pixel inside the mask is drawn, unpainted ones black: the
        // hidden pill's strip showed as a black bar. The window draws nothing instead, and the
        // pointer on the strip is watched rather than received.
        if (!model_->isOpen() && !pill && !blended) {
            windowhints::clearBoundingShape(this);
            stripHidden = true;
        }
    }
    drawn_ = stripHidden ? QRegion() : shape_;
    if (stripHidden && !stripWatch_->isActive()) {
        stripWatch_->start(kStripPollSeconds, true);
    } else if (!stripHidden && stripWatch_->isActive()) {
        stripWatch_->stop();
        pointerOnStrip_ = false;
    }
    update();
}

void NotchPanel::checkStripHover() {
    // As enter and leave would say it of a strip that could take the pointer.
    const bool on = shape_.translated(pos()).contains(screens_->cursorPos());
    if (on == pointerOnStrip_) return;
    pointerOnStrip_ = on;
    model_->hoverNotch(on);
}

void NotchPanel::watchScreen() {
    QWindow* window = windowHandle();
    if (!window) return;
    connect(window, &QWindow::screenChanged, this, [this] { updateShape(); });
}

void NotchPanel::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // The panel is no window to arrange: moved anyway (a window manager's Alt+drag), it goes back.
    if (screenIndex_ >= 0 && pos() != home_) {
        QPointer<NotchPanel> self(this);
        QMetaObject::invokeMethod(this, [self] {
            if (self && self->screenIndex_ >= 0 && self->pos() != self->home_) self->move(self->home_);
        }, Qt::QueuedConnection);
    }
}

void NotchPanel::rememberFocus() {
    const quint64 active = windowhints::activeWindow();
    const bool handing = handedAt_.isValid() && !handedAt_.hasExpired(kHandOverMs);
    if (active != 0 && active != quint64(winId())) focusBefore_ = active;
    else focusBefore_ = handing ? handedTo_ : 0;
    clickFocusAt_.invalidate();
}

void NotchPanel::giveFocusBack() {
    const quint64 before = std::exchange(focusBefore_, 0);
    clickFocusAt_.invalidate();
    if (!before) return;
    // Only when the keyboard is still ours: a window the user chose meanwhile keeps it.
    if (holdsKeyboard()) handKeyboardTo(before);
}

void NotchPanel::handClickFocusBack() {
    if (!model_->isOpen() || !focusBefore_ || QApplication::activePopupWidget()) return;
    handKeyboardTo(focusBefore_);
}

void NotchPanel::handKeyboardTo(quint64 window) {
    handedTo_ = window;
    handedAt_.start();
    windowhints::activate(window);
}

bool NotchPanel::holdsKeyboard() const {
    // Either account may lag: the window manager's property, or Qt's until its focus events arrive.
    return windowhints::activeWindow() == quint64(winId()) || isActiveWindow();
}

bool NotchPanel::clickTakesText(QWidget* target) const {
    // A text view's events reach its viewport, a child of the field.
    for (QWidget* w = target; w; w = w->parentWidget()) {
        if (w->testAttribute(Qt::WA_InputMethodEnabled)) return true;
        if (w == this) break;
    }
    // The press made the field it hit the panel's focus child even while the window manager
    // has yet to give us the keyboard (QApplication::focusWidget() follows only then). A
    // button clicked while typing in a field leaves the keys with that field.
    const QWidget* focused = focusWidget();
    return focused && focused->isVisible() && focused->testAttribute(Qt::WA_InputMethodEnabled);
}

void NotchPanel::pointerPressed(QPoint global) {
    if (model_->isOpen() && !model_->openHotRect().contains(global)) model_->close();
}

void NotchPanel::makeKey() {
    clickFocusAt_.invalidate();
    if (!isVisible()) show();
    raise();
    activateWindow();
    // A view inside that holds the focus (a text field of a page) keeps it, so typing goes
    // there; otherwise the panel itself takes the keys (Esc).
    QWidget* focused = focusWidget();
    if (!focused || !isAncestorOf(focused)) setFocus(Qt::OtherFocusReason);
}

QByteArray NotchPanel::snapshotPng() const {
    const QRect area = shape_.isEmpty() ? rect() : shape_.boundingRect();
    const QPixmap pm = const_cast<NotchPanel*>(this)->grab(area);
    // Outside the shape nothing of the panel shows on screen: keep it transparent.
    QImage out(pm.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(pm.devicePixelRatio());
    out.fill(Qt::transparent);
    {
        QPainter p(&out);
        if (!shape_.isEmpty()) p.setClipRegion(shape_.translated(-area.topLeft()));
        p.drawPixmap(0, 0, pm);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    out.save(&buffer, "PNG");
    return bytes;
}

void NotchPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && model_->isOpen()) {
        model_->close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void NotchPanel::enterEvent(QEnterEvent* event) {
    model_->hoverNotch(true);
    QWidget::enterEvent(event);
}

void NotchPanel::leaveEvent(QEvent* event) {
    // A drag starting inside grabs the pointer, which sends a leave while the pointer is still
    // over the notch; only a real exit counts.
    if (!pointerOverOpenNotch()) model_->hoverNotch(false);
    QWidget::leaveEvent(event);
}

bool NotchPanel::pointerOverOpenNotch() const {
    return model_->isOpen() && model_->openHotRect().contains(screens_->cursorPos());
}

// While a drag is in progress the window system sends no enter or leave events, so a drag over
// the notch counts as hovering it: files can be dragged onto the closed notch, and the open
// one stays open while a drag crosses it.
void NotchPanel::dragEnterEvent(QDragEnterEvent* event) {
    // Files are meant for the shelf: the notch opens there.
    model_->hoverNotch(true, event->mimeData() && event->mimeData()->hasUrls());
    event->accept();
}

void NotchPanel::dragMoveEvent(QDragMoveEvent* event) {
    // Only the pages that take drops (the shelf) accept them.
    event->ignore();
}

bool NotchPanel::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && (w == this || isAncestorOf(w))) {
            // Each click gives its own verdict when it ends; until then an activation is its own.
            if (type == QEvent::MouseButtonPress) {
                clickFocusAt_.invalidate();
            } else if (model_->isOpen() && focusBefore_ && !clickTakesText(w)) {
                // A click on a button or a tab makes the window manager give us the keyboard:
                // before the click ends, after it, or not at all. It goes back now when we hold
                // it already, and at every activation the click brings. Menus opened by the
                // click keep theirs until they close.
                clickFocusAt_.start();
                QPointer<NotchPanel> self(this);
                QMetaObject::invokeMethod(this, [self] {
                    if (self && self->clickFocusAt_.isValid() && self->holdsKeyboard()) self->handClickFocusBack();
                }, Qt::QueuedConnection);
            }
        }
    }
    if (type == QEvent::WindowActivate && watched == this && clickFocusAt_.isValid()) {
        if (clickFocusAt_.hasExpired(kClickFocusMs)) clickFocusAt_.invalidate();
        else handClickFocusBack();
    }
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragLeave) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && (w == this || isAncestorOf(w))) {
            if (event->type() == QEvent::DragEnter) {
                const QMimeData* data = static_cast<QDragEnterEvent*>(event)->mimeData();
                model_->hoverNotch(true, data && data->hasUrls());
            }
            else if (!pointerOverOpenNotch()) model_->hoverNotch(false);
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lomex
