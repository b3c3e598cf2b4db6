#include "resetcropcommand.h"

#include "commands/cropcommand.h"
#include "commands/pinnedchildren.h"
#include "scene/graphicsimageitem.h"

ResetCropCommand::ResetCropCommand(const QList<GraphicsItem *> &items)
    : m_images(CropCommand::imageItems(items))
{
    for (GraphicsImageItem *image : qAsConst(m_images)) {
        m_oldCropPaths.append(image->cropPath());
        m_oldImageTransforms.append(image->imageTransform());
    }
    setItems(CropCommand::asGraphicsItems(m_images), QPointF(0, 0));
}

ResetCropCommand::~ResetCropCommand() = default;

void ResetCropCommand::redo()
{
    const PinnedChildren pinned(items());
    for (GraphicsImageItem *image : qAsConst(m_images))
        image->resetCrop();
    if (!m_recorded) {
        finish();
        m_recorded = true;
    }
    TransformCommand::redo();
    pinned.restore();
}

void ResetCropCommand::undo()
{
    const PinnedChildren pinned(items());
    for (int i = 0; i < m_images.size(); ++i) {
        m_images[i]->setImageTransform(m_oldImageTransforms.at(i));
        m_images[i]->setCropPath(m_oldCropPaths.at(i));
    }
    TransformCommand::undo();
    pinned.restore();
}

bool ResetCropCommand::hasEffect() const
{
    for (int i = 0; i < m_images.size(); ++i) {
        if (m_images.at(i)->cropPath() != m_oldCropPaths.at(i))
            return true;
    }
    // A picture that was only panned inside an uncut window keeps its crop path, yet the reset
    // moved the item to keep the picture in place: that change must be undoable too.
    return TransformCommand::hasEffect();
}
