#include "depthchangecommand.h"

#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"

DepthChangeCommand::DepthChangeCommand(GraphicsScene *scene, GraphicsItem *item, int direction)
    : DepthChangeCommand(scene, QList<GraphicsItem *> { item }, direction)
{
}

DepthChangeCommand::DepthChangeCommand(
    GraphicsScene *scene, const QList<GraphicsItem *> &items, int direction)
    : m_scene(scene)
    , m_items(items)
    , m_direction(direction)
{
    m_items.removeAll(nullptr);
    for (GraphicsItem *item : qAsConst(m_items))
        m_oldDepths.append(item->zValue());
}

DepthChangeCommand::~DepthChangeCommand() = default;

void DepthChangeCommand::redo()
{
    if (m_computed) {
        apply(m_newDepths);
    } else {
        if (m_direction == ToBack)
            m_scene->sendToBack(m_items);
        else
            m_scene->bringToFront(m_items);
        for (GraphicsItem *item : qAsConst(m_items))
            m_newDepths.append(item->zValue());
        m_computed = true;
    }
    BaseCommand::redo();
}

void DepthChangeCommand::undo()
{
    apply(m_oldDepths);
    BaseCommand::undo();
}

void DepthChangeCommand::apply(const QList<qreal> &depths)
{
    for (int i = 0; i < m_items.size() && i < depths.size(); ++i)
        m_items.at(i)->setZValue(depths.at(i));
}

bool DepthChangeCommand::hasEffect() const
{
    return m_oldDepths != m_newDepths;
}
