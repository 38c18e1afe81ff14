#include "settings/pages/LimitsPage.h"
#include "agents/AgentSwitch.h"
#include "agents/HookInstaller.h"
#include "calendar/Calendar.h"
#include "calendar/DateText.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "settings/SetupModel.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "ui/Symbols.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProgressBar>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <cmath>

namespace lomex {

namespace {

QLabel* caption(QWidget* parent, const QColor& color) {
    QLabel* l = plainLabel({}, style::caption, color, parent);
    l->setWordWrap(true);
    return l;
}

} // namespace

// One agent's limits: a bar per window with the share left and the reset time.
class ServicePanel : public QWidget {
public:
    ServicePanel(QString name, QColor color, UsageMonitor* usage, QWidget* parent)
        : QWidget(parent), name_(std::move(name)), color_(std::move(color)), usage_(usage), layout_(new QVBoxLayout(this)) {
        layout_->setContentsMargins(14, 14, 14, 14);
        layout_->setSpacing(10);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    }

    void show(const QList<UsageMonitor::Limit>& limits, const QString& statusKey, const QString& how) {
        // The panel is redrawn on every change of the monitor; a keyboard user on the reload
        // button stays on the new one.
        const bool reloadHadFocus = reload_ && reload_->hasFocus();
        while (QLayoutItem* item = layout_->takeAt(0)) {
            if (item->widget()) item->widget()->deleteLater();
            delete item;
        }
        L10n& l = L10n::shared();
        auto* header = new QHBoxLayout;
        header->addWidget(plainLabel(name_, style::body, style::primary(this), this, QFont::Bold));
        header->addStretch(1);
        auto* reload = new QToolButton(this);
        reload->setIcon(symbols::icon(QStringLiteral("arrow.clockwise"), style::secondary(this)));
        reload->setAutoRaise(true);
        reload->setObjectName(QStringLiteral("reload"));
        reload->setAccessibleName(l.t(QStringLiteral("usage.refresh")));
        reload->setToolTip(reload->accessibleName());
        QObject::connect(reload, &QToolButton::clicked, this, [u = usage_] { if (u) u->refresh(); });
        header->addWidget(reload);
        reload_ = reload;
        if (reloadHadFocus) reload->setFocus(Qt::OtherFocusReason);
        auto* headerBox = new QWidget(this);
        headerBox->setLayout(header);
        header->setContentsMargins(0, 0, 0, 0);
        layout_->addWidget(headerBox);

        if (limits.isEmpty()) {
            QLabel* status = plainLabel(l.t(statusKey), style::callout, style::secondary(this), this);
            status->setWordWrap(true);
            status->setMinimumHeight(58);
            status->setAlignment(Qt::AlignTop | Qt::AlignLeft);
            layout_->addWidget(status);
        }
        for (const auto& limit : limits) {
            auto* block = new QWidget(this);
            block->setObjectName(QStringLiteral("limit.") + limit.label);
            auto* v = new QVBoxLayout(block);
            v->setContentsMargins(0, 0, 0, 0);
            v->setSpacing(4);
            auto* line = new QHBoxLayout;
            line->addWidget(plainLabel(l.t(LimitsPage::windowNameKey(limit.label)), style::callout, style::primary(this), block));
            line->addStretch(1);
            line->addWidget(plainLabel(l.t(QStringLiteral("usage.left"), {LimitsPage::wholeLeft(limit.usedPercent)}),
                                       style::callout, style::primary(this), block, QFont::DemiBold));
            v->addLayout(line);
            auto* bar = new QProgressBar(block);
            bar->setRange(0, 1000);
            bar->setValue(int(std::lround(std::max(0.0, 100 - limit.usedPercent) * 10)));
            bar->setTextVisible(false);
            bar->setFixedHeight(6);
            const QColor tint = LimitsPage::tint(limit.usedPercent, this);
            bar->setStyleSheet(QStringLiteral("QProgressBar{border:none;border-radius:3px;background:%1}"
                                              "QProgressBar::chunk{border-radius:3px;background:%2}")
                                   .arg(style::primary(this, 0.1).name(QColor::HexArgb), tint.name()));
            v->addWidget(bar);
            if (limit.resetsAt)
                v->addWidget(plainLabel(l.t(QStringLiteral("usage.resets"), {LimitsPage::resetText(*limit.resetsAt, l.isCzech())}),
                                        style::caption - 1, style::secondary(this), block));
            layout_->addWidget(block);
        }
        auto* divider = new QFrame(this);
        divider->setFrameShape(QFrame::HLine);
        divider->setStyleSheet(QStringLiteral("color:%1").arg(style::primary(this, 0.12).name(QColor::HexArgb)));
        layout_->addWidget(divider);
        QLabel* explanation = caption(this, style::secondary(this));
        explanation->setText(how);
        layout_->addWidget(explanation);
        layout_->addStretch(1);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = color_, stroke = color_;
        fill.setAlphaF(0.08);
        stroke.setAlphaF(0.25);
        p.setPen(QPen(stroke, 1));
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    }

private:
    QString name_;
    QColor color_;
    QPointer<UsageMonitor> usage_;
    QVBoxLayout* layout_;
    QPointer<QToolButton> reload_;
};

LimitsPage::LimitsPage(const Services& services, QWidget* parent) : SettingsPage(parent), services_(services) {
    L10n& l = L10n::shared();
    auto t = [&](const char* key) { return l.t(QString::fromLatin1(key)); };

    auto* usageCard = add(new Card);
    usageCard->add(new ToggleRow(t("settings.usageEnabled"), {}, settingBool(QStringLiteral("usageEnabled"), false)));

    addAnchor(QStringLiteral("agents"));
    auto* agents = add(new Card(t("agents.settingsTitle")));
    watch_ = new Switch;
    watch_->setAccessibleName(t("agents.watch"));
    agents->add(new Row(t("agents.watch"), t("agents.watchDetail"), watch_));
    // The switch only asks: the setting changes when the hooks are really in place. On
    // toggled, not clicked: assistive technology flips a switch without a click.
    connect(watch_, &QAbstractButton::toggled, this, [this](bool on) {
        QTimer::singleShot(0, this, [this, on] { setAgents(on); });
    });

    whileOn_ << agents->add(new ToggleRow(t("agents.approvals"), t("agents.approvalsDetail"), settingBool(QStringLiteral("agentApprovals"), true)));
    whileOn_ << agents->add(new ToggleRow(t("agents.celebrate"), {}, settingBool(QStringLiteral("agentCelebrate"), true)));
    whileOn_ << agents->add(new ToggleRow(t("agents.reminders"), {}, settingBool(QStringLiteral("agentReminders"), true)));
    auto* replyMode = new PopUp({{t("agents.replyType"), QStringLiteral("type")}, {t("agents.replyBackground"), QStringLiteral("background")}},
                                settingString(QStringLiteral("agentReplyMode"), QStringLiteral("type")));
    replyMode->setFixedWidth(180);
    whileOn_ << agents->add(new Row(t("agents.replyMode"), t("agents.replyMode.detail"), replyMode));
    claudeBadge_ = new StatusBadge(false, t("agents.hooksOk"));
    claudeRow_ = agents->add(new Row(QStringLiteral("Claude Code"), {}, claudeBadge_));
    whileOn_ << claudeRow_;
    codexBadge_ = new StatusBadge(false, t("agents.hooksOk"));
    codexRow_ = agents->add(new Row(QStringLiteral("Codex"), t("agents.codexTrust"), codexBadge_));
    whileOn_ << codexRow_;

    error_ = caption(agents, style::named(style::Named::red, this));
    error_->setObjectName(QStringLiteral("agentError"));
    serverError_ = caption(agents, style::named(style::Named::red, this));
    serverError_->setObjectName(QStringLiteral("serverError"));
    auto* credit = caption(agents, style::secondary(this));
    credit->setText(t("agents.credit"));
    agents->add(error_);
    agents->add(serverError_);
    agents->add(credit);

    limitsRow_ = add(new QWidget);
    auto* panels = new QHBoxLayout(limitsRow_);
    panels->setContentsMargins(0, 12, 0, 0);
    panels->setSpacing(12);
    claudePanel_ = new ServicePanel(QStringLiteral("Claude"), style::named(style::Named::orange, this), services_.usage, limitsRow_);
    codexPanel_ = new ServicePanel(QStringLiteral("Codex"), style::named(style::Named::blue, this), services_.usage, limitsRow_);
    claudePanel_->setObjectName(QStringLiteral("panel.claude"));
    codexPanel_->setObjectName(QStringLiteral("panel.codex"));
    panels->addWidget(claudePanel_, 1);
    panels->addWidget(codexPanel_, 1);

    QLabel* hint = caption(this, style::secondary(this));
    hint->setText(t("settings.usageHint"));
    hint->setContentsMargins(0, 10, 0, 0);
    add(hint);

    if (services_.agentSwitch) connect(services_.agentSwitch, &AgentSwitch::changed, this, &LimitsPage::refreshState);
    if (services_.usage) connect(services_.usage, &UsageMonitor::changed, this, &LimitsPage::refreshState);
    whenSettingChanges(this, QStringLiteral("usageEnabled"), [this] { refreshState(); });
    whenSettingChanges(this, QStringLiteral("agentsEnabled"), [this] { refreshState(); });
    refreshState();
}

void LimitsPage::showEvent(QShowEvent* event) {
    SettingsPage::showEvent(event);
    refreshState();
    if (services_.setup) services_.setup->refresh();
    if (services_.usage) services_.usage->refresh();
}

void LimitsPage::setAgents(bool on) {
    std::optional<LomexError> error;
    if (services_.agentSwitch) error = services_.agentSwitch->setEnabled(on);
    agentError_ = error ? std::optional<QString>(error->message) : std::nullopt;
    refreshState();
    if (agentError_) showError();
}

void LimitsPage::showError() {
    // The caption sits under the agents card, often below the fold: scroll it into view next
    // to the switch that failed, once the layout has made room for it.
    QTimer::singleShot(0, this, [this] {
        for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
            if (auto* scroll = qobject_cast<QScrollArea*>(w)) {
                scroll->ensureWidgetVisible(error_, 0, 24);
                return;
            }
        }
    });
}

void LimitsPage::refreshState() {
    L10n& l = L10n::shared();
    const bool on = Settings::shared().boolValue(QStringLiteral("agentsEnabled"));
    {
        const QSignalBlocker block(watch_);
        watch_->setChecked(on);
    }
    for (QWidget* w : whileOn_) w->setVisible(on);
    AgentSwitch* sw = services_.agentSwitch;
    if (on) {
        codexRow_->setVisible(AgentSwitch::codexPresent());
        // Read at each redraw: a configuration folder made meanwhile shows at once.
        claudeRow_->setTexts(QStringLiteral("Claude Code"), HookInstaller::settingsSummary());
        claudeBadge_->setState(sw && sw->claudeConnected(), l.t(QStringLiteral("agents.hooksOk")));
        codexBadge_->setState(sw && sw->codexConnected(), l.t(QStringLiteral("agents.hooksOk")));
    }
    // A failed switch says why; else, while on, an agent's file that could not be taken at start.
    const std::optional<QString> error = agentError_ ? agentError_ : (on && sw ? sw->fileError() : std::nullopt);
    error_->setText(error.value_or(QString()));
    error_->setVisible(error.has_value());
    // Monitoring is on but nothing can reach us: say why rather than look connected.
    const bool serverDown = on && sw && !sw->serverListening() && sw->serverError();
    serverError_->setText(serverDown ? l.t(QStringLiteral("agents.serverDown"), {*sw->serverError()}) : QString());
    serverError_->setVisible(serverDown);

    const bool usageOn = Settings::shared().boolValue(QStringLiteral("usageEnabled"));
    limitsRow_->setVisible(usageOn);
    if (usageOn && services_.usage) {
        UsageMonitor* u = services_.usage;
        QString claudeStatus = u->claudeStatus().value_or(QStringLiteral("usage.noData"));
        // "Connect in Settings" is for the notch; here the way is the setup guide.
        if (claudeStatus == QLatin1String("usage.noCLI")) claudeStatus = QStringLiteral("usage.noCLI.here");
        claudePanel_->show(u->claude(), claudeStatus, l.t(QStringLiteral("limits.claude.how")));
        codexPanel_->show(u->codex(), QStringLiteral("usage.noData"), l.t(QStringLiteral("limits.codex.how")));
    }
}

QString LimitsPage::windowNameKey(const QString& label) {
    return label == QLatin1String("5h") ? QStringLiteral("limits.5h") : QStringLiteral("limits.7d");
}

int LimitsPage::wholeLeft(double usedPercent) { return int(std::round(std::max(0.0, 100 - usedPercent))); }

QColor LimitsPage::tint(double usedPercent, const QWidget* w) {
    if (usedPercent >= 90) return style::named(style::Named::red, w);
    if (usedPercent >= 70) return style::named(style::Named::orange, w);
    return style::named(style::Named::green, w);
}

QString LimitsPage::resetText(const QDateTime& at, bool czech) {
    return datetext::withSkeleton(at, QStringLiteral("EEEEjmm"), czech ? "cs_CZ" : "en_US", Calendar::current());
}

} // namespace lomex
