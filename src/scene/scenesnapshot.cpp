#include "scene/scenesnapshot.h"

#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <functional>

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

bool lessByDepth(const GraphicsItem *a, const GraphicsItem *b)
{
    return a->zValue() < b->zValue();
}

QList<GraphicsItem *> treeOf(GraphicsItem *root)
{
    QList<GraphicsItem *> tree = root->childGraphicsItems(true);
    tree.prepend(root);
    return tree;
}

using DepthOf = std::function<double(const GraphicsItem *)>;
using PixelsOwnerOf = std::function<int(const GraphicsImageItem *)>;

ItemRecord recordOf(const GraphicsItem *item, const DepthOf &depthOf,
    const PixelsOwnerOf &pixelsOwnerOf, bool selectedOnly)
{
    ItemRecord record;
    record.id = item->id();
    record.z = depthOf(item);
    record.transform = item->transform();
    if (const auto *image = dynamic_cast<const GraphicsImageItem *>(item)) {
        record.type = ItemRecord::Type::Image;
        record.source = image->source();
        record.pictureAddress = image->pictureAddress();
        record.pageAddress = image->pageAddress();
        record.name = image->name();
        record.opacity = image->opacity();
        record.imageTransform = image->imageTransform();
        record.cropPath = image->cropPath();
        record.filter = image->filter();
        record.autoDownscaled = image->autoDownscaled();
        record.downscaleLimit = image->downscaleLimit();
        record.playback = image->playback();
        record.pixelsOwnerId = pixelsOwnerOf(image);
        if (image->picture() && record.pixelsOwnerId == record.id) {
            // Pixels in memory go along; others stay with the picture until something needs
            // them.
            record.picture = image->picture();
            record.image = record.picture->full();
            record.original = image->original();
        }
    } else if (const auto *note = dynamic_cast<const GraphicsTextItem *>(item)) {
        record.type = ItemRecord::Type::Note;
        record.text = note->text();
        record.textColor = note->textColor();
        record.backgroundColor = note->textBackgroundColor();
    }
    const QList<GraphicsItem *> children
        = writableOnly(selectedOnly ? item->selectedDescendants() : item->childGraphicsItems());
    for (const GraphicsItem *child : children)
        record.children.append(recordOf(child, depthOf, pixelsOwnerOf, selectedOnly));
    return record;
}

} // namespace

QList<ItemRecord> SceneSnapshot::take(const QList<GraphicsItem *> &items)
{
    QList<GraphicsItem *> topLevel = writableOnly(items);
    std::stable_sort(topLevel.begin(), topLevel.end(), lessById);

    QList<GraphicsItem *> all;
    for (GraphicsItem *item : qAsConst(topLevel))
        all += treeOf(item);
    // Ties in depth keep the order of the scene's stacking, topmost first.
    if (!topLevel.isEmpty()) {
        if (auto *scene = qobject_cast<GraphicsScene *>(topLevel.first()->scene())) {
            const QSet<GraphicsItem *> members(all.cbegin(), all.cend());
            QList<GraphicsItem *> stacked = scene->graphicsItems();
            stacked.erase(std::remove_if(stacked.begin(), stacked.end(),
                              [&members](GraphicsItem *item) { return !members.contains(item); }),
                stacked.end());
            if (stacked.size() == all.size())
                all = stacked;
        }
    }
    std::stable_sort(all.begin(), all.end(), lessByDepth);
    QHash<const GraphicsItem *, int> rank;
    for (int i = 0; i < all.size(); ++i)
        rank.insert(all.at(i), i);
    int lowest = 0;
    for (int i = 0; i < topLevel.size(); ++i)
        lowest = i == 0 ? rank.value(topLevel.at(i)) : std::min(lowest, rank.value(topLevel.at(i)));
    const DepthOf depthOf
        = [&rank, lowest](const GraphicsItem *item) { return double(rank.value(item) - lowest); };

    // Copies share one picture; the lowest id owns the pixels. Items without a picture are never
    // copies of one another.
    QList<GraphicsImageItem *> images;
    for (GraphicsItem *item : qAsConst(all)) {
        if (auto *image = dynamic_cast<GraphicsImageItem *>(item))
            images.append(image);
    }
    std::stable_sort(images.begin(), images.end(), lessById);
    QHash<const Picture *, int> ownerByPicture;
    QHash<const GraphicsImageItem *, int> owner;
    for (const GraphicsImageItem *image : qAsConst(images)) {
        int id = image->id();
        if (const Picture *picture = image->picture().get()) {
            id = ownerByPicture.value(picture, id);
            ownerByPicture.insert(picture, id);
        }
        owner.insert(image, id);
    }
    const PixelsOwnerOf pixelsOwnerOf
        = [&owner](const GraphicsImageItem *image) { return owner.value(image, image->id()); };

    QList<ItemRecord> records;
    for (const GraphicsItem *item : qAsConst(topLevel))
        records.append(recordOf(item, depthOf, pixelsOwnerOf, false));
    return records;
}

QList<ItemRecord> SceneSnapshot::takeSelection(const QList<GraphicsItem *> &items)
{
    double lowest = 0.0;
    for (int i = 0; i < items.size(); ++i)
        lowest = i == 0 ? items.at(i)->zValue() : std::min(lowest, items.at(i)->zValue());
    const DepthOf depthOf = [lowest](const GraphicsItem *item) { return item->zValue() - lowest; };
    const PixelsOwnerOf ownPixels = [](const GraphicsImageItem *image) { return image->id(); };
    QList<ItemRecord> records;
    for (const GraphicsItem *item : writableOnly(items))
        records.append(recordOf(item, depthOf, ownPixels, true));
    return records;
}
