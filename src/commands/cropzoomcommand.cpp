#include "cropzoomcommand.h"

#include "commands/cropcommand.h"
#include "scene/graphicsimageitem.h"

#include <QVector>

#include <cmath>

namespace {

bool identical(const QTransform &a, const QTransform &b)
{
    return a.m11() == b.m11() && a.m12() == b.m12() && a.m13() == b.m13() && a.m21() == b.m21()
        && a.m22() == b.m22() && a.m23() == b.m23() && a.m31() == b.m31() && a.m32() == b.m32()
        && a.m33() == b.m33();
}

bool identical(const QPainterPath &a, const QPainterPath &b)
{
    if (a.elementCount() != b.elementCount() || a.fillRule() != b.fillRule())
        return false;
    for (int i = 0; i < a.elementCount(); ++i) {
        const QPainterPath::Element ea = a.elementAt(i);
        const QPainterPath::Element eb = b.elementAt(i);
        if (ea.type != eb.type || ea.x != eb.x || ea.y != eb.y)
            return false;
    }
    return true;
}

} // namespace

CropZoomCommand::CropZoomCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint)
    : ScaleCommand(CropCommand::asGraphicsItems(CropCommand::imageItems(items)), startPoint)
    , m_images(CropCommand::imageItems(items))
    , m_anchor(startPoint)
{
    for (GraphicsImageItem *image : qAsConst(m_images)) {
        m_oldImageTransforms.append(image->imageTransform());
        m_oldCropPaths.append(image->cropPath());
    }
    m_newImageTransforms = m_oldImageTransforms;
    m_newCropPaths = m_oldCropPaths;
    // Each item grows about its own centre, which is also the centre of its crop window, so the
    // window can be held in place on the screen.
    m_relativeToFrame = 0;
}

CropZoomCommand::~CropZoomCommand() = default;

void CropZoomCommand::update(const QPointF &point)
{
    const qreal factor = stepFactor(point);
    // Without horizontal motion there is nothing to zoom; going through the step anyway would
    // only leave rounding noise that counts as a change.
    if (factor == 1.0)
        return;
    if (!std::isfinite(factor) || !(factor > 0)) {
        ScaleCommand::update(point);
        return;
    }

    QVector<QPointF> anchors;
    QVector<QTransform> before;
    for (GraphicsImageItem *image : qAsConst(m_images)) {
        anchors.append(image->mapFromScene(m_anchor));
        before.append(image->fullTransform());
    }
    ScaleCommand::update(point);
    for (int i = 0; i < m_images.size(); ++i) {
        GraphicsImageItem *image = m_images.at(i);
        const QTransform after = image->fullTransform();
        // Held at a scale limit: the item did not change, nor does its window.
        if (identical(after, before.at(i)))
            continue;
        image->setCropPath((before.at(i) * after.inverted()).map(m_newCropPaths.at(i)));
        // A window smaller than the item accepts is refused; keep what the item really shows,
        // so that redo and undo give back this very state.
        m_newCropPaths[i] = image->cropPath();
        const QPointF shift = image->mapFromScene(m_anchor) - anchors.at(i);
        m_newImageTransforms[i]
            = m_newImageTransforms.at(i) * QTransform::fromTranslate(shift.x(), shift.y());
        image->setImageTransform(m_newImageTransforms.at(i));
    }
}

void CropZoomCommand::redo()
{
    for (int i = 0; i < m_images.size(); ++i) {
        m_images[i]->setCropPath(m_newCropPaths.at(i));
        m_images[i]->setImageTransform(m_newImageTransforms.at(i));
    }
    ScaleCommand::redo();
}

void CropZoomCommand::undo()
{
    for (int i = 0; i < m_images.size(); ++i) {
        m_images[i]->setCropPath(m_oldCropPaths.at(i));
        m_images[i]->setImageTransform(m_oldImageTransforms.at(i));
    }
    ScaleCommand::undo();
}

bool CropZoomCommand::hasEffect() const
{
    for (int i = 0; i < m_images.size(); ++i) {
        if (!identical(m_newImageTransforms.at(i), m_oldImageTransforms.at(i))
            || !identical(m_newCropPaths.at(i), m_oldCropPaths.at(i)))
            return true;
    }
    return false;
}
