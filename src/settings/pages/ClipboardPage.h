#pragma once
#include "settings/SettingsPage.h"
#include <QPixmap>
#include <QPointer>
#include <QStringList>

class QPushButton;
class QToolButton;

namespace lomex {

class Card;
class ClipboardStore;
class PasteKeys;
class Row;
class RunningApps;

// The clipboard history switch, direct paste with its XTEST row, the applications whose copies
// are ignored ("clipExcluded", read from the settings every time, never copied), and clearing
// the history except pinned clips. There is no permission to ask for: the X session either
// offers XTEST or not, so without it the row says why direct paste cannot work.
class ClipboardPage : public SettingsPage {
    Q_OBJECT
public:
    // Null layers use the current ones.
    explicit ClipboardPage(ClipboardStore* store, PasteKeys* keys = nullptr, RunningApps* apps = nullptr,
                           QWidget* parent = nullptr);

    // An icon counts as drawn when at least this share of its pixels is mostly opaque: a theme
    // icon can be a text-only drawing that leaves a few faint pixels at this size.
    static constexpr double minIconCoverage = 0.04;
    // The share of the pixmap's pixels of alpha 128 and more (1 for one without alpha).
    static double iconCoverage(const QPixmap& pixmap);

    // "clipExcluded" as stored; anything but a list of strings reads as empty.
    static QStringList excluded();
    // The application's Name from its desktop entry, in the app's language; the id itself when
    // no entry is installed.
    static QString displayName(const QString& desktopID);
    // Offered by the add menu: running applications with a desktop entry, not Lomex itself, not
    // already listed, each once, sorted by name.
    QStringList runningApps() const;
    void addExcluded(const QString& desktopID);
    void removeExcluded(const QString& desktopID);

    bool axTrusted() const { return axTrusted_; }
    Row* accessibilityRow() const { return axRow_; }
    Card* excludedCard() const { return excludedCard_; }
    QToolButton* addButton() const { return addButton_; }
    QPushButton* clearButton() const { return clear_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void checkTrust();
    void showTrust();
    void rebuildExcluded();

    QPointer<ClipboardStore> store_;
    PasteKeys* keys_;
    RunningApps* apps_;
    bool axTrusted_ = false;
    Row* axRow_ = nullptr;
    Card* excludedCard_ = nullptr;
    QToolButton* addButton_ = nullptr;
    QPushButton* clear_ = nullptr;
};

} // namespace lomex
