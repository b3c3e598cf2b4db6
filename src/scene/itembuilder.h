#pragma once

#include "scene/itemrecord.h"

#include <QHash>

#include <memory>

class GraphicsItem;
class QGraphicsItem;

// Turns the records a loader hands over into items, on the GUI thread, the only thread that
// makes items. One builder serves one load: records that show the same pixels (the same shared
// QImage) get one shared picture, as the board they were saved from had.
class ItemBuilder {
public:
    // The item of record with every item attached to it, owned by the caller. Takes the
    // record's picture, or its pixels without a copy.
    GraphicsItem *build(ItemRecord &&record, QGraphicsItem *parent = nullptr);
    GraphicsItem *build(const ItemRecord &record, QGraphicsItem *parent = nullptr);

private:
    std::shared_ptr<Picture> pictureOf(ItemRecord &record);

    QHash<qint64, std::shared_ptr<Picture>> m_pictures;
};
