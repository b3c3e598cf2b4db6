#pragma once

#include <QPoint>
#include <QRectF>
#include <QWidget>

class QGraphicsView;

// A rectangle of the scene dragged with the left button over a view: a transparent layer over the
// view's viewport takes the drag, so that no gesture of the canvas starts meanwhile. Escape, the
// right button or a drag of no size gives up. The picker deletes itself once it has answered.
// GUI thread only.
class RegionPicker : public QWidget {
    Q_OBJECT

public:
    explicit RegionPicker(QGraphicsView *view);
    ~RegionPicker() override;

signals:
    // The rectangle dragged, in scene coordinates.
    void picked(const QRectF &sceneRect);
    void canceled();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void finish(bool accepted);

    QGraphicsView *m_view;
    QPoint m_start;
    QPoint m_end;
    bool m_dragging = false;
    bool m_answered = false;
};
