#include "input/actionbinding.h"

#include "input/actioncondition.h"

#include <QCoreApplication>
#include <QStringList>

ActionBinding::ActionBinding(
    int type_, const QKeySequence &keySequence_, Qt::MouseButtons mouseButtons_, int context_)
    : type(type_)
    , keySequence(keySequence_)
    , mouseButtons(mouseButtons_)
    , context(context_)
{
}

int ActionBinding::firstKey() const
{
    return keySequence.isEmpty() ? 0 : keySequence[0];
}

bool ActionBinding::isEmpty() const
{
    return keySequence.isEmpty() && mouseButtons == Qt::NoButton;
}

void ActionBinding::addCondition(ActionCondition *condition, bool expected)
{
    if (!condition)
        return;
    pruneConditions();
    for (int i = 0; i < m_conditions.size(); ++i) {
        if (m_conditions.at(i) == condition) {
            m_expectedValues[i] = expected;
            return;
        }
    }
    m_conditions.append(condition);
    m_expectedValues.append(expected);
}

void ActionBinding::removeCondition(ActionCondition *condition)
{
    for (int i = m_conditions.size() - 1; i >= 0; --i) {
        if (m_conditions.at(i) == condition || m_conditions.at(i).isNull()) {
            m_conditions.removeAt(i);
            m_expectedValues.removeAt(i);
        }
    }
}

bool ActionBinding::hasCondition(const ActionCondition *condition) const
{
    for (const QPointer<ActionCondition> &c : m_conditions) {
        if (c && c == condition)
            return true;
    }
    return false;
}

QList<ActionCondition *> ActionBinding::conditions() const
{
    QList<ActionCondition *> live;
    for (const QPointer<ActionCondition> &c : m_conditions) {
        if (c)
            live.append(c.data());
    }
    return live;
}

QList<bool> ActionBinding::expectedValues() const
{
    QList<bool> live;
    for (int i = 0; i < m_conditions.size(); ++i) {
        if (m_conditions.at(i))
            live.append(m_expectedValues.at(i));
    }
    return live;
}

bool ActionBinding::expectedValue(const ActionCondition *condition) const
{
    for (int i = 0; i < m_conditions.size(); ++i) {
        if (m_conditions.at(i) && m_conditions.at(i) == condition)
            return m_expectedValues.at(i);
    }
    return true;
}

bool ActionBinding::isSameBinding(const ActionBinding &other) const
{
    if (keySequence != other.keySequence || mouseButtons != other.mouseButtons
        || consumesInput != other.consumesInput)
        return false;
    for (int i = 0; i < m_conditions.size(); ++i) {
        const ActionCondition *condition = m_conditions.at(i);
        if (condition && other.hasCondition(condition)
            && other.expectedValue(condition) != m_expectedValues.at(i))
            return false;
    }
    return true;
}

bool ActionBinding::conflictsWith(const ActionBinding &other) const
{
    return keySequence == other.keySequence && mouseButtons == other.mouseButtons;
}

bool ActionBinding::operator==(const ActionBinding &other) const
{
    return type == other.type && keySequence == other.keySequence
        && mouseButtons == other.mouseButtons && context == other.context
        && consumesInput == other.consumesInput && conditions() == other.conditions()
        && expectedValues() == other.expectedValues();
}

bool ActionBinding::operator<(const ActionBinding &other) const
{
    if (consumesInput != other.consumesInput)
        return !consumesInput;
    if (keySequence != other.keySequence)
        return keySequence < other.keySequence;
    return int(mouseButtons) < int(other.mouseButtons);
}

QString ActionBinding::mouseButtonName(int bit)
{
    switch (bit) {
    case 0:
        return QCoreApplication::translate("ActionBinding", "Left");
    case 1:
        return QCoreApplication::translate("ActionBinding", "Right");
    case 2:
        return QStringLiteral("Middle");
    case 3:
        return QStringLiteral("Back");
    case 4:
        return QStringLiteral("Forward");
    case 5:
        return QStringLiteral("Task");
    default:
        break;
    }
    if (bit >= 6 && bit <= 26)
        return QStringLiteral("Extra %1").arg(bit - 2);
    return QString();
}

QString ActionBinding::mouseButtonsText(Qt::MouseButtons buttons)
{
    QStringList names;
    for (int bit = 0; bit <= 26; ++bit) {
        if (int(buttons) & (1 << bit))
            names.append(mouseButtonName(bit));
    }
    return names.join(QLatin1Char('+'));
}

QString ActionBinding::displayText() const
{
    QString text;
    if (mouseButtons != Qt::NoButton)
        text = mouseButtonsText(mouseButtons) + QLatin1String(" MB");
    if (!keySequence.isEmpty()) {
        QString keyText = keySequence.toString(QKeySequence::NativeText);
        // A sequence of modifiers alone reads "Ctrl+Alt+": the dangling plus goes, but a plus
        // that is the key itself stays.
        const int key = firstKey() & ~int(Qt::KeyboardModifierMask);
        if (key != Qt::Key_Plus && keyText.endsWith(QLatin1Char('+')))
            keyText.chop(1);
        if (!text.isEmpty())
            text += QLatin1String("  +  ");
        text += keyText;
    }
    return text;
}

void ActionBinding::pruneConditions()
{
    removeCondition(nullptr);
}
