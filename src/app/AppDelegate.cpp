#include "app/AppDelegate.h"
#include "agents/AgentSwitch.h"
#include "agents/ApprovalCenter.h"
#include "agents/ReplySender.h"
#include "agents/views/AgentViews.h"
#include "notch/LiveActivity.h"
#include "app/NotchPanel.h"
#include "settings/SettingsNav.h"
#include "settings/SettingsView.h"
#include "app/StatusMenu.h"
#include "calendar/ContactsService.h"
#include "calendar/EventService.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "device/ClipboardStore.h"
#include "feeds/TransitService.h"
#include "feeds/UpdateChecker.h"
#include "feeds/WeatherService.h"
#include "device/Monitors.h"
#include "device/PomodoroTimer.h"
#include "feeds/UsageMonitor.h"
#include "platform/DesktopMotion.h"
#include "platform/PasteKeys.h"
#include "device/ShelfStore.h"
#include "platform/PowerSource.h"
#include "settings/SetupModel.h"
#include "settings/SetupWizard.h"
#include "ui/KeyGuard.h"
#include "tabs/NoteView.h"
#include "tabs/TransitView.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchRootView.h"
#include "platform/DebugChannel.h"
#include "core/FileIO.h"
#include "platform/HotKeys.h"
#include "core/Paths.h"
#include "platform/LoginItem.h"
#include "platform/Screens.h"
#include "platform/WindowHints.h"
#include "tabs/ShelfView.h"
#include "ui/Motion.h"
#include <utility>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace lomex {

namespace {
AppDelegate* g_shared = nullptr;
constexpr double kSetupDelaySeconds = 0.8;
// Room for a title bar the window manager adds, before the window is first shown.
constexpr int kTitleBarAllowance = 40;

// The part of the primary screen's work area a window's content may take (its frame aside).
QSize roomFor(const QWidget* window) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const int frame = window->isVisible() ? window->frameGeometry().height() - window->height() : kTitleBarAllowance;
    const int side = window->isVisible() ? window->frameGeometry().width() - window->width() : 0;
    return screen->availableGeometry().size() - QSize(side, std::max(frame, 0));
}

void centreOnPrimary(QWidget* window) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect avail = screen->availableGeometry();
    // move() places the frame, title bar included.
    QRect frame(QPoint(), window->size() + QSize(0, kTitleBarAllowance));
    frame.moveCenter(avail.center());
    // Never above the work area: the title bar stays in reach.
    window->move(frame.left(), std::max(frame.top(), avail.top()));
}
} // namespace

AppDelegate::AppDelegate(Clock* clock, Screens* screens, QObject* parent)
    : QObject(parent),
      clock_(clock ? clock : Clock::current()),
      screens_(screens ? screens : Screens::current()),
      debugSocketPath_(debugchannel::socketPath()) {
    // One of each, in this order; later subsystems add theirs at their place in the line:
    // NotchModel, MediaController, BatteryMonitor, HeadphoneMonitor, AudioSpectrum,
    // PomodoroTimer, ShelfStore, EventService, ClipboardStore, UsageMonitor, PaletteModel,
    // SetupModel, ContactsService, WeatherService, TransitService, UpdateChecker,
    // SessionStore, ApprovalCenter.
    model_ = new NotchModel(clock_, nullptr, this);
    battery_ = new BatteryMonitor(new UPowerSource(this), nullptr, this);
    headphones_ = new HeadphoneMonitor(nullptr, nullptr, this);
    pomodoro_ = new PomodoroTimer(nullptr, this);
    shelf_ = new ShelfStore(nullptr, clock_, this);
    events_ = new EventService(nullptr, clock_, nullptr, nullptr, this);
    clipboard_ = new ClipboardStore(clock_, nullptr, nullptr, nullptr, nullptr, {}, this);
    settingsNav_ = new SettingsNav(this);
    usage_ = new UsageMonitor(clock_, this);
    setup_ = new SetupModel(usage_, clock_, this);
    setup_->calendarAccess = [this] { return events_->eventsAccess(); };
    setup_->remindersAccess = [this] { return events_->remindersAccess(); };
    setup_->accessibilityTrusted = [] { return PasteKeys::current()->trusted(); };
    agentSwitch_ = new AgentSwitch(this);
    contacts_ = new ContactsService(nullptr, clock_, nullptr, this);
    weather_ = new WeatherService(clock_, nullptr, this);
    transit_ = new TransitService(clock_, nullptr, this);
    updates_ = new UpdateChecker(clock_, this);
    agents_ = new SessionStore(clock_, nullptr, this);
    approvals_ = new ApprovalCenter(clock_, nullptr, this);
    replies_ = new ReplySender(clock_, nullptr, this);
}

AppDelegate::~AppDelegate() {
    if (g_shared == this) g_shared = nullptr;
    // Requests not handled yet: whoever waits for an answer hears "none" now.
    for (AgentArrival& arrival : std::exchange(agentArrivals_, {}))
        if (arrival.drop) arrival.drop();
    // It uses the running-apps layer, which may go away with us.
    activeLookup_.waitForFinished();
    // Windows are top-level widgets without a parent: delete them while the models they
    // observe still exist.
    delete setupWindow_;
    delete settingsWindow_;
    delete statusMenu_;
    delete panel_;
}

AppDelegate* AppDelegate::shared() { return g_shared; }

Services AppDelegate::inject() const {
    Services s;
    s.model = model_;
    s.battery = battery_;
    s.pomodoro = pomodoro_;
    s.shelf = shelf_;
    s.clipboard = clipboard_;
    s.settingsNav = settingsNav_;
    s.events = events_;
    s.contacts = contacts_;
    s.usage = usage_;
    s.setup = setup_;
    s.agentSwitch = agentSwitch_;
    s.weather = weather_;
    s.transit = transit_;
    s.updates = updates_;
    s.agents = agents_;
    s.approvals = approvals_;
    s.replies = replies_;
    s.l10n = &L10n::shared();
    return s;
}

void AppDelegate::applicationDidFinishLaunching() {
    if (launched_) return;
    launched_ = true;
    Settings& settings = Settings::shared();
    // Before anything reads a setting.
    settings.registerLaunchDefaults();
    // Only the one running instance may do this, before its first write.
    settings.removeStaleTemporaries();
    g_shared = this;

    // The desktop's wish for less motion reaches every animation, now and when it changes.
    auto* desktopMotion = new PortalDesktopMotion(this);
    connect(desktopMotion, &DesktopMotion::changed, this,
            [desktopMotion] { motion::setDesktopReduced(desktopMotion->reducedMotion()); });
    buildPanel();
    liveActivity_ = new LiveActivity(model_, &settings, this);
    observeSettings();
    // Services' callbacks (onNotice, onFinish, onLeaveNow, onLimitReset) are set here as the
    // services arrive.
    registerHotKeys();
    // An installed Lomex takes over what a build (or a program now gone) set up: the login
    // entry and Claude Code's status-line bridge.
    LoginItem::current()->refresh();
    if (auto error = UsageMonitor::refreshBridge()) log(QStringLiteral("status-line bridge not taken over: ") + error->message);
    buildStatusMenu();
    startServices();
    setupAgents();
    listenForDebugCommands();

    // Read once: a wizard finished during this run does not matter until the next launch.
    if (!settings.get(keys::onboardingDone)) {
        Timer::singleShot(clock_, kSetupDelaySeconds, this, [this] { openSetup(); });
    }
    log("started");
}

void AppDelegate::buildPanel() {
    panel_ = new NotchPanel(inject(), screens_, clock_, &Settings::shared());
    panel_->root()->setOnSettings([this] { openSettings(); });
    installTabPages();
    windowhints::keepOffTaskbar(panel_);
    panel_->show();
    windowhints::keepOffTaskbar(panel_);
}

void AppDelegate::installTabPages() {
    // Each subsystem hands in its page here:
    //   panel_->root()->pages()->setPage(NotchModel::Tab::home, new HomePage(inject()));
    // Tabs without a page show their symbol and name.
    auto* agentsView = new AgentsView(agents_, approvals_, clock_, nullptr, replies_);
    // The chat's focus step: the panel takes the keyboard only while open under the pointer.
    agentsView->onChatFocusRequest = [this] {
        if (panel_ && model_->isOpen() && model_->openHotRect().contains(QCursor::pos())) panel_->makeKey();
    };
    agentsView->onOpenSettings = [this] { openSettings(SettingsView::Page::limits, QStringLiteral("agents")); };
    panel_->root()->pages()->setPage(NotchModel::Tab::agents, agentsView);
    note_ = new NoteView(clock_);
    panel_->root()->pages()->setPage(NotchModel::Tab::note, note_);
    // What was typed is stored when the notch closes, not only once typing pauses.
    connect(model_, &NotchModel::isOpenChanged, note_, [this] {
        if (!model_->isOpen()) note_->save();
    });
    auto* transit = new TransitView(transit_, clock_);
    transit->onOpenPlaces = [this] { openSettings(SettingsView::Page::places, QStringLiteral("pid")); };
    panel_->root()->pages()->setPage(NotchModel::Tab::transit, transit);
    panel_->root()->pages()->setPage(NotchModel::Tab::shelf, new ShelfView(shelf_));
    // Only tabs with a page reach the bar; the stored order and hidden set keep the others.
    QSet<NotchModel::Tab> paged;
    for (NotchModel::Tab tab : NotchModel::allTabs())
        if (panel_->root()->pages()->hasPage(tab)) paged.insert(tab);
    model_->setTabsWithPages(paged);
}

void AppDelegate::observeSettings() {
    // The panel follows "displayChoice" and "pillMode" itself; the model "hoverDelay",
    // "hoverTabs" and "haptics" at each use; LiveActivity "liveActivity".
    connect(&Settings::shared(), &Settings::changed, this, &AppDelegate::settingChanged);
    model_->setShowUsageRow(Settings::shared().get(keys::usageEnabled));
}

void AppDelegate::settingChanged(const QString& key) {
    Settings& settings = Settings::shared();
    if (key == keys::usageEnabled) {
        model_->setShowUsageRow(settings.get(keys::usageEnabled));
    } else if (key == keys::agentsEnabled) {
        if (settings.get(keys::agentsEnabled))
            startAgentServer();
        else
            stopAgentServer();
    } else if (key == keys::headphoneNotices) {
        headphones_->setWatching(settings.get(keys::headphoneNotices));
    } else if (key == keys::liveEqualizer) {
        // The audio spectrum follows the playing player only while this is on; it arrives
        // with the media services.
    }
}

void AppDelegate::registerHotKeys() {
    // Read once: a change takes effect at the next launch.
    if (!Settings::shared().get(keys::hotkeysEnabled)) return;
    hotKeys_ = HotKeys::create(this);
    // A key is taken from the desktop only for a view this version has: Super+Alt+K belongs to
    // the command palette, which it does not, and Super+Alt+V waits for the clipboard tab's page.
    if (!model_->hasPage(NotchModel::Tab::clipboard)) return;
    const bool registered = hotKeys_->add({QStringLiteral("Super+Alt+V"), 0x0076, HotKeys::super | HotKeys::alt},
                                          [this] { showNotch(NotchModel::Tab::clipboard); });
    if (!registered) log("global hot keys are not available on this display");
}

void AppDelegate::buildStatusMenu() {
    statusMenu_ = new StatusMenu;
    statusMenu_->onSettings = [this] { openSettings(); };
    statusMenu_->onSetup = [this] { openSetup(); };
    // No palette entry (onPalette) until the command palette exists: an entry that opens
    // nothing would be a dead one.
    statusMenu_->onQuit = [this] { quit(); };
    statusMenu_->rebuild();
    statusMenu_->show();
}

void AppDelegate::startServices() {
    // Media and the audio spectrum (as they arrive), then the calendar, clipboard, usage and
    // contacts services; the feeds last.
    battery_->onNotice = [this](const Notice& notice) { model_->show(notice); };
    headphones_->onNotice = [this](const Notice& notice) { model_->show(notice); };
    battery_->start();
    headphones_->start();
    // The soon event is the live activity's meeting.
    connect(events_, &EventService::eventsChanged, this,
            [this] { liveActivity_->setMeeting(events_->soonEvent().has_value()); });
    events_->start();
    liveActivity_->setMeeting(events_->soonEvent().has_value());
    usage_->start();
    clipboard_->start();
    contacts_->start();
    startFeeds();
}

// setupAgents, startAgentServer and stopAgentServer live in AppDelegateAgents.cpp.

void AppDelegate::openSettings(std::optional<SettingsView::Page> page, std::optional<QString> scrollTo) {
    ++settingsRequests_;
    if (page) settingsNav_->setPage(*page);
    settingsNav_->setScrollTarget(std::move(scrollTo));
    model_->close();
    if (!settingsWindow_) {
        // Made once and kept: closing only hides it, so it reopens on the page shown last.
        settingsWindow_ = new SettingsView(inject(), clock_);
        settingsWindow_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                        Qt::WindowMinimizeButtonHint);
        settingsWindow_->onSetup = [this] { openSetup(); };
        // On a small screen (or a large scale) the window shrinks to the work area; its pages scroll.
        settingsWindow_->setFixedSize(QSize(SettingsView::width, SettingsView::height).boundedTo(roomFor(settingsWindow_)));
        centreOnPrimary(settingsWindow_);
    }
    windowhints::bringToFront(settingsWindow_);
}

void AppDelegate::openSetup() {
    ++setupRequests_;
    model_->close();
    if (!setupWindow_) {
        // Made once and kept; closing it by the title bar only hides it.
        setupWindow_ = new SetupWizardView(inject());
        setupWindow_->requestCalendarAccess = [this] { events_->requestAccess(); };
        setupWindow_->requestContactsAccess = [this] { contacts_->requestAccess(); };
        setupWindow_->contactsAccess = [this] { return contacts_->access(); };
        setupWindow_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        QPointer<AppDelegate> self(this);
        setupWindow_->onClose = [self] {
            if (self) self->finishSetup();
        };
        setupWindow_->menuAvailable = [this] { return statusMenu_ && statusMenu_->available(); };
        setupWindow_->room = [this] { return roomFor(setupWindow_); };
    }
    setupWindow_->setWindowTitle(L10n::shared().t(QStringLiteral("setup.title")));
    // The whole page when the screen has room, else as much as fits, scrolling inside.
    setupWindow_->fit();
    centreOnPrimary(setupWindow_);
    // Raised over what the user was typing in: keys in flight must not act on it.
    if (!setupWindow_->isActiveWindow()) setupWindow_->keyGuard()->restart();
    windowhints::bringToFront(setupWindow_);
    setup_->startPolling();
}

void AppDelegate::finishSetup() {
    Settings::shared().set(keys::onboardingDone, true);
    if (setupWindow_) setupWindow_->hide();
}

void AppDelegate::showNotch(NotchModel::Tab tab) {
    model_->open(tab);
    if (!panel_) return;
    // A page that takes typing (its focus proxy, as the note) gets the keys, as after a click into it.
    QWidget* page = panel_->root()->pages()->page(tab);
    if (page && page->focusProxy()) page->setFocus(Qt::OtherFocusReason);
    panel_->makeKey();
}

void AppDelegate::quit() {
    log("quitting");
    // The tray's quit item and a quit signal both end here: nothing typed is left unstored.
    if (note_) note_->save();
    QCoreApplication::quit();
}

// ---- debug channel ----

void AppDelegate::listenForDebugCommands() {
    installDebugCommands();
    debugServer_ = new DebugChannelServer([this](const QString& c) { return handleDebugCommand(c); }, this);
    if (!debugServer_->listen(debugSocketPath_)) log("debug channel not available: " + debugServer_->error());
}

void AppDelegate::addDebugCommand(const QString& name, DebugHandler handler) {
    debugCommands_.insert(name, std::move(handler));
}

void AppDelegate::installDebugCommands() {
    // All but "snap" only act, and answer a bare "ok".
    auto act = [this](const QString& name, std::function<void(const QString& command)> fn) {
        addDebugCommand(name, [fn = std::move(fn)](const QString& command) {
            fn(command);
            return debugchannel::Reply{true, {}};
        });
    };
    // A tab without its page (or the palette) is refused by name rather than shown empty.
    auto missing = [](const QString& what) {
        return debugchannel::Reply{false, what + QStringLiteral(" is not in this version")};
    };
    for (NotchModel::Tab tab : NotchModel::allTabs())
        addDebugCommand(NotchModel::rawName(tab), [this, tab, missing](const QString&) {
            if (!model_->hasPage(tab)) return missing(QStringLiteral("the ") + NotchModel::rawName(tab) + QStringLiteral(" tab"));
            showNotch(tab);
            return debugchannel::Reply{true, {}};
        });
    act(QStringLiteral("close"), [this](const QString&) { model_->close(); });
    act(QStringLiteral("chat"), [this](const QString&) { openFirstChat(); });
    // Sample notices, so each notice picture can be seen without the hardware.
    addDebugCommand(QStringLiteral("notice"), [this](const QString& command) {
        const QString kind = command.section(QLatin1Char(':'), 1).trimmed();
        if (kind == QLatin1String("low")) model_->show(Notice::lowBattery(12));
        else if (kind == QLatin1String("headphones"))
            model_->show(Notice::device(QStringLiteral("WH-1000XM4"), QStringLiteral("headphones"),
                                        {{QStringLiteral("L"), 80}, {QStringLiteral("R"), 75}, {QStringLiteral("C"), 40}}));
        else if (kind.isEmpty() || kind == QLatin1String("charging")) model_->show(Notice::charging(64));
        else return debugchannel::Reply{false, "unknown notice \"" + kind.left(80) + "\" (charging, low or headphones)"};
        return debugchannel::Reply{true, {}};
    });
    act(QStringLiteral("settings"), [this](const QString& command) {
        // The page is the text after the last colon; none or an unknown name gives general.
        const int colon = command.lastIndexOf(QLatin1Char(':'));
        const QString name = colon < 0 ? QString() : command.mid(colon + 1).trimmed();
        openSettings(SettingsView::pageFrom(name).value_or(SettingsView::Page::general), std::nullopt);
    });
    act(QStringLiteral("setup"), [this](const QString&) { openSetup(); });
    addDebugCommand(QStringLiteral("palette"), [missing](const QString&) { return missing(QStringLiteral("the command palette")); });
    act(QStringLiteral("stop"), [this](const QString& command) {
        const int colon = command.indexOf(QLatin1Char(':'));
        setTransitDebugQuery(colon < 0 ? QString() : command.mid(colon + 1).trimmed());
        openSettings(SettingsView::Page::places, QStringLiteral("pid"));
    });
    addDebugCommand(QStringLiteral("snap"), [this](const QString&) {
        QString error;
        const QString path = snap(&error);
        return path.isEmpty() ? debugchannel::Reply{false, error} : debugchannel::Reply{true, path};
    });
}

// setTransitDebugQuery lives in AppDelegateFeeds.cpp.

debugchannel::Reply AppDelegate::handleDebugCommand(const QString& command) {
    const QString trimmed = command.trimmed();
    const QString name = trimmed.section(QLatin1Char(':'), 0, 0).trimmed();
    auto it = debugCommands_.constFind(name);
    if (it == debugCommands_.constEnd()) return {false, "unknown command \"" + trimmed.left(80) + "\""};
    return it.value()(trimmed);
}

QString AppDelegate::snap(QString* error) {
    if (!panel_) {
        if (error) *error = QStringLiteral("the notch panel does not exist");
        return {};
    }
    const QString dir = paths::dataDir();
    paths::ensureDir(dir);
    // Numbered, not named by the clock: the order must survive a clock going back (a DST
    // fall-back night), and the number sorts them whatever the time says. The UTC time in the
    // name is only for the reader. Names of an older scheme count as older than any numbered one.
    static const QRegularExpression numbered(QStringLiteral("^snap-(\\d{1,9})-\\d{8}T\\d{6}Z\\.png$"));
    static const QRegularExpression dated(QStringLiteral("^snap-\\d{8}-\\d{6}-\\d{3}\\.png$"));
    QList<std::pair<qint64, QString>> snaps;
    for (const QString& name : QDir(dir).entryList({QStringLiteral("snap-*.png")}, QDir::Files, QDir::Name)) {
        if (const auto m = numbered.match(name); m.hasMatch()) snaps.append({m.captured(1).toLongLong(), name});
        else if (dated.match(name).hasMatch()) snaps.append({-1, name});
    }
    std::sort(snaps.begin(), snaps.end());
    const qint64 number = snaps.isEmpty() ? 1 : std::max<qint64>(snaps.last().first + 1, 1);
    const QString name = QStringLiteral("snap-%1-%2.png")
                             .arg(number, 6, 10, QLatin1Char('0'))
                             .arg(clock_->now().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")));
    const QString path = dir + QLatin1Char('/') + name;
    if (auto err = fileio::writeAtomically(path, panel_->snapshotPng(), {})) {
        if (error) *error = *err;
        return {};
    }
    snaps.append({number, name});
    for (qsizetype i = 0; i + snapsKept < snaps.size(); ++i) QFile::remove(dir + QLatin1Char('/') + snaps[i].second);
    // Only a path that is there is printed.
    if (!QFileInfo::exists(path)) {
        if (error) *error = path + QStringLiteral(" is gone");
        return {};
    }
    return path;
}

} // namespace lomex
