#pragma once

#include "scene/itemrecord.h"

#include <QHash>
#include <QPixmap>

class GraphicsItem;
class QGraphicsItem;

// Turns the records a loader hands over into items, on the GUI thread, the only thread that
// makes pixmaps and items. One builder serves one load: records that show the same pixels (the
// same shared QImage) get one shared pixmap, as the board they were saved from had.
class ItemBuilder {
public:
    // The item of record with every item attached to it, owned by the caller. Takes the
    // record's pixels: a record whose picture is shared with no one else is wrapped in its
    // pixmap without a copy.
    GraphicsItem *build(ItemRecord &&record, QGraphicsItem *parent = nullptr);
    GraphicsItem *build(const ItemRecord &record, QGraphicsItem *parent = nullptr);

private:
    QPixmap pixmapOf(QImage &&image);

    QHash<qint64, QPixmap> m_pixmaps;
};
