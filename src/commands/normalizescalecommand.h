#pragma once

#include "commands/transformcommand.h"

// Scales every item about its own centre so that all end with the mean width, height, longest
// side or scale factor of the group. The whole change happens in finish().
class NormalizeScaleCommand : public TransformCommand {
    Q_OBJECT

public:
    enum Mode { Width = 0, Height = 1, LongestSide = 2, ScaleFactor = 3 };

    NormalizeScaleCommand(const QList<GraphicsItem *> &items, int mode);
    ~NormalizeScaleCommand() override;

    void finish() override;
    int mode() const { return m_mode; }

private:
    qreal measure(const GraphicsItem *item) const;

    int m_mode;
};
