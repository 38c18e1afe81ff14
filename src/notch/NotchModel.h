#pragma once
#include "core/Clock.h"
#include "device/Notice.h"
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

namespace lomex {

class Settings;

// The one model of the notch: open or closed, the shown tab, the closed notch's live activity,
// toasts and notices, the tab order, and the hover timing that opens the notch and switches tabs.
// Lives on the GUI thread. Every time rule runs on the injected Clock.
class NotchModel : public QObject {
    Q_OBJECT
public:
    // The tabs of the open notch, in case order. Raw names (rawName) are the case names; they
    // are stored in settings and used by debug commands.
    enum class Tab { home, tasks, agents, transit, clipboard, timer, shelf, note };
    Q_ENUM(Tab)

    // The one live activity shown by the closed notch.
    enum class Live { none, media, timer, meeting, leave, agent, notice };
    Q_ENUM(Live)

    static const QList<Tab>& allTabs();                       // case order
    static QString rawName(Tab tab);                          // "home", "tasks", ...
    static std::optional<Tab> tabNamed(const QString& raw);   // exact raw name, else none
    static QString rawName(Live live);                        // "none", "media", ...

    // Time rules.
    static constexpr double kHoverTabSeconds = 0.18;          // tab bar hover switch
    static constexpr double kOpenTickSeconds = 0.15;          // open-state tick
    static constexpr int kOpenWidth = 724;                    // openHotRect width
    static constexpr int kOpenHeightWithUsage = 306;
    static constexpr int kOpenHeight = 284;

    // Reads "tabOrder" and "hiddenTabs" from settings (nullptr: Settings::shared()).
    explicit NotchModel(Clock* clock = nullptr, Settings* settings = nullptr, QObject* parent = nullptr);
    ~NotchModel() override;

    // ---- published state ----
    bool isOpen() const { return isOpen_; }
    Tab tab() const { return tab_; }
    void setTab(Tab tab);
    // Size of the closed pill's centre part (no camera notch on Linux: our own pill size).
    QSize notchSize() const { return notchSize_; }
    bool hasPhysicalNotch() const { return false; }
    Live live() const { return live_; }
    void setLive(Live live); // written by LiveActivity
    // The toast line; empty when none is shown.
    QString toast() const { return toast_; }
    bool showUsageRow() const { return showUsageRow_; }
    void setShowUsageRow(bool on);
    const std::optional<Notice>& notice() const { return notice_; }

    // Tab order: always every tab exactly once. Assigning stores the whole list under
    // "tabOrder"; nothing is stored before the first assignment. Missing tabs are appended in
    // case order and repeats dropped, so the list stays complete.
    const QList<Tab>& tabOrder() const { return tabOrder_; }
    void setTabOrder(const QList<Tab>& order);
    // Hidden tabs; assigning stores them under "hiddenTabs" (an empty set as an empty array).
    const QSet<Tab>& hiddenTabs() const { return hiddenTabs_; }
    void setHiddenTabs(const QSet<Tab>& hidden);

    // The tabs that have a page (the app sets them once its pages are in; until then every
    // tab counts as having one). A tab without a page keeps its place in tabOrder and
    // hiddenTabs, but the bar leaves it out and the notch never shows it.
    void setTabsWithPages(const QSet<Tab>& tabs);
    bool hasPage(Tab tab) const { return tabsWithPages_.contains(tab); }

    // ---- derived ----
    // tabOrder without hiddenTabs and without tabs that have no page; home alone when nothing
    // remains.
    QList<Tab> visibleTabs() const;
    // Width of one side of the closed pill that holds the live activity (0 for none).
    int sideWidth() const;
    static int sideWidth(Live live);
    // notchSize width plus both sides.
    int collapsedWidth() const;
    // Screen frame last given to configure().
    QRect screenFrame() const { return screenFrame_; }
    // The open notch's area for pointer hit tests: 724 wide, 306 high with the usage row and
    // 284 otherwise, centred on the screen frame's horizontal middle, top at its top.
    QRect openHotRect() const;

    // ---- operations ----
    // Shows the given tab, opening the notch when closed (haptic feedback on opening while
    // "haptics" is on). A tab without a page gives the first visible tab instead.
    void open(Tab tab);
    // Closes an open notch: stops the open tick, clears the peek deadline. No effect when closed.
    void close();
    // Shows a toast for `seconds` and holds the notch open for as long (the peek deadline).
    void show(const QString& toast, double seconds);
    // Shows a notice in the closed notch; cleared after 6 s for a low battery, 4 s otherwise.
    void show(const Notice& notice);
    // Holds the notch open for `seconds` from now even when the pointer is elsewhere
    // (an approval waiting for its answer uses its reply time limit).
    void peek(double seconds);
    // Ends a hold that no longer has a reason (the approval it waited for was answered): only a
    // toast still on screen keeps the notch open; without one, an open notch the pointer is not
    // on closes now.
    void endPeek();
    // Tab bar hover: switches to `tab` after 0.18 s of hovering while "hoverTabs" is on.
    void hoverTab(Tab tab, bool inside);
    // A drag resting on a tab: switches to it after 0.18 s whatever "hoverTabs" says, as a drag
    // cannot click.
    void dragOverTab(Tab tab, bool inside);
    // The pointer entered (true) or left (false) the notch: the closed pill or, while open,
    // openHotRect. Closed: opens after "hoverDelay" seconds of rest. Open: leaving closes,
    // unless the peek deadline holds; then it closes when the deadline passes with the
    // pointer still outside. A drag carrying files (`files`) opens the closed notch on the
    // shelf while the shelf is visible, where they can be dropped.
    void hoverNotch(bool inside, bool files = false);
    // Places the notch on a screen: its frame in global coordinates.
    void configure(const QRect& screenFrame);

    // Peek deadline: the notch stays open until then though the pointer is elsewhere.
    std::optional<QDateTime> peekDeadline() const { return peekDeadline_; }
    bool peekHolds() const; // a deadline is set and not yet reached

    // Optional pointer source (global coordinates) polled by the open-state tick; the panel
    // sets it to the cursor position. Without it the model relies on hoverNotch().
    std::function<QPoint()> pointerLocation;
    // Trackpad feedback when the notch opens; no counterpart on Linux, so empty by default.
    std::function<void()> hapticFeedback;

    bool isTicking() const;
    Clock* clock() const { return clock_; }

Q_SIGNALS:
    void isOpenChanged();
    void tabChanged();
    void notchSizeChanged();
    void liveChanged();
    void toastChanged();
    void showUsageRowChanged();
    void noticeChanged();
    void tabOrderChanged();
    void hiddenTabsChanged();
    void visibleTabsChanged();
    // sideWidth, collapsedWidth or openHotRect may have changed.
    void geometryChanged();

private:
    void onOpenTick();
    void onHoverOpen();
    // Reads "tabOrder" and "hiddenTabs" as stored (at start and after an edit of the file).
    void readTabOrder();
    void readHiddenTabs();
    // Emits visibleTabsChanged and keeps the shown tab among the visible ones.
    void visibleTabsMayHaveChanged();
    Tab firstVisible() const { return visibleTabs().first(); }
    // explicitLeave: the panel reported a leave (not a polled position).
    void setPointerInside(bool inside, bool explicitLeave);
    void setOpen(bool open);

    Clock* clock_;
    Settings* settings_;
    bool isOpen_ = false;
    Tab tab_ = Tab::home;
    QSize notchSize_;
    Live live_ = Live::none;
    QString toast_;
    bool showUsageRow_ = false;
    std::optional<Notice> notice_;
    QList<Tab> tabOrder_;
    QSet<Tab> hiddenTabs_;
    QSet<Tab> tabsWithPages_;
    bool openOnShelf_ = false;
    QRect screenFrame_;
    std::optional<QDateTime> peekDeadline_;
    std::optional<QDateTime> toastUntil_;
    bool pointerInside_ = false;
    std::optional<Tab> hoveredTab_;
    Timer* openTick_;
    Timer* hoverOpenTimer_;
    Timer* hoverTabTimer_;
    Timer* toastTimer_;
    Timer* noticeTimer_;
};

inline size_t qHash(NotchModel::Tab tab, size_t seed = 0) { return ::qHash(int(tab), seed); }

} // namespace lomex
