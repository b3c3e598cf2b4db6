#pragma once

#include <QGraphicsView>

class GraphicsScene;

// The canvas view. Navigation and gestures are added on top of this later; for now it shows the
// scene and knows whether the canvas is locked against editing (while jobs run, or by the user).
class GraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit GraphicsView(GraphicsScene *scene, QWidget *parent = nullptr);

    GraphicsScene *graphicsScene() const;
    bool isCanvasLocked() const { return m_canvasLocked; }
    void setCanvasLocked(bool locked);

signals:
    void canvasLockedChanged(bool locked);

private:
    bool m_canvasLocked = false;
};
