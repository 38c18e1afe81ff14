#include "FakeDesktopAutomation.h"

namespace lomex {

std::optional<TargetWindow> FakeDesktopAutomation::findWindow(const WindowHint& hint)
{
    for (const TargetWindow& w : windows) {
        if ((hint.windowID && *hint.windowID == w.window) || (hint.pid && *hint.pid == w.pid)
            || hint.desktopIDs.contains(w.desktopID))
            return w;
    }
    return std::nullopt;
}

void FakeDesktopAutomation::requestActivation(quint32 window)
{
    calls << QStringLiteral("activate %1").arg(window);
    if (activates)
        activeWindow = window;
}

ClipboardSnapshot FakeDesktopAutomation::snapshotClipboard()
{
    calls << QStringLiteral("snapshot");
    return clipboard;
}

void FakeDesktopAutomation::setClipboardText(const QString& text)
{
    calls << QStringLiteral("set clipboard");
    clipboard = {};
    clipboard.items.append({"UTF8_STRING", "UTF8_STRING", 8, text.toUtf8()});
    owned = true;
    fetched = false;
}

void FakeDesktopAutomation::restoreClipboard(const ClipboardSnapshot& snapshot)
{
    calls << QStringLiteral("restore");
    clipboard = snapshot;
    owned = !snapshot.isEmpty();
}

void FakeDesktopAutomation::sendPaste(bool terminal)
{
    calls << (terminal ? QStringLiteral("paste terminal") : QStringLiteral("paste"));
    if (fetches && owned && !clipboard.isEmpty()) {
        fetched = true;
        typed << QString::fromUtf8(clipboard.items.first().data);
    }
}

void FakeDesktopAutomation::sendReturn()
{
    calls << QStringLiteral("return");
}

} // namespace lomex
