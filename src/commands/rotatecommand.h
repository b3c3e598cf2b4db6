#pragma once

#include "commands/transformcommand.h"

// Rotates items with the pointer (scene coordinates) about the centre of their bounds, or a
// single item about its own centre. The angle is taken relative to where the gesture started,
// so the items turn with the pointer without jumping to it. With snapping the items' up
// direction keeps to multiples of 45 degrees from straight up.
class RotateCommand : public TransformCommand {
    Q_OBJECT

public:
    RotateCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint);
    ~RotateCommand() override;

    void update(const QPointF &point) override;
    void setSnap(bool snap) { m_snap = snap; }
    bool snap() const { return m_snap; }

private:
    bool m_snap = false;
    QPointF m_centre;
    QTransform m_startOffsetRotation;
};
