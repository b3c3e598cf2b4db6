#include "movecommand.h"

#include "scene/graphicsitem.h"

#include <QGraphicsScene>
#include <QGraphicsView>

#include <cmath>

MoveCommand::MoveCommand(QGraphicsView *view, const QList<GraphicsItem *> &items,
    const QPointF &startPoint, int mode, int gap)
    : TransformCommand(items, startPoint)
    , m_view(view)
    , m_scene(view ? view->scene() : nullptr)
    , m_lastPoint(startPoint)
    , m_gestureStart(startPoint)
    , m_anchorPoint(startPoint)
    , m_mode(mode)
    , m_gap(gap)
{
    if (!m_scene && !items.isEmpty())
        m_scene = items.first()->scene();
    m_anchorOffset = startPoint - currentSceneRect().topLeft();
}

MoveCommand::~MoveCommand() = default;

QRectF MoveCommand::currentSceneRect() const
{
    QRectF rect;
    const QList<GraphicsItem *> list = items();
    for (GraphicsItem *item : list)
        rect |= item->sceneBoundingRect();
    return rect;
}

void MoveCommand::setMode(int mode)
{
    m_anchorPoint = m_lastPoint;
    m_anchorOffset = m_lastPoint - currentSceneRect().topLeft();
    m_mode = mode;
}

void MoveCommand::update(const QPointF &point)
{
    QPointF p = point;
    QPointF delta;
    if (m_mode == NeighbourSnapMove) {
        delta = snappedDelta(p);
    } else {
        if (m_mode == AxisMove) {
            const QRectF u = currentSceneRect();
            const qreal mx = u.left() + m_anchorOffset.x() - m_anchorPoint.x();
            const qreal my = u.top() + m_anchorOffset.y() - m_anchorPoint.y();
            bool horizontal;
            if (std::abs(mx) > AxisLockDistance)
                horizontal = true;
            else if (std::abs(my) > AxisLockDistance)
                horizontal = false;
            else
                horizontal
                    = std::abs(m_anchorPoint.x() - p.x()) > std::abs(m_anchorPoint.y() - p.y());
            if (horizontal)
                p.setY(m_anchorPoint.y());
            else
                p.setX(m_anchorPoint.x());
        }
        delta = p - m_lastPoint;
    }
    if (!delta.isNull())
        applyTransform(QTransform::fromTranslate(delta.x(), delta.y()));
    m_lastPoint = p;
}

qreal MoveCommand::snapThreshold() const
{
    if (!m_view)
        return SnapDistance;
    // The length of a view distance in scene units, whatever the view's scroll offset.
    const QTransform inverse = m_view->transform().inverted();
    const qreal length
        = QLineF(inverse.map(QPointF(0, 0)), inverse.map(QPointF(SnapDistance, 0))).length();
    return std::isfinite(length) ? length : SnapDistance;
}

QPointF MoveCommand::snappedDelta(const QPointF &p) const
{
    const qreal pad = m_gap;
    const qreal thr = snapThreshold();
    const QPointF travel = p - m_gestureStart;
    // Where the selection would be if it followed the pointer, and where it is.
    const QRectF t = bounds().translated(travel).adjusted(-pad, -pad, pad, pad);
    const QRectF q = currentSceneRect().adjusted(-pad, -pad, pad, pad);
    const QRectF a = t.adjusted(-thr, -thr, thr, thr);

    QList<QGraphicsItem *> neighbours;
    if (m_scene)
        neighbours = m_scene->items(a, Qt::IntersectsItemShape, Qt::DescendingOrder);
    const QList<GraphicsItem *> moving = items();

    qreal by = thr;
    qreal bx = thr;
    qreal dy = 0;
    qreal dx = 0;
    bool snappedY = false;
    bool snappedX = false;
    const auto consider
        = [](qreal candidate, qreal shift, qreal &best, qreal &result, bool &snapped) {
              if (std::abs(candidate) < std::abs(best)) {
                  best = candidate;
                  result = shift;
                  snapped = true;
              }
          };
    for (QGraphicsItem *neighbour : qAsConst(neighbours)) {
        auto *item = dynamic_cast<GraphicsItem *>(neighbour);
        if (!item)
            continue;
        // Items attached to a moving item travel with it: snapping to them would chase itself.
        bool isMoving = false;
        for (QGraphicsItem *i = item; i && !isMoving; i = i->parentItem())
            isMoving = moving.contains(dynamic_cast<GraphicsItem *>(i));
        if (isMoving)
            continue;
        const QRectF r = item->sceneBoundingRect();
        // Aligned edges are measured against the selection's own edges, gaps against the padded
        // ones, so each snap zone reaches thr on both sides of its target.
        if (r.top() <= a.bottom() && r.bottom() >= a.top()) {
            consider(r.top() - (t.top() + pad), r.top() - (q.top() + pad), by, dy, snappedY);
            consider(r.bottom() - t.top(), r.bottom() - q.top(), by, dy, snappedY);
            consider(r.top() - t.bottom(), r.top() - q.bottom(), by, dy, snappedY);
            consider(
                r.bottom() - (t.bottom() - pad), r.bottom() - (q.bottom() - pad), by, dy, snappedY);
        }
        if (r.right() >= a.left() && a.right() >= r.left()) {
            consider(
                r.right() - (t.right() - pad), r.right() - (q.right() - pad), bx, dx, snappedX);
            consider(r.left() - t.right(), r.left() - q.right(), bx, dx, snappedX);
            consider(r.right() - t.left(), r.right() - q.left(), bx, dx, snappedX);
            consider(r.left() - (t.left() + pad), r.left() - (q.left() + pad), bx, dx, snappedX);
        }
    }
    if (!snappedY)
        dy = t.y() - q.y();
    if (!snappedX)
        dx = t.x() - q.x();
    return QPointF(dx, dy);
}
