#include "scalecommand.h"

#include "scene/graphicsitem.h"

#include <cmath>
#include <limits>

ScaleCommand::ScaleCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint,
    const QPointF &pivot, const QPointF &axis)
    : m_lastPoint(startPoint)
    , m_axis(axis)
{
    setLocalFrame(1);
    setPivot(pivot);
    setItems(items, startPoint);
}

ScaleCommand::~ScaleCommand() = default;

qreal ScaleCommand::stepFactor(const QPointF &point) const
{
    constexpr qreal invalid = std::numeric_limits<qreal>::quiet_NaN();
    if (pivot().isNull()) {
        const qreal dx = point.x() - m_lastPoint.x();
        if (dx == 0)
            return 1.0;
        // Items of no width give no scale to measure the motion against.
        const qreal half = bounds().width() / 2;
        if (!(half > 0))
            return invalid;
        return (half + dx) / half;
    }
    const qreal length = QPointF::dotProduct(m_axis, m_axis);
    if (!(length > 0))
        return invalid;
    return QPointF::dotProduct(point - pivot(), m_axis) / length;
}

void ScaleCommand::update(const QPointF &point)
{
    const qreal s = stepFactor(point);
    // Across the pivot (or not measurable): wait for the pointer to come back.
    if (!std::isfinite(s) || !(s > 0)) {
        m_lastPoint = point;
        return;
    }
    applyTransform(QTransform::fromScale(s, s));
    m_axis *= s;
    QRectF united;
    const QList<GraphicsItem *> list = items();
    for (GraphicsItem *item : list)
        united |= item->sceneBounds();
    setBounds(united);
    m_lastPoint = point;
}
