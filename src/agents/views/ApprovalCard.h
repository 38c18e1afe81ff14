#pragma once
#include "agents/ApprovalCenter.h"
#include <QFrame>
#include <QPointer>

class QLabel;
class QPushButton;

namespace lomex {

class CommandBox;
class SessionStore;

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
    // at the box's width), or that it goes on while the box holds its first part only; null
    // while the command fits.
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

} // namespace lomex
