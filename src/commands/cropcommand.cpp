#include "cropcommand.h"

#include "commands/pinnedchildren.h"
#include "scene/graphicsimageitem.h"

CropCommand::CropCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint)
    : m_images(imageItems(items))
    , m_endPoint(startPoint)
{
    for (GraphicsImageItem *image : qAsConst(m_images)) {
        m_oldImageTransforms.append(image->imageTransform());
        m_oldCropPaths.append(image->cropPath());
    }
    setItems(asGraphicsItems(m_images), startPoint);
}

CropCommand::~CropCommand() = default;

QList<GraphicsImageItem *> CropCommand::imageItems(const QList<GraphicsItem *> &items)
{
    QList<GraphicsImageItem *> images;
    for (GraphicsItem *item : items) {
        if (item && item->itemType() == GraphicsItem::ImageItemType) {
            if (auto *image = dynamic_cast<GraphicsImageItem *>(item))
                images.append(image);
        }
    }
    return images;
}

QList<GraphicsItem *> CropCommand::asGraphicsItems(const QList<GraphicsImageItem *> &images)
{
    QList<GraphicsItem *> items;
    items.reserve(images.size());
    for (GraphicsImageItem *image : images)
        items.append(image);
    return items;
}

void CropCommand::update(const QPointF &point)
{
    m_endPoint = point;
}

void CropCommand::finish()
{
    const QRectF rect = QRectF(startPoint(), m_endPoint).normalized();
    m_newImageTransforms.clear();
    m_newCropPaths.clear();
    for (GraphicsImageItem *image : qAsConst(m_images)) {
        // A click without a drag cuts nothing.
        if (!rect.isEmpty()) {
            QPainterPath path;
            path.addRect(rect);
            image->cropTo(image->mapFromScene(path), true);
        }
        m_newImageTransforms.append(image->imageTransform());
        m_newCropPaths.append(image->cropPath());
    }
    TransformCommand::finish();
}

void CropCommand::redo()
{
    // A command pushed without finish() cuts to where the pointer was last.
    if (m_newCropPaths.size() != m_images.size())
        finish();
    const PinnedChildren pinned(items());
    for (int i = 0; i < m_images.size(); ++i) {
        m_images[i]->setImageTransform(m_newImageTransforms.at(i));
        m_images[i]->setCropPath(m_newCropPaths.at(i));
    }
    TransformCommand::redo();
    pinned.restore();
}

void CropCommand::undo()
{
    const PinnedChildren pinned(items());
    for (int i = 0; i < m_images.size(); ++i) {
        m_images[i]->setImageTransform(m_oldImageTransforms.at(i));
        m_images[i]->setCropPath(m_oldCropPaths.at(i));
    }
    TransformCommand::undo();
    pinned.restore();
}

bool CropCommand::hasEffect() const
{
    for (int i = 0; i < m_oldCropPaths.size() && i < m_newCropPaths.size(); ++i) {
        if (m_newCropPaths.at(i) != m_oldCropPaths.at(i))
            return true;
    }
    return false;
}
