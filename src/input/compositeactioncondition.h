#pragma once

#include "input/actioncondition.h"

#include <QList>
#include <QPointer>

// Joins several conditions, each with the value it is expected to have, by AND or (with the
// any-switch on) by OR. The members' relevance is not consulted; an empty list is met. Members
// destroyed elsewhere drop out.
class CompositeActionCondition : public ActionCondition {
    Q_OBJECT

public:
    explicit CompositeActionCondition(QObject *parent = nullptr);

    // Adding a member again only replaces its expected value.
    void addCondition(ActionCondition *condition, bool expected = true);
    void removeCondition(ActionCondition *condition);
    void setAny(bool any) { m_any = any; }
    bool isAny() const { return m_any; }

    bool isMet(const Action *action, int bindingIndex) const override;

private:
    struct Member {
        QPointer<ActionCondition> condition;
        bool expected;
    };
    QList<Member> m_members;
    bool m_any = false;
};
