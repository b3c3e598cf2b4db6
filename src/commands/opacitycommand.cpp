#include "opacitycommand.h"

#include "scene/graphicsitem.h"

#include <algorithm>

OpacityCommand::OpacityCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint)
    : TransformCommand(items, startPoint)
    , m_lastPoint(startPoint)
{
    for (GraphicsItem *item : items)
        m_oldOpacities.append(item->opacity());
    m_newOpacities = m_oldOpacities;
}

OpacityCommand::~OpacityCommand() = default;

bool OpacityCommand::usesViewCoordinates() const
{
    return true;
}

void OpacityCommand::update(const QPointF &point)
{
    const qreal dx = point.x() - m_lastPoint.x();
    m_lastPoint = point;
    if (dx == 0)
        return;
    const QList<GraphicsItem *> list = items();
    for (int i = 0; i < list.size(); ++i) {
        GraphicsItem *item = list.at(i);
        const float o = std::min(std::max(float(double(item->opacity()) + dx * Rate), 0.0f), 1.0f);
        item->setOpacity(o);
        m_newOpacities[i] = o;
    }
}

void OpacityCommand::apply(const QList<double> &opacities)
{
    const QList<GraphicsItem *> list = items();
    for (int i = 0; i < list.size() && i < opacities.size(); ++i)
        list.at(i)->setOpacity(float(opacities.at(i)));
}

// The geometry is not touched, so restoring the recorded transforms changes nothing.
void OpacityCommand::redo()
{
    apply(m_newOpacities);
    TransformCommand::redo();
}

void OpacityCommand::undo()
{
    apply(m_oldOpacities);
    TransformCommand::undo();
}

bool OpacityCommand::hasEffect() const
{
    for (int i = 0; i < m_oldOpacities.size(); ++i) {
        if (!GraphicsItem::nearlyEqual(m_oldOpacities.at(i), m_newOpacities.at(i)))
            return true;
    }
    return false;
}
