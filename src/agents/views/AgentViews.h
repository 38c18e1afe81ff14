#pragma once
#include "agents/ApprovalCenter.h"
#include "agents/Session.h"
#include "agents/views/AgentGlyphs.h"
#include "agents/views/ApprovalCard.h"
#include <QElapsedTimer>
#include <QFrame>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace lomex {

class ChatView;
class Clock;
class ReplySender;
class SessionStore;
class Timer;

// One session of the agents list: its state icon, project, status and detail.
class AgentRow : public QFrame {
    Q_OBJECT
public:
    AgentRow(const Session& session, SessionStore* store, QWidget* parent = nullptr);
    const QString& sessionID() const { return id_; }
    // Shows the session's current state, or another session's (the row is reused); touches
    // only the parts whose text changed.
    void setSession(const Session& session);
    // The texts shown (tests).
    QString titleText() const;
    QString statusText() const;
    QString detailText() const;
    const QLabel* statusLabel() const { return status_; }

Q_SIGNALS:
    void activated(const QString& sessionID);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // What the parts show now, before cutting to the width.
    struct Shown {
        QString symbol;
        QRgb accent = 0;
        QString title, status, context, detail;
        bool unseen = false;
        bool operator==(const Shown&) const = default;
    };

    QString id_;
    QPointer<SessionStore> store_;
    Shown shown_;
    QLabel* icon_;
    QLabel* title_;
    QLabel* status_;
    QLabel* context_;
    QLabel* dot_;
    QLabel* detail_;
};

// The agents tab: the waiting permission requests, then the sessions in display order. Marks
// every session seen 1.5 s after the list was shown. While hidden it rebuilds nothing; changes
// made meanwhile are shown when it is shown again. While the store's chatID names a session
// and no permission request waits, the session's chat takes the list's place; clicking a row
// opens its chat.
class AgentsView : public QWidget {
    Q_OBJECT
public:
    static constexpr double markSeenDelay = 1.5;
    // Changes to the sessions reach the list at most once a frame.
    static constexpr int frameMs = 16;

    AgentsView(SessionStore* store, ApprovalCenter* center, Clock* clock = nullptr,
               QWidget* parent = nullptr, ReplySender* sender = nullptr);

    QList<AgentRow*> rows() const;
    QList<ApprovalCard*> cards() const;
    // The chat shown now, or null while the list is shown.
    ChatView* chat() const { return chatHeld_ ? nullptr : chat_; }
    // Handed to each chat as its focus step's window part (the delegate makes the panel key).
    std::function<void()> onChatFocusRequest;
    // The empty state's settings link: the delegate opens the limits page at its agents section.
    std::function<void()> onOpenSettings;
    // Shown while there is neither a session nor a waiting request (tests).
    QWidget* emptyState() const { return empty_; }
    QLabel* emptyText() const { return emptyText_; }
    QPushButton* settingsLink() const { return emptyLink_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Catching up (made or shown again) builds the rows with the cards; otherwise a pass that
    // makes a card leaves new rows to a later one.
    enum class Pass { live, catchUp };
    void rebuild(Pass pass = Pass::live);
    void reveal(ApprovalCard* card);
    void syncChat();
    void buildEmptyState(QWidget* content, QVBoxLayout* column);
    // Builds and draws a sample card off screen once.
    void warmUpCard();
    void updateEmptyState();

    QPointer<SessionStore> store_;
    QPointer<ApprovalCenter> center_;
    QPointer<ReplySender> sender_;
    Clock* clock_;
    QWidget* listPage_;
    ChatView* chat_ = nullptr;
    bool chatHeld_ = false; // behind a waiting request, kept as it was
    bool closingChat_ = false; // the chat is being closed by the user, not replaced
    Timer* seenTimer_;
    QVBoxLayout* cards_;
    QVBoxLayout* list_;
    QWidget* empty_ = nullptr;
    QLabel* emptyText_ = nullptr;
    QPushButton* emptyLink_ = nullptr;
    bool cardsQueued_ = false;
    bool cardsRedrawn_ = false; // every card made again (the language changed)
    QSet<quint64> announced_; // approvals already told to assistive technology
    QPointer<ApprovalCard> revealed_; // the card last brought into view
    bool revealing_ = false; // and it is on its way there
    bool rowsQueued_ = false;
    QTimer* frame_ = nullptr; // the next update of the list
    QElapsedTimer lastRebuild_;
};

} // namespace lomex
