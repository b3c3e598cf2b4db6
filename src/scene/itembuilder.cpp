#include "scene/itembuilder.h"

#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"

GraphicsItem *ItemBuilder::build(const ItemRecord &record, QGraphicsItem *parent)
{
    return build(ItemRecord(record), parent);
}

QPixmap ItemBuilder::pixmapOf(QImage &&image)
{
    if (image.isNull())
        return {};
    const qint64 key = image.cacheKey();
    auto found = m_pixmaps.find(key);
    if (found == m_pixmaps.end())
        found = m_pixmaps.insert(key, QPixmap::fromImage(std::move(image)));
    return found.value();
}

GraphicsItem *ItemBuilder::build(ItemRecord &&record, QGraphicsItem *parent)
{
    GraphicsItem *item = nullptr;
    if (record.type == ItemRecord::Type::Image) {
        auto *image
            = new GraphicsImageItem(nullptr, record.source, record.name, record.position, parent);
        image->setOpacity(record.opacity);
        if (record.imageTransform)
            image->setImageTransform(*record.imageTransform);
        // Before the picture: an item without a crop path of its own gets the whole picture.
        if (record.cropPath)
            image->setCropPath(*record.cropPath);
        image->setFilter(record.filter);
        image->setAutoDownscale(record.autoDownscaled, record.downscaleLimit);
        const QPixmap pixmap = pixmapOf(std::move(record.image));
        if (!pixmap.isNull()) {
            image->setImage(new QPixmap(pixmap));
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
    if (record.transform)
        item->setTransform(GraphicsItem::sanitizeTransform(*record.transform));
    if (record.id != -1)
        item->setId(record.id);
    item->setZValue(record.z);
    for (ItemRecord &child : record.children)
        build(std::move(child), item);
    return item;
}
