#pragma once
#include <QObject>
#include <QStringList>
#include <functional>

class QMenu;
class QSystemTrayIcon;

namespace lomex {

// The tray icon and its menu. The menu is rebuilt whenever the language changes. Without a
// system tray (some desktops, Xvfb) the menu still exists but nothing shows it.
class StatusMenu : public QObject {
    Q_OBJECT
public:
    explicit StatusMenu(QObject* parent = nullptr);
    ~StatusMenu() override;

    std::function<void()> onSettings;
    std::function<void()> onSetup;
    std::function<void()> onPalette;
    std::function<void()> onQuit;

    void rebuild();
    void show();
    QMenu* menu() const { return menu_; }
    // The entries' texts in menu order (separators left out).
    QStringList entryTexts() const;
    // Runs the entry with the given index among entryTexts() (tests).
    void trigger(int index);

private:
    QMenu* menu_;
    QSystemTrayIcon* tray_ = nullptr;
};

} // namespace lomex
