#pragma once

#include "commands/transformcommand.h"

class QGraphicsScene;
class QGraphicsView;

// Moves items with the pointer (scene coordinates): freely, along one axis, or snapping to the
// edges of neighbouring items with the view's alignment gap between them. The view may switch
// the mode while the gesture runs; the anchor then restarts where the pointer is.
class MoveCommand : public TransformCommand {
    Q_OBJECT

public:
    enum Mode { FreeMove = 0, AxisMove = 1, NeighbourSnapMove = 2 };

    // view may be null (no snapping distance in view pixels then: 30 scene units); gap is the
    // view's alignment gap (setting "Alignment Padding").
    MoveCommand(QGraphicsView *view, const QList<GraphicsItem *> &items, const QPointF &startPoint,
        int mode, int gap = 10);
    ~MoveCommand() override;

    void update(const QPointF &point) override;
    void setMode(int mode);
    int mode() const { return m_mode; }

    // Distance within which an edge snaps, in view pixels.
    static constexpr qreal SnapDistance = 30.0;
    // Movement along one axis, in scene units, after which the other axis stays locked.
    static constexpr qreal AxisLockDistance = 10.0;

private:
    QRectF currentSceneRect() const;
    QPointF snappedDelta(const QPointF &point) const;
    qreal snapThreshold() const;

    QGraphicsView *m_view;
    QGraphicsScene *m_scene;
    QPointF m_lastPoint;
    QPointF m_gestureStart;
    QPointF m_anchorPoint;
    QPointF m_anchorOffset;
    int m_mode;
    int m_gap;
};
