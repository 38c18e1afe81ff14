#include "notch/NotchModel.h"
#include "core/Settings.h"
#include <cmath>

namespace lomex {

namespace {
// The closed pill's centre: there is no camera notch to wrap on Linux, so the pill takes the
// proportions of one (wide enough to hover comfortably, as high as a top bar).
constexpr QSize kPillSize(190, 32);

const char* const kTabNames[] = {"home", "tasks", "agents", "transit", "clipboard", "timer", "shelf", "note"};
const char* const kLiveNames[] = {"none", "media", "timer", "meeting", "leave", "agent", "notice"};

double finiteNonNegative(double v) { return std::isfinite(v) && v > 0 ? v : 0.0; }
// Rounded to the millisecond as Timer::start rounds, so a deadline and its timer agree.
QDateTime secondsFrom(const QDateTime& t, double seconds) { return t.addMSecs(qint64(seconds * 1000.0 + 0.5)); }
} // namespace

const QList<NotchModel::Tab>& NotchModel::allTabs() {
    static const QList<Tab> tabs{Tab::home,      Tab::tasks, Tab::agents, Tab::transit,
                                 Tab::clipboard, Tab::timer, Tab::shelf,  Tab::note};
    return tabs;
}

QString NotchModel::rawName(Tab tab) { return QString::fromLatin1(kTabNames[int(tab)]); }
QString NotchModel::rawName(Live live) { return QString::fromLatin1(kLiveNames[int(live)]); }

std::optional<NotchModel::Tab> NotchModel::tabNamed(const QString& raw) {
    for (Tab t : allTabs())
        if (raw == QLatin1String(kTabNames[int(t)])) return t;
    return std::nullopt;
}

namespace {
// Known names in the given order, each once, followed by the missing tabs in case order.
QList<NotchModel::Tab> completeOrder(const QList<NotchModel::Tab>& given) {
    QList<NotchModel::Tab> out;
    for (auto t : given)
        if (!out.contains(t)) out << t;
    for (auto t : NotchModel::allTabs())
        if (!out.contains(t)) out << t;
    return out;
}
} // namespace

NotchModel::NotchModel(Clock* clock, Settings* settings, QObject* parent)
    : QObject(parent),
      clock_(clock ? clock : Clock::current()),
      settings_(settings ? settings : &Settings::shared()),
      notchSize_(kPillSize),
      openTick_(new Timer(clock_, this)),
      hoverOpenTimer_(new Timer(clock_, this)),
      hoverTabTimer_(new Timer(clock_, this)),
      toastTimer_(new Timer(clock_, this)),
      noticeTimer_(new Timer(clock_, this)) {
    tabsWithPages_ = QSet<Tab>(allTabs().begin(), allTabs().end());
    readTabOrder();
    readHiddenTabs();
    tab_ = firstVisible();
    // The file may be edited by hand while we run; our own writes come back here unchanged.
    connect(settings_, &Settings::changed, this, [this](const QString& key) {
        if (key == keys::tabOrder) readTabOrder();
        else if (key == keys::hiddenTabs) readHiddenTabs();
    });

    connect(openTick_, &Timer::timeout, this, &NotchModel::onOpenTick);
    connect(hoverOpenTimer_, &Timer::timeout, this, &NotchModel::onHoverOpen);
    connect(hoverTabTimer_, &Timer::timeout, this, [this] {
        auto t = hoveredTab_;
        hoveredTab_.reset();
        if (t && isOpen_) setTab(*t);
    });
    connect(toastTimer_, &Timer::timeout, this, [this] {
        if (toast_.isEmpty()) return;
        toast_.clear();
        Q_EMIT toastChanged();
    });
    connect(noticeTimer_, &Timer::timeout, this, [this] {
        if (!notice_) return;
        notice_.reset();
        Q_EMIT noticeChanged();
    });
}

NotchModel::~NotchModel() = default;

void NotchModel::setTab(Tab tab) {
    if (tab_ == tab) return;
    tab_ = tab;
    Q_EMIT tabChanged();
}

void NotchModel::setLive(Live live) {
    if (live_ == live) return;
    live_ = live;
    Q_EMIT liveChanged();
    Q_EMIT geometryChanged();
}

void NotchModel::setShowUsageRow(bool on) {
    if (showUsageRow_ == on) return;
    showUsageRow_ = on;
    Q_EMIT showUsageRowChanged();
    Q_EMIT geometryChanged();
}

void NotchModel::readTabOrder() {
    QList<Tab> stored;
    if (auto names = settings_->find(keys::tabOrder))
        for (const auto& n : *names)
            if (auto t = tabNamed(n)) stored << *t;
    const auto complete = completeOrder(stored);
    if (complete == tabOrder_) return;
    tabOrder_ = complete;
    Q_EMIT tabOrderChanged();
    visibleTabsMayHaveChanged();
}

void NotchModel::readHiddenTabs() {
    QSet<Tab> hidden;
    if (auto names = settings_->find(keys::hiddenTabs))
        for (const auto& n : *names)
            if (auto t = tabNamed(n)) hidden.insert(t.value());
    if (hidden == hiddenTabs_) return;
    hiddenTabs_ = hidden;
    Q_EMIT hiddenTabsChanged();
    visibleTabsMayHaveChanged();
}

void NotchModel::visibleTabsMayHaveChanged() {
    Q_EMIT visibleTabsChanged();
    if (!visibleTabs().contains(tab_)) setTab(firstVisible());
}

void NotchModel::setTabOrder(const QList<Tab>& order) {
    const auto complete = completeOrder(order);
    QStringList names;
    for (auto t : complete) names << rawName(t);
    settings_->set(keys::tabOrder, names);
    if (complete == tabOrder_) return;
    tabOrder_ = complete;
    Q_EMIT tabOrderChanged();
    visibleTabsMayHaveChanged();
}

void NotchModel::setHiddenTabs(const QSet<Tab>& hidden) {
    QStringList names;
    for (auto t : allTabs())
        if (hidden.contains(t)) names << rawName(t);
    settings_->set(keys::hiddenTabs, names);
    if (hidden == hiddenTabs_) return;
    hiddenTabs_ = hidden;
    Q_EMIT hiddenTabsChanged();
    visibleTabsMayHaveChanged();
}

void NotchModel::setTabsWithPages(const QSet<Tab>& tabs) {
    if (tabs == tabsWithPages_) return;
    tabsWithPages_ = tabs;
    visibleTabsMayHaveChanged();
}

QList<NotchModel::Tab> NotchModel::visibleTabs() const {
    QList<Tab> out;
    for (auto t : tabOrder_)
        if (!hiddenTabs_.contains(t) && tabsWithPages_.contains(t)) out << t;
    if (out.isEmpty()) out << Tab::home;
    return out;
}

int NotchModel::sideWidth(Live live) {
    switch (live) {
    case Live::none: return 0;
    case Live::media: return 44;  // artwork left, equalizer bars right
    case Live::notice: return 80; // device name, up to three battery levels
    default: return 64;           // a symbol left, a short text ("24:59", "12 min") right
    }
}

int NotchModel::sideWidth() const { return sideWidth(live_); }

int NotchModel::collapsedWidth() const { return notchSize_.width() + 2 * sideWidth(); }

QRect NotchModel::openHotRect() const {
    const int height = showUsageRow_ ? kOpenHeightWithUsage : kOpenHeight;
    const int left = screenFrame_.x() + (screenFrame_.width() - kOpenWidth) / 2;
    return QRect(left, screenFrame_.y(), kOpenWidth, height);
}

void NotchModel::configure(const QRect& screenFrame) {
    if (screenFrame == screenFrame_) return;
    screenFrame_ = screenFrame;
    Q_EMIT geometryChanged();
}

void NotchModel::setOpen(bool open) {
    if (isOpen_ == open) return;
    isOpen_ = open;
    Q_EMIT isOpenChanged();
}

void NotchModel::open(Tab tab) {
    setTab(hasPage(tab) ? tab : firstVisible());
    if (isOpen_) return;
    hoverOpenTimer_->stop();
    pointerInside_ = false;
    openTick_->start(kOpenTickSeconds, true);
    setOpen(true);
    if (settings_->get(keys::haptics) && hapticFeedback) hapticFeedback();
}

void NotchModel::close() {
    hoverOpenTimer_->stop();
    openOnShelf_ = false;
    if (!isOpen_) return;
    openTick_->stop();
    hoverTabTimer_->stop();
    hoveredTab_.reset();
    peekDeadline_.reset();
    pointerInside_ = false;
    setOpen(false);
}

void NotchModel::show(const QString& toast, double seconds) {
    seconds = finiteNonNegative(seconds);
    if (toast_ != toast) {
        toast_ = toast;
        Q_EMIT toastChanged();
    }
    toastTimer_->start(seconds);
    toastUntil_ = secondsFrom(clock_->now(), seconds);
    peek(seconds);
}

void NotchModel::show(const Notice& notice) {
    notice_ = notice;
    Q_EMIT noticeChanged();
    noticeTimer_->start(notice.seconds());
}

void NotchModel::peek(double seconds) {
    const QDateTime until = secondsFrom(clock_->now(), finiteNonNegative(seconds));
    // A shorter hold never cuts a longer one short (a quick toast must not end an approval's wait).
    if (peekDeadline_ && *peekDeadline_ > until) return;
    peekDeadline_ = until;
}

void NotchModel::endPeek() {
    const QDateTime now = clock_->now();
    if (toastUntil_ && *toastUntil_ > now && !toast_.isEmpty()) peekDeadline_ = toastUntil_;
    else peekDeadline_.reset();
    if (isOpen_ && !pointerInside_ && !peekHolds()) close();
}

bool NotchModel::peekHolds() const { return peekDeadline_ && clock_->now() < *peekDeadline_; }

bool NotchModel::isTicking() const { return openTick_->isActive(); }

void NotchModel::hoverTab(Tab tab, bool inside) {
    if (inside && !settings_->get(keys::hoverTabs)) return;
    dragOverTab(tab, inside);
}

void NotchModel::dragOverTab(Tab tab, bool inside) {
    if (inside) {
        hoveredTab_ = tab;
        hoverTabTimer_->start(kHoverTabSeconds);
    } else if (hoveredTab_ == tab) {
        hoveredTab_.reset();
        hoverTabTimer_->stop();
    }
}

void NotchModel::hoverNotch(bool inside, bool files) {
    if (isOpen_) {
        setPointerInside(inside, !inside);
        return;
    }
    if (!inside) {
        hoverOpenTimer_->stop();
        openOnShelf_ = false;
        return;
    }
    if (files) openOnShelf_ = true;
    if (hoverOpenTimer_->isActive()) return; // still resting; the first entry counts
    const double delay = finiteNonNegative(settings_->get(keys::hoverDelay));
    if (delay == 0) {
        onHoverOpen();
        return;
    }
    hoverOpenTimer_->start(delay);
}

void NotchModel::onHoverOpen() {
    if (isOpen_) return;
    const QList<Tab> visible = visibleTabs();
    Tab target = visible.contains(tab_) ? tab_ : visible.first();
    if (openOnShelf_ && visible.contains(Tab::shelf)) target = Tab::shelf;
    openOnShelf_ = false;
    open(target);
    pointerInside_ = true;
}

void NotchModel::setPointerInside(bool inside, bool explicitLeave) {
    if (!isOpen_) return;
    if (inside) {
        pointerInside_ = true;
        return;
    }
    const bool left = pointerInside_ || explicitLeave;
    pointerInside_ = false;
    if (left && !peekHolds()) close();
}

void NotchModel::onOpenTick() {
    if (!isOpen_) return;
    if (pointerLocation) setPointerInside(openHotRect().contains(pointerLocation()), false);
    if (!isOpen_) return;
    // When the hold runs out the notch closes unless the pointer is on it.
    if (peekDeadline_ && clock_->now() >= *peekDeadline_) {
        peekDeadline_.reset();
        if (!pointerInside_) close();
    }
}

} // namespace lomex
