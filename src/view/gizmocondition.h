#pragma once

#include "input/conflictingbindingscondition.h"

// True while the pointer is over a handle of the transform gizmo. Like any conflicting-bindings
// condition it only weighs on bindings equal to those of its listed actions, so the plain left
// drag goes to the gizmo over a handle and to select or move elsewhere.
class GizmoCondition : public ConflictingBindingsCondition {
    Q_OBJECT

public:
    explicit GizmoCondition(QObject *parent = nullptr);
};
