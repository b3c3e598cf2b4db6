#include "view/transformgizmo.h"

#include "scene/graphicsscene.h"

#include <QGraphicsOpacityEffect>
#include <QGraphicsView>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QtMath>

#include <cmath>

namespace {

constexpr qreal quarterPi = 3.14159265358979323846 / 4;

// Pixels per gizmo unit along each axis: handle sizes are pixels, the rectangle is not.
qreal axisScale(qreal a, qreal b)
{
    return std::hypot(a, b);
}

// The rectangle widened by margin pixels sideways, united with it widened up and down: the cross
// whose complement near the corners is the rotation zones.
QRectF widenedHorizontally(const QRectF &rect, const QTransform &toViewport, qreal margin)
{
    const qreal m = margin / axisScale(toViewport.m11(), toViewport.m12());
    return rect.adjusted(-m, 0, m, 0);
}

QRectF widenedVertically(const QRectF &rect, const QTransform &toViewport, qreal margin)
{
    const qreal m = margin / axisScale(toViewport.m21(), toViewport.m22());
    return rect.adjusted(0, -m, 0, m);
}

} // namespace

TransformGizmo::TransformGizmo(QGraphicsView *view)
    : QWidget(view)
    , m_view(view)
    , m_opacity(new QGraphicsOpacityEffect(this))
    , m_fadeTimer(new QTimer(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    m_opacity->setOpacity(1.0);
    m_opacity->setEnabled(false);
    setGraphicsEffect(m_opacity);
    m_fadeTimer->setInterval(10);
    connect(m_fadeTimer, &QTimer::timeout, this, &TransformGizmo::fadeStep);
    hide();
}

QPointF TransformGizmo::corner(const QRectF &rect, int index)
{
    switch (index) {
    case 0:
        return rect.topLeft();
    case 1:
        return rect.topRight();
    case 2:
        return rect.bottomRight();
    default:
        return rect.bottomLeft();
    }
}

QTransform TransformGizmo::toViewport() const
{
    return m_transform * m_view->viewportTransform();
}

void TransformGizmo::setGizmoGeometry(const QRectF &rect, const QTransform &transform)
{
    m_rect = rect;
    m_transform = transform;
    if (!m_rect.isValid()) {
        hide();
        return;
    }
    if (isHidden())
        stopFade();
    updatePlacement();
}

void TransformGizmo::updatePlacement()
{
    if (!m_rect.isValid())
        return;
    const QRectF onViewport = toViewport().mapRect(m_rect);
    // The handles reach out of the rectangle: the rotation zones by twice the handle size.
    const int margin = 2 * m_handleSize + 2;
    const QRect area = onViewport.translated(m_view->viewport()->pos())
                           .toAlignedRect()
                           .adjusted(-margin, -margin, margin, margin);
    if (area != geometry())
        setGeometry(area);
    update();
}

TransformGizmo::Hit TransformGizmo::hitTest(const QPointF &viewportPos)
{
    m_lastHit = hitTest(m_rect, toViewport(), viewportPos, m_handleSize);
    return m_lastHit;
}

TransformGizmo::Hit TransformGizmo::hitTest(
    const QRectF &rect, const QTransform &toViewport, const QPointF &viewportPos, int handleSize)
{
    Hit hit;
    // A selection without area shows no gizmo, and a flat transform has no inside to measure.
    if (!rect.isValid() || !toViewport.isInvertible())
        return hit;
    qreal nearest = 2.0 * handleSize;
    int found = -1;
    for (int i = 0; i < 4; ++i) {
        const qreal distance = QLineF(toViewport.map(corner(rect, i)), viewportPos).length();
        if (distance < nearest) {
            nearest = distance;
            found = i;
        }
    }
    if (found < 0)
        return hit;
    hit.previousCorner = (found + 3) % 4;
    hit.nextCorner = (found + 1) % 4;
    if (nearest < handleSize * 0.5) {
        hit.handle = FirstScaleHandle + found;
        return hit;
    }
    // Beside an edge a drag would read as grabbing that edge: only the diagonal regions rotate.
    const QPointF local = toViewport.inverted().map(viewportPos);
    const qreal margin = 2.0 * handleSize;
    if (!widenedHorizontally(rect, toViewport, margin).contains(local)
        && !widenedVertically(rect, toViewport, margin).contains(local))
        hit.handle = FirstRotateHandle + found;
    return hit;
}

void TransformGizmo::setDisplayMode(int mode)
{
    m_displayMode = mode;
    update();
}

int TransformGizmo::displayModeFromSetting(int value)
{
    switch (value) {
    case 0:
        return OutlineBit | HandlesBit;
    case 1:
        return OutlineBit;
    case 2:
        return HandlesBit;
    default:
        return 0;
    }
}

void TransformGizmo::setHandleSize(int size)
{
    m_handleSize = qMax(1, size);
    updatePlacement();
}

qreal TransformGizmo::cursorAngle(const QTransform &t, int corner, bool *mirrored)
{
    // The pictures are drawn for the top-left corner of an upright frame turned by an eighth
    // less; each corner further round is a quarter turn more (less when mirrored).
    const qreal x = t.m11() * std::cos(quarterPi) - t.m12() * std::sin(quarterPi);
    const qreal y = t.m11() * std::sin(quarterPi) + t.m12() * std::cos(quarterPi);
    const bool mirror = t.m22() * t.m11() - t.m21() * t.m12() < 0;
    if (mirrored)
        *mirrored = mirror;
    const int steps = mirror ? -2 * corner : 2 * corner - 2;
    const qreal radians = std::atan2(y, x) - std::atan2(-1.0, 0.0) + steps * quarterPi;
    return qRadiansToDegrees(radians);
}

void TransformGizmo::startFade()
{
    if (!isVisible() || !m_fadeWhenInactive)
        return;
    m_opacity->setOpacity(0.99);
    m_opacity->setEnabled(true);
    m_fadeTimer->start();
}

void TransformGizmo::stopFade()
{
    m_fadeTimer->stop();
    m_opacity->setOpacity(0.99);
    // Drawn through the effect the gizmo costs an offscreen pass on every repaint.
    m_opacity->setEnabled(false);
    if (m_rect.isValid())
        show();
}

bool TransformGizmo::isFading() const
{
    return m_fadeTimer->isActive();
}

qreal TransformGizmo::opacity() const
{
    return m_opacity->isEnabled() ? m_opacity->opacity() : 1.0;
}

void TransformGizmo::fadeStep()
{
    // A minimised window shows nothing; the fade waits until it can be seen.
    if (window()->isMinimized())
        return;
    const qreal next = m_opacity->opacity() - 10.0 / m_fadeDuration;
    if (next > 0) {
        m_opacity->setOpacity(next);
        return;
    }
    m_fadeTimer->stop();
    m_opacity->setEnabled(false);
    hide();
}

void TransformGizmo::paintEvent(QPaintEvent *)
{
    if (!m_rect.isValid() || m_displayMode == 0)
        return;
    // Painted in widget pixels, so dots stay round and the same size at every zoom.
    const QPoint offset = m_view->viewport()->pos() - pos();
    const QTransform toWidget = toViewport() * QTransform::fromTranslate(offset.x(), offset.y());
    auto *scene = qobject_cast<GraphicsScene *>(m_view->scene());
    QColor colour = scene ? scene->selectionColor() : QColor();
    if (!colour.isValid())
        colour = palette().color(QPalette::Highlight);

    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    if (m_displayMode & OutlineBit) {
        QPen pen(colour, 2.0 * (scene ? scene->devicePixelRatio() : 1.0));
        pen.setCosmetic(true);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPolygon(toWidget.map(QPolygonF(m_rect)));
    }
    if (!(m_displayMode & HandlesBit))
        return;
    painter.setPen(Qt::NoPen);
    const qreal radius = m_handleSize / 2;
    for (int i = 0; i < 4; ++i) {
        painter.setBrush(colour);
        painter.drawEllipse(toWidget.map(corner(m_rect, i)), radius, radius);
    }
    // Nearly invisible: the zones are where the rotate cursor appears, not something to look at.
    QPainterPath outside;
    outside.addRect(rect());
    QPainterPath cross;
    const qreal margin = 2.0 * m_handleSize;
    cross.addPolygon(toWidget.map(QPolygonF(widenedHorizontally(m_rect, toWidget, margin))));
    cross.addPolygon(toWidget.map(QPolygonF(widenedVertically(m_rect, toWidget, margin))));
    painter.setClipPath(outside.subtracted(cross.simplified()));
    painter.setBrush(QColor(0, 0, 0, 1));
    for (int i = 0; i < 4; ++i)
        painter.drawEllipse(toWidget.map(corner(m_rect, i)), margin, margin);
}
