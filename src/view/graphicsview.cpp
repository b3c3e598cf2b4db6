#include "view/graphicsview.h"

#include "scene/graphicsscene.h"

GraphicsView::GraphicsView(GraphicsScene *scene, QWidget *parent)
    : QGraphicsView(scene, parent)
{
    setFrameShape(QFrame::NoFrame);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

GraphicsScene *GraphicsView::graphicsScene() const
{
    return static_cast<GraphicsScene *>(scene());
}

void GraphicsView::setCanvasLocked(bool locked)
{
    if (m_canvasLocked == locked)
        return;
    m_canvasLocked = locked;
    emit canvasLockedChanged(locked);
}
