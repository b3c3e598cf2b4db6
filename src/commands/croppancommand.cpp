#include "croppancommand.h"

#include "commands/cropcommand.h"
#include "scene/graphicsimageitem.h"

namespace {

// A pan only adds translations, and one without pointer motion adds exact zeros, so exact
// equality tells whether the picture moved.
bool identical(const QTransform &a, const QTransform &b)
{
    return a.m11() == b.m11() && a.m12() == b.m12() && a.m13() == b.m13() && a.m21() == b.m21()
        && a.m22() == b.m22() && a.m23() == b.m23() && a.m31() == b.m31() && a.m32() == b.m32()
        && a.m33() == b.m33();
}

} // namespace

CropPanCommand::CropPanCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint)
    : m_images(CropCommand::imageItems(items))
    , m_lastPoint(startPoint)
{
    for (GraphicsImageItem *image : qAsConst(m_images))
        m_oldImageTransforms.append(image->imageTransform());
    m_newImageTransforms = m_oldImageTransforms;
    setItems(CropCommand::asGraphicsItems(m_images), startPoint);
}

CropPanCommand::~CropPanCommand() = default;

void CropPanCommand::update(const QPointF &point)
{
    for (int i = 0; i < m_images.size(); ++i) {
        GraphicsImageItem *image = m_images.at(i);
        // In item coordinates, where the image transform ends: the picture follows the pointer
        // whatever the item's scale and rotation.
        const QPointF d = image->mapFromScene(point) - image->mapFromScene(m_lastPoint);
        m_newImageTransforms[i]
            = m_newImageTransforms.at(i) * QTransform::fromTranslate(d.x(), d.y());
        image->setImageTransform(m_newImageTransforms.at(i));
    }
    m_lastPoint = point;
}

void CropPanCommand::redo()
{
    for (int i = 0; i < m_images.size(); ++i)
        m_images[i]->setImageTransform(m_newImageTransforms.at(i));
    // Past TransformCommand on purpose: a pan never touches the items' own transforms.
    BaseCommand::redo(); // NOLINT(bugprone-parent-virtual-call)
}

void CropPanCommand::undo()
{
    for (int i = 0; i < m_images.size(); ++i)
        m_images[i]->setImageTransform(m_oldImageTransforms.at(i));
    BaseCommand::undo(); // NOLINT(bugprone-parent-virtual-call)
}

bool CropPanCommand::hasEffect() const
{
    for (int i = 0; i < m_oldImageTransforms.size(); ++i) {
        if (!identical(m_oldImageTransforms.at(i), m_newImageTransforms.at(i)))
            return true;
    }
    return false;
}
