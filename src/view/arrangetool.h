#pragma once

#include "view/viewtool.h"

class GraphicsItem;

// The keyboard's commands on the selection: packing it, laying it out in a grid by name or by
// order of adding, packing every item on the canvas, and mirroring the selection. Each is one
// undo step; none of them does anything while the canvas is locked.
class ArrangeTool : public AbstractViewTool {
    Q_OBJECT

public:
    ArrangeTool(GraphicsView *view, ViewToolContext *context);

    void createActions() override;

    // Arranging fewer than two items does nothing. The layout takes the viewport's shape.
    void arrange(const QList<GraphicsItem *> &items, int mode);
    void arrangeSelection(int mode);
    // Packs every top-level item and shows them all.
    void packAll();
    void flipSelection(int direction);
};
