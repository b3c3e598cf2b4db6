#include "ui/contextmenu.h"

#include "input/action.h"
#include "ui/contextmenuentry.h"

#include <QActionEvent>
#include <QMouseEvent>

ContextMenu::ContextMenu(QWidget *parent)
    : QMenu(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
}

void ContextMenu::clearEntries()
{
    const QList<QAction *> entries = actions();
    for (QAction *entry : entries) {
        removeAction(entry);
        if (qobject_cast<ContextMenuEntry *>(entry) && entry->parent() == this)
            entry->deleteLater();
    }
}

void ContextMenu::actionEvent(QActionEvent *event)
{
    auto *action = qobject_cast<Action *>(event->action());
    // A stand-in for an entry with a submenu would have to become the submenu's menu action.
    if (event->type() == QEvent::ActionAdded && action && !action->menu()) {
        // QMenu never learns of the Action, only of its entry: on removal it would cut every
        // connection from the action to the menu, the caller's included.
        m_replaced = action;
        insertAction(action, new ContextMenuEntry(action, this));
        removeAction(action);
        m_replaced = nullptr;
        return;
    }
    if (event->type() == QEvent::ActionRemoved && event->action() == m_replaced)
        return;
    QMenu::actionEvent(event);
}

void ContextMenu::mouseReleaseEvent(QMouseEvent *event)
{
    if (rect().contains(event->pos())) {
        const QAction *action = actionAt(event->pos());
        if (!action || action->isSeparator() || !action->isEnabled()) {
            event->accept();
            return;
        }
    }
    QMenu::mouseReleaseEvent(event);
}
