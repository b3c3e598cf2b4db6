#include "input/conflictingbindingscondition.h"

#include "input/action.h"

ConflictingBindingsCondition::ConflictingBindingsCondition(QObject *parent)
    : ActionCondition(parent)
{
}

void ConflictingBindingsCondition::addAction(Action *action)
{
    if (action && !actions().contains(action))
        m_actions.append(action);
}

void ConflictingBindingsCondition::removeAction(Action *action)
{
    for (int i = m_actions.size() - 1; i >= 0; --i) {
        if (m_actions.at(i) == action || !m_actions.at(i))
            m_actions.removeAt(i);
    }
}

QList<Action *> ConflictingBindingsCondition::actions() const
{
    QList<Action *> live;
    for (const QPointer<Action> &action : m_actions) {
        if (action)
            live.append(action.data());
    }
    return live;
}

bool ConflictingBindingsCondition::isRelevant(const Action *action, int bindingIndex) const
{
    if (!action || bindingIndex < 0 || bindingIndex >= action->bindingCount())
        return false;
    const QList<Action *> listed = actions();
    if (listed.contains(const_cast<Action *>(action)))
        return true;
    const ActionBinding binding = action->binding(bindingIndex);
    for (const Action *other : listed) {
        const QList<ActionBinding> bindings = other->bindings();
        for (const ActionBinding &candidate : bindings) {
            if (candidate.conflictsWith(binding))
                return true;
        }
    }
    return false;
}
