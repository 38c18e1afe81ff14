#pragma once
#include <QColor>
#include <QObject>
#include <QRect>
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
    // The palette entry is offered only once something opens the palette.
    std::function<void()> onPalette;
    std::function<void()> onQuit;

    void rebuild();
    void show();
    // Whether the tray icon, and so this menu, can be reached.
    bool available() const;
    // The colour the icon is drawn in: what stands out on the tray, else the theme's text.
    QColor iconColor() const;
    // The colour the icon on the tray is drawn in now.
    QColor shownColor() const { return shown_; }
    // Where the icon sits (global logical pixels); empty while no tray shows it.
    QRect geometry() const;
    QMenu* menu() const { return menu_; }
    // The entries' texts in menu order (separators left out).
    QStringList entryTexts() const;
    // Runs the entry with the given index among entryTexts() (tests).
    void trigger(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateIcon();
    // Looks at the tray now and again once it has had time to embed the icon.
    void lookSoon();

    QMenu* menu_;
    QSystemTrayIcon* tray_ = nullptr;
    QColor shown_;
};

} // namespace lomex
