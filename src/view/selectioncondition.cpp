#include "view/selectioncondition.h"

SelectionCondition::SelectionCondition(QObject *parent)
    : ActionCondition(parent)
{
}

bool SelectionCondition::isMet(const Action *, int) const
{
    return !m_items.isEmpty();
}
