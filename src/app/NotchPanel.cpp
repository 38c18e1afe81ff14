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
#include <QApplication>
#include <QBuffer>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace lomex {

namespace {
constexpr double kFollowSeconds = 0.5; // "mouse": how often the pointer's screen is checked
constexpr int kHiddenPillHeight = 3;   // pill shown only while active: the hover strip left
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
        if (key == QLatin1String("displayChoice")) {
            place();
            updateMouseFollow();
        } else if (key == QLatin1String("pillMode")) {
            updateShape();
        }
    });
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
    const int idx = chooseScreen(settings_->stringValue(QStringLiteral("displayChoice")), list, screens_->cursorPos());
    screenIndex_ = idx;
    if (idx < 0) return;
    const QRect frame = list[idx].frame;
    model_->configure(frame);
    move(frame.x() + (frame.width() - width()) / 2, frame.y());
    updateShape();
}

void NotchPanel::updateMouseFollow() {
    const bool follow = settings_->stringValue(QStringLiteral("displayChoice")) == QLatin1String("mouse") &&
                        screens_->screens().size() > 1;
    if (follow && !followTimer_->isActive())
        followTimer_->start(kFollowSeconds, true);
    else if (!follow)
        followTimer_->stop();
}

bool NotchPanel::pillShown() const {
    return settings_->stringValue(QStringLiteral("pillMode")) != QLatin1String("activity") ||
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
    if (next == shape_) return;
    shape_ = next;
    setMask(shape_);
    update();
}

void NotchPanel::pointerPressed(QPoint global) {
    if (model_->isOpen() && !model_->openHotRect().contains(global)) model_->close();
}

void NotchPanel::makeKey() {
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
    model_->hoverNotch(true);
    event->accept();
}

void NotchPanel::dragMoveEvent(QDragMoveEvent* event) {
    // Only the pages that take drops (the shelf) accept them.
    event->ignore();
}

bool NotchPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragLeave) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && (w == this || isAncestorOf(w))) {
            if (event->type() == QEvent::DragEnter) model_->hoverNotch(true);
            else if (!pointerOverOpenNotch()) model_->hoverNotch(false);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void NotchPanel::mousePressEvent(QMouseEvent* event) {
    // Taking a press inside the notch makes it key, so Esc reaches it afterwards.
    if (model_->isOpen()) makeKey();
    QWidget::mousePressEvent(event);
}

} // namespace lomex
