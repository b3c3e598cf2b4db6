#include "rotatecommand.h"

#include <cmath>

namespace {

QPointF linearMap(const QTransform &t, const QPointF &v)
{
    return QPointF(t.m11() * v.x() + t.m21() * v.y(), t.m12() * v.x() + t.m22() * v.y());
}

QPointF normalized(const QPointF &v)
{
    const qreal length = std::hypot(v.x(), v.y());
    if (std::abs(length - 1) <= 1e-12 || length <= 1e-12)
        return v;
    return v / length;
}

qreal angleOf(const QPointF &v)
{
    return std::atan2(v.y(), v.x());
}

} // namespace

RotateCommand::RotateCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint)
{
    setLocalFrame(1);
    setItems(items, startPoint);
    m_centre = QPointF(frame().dx(), frame().dy());
    const QPointF up = normalized(linearMap(frame(), QPointF(0, -1)));
    m_startOffsetRotation.rotateRadians(-(angleOf(startPoint - m_centre) - angleOf(up)));
}

RotateCommand::~RotateCommand() = default;

void RotateCommand::update(const QPointF &point)
{
    // At the centre the pointer gives no direction.
    if (point == m_centre)
        return;
    QPointF v = normalized(linearMap(m_startOffsetRotation, point - m_centre));
    const QPointF up = normalized(linearMap(frame(), QPointF(0, -1)));
    if (m_snap) {
        constexpr qreal step = 3.14159265358979323846 / 4;
        qreal a = angleOf(v) - std::atan2(-1.0, 0.0);
        a = std::floor(a / step + 0.5) * step;
        v = linearMap(QTransform().rotateRadians(a), QPointF(0, -1));
    }
    qreal angle = angleOf(v) - angleOf(up);
    const QTransform f = frame();
    if (f.m22() * f.m11() - f.m21() * f.m12() < 0)
        angle = -angle;
    applyTransform(QTransform().rotateRadians(angle));
}
