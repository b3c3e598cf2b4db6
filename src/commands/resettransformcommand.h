#pragma once

#include "commands/transformcommand.h"

// Drops scale, rotation and flip of every item and keeps its position. A rotation that a crop
// moved into an image's image transform stays. The whole change happens in finish().
class ResetTransformCommand : public TransformCommand {
    Q_OBJECT

public:
    explicit ResetTransformCommand(const QList<GraphicsItem *> &items);
    ~ResetTransformCommand() override;

    void finish() override;
};
