#include "app/selectioncopy.h"

#include "export/itempicture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "scene/scenesnapshot.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

bool isCopyable(const GraphicsItem *item)
{
    return dynamic_cast<const GraphicsImageItem *>(item)
        || dynamic_cast<const GraphicsTextItem *>(item);
}

// A record holds its item's transform relative to the item's own parent; copied, it is relative
// to the nearest copied ancestor, or to the scene when there is none.
void relateTransforms(ItemRecord &record, const GraphicsItem *item, const QTransform &parentFull)
{
    const QTransform full = item->fullTransform();
    record.transform = full * parentFull.inverted();
    QList<GraphicsItem *> children = item->selectedDescendants();
    children.erase(std::remove_if(children.begin(), children.end(),
                       [](const GraphicsItem *child) { return !isCopyable(child); }),
        children.end());
    for (int i = 0; i < children.size() && i < record.children.size(); ++i)
        relateTransforms(record.children[i], children.at(i), full);
}

} // namespace

CopyPasteHandler::Copy SelectionCopy::take(GraphicsScene *scene)
{
    CopyPasteHandler::Copy copy;
    const QList<GraphicsItem *> selected = scene->selectedGraphicsItems();
    QList<GraphicsItem *> roots;
    for (GraphicsItem *item : selected) {
        copy.bounds |= item->sceneBounds();
        if (isCopyable(item) && !item->hasSelectedAncestor())
            roots.append(item);
    }
    if (copy.bounds.isNull())
        return copy;
    copy.records = SceneSnapshot::takeSelection(roots);
    for (int i = 0; i < roots.size() && i < copy.records.size(); ++i)
        relateTransforms(copy.records[i], roots.at(i), QTransform());

    if (selected.size() == 1) {
        if (auto *note = dynamic_cast<GraphicsTextItem *>(selected.first())) {
            copy.text = note->text();
            return copy;
        }
        if (auto *image = dynamic_cast<GraphicsImageItem *>(selected.first())) {
            // At scale 1 with its crop and flip, as the picture would be exported.
            copy.picture = ItemPicture::of(image, true).paint();
            return copy;
        }
    }

    QSizeF size = copy.bounds.size();
    const qreal longest = std::max(size.width(), size.height());
    if (longest > CopyPasteHandler::MaximumPictureSide)
        size *= CopyPasteHandler::MaximumPictureSide / longest;
    const QSize pixels(
        std::max(1, int(std::lround(size.width()))), std::max(1, int(std::lround(size.height()))));
    QImage picture(pixels, QImage::Format_ARGB32_Premultiplied);
    // A picture too large to allocate leaves only the items themselves on the clipboard.
    if (picture.isNull())
        return copy;
    picture.fill(Qt::transparent);
    const bool highlight = scene->selectionHighlight();
    const bool exactly = scene->rendersExactly();
    // What is selected is the copy, not part of its picture; pictures show their own pixels.
    scene->setSelectionHighlight(false);
    scene->setRendersExactly(true);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    scene->render(&painter, QRectF(picture.rect()), copy.bounds, Qt::IgnoreAspectRatio);
    painter.end();
    scene->setRendersExactly(exactly);
    scene->setSelectionHighlight(highlight);
    copy.picture = picture;
    return copy;
}
