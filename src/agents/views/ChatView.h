#pragma once
#include "agents/ChatTranscript.h"
#include "agents/Session.h"
#include <QDateTime>
#include <QFrame>
#include <QHash>
#include <QPointer>
#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPropertyAnimation;
class QPushButton;
class QScrollArea;
class QScrollBar;
class QVBoxLayout;

namespace lomex {

class Clock;
class ReplySender;
class SessionStore;
class Timer;

// One chat message: the user's at the trailing edge in a rounded bubble, the agent's at the
// leading edge without one.
class ChatBubble : public QFrame {
    Q_OBJECT
public:
    explicit ChatBubble(const ChatMessage& message, QWidget* parent = nullptr);
    const ChatMessage& message() const { return message_; }
    QLabel* label() const { return label_; }

    // The message as rich text for a label: every character of the transcript is escaped, white
    // space and line breaks are kept, and only inline emphasis, strikethrough, code spans and
    // links to http, https and mailto addresses become markup. Block syntax stays literal.
    static QString attributed(const QString& text);

    // Resizes it now, its text's width with it, before a layout measures it.
    void setWidth(int width);
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitLabel();

    ChatMessage message_;
    QLabel* label_;
    int idealWidth_ = 0; // of a user bubble: its text on one line, with padding
};

// The conversation of one session inside the agents tab: a header, the last messages of the
// transcript (reloaded every 1.5 s, read off the GUI thread), the reply field and the status
// of the last delivery. Esc and the back button leave through onClose.
class ChatView : public QWidget {
    Q_OBJECT
public:
    static constexpr int limit = 12;
    static constexpr double refreshInterval = 1.5;
    static constexpr double focusDelay = 0.3;
    static constexpr int scrollMs = 250;

    ChatView(const Session& session, SessionStore* store, ReplySender* sender, Clock* clock = nullptr,
             QWidget* parent = nullptr);
    ~ChatView() override;

    // The store's current value of the session: the header follows it, reloads use its path.
    void setSession(const Session& session);
    const Session& session() const { return session_; }

    // Leaves the chat (back button, Esc).
    std::function<void()> onClose;
    // The focus step's window part: the host makes the notch panel key when it should.
    std::function<void()> onFocusRequest;

    // Reads the transcript now (also what every tick does).
    void reload();
    // Delivers the field's text, trimmed; does nothing while a reply is under way.
    void send();
    bool canSend() const;
    bool isSending() const { return sending_; }

    // For tests and the host.
    const QList<ChatMessage>& messages() const { return messages_; }
    QList<ChatBubble*> bubbles() const;
    // Shown while there are no messages: the last summary or "No messages yet."
    QLabel* emptyLabel() const { return empty_; }
    QLabel* statusLabel() const { return status_; }
    QPlainTextEdit* field() const { return field_; }
    QPushButton* sendButton() const { return sendButton_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* focusButton() const { return focusApp_; }
    QLabel* projectLabel() const { return project_; }
    QLabel* stateLabel() const { return state_; }
    QScrollBar* scrollBar() const;
    bool readInFlight() const { return reading_; }

Q_SIGNALS:
    // The shown messages were replaced (a reload found a difference).
    void messagesChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildHeader(QVBoxLayout* column);
    void buildInput(QVBoxLayout* column);
    void updateHeader();
    void apply(const QList<ChatMessage>& messages);
    // showMeasured: the bubbles measured in the last pass are shown, and no new ones made.
    void rebuildBubbles(bool showMeasured = false);
    void updateEmptyText();
    void scrollToEnd(bool animated);
    void updateSendButton();
    void fitField();
    void finish(const QString& reply, const QString& message, bool failed);

    Session session_;
    QPointer<SessionStore> store_;
    QPointer<ReplySender> sender_;
    Clock* clock_;
    Timer* refresh_;
    QList<ChatMessage> messages_;
    bool sending_ = false;
    bool appeared_ = false;
    bool scrolledOnce_ = false;
    bool followEnd_ = false;
    bool bubblesQueued_ = false; // messages whose bubbles a later pass makes
    QHash<QString, ChatBubble*> measured_; // by message id: laid out, shown by the next pass
    bool passQueued_ = false;
    QPointer<QPropertyAnimation> scrollAnimation_;
    // The transcript as last read: a tick that finds the file unchanged reads nothing.
    QString readPath_;
    qint64 readSize_ = -1;
    QDateTime readModified_;
    bool reading_ = false;
    bool readAgain_ = false;

    QLabel* dot_;
    QLabel* project_;
    QLabel* chip_;
    QLabel* state_;
    QPushButton* back_;
    QPushButton* focusApp_;
    QScrollArea* scroll_;
    QVBoxLayout* list_;
    QLabel* empty_;
    QFrame* inputBox_;
    QPlainTextEdit* field_;
    QPushButton* sendButton_;
    QLabel* status_;
};

} // namespace lomex
