#pragma once

#include "commands/transformcommand.h"

// Scales items uniformly with the pointer (scene coordinates). With a pivot the factor is the
// pointer's projection on the axis from the pivot to the grabbed point; without one it comes from
// the horizontal motion relative to half the width of the items' bounds. A single item without
// pivot scales in its own axes about its centre.
class ScaleCommand : public TransformCommand {
    Q_OBJECT

public:
    // A pivot at (0, 0) means none.
    ScaleCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint,
        const QPointF &pivot = QPointF(), const QPointF &axis = QPointF());
    ~ScaleCommand() override;

    void update(const QPointF &point) override;

    QPointF axis() const { return m_axis; }

protected:
    // The factor of one step towards point; not finite when the step cannot be measured.
    qreal stepFactor(const QPointF &point) const;

private:
    QPointF m_lastPoint;
    QPointF m_axis;
};
