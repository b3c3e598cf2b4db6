#include "scene/itembuilder.h"

#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"

GraphicsItem *ItemBuilder::build(const ItemRecord &record, QGraphicsItem *parent)
{
    return build(ItemRecord(record), parent);
}

std::shared_ptr<Picture> ItemBuilder::pictureOf(ItemRecord &record)
{
    if (record.picture)
        return std::move(record.picture);
    if (record.image.isNull())
        return {};
    const qint64 key = record.image.cacheKey();
    auto found = m_pictures.find(key);
    if (found == m_pictures.end()) {
        // The file the pixels came from decodes to them again.
        found = m_pictures.insert(key,
            Picture::fromPixels(
                std::move(record.image), PictureSource::fromBytes(record.original)));
    }
    return found.value();
}

GraphicsItem *ItemBuilder::build(ItemRecord &&record, QGraphicsItem *parent)
{
    GraphicsItem *item = nullptr;
    if (record.type == ItemRecord::Type::Image) {
        auto *image
            = new GraphicsImageItem(nullptr, record.source, record.name, record.position, parent);
        image->setAddresses(record.pictureAddress, record.pageAddress);
        image->setOpacity(record.opacity);
        if (record.imageTransform)
            image->setImageTransform(*record.imageTransform);
        // Before the picture: an item without a crop path of its own gets the whole picture.
        if (record.cropPath)
            image->setCropPath(*record.cropPath);
        image->setFilter(record.filter);
        image->setAutoDownscale(record.autoDownscaled, record.downscaleLimit);
        image->setPlayback(record.playback);
        if (std::shared_ptr<Picture> picture = pictureOf(record)) {
            image->setPicture(std::move(picture));
            image->setOriginal(record.original);
        }
        item = image;
    } else {
        auto *note = new GraphicsTextItem(record.position, record.text, parent);
        if (record.textColor)
            note->setTextColor(*record.textColor);
        if (record.backgroundColor)
            note->setTextBackgroundColor(*record.backgroundColor);
        item = note;
    }
    if (record.transform) {
        QTransform transform = *record.transform;
        if (record.type == ItemRecord::Type::Note && record.topLeftOrigin) {
            const QPointF corner = item->boundingRect().topLeft();
            transform = QTransform::fromTranslate(-corner.x(), -corner.y()) * transform;
        }
        item->setTransform(GraphicsItem::sanitizeTransform(transform));
    }
    if (record.id != -1)
        item->setId(record.id);
    item->setZValue(record.z);
    for (ItemRecord &child : record.children)
        build(std::move(child), item);
    return item;
}
