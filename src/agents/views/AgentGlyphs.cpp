#include "agents/views/AgentGlyphs.h"
#include "agents/SessionStore.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include <QPainter>
#include <algorithm>

namespace lomex {

using Kind = ActivityState::Kind;

QString agentStateSymbol(const Session& session)
{
    switch (session.state.kind()) {
    case Kind::tool:
        return session.state.toolActivity() ? session.state.toolActivity()->symbol()
                                            : QStringLiteral("wrench.and.screwdriver");
    case Kind::waiting: return QStringLiteral("hand.raised.fill");
    case Kind::error: return QStringLiteral("exclamationmark.triangle.fill");
    case Kind::idle: return QStringLiteral("ellipsis");
    case Kind::thinking: return QStringLiteral("sparkles");
    case Kind::compacting: return QStringLiteral("arrow.triangle.2.circlepath");
    case Kind::done: return QStringLiteral("checkmark.circle.fill");
    }
    return QStringLiteral("sparkles");
}

AgentLeading::AgentLeading(SessionStore* store, QWidget* parent) : QWidget(parent), store_(store)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (store) connect(store, &SessionStore::sessionsChanged, this, qOverload<>(&QWidget::update));
}

std::optional<Session> AgentLeading::top() const
{
    if (!store_) return std::nullopt;
    const auto list = store_->ordered();
    if (list.isEmpty()) return std::nullopt;
    return list.first();
}

QString AgentLeading::symbolName() const
{
    const auto session = top();
    return session ? agentStateSymbol(*session) : QString();
}

QColor AgentLeading::color() const
{
    const auto session = top();
    return session ? session->accent() : QColor(Qt::white);
}

void AgentLeading::paintEvent(QPaintEvent*)
{
    // One ordering per paint, for both the symbol and its colour.
    const auto session = top();
    if (!session) return;
    QPainter p(this);
    const int s = std::max(8, std::min({16, width() - 4, height() - 4}));
    p.drawPixmap(QPoint((width() - s) / 2, (height() - s) / 2),
                 symbols::pixmap(agentStateSymbol(*session), s, session->accent(), devicePixelRatioF()));
}

AgentTrailing::AgentTrailing(SessionStore* store, QWidget* parent) : QWidget(parent), store_(store)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (store) connect(store, &SessionStore::sessionsChanged, this, qOverload<>(&QWidget::update));
}

int AgentTrailing::activeCount() const
{
    if (!store_) return 0;
    const auto& sessions = store_->sessions();
    return int(std::count_if(sessions.begin(), sessions.end(),
                             [](const Session& s) { return s.state.isBusy() || s.state.is(Kind::waiting); }));
}

bool AgentTrailing::hasUnseen() const
{
    if (!store_) return false;
    for (const Session& s : store_->sessions())
        if (s.isUnseen()) return true;
    return false;
}

void AgentTrailing::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int n = activeCount();
    bool waiting = false;
    if (store_) {
        for (const Session& s : store_->sessions()) waiting = waiting || s.state.is(Kind::waiting);
    }
    if (n > 0) {
        QFont f = font();
        f.setPixelSize(12);
        f.setBold(true);
        p.setFont(f);
        p.setPen(waiting ? Theme::amber() : QColor(Qt::white));
        p.drawText(rect(), Qt::AlignCenter, QString::number(n));
    } else if (hasUnseen()) {
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::success());
        p.drawEllipse(QPointF(width() / 2.0, height() / 2.0), 3.5, 3.5);
    }
}

} // namespace lomex
