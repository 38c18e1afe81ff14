#pragma once
#include "agents/Session.h"
#include <QObject>
#include <QString>
#include <functional>

namespace lomex {

class Clock;
class DesktopAutomation;

// Delivers a chat reply to its agent session, one of two ways: typed into the session's
// terminal window (activated and confirmed in front, pasted through the clipboard, Return), or
// handed to the agent's own resume command in the user's login shell. The delegate owns the one
// instance; it lives on the GUI thread. One typed reply runs at a time; the user's clipboard is
// put back afterwards unless the user copied something meanwhile.
class ReplySender : public QObject {
    Q_OBJECT
public:
    struct Result {
        enum class Kind { typed, failed, background, needsAccessibility, noApp };
        Kind kind = Kind::failed;
        QString text; // typed: the application's name; failed: the whole message
        // The user's clipboard could not be held whole, so it was not put back: it holds the reply.
        bool clipboardHoldsReply = false;

        static Result typed(QString app) { return {Kind::typed, std::move(app)}; }
        static Result failed(QString message) { return {Kind::failed, std::move(message)}; }
        static Result background() { return {Kind::background, {}}; }
        static Result needsAccessibility() { return {Kind::needsAccessibility, {}}; }
        static Result noApp() { return {Kind::noApp, {}}; }
        bool operator==(const Result&) const = default;

        // The status line, in the interface language.
        QString message() const;
        QString statusLine() const; // without the clipboard's note
        // The reply did not reach the agent (the chat offers it again).
        bool isFailure() const { return kind != Kind::typed && kind != Kind::background; }
    };
    using Completion = std::function<void(const Result&)>;

    // Typing steps (seconds): the window must be in front within activationTimeout; the paste
    // follows pasteDelay later; the target must fetch the text within fetchTimeout; Return
    // follows returnDelay after the fetch; the clipboard is put back restoreDelay after Return.
    static constexpr double pollInterval = 0.04;
    static constexpr double activationTimeout = 1.0;
    static constexpr double pasteDelay = 0.1;
    static constexpr double fetchTimeout = 1.5;
    static constexpr double returnDelay = 0.18;
    static constexpr double restoreDelay = 0.6;
    // The paste waits for the clipboard's snapshot this long at most (the desktop layer gives
    // up on a slow clipboard owner well before).
    static constexpr double snapshotTimeout = 8.0;
    // A background command that ends within this time with a failure was not sent.
    static constexpr double backgroundGrace = 1.0;

    // clock, automation: nullptr are Clock::current() and DesktopAutomation::current().
    explicit ReplySender(Clock* clock = nullptr, DesktopAutomation* automation = nullptr,
                         QObject* parent = nullptr);
    ~ReplySender() override;

    // The reply must already be trimmed and not empty. The completion runs exactly once on the
    // GUI thread: at once for the early results, later for the rest.
    void typeIntoApp(const QString& text, const Session& session, Completion completion);
    void runInBackground(const QString& text, const Session& session, Completion completion);
    bool isTyping() const { return typing_ != nullptr; }
    // The chat header's jump: asks for the session's window to come to the front; false when
    // no window is found.
    bool focusApp(const Session& session);
    // Whether the session's own terminal window is the active one. Only the hooks' window and
    // process count here: any window of the same application does not.
    bool isInFront(const Session& session) const;

    // A session id the shell may pass on: letters, digits, ".", "_", ":", "-", not leading "-".
    static bool isPlainToken(const QString& id);
    // The resume script for the agent; $1 is the session id, $2 the reply (after "--"). With
    // `toolInArg3`, $3 is the path of the agent's tool instead of a lookup on the shell's PATH.
    static QString script(Agent agent, bool toolInArg3 = false);

private:
    struct Typing;
    void step();
    void finishTyping(const Result& result, bool restoreNow);

    Clock* clock_;
    DesktopAutomation* automation_;
    Typing* typing_ = nullptr;
    quint64 typingSerial_ = 0; // tells a late snapshot of an ended reply from the current one's
};

} // namespace lomex
