#include "input/actioncondition.h"

ActionCondition::ActionCondition(QObject *parent)
    : QObject(parent)
{
}

ActionCondition::ActionCondition(bool value, QObject *parent)
    : QObject(parent)
    , m_value(value)
{
}

bool ActionCondition::isMet(const Action *action, int bindingIndex) const
{
    Q_UNUSED(action)
    Q_UNUSED(bindingIndex)
    return m_value;
}

bool ActionCondition::isRelevant(const Action *action, int bindingIndex) const
{
    Q_UNUSED(action)
    Q_UNUSED(bindingIndex)
    return true;
}
