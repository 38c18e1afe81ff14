#pragma once
#include "platform/DesktopAutomation.h"

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
    bool fetched = false;

    QStringList calls;                  // "activate 7", "paste terminal", "return", …
    QStringList typed;                  // texts that a paste delivered

    bool trusted() override { return isTrusted; }
    std::optional<TargetWindow> findWindow(const WindowHint& hint) override;
    void requestActivation(quint32 window) override;
    bool isActive(quint32 window) override { return activeWindow == window; }
    ClipboardSnapshot snapshotClipboard() override;
    void setClipboardText(const QString& text) override;
    bool pasteFetched() override { return fetched; }
    bool ownsClipboard() override { return owned; }
    void restoreClipboard(const ClipboardSnapshot& snapshot) override;
    void sendPaste(bool terminal) override;
    void sendReturn() override;
};

} // namespace lomex
