#pragma once

#include "commands/transformcommand.h"

// Mirrors items about the centre of their bounds, once per gesture: the first pointer motion of
// more than ten view pixels decides horizontally or vertically. The immediate form flips at
// construction (0 horizontal, 1 vertical, anything else not at all).
class FlipCommand : public TransformCommand {
    Q_OBJECT

public:
    enum Direction { Horizontal = 0, Vertical = 1 };

    // A gesture starting at startPoint in view coordinates.
    FlipCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint);
    FlipCommand(const QList<GraphicsItem *> &items, int direction);
    ~FlipCommand() override;

    void update(const QPointF &point) override;
    bool usesViewCoordinates() const override;
    bool isFlipped() const { return m_flipped; }

    // Pointer motion in view pixels before a gesture flips.
    static constexpr qreal Threshold = 10.0;

private:
    void flip(int direction);

    bool m_flipped = false;
};
