#pragma once
#include "core/Services.h"
#include "feeds/UsageMonitor.h"
#include "settings/SettingsPage.h"
#include <QColor>
#include <optional>

class QLabel;
class QVBoxLayout;

namespace lomex {

class Row;
class StatusBadge;
class Switch;

// The settings page "limits": coding-agent monitoring (the switch, approvals, sound, reminders,
// reply mode, whether each agent's hooks are in place and events arrive) and the plan usage
// limits of Claude Code and Codex. Reads the switch, the usage monitor and the agents' files
// each time something it shows changes; its only own state is the last failed switch's error.
class LimitsPage : public SettingsPage {
    Q_OBJECT
public:
    explicit LimitsPage(const Services& services, QWidget* parent = nullptr);

    // The monitoring switch was flipped to `on`.
    void setAgents(bool on);
    const std::optional<QString>& agentError() const { return agentError_; }

    // Rules of one limit as the panels show it.
    static QString windowNameKey(const QString& label);   // "limits.5h" or "limits.7d"
    static int wholeLeft(double usedPercent);             // 100 − used, at least 0, rounded
    static QColor tint(double usedPercent, const QWidget* w);
    static QString resetText(const QDateTime& at, bool czech);

    Switch* watchSwitch() const { return watch_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshState();
    void showError();

    Services services_;
    std::optional<QString> agentError_;
    Switch* watch_ = nullptr;
    QList<QWidget*> whileOn_;
    Row* claudeRow_ = nullptr;
    Row* codexRow_ = nullptr;
    StatusBadge* claudeBadge_ = nullptr;
    StatusBadge* codexBadge_ = nullptr;
    QLabel* error_ = nullptr;
    QLabel* serverError_ = nullptr;
    QWidget* limitsRow_ = nullptr;
    class ServicePanel* claudePanel_ = nullptr;
    class ServicePanel* codexPanel_ = nullptr;
};

} // namespace lomex
