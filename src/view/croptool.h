#pragma once

#include "view/viewtool.h"

class TransformTool;

// Cropping pictures by dragging: C draws the new frame as a rubber band, V pans the picture
// inside its frame and Shift+V zooms it there. Each drag is one command, run by the transform
// tool like every other command that changes items as the pointer moves.
class CropTool : public AbstractViewTool {
    Q_OBJECT

public:
    CropTool(GraphicsView *view, ViewToolContext *context, TransformTool *transformTool);

    void createActions() override;

private:
    void cropUpdate(const Action::ContinuousUpdateData &motion);

    TransformTool *m_transformTool;
};
