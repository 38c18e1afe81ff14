#include "agents/views/ChatView.h"
#include "agents/ReplySender.h"
#include "agents/SessionStore.h"
#include "agents/TextCut.h"
#include "agents/views/AgentViewParts.h"
#include "core/Async.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "ui/Accessibility.h"
#include "ui/ElidedLabel.h"
#include "ui/Motion.h"
#include "ui/Symbols.h"
#include <QFileInfo>
#include <QHash>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace lomex {

namespace {

constexpr int kMaxLabelCharacters = 200;
// A bubble of more text is measured in one pass of the GUI thread and shown in the next.
constexpr int kShownAtOnce = 500;

QLabel* styled(QLabel* label, const QString& text, double pixelSize, const QColor& color, QFont::Weight weight)
{
    label->setTextFormat(Qt::PlainText);
    QFont f = label->font();
    f.setPixelSize(qRound(pixelSize));
    f.setWeight(weight);
    label->setFont(f);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->setText(text);
    return label;
}

QLabel* textLabel(const QString& text, double pixelSize, const QColor& color, QFont::Weight weight, QWidget* parent)
{
    return styled(new QLabel(parent), text, pixelSize, color, weight);
}

QPushButton* iconButton(const QString& symbol, const QColor& color, const QString& tip, QWidget* parent)
{
    auto* b = new QPushButton(parent);
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setIcon(symbols::icon(symbol, color));
    b->setIconSize({14, 14});
    b->setFixedSize(22, 22);
    b->setToolTip(tip);
    // Reached by Tab; a click leaves no ring behind.
    b->setFocusPolicy(Qt::TabFocus);
    b->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"
                                    " QPushButton:focus { border: 2px solid %1; border-radius: 11px; }")
                         .arg(a11y::notchFocusRing().name()));
    return b;
}

// Outside text in the header: one line, cut before layout.
QString oneLine(const QString& text)
{
    QString s = textcut::leftGraphemes(text, kMaxLabelCharacters);
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

// The list of bubbles: QWidget's own hint lays every bubble's text out at the widest hint, a
// width the scroll area never gives it; its height at the width it has is the one that counts.
class BubbleList : public QWidget {
public:
    using QWidget::QWidget;
    QSize sizeHint() const override
    {
        QSize s = layout()->sizeHint();
        if (width() > 0) s.setHeight(heightForWidth(width()));
        return s;
    }
};

} // namespace

ChatView::ChatView(const Session& session, SessionStore* store, ReplySender* sender, Clock* clock, QWidget* parent)
    : QWidget(parent),
      session_(session),
      store_(store),
      sender_(sender),
      clock_(clock ? clock : Clock::current()),
      refresh_(new Timer(clock_, this))
{
    // It holds the focus for Escape, so it is reported as the named chat, not a bare area.
    a11y::setRole(this, QAccessible::Grouping);
    setFocusPolicy(Qt::StrongFocus);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 6, 14, 8);
    column->setSpacing(6);
    buildHeader(column);

    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
    auto* content = new BubbleList(scroll_);
    list_ = new QVBoxLayout(content);
    list_->setContentsMargins(4, 0, 4, 0);
    list_->setSpacing(7);
    empty_ = textLabel(QString(), 12, QColor(255, 255, 255, 153), QFont::Normal, content);
    empty_->setWordWrap(true);
    list_->addWidget(empty_);
    list_->addStretch(1);
    scroll_->setWidget(content);
    column->addWidget(scroll_, 1);

    buildInput(column);
    status_ = textLabel(QString(), 10.5, QColor(255, 255, 255, 128), QFont::Normal, this);
    status_->setContentsMargins(6, 0, 0, 0);
    status_->setWordWrap(true);
    status_->hide();
    column->addWidget(status_);

    updateHeader();
    rebuildBubbles();
    connect(refresh_, &Timer::timeout, this, &ChatView::reload);
    connect(scrollBar(), &QScrollBar::rangeChanged, this, [this](int, int max) {
        if (!followEnd_) return;
        if (scrollAnimation_) scrollAnimation_->setEndValue(max);
        else scrollBar()->setValue(max);
    });
    // The user scrolling (wheel, keys, the bar) takes over: a later change of the range, such
    // as a status line or a taller reply field, leaves the view where the user put it.
    const auto userScrolls = [this] {
        followEnd_ = false;
        if (scrollAnimation_) scrollAnimation_->stop();
    };
    connect(scrollBar(), &QScrollBar::actionTriggered, this, userScrolls);
    connect(scrollBar(), &QScrollBar::sliderPressed, this, userScrolls);
    connect(&L10n::shared(), &L10n::languageChanged, this, [this] {
        updateHeader();
        rebuildBubbles();
    });
}

ChatView::~ChatView() = default;

void ChatView::buildHeader(QVBoxLayout* column)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(7);
    back_ = iconButton(QStringLiteral("chevron.left"), QColor(160, 160, 160), QString(), this);
    connect(back_, &QPushButton::clicked, this, [this] {
        if (onClose) onClose();
    });
    dot_ = new QLabel(this);
    dot_->setFixedSize(7, 7);
    // A long project name ends in "…" rather than being cut mid-letter.
    project_ = styled(new ElidedLabel(this), QString(), 12, Qt::white, QFont::DemiBold);
    chip_ = textLabel(QString(), 9.5, Qt::white, QFont::Medium, this);
    chip_->setObjectName(QStringLiteral("agentChip"));
    state_ = styled(new ElidedLabel(this), QString(), 10.5, Qt::white, QFont::Medium);
    // A short word of ours: the layout takes the room from the name, not from it.
    state_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    focusApp_ = iconButton(QStringLiteral("arrow.up.forward.app"), QColor(255, 255, 255, 140), QString(), this);
    connect(focusApp_, &QPushButton::clicked, this, [this] {
        if (store_) store_->markSeen(session_.id);
        if (sender_) sender_->focusApp(session_);
    });
    row->addWidget(back_);
    row->addWidget(dot_);
    row->addWidget(project_);
    row->addWidget(chip_);
    row->addWidget(state_);
    row->addStretch(1);
    row->addWidget(focusApp_);
    column->addLayout(row);
}

void ChatView::buildInput(QVBoxLayout* column)
{
    inputBox_ = new QFrame(this);
    inputBox_->setObjectName(QStringLiteral("chatInput"));
    auto* row = new QHBoxLayout(inputBox_);
    row->setContentsMargins(12, 5, 5, 5);
    row->setSpacing(8);
    field_ = new QPlainTextEdit(inputBox_);
    field_->setFrameShape(QFrame::NoFrame);
    field_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field_->setTabChangesFocus(true);
    QFont f = field_->font();
    f.setPixelSize(13);
    field_->setFont(f);
    field_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; color: white; }"));
    field_->document()->setDocumentMargin(2);
    field_->installEventFilter(this);
    connect(field_, &QPlainTextEdit::textChanged, this, [this] {
        updateSendButton();
        fitField();
    });
    sendButton_ = new QPushButton(inputBox_);
    sendButton_->setFixedSize(22, 22);
    sendButton_->setIconSize({11, 11});
    sendButton_->setIcon(symbols::icon(QStringLiteral("arrow.up"), Qt::black));
    sendButton_->setCursor(Qt::PointingHandCursor);
    sendButton_->setFocusPolicy(Qt::TabFocus);
    connect(sendButton_, &QPushButton::clicked, this, &ChatView::send);
    row->addWidget(field_, 1);
    row->addWidget(sendButton_, 0, Qt::AlignVCenter);
    column->addWidget(inputBox_);
    fitField();
    updateSendButton();
}

void ChatView::setSession(const Session& session)
{
    const bool pathChanged = session.transcriptPath != session_.transcriptPath;
    session_ = session;
    updateHeader();
    // Without messages the body shows the session's summary, which a Stop brings later.
    updateEmptyText();
    if (pathChanged) readSize_ = -1;
}

void ChatView::updateHeader()
{
    const QColor accent = session_.accent();
    const QColor agent = color(session_.agent);
    const QString name = displayName(session_.agent);
    // Called for every hook event of the session: a style sheet set again is parsed again.
    dot_->setPixmap(agentviews::dot(accent, 7, devicePixelRatioF()));
    project_->setText(oneLine(session_.projectName()));
    chip_->setText(name);
    const QString chipSheet = QStringLiteral("#agentChip { color: %1; background: rgba(%2,%3,%4,56);"
                                             " border-radius: 7px; padding: 1px 5px; }")
                                  .arg(agent.name())
                                  .arg(agent.red())
                                  .arg(agent.green())
                                  .arg(agent.blue());
    if (chip_->styleSheet() != chipSheet) chip_->setStyleSheet(chipSheet);
    state_->setText(oneLine(session_.statusTitle()));
    QPalette pal = state_->palette();
    pal.setColor(QPalette::WindowText, accent);
    state_->setPalette(pal);
    back_->setToolTip(L10n::shared().t(QStringLiteral("chat.back")));
    focusApp_->setToolTip(L10n::shared().t(QStringLiteral("agents.focus")));
    field_->setPlaceholderText(L10n::shared().t(QStringLiteral("chat.placeholder"), {name}));
    // Tooltips and a placeholder reach no screen reader: the same texts name the controls.
    back_->setAccessibleName(back_->toolTip());
    focusApp_->setAccessibleName(focusApp_->toolTip());
    field_->setAccessibleName(field_->placeholderText());
    sendButton_->setAccessibleName(L10n::shared().t(QStringLiteral("chat.send")));
    setAccessibleName(project_->text());
}

QScrollBar* ChatView::scrollBar() const
{
    return scroll_->verticalScrollBar();
}

QList<ChatBubble*> ChatView::bubbles() const
{
    QList<ChatBubble*> out;
    for (int i = 0; i < list_->count(); ++i)
        if (auto* b = qobject_cast<ChatBubble*>(list_->itemAt(i)->widget())) out << b;
    return out;
}

void ChatView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (appeared_) return;
    appeared_ = true;
    // The appear step: read now, tick every 1.5 s, ask for the keyboard 0.3 s later.
    reload();
    refresh_->start(refreshInterval, true);
    QPointer<ChatView> self(this);
    Timer::singleShot(clock_, focusDelay, this, [self] {
        if (!self) return;
        if (self->onFocusRequest) self->onFocusRequest();
        self->field_->setFocus(Qt::OtherFocusReason);
    });
}

void ChatView::reload()
{
    if (!session_.transcriptPath) return;
    const QString path = *session_.transcriptPath;
    const QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : -2;
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    if (path == readPath_ && size == readSize_ && modified == readModified_) return;
    if (reading_) {
        readAgain_ = true;
        return;
    }
    readPath_ = path;
    readSize_ = size;
    readModified_ = modified;
    reading_ = true;
    // Reading the transcript's tail takes up to a few milliseconds: off the GUI thread.
    runThen(
        this, [path] { return ChatTranscript::messages(path, limit); },
        [this](const QList<ChatMessage>& messages) {
            reading_ = false;
            apply(messages);
            if (readAgain_) {
                readAgain_ = false;
                reload();
            }
        });
}

void ChatView::apply(const QList<ChatMessage>& messages)
{
    if (messages == messages_) return;
    // At the end (or on the way there), the view keeps to the end while the newest message
    // grows; a user who scrolled up stays where they are.
    const bool atEnd = followEnd_ || scrollBar()->value() >= scrollBar()->maximum();
    followEnd_ = false;
    const std::optional<QString> lastBefore =
        messages_.isEmpty() ? std::nullopt : std::optional<QString>(messages_.last().id);
    const std::optional<QString> lastAfter =
        messages.isEmpty() ? std::nullopt : std::optional<QString>(messages.last().id);
    messages_ = messages;
    rebuildBubbles();
    Q_EMIT messagesChanged();
    // A new last message scrolls to it; more text in the last one grows its bubble in place,
    // followed when the view was at its end.
    if (!scrolledOnce_ || lastBefore != lastAfter) scrollToEnd(scrolledOnce_);
    else if (atEnd) {
        followEnd_ = true; // the bubble's new height comes with the next layout
        scrollBar()->setValue(scrollBar()->maximum());
    }
    scrolledOnce_ = true;
}

void ChatView::rebuildBubbles(bool showMeasured)
{
    bubblesQueued_ = false;
    // Bubbles of messages that did not change stay: laying out rich text is what costs.
    QHash<QString, ChatBubble*> kept;
    const QMargins margins = list_->contentsMargins();
    const int width = list_->parentWidget()->width() - margins.left() - margins.right();
    for (ChatBubble* b : bubbles()) {
        list_->removeWidget(b);
        kept.insert(b->message().id, b);
    }
    QWidget* content = list_->parentWidget();
    // Outside text can be slow to lay out (combining marks, complex scripts): new bubbles of
    // about one message's worth of text per pass, newest first; the rest follow in later passes,
    // a changed message keeping its old bubble until then. A long text is measured in one pass
    // and shown in the next, which makes none: its first paint lays it out once more, and the
    // two together are more than a frame.
    QList<ChatBubble*> shown(messages_.size(), nullptr);
    qsizetype budget = showMeasured && !measured_.isEmpty() ? 0 : ChatTranscript::maxCharacters;
    for (qsizetype i = messages_.size() - 1; i >= 0; --i) {
        const ChatMessage& m = messages_.at(i);
        ChatBubble* b = kept.take(m.id);
        if (b && b->message() == m) {
            shown[i] = b;
            continue;
        }
        if (ChatBubble* ready = measured_.value(m.id); ready && ready->message() == m) {
            if (!showMeasured) {
                shown[i] = b;
                continue;
            }
            measured_.remove(m.id);
            if (b) kept.insert(m.id, b);
            shown[i] = ready;
            continue;
        }
        if (budget <= 0) {
            shown[i] = b; // the old bubble, or none yet
            bubblesQueued_ = true;
            continue;
        }
        budget -= m.text.size();
        auto* made = new ChatBubble(m, content);
        // Made at the width the list gives it, so its first layout measures the text at that
        // width only: each width costs a whole layout of the text.
        if (width > 0) made->setWidth(width);
        if (m.text.size() > kShownAtOnce && width > 0) {
            made->hide();
            made->heightForWidth(width);
            if (ChatBubble* stale = measured_.take(m.id)) stale->deleteLater();
            measured_.insert(m.id, made);
            shown[i] = b;
            continue;
        }
        if (b) kept.insert(m.id, b);
        shown[i] = made;
    }
    int at = 1;
    for (ChatBubble* b : std::as_const(shown)) {
        if (!b) continue;
        list_->insertWidget(at++, b);
        if (b->isHidden()) b->show();
    }
    for (ChatBubble* old : std::as_const(kept)) {
        old->hide();
        old->deleteLater();
    }
    // Measured bubbles of messages that changed again or left.
    for (auto it = measured_.begin(); it != measured_.end();) {
        const bool current = std::any_of(messages_.cbegin(), messages_.cend(),
                                         [&](const ChatMessage& m) { return m == it.value()->message(); });
        if (current) {
            ++it;
            continue;
        }
        it.value()->deleteLater();
        it = measured_.erase(it);
    }
    if ((bubblesQueued_ || !measured_.isEmpty()) && !passQueued_) {
        passQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            passQueued_ = false;
            if (bubblesQueued_ || !measured_.isEmpty()) rebuildBubbles(true);
        });
    }
    updateEmptyText();
}

void ChatView::updateEmptyText()
{
    empty_->setVisible(messages_.isEmpty());
    if (!messages_.isEmpty()) return;
    const QString text = session_.lastSummary ? *session_.lastSummary : L10n::shared().t(QStringLiteral("chat.empty"));
    if (empty_->text() != text) empty_->setText(text);
}

void ChatView::scrollToEnd(bool animated)
{
    // The bubbles' heights settle as they wrap: follow the range until the next change of the
    // list decides again.
    followEnd_ = true;
    QScrollBar* bar = scrollBar();
    if (!animated || motion::reduced()) {
        bar->setValue(bar->maximum());
        return;
    }
    if (scrollAnimation_) scrollAnimation_->stop();
    scrollAnimation_ = new QPropertyAnimation(bar, "value", this);
    scrollAnimation_->setDuration(scrollMs);
    scrollAnimation_->setEasingCurve(QEasingCurve::OutCubic);
    scrollAnimation_->setEndValue(bar->maximum());
    scrollAnimation_->start(QAbstractAnimation::DeleteWhenStopped);
}

bool ChatView::canSend() const
{
    return !sending_ && !field_->toPlainText().trimmed().isEmpty();
}

void ChatView::updateSendButton()
{
    const bool enabled = canSend();
    sendButton_->setEnabled(enabled);
    const QColor fill = enabled ? color(session_.agent) : QColor(255, 255, 255, 64);
    sendButton_->setStyleSheet(QStringLiteral("QPushButton { border: none; border-radius: 11px; background: rgba(%1,%2,%3,%4); }"
                                              " QPushButton:focus { border: 2px solid %5; }")
                                   .arg(fill.red())
                                   .arg(fill.green())
                                   .arg(fill.blue())
                                   .arg(fill.alpha())
                                   .arg(a11y::notchFocusRing().name()));
    const bool focused = field_->hasFocus();
    inputBox_->setStyleSheet(QStringLiteral("#chatInput { background: rgba(255,255,255,20); border-radius: 16px;"
                                            " border: 1px solid rgba(255,255,255,%1); }")
                                 .arg(focused ? 46 : 15));
}

void ChatView::fitField()
{
    // One to three lines; more scrolls inside the field.
    const QFontMetrics fm(field_->font());
    int lines = 0;
    for (QTextBlock b = field_->document()->begin(); b.isValid() && lines < 3; b = b.next())
        lines += std::max(1, b.layout() ? b.layout()->lineCount() : 1);
    lines = std::clamp(lines, 1, 3);
    field_->setFixedHeight(lines * fm.lineSpacing() + 2 * int(field_->document()->documentMargin()) + 4);
    field_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void ChatView::send()
{
    const QString reply = field_->toPlainText().trimmed();
    if (reply.isEmpty() || sending_ || !sender_) return;
    sending_ = true;
    field_->clear();
    updateSendButton();
    QPointer<ChatView> self(this);
    auto completion = [self, reply](const ReplySender::Result& result) {
        // A chat closed meanwhile is gone; its result has nowhere to go.
        if (self) self->finish(reply, result.message(), result.isFailure());
    };
    const QString mode = Settings::shared().get(keys::agentReplyMode);
    if (mode == QLatin1String("background") && session_.agent != Agent::cursor)
        sender_->runInBackground(reply, session_, completion);
    else
        sender_->typeIntoApp(reply, session_, completion);
}

void ChatView::finish(const QString& reply, const QString& message, bool failed)
{
    sending_ = false;
    const bool entering = status_->isHidden();
    status_->setText(message);
    status_->show();
    if (entering) motion::fadeIn(status_, motion::standard());
    // Offer the reply again, unless the user has started a new one meanwhile.
    if (failed && field_->toPlainText().isEmpty()) field_->setPlainText(reply);
    updateSendButton();
}

void ChatView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        if (onClose) onClose();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool ChatView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == field_) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                && !(key->modifiers() & Qt::ShiftModifier)) {
                send();
                return true;
            }
            if (key->key() == Qt::Key_Escape) {
                if (onClose) onClose();
                return true;
            }
        } else if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            updateSendButton();
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lomex
