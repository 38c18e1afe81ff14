#include "agents/views/ApprovalCard.h"
#include "agents/AgentText.h"
#include "agents/SessionStore.h"
#include "agents/TextCut.h"
#include "agents/views/AgentViewParts.h"
#include "agents/views/CommandBox.h"
#include "core/L10n.h"
#include "ui/Accessibility.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lomex {

using namespace agentviews;

ApprovalCard::ApprovalCard(const PendingApproval& approval, SessionStore* store,
                           ApprovalCenter* center, QWidget* parent)
    : QFrame(parent), approval_(approval), store_(store), center_(center)
{
    // An agent waits for the user: the card is an alert, named by its question.
    a11y::setRole(this, QAccessible::AlertMessage);
    // Drawn by the list's style sheet (cardStyleSheet()).
    setObjectName(QStringLiteral("approvalCard"));
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(12, 10, 12, 10);
    box->setSpacing(8);

    auto* head = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(symbols::pixmap(approval.tool.symbol(), 16, Theme::amber(), devicePixelRatioF()));
    head->addWidget(icon);
    QString project = displayName(approval.agent);
    if (store) {
        if (auto s = store->session(approval.sessionID)) project = s->projectName();
    }
    head->addWidget(plainLabel(project, 12, kDim, true, this));
    head->addStretch(1);
    box->addLayout(head);

    const QString question = questionText();
    question_ = plainLabel(question, 13, Qt::white, true, this);
    setAccessibleName(question);
    setAccessibleDescription(project);
    box->addWidget(question_);
    if (approval.command) {
        // Outside text, so bidirectional controls are written out and marks per letter are
        // bounded.
        command_ = new CommandBox(commandText(), this);
        box->addWidget(command_);
        // Lines below the box are easy to miss: the note next to the buttons says how many
        // there are, whenever any is out of sight.
        commandLines_ = plainLabel({}, 12, Theme::amber(), true, this);
        commandLines_->hide();
        command_->onLinesCounted = [this](int lines, bool complete) {
            const bool hidden = !complete || lines > CommandBox::maxLines;
            if (!complete) commandLines_->setText(L10n::shared().t(QStringLiteral("agents.commandMore")));
            else if (hidden) commandLines_->setText(L10n::shared().t(QStringLiteral("agents.commandScroll"), {lines}));
            commandLines_->setVisible(hidden);
        };
    }

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    allow_ = button(L10n::shared().t(QStringLiteral("agents.allow")), QStringLiteral("approvalAllow"), this);
    buttons->addWidget(allow_);
    if (approval.agent == Agent::claude && !approval.permissionSuggestions.empty()) {
        always_ = button(L10n::shared().t(QStringLiteral("agents.allowAlways")), QStringLiteral("approvalAlways"), this);
        buttons->addWidget(always_);
        connect(always_, &QPushButton::clicked, this, [this] { answer(ApprovalCenter::Decision::alwaysAllow); });
    }
    deny_ = button(L10n::shared().t(QStringLiteral("agents.deny")), QStringLiteral("approvalDeny"), this);
    buttons->addWidget(deny_);
    buttons->addStretch(1);
    if (commandLines_)
        buttons->addWidget(commandLines_);
    box->addLayout(buttons);
    connect(allow_, &QPushButton::clicked, this, [this] { answer(ApprovalCenter::Decision::allow); });
    connect(deny_, &QPushButton::clicked, this, [this] { answer(ApprovalCenter::Decision::deny); });
}

QLabel* ApprovalCard::commandLinesLabel() const
{
    return commandLines_ && !commandLines_->isHidden() ? commandLines_ : nullptr;
}

QString ApprovalCard::questionText() const
{
    return AgentText::mayIUse(approval_.tool, approval_.command);
}

QString ApprovalCard::commandText() const
{
    if (!approval_.command)
        return QString();
    const QString& command = *approval_.command;
    const bool cut = approval_.commandLength > command.size();
    QString shown = textcut::showBidiControls(textcut::bounded(command, command.size(), nullptr));
    if (cut)
        shown += QLatin1Char('\n') + L10n::shared().t(QStringLiteral("agents.commandCut"), {approval_.commandLength});
    return shown;
}

void ApprovalCard::answer(ApprovalCenter::Decision decision)
{
    // The session moves on before the agent hears, so the list never shows a stale wait; and
    // only when the agent can hear, so it never shows an answer that went nowhere.
    const PendingApproval a = approval_;
    QPointer<SessionStore> store = store_;
    if (center_) center_->decide(a.id, decision, [store, a, decision] {
        if (store) store->resume(a.sessionID, decision != ApprovalCenter::Decision::deny, a.tool);
    });
}

} // namespace lomex
