#include "FakeDesktopAutomation.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>

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

void FakeDesktopAutomation::snapshotClipboard(QObject* context, SnapshotDone done)
{
    calls << QStringLiteral("snapshot");
    snapshotContext_ = context;
    pendingSnapshot_ = std::move(done);
    if (snapshotsAtOnce)
        answerSnapshot();
}

bool FakeDesktopAutomation::answerSnapshot()
{
    if (!pendingSnapshot_)
        return false;
    SnapshotDone done = std::move(pendingSnapshot_);
    pendingSnapshot_ = nullptr;
    if (snapshotContext_)
        done(clipboard);
    return true;
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
        typed << QString::fromUtf8(clipboard.items.first().data.bytes());
    }
}

void FakeDesktopAutomation::sendReturn()
{
    calls << QStringLiteral("return");
}

std::optional<ClipboardSnapshot> test::takeSnapshot(DesktopAutomation& automation, int timeoutMs)
{
    QObject context;
    std::optional<ClipboardSnapshot> snap;
    automation.snapshotClipboard(&context, [&](const ClipboardSnapshot& s) { snap = s; });
    QElapsedTimer clock;
    clock.start();
    while (!snap && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return snap;
}

} // namespace lomex
