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
}

DepthChangeCommand::~DepthChangeCommand() = default;

void DepthChangeCommand::changeDepths()
{
    const QList<GraphicsItem *> all = m_scene->graphicsItems();
    QList<qreal> before;
    before.reserve(all.size());
    for (const GraphicsItem *item : all)
        before.append(item->zValue());
    switch (m_direction) {
    case ToBack:
        m_scene->sendToBack(m_items);
        break;
    case Forward:
        m_scene->bringForward(m_items);
        break;
    case Backward:
        m_scene->sendBackward(m_items);
        break;
    default:
        m_scene->bringToFront(m_items);
        break;
    }
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i)->zValue() != before.at(i))
            m_changes.append({ all.at(i), before.at(i), all.at(i)->zValue() });
    }
}

void DepthChangeCommand::redo()
{
    if (m_computed) {
        for (const Change &change : qAsConst(m_changes))
            change.item->setZValue(change.after);
    } else {
        changeDepths();
        m_computed = true;
    }
    BaseCommand::redo();
}

void DepthChangeCommand::undo()
{
    for (const Change &change : qAsConst(m_changes))
        change.item->setZValue(change.before);
    BaseCommand::undo();
}

bool DepthChangeCommand::hasEffect() const
{
    return !m_changes.isEmpty();
}
