#include "view/gizmocondition.h"

GizmoCondition::GizmoCondition(QObject *parent)
    : ConflictingBindingsCondition(parent)
{
}
