#pragma once
#include "agents/Session.h"
#include <QPointer>
#include <QWidget>
#include <optional>

namespace lomex {

class SessionStore;

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
