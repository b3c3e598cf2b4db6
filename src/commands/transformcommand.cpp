#include "transformcommand.h"

#include "scene/graphicsitem.h"

#include <cmath>

TransformCommand::TransformCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint)
{
    setItems(items, startPoint);
}

TransformCommand::TransformCommand() = default;

TransformCommand::~TransformCommand() = default;

void TransformCommand::setItems(const QList<GraphicsItem *> &items, const QPointF &startPoint)
{
    m_items = items;
    m_startPoint = startPoint;
    m_bounds = QRectF();
    m_oldTransforms.clear();
    for (GraphicsItem *item : items) {
        m_bounds |= item->sceneBounds();
        m_oldTransforms.append(item->transform());
    }
    const bool hasPivot = !m_pivot.isNull();
    const QPointF p = hasPivot ? m_pivot : m_bounds.center();
    if (!hasPivot && m_localFrame == 1 && items.size() <= 1)
        m_frame = items.isEmpty() ? QTransform() : items.first()->fullTransform();
    else
        m_frame = QTransform::fromTranslate(p.x(), p.y());
}

void TransformCommand::update(const QPointF &point)
{
    Q_UNUSED(point)
}

void TransformCommand::applyTransform(const QTransform &transform)
{
    for (GraphicsItem *item : qAsConst(m_items)) {
        const QTransform old = item->fullTransform();
        const QTransform target
            = m_relativeToFrame ? old * m_frame.inverted() * transform * m_frame : transform * old;
        setFullTransformReporting(item, target);
        const QTransform delta = item->fullTransform() * old.inverted();
        handleChildren(item, delta, m_items, true);
    }
    m_frame = m_localFrame == 1 ? transform * m_frame : m_frame * transform;
}

void TransformCommand::finish()
{
    recordNewTransforms();
}

void TransformCommand::recordNewTransforms()
{
    m_newTransforms.clear();
    for (GraphicsItem *item : qAsConst(m_items))
        m_newTransforms.append(item->transform());
}

bool TransformCommand::usesViewCoordinates() const
{
    return false;
}

void TransformCommand::setFullTransformReporting(GraphicsItem *item, const QTransform &target)
{
    item->setFullTransform(target);
    if (GraphicsItem::nearlyEqual(item->fullTransform(), target))
        return;
    const double scale = std::hypot(target.m11(), target.m12());
    if (scale >= GraphicsItem::MaximumScale)
        emit commandMessage(tr("Reached maximum scale, please scale down your images."));
    else if (scale <= GraphicsItem::MinimumScale)
        emit commandMessage(tr("Reached minimum scale, please scale up your images."));
}

void TransformCommand::restore(const QList<QTransform> &transforms)
{
    for (int i = 0; i < m_items.size() && i < transforms.size(); ++i) {
        GraphicsItem *item = m_items.at(i);
        const QTransform before = item->transform();
        item->setLocalTransform(transforms.at(i));
        handleChildren(item, item->transform() * before.inverted(), m_items, false);
    }
}

void TransformCommand::redo()
{
    // Pushing an unfinished command would restore nothing; treat the present as its result.
    if (m_newTransforms.size() != m_items.size())
        recordNewTransforms();
    restore(m_newTransforms);
    BaseCommand::redo();
}

void TransformCommand::undo()
{
    restore(m_oldTransforms);
    BaseCommand::undo();
}

bool TransformCommand::hasEffect() const
{
    if (m_newTransforms.size() != m_oldTransforms.size())
        return false;
    for (int i = 0; i < m_oldTransforms.size(); ++i) {
        if (!GraphicsItem::nearlyEqual(m_oldTransforms.at(i), m_newTransforms.at(i)))
            return true;
    }
    return false;
}

int TransformCommand::transformKinds(const QTransform &t)
{
    // QTransform::type() names only the most complex kind; a rotation with a scale, or a shear,
    // contains the simpler kinds too, and an item that refuses scaling must refuse those as well.
    // Deltas are products with an inverse, so entries that should be exact carry rounding noise.
    constexpr double tolerance = 1e-9;
    int kinds = 0;
    if (t.dx() != 0 || t.dy() != 0)
        kinds |= QTransform::TxTranslate;
    if (std::abs(t.m13()) > tolerance || std::abs(t.m23()) > tolerance
        || std::abs(t.m33() - 1) > tolerance)
        kinds |= QTransform::TxProject;
    const double column1 = std::hypot(t.m11(), t.m12());
    const double column2 = std::hypot(t.m21(), t.m22());
    const bool offDiagonal
        = std::abs(t.m12()) > tolerance * column1 || std::abs(t.m21()) > tolerance * column2;
    if (offDiagonal)
        kinds |= QTransform::TxRotate;
    if (std::abs(column1 - 1) > tolerance || std::abs(column2 - 1) > tolerance
        || (!offDiagonal && (t.m11() < 0 || t.m22() < 0)))
        kinds |= QTransform::TxScale;
    const double dot = t.m11() * t.m21() + t.m12() * t.m22();
    if (std::abs(dot) > tolerance * column1 * column2)
        kinds |= QTransform::TxShear | QTransform::TxScale | QTransform::TxRotate;
    return kinds;
}

void TransformCommand::handleChildren(GraphicsItem *parent, const QTransform &delta,
    const QList<GraphicsItem *> &commandItems, bool compensate)
{
    const QList<GraphicsItem *> children = parent->childGraphicsItems();
    for (GraphicsItem *child : children) {
        if (commandItems.contains(child)) {
            if (compensate)
                child->setTransform(child->transform() * delta.inverted());
            continue;
        }
        if (transformKinds(delta) & child->fixedTransformTypes())
            child->setTransform(child->transform() * delta.inverted());
    }
}
