#pragma once
#include "platform/Clipboard.h"

namespace lomex {

// Over QClipboard (the X11 CLIPBOARD selection); needs a QGuiApplication.
class QtClipboard : public Clipboard {
public:
    QtClipboard();
    quint64 changeCount() const override { return changes_; }
    // On X11 over a connection of its own, from any thread; elsewhere through QClipboard,
    // on the GUI thread only.
    ClipboardContent read(const ClipboardLimits& limits) const override;
    bool readsOffThread() const override { return x11_; }
    void write(const ClipboardContent& content) override;

    // A read over X11 gives up on an owner that takes longer than this in all.
    static constexpr int readBudgetMs = 1500;

private:
    quint64 changes_ = 0;
    bool x11_ = false;
};

} // namespace lomex
