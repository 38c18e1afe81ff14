#include "app/AppDelegate.h"
#include "agents/AgentViews.h"
#include "agents/ApprovalCenter.h"
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
#include "notch/NotchPageHost.h"
#include "notch/NotchRootView.h"
#include "platform/DebugChannel.h"
#include "platform/FileIO.h"
#include "platform/HotKeys.h"
#include "platform/Paths.h"
#include "platform/Screens.h"
#include "platform/WindowHints.h"
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QDateTime>

namespace lomex {

namespace {
AppDelegate* g_shared = nullptr;
constexpr double kSetupDelaySeconds = 0.8;
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
    settingsNav_ = new SettingsNav(this);
    events_ = new EventService(nullptr, clock_, nullptr, nullptr, this);
    contacts_ = new ContactsService(nullptr, clock_, nullptr, this);
    agents_ = new SessionStore(clock_, nullptr, this);
    approvals_ = new ApprovalCenter(clock_, nullptr, this);
}

AppDelegate::~AppDelegate() {
    if (g_shared == this) g_shared = nullptr;
    // Windows are top-level widgets without a parent: delete them while the models they
    // observe still exist.
    delete settingsWindow_;
    delete statusMenu_;
    delete panel_;
}

AppDelegate* AppDelegate::shared() { return g_shared; }

Services AppDelegate::inject() const {
    Services s;
    s.model = model_;
    s.settingsNav = settingsNav_;
    s.events = events_;
    s.contacts = contacts_;
    s.agents = agents_;
    s.approvals = approvals_;
    s.l10n = &L10n::shared();
    return s;
}

void AppDelegate::applicationDidFinishLaunching() {
    if (launched_) return;
    launched_ = true;
    Settings& settings = Settings::shared();
    // Before anything reads a setting.
    settings.registerLaunchDefaults();
    g_shared = this;

    buildPanel();
    liveActivity_ = new LiveActivity(model_, &settings, this);
    observeSettings();
    // Services' callbacks (onNotice, onFinish, onLeaveNow, onLimitReset) are set here as the
    // services arrive.
    registerHotKeys();
    buildStatusMenu();
    startServices();
    setupAgents();
    listenForDebugCommands();

    // Read once: a wizard finished during this run does not matter until the next launch.
    if (!settings.boolValue(QStringLiteral("onboardingDone"), false)) {
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
    panel_->root()->pages()->setPage(NotchModel::Tab::agents,
                                     new AgentsView(agents_, approvals_, clock_));
}

void AppDelegate::observeSettings() {
    // The panel follows "displayChoice" and "pillMode" itself; the model "hoverDelay",
    // "hoverTabs" and "haptics" at each use; LiveActivity "liveActivity".
    connect(&Settings::shared(), &Settings::changed, this, &AppDelegate::settingChanged);
    model_->setShowUsageRow(Settings::shared().boolValue(QStringLiteral("usageEnabled")));
}

void AppDelegate::settingChanged(const QString& key) {
    Settings& settings = Settings::shared();
    if (key == QLatin1String("usageEnabled")) {
        model_->setShowUsageRow(settings.boolValue(key));
    } else if (key == QLatin1String("agentsEnabled")) {
        if (settings.boolValue(key))
            startAgentServer();
        else
            stopAgentServer();
    } else if (key == QLatin1String("liveEqualizer")) {
        // The audio spectrum follows the playing player only while this is on; it arrives
        // with the media services.
    }
}

void AppDelegate::registerHotKeys() {
    // Read once: a change takes effect at the next launch.
    if (!Settings::shared().boolValue(QStringLiteral("hotkeysEnabled"), true)) return;
    hotKeys_ = HotKeys::create(this);
    int registered = 0;
    registered += hotKeys_->add({QStringLiteral("Super+Alt+K"), 0x006b, HotKeys::super | HotKeys::alt},
                                [this] { openPalette(); });
    registered += hotKeys_->add({QStringLiteral("Super+Alt+V"), 0x0076, HotKeys::super | HotKeys::alt},
                                [this] { showNotch(NotchModel::Tab::clipboard); });
    if (registered == 0) log("global hot keys are not available on this display");
}

void AppDelegate::buildStatusMenu() {
    statusMenu_ = new StatusMenu;
    statusMenu_->onSettings = [this] { openSettings(); };
    statusMenu_->onSetup = [this] { openSetup(); };
    statusMenu_->onPalette = [this] { openPalette(); };
    statusMenu_->onQuit = [this] { quit(); };
    statusMenu_->rebuild();
    statusMenu_->show();
}

void AppDelegate::startServices() {
    // Media, battery and headphone monitors and the audio spectrum start first as they arrive;
    // then the calendar, clipboard, usage, contacts, weather, transit and update services.
    events_->start();
    contacts_->start();
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
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), settingsWindow_->size());
            frame.moveCenter(screen->availableGeometry().center());
            settingsWindow_->move(frame.topLeft());
        }
    }
    settingsWindow_->setWindowTitle(L10n::shared().t(QStringLiteral("settings.title")));
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
}

void AppDelegate::openSetup() {
    ++setupRequests_;
    model_->close();
    // The setup window (made once, titled "setup.title", centred, raised and made key; the
    // setup model's poll started) comes with the setup wizard; its close calls finishSetup().
    log("setup wizard requested");
}

void AppDelegate::finishSetup() {
    Settings::shared().setBool(QStringLiteral("onboardingDone"), true);
}

void AppDelegate::openPalette() {
    ++paletteRequests_;
    // The command palette panel comes with the palette.
    log("command palette requested");
}

void AppDelegate::showNotch(NotchModel::Tab tab) {
    model_->open(tab);
    if (panel_) panel_->makeKey();
}

void AppDelegate::quit() {
    log("quitting");
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
    for (NotchModel::Tab tab : NotchModel::allTabs())
        act(NotchModel::rawName(tab), [this, tab](const QString&) { showNotch(tab); });
    act(QStringLiteral("close"), [this](const QString&) { model_->close(); });
    act(QStringLiteral("settings"), [this](const QString& command) {
        // The page is the text after the last colon; none or an unknown name gives general.
        const int colon = command.lastIndexOf(QLatin1Char(':'));
        const QString name = colon < 0 ? QString() : command.mid(colon + 1).trimmed();
        openSettings(SettingsView::pageFrom(name).value_or(SettingsView::Page::general), std::nullopt);
    });
    act(QStringLiteral("setup"), [this](const QString&) { openSetup(); });
    act(QStringLiteral("palette"), [this](const QString&) { openPalette(); });
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

void AppDelegate::setTransitDebugQuery(const QString& query) {
    // Sets TransitService::debugQuery once the transit service exists.
    log("transit stop query requested: \"" + query + "\"");
}

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
    const QString path = dir + QStringLiteral("/snap-") +
                         clock_->now().toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
                         QStringLiteral(".png");
    if (auto err = fileio::writeAtomically(path, panel_->snapshotPng(), {})) {
        if (error) *error = *err;
        return {};
    }
    return path;
}

} // namespace lomex
