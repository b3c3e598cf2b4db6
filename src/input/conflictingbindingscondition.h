#pragma once

#include "input/actioncondition.h"

#include <QList>
#include <QPointer>

// Separates actions that share a binding on purpose (select versus an item gesture, the gizmo
// versus the gestures under it): it only speaks for bindings of its listed actions and for
// bindings equal to one of theirs; everywhere else it is irrelevant. The stored boolean is the
// owner's verdict.
class ConflictingBindingsCondition : public ActionCondition {
    Q_OBJECT

public:
    explicit ConflictingBindingsCondition(QObject *parent = nullptr);

    void addAction(Action *action);
    void removeAction(Action *action);
    QList<Action *> actions() const;

    bool isRelevant(const Action *action, int bindingIndex) const override;

private:
    QList<QPointer<Action>> m_actions;
};
