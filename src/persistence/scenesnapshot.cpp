#include "persistence/scenesnapshot.h"

#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"

#include <QDataStream>
#include <QHash>
#include <QIODevice>

#include <algorithm>

namespace {

bool isWritable(const GraphicsItem *item)
{
    return dynamic_cast<const GraphicsImageItem *>(item)
        || dynamic_cast<const GraphicsTextItem *>(item);
}

QList<GraphicsItem *> writableOnly(QList<GraphicsItem *> items)
{
    items.erase(std::remove_if(items.begin(), items.end(),
                    [](const GraphicsItem *item) { return !item || !isWritable(item); }),
        items.end());
    return items;
}

bool lessById(const GraphicsItem *a, const GraphicsItem *b)
{
    return a->id() < b->id();
}

} // namespace

double SceneSnapshot::lowestZ(const QList<GraphicsItem *> &items)
{
    double lowest = 0.0;
    bool first = true;
    for (const GraphicsItem *item : items) {
        if (first || item->zValue() < lowest)
            lowest = item->zValue();
        first = false;
    }
    return lowest;
}

void SceneSnapshot::appendRecordBodies(
    QList<QByteArray> &bodies, const GraphicsItem *item, double baseZ, bool selectedOnly)
{
    const QList<GraphicsItem *> children
        = writableOnly(selectedOnly ? item->selectedDescendants() : item->childGraphicsItems());
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    if (const auto *image = dynamic_cast<const GraphicsImageItem *>(item)) {
        stream << QStringLiteral("GraphicsImageItem") << image->source() << image->name()
               << image->opacity() << image->transform() << qint32(image->id())
               << double(image->zValue() - baseZ) << image->imageTransform() << image->cropPath()
               << qint32(image->filter()) << image->autoDownscaled() << image->downscaleLimit()
               << qint32(children.size());
    } else if (const auto *note = dynamic_cast<const GraphicsTextItem *>(item)) {
        stream << QStringLiteral("GraphicsTextItem") << note->text() << note->transform()
               << qint32(note->id()) << double(note->zValue() - baseZ) << note->textColor()
               << note->textBackgroundColor() << qint32(children.size());
    } else {
        return;
    }
    bodies.append(body);
    for (const GraphicsItem *child : children)
        appendRecordBodies(bodies, child, baseZ, selectedOnly);
}

void SceneSnapshot::writeRecordBodies(QDataStream &stream, const QList<QByteArray> &bodies)
{
    for (const QByteArray &body : bodies) {
        const qint64 end = stream.device()->pos() + 8 + body.size();
        stream << end;
        stream.writeRawData(body.constData(), body.size());
    }
}

SceneSnapshot SceneSnapshot::take(const QList<GraphicsItem *> &items)
{
    SceneSnapshot snapshot;
    QList<GraphicsItem *> topLevel = writableOnly(items);
    std::stable_sort(topLevel.begin(), topLevel.end(), lessById);
    snapshot.itemCount = topLevel.size();

    const double baseZ = lowestZ(topLevel);
    QList<GraphicsImageItem *> imageItems;
    for (const GraphicsItem *item : qAsConst(topLevel)) {
        appendRecordBodies(snapshot.recordBodies, item, baseZ, false);
        QList<GraphicsItem *> tree = item->childGraphicsItems(true);
        tree.prepend(const_cast<GraphicsItem *>(item));
        for (GraphicsItem *member : qAsConst(tree)) {
            if (auto *image = dynamic_cast<GraphicsImageItem *>(member))
                imageItems.append(image);
        }
    }
    std::stable_sort(imageItems.begin(), imageItems.end(), lessById);

    // Copies of one picture share its cache key; the lowest id owns the pixels. Null pixmaps
    // all share key 0 and are never copies of one another.
    QHash<qint64, int> ownerByKey;
    for (const GraphicsImageItem *item : qAsConst(imageItems)) {
        Image image;
        image.id = item->id();
        image.ownerId = item->id();
        image.source = item->source();
        image.hasPixels = item->image() && !item->image()->isNull();
        if (image.hasPixels) {
            const qint64 key = item->image()->cacheKey();
            const auto found = ownerByKey.constFind(key);
            if (found != ownerByKey.constEnd())
                image.ownerId = found.value();
            else
                ownerByKey.insert(key, image.id);
            if (image.ownerId == image.id)
                image.image = item->image()->toImage();
        }
        snapshot.images.append(image);
    }
    return snapshot;
}
