#pragma once
#include "core/Services.h"
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace lomex {

class KeyGuard;
class StepCard;
class StatusBadge;

// The setup window's content: four step cards (calendar and reminders, paste, contacts, Claude
// limits) that turn green by themselves as the setup model notices, and a footer button
// that ends onboarding. The model polls only while this is on screen.
class SetupWizardView : public QWidget {
    Q_OBJECT
public:
    static constexpr int width = 560;
    explicit SetupWizardView(Services services, QWidget* parent = nullptr);

    // The footer button: the delegate stores "onboardingDone" and closes the window.
    std::function<void()> onClose;
    // Access requests of services that arrive later (the calendar and contacts services).
    std::function<void()> requestCalendarAccess;
    std::function<void()> requestContactsAccess;
    std::function<bool()> contactsAccess;
    // Whether the tray menu (with its setup entry) can be reached; the footer points to the
    // settings window's instead when not.
    std::function<bool()> menuAvailable;

    // The whole page; the window may be smaller (a small screen) and then scrolls.
    QSize sizeHint() const override;
    // The window's size when it must fit in room (logical pixels, without the frame).
    QSize sizeWithin(const QSize& room) const;
    // The room the window may take (the work area less the frame); once given, the window
    // follows its content as cards change their texts.
    std::function<QSize()> room;
    // Sizes the window to its content within room().
    void fit();
    KeyGuard* keyGuard() const { return keyGuard_; }

    QList<StepCard*> cards() const { return cards_; }
    QPushButton* finishButton() const { return finish_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();

    Services services_;
    QScrollArea* scroll_;
    QWidget* page_;
    KeyGuard* keyGuard_;
    QLabel* title_;
    QLabel* subtitle_;
    QLabel* footer_;
    QPushButton* finish_;
    QList<StepCard*> cards_;
};

// A step's title with its "optional" capsule right after the last word, on the title's last
// line when it fits there and under it when not, also when the title wraps; the capsule never
// makes the title wrap.
class BadgedTitle : public QWidget {
    Q_OBJECT
public:
    explicit BadgedTitle(QWidget* parent = nullptr);
    void setTexts(const QString& title, const QString& badge); // badge empty: none
    QString title() const { return title_; }
    QString badge() const { return badge_; }
    // Where the title's lines and the capsule fall at the present width.
    int lineCount() const;
    QRectF lastLineRect() const;
    QRectF badgeRect() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    struct Placement;
    Placement place(int width) const;
    QString title_, badge_;
};

// One step: a coloured icon, a title (with an "optional" badge), a text and, at the end, the
// done label, a button or an information sign.
class StepCard : public QWidget {
    Q_OBJECT
public:
    StepCard(QString symbol, QColor color, bool optional, QWidget* parent = nullptr);
    // done: absent for information only.
    void set(const QString& title, const QString& text, std::optional<bool> done, const QString& button);
    std::function<void()> action;

    QString title() const;
    QString text() const;
    bool showsDone() const;
    QPushButton* button() const { return button_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    BadgedTitle* title_;
    bool optional_;
    QLabel* text_;
    StatusBadge* done_;
    QLabel* info_;
    QPushButton* button_;
};

} // namespace lomex
