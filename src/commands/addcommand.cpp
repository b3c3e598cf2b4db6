#include "addcommand.h"

#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"

AddCommand::AddCommand(GraphicsScene *scene, GraphicsItem *item)
    : AddCommand(scene, QList<GraphicsItem *> { item })
{
}

AddCommand::AddCommand(GraphicsScene *scene, const QList<GraphicsItem *> &items)
    : m_scene(scene)
    , m_items(items)
{
    m_items.removeAll(nullptr);
    for (GraphicsItem *item : qAsConst(m_items))
        m_parents.append(item->parentItem());
}

AddCommand::~AddCommand()
{
    if (!isUndone())
        return;
    // Items attached to another item of this command go with it; the others stand alone now.
    for (GraphicsItem *item : qAsConst(m_items)) {
        if (!item->scene() && !item->parentItem())
            GraphicsItem::deleteItem(item);
    }
}

void AddCommand::redo()
{
    for (int i = 0; i < m_items.size(); ++i) {
        GraphicsItem *item = m_items.at(i);
        item->setSelected(false);
        if (QGraphicsItem *parent = m_parents.at(i))
            item->setParentItem(parent);
        else if (!item->scene())
            m_scene->addItem(item, false);
    }
    BaseCommand::redo();
}

void AddCommand::undo()
{
    for (GraphicsItem *item : qAsConst(m_items))
        m_scene->removeItem(item);
    BaseCommand::undo();
}
