#include "view/itemcondition.h"

ItemCondition::ItemCondition(QObject *parent)
    : ActionCondition(parent)
{
}

bool ItemCondition::isMet(const Action *, int) const
{
    return m_item != nullptr;
}
