#pragma once
#include <QString>
#include <QStringList>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <tuple>
#include <variant>

// Every key of settings.json, declared once: its name, its type, its default and, for numbers,
// its bounds. Code reads and writes a key by its constant here (Settings::get(keys::note)), so a
// misspelt key does not compile and a default is never repeated at a call site.
namespace lomex {

// What a default is declared as: a literal type, so the table is constexpr.
template <typename T> struct KeyLiteral { using type = T; };
template <> struct KeyLiteral<QString> { using type = const char*; };
template <> struct KeyLiteral<QStringList> { using type = std::monostate; };
template <> struct KeyLiteral<nlohmann::json> { using type = std::monostate; };

enum class Registered : bool {
    no,       // absent until first written: an optional read (find) gives nothing
    atLaunch, // its default is registered at start and counts as its value
};

template <typename T>
struct Key {
    using Value = T;
    using Literal = typename KeyLiteral<T>::type;

    const char* name;
    // What a read gives while nothing of the key's type is stored.
    Literal fallback{};
    Registered registered = Registered::no;
    // Numbers only: the range a control offers; a reader that needs a range keeps to it
    // (bounded). Equal: unbounded.
    Literal min{}, max{};
    // Texts only: the most characters a write may store; 0: unbounded.
    int maxChars = 0;

    T defaultValue() const {
        if constexpr (std::is_same_v<T, QString>) return fallback ? QString::fromUtf8(fallback) : QString();
        else if constexpr (std::is_same_v<Literal, std::monostate>) return T{};
        else return fallback;
    }
    // v kept to the key's bounds (numbers with bounds; anything else unchanged).
    T bounded(T v) const {
        if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>)
            if (min < max) return std::clamp(v, min, max);
        return v;
    }
};

// A key of any type, where only its name matters (remove, isStored, watching a key). Made only
// from a declared key.
class AnyKey {
public:
    template <typename T>
    constexpr AnyKey(const Key<T>& key) : name_(key.name) {} // NOLINT: implicit on purpose
    QString name() const { return QString::fromLatin1(name_); }
    const char* latin1() const { return name_; }
    friend bool operator==(const QString& changed, const AnyKey& key) { return changed == QLatin1String(key.name_); }

private:
    const char* name_;
};

template <typename T>
bool operator==(const QString& changed, const Key<T>& key) { return changed == QLatin1String(key.name); }

namespace keys {
using Json = nlohmann::json;
constexpr Registered launch = Registered::atLaunch;
constexpr Registered absent = Registered::no;

// {name, default, registered, bounds}
// the shell
inline constexpr Key<bool> haptics{"haptics", true, launch};
inline constexpr Key<bool> liveActivity{"liveActivity", true, launch};
inline constexpr Key<double> hoverDelay{"hoverDelay", 0.12, launch, 0.0, 1.0};
inline constexpr Key<bool> hoverTabs{"hoverTabs", true, launch};
inline constexpr Key<bool> hotkeysEnabled{"hotkeysEnabled", true, launch};
// "auto", "main" or "mouse"; absent means "auto"
inline constexpr Key<QString> displayChoice{"displayChoice", "auto", absent};
// "always" or "activity"; absent means "always"
inline constexpr Key<QString> pillMode{"pillMode", "always", absent};
// "system", "cs" or "en"
inline constexpr Key<QString> language{"language", "system", absent};
inline constexpr Key<QStringList> tabOrder{"tabOrder"};
inline constexpr Key<QStringList> hiddenTabs{"hiddenTabs"};
inline constexpr Key<bool> onboardingDone{"onboardingDone", false, absent};

// coding agents
inline constexpr Key<bool> agentsEnabled{"agentsEnabled", false, launch};
inline constexpr Key<bool> agentApprovals{"agentApprovals", true, launch};
inline constexpr Key<bool> agentReminders{"agentReminders", true, launch};
inline constexpr Key<bool> agentCelebrate{"agentCelebrate", true, launch};
// "type" or "background"
inline constexpr Key<QString> agentReplyMode{"agentReplyMode", "type", launch};

// calendar and people
inline constexpr Key<int> agendaDays{"agendaDays", 1, launch, 1, 7};
// minutes before a timed event's start from which it is the soon event
inline constexpr Key<int> meetingLead{"meetingLead", 10, launch, 1, 60};
inline constexpr Key<bool> showNameDays{"showNameDays", true, launch};
inline constexpr Key<bool> showOverdue{"showOverdue", true, launch};
inline constexpr Key<bool> contactsOccasions{"contactsOccasions", true, launch};

// device, media, clipboard
inline constexpr Key<int> workMinutes{"workMinutes", 25, launch, 1, 120};
inline constexpr Key<int> breakMinutes{"breakMinutes", 5, launch, 1, 60};
inline constexpr Key<QString> focusShortcutOn{"focusShortcutOn"};
inline constexpr Key<QString> focusShortcutOff{"focusShortcutOff"};
inline constexpr Key<Json> focusHistory{"focusHistory"};
inline constexpr Key<bool> batteryNotices{"batteryNotices", true, launch};
inline constexpr Key<bool> headphoneNotices{"headphoneNotices", true, launch};
inline constexpr Key<bool> liveEqualizer{"liveEqualizer", false, launch};
inline constexpr Key<bool> clipboardEnabled{"clipboardEnabled", true, launch};
inline constexpr Key<bool> pasteDirectly{"pasteDirectly", true, launch};
// bundle ids (desktop entry ids) whose copies are not recorded
inline constexpr Key<QStringList> clipExcluded{"clipExcluded"};
inline constexpr Key<QStringList> shelfItems{"shelfItems"};

// online feeds
inline constexpr Key<QString> golemioKey{"golemioKey"};
inline constexpr Key<Json> pidStop{"pidStop"};
inline constexpr Key<QString> idosStop{"idosStop"};
inline constexpr Key<bool> leaveEnabled{"leaveEnabled", false, launch};
inline constexpr Key<int> walkMinutes{"walkMinutes", 5, launch, 0, 60};
inline constexpr Key<QString> leaveLines{"leaveLines"};
inline constexpr Key<bool> weatherEnabled{"weatherEnabled", true, launch};
inline constexpr Key<Json> weatherPlace{"weatherPlace"};
inline constexpr Key<bool> chmiEnabled{"chmiEnabled", true, launch};
inline constexpr Key<bool> usageEnabled{"usageEnabled", false, launch};
inline constexpr Key<QString> previousStatusLine{"previousStatusLine"};

// the note tab; it lives in this file, which is written whole at every pause in typing, so it
// is bounded (README, "The note")
inline constexpr Key<QString> note{"note", "", absent, nullptr, nullptr, 4'000'000};

// Every key above, once: the launch defaults are registered from it.
inline constexpr auto all = std::tuple{
    &haptics,
    &liveActivity,
    &hoverDelay,
    &hoverTabs,
    &hotkeysEnabled,
    &displayChoice,
    &pillMode,
    &language,
    &tabOrder,
    &hiddenTabs,
    &onboardingDone,
    &agentsEnabled,
    &agentApprovals,
    &agentReminders,
    &agentCelebrate,
    &agentReplyMode,
    &agendaDays,
    &meetingLead,
    &showNameDays,
    &showOverdue,
    &contactsOccasions,
    &workMinutes,
    &breakMinutes,
    &focusShortcutOn,
    &focusShortcutOff,
    &focusHistory,
    &batteryNotices,
    &headphoneNotices,
    &liveEqualizer,
    &clipboardEnabled,
    &pasteDirectly,
    &clipExcluded,
    &shelfItems,
    &golemioKey,
    &pidStop,
    &idosStop,
    &leaveEnabled,
    &walkMinutes,
    &leaveLines,
    &weatherEnabled,
    &weatherPlace,
    &chmiEnabled,
    &usageEnabled,
    &previousStatusLine,
    &note,
};
} // namespace keys

} // namespace lomex
