#include "flipcommand.h"

#include <cmath>

FlipCommand::FlipCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint)
    : TransformCommand(items, startPoint)
{
}

FlipCommand::FlipCommand(const QList<GraphicsItem *> &items, int direction)
    : TransformCommand(items, QPointF())
{
    flip(direction);
}

FlipCommand::~FlipCommand() = default;

bool FlipCommand::usesViewCoordinates() const
{
    return true;
}

void FlipCommand::flip(int direction)
{
    if (direction == Horizontal)
        applyTransform(QTransform::fromScale(-1, 1));
    else if (direction == Vertical)
        applyTransform(QTransform::fromScale(1, -1));
    else
        return;
    m_flipped = true;
}

void FlipCommand::update(const QPointF &point)
{
    if (m_flipped)
        return;
    const QPointF d = point - startPoint();
    if (std::abs(d.x()) > Threshold && std::abs(d.x()) > std::abs(d.y()))
        flip(Horizontal);
    else if (std::abs(d.y()) > Threshold)
        flip(Vertical);
}
