#pragma once

namespace lomex {

class NotchModel;
class MediaController;
class BatteryMonitor;
class PomodoroTimer;
class ShelfStore;
class EventService;
class ClipboardStore;
class UsageMonitor;
class PaletteModel;
class SetupModel;
class ContactsService;
class WeatherService;
class TransitService;
class SettingsNav;
class UpdateChecker;
class SessionStore;
class ApprovalCenter;
class ReplySender;
class L10n;
class AgentSwitch;

// The shared models handed to the four root views (notch root, palette, settings, setup
// wizard): the delegate's single instances, never owned here. A view reads what it needs and
// never makes a service of its own. A member stays null until its subsystem exists.
struct Services {
    NotchModel* model = nullptr;
    MediaController* media = nullptr;
    BatteryMonitor* battery = nullptr;
    PomodoroTimer* pomodoro = nullptr;
    ShelfStore* shelf = nullptr;
    EventService* events = nullptr;
    ClipboardStore* clipboard = nullptr;
    UsageMonitor* usage = nullptr;
    PaletteModel* palette = nullptr;
    SetupModel* setup = nullptr;
    ContactsService* contacts = nullptr;
    WeatherService* weather = nullptr;
    TransitService* transit = nullptr;
    SettingsNav* settingsNav = nullptr;
    UpdateChecker* updates = nullptr;
    SessionStore* agents = nullptr;
    ApprovalCenter* approvals = nullptr;
    ReplySender* replies = nullptr;
    L10n* l10n = nullptr;
    // The monitoring switch the limits page and the wizard call.
    AgentSwitch* agentSwitch = nullptr;
};

} // namespace lomex
