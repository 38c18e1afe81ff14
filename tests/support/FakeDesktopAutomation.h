#pragma once
#include "platform/DesktopAutomation.h"
#include <QPointer>

namespace lomex {

// Records what was asked; the window list, activation and fetching are set by the test.
class FakeDesktopAutomation : public DesktopAutomation {
public:
    bool isTrusted = true;
    QList<TargetWindow> windows;        // findWindow: first whose pid or window id matches the hint
    bool activates = true;              // requestActivation makes the window active
    std::optional<quint32> activeWindow;
    bool fetches = true;                // a paste chord fetches the clipboard text
    ClipboardSnapshot clipboard;        // current content
    bool owned = false;
    // snapshotClipboard answers within the call; when false, the snapshot waits for answerSnapshot().
    bool snapshotsAtOnce = true;
    bool fetched = false;

    QStringList calls;                  // "activate 7", "paste terminal", "return", …
    QStringList typed;                  // texts that a paste delivered

    bool trusted() override { return isTrusted; }
    std::optional<TargetWindow> findWindow(const WindowHint& hint) override;
    void requestActivation(quint32 window) override;
    bool isActive(quint32 window) override { return activeWindow == window; }
    void snapshotClipboard(QObject* context, SnapshotDone done) override;
    // Hands the clipboard as it is now to the snapshot that waits; false when none does.
    bool answerSnapshot();
    void setClipboardText(const QString& text) override;
    bool pasteFetched() override { return fetched; }
    bool ownsClipboard() override { return owned; }
    void restoreClipboard(const ClipboardSnapshot& snapshot) override;
    void sendPaste(bool terminal) override;
    void sendReturn() override;

private:
    QPointer<QObject> snapshotContext_;
    SnapshotDone pendingSnapshot_;
};

namespace test {
// Takes a snapshot through the layer and waits for it, running this thread's event loop (which
// may serve the clipboard meanwhile); nothing when it does not come within the time.
std::optional<ClipboardSnapshot> takeSnapshot(DesktopAutomation& automation, int timeoutMs = 30000);
} // namespace test

} // namespace lomex
