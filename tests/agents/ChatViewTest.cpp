#include "AccessibleTree.h"
#include "QStringPrint.h"
#include "AgentsTestSupport.h"
#include "agents/ApprovalCenter.h"
#include "agents/ReplySender.h"
#include "agents/SessionStore.h"
#include "agents/views/AgentViews.h"
#include "agents/views/ChatView.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "platform/DesktopAutomation.h"
#include "ui/ElidedLabel.h"
#include "FakeClock.h"
#include "FakeDesktopAutomation.h"

#include <QApplication>
#include <QLabel>
#include <QWheelEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QTimer>
#include <QTest>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace lomex;
using nlohmann::json;

namespace {

std::string record(const QString& role, const QString& uuid, const QString& text)
{
    json content = role == "user" ? json(text.toStdString())
                                  : json::array({{{"type", "text"}, {"text", text.toStdString()}}});
    return json{{"type", role.toStdString()}, {"uuid", uuid.toStdString()},
                {"message", {{"role", role.toStdString()}, {"content", content}}}}
               .dump() + "\n";
}

class ChatViewTest : public test::LomexTest {
protected:
    ChatViewTest()
    {
        L10n::shared().setLanguage(AppLanguage::en);
        fake.windows.append({7, "XTerm", "xterm.desktop", 4242, true});
        path = home.file("t.jsonl");
    }

    void append(const std::string& lines)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QByteArray::fromStdString(lines));
    }
    void conversation(int n)
    {
        std::string all;
        for (int i = 0; i < n; ++i)
            all += record(i % 2 ? "assistant" : "user", QString("m%1").arg(i, 2, 10, QChar('0')),
                          QString("message %1 with a line\nand **another** one").arg(i));
        append(all);
    }
    Session session(Agent agent = Agent::claude)
    {
        Session s;
        s.id = "s1";
        s.agent = agent;
        s.cwd = "/home/u/site";
        s.transcriptPath = path;
        s.agentPID = 4242;
        return s;
    }
    // A chat on screen, as the agents tab shows it; waits for the first read.
    std::unique_ptr<ChatView> open(const Session& s)
    {
        auto view = std::make_unique<ChatView>(s, &store, &sender, &clock);
        view->resize(724, 220);
        view->show();
        test::waitUntil([&] { return !view->readInFlight(); });
        return view;
    }
    // The next tick's read has been applied.
    void tick(ChatView& view)
    {
        clock.advance(ChatView::refreshInterval);
        test::waitUntil([&] { return !view.readInFlight(); });
        QCoreApplication::processEvents();
    }
    void type(ChatView& view, const QString& text)
    {
        view.field()->setPlainText(text);
        QTest::keyClick(view.field(), Qt::Key_Return);
    }

    QString path;
    FakeClock clock;
    FakeDesktopAutomation fake;
    ReplySender sender{&clock, &fake};
    SessionStore store{&clock};
};

} // namespace

// Twelve messages of 1,500 characters in scripts that are slow to lay out: one pass of the GUI
// thread makes and measures the newest bubble, the next shows it, later passes do the same for
// the others, so opening the chat never holds the GUI thread for more than one such text.
TEST_F(ChatViewTest, LongMessagesGetTheirBubblesOneAPass)
{
    std::string all;
    for (int i = 0; i < 12; ++i) {
        QString text;
        while (text.size() < 1500) text += QString::fromUtf8("\u0928\u092E\u0938\u094D\u0924\u0947 a\u0301\u0327 \u200F\u05E9\u05DC\u05D5\u05DD ");
        all += record(i % 2 ? "assistant" : "user", QString("m%1").arg(i, 2, 10, QChar('0')), text);
    }
    append(all);
    auto view = std::make_unique<ChatView>(session(), &store, &sender, &clock);
    QList<int> madeAtOnce;
    QObject::connect(view.get(), &ChatView::messagesChanged, [&] { madeAtOnce << int(view->bubbles().size()); });
    // What each turn of the event loop shows: the bubbles in the list, newest first.
    QList<QStringList> turns;
    QTimer everyTurn;
    QObject::connect(&everyTurn, &QTimer::timeout, [&] {
        QStringList ids;
        for (ChatBubble* b : view->bubbles()) ids.prepend(b->message().id);
        if (turns.isEmpty() || turns.last() != ids) turns << ids;
    });
    everyTurn.start(0);
    view->resize(724, 220);
    view->show();
    ASSERT_TRUE(test::waitUntil([&] { return view->bubbles().size() == 12; }));
    everyTurn.stop();
    EXPECT_EQ(madeAtOnce, QList<int>{0});
    // One bubble more at a time, newest first: m11, then m10 above it, and so on.
    ASSERT_EQ(turns.size(), 13);
    for (int n = 0; n <= 12; ++n) {
        ASSERT_EQ(turns.at(n).size(), n);
        if (n > 0) {
            EXPECT_EQ(turns.at(n).last(), QString("m%1").arg(12 - n, 2, 10, QChar('0')));
        }
    }
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(view->bubbles().at(i)->message(), view->messages().at(i));
        EXPECT_TRUE(view->bubbles().at(i)->isVisible());
    }
}

// A long reply that grows: its old bubble stays shown in every turn of the event loop until the
// new one, measured in a pass of its own, takes its place.
TEST_F(ChatViewTest, AGrowingLongReplyKeepsItsBubbleUntilTheNewOneIsShown)
{
    const QString piece = QString::fromUtf8("\u0928\u092E\u0938\u094D\u0924\u0947 a\u0301\u0327 ");
    QString reply;
    while (reply.size() < 700) reply += piece;
    append(record("user", "m00", "go") + record("assistant", "m01", reply));
    auto view = open(session());
    ASSERT_TRUE(test::waitUntil([&] { return view->bubbles().size() == 2; }));
    QList<int> shownPerTurn;
    QTimer everyTurn;
    QObject::connect(&everyTurn, &QTimer::timeout, [&] {
        int shown = 0;
        for (ChatBubble* b : view->bubbles()) shown += b->isVisible() ? 1 : 0;
        shownPerTurn << shown;
    });
    everyTurn.start(0);
    const QString more = QString(piece).repeated(40) + "end";
    append(record("assistant", "m02", more));
    clock.advance(ChatView::refreshInterval);
    ASSERT_TRUE(test::waitUntil([&] { return view->bubbles().last()->message().text.endsWith("end"); }));
    QCoreApplication::processEvents();
    everyTurn.stop();
    ASSERT_FALSE(shownPerTurn.isEmpty());
    EXPECT_EQ(shownPerTurn, QList<int>(shownPerTurn.size(), 2));
    EXPECT_EQ(view->bubbles().size(), 2);
    EXPECT_TRUE(view->bubbles().last()->isVisible());
}

TEST_F(ChatViewTest, ShowsTheLastTwelveAndScrollsOnlyForANewMessage)
{
    conversation(20);
    auto view = open(session());
    ASSERT_EQ(view->bubbles().size(), 12);
    EXPECT_EQ(view->bubbles().first()->message().id, "m08");
    EXPECT_FALSE(view->emptyLabel()->isVisible());
    QScrollBar* bar = view->scrollBar();
    ASSERT_TRUE(test::waitUntil([&] { return bar->maximum() > 0; }));
    EXPECT_TRUE(test::waitUntil([&] { return bar->value() == bar->maximum(); }));

    // The same transcript again: nothing is replaced.
    int changes = 0;
    QObject::connect(view.get(), &ChatView::messagesChanged, [&] { ++changes; });
    tick(*view);
    EXPECT_EQ(changes, 0);

    // More text in the last assistant message: its bubble grows, and the view, at its end,
    // stays at the end (a user who scrolled up is left alone, see below).
    const int at = bar->value();
    append(record("assistant", "m20", "a long addition\nwith\nseveral\nlines\nof\ntext"));
    tick(*view);
    ASSERT_EQ(changes, 1);
    EXPECT_EQ(view->bubbles().last()->message().id, "m19");
    EXPECT_TRUE(view->bubbles().last()->message().text.contains("a long addition"));
    EXPECT_TRUE(test::waitUntil([&] { return bar->maximum() > at && bar->value() == bar->maximum(); }));

    // A new message scrolls to the end.
    append(record("user", "m21", "thanks"));
    tick(*view);
    EXPECT_EQ(view->bubbles().last()->message().id, "m21");
    EXPECT_TRUE(test::waitUntil([&] { return bar->value() == bar->maximum() && bar->value() > at; }));
}

// Scrolled up with the wheel, the view stays put whatever changes the scroll range afterwards.
TEST_F(ChatViewTest, WheelScrollUpSurvivesAStatusLineAndAGrowingField)
{
    const struct {
        const char* change;
        std::function<void(ChatView&)> apply;
    } cases[] = {
        {"status line", [&](ChatView& v) {
             type(v, "go ahead");
             for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
             ASSERT_TRUE(v.statusLabel()->isVisible());
         }},
        {"reply field of three lines", [&](ChatView& v) { v.field()->setPlainText("one\ntwo\nthree"); }},
        {"last message growing", [&](ChatView& v) {
             append(record("assistant", "grow", "more of the answer\nand\nmore"));
             tick(v);
         }},
    };
    conversation(20);
    for (const auto& c : cases) {
        auto view = open(session());
        QScrollBar* bar = view->scrollBar();
        ASSERT_TRUE(test::waitUntil([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));
        // The viewport, as the window system delivers it (a synthetic wheel does not propagate).
        QWidget* target = view->bubbles().first()->parentWidget()->parentWidget();
        const QPointF at(5, 5);
        QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &wheel);
        const int scrolled = bar->value();
        ASSERT_LT(scrolled, bar->maximum()) << c.change;
        const int maxBefore = bar->maximum();
        c.apply(*view);
        // Once the range has changed, a scroll would have started: none runs, none moved the bar.
        EXPECT_TRUE(test::waitUntil([&] { return bar->maximum() != maxBefore; })) << c.change << ": the range did change";
        QCoreApplication::processEvents();
        EXPECT_EQ(view->findChild<QPropertyAnimation*>(), nullptr) << c.change;
        EXPECT_EQ(bar->value(), scrolled) << c.change;
    }
}

TEST_F(ChatViewTest, LongProjectNameEndsInAnEllipsis)
{
    Session s = session();
    s.cwd = "/home/u/" + QString("a-very-long-project-name-").repeated(6) + "end";
    auto view = open(s);
    auto* project = qobject_cast<ElidedLabel*>(view->projectLabel());
    ASSERT_NE(project, nullptr);
    EXPECT_EQ(project->text(), s.projectName()) << "the whole name stays the label's text";
    EXPECT_TRUE(project->shownText().endsWith(QChar(0x2026))) << project->shownText().toStdString();
    EXPECT_LE(project->fontMetrics().horizontalAdvance(project->shownText()), project->contentsRect().width());
    EXPECT_LE(project->geometry().right(), view->focusButton()->geometry().left()) << "nothing runs under the focus button";
    // The name gives way, never the state beside it.
    auto* state = qobject_cast<ElidedLabel*>(view->stateLabel());
    ASSERT_NE(state, nullptr);
    for (AppLanguage language : {AppLanguage::cs, AppLanguage::en}) {
        L10n::shared().setLanguage(language);
        QCoreApplication::processEvents();
        EXPECT_EQ(state->shownText(), view->session().statusTitle());
        EXPECT_LE(state->geometry().right(), view->focusButton()->geometry().left());
    }
}

// Every hook event of an open chat's session updates its header: the header's parts are not
// restyled for it (a style sheet set again is parsed again), yet the dot takes the state's colour.
TEST_F(ChatViewTest, TheHeaderFollowsTheSessionWithoutRestyling)
{
    auto view = open(session());
    QLabel* dot = nullptr;
    for (QLabel* l : view->findChildren<QLabel*>())
        if (l->size() == QSize(7, 7)) dot = l;
    ASSERT_TRUE(dot);
    struct Restyles : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::StyleChange) ++count;
            return false;
        }
    } restyles;
    for (QWidget* w : view->findChildren<QWidget*>()) w->installEventFilter(&restyles);
    for (const char* event : {"UserPromptSubmit", "PreToolUse", "PostToolUse", "Stop", "UserPromptSubmit", "Stop"}) {
        store.handle(test::ev(event, "s1"));
        Session now = *store.session("s1");
        now.transcriptPath = path;
        view->setSession(now);
        QCoreApplication::processEvents();
        const QColor shown = view->grab().toImage().pixelColor(dot->mapTo(view.get(), QPoint(3, 3)));
        const QColor accent = now.accent();
        EXPECT_LT(std::abs(shown.red() - accent.red()) + std::abs(shown.green() - accent.green()) + std::abs(shown.blue() - accent.blue()), 40)
            << event << ": " << qPrintable(shown.name()) << " for " << qPrintable(accent.name());
    }
    EXPECT_EQ(restyles.count, 0);
}

TEST_F(ChatViewTest, EmptyStateShowsTheSummaryOrTheEmptyText)
{
    Session s = session();
    s.transcriptPath.reset();
    auto view = open(s);
    EXPECT_TRUE(view->emptyLabel()->isVisible());
    EXPECT_EQ(view->emptyLabel()->text(), "No messages yet.");
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(view->emptyLabel()->text(), "Zatím žádné zprávy.");

    s.lastSummary = "Fixed the <b>parser</b>";
    auto withSummary = open(s);
    EXPECT_EQ(withSummary->emptyLabel()->text(), "Fixed the <b>parser</b>");
    EXPECT_EQ(withSummary->emptyLabel()->textFormat(), Qt::PlainText);

    // A transcript that disappears empties a list that was shown.
    conversation(3);
    auto shown = open(session());
    EXPECT_EQ(shown->bubbles().size(), 3);
    QFile::remove(path);
    tick(*shown);
    EXPECT_TRUE(shown->bubbles().isEmpty());
    EXPECT_TRUE(shown->emptyLabel()->isVisible());
}

// A session without a transcript has only its summary: a chat opened before the agent stops
// shows the summary the Stop brings, in place of "No messages yet.", and no longer shows it
// once the next turn starts.
TEST_F(ChatViewTest, OpenChatShowsTheSummaryThatArrivesLater)
{
    ApprovalCenter center{&clock};
    AgentsView tab(&store, &center, &clock, nullptr, &sender);
    tab.resize(724, 240);
    tab.show();
    HookEvent start = test::ev("SessionStart", "s1");
    center.observe(start);
    store.handle(start);
    HookEvent ask = test::ev("PermissionRequest", "s1");
    ask.toolName = "Bash";
    center.observe(ask);
    store.handle(ask);
    center.add(ask, [](const std::optional<QString>&) {});
    store.setChatID(QString("s1"));
    QCoreApplication::processEvents();

    HookEvent stop = test::ev("Stop", "s1");
    stop.lastAssistantMessage = "Renamed the parser and fixed its tests.";
    center.observe(stop);
    store.handle(stop);
    QCoreApplication::processEvents();
    ASSERT_NE(tab.chat(), nullptr) << "the Stop answered the request in the terminal";
    EXPECT_EQ(tab.chat()->stateLabel()->text(), "Done");
    EXPECT_TRUE(tab.chat()->emptyLabel()->isVisible());
    EXPECT_EQ(tab.chat()->emptyLabel()->text(), "Renamed the parser and fixed its tests.");

    HookEvent prompt = test::ev("UserPromptSubmit", "s1");
    center.observe(prompt);
    store.handle(prompt);
    QCoreApplication::processEvents();
    ASSERT_NE(tab.chat(), nullptr);
    const Session now = *store.session("s1");
    EXPECT_EQ(tab.chat()->emptyLabel()->text(), now.lastSummary ? *now.lastSummary : QString("No messages yet."));
}

TEST_F(ChatViewTest, SendTrimsOneReplyAtATimeAndShowsTheStatus)
{
    conversation(2);
    auto view = open(session());
    view->field()->setPlainText(" \n  \n");
    EXPECT_FALSE(view->sendButton()->isEnabled());
    QTest::keyClick(view->field(), Qt::Key_Return);
    EXPECT_TRUE(fake.calls.isEmpty());

    type(*view, "  go ahead \n");
    EXPECT_TRUE(view->isSending());
    EXPECT_TRUE(view->field()->toPlainText().isEmpty()) << "the field empties at once";
    // While it is typed, new text waits.
    type(*view, "second");
    EXPECT_EQ(view->field()->toPlainText(), "second");
    EXPECT_FALSE(view->sendButton()->isEnabled());
    for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
    EXPECT_EQ(fake.typed, QStringList{"go ahead"});
    EXPECT_FALSE(view->isSending());
    EXPECT_TRUE(view->statusLabel()->isVisible());
    EXPECT_EQ(view->statusLabel()->text(), "Sent to XTerm");
    EXPECT_EQ(view->field()->toPlainText(), "second");
}

TEST_F(ChatViewTest, FailedReplyComesBackIntoAnEmptyFieldOnly)
{
    fake.windows.clear();
    auto view = open(session());
    type(*view, "  retry me ");
    EXPECT_EQ(view->statusLabel()->text(), "Couldn't find the session's app. Try “background” mode in Settings.");
    EXPECT_EQ(view->field()->toPlainText(), "retry me");

    // A late failure: the user has typed something new meanwhile, which stays.
    fake.windows.append({7, "XTerm", "xterm.desktop", 4242, true});
    fake.activates = false;
    view->field()->clear();
    type(*view, "first");
    view->field()->setPlainText("newer");
    for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
    EXPECT_EQ(view->statusLabel()->text(), "Couldn't bring XTerm to the front; nothing was pasted.");
    EXPECT_EQ(view->field()->toPlainText(), "newer");

    // A chat closed before its result came leaves nothing behind to touch.
    type(*view, "late");
    view.reset();
    for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
    EXPECT_FALSE(sender.isTyping());
}

TEST_F(ChatViewTest, BackgroundModeIsNeverUsedForCursor)
{
    Settings::shared().set(keys::agentReplyMode, "background");
    Session s = session(Agent::cursor);
    auto view = open(s);
    type(*view, "hello");
    for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
    EXPECT_EQ(fake.typed, QStringList{"hello"});
    EXPECT_TRUE(fake.calls.contains("paste"));
}

TEST_F(ChatViewTest, AgentsTabHostsTheChatWhileNothingIsPendingAndEscLeaves)
{
    conversation(4);
    ApprovalCenter center{&clock};
    HookEvent start = test::ev("SessionStart", "s1");
    start.transcriptPath = path;
    store.handle(start);
    AgentsView tab(&store, &center, &clock, nullptr, &sender);
    tab.resize(724, 240);
    tab.show();
    EXPECT_EQ(tab.chat(), nullptr);
    ASSERT_EQ(tab.rows().size(), 1);
    QTest::mouseClick(tab.rows().first(), Qt::LeftButton);
    EXPECT_EQ(store.chatID(), QString("s1"));
    ASSERT_NE(tab.chat(), nullptr);
    EXPECT_TRUE(tab.chat()->isVisible());

    // A permission request takes the tab back; answering it brings the chat again.
    HookEvent ask = test::ev("PermissionRequest", "s1");
    ask.toolName = "Bash";
    std::optional<std::optional<QString>> answer;
    center.add(ask, [&](std::optional<QString> reply) { answer = reply; });
    EXPECT_EQ(tab.chat(), nullptr);
    center.decide(center.pending().first().id, ApprovalCenter::Decision::deny);
    ASSERT_NE(tab.chat(), nullptr);

    QTest::keyClick(tab.chat()->field(), Qt::Key_Escape);
    EXPECT_EQ(store.chatID(), std::nullopt);
    EXPECT_EQ(tab.chat(), nullptr);
}

TEST(ChatBubbleTest, OnlyInlineMarkupIsRendered)
{
    struct Case {
        const char* text;
        const char* contains;
        const char* absent;
    };
    const std::vector<Case> cases{
        {"a **bold** word", "<b>bold</b>", "**"},
        {"an *em* and _em_", "<i>em</i> and <i>em</i>", nullptr},
        {"snake_case_name stays", "snake_case_name", "<i>"},
        {"run `rm -rf <dir>` now", "<code>rm -rf &lt;dir&gt;</code>", nullptr},
        {"~~gone~~", "<s>gone</s>", nullptr},
        {"# Heading\n- item\n> quote", "# Heading\n- item\n&gt; quote", "<h1>"},
        {"<script>alert(1)</script><img src=x>", "&lt;script&gt;", "<script"},
        {"[site](https://example.com/a?b=1&c=2)", "href=\"https://example.com/a?b=1&amp;c=2\">site</a>", nullptr},
        {"[mail](mailto:ann@example.com)", "href=\"mailto:ann@example.com\"", nullptr},
        {"[x](javascript:alert(1))", "[x](javascript:alert(1))", "href"},
        {"[x](file:///etc/passwd)", "[x](file:///etc/passwd)", "href"},
        {"<https://example.com>", "href=\"https://example.com\"", nullptr},
        {"unclosed **bold and `tick", "unclosed **bold and `tick", "<b>"},
        {"\\*not em\\*", "*not em*", "<i>"},
        {"two  spaces\n\nand lines", "two  spaces\n\nand lines", nullptr},
    };
    for (const Case& c : cases) {
        const QString html = ChatBubble::attributed(QString::fromUtf8(c.text));
        EXPECT_TRUE(html.contains(QString::fromUtf8(c.contains))) << c.text << " -> " << html.toStdString();
        if (c.absent) {
            EXPECT_FALSE(html.contains(QString::fromUtf8(c.absent))) << c.text << " -> " << html.toStdString();
        }
        EXPECT_TRUE(html.startsWith("<span style=\"white-space:pre-wrap\">"));
    }
}

TEST(ChatBubbleTest, UserAtTrailingEdgeInABubbleAssistantAtLeading)
{
    test::TempHome home;
    QWidget row;
    row.resize(600, 200);
    auto* user = new ChatBubble({"u", ChatMessage::Role::user, "short"}, &row);
    auto* agent = new ChatBubble({"a", ChatMessage::Role::assistant, "short"}, &row);
    user->setGeometry(0, 0, 600, 40);
    agent->setGeometry(0, 50, 600, 40);
    row.show();
    QCoreApplication::processEvents();
    EXPECT_GT(user->label()->geometry().left(), 300);
    EXPECT_LT(user->label()->width(), 200);
    EXPECT_LT(agent->label()->geometry().left(), 10);
    EXPECT_TRUE(user->label()->styleSheet().contains("border-radius: 14px"));
    EXPECT_FALSE(agent->label()->styleSheet().contains("background"));
}

// Closing the chat returns to the list under the spring (the chat fades away over it) and the
// status line fades in; with reduced motion both are instant.
TEST_F(ChatViewTest, ClosingTheChatAndTheStatusLineAnimateUnlessMotionIsReduced)
{
    conversation(2);
    HookEvent start = test::ev("SessionStart", "s1");
    start.transcriptPath = path;
    store.handle(start);
    for (const char* reduced : {"1", "0"}) {
        SCOPED_TRACE(reduced);
        const test::ReducedMotion motion(reduced);
        const bool animated = QByteArray(reduced) == "0";
        AgentsView tab(&store, nullptr, &clock, nullptr, &sender);
        tab.resize(724, 240);
        tab.show();
        store.setChatID(QString("s1"));
        ASSERT_NE(tab.chat(), nullptr);
        test::waitUntil([&] { return !tab.chat()->readInFlight(); });

        type(*tab.chat(), "go ahead");
        for (int i = 0; i < 200 && sender.isTyping(); ++i) clock.advance(0.02);
        QLabel* status = tab.chat()->statusLabel();
        EXPECT_TRUE(status->isVisible());
        EXPECT_EQ(test::moving(&tab), animated) << "the status line fades in";
        EXPECT_EQ(status->graphicsEffect() != nullptr, animated);
        ASSERT_TRUE(test::waitUntil([&] { return !test::moving(&tab); }, 3000));
        EXPECT_EQ(status->graphicsEffect(), nullptr);

        QTest::keyClick(tab.chat()->field(), Qt::Key_Escape);
        EXPECT_EQ(tab.chat(), nullptr);
        EXPECT_TRUE(tab.rows().first()->isVisible());
        EXPECT_EQ(test::moving(&tab), animated) << "the chat fades away over the list";
        ASSERT_TRUE(test::waitUntil([&] { return !test::moving(&tab); }, 3000));

        // Closed from elsewhere (a permission request), the chat simply goes.
        store.setChatID(QString("s1"));
        store.setChatID(std::nullopt);
        EXPECT_FALSE(test::moving(&tab));
    }
}

// A screen reader finds every control of the chat by name; the list itself is no Tab stop.
TEST_F(ChatViewTest, EveryControlHasAName)
{
    auto view = open(session());
    EXPECT_EQ(test::unnamedControls(view.get()), QStringList());
    EXPECT_EQ(test::focusableFillers(view.get()), QStringList());
    QStringList names;
    for (auto* b : view->findChildren<QPushButton*>()) names << b->accessibleName();
    names.sort();
    EXPECT_EQ(names, (QStringList{"Back to the list", "Click to switch to the session's app", "Send"}));
    EXPECT_EQ(view->findChild<QPlainTextEdit*>()->accessibleName(), "Reply to Claude…");
}
