#include "input/compositeactioncondition.h"

CompositeActionCondition::CompositeActionCondition(QObject *parent)
    : ActionCondition(parent)
{
}

void CompositeActionCondition::addCondition(ActionCondition *condition, bool expected)
{
    if (!condition)
        return;
    for (Member &member : m_members) {
        if (member.condition == condition) {
            member.expected = expected;
            return;
        }
    }
    m_members.append({ condition, expected });
}

void CompositeActionCondition::removeCondition(ActionCondition *condition)
{
    for (int i = m_members.size() - 1; i >= 0; --i) {
        if (m_members.at(i).condition == condition || !m_members.at(i).condition)
            m_members.removeAt(i);
    }
}

bool CompositeActionCondition::isMet(const Action *action, int bindingIndex) const
{
    bool anyLive = false;
    for (const Member &member : m_members) {
        if (!member.condition)
            continue;
        anyLive = true;
        const bool holds = member.condition->isMet(action, bindingIndex) == member.expected;
        if (m_any && holds)
            return true;
        if (!m_any && !holds)
            return false;
    }
    // AND over nothing holds; OR over something that never held does not.
    return !m_any || !anyLive;
}
