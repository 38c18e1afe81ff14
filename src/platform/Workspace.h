#pragma once
#include <QIcon>
#include <QList>
#include <QString>
#include <QUrl>

namespace lomex {

// The desktop's file manager and default applications: opening a URL or file, showing a file
// selected in the file manager, and the icon a file gets there.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Opens with the default application; false when nothing could be started.
    virtual bool open(const QUrl& url) = 0;
    // Shows the file selected in the file manager; false when neither the file manager nor the
    // folder could be opened.
    virtual bool reveal(const QString& path) = 0;
    // The icon of the file's type; a generic one for a path that does not exist.
    virtual QIcon icon(const QString& path) = 0;

    // The layer used when none is handed in: the desktop one unless a test installed another.
    static Workspace* current();
    static void setCurrent(Workspace* workspace); // nullptr restores the desktop layer
};

// QDesktopServices for opening; org.freedesktop.FileManager1.ShowItems over the session bus
// for revealing, else the file's folder opened; icons from the icon theme by MIME type.
class DesktopWorkspace : public Workspace {
public:
    bool open(const QUrl& url) override;
    bool reveal(const QString& path) override;
    QIcon icon(const QString& path) override;
};

// Records every call for tests; icons are a plain generic one.
class FakeWorkspace : public Workspace {
public:
    QList<QUrl> opened;
    QStringList revealed;
    QStringList iconsAsked;
    bool succeed = true;

    bool open(const QUrl& url) override {
        opened.append(url);
        return succeed;
    }
    bool reveal(const QString& path) override {
        revealed.append(path);
        return succeed;
    }
    QIcon icon(const QString& path) override;
};

} // namespace lomex
