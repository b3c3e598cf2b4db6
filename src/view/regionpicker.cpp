#include "view/regionpicker.h"

#include "input/actionhandler.h"

#include <QGraphicsView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

RegionPicker::RegionPicker(QGraphicsView *view)
    : QWidget(view->viewport())
    , m_view(view)
{
    setGeometry(view->viewport()->rect());
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    // The canvas's own gestures would select or move what is under the drag.
    ActionHandler::instance()->addIgnoredObject(this);
    view->viewport()->installEventFilter(this);
    show();
    raise();
    setFocus();
}

RegionPicker::~RegionPicker()
{
    ActionHandler::instance()->removeIgnoredObject(this);
}

bool RegionPicker::eventFilter(QObject *watched, QEvent *event)
{
    // The layer covers the viewport whatever size the window takes meanwhile.
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(m_view->viewport()->rect());
    return QWidget::eventFilter(watched, event);
}

void RegionPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The board stays visible under a light veil; the rectangle shows clear.
    const QRect chosen = QRect(m_start, m_end).normalized();
    QRegion veil(rect());
    if (m_dragging)
        veil -= chosen;
    painter.setClipRegion(veil);
    painter.fillRect(rect(), QColor(0, 0, 0, 60));
    painter.setClipping(false);
    if (m_dragging) {
        painter.setPen(QPen(palette().highlight().color(), 1, Qt::DashLine));
        painter.drawRect(chosen.adjusted(0, 0, -1, -1));
    }
}

void RegionPicker::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        finish(false);
        return;
    }
    m_start = m_end = event->pos();
    m_dragging = true;
    update();
}

void RegionPicker::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_end = event->pos();
    update();
}

void RegionPicker::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_end = event->pos();
    finish(true);
}

void RegionPicker::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        finish(false);
}

void RegionPicker::finish(bool accepted)
{
    if (m_answered)
        return;
    m_answered = true;
    const QRect chosen = QRect(m_start, m_end).normalized();
    hide();
    deleteLater();
    if (accepted && chosen.width() > 1 && chosen.height() > 1)
        emit picked(m_view->mapToScene(chosen).boundingRect());
    else
        emit canceled();
}
