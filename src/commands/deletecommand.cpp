#include "deletecommand.h"

#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"

DeleteCommand::DeleteCommand(GraphicsScene *scene, const QList<GraphicsItem *> &items)
    : m_scene(scene)
{
    for (GraphicsItem *item : items) {
        if (item && !m_items.contains(item))
            m_items.append(item);
    }
    for (GraphicsItem *item : qAsConst(m_items)) {
        m_parents.append(item->parentItem());
        // An item below a deleted ancestor leaves with that ancestor, even when the parent in
        // between stays: removing it on its own would detach it a second time.
        bool underDeleted = false;
        for (QGraphicsItem *ancestor = item->parentItem(); ancestor && !underDeleted;
             ancestor = ancestor->parentItem()) {
            underDeleted = m_items.contains(dynamic_cast<GraphicsItem *>(ancestor));
        }
        if (!underDeleted)
            m_roots.append(item);
    }
}

DeleteCommand::~DeleteCommand()
{
    if (!isDone())
        return;
    for (GraphicsItem *root : qAsConst(m_roots))
        GraphicsItem::deleteItem(root);
}

void DeleteCommand::redo()
{
    for (GraphicsItem *root : qAsConst(m_roots))
        m_scene->removeItem(root);
    BaseCommand::redo();
}

void DeleteCommand::undo()
{
    for (int i = 0; i < m_items.size(); ++i) {
        GraphicsItem *item = m_items.at(i);
        item->setSelected(false);
        if (QGraphicsItem *parent = m_parents.at(i))
            item->setParentItem(parent);
        // Attached items are only registered by id again (keeping id and depth); the others go
        // back on the scene.
        if (item->parentItem() ? item->id() != -1 : !item->scene())
            m_scene->addItem(item);
    }
    BaseCommand::undo();
}
