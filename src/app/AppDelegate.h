#pragma once
#include "agents/EventServer.h"
#include "agents/SessionStore.h"
#include "notch/NotchModel.h"
#include "core/Services.h"
#include "platform/DebugChannel.h"
#include "platform/RunningApps.h"
#include "settings/SettingsView.h"
#include <QFuture>
#include <QHash>
#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace lomex {

class AgentSwitch;
class ApprovalCenter;
class ReplySender;
class ContactsService;
class EventService;
class BatteryMonitor;
class HeadphoneMonitor;
class PomodoroTimer;
class Clock;
class HotKeys;
class LiveActivity;
class NotchPanel;
class NoteView;
class Screens;
class SettingsNav;
class SetupModel;
class SetupWizardView;
class Timer;
class UsageMonitor;
class StatusMenu;
class TransitService;
class UpdateChecker;
class WeatherService;

// Owns one instance of every model and service for the life of the process, builds the
// windows, wires the services' callbacks and routes the requests that come from anywhere
// (status menu, hot keys, debug channel, views) to the right place.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Models and services are made here, in a fixed order; windows later, at launch.
    explicit AppDelegate(Clock* clock = nullptr, Screens* screens = nullptr, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The running delegate, set when launching finishes; nullptr before and after.
    static AppDelegate* shared();

    // The start-up sequence.
    void applicationDidFinishLaunching();
    bool hasLaunched() const { return launched_; }

    // ---- the single instances ----
    NotchModel* model() const { return model_; }
    BatteryMonitor* battery() const { return battery_; }
    HeadphoneMonitor* headphones() const { return headphones_; }
    PomodoroTimer* pomodoro() const { return pomodoro_; }
    ShelfStore* shelf() const { return shelf_; }
    EventService* events() const { return events_; }
    ContactsService* contacts() const { return contacts_; }
    ClipboardStore* clipboard() const { return clipboard_; }
    WeatherService* weather() const { return weather_; }
    TransitService* transit() const { return transit_; }
    UpdateChecker* updates() const { return updates_; }
    SessionStore* agents() const { return agents_; }
    ApprovalCenter* approvals() const { return approvals_; }
    ReplySender* replies() const { return replies_; }
    // The hook server while agent monitoring is on; nullptr otherwise.
    EventServer* agentServer() const { return agentServer_.get(); }
    // Passes of the event loop that handled hook-server arrivals since start.
    int agentArrivalPasses() const { return agentArrivalPasses_; }
    SettingsNav* settingsNav() const { return settingsNav_; }
    UsageMonitor* usage() const { return usage_; }
    SetupModel* setup() const { return setup_; }
    AgentSwitch* agentSwitch() const { return agentSwitch_; }
    LiveActivity* liveActivity() const { return liveActivity_; }
    NotchPanel* panel() const { return panel_; }
    StatusMenu* statusMenu() const { return statusMenu_; }
    SetupWizardView* setupWindow() const { return setupWindow_; }
    // The settings window once it was first opened; nullptr before.
    SettingsView* settingsWindow() const { return settingsWindow_; }

    // The bundle of shared models every root view receives.
    Services inject() const;

    // ---- requests from anywhere ----
    // Settings at a page (none keeps the page shown last), optionally scrolled to a section.
    void openSettings(std::optional<SettingsView::Page> page = std::nullopt,
                      std::optional<QString> scrollTo = std::nullopt);
    void openSetup();
    // The wizard's close: the only writer of "onboardingDone".
    void finishSetup();
    // Opens the notch on a tab and gives it the keyboard.
    void showNotch(NotchModel::Tab tab);
    // The debug command "chat": the chat of the first listed session, on the agents tab.
    void openFirstChat();
    void quit();

    // ---- debug channel ----
    // Adds (or replaces) a debug command; name is the text before any ":" of the command.
    using DebugHandler = std::function<debugchannel::Reply(const QString& command)>;
    void addDebugCommand(const QString& name, DebugHandler handler);
    debugchannel::Reply handleDebugCommand(const QString& command);
    // Writes a PNG of the notch panel into the data folder; returns its path, or empty with error
    // set. Only the newest snapsKept of them are kept there.
    QString snap(QString* error = nullptr);
    static constexpr int snapsKept = 5;

    // ---- coding agents ----
    // A hook event on the GUI thread: the approvals see it first, then the session store.
    void handleAgentEvent(const HookEvent& event);
    // A "/usage" body from the status-line bridge: the context fill of a session.
    void ingestAgentStatusLine(const QByteArray& body);
    // Every transition and reminder of the session store: toast, sound, the agents tab.
    void agentTransition(const SessionStore::Transition& transition, bool reminder);
    // Reads the context fill of a Codex transcript; runs on a worker thread. Defaults to
    // AgentContext::codex; tests replace it.
    std::function<std::optional<double>(const QString& path)> codexContextReader;

    // How often each launch-time hook ran (tests and the log).
    int setupRequests() const { return setupRequests_; }
    int settingsRequests() const { return settingsRequests_; }

    // The debug channel socket path used at launch (tests point it elsewhere).
    void setDebugSocketPath(const QString& path) { debugSocketPath_ = path; }
    DebugChannelServer* debugServer() const { return debugServer_; }
    HotKeys* hotKeys() const { return hotKeys_.get(); }

private:
    void buildPanel();
    void installTabPages();
    void observeSettings();
    void settingChanged(const QString& key);
    void registerHotKeys();
    void buildStatusMenu();
    void startServices();
    void startFeeds();
    void setupAgents();
    void startAgentServer();
    void stopAgentServer();
    void updateAgentLive();
    // Tells the monitoring switch whether the hook server listens right now.
    void reportAgentServer();
    void installAgentGlyphs();
    void listenForDebugCommands();
    void installDebugCommands();
    void setTransitDebugQuery(const QString& query);

    Clock* clock_;
    Screens* screens_;
    bool launched_ = false;

    // Models and services, in the order they are made.
    NotchModel* model_ = nullptr;
    BatteryMonitor* battery_ = nullptr;
    HeadphoneMonitor* headphones_ = nullptr;
    PomodoroTimer* pomodoro_ = nullptr;
    ShelfStore* shelf_ = nullptr;
    ClipboardStore* clipboard_ = nullptr;
    SettingsNav* settingsNav_ = nullptr;
    EventService* events_ = nullptr;
    ContactsService* contacts_ = nullptr;
    UsageMonitor* usage_ = nullptr;
    SetupModel* setup_ = nullptr;
    WeatherService* weather_ = nullptr;
    TransitService* transit_ = nullptr;
    UpdateChecker* updates_ = nullptr;
    SessionStore* agents_ = nullptr;
    ApprovalCenter* approvals_ = nullptr;
    ReplySender* replies_ = nullptr;
    AgentSwitch* agentSwitch_ = nullptr;
    std::unique_ptr<EventServer> agentServer_;
    // Watches the server's listening state while it exists (the port may be taken or freed).
    Timer* agentServerWatch_ = nullptr;
    // The latest Codex context read of each session: reads run side by side, and one that
    // started earlier may end later with an older figure.
    QHash<QString, quint64> contextReads_;
    quint64 contextReadSerial_ = 0;
    // The hook server's arrivals, in the order they came, handled a few milliseconds' worth a
    // pass: a burst of requests (parallel sub-agents) never holds the GUI thread for all of them.
    struct AgentArrival {
        std::function<void()> handle;
        std::function<void()> drop; // when the app ends first: answer whoever waits
    };
    std::deque<AgentArrival> agentArrivals_;
    bool agentDrainQueued_ = false;
    bool inArrivalPass_ = false;
    int agentArrivalPasses_ = 0;
    // The window in front, looked up once for the arrivals handled in one pass, on a worker
    // before the pass: a round trip to a busy X server can take tens of milliseconds.
    std::optional<std::optional<RunningApplication>> activeInPass_;
    QFuture<std::optional<RunningApplication>> activeLookup_;
    void queueAgentArrival(AgentArrival arrival);
    void scheduleAgentDrain();
    void drainAgentArrivals();

    // Made at launch.
    LiveActivity* liveActivity_ = nullptr;
    NotchPanel* panel_ = nullptr;
    NoteView* note_ = nullptr; // owned by the panel
    StatusMenu* statusMenu_ = nullptr;
    SettingsView* settingsWindow_ = nullptr;
    SetupWizardView* setupWindow_ = nullptr;
    std::unique_ptr<HotKeys> hotKeys_;
    DebugChannelServer* debugServer_ = nullptr;
    QString debugSocketPath_;
    QHash<QString, DebugHandler> debugCommands_;

    int setupRequests_ = 0;
    int settingsRequests_ = 0;
};

} // namespace lomex
