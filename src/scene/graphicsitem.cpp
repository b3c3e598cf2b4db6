#include "graphicsitem.h"

#include "scene/graphicsscene.h"

#include <QObject>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

GraphicsItem::GraphicsItem(const QPointF &position, QGraphicsItem *parent)
{
    setFlags(ItemIsSelectable);
    // Attached only afterwards: under a parent that is on a scene, changing the transform asks
    // for the bounding rectangle, which the derived class cannot answer while it is constructed.
    // A translation is already sane, and the local transform is what the position means.
    setTransform(QTransform::fromTranslate(position.x(), position.y()));
    if (parent)
        setParentItem(parent);
}

// QGraphicsItem's destructor deletes the children, which are GraphicsItems or belong to them.
GraphicsItem::~GraphicsItem() = default;

QString GraphicsItem::text() const
{
    return QString();
}

int GraphicsItem::fixedTransformTypes() const
{
    return 0;
}

void GraphicsItem::setOpacity(float opacity)
{
    m_opacity = opacity;
    update();
}

GraphicsItem *GraphicsItem::parentGraphicsItem() const
{
    return dynamic_cast<GraphicsItem *>(parentItem());
}

void GraphicsItem::setLocalTransform(const QTransform &transform)
{
    QTransform full = transform;
    if (GraphicsItem *parent = parentGraphicsItem())
        full = transform * parent->fullTransform();
    setFullTransform(full);
}

QTransform GraphicsItem::fullTransform() const
{
    QTransform result = transform();
    for (GraphicsItem *ancestor = parentGraphicsItem(); ancestor;
         ancestor = ancestor->parentGraphicsItem())
        result *= ancestor->transform();
    return result;
}

void GraphicsItem::setFullTransform(const QTransform &transform)
{
    const QTransform sane = sanitizeTransform(transform);
    if (GraphicsItem *parent = parentGraphicsItem())
        setTransform(sane * parent->fullTransform().inverted());
    else
        setTransform(sane);
}

QPointF GraphicsItem::position() const
{
    const QTransform t = transform();
    return QPointF(t.dx(), t.dy());
}

QPointF GraphicsItem::scenePosition() const
{
    const QTransform t = fullTransform();
    return QPointF(t.dx(), t.dy());
}

static QTransform withTranslation(const QTransform &t, const QPointF &p)
{
    return QTransform(t.m11(), t.m12(), t.m13(), t.m21(), t.m22(), t.m23(), p.x(), p.y(), t.m33());
}

void GraphicsItem::setScenePosition(const QPointF &position)
{
    setFullTransform(withTranslation(fullTransform(), position));
}

void GraphicsItem::moveBy(qreal dx, qreal dy)
{
    // In scene units for attached items too, whose local translation is in their parent's units.
    setFullTransform(movedBy(fullTransform(), QPointF(dx, dy)));
}

QTransform GraphicsItem::movedBy(const QTransform &t, const QPointF &by)
{
    // Entry by entry: the toolkit's product takes a shear below its fuzzy zero (the 1e-17 that a
    // half turn leaves) for none and drops it, and a moved or pasted item then no longer held the
    // transform it was saved with.
    return QTransform(t.m11() + t.m13() * by.x(), t.m12() + t.m13() * by.y(), t.m13(),
        t.m21() + t.m23() * by.x(), t.m22() + t.m23() * by.y(), t.m23(), t.m31() + t.m33() * by.x(),
        t.m32() + t.m33() * by.y(), t.m33());
}

QRectF GraphicsItem::sceneBounds() const
{
    return fullTransform().mapRect(boundingRect());
}

QList<GraphicsItem *> GraphicsItem::childGraphicsItems(bool recursive) const
{
    QList<GraphicsItem *> result;
    const QList<QGraphicsItem *> children = childItems();
    for (QGraphicsItem *child : children) {
        auto *item = dynamic_cast<GraphicsItem *>(child);
        if (!item)
            continue;
        result.append(item);
        if (recursive)
            result.append(item->childGraphicsItems(true));
    }
    return result;
}

QList<GraphicsItem *> GraphicsItem::selectedDescendants() const
{
    QList<GraphicsItem *> result;
    const QList<GraphicsItem *> children = childGraphicsItems();
    for (GraphicsItem *child : children) {
        if (child->isSelected())
            result.append(child);
        else
            result.append(child->selectedDescendants());
    }
    return result;
}

bool GraphicsItem::hasSelectedAncestor() const
{
    for (GraphicsItem *ancestor = parentGraphicsItem(); ancestor;
         ancestor = ancestor->parentGraphicsItem()) {
        if (ancestor->isSelected())
            return true;
    }
    return false;
}

QVariant GraphicsItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    // Attached items draw a darker frame while their parent is selected.
    if (change == ItemSelectedChange) {
        const QList<GraphicsItem *> children = childGraphicsItems();
        for (GraphicsItem *child : children)
            child->update();
    }
    return QGraphicsItem::itemChange(change, value);
}

void GraphicsItem::paintBorder(QPainter *painter)
{
    const QRectF bounds = boundingRect();
    painter->save();
    painter->setClipRect(bounds.adjusted(-2, -2, 2, 2), Qt::IntersectClip);
    painter->setOpacity(1.0);

    auto *graphicsScene = qobject_cast<GraphicsScene *>(scene());
    const int mode = graphicsScene ? graphicsScene->borderMode() : 0;
    if (mode != 0) {
        const bool highlight = graphicsScene->selectionHighlight();
        QColor color;
        qreal width = 0;
        if (isSelected() && highlight) {
            color = graphicsScene->selectionColor();
            width = 2;
        } else if (highlight && hasSelectedAncestor()) {
            color = graphicsScene->selectionColor().darker(400);
            width = 1;
        } else if (mode == 2) {
            color = graphicsScene->borderColor();
            width = 1;
        }
        if (width > 0) {
            // Cosmetic: one or two device pixels at any zoom.
            QPen pen(color);
            pen.setCosmetic(true);
            pen.setWidth(int(width * graphicsScene->devicePixelRatio()));
            painter->setPen(pen);
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(bounds);
        }
    }
    painter->restore();
}

QTransform GraphicsItem::sanitizeTransform(const QTransform &f)
{
    const qreal entries[9]
        = { f.m11(), f.m12(), f.m13(), f.m21(), f.m22(), f.m23(), f.m31(), f.m32(), f.m33() };
    if (!std::all_of(
            std::begin(entries), std::end(entries), [](qreal v) { return std::isfinite(v); }))
        return QTransform();

    const QTransform identityLinear(1, 0, 0, 1, f.dx(), f.dy());
    QPointF a(f.m11(), f.m12());
    QPointF b(f.m21(), f.m22());
    const qreal la = std::hypot(a.x(), a.y());
    const qreal lb = std::hypot(b.x(), b.y());
    // A collapsed or overflowing axis has no direction left to keep.
    if (la == 0 || lb == 0 || !std::isfinite(la) || !std::isfinite(lb))
        return identityLinear;

    if (la > MaximumScale || lb > MaximumScale) {
        const qreal s = MaximumScale / std::max(la, lb);
        a *= s;
        b *= s;
    } else if (la < MinimumScale || lb < MinimumScale) {
        const qreal s = MinimumScale / std::min(la, lb);
        a *= s;
        b *= s;
    }

    const qreal k = QPointF::dotProduct(a, b) / QPointF::dotProduct(a, a);
    b -= k * a;

    // Parallel axes leave no second axis after shear removal: as degenerate as a zero axis.
    if (b.isNull())
        return identityLinear;
    // Uniform rescaling cannot fit axes whose ratio exceeds the whole range, and shear removal
    // shortens the second axis, so each axis is held within the bounds on its own as well.
    for (QPointF *axis : { &a, &b }) {
        const qreal length = std::hypot(axis->x(), axis->y());
        if (length > MaximumScale)
            *axis *= MaximumScale / length;
        else if (length < MinimumScale)
            *axis *= MinimumScale / length;
    }

    return QTransform(a.x(), a.y(), 0, b.x(), b.y(), 0, f.dx(), f.dy(), 1);
}

void GraphicsItem::deleteItem(GraphicsItem *item)
{
    if (!item)
        return;
    if (auto *object = dynamic_cast<QObject *>(item))
        object->deleteLater();
    else
        delete item;
}

bool GraphicsItem::nearlyEqual(double a, double b)
{
    return std::min(std::abs(a), std::abs(b)) >= std::abs(a - b) * 1e12;
}

bool GraphicsItem::nearlyEqual(const QTransform &a, const QTransform &b)
{
    return nearlyEqual(a.m11(), b.m11()) && nearlyEqual(a.m12(), b.m12())
        && nearlyEqual(a.m13(), b.m13()) && nearlyEqual(a.m21(), b.m21())
        && nearlyEqual(a.m22(), b.m22()) && nearlyEqual(a.m23(), b.m23())
        && nearlyEqual(a.m31(), b.m31()) && nearlyEqual(a.m32(), b.m32())
        && nearlyEqual(a.m33(), b.m33());
}
