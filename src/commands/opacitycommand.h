#pragma once

#include "commands/transformcommand.h"

// Fades items with horizontal pointer motion in view pixels: 200 pixels cover the whole range
// from transparent to opaque. Each item keeps its own opacity, clamped to [0, 1], and undo
// restores each one's previous value.
class OpacityCommand : public TransformCommand {
    Q_OBJECT

public:
    OpacityCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint);
    ~OpacityCommand() override;

    void redo() override;
    void undo() override;
    bool hasEffect() const override;
    void update(const QPointF &point) override;
    bool usesViewCoordinates() const override;

    // Opacity change per view pixel; single precision, as the rate has always been stored.
    static constexpr double Rate = double(0.005f);

private:
    void apply(const QList<double> &opacities);

    QList<double> m_newOpacities;
    QList<double> m_oldOpacities;
    QPointF m_lastPoint;
};
