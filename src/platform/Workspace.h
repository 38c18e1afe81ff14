#pragma once
#include <QList>
#include <QUrl>

namespace lomex {

// Opening addresses and folders with the desktop's default handler (the shared workspace on
// macOS). Used where a missing permission sends the user to the place that grants it.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual bool open(const QUrl& url) = 0;

    // The layer used when none is handed in: the desktop, unless a test installed another.
    static Workspace* current();
    static void setCurrent(Workspace* workspace); // nullptr restores the desktop
};

// QDesktopServices (xdg-open and the portal underneath).
class DesktopWorkspace : public Workspace {
public:
    bool open(const QUrl& url) override;
};

// Records what would have been opened.
class FakeWorkspace : public Workspace {
public:
    QList<QUrl> opened;
    bool open(const QUrl& url) override {
        opened.append(url);
        return true;
    }
};

} // namespace lomex
