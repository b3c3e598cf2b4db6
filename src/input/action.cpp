#include "input/action.h"

#include "input/actioncondition.h"
#include "input/actionhandler.h"

#include <QCoreApplication>

Action::Action(const QString &name, const ActionBinding &binding, int flags,
    const QString &category, QObject *parent)
    : QAction(parent)
    , m_name(name)
    , m_category(category)
    , m_flags(flags)
    , m_bindings({ binding })
{
    setObjectName(name);
}

Action::~Action()
{
    if (ActionHandler *handler = ActionHandler::existingInstance())
        handler->removeAction(this);
}

QString Action::category() const
{
    if (m_category.isEmpty())
        return QCoreApplication::translate("Action", "Other");
    return m_category;
}

QString Action::displayText() const
{
    return m_displayText.isEmpty() ? text() : m_displayText;
}

int Action::indexOfBinding(const ActionBinding &binding) const
{
    for (int i = 0; i < m_bindings.size(); ++i) {
        if (m_bindings.at(i).isSameBinding(binding))
            return i;
    }
    return -1;
}

void Action::addBinding(const ActionBinding &binding)
{
    const QList<ActionBinding> old = m_bindings;
    m_bindings.append(binding);
    emit bindingsChanged(this, old);
}

void Action::setBinding(int index, const ActionBinding &binding)
{
    if (index < 0 || index >= m_bindings.size() || m_bindings.at(index) == binding)
        return;
    const QList<ActionBinding> old = m_bindings;
    m_bindings[index] = binding;
    emit bindingsChanged(this, old);
}

void Action::setBindings(const QList<ActionBinding> &bindings)
{
    const QList<ActionBinding> old = m_bindings;
    m_bindings = bindings;
    emit bindingsChanged(this, old);
}

void Action::removeBinding(int index)
{
    if (index < 0 || index >= m_bindings.size())
        return;
    const QList<ActionBinding> old = m_bindings;
    m_bindings.removeAt(index);
    emit bindingsChanged(this, old);
}

bool Action::isBindingSatisfied(int index) const
{
    if (!isEnabled() || index < 0 || index >= m_bindings.size())
        return false;
    const ActionBinding &binding = m_bindings.at(index);
    if (binding.isEmpty() && !(m_flags & HoverFlag))
        return false;
    const QList<ActionCondition *> conditions = binding.conditions();
    const QList<bool> expected = binding.expectedValues();
    for (int i = 0; i < conditions.size(); ++i) {
        const ActionCondition *condition = conditions.at(i);
        if (condition->isRelevant(this, index) && condition->isMet(this, index) != expected.at(i))
            return false;
    }
    return true;
}

bool Action::isAnyBindingSatisfied() const
{
    for (int i = 0; i < m_bindings.size(); ++i) {
        if (isBindingSatisfied(i))
            return true;
    }
    return false;
}

bool Action::areAllBindingsEmpty() const
{
    for (const ActionBinding &binding : m_bindings) {
        if (!binding.isEmpty())
            return false;
    }
    return true;
}

QString Action::bindingText() const
{
    for (const ActionBinding &binding : m_bindings) {
        if (!binding.isEmpty())
            return binding.displayText();
    }
    return QString();
}

void Action::setEnabled(bool enabled)
{
    if (m_blocked)
        m_enabledBeforeBlock = enabled;
    else
        QAction::setEnabled(enabled);
}

void Action::setBlocked(bool blocked)
{
    if (blocked == m_blocked)
        return;
    if (blocked) {
        m_enabledBeforeBlock = isEnabled();
        QAction::setEnabled(false);
        m_blocked = true;
    } else {
        m_blocked = false;
        QAction::setEnabled(m_enabledBeforeBlock);
    }
}
