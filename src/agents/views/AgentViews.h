#pragma once
#include "agents/ApprovalCenter.h"
#include "agents/Session.h"
#include <QFrame>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace lomex {

class ChatView;
class Clock;
class CommandBox;
class ReplySender;
class SessionStore;
class Timer;

// One session of the agents list: its state icon, project, status and detail.
class AgentRow : public QFrame {
    Q_OBJECT
public:
    AgentRow(const Session& session, SessionStore* store, QWidget* parent = nullptr);
    const QString& sessionID() const { return id_; }
    // Shows the session's current state (same id); touches only the parts whose text changed.
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

// A permission request waiting for the user, with allow, always allow and deny.
class ApprovalCard : public QFrame {
    Q_OBJECT
public:
    ApprovalCard(const PendingApproval& approval, SessionStore* store, ApprovalCenter* center,
                 QWidget* parent = nullptr);
    quint64 approvalID() const { return approval_.id; }
    QString questionText() const;
    // The exact command shown under the question (shell requests); empty when there is none.
    QString commandText() const;
    // Says how many lines a command has that its box cannot show whole (counted as laid out
    // at the box's width); null while the command fits.
    QLabel* commandLinesLabel() const;
    QPushButton* allowButton() const { return allow_; }
    // Absent where the agent would not keep a rule (no suggestions, or Codex).
    QPushButton* alwaysButton() const { return always_; }
    QPushButton* denyButton() const { return deny_; }

private:
    void answer(ApprovalCenter::Decision decision);

    PendingApproval approval_;
    QPointer<SessionStore> store_;
    QPointer<ApprovalCenter> center_;
    QLabel* question_;
    CommandBox* command_ = nullptr;
    QLabel* commandLines_ = nullptr;
    QPushButton* allow_;
    QPushButton* always_ = nullptr;
    QPushButton* deny_;
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
    void rebuild();
    void reveal(ApprovalCard* card);
    void syncChat();
    void buildEmptyState(QWidget* content, QVBoxLayout* column);
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
    bool rowsQueued_ = false;
};

// The closed notch's agent glyphs: the leading one shows what the top session does, the
// trailing one how many sessions work or wait.
class AgentLeading : public QWidget {
    Q_OBJECT
public:
    explicit AgentLeading(SessionStore* store, QWidget* parent = nullptr);
    // The symbol and colour drawn now (none when the table is empty).
    QString symbolName() const;
    QColor color() const;
    QSize sizeHint() const override { return {24, 24}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    // The session listed first, which the glyph stands for.
    std::optional<Session> top() const;

    QPointer<SessionStore> store_;
};

class AgentTrailing : public QWidget {
    Q_OBJECT
public:
    explicit AgentTrailing(SessionStore* store, QWidget* parent = nullptr);
    // Sessions working or waiting; with none, unseen news shows as a dot.
    int activeCount() const;
    bool hasUnseen() const;
    QSize sizeHint() const override { return {24, 24}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPointer<SessionStore> store_;
};

// The state symbol of a session: the tool's icon while it runs, else one per state.
QString agentStateSymbol(const Session& session);

} // namespace lomex
