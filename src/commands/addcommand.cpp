#include "addcommand.h"

#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"

#include <utility>

AddCommand::AddCommand(GraphicsScene *scene, GraphicsItem *item)
    : AddCommand(scene, QList<GraphicsItem *> { item })
{
}

AddCommand::AddCommand(GraphicsScene *scene, const QList<GraphicsItem *> &items, State state)
    : m_scene(scene)
    , m_items(items)
    , m_onScene(state == AlreadyAdded)
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
    // Chosen before anything is deleted: deleting a parent deletes its attached items, which may
    // come later in the list.
    QList<GraphicsItem *> standalone;
    for (GraphicsItem *item : qAsConst(m_items)) {
        if (!item->scene() && !item->parentItem())
            standalone.append(item);
    }
    for (GraphicsItem *item : qAsConst(standalone))
        GraphicsItem::deleteItem(item);
}

void AddCommand::redo()
{
    if (std::exchange(m_onScene, false)) {
        BaseCommand::redo();
        return;
    }
    for (int i = 0; i < m_items.size(); ++i) {
        GraphicsItem *item = m_items.at(i);
        item->setSelected(false);
        if (QGraphicsItem *parent = m_parents.at(i))
            item->setParentItem(parent);
        // Attached items are only registered by id; the others go on the scene.
        if (!item->scene() || item->parentItem())
            m_scene->addItem(item);
    }
    BaseCommand::redo();
}

void AddCommand::undo()
{
    for (GraphicsItem *item : qAsConst(m_items))
        m_scene->removeItem(item);
    BaseCommand::undo();
}
