#pragma once
#include "platform/ClipboardData.h"
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QObject;

namespace lomex {

// What is known of where an agent session runs: the terminal's window id (WINDOWID), the agent's
// process id, and desktop ids of applications that may host it, best first.
struct WindowHint {
    std::optional<quint32> windowID;
    std::optional<qint64> pid;
    QStringList desktopIDs;
};

// A top-level window that hosts a session.
struct TargetWindow {
    quint32 window = 0;
    QString name;      // the application's name for people (its window class)
    QString desktopID;
    qint64 pid = 0;    // 0 when the window does not say
    // The session runs in this window's terminal (found through its process or WINDOWID, or a
    // known terminal): pasting there takes Ctrl+Shift+V.
    bool terminal = false;
};

// The clipboard's content at one moment: each offered target with its data. Bounded (see the
// implementation's limits); a target that did not fit is left out. Large data is held in a
// private file (ClipboardData), which goes with the last copy of the snapshot.
struct ClipboardSnapshot {
    struct Item {
        QByteArray target; // atom name ("UTF8_STRING", "image/png")
        QByteArray type;   // atom name of the data's type
        int format = 8;    // 8, 16 or 32
        ClipboardData data;
    };
    QList<Item> items;
    // Whether TIMESTAMP is among the offered targets (it is always answered), so an offer made
    // again lists what the original listed.
    bool listsTimestamp = true;
    // Every offered target is held: false when one was left out (over the bounds, or the owner
    // too slow), so offering the snapshot again would not give the clipboard back.
    bool complete = true;
    bool isEmpty() const { return items.isEmpty(); }
};

// The desktop facilities a typed reply needs: finding and activating the session's window,
// the clipboard, and synthetic keys. All calls are made on the GUI thread and return quickly;
// none waits for another program (the clipboard's content is read off the calling thread).
class DesktopAutomation {
public:
    using SnapshotDone = std::function<void(const ClipboardSnapshot&)>;
    virtual ~DesktopAutomation() = default;

    // Whether synthetic key events can be sent (on Linux: an X11 display with XTEST).
    virtual bool trusted() = 0;
    // The window that hosts a session, never one of this process's own windows.
    virtual std::optional<TargetWindow> findWindow(const WindowHint& hint) = 0;
    // Asks the window manager to bring the window to the front and give it the keyboard.
    virtual void requestActivation(quint32 window) = 0;
    // Whether the window (or a window inside it) has the keyboard now.
    virtual bool isActive(quint32 window) = 0;

    // Reads the clipboard's content off the calling thread; `done` gets it once, on the
    // context's thread (at once when there is nothing to read), and never once the context
    // is gone. A snapshot that could not be read whole says so (complete).
    virtual void snapshotClipboard(QObject* context, SnapshotDone done) = 0;
    // Puts text on the clipboard, owned by this process; resets pasteFetched().
    virtual void setClipboardText(const QString& text) = 0;
    // Whether another program has fetched the text put there by the last setClipboardText().
    virtual bool pasteFetched() = 0;
    // Whether this process still owns the clipboard (nobody copied anything since).
    virtual bool ownsClipboard() = 0;
    // Offers the snapshot's content again; an empty snapshot leaves the clipboard empty.
    virtual void restoreClipboard(const ClipboardSnapshot& snapshot) = 0;

    // The paste chord: Ctrl+Shift+V for a terminal, Ctrl+V elsewhere.
    virtual void sendPaste(bool terminal) = 0;
    virtual void sendReturn() = 0;

    // The layer used when none is handed in: X11 unless a test installed another.
    static DesktopAutomation* current();
    static void setCurrent(DesktopAutomation* automation); // nullptr restores the X11 layer
};

// X11: EWMH window list and activation (input focus without a window manager), the CLIPBOARD
// selection served from our own window, XTEST keys. Without a display nothing is trusted.
class X11DesktopAutomation : public DesktopAutomation {
public:
    // In all: what a snapshot cannot hold is left out (it is then not complete). Data past the
    // writer's memory thresholds is held in a private spill file (ClipboardDataWriter).
    static constexpr qint64 maxSnapshotBytes = qint64(256) << 20;
    static constexpr int maxTargets = 32;
    // A clipboard owner that has not given everything within this time is not waited for any
    // longer (on the snapshot's own thread; the typing waits for it before pasting).
    static constexpr int snapshotBudgetMs = 3000;

    X11DesktopAutomation();
    ~X11DesktopAutomation() override;
    // Owns a display connection and a thread.
    X11DesktopAutomation(const X11DesktopAutomation&) = delete;
    X11DesktopAutomation& operator=(const X11DesktopAutomation&) = delete;

    bool trusted() override;
    std::optional<TargetWindow> findWindow(const WindowHint& hint) override;
    void requestActivation(quint32 window) override;
    bool isActive(quint32 window) override;
    void snapshotClipboard(QObject* context, SnapshotDone done) override;
    void setClipboardText(const QString& text) override;
    bool pasteFetched() override;
    bool ownsClipboard() override;
    void restoreClipboard(const ClipboardSnapshot& snapshot) override;
    void sendPaste(bool terminal) override;
    void sendReturn() override;

private:
    struct State;
    class Owner;
    std::unique_ptr<State> d;
    std::unique_ptr<Owner> owner_;
};

namespace processes {
// The parent of a process from /proc/<pid>/stat; nothing when it cannot be read.
std::optional<qint64> parentOf(qint64 pid);
// pid and its ancestors, nearest first, at most `limit`, stopping before pid 1.
QList<qint64> lineage(qint64 pid, int limit = 64);
// The user's login shell from the password database when it takes a script with positional
// arguments the POSIX way (sh, bash, zsh, dash, ksh, mksh, yash); else /bin/bash.
QString loginShell();
} // namespace processes

} // namespace lomex
