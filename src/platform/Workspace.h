#pragma once
#include <QIcon>
#include <QList>
#include <QString>
#include <QUrl>

namespace lomex {

// The desktop's workspace: open a web address or a file in its default application, show a
// file in the file manager, and the icon the desktop gives a file. Views and services reach it
// through current(), so tests can install the recording fake.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Opens the URL (https, mailto, file…) with the desktop's handler; false when none took it.
    virtual bool open(const QUrl& url) = 0;
    // Shows the file selected in the file manager (org.freedesktop.FileManager1 over D-Bus);
    // without one, opens the folder that holds it.
    virtual bool reveal(const QString& path) = 0;
    // The icon the desktop's theme gives this file (by its type); a generic one when unknown.
    virtual QIcon icon(const QString& path) = 0;

    static Workspace* current();
    static void setCurrent(Workspace* workspace); // nullptr restores the desktop's
};

class DesktopWorkspace : public Workspace {
public:
    bool open(const QUrl& url) override;
    bool reveal(const QString& path) override;
    QIcon icon(const QString& path) override;
};

} // namespace lomex
