#include "ui/contextmenuentry.h"

#include "input/action.h"

ContextMenuEntry::ContextMenuEntry(Action *action, QObject *parent)
    : QAction(parent)
    , m_action(action)
{
    sync();
    connect(action, &QAction::changed, this, &ContextMenuEntry::sync);
    connect(action, &Action::bindingsChanged, this, &ContextMenuEntry::sync);
    connect(action, &QObject::destroyed, this, &ContextMenuEntry::forgetAction);
    connect(this, &QAction::triggered, this, &ContextMenuEntry::triggerAction);
    connect(this, &QAction::hovered, action, &QAction::hover);
}

QString ContextMenuEntry::entryText(const Action *action)
{
    const QString label = action->text();
    const QString binding = action->bindingText();
    // A label with a tab of its own has already filled the column.
    if (binding.isEmpty() || label.contains(QLatin1Char('\t')))
        return label;
    // The column is drawn with mnemonics like the label, so a '&' in a binding must stay literal.
    return label + QLatin1Char('\t')
        + QString(binding).replace(QLatin1Char('&'), QLatin1String("&&"));
}

void ContextMenuEntry::sync()
{
    if (!m_action)
        return;
    setText(entryText(m_action));
    setIcon(m_action->icon());
    setIconVisibleInMenu(m_action->isIconVisibleInMenu());
    setFont(m_action->font());
    // Without a tool tip of its own the entry's would be derived from its text, binding and all.
    setToolTip(m_action->toolTip());
    setStatusTip(m_action->statusTip());
    setWhatsThis(m_action->whatsThis());
    setData(m_action->data());
    setCheckable(m_action->isCheckable());
    setChecked(m_action->isChecked());
    setEnabled(m_action->isEnabled());
    setVisible(m_action->isVisible());
}

void ContextMenuEntry::triggerAction()
{
    if (m_action)
        m_action->trigger();
    // The entry toggled itself before this ran; the action, which may be in an exclusive group,
    // decides the checked state.
    sync();
}

void ContextMenuEntry::forgetAction()
{
    // Hidden at once so that the open menu cannot offer it; deleted later as the destruction may
    // have been caused from within this entry's own triggered signal.
    setVisible(false);
    deleteLater();
}
