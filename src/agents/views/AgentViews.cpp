#include "agents/views/AgentViews.h"
#include "agents/SessionStore.h"
#include "agents/ReplySender.h"
#include "agents/views/AgentViewParts.h"
#include "agents/views/ChatView.h"
#include "agents/views/CommandBox.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "ui/Accessibility.h"
#include "ui/ElidedLabel.h"
#include "ui/Motion.h"
#include "ui/Symbols.h"
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace lomex {

namespace {

using Kind = ActivityState::Kind;

// What a card costs beside its command, in characters of command.
constexpr qsizetype kCardCost = 1000;
// Rows made in one pass; a row costs about a millisecond to make and show.
constexpr int kNewRowsPerPass = 4;

} // namespace

using namespace agentviews;

// ---- AgentRow ----

AgentRow::AgentRow(const Session& session, SessionStore* store, QWidget* parent)
    : QFrame(parent), id_(session.id), store_(store)
{
    setCursor(Qt::PointingHandCursor);
    // Drawn by the list's style sheet (cardStyleSheet()).
    setObjectName(QStringLiteral("agentRow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 7, 10, 7);
    row->setSpacing(10);

    icon_ = new QLabel(this);
    icon_->setFixedSize(22, 22);
    icon_->setAlignment(Qt::AlignCenter);
    row->addWidget(icon_, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* head = new QHBoxLayout;
    head->setSpacing(8);
    // The name gives way to the state beside it, ending in "…" where the row ends.
    title_ = plainLabel({}, 13, Qt::white, true, this, new ElidedLabel(this));
    status_ = plainLabel({}, 12, Qt::white, false, this);
    context_ = plainLabel({}, 11, kDim, false, this);
    dot_ = new QLabel(this);
    dot_->setFixedSize(8, 8);
    head->addWidget(title_);
    head->addWidget(status_);
    head->addStretch(1);
    head->addWidget(context_);
    head->addWidget(dot_);
    texts->addLayout(head);
    detail_ = plainLabel({}, 12, kDim, false, this);
    texts->addWidget(detail_);
    row->addLayout(texts, 1);
    context_->setVisible(false);
    detail_->setVisible(false);
    // Nothing is shown yet: every part differs from this.
    shown_.accent = 1;
    setSession(session);
}

void AgentRow::setSession(const Session& session)
{
    id_ = session.id;
    Shown next;
    next.symbol = agentStateSymbol(session);
    const QColor accent = session.accent();
    next.accent = accent.rgba();
    next.title = session.projectName();
    next.status = session.statusTitle();
    if (session.contextPercent) next.context = QString::number(qRound(*session.contextPercent)) + QLatin1Char('%');
    next.unseen = session.isUnseen();
    next.detail = session.statusDetail().value_or(QString());
    if (session.state.is(Kind::done) && session.lastSummary) {
        next.detail = next.detail.isEmpty() ? *session.lastSummary : next.detail + QStringLiteral(" · ") + *session.lastSummary;
    }
    if (next == shown_) return;

    const bool newAccent = next.accent != shown_.accent;
    if (newAccent || next.symbol != shown_.symbol)
        icon_->setPixmap(symbols::pixmap(next.symbol, 18, accent, devicePixelRatioF()));
    if (next.title != shown_.title) setPlainText(title_, next.title);
    if (newAccent) setLabelColor(status_, accent);
    if (next.status != shown_.status) setPlainText(status_, next.status);
    if (next.context != shown_.context) {
        setPlainText(context_, next.context);
        context_->setVisible(!next.context.isEmpty());
    }
    if (newAccent) dot_->setPixmap(dot(accent, 8, devicePixelRatioF()));
    if (next.unseen != shown_.unseen || newAccent) dot_->setVisible(next.unseen);
    if (next.detail != shown_.detail) {
        setPlainText(detail_, next.detail);
        detail_->setVisible(!next.detail.isEmpty());
    }
    shown_ = std::move(next);
}

QString AgentRow::titleText() const { return title_->text(); }
QString AgentRow::statusText() const { return status_->text(); }
QString AgentRow::detailText() const { return detail_->text(); }

void AgentRow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        if (store_) store_->markSeen(id_);
        Q_EMIT activated(id_);
    }
    QFrame::mouseReleaseEvent(event);
}

// ---- AgentsView ----

AgentsView::AgentsView(SessionStore* store, ApprovalCenter* center, Clock* clock, QWidget* parent,
                       ReplySender* sender)
    : QWidget(parent), store_(store), center_(center), sender_(sender), clock_(clock),
      seenTimer_(new Timer(clock, this))
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    listPage_ = scroll;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The cards' buttons are the stops; the list itself would be one more, unnamed and unlit.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setStyleSheet(QStringLiteral(
        "QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"
        " QScrollBar:vertical { background: transparent; width: 6px; margin: 4px 1px; }"
        " QScrollBar::handle:vertical { background: rgba(255,255,255,60); border-radius: 2px; min-height: 24px; }"
        " QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        " QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
        + cardStyleSheet());
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(14, 8, 14, 8);
    column->setSpacing(6);
    cards_ = new QVBoxLayout;
    cards_->setSpacing(6);
    list_ = new QVBoxLayout;
    list_->setSpacing(6);
    column->addLayout(cards_);
    column->addLayout(list_);
    buildEmptyState(content, column);
    column->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll);

    connect(seenTimer_, &Timer::timeout, this, [this] {
        if (store_) store_->markAllSeen();
    });
    // Coalesced, and each part on its own: a session update never rebuilds a card the user
    // is about to click. Hook events arrive many times a minute while the notch is closed or
    // shows another tab, so a hidden list waits until it is shown. A request is shown in the
    // next pass; session changes too, but at most once a frame, so a burst of events (many
    // agents at work, each event in a pass of its own) costs one relayout a frame, not one an
    // event.
    frame_ = new QTimer(this);
    frame_->setSingleShot(true);
    connect(frame_, &QTimer::timeout, this, [this] {
        if (isVisible()) rebuild();
    });
    auto queue = [this](bool cards, bool rows) {
        cardsQueued_ = cardsQueued_ || cards;
        rowsQueued_ = rowsQueued_ || rows;
        if (!isVisible()) return;
        const int wait = cardsQueued_ || !lastRebuild_.isValid() ? 0 : int(std::max<qint64>(0, frameMs - lastRebuild_.elapsed()));
        if (!frame_->isActive() || frame_->remainingTime() > wait) frame_->start(wait);
    };
    if (store) connect(store, &SessionStore::sessionsChanged, this, [queue] { queue(false, true); });
    if (center) connect(center, &ApprovalCenter::pendingChanged, this, [queue] { queue(true, false); });
    if (store) connect(store, &SessionStore::sessionsChanged, this, &AgentsView::syncChat);
    if (store) connect(store, &SessionStore::chatIDChanged, this, &AgentsView::syncChat);
    if (center) connect(center, &ApprovalCenter::pendingChanged, this, &AgentsView::syncChat);
    connect(&L10n::shared(), &L10n::languageChanged, this, [this, queue] {
        cardsRedrawn_ = true;
        queue(true, true);
    });
    connect(&Settings::shared(), &Settings::changed, this, [this](const QString& key) {
        if (key == keys::agentsEnabled) updateEmptyState();
    });
    cardsQueued_ = rowsQueued_ = true;
    rebuild(Pass::catchUp);
    syncChat();
    // Fonts, glyphs and the list's styles of a card are loaded soon after start, in a pass of
    // their own, rather than in the pass where the first request opens the notch.
    QTimer::singleShot(0, this, [this] { warmUpCard(); });
}

void AgentsView::warmUpCard()
{
    PendingApproval sample;
    sample.tool = ToolActivity{QStringLiteral("Bash"), QStringLiteral("npm test")};
    // Long and unbroken, of every printable ASCII character: the path a blob or a minified
    // one-liner takes (cut to the box's share, wrapped anywhere, "goes on" said), and the glyphs
    // of most commands drawn once.
    QString printable;
    for (char16_t c = 0x21; c < 0x7F; ++c) printable += QChar(c);
    sample.command = QStringLiteral("npm test -- --watch=false\n") + printable.repeated(int(CommandBox::layOutAtOnce / printable.size()) + 2);
    sample.permissionSuggestions.push_back(nlohmann::json::object());
    // Not in the list: drawn once under its style sheet, off screen, and gone.
    QWidget* content = list_->parentWidget();
    ApprovalCard card(sample, nullptr, nullptr, content);
    card.hide();
    card.resize(content->width() > 0 ? content->width() : 700, card.sizeHint().height());
    QImage image(card.size(), QImage::Format_ARGB32_Premultiplied);
    card.render(&image);
}

void AgentsView::syncChat()
{
    std::optional<Session> session;
    if (store_ && store_->chatID()) session = store_->session(*store_->chatID());
    // A waiting request stands in front of the chat, which stays behind it as it was: the
    // reply being typed is kept, and its return does not take the keyboard again.
    chatHeld_ = center_ && !center_->pending().isEmpty();
    if (chat_ && (!session || chat_->session().id != session->id)) {
        // Closed by the user: the chat fades away over the list under the spring.
        if (closingChat_ && !session) motion::fadeOutPicture(chat_, motion::spring(motion::listSpring));
        chat_->hide();
        chat_->deleteLater();
        chat_ = nullptr;
    }
    if (session && chat_) {
        chat_->setSession(*session);
    } else if (session) {
        chat_ = new ChatView(*session, store_, sender_, clock_, this);
        chat_->onClose = [this] {
            if (!store_) return;
            const QScopedValueRollback closing(closingChat_, true);
            store_->setChatID(std::nullopt);
        };
        chat_->onFocusRequest = [this] {
            if (onChatFocusRequest) onChatFocusRequest();
        };
        layout()->addWidget(chat_);
    }
    const bool listWasHidden = listPage_->isHidden();
    listPage_->setVisible(!chat_ || chatHeld_);
    if (chat_) chat_->setVisible(!chatHeld_);
    // Back from a chat the list is shown again, as much as when the notch opens on it.
    if (listWasHidden && !listPage_->isHidden() && isVisible()) seenTimer_->start(markSeenDelay, false);
}

void AgentsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (cardsQueued_ || rowsQueued_) rebuild(Pass::catchUp);
    if (!listPage_->isHidden()) seenTimer_->start(markSeenDelay, false);
}

void AgentsView::reveal(ApprovalCard* card)
{
    // A request the user cannot see might as well not be there: whatever the list was scrolled
    // to, the new card comes into view once the layout has placed it; but not away from the
    // card brought into view before while it still waits there (a burst of requests stays at
    // its first, the rest wait below, and the list is not drawn anew for each).
    auto* scroll = static_cast<QScrollArea*>(listPage_);
    // Still waiting: listed and not answered (an answered card is hidden before it goes; a
    // new one is not shown yet until the layout gets to it).
    const bool answered = revealed_ && revealed_->isHidden() && revealed_->testAttribute(Qt::WA_WState_ExplicitShowHide);
    if (revealed_ && cards_->indexOf(revealed_) >= 0 && !answered) {
        // Until the layout has placed it, it is on its way into view.
        if (revealing_) return;
        const QRect shown(revealed_->mapTo(scroll->viewport(), QPoint(0, 0)), revealed_->size());
        if (scroll->viewport()->rect().intersects(shown)) return;
    }
    revealed_ = card;
    revealing_ = true;
    QPointer<ApprovalCard> target(card);
    QTimer::singleShot(0, this, [this, scroll, target] {
        revealing_ = false;
        if (!target) return;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        scroll->ensureWidgetVisible(target, 0, 8);
    });
}

namespace {

template <typename T>
QList<T*> widgetsIn(QVBoxLayout* layout)
{
    QList<T*> out;
    for (int i = 0; i < layout->count(); ++i)
        if (auto* w = qobject_cast<T*>(layout->itemAt(i)->widget())) out << w;
    return out;
}

} // namespace

QList<AgentRow*> AgentsView::rows() const { return widgetsIn<AgentRow>(list_); }

QList<ApprovalCard*> AgentsView::cards() const { return widgetsIn<ApprovalCard>(cards_); }

void AgentsView::rebuild(Pass pass)
{
    lastRebuild_.start();
    QWidget* content = list_->parentWidget();
    bool moreCards = false;
    bool moreRows = false;
    bool madeCard = false;
    if (cardsQueued_) {
        // Cards are kept per request: laying out a long command is what costs, so a request
        // coming or going touches its own card only, however many wait.
        QHash<quint64, ApprovalCard*> kept;
        for (ApprovalCard* card : cards()) kept.insert(card->approvalID(), card);
        if (cardsRedrawn_) {
            for (ApprovalCard* card : std::as_const(kept)) {
                cards_->removeWidget(card);
                card->hide();
                card->deleteLater();
            }
            kept.clear();
        }
        // New cards of about one long command's worth per pass: a burst of requests, or the
        // list shown after many arrived, never holds the GUI thread for all of them at once.
        qsizetype budget = kCardCost + CommandBox::layOutAtOnce;
        QSet<quint64> announced;
        ApprovalCard* arrived = nullptr;
        const QList<PendingApproval> waiting = center_ ? center_->pending() : QList<PendingApproval>();
        int at = 0;
        for (const PendingApproval& a : waiting) {
            ApprovalCard* card = kept.take(a.id);
            if (card) {
                if (announced_.contains(a.id)) announced.insert(a.id);
                if (cards_->indexOf(card) != at) {
                    cards_->removeWidget(card);
                    cards_->insertWidget(at, card);
                }
                ++at;
                continue;
            }
            if (budget <= 0) {
                moreCards = true;
                if (announced_.contains(a.id)) announced.insert(a.id);
                continue;
            }
            // A box lays out the first part of its command only.
            budget -= kCardCost + (a.command ? std::min(a.command->size(), CommandBox::layOutAtOnce) : 0);
            card = new ApprovalCard(a, store_, center_, content);
            madeCard = true;
            cards_->insertWidget(at++, card);
            announced.insert(a.id);
            // Once per request, when it arrives: redrawing it is no news.
            if (!announced_.contains(a.id)) {
                a11y::announce(card);
                if (!arrived) arrived = card;
            }
        }
        announced_ = announced;
        for (ApprovalCard* gone : std::as_const(kept)) {
            cards_->removeWidget(gone);
            gone->hide();
            gone->deleteLater();
        }
        cardsRedrawn_ = false;
        if (arrived) reveal(arrived);
    }
    if (rowsQueued_) {
        // Rows are kept and updated in place: an event touches its own row only, however many
        // sessions are listed. The row of a session that left shows one that came (the table
        // is full while many agents work, and each new one pushes the oldest out): making a
        // row costs far more than showing another session in it.
        QHash<QString, AgentRow*> kept;
        for (AgentRow* row : rows()) kept.insert(row->sessionID(), row);
        const QList<Session> sessions = store_ ? store_->ordered() : QList<Session>();
        QSet<QString> listed;
        for (const Session& s : sessions) listed.insert(s.id);
        QList<AgentRow*> spare;
        for (auto it = kept.begin(); it != kept.end();) {
            if (listed.contains(it.key())) {
                ++it;
                continue;
            }
            spare << it.value();
            it = kept.erase(it);
        }
        // A few new rows a pass, and none in a pass that made a card for a request that just came
        // (cards are what the user waits for, and a burst of requests brings as many new
        // sessions): many sessions arriving at once are listed over a few frames.
        const int newRows = madeCard && pass == Pass::live ? 0 : kNewRowsPerPass;
        int made = 0;
        int at = 0;
        for (const Session& s : sessions) {
            AgentRow* row = kept.take(s.id);
            if (!row && spare.isEmpty()) {
                if (made == newRows) {
                    moreRows = true;
                    continue;
                }
                ++made;
                row = new AgentRow(s, store_, content);
                connect(row, &AgentRow::activated, this, [store = store_](const QString& id) {
                    if (store) store->setChatID(id);
                });
                list_->insertWidget(at++, row);
                continue;
            }
            if (!row) row = spare.takeLast();
            row->setSession(s);
            if (list_->indexOf(row) != at) {
                list_->removeWidget(row);
                list_->insertWidget(at, row);
            }
            ++at;
        }
        for (AgentRow* gone : std::as_const(spare)) {
            list_->removeWidget(gone);
            gone->hide();
            gone->deleteLater();
        }
    }
    cardsQueued_ = moreCards;
    rowsQueued_ = moreRows;
    if (moreCards) frame_->start(0);
    else if (moreRows) frame_->start(frameMs);
    else frame_->stop();
    updateEmptyState();
}

void AgentsView::buildEmptyState(QWidget* content, QVBoxLayout* column)
{
    empty_ = new QWidget(content);
    empty_->setObjectName(QStringLiteral("agentsEmpty"));
    auto* v = new QVBoxLayout(empty_);
    // Short lines read better than one as wide as the notch.
    v->setContentsMargins(110, 40, 110, 0);
    v->setSpacing(10);
    emptyText_ = new QLabel(empty_);
    emptyText_->setTextFormat(Qt::PlainText);
    emptyText_->setWordWrap(true);
    emptyText_->setAlignment(Qt::AlignCenter);
    QFont f = emptyText_->font();
    f.setPixelSize(12);
    emptyText_->setFont(f);
    QPalette pal = emptyText_->palette();
    pal.setColor(QPalette::WindowText, kDim);
    emptyText_->setPalette(pal);
    v->addWidget(emptyText_);
    emptyLink_ = new QPushButton(empty_);
    emptyLink_->setObjectName(QStringLiteral("agents.openSettings"));
    emptyLink_->setCursor(Qt::PointingHandCursor);
    QFont bf = emptyLink_->font();
    bf.setPixelSize(12);
    emptyLink_->setFont(bf);
    emptyLink_->setStyleSheet(QStringLiteral("QPushButton { color: white; background: rgba(255,255,255,40); border: none;"
                                             " border-radius: 6px; padding: 5px 14px; }"
                                             " QPushButton:hover { background: rgba(255,255,255,60); }"));
    connect(emptyLink_, &QPushButton::clicked, this, [this] {
        if (onOpenSettings) onOpenSettings();
    });
    v->addWidget(emptyLink_, 0, Qt::AlignHCenter);
    column->addWidget(empty_);
}

void AgentsView::updateEmptyState()
{
    // Nothing to show: say why, and lead to where monitoring is switched on.
    const bool nothing = cards_->count() == 0 && list_->count() == 0;
    empty_->setVisible(nothing);
    if (!nothing) return;
    const bool on = Settings::shared().get(keys::agentsEnabled);
    emptyText_->setText(L10n::shared().t(on ? QStringLiteral("agents.none") : QStringLiteral("agents.off")));
    emptyLink_->setText(L10n::shared().t(QStringLiteral("agents.openSettings")));
}

} // namespace lomex
