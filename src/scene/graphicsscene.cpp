#include "graphicsscene.h"

#include "picture/picture.h"
#include "picture/picturebudget.h"
#include "scene/fullpictureloader.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsitem.h"
#include "scene/scenelog.h"

#include <QFont>
#include <QFontMetrics>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QSet>
#include <QStyleOptionGraphicsItem>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

GraphicsScene::GraphicsScene(QObject *parent, CommandHandler *commandHandler)
    : QGraphicsScene(parent)
    , m_fullPictures(new FullPictureLoader(this))
    , m_commandHandler(commandHandler)
{
    QGraphicsScene::setSceneRect(QRectF(0, 0, 1, 1));
    // A request waiting for its turn is dropped once no view shows its picture at a zoom that
    // needs it: it left the screen, or the view zoomed out again. Without a view nothing is on
    // screen, yet whoever asked still wants it.
    m_fullPictures->setWantedTest([this](const Picture *picture) {
        return views().isEmpty() || isFullPictureWanted(picture);
    });
    m_fullPictures->setMakeRoom([this] { trimPictures(); });
    connect(m_fullPictures, &FullPictureLoader::failed, this, [](const QString &message) {
        qCWarning(lcScene, "A picture's full pixels could not be had: %s", qUtf8Printable(message));
    });
    connect(m_fullPictures, &FullPictureLoader::loaded, this, [this] {
        update();
        schedulePictureTrim();
    });
}

GraphicsScene::~GraphicsScene()
{
    // The toolkit's destructor deletes the items after this one has run, and a selected item
    // going announces a selection change: the view would take the half-destroyed scene for a
    // whole one.
    blockSignals(true);
}

QList<GraphicsImageItem *> GraphicsScene::missingImages() const
{
    QList<GraphicsImageItem *> missing;
    const QList<GraphicsItem *> all = graphicsItems();
    for (GraphicsItem *item : all) {
        auto *image = dynamic_cast<GraphicsImageItem *>(item);
        if (image && !image->picture())
            missing.append(image);
    }
    return missing;
}

void GraphicsScene::requestDetail(
    const std::shared_ptr<Picture> &picture, int eighths, const QRect &region)
{
    m_fullPictures->request(picture, eighths, region);
}

void GraphicsScene::schedulePictureTrim()
{
    if (m_trimScheduled)
        return;
    m_trimScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_trimScheduled = false;
        trimPictures();
    });
}

QList<GraphicsScene::ShownImage> GraphicsScene::shownImages() const
{
    QList<ShownImage> shown;
    const QList<QGraphicsView *> viewList = views();
    for (QGraphicsView *view : viewList) {
        if (!view->isVisible())
            continue;
        // Topmost first: what opaque pictures above hide entirely is not shown, as when a
        // large drop stacks its pictures on one spot until they are spread out. Rectangles are
        // taken to whole view pixels inside them, so that a picture under another of its size
        // counts as hidden.
        const QTransform toView = view->viewportTransform();
        const QRect viewport = view->viewport()->rect();
        const auto inner = [&toView](const QRectF &scene) {
            const QRectF mapped = toView.mapRect(scene);
            return QRect(QPoint(int(std::ceil(mapped.left())), int(std::ceil(mapped.top()))),
                QPoint(int(std::floor(mapped.right())) - 1, int(std::floor(mapped.bottom())) - 1));
        };
        const QList<QGraphicsItem *> viewItems = view->items(viewport);
        QRegion covered;
        for (QGraphicsItem *item : viewItems) {
            auto *image = dynamic_cast<GraphicsImageItem *>(item);
            if (!image)
                continue;
            const QRect onView = inner(image->sceneBoundingRect()) & viewport;
            if (!covered.isEmpty() && (QRegion(onView) - covered).isEmpty())
                continue;
            const QRectF opaque = image->opaqueSceneRect();
            if (!opaque.isEmpty() && inner(opaque).isValid())
                covered += inner(opaque);
            const QTransform device = image->deviceTransform(toView);
            shown.append({ image,
                QStyleOptionGraphicsItem::levelOfDetailFromTransform(
                    image->imageTransform() * device) });
        }
    }
    return shown;
}

QSet<const void *> GraphicsScene::onScreenKeys() const
{
    QSet<const void *> keys;
    for (const ShownImage &shown : shownImages()) {
        keys.insert(shown.image);
        const std::shared_ptr<Picture> &picture = shown.image->picture();
        // A picture shown small enough for its overview keeps no more than that.
        if (picture && shown.image->detailNeeded(shown.levelOfDetail) > 0) {
            keys.insert(picture->fullKey());
            keys.insert(picture->detailKey());
            keys.insert(picture->regionKey());
        }
    }
    return keys;
}

bool GraphicsScene::isFullPictureWanted(const Picture *picture) const
{
    const QList<ShownImage> shown = shownImages();
    return std::any_of(shown.cbegin(), shown.cend(), [picture](const ShownImage &entry) {
        return entry.image->picture().get() == picture
            && entry.image->needsMoreDetail(entry.levelOfDetail);
    });
}

void GraphicsScene::trimPictures()
{
    if (!PictureBudget::instance().isOverLimit())
        return;
    const QSet<const void *> onScreen = onScreenKeys();
    PictureBudget::instance().trim([&onScreen](const void *key) { return onScreen.contains(key); });
}

void GraphicsScene::addItem(GraphicsItem *item)
{
    if (!item)
        return;
    // Adding a top-level item twice would list it twice and let removal leave a stale entry. An
    // attached item is on the scene through its parent (or will be with it), but needs its id.
    const bool attached = item->parentItem() != nullptr;
    if (item->scene() == this && !attached)
        return;
    // Items restored by undo or read from a file keep their id and depth; the next item put on
    // top or at the back must still land above or below them.
    if (item->id() == -1) {
        item->setZValue(m_frontDepth);
        m_frontDepth += 1.0;
        item->setId(m_nextId++);
    } else if (!attached) {
        reserveDepth(item->zValue());
    }
    registerIds(item);
    if (attached)
        return;
    m_items.append(item);
    QGraphicsScene::addItem(item);
    m_empty = false;
    // Pictures that came with their full pixels count from now on.
    schedulePictureTrim();
}

void GraphicsScene::reserveDepth(qreal depth)
{
    m_frontDepth = std::max(m_frontDepth, std::floor(depth) + 1.0);
    m_backDepth = std::min(m_backDepth, std::ceil(depth) - 1.0);
}

void GraphicsScene::registerIds(GraphicsItem *item)
{
    m_idMap.insert(item->id(), item);
    // Attached items come back with their parent and must be found by id again.
    const QList<GraphicsItem *> descendants = item->childGraphicsItems(true);
    for (GraphicsItem *descendant : descendants) {
        if (descendant->id() != -1)
            m_idMap.insert(descendant->id(), descendant);
    }
}

void GraphicsScene::addItems(const QList<GraphicsItem *> &items)
{
    for (GraphicsItem *item : items)
        addItem(item);
}

void GraphicsScene::removeItem(GraphicsItem *item)
{
    if (!item)
        return;
    // An attached item whose parent already left takes no further action from the toolkit.
    if (item->scene() == this)
        QGraphicsScene::removeItem(item);
    m_items.removeOne(item);
    // Attached items leave with it; their entries would dangle once a command deletes them.
    QList<GraphicsItem *> leaving = item->childGraphicsItems(true);
    leaving.prepend(item);
    for (GraphicsItem *gone : qAsConst(leaving)) {
        // Only drop the entry when it is this item's: a later item may have taken the id over.
        if (m_idMap.value(gone->id()) == gone)
            m_idMap.remove(gone->id());
    }
}

void GraphicsScene::clear()
{
    m_fullPictures->cancelAll();
    const QList<GraphicsItem *> roots = topLevelItems();
    for (GraphicsItem *item : roots) {
        removeItem(item);
        GraphicsItem::deleteItem(item);
    }
    QGraphicsScene::clear();
    m_empty = true;
    m_items.clear();
    m_idMap.clear();
    m_frontDepth = 0.0;
    m_backDepth = -1.0;
    m_nextId = 0;

    QGraphicsScene::setSceneRect(QRectF(0, 0, 1, 1));
    const QList<QGraphicsView *> viewList = views();
    if (!viewList.isEmpty()) {
        viewList.first()->setTransform(QTransform());
        viewList.first()->viewport()->update();
    }
}

static bool lessByDepth(const GraphicsItem *a, const GraphicsItem *b)
{
    return a->zValue() < b->zValue();
}

void GraphicsScene::bringToFront(const QList<GraphicsItem *> &items)
{
    qreal lowest = 0.0;
    if (!items.isEmpty())
        lowest = (*std::min_element(items.cbegin(), items.cend(), lessByDepth))->zValue();
    const QList<GraphicsItem *> all = graphicsItems();
    const bool alreadyInFront = std::all_of(all.cbegin(), all.cend(),
        [&](GraphicsItem *item) { return items.contains(item) || item->zValue() < lowest; });
    if (alreadyInFront)
        return;
    QList<GraphicsItem *> sorted = items;
    std::stable_sort(sorted.begin(), sorted.end(), lessByDepth);
    for (GraphicsItem *item : qAsConst(sorted)) {
        item->setZValue(m_frontDepth);
        m_frontDepth += 1.0;
    }
}

void GraphicsScene::sendToBack(const QList<GraphicsItem *> &items)
{
    qreal highest = 0.0;
    if (!items.isEmpty())
        highest = (*std::max_element(items.cbegin(), items.cend(), lessByDepth))->zValue();
    const QList<GraphicsItem *> all = graphicsItems();
    const bool alreadyBehind = std::all_of(all.cbegin(), all.cend(),
        [&](GraphicsItem *item) { return items.contains(item) || item->zValue() > highest; });
    if (alreadyBehind)
        return;
    QList<GraphicsItem *> sorted = items;
    std::stable_sort(sorted.begin(), sorted.end(), lessByDepth);
    for (GraphicsItem *item : qAsConst(sorted)) {
        item->setZValue(m_backDepth);
        m_backDepth -= 1.0;
    }
}

namespace {

// Depths closer than this are not split further: the items are numbered afresh instead, so that
// steps repeated between the same two items never run out of precision and tie.
constexpr qreal MinimumDepthGap = 1e-6;

// An item is painted with the items attached to it: two items hide one another where their
// trees do.
QRectF treeBounds(const GraphicsItem *item)
{
    return item->sceneBoundingRect() | item->mapRectToScene(item->childrenBoundingRect());
}

bool treesOverlap(GraphicsItem *a, const QRectF &aBounds, GraphicsItem *b, const QRectF &bBounds)
{
    if (!aBounds.intersects(bBounds))
        return false;
    QList<GraphicsItem *> aTree = a->childGraphicsItems(true);
    aTree.prepend(a);
    QList<GraphicsItem *> bTree = b->childGraphicsItems(true);
    bTree.prepend(b);
    for (GraphicsItem *x : qAsConst(aTree)) {
        for (GraphicsItem *y : qAsConst(bTree)) {
            if (x->collidesWithItem(y))
                return true;
        }
    }
    return false;
}

} // namespace

void GraphicsScene::bringForward(const QList<GraphicsItem *> &items)
{
    stepDepth(items, true);
}

void GraphicsScene::sendBackward(const QList<GraphicsItem *> &items)
{
    stepDepth(items, false);
}

// An item is stacked among its siblings only: top-level items among the top-level items, an
// attached item among the items attached to the same parent (bringToFront compares depths
// across levels, but a depth only orders siblings). So each group of siblings in the list steps
// on its own. Going up, the item passed is the lowest one outside the list that lies above a
// listed sibling and overlaps it; the listed siblings below it move to just above it, in their
// order, and those already above it stay. That is the smallest change that shows: no other pair
// of overlapping items changes places. Going down is the mirror. A group with nothing
// overlapping in the way stays as it is.
void GraphicsScene::stepDepth(const QList<GraphicsItem *> &items, bool up)
{
    const QSet<GraphicsItem *> listed(items.cbegin(), items.cend());
    QList<QGraphicsItem *> parents;
    for (GraphicsItem *item : items) {
        if (item && item->scene() == this && !parents.contains(item->parentItem()))
            parents.append(item->parentItem());
    }
    for (QGraphicsItem *parent : qAsConst(parents)) {
        QList<GraphicsItem *> stack;
        if (parent) {
            // The toolkit sorts children by stacking, bottom first.
            const QList<QGraphicsItem *> children = parent->childItems();
            for (QGraphicsItem *child : children) {
                if (auto *item = dynamic_cast<GraphicsItem *>(child))
                    stack.append(item);
            }
        } else {
            stack = topLevelItems(Qt::AscendingOrder);
        }
        // Walked in the direction of the step.
        if (!up)
            std::reverse(stack.begin(), stack.end());
        QList<QRectF> bounds;
        bounds.reserve(stack.size());
        for (const GraphicsItem *item : qAsConst(stack))
            bounds.append(treeBounds(item));

        QList<int> behind;
        int passed = -1;
        for (int i = 0; i < stack.size() && passed < 0; ++i) {
            if (listed.contains(stack.at(i))) {
                behind.append(i);
                continue;
            }
            for (int j : qAsConst(behind)) {
                if (treesOverlap(stack.at(j), bounds.at(j), stack.at(i), bounds.at(i))) {
                    passed = i;
                    break;
                }
            }
        }
        if (passed < 0)
            continue;

        QList<GraphicsItem *> block;
        QList<GraphicsItem *> order;
        for (int i = 0; i < passed; ++i)
            (listed.contains(stack.at(i)) ? block : order).append(stack.at(i));
        order.append(stack.at(passed));
        order += block;
        order += stack.mid(passed + 1);
        if (!up) {
            std::reverse(order.begin(), order.end());
            std::reverse(block.begin(), block.end());
        }
        placeBlock(order, block);
    }
}

// Gives the block, which sits in order (bottom first) as one run, depths between its new
// neighbours; other items keep theirs unless the gap is too narrow.
void GraphicsScene::placeBlock(
    const QList<GraphicsItem *> &order, const QList<GraphicsItem *> &block)
{
    const int first = order.indexOf(block.first());
    const int count = block.size();
    const GraphicsItem *below = first > 0 ? order.at(first - 1) : nullptr;
    const GraphicsItem *above = first + count < order.size() ? order.at(first + count) : nullptr;
    QList<qreal> depths;
    bool fits = true;
    if (below && above) {
        const qreal low = below->zValue();
        const qreal high = above->zValue();
        const qreal gap = (high - low) / (count + 1);
        for (int i = 0; i < count; ++i)
            depths.append(low + gap * (i + 1));
        fits = gap >= MinimumDepthGap && low < depths.first() && depths.last() < high;
        for (int i = 1; i < count && fits; ++i)
            fits = depths.at(i - 1) < depths.at(i);
    } else if (below) {
        const qreal base = std::floor(below->zValue());
        for (int i = 0; i < count; ++i)
            depths.append(base + i + 1);
    } else {
        const qreal base = std::ceil(above->zValue());
        for (int i = 0; i < count; ++i)
            depths.append(base - count + i);
    }

    QList<GraphicsItem *> changed = block;
    if (!fits) {
        qreal lowest = order.first()->zValue();
        for (const GraphicsItem *item : order)
            lowest = std::min(lowest, item->zValue());
        depths.clear();
        for (int i = 0; i < order.size(); ++i)
            depths.append(std::floor(lowest) + i);
        changed = order;
    }
    for (int i = 0; i < changed.size(); ++i) {
        GraphicsItem *item = changed.at(i);
        item->setZValue(depths.at(i));
        if (!item->parentItem())
            reserveDepth(depths.at(i));
    }
}

static bool rectsNearlyEqual(const QRectF &a, const QRectF &b)
{
    return GraphicsItem::nearlyEqual(a.x(), b.x()) && GraphicsItem::nearlyEqual(a.y(), b.y())
        && GraphicsItem::nearlyEqual(a.width(), b.width())
        && GraphicsItem::nearlyEqual(a.height(), b.height());
}

QPoint GraphicsScene::recentre()
{
    if (m_empty)
        return QPoint();
    const QRectF bounds = itemsBoundingRect();
    const QPoint offset = (sceneRect().center() - bounds.center()).toPoint();
    if (rectsNearlyEqual(bounds, sceneRect()))
        return offset;
    const QList<GraphicsItem *> roots = topLevelItems();
    for (GraphicsItem *item : roots)
        item->moveBy(offset.x(), offset.y());
    // The rectangle follows the items it was measured from, so it stays around them.
    setSceneRect(bounds.translated(offset));
    update();
    return offset;
}

GraphicsItem *GraphicsScene::itemById(int id) const
{
    return m_idMap.value(id, nullptr);
}

int GraphicsScene::indexOfItem(GraphicsItem *item) const
{
    return m_items.indexOf(item);
}

QList<GraphicsItem *> GraphicsScene::graphicsItems(Qt::SortOrder order) const
{
    QList<GraphicsItem *> result;
    const QList<QGraphicsItem *> all = items(order);
    for (QGraphicsItem *item : all) {
        if (auto *graphicsItem = dynamic_cast<GraphicsItem *>(item))
            result.append(graphicsItem);
    }
    return result;
}

QList<GraphicsItem *> GraphicsScene::topLevelItems(Qt::SortOrder order) const
{
    QList<GraphicsItem *> result = graphicsItems(order);
    result.erase(std::remove_if(result.begin(), result.end(),
                     [](GraphicsItem *item) { return item->parentGraphicsItem(); }),
        result.end());
    return result;
}

QList<GraphicsItem *> GraphicsScene::selectedGraphicsItems() const
{
    QList<GraphicsItem *> result;
    const QList<QGraphicsItem *> selected = selectedItems();
    for (QGraphicsItem *item : selected) {
        if (auto *graphicsItem = dynamic_cast<GraphicsItem *>(item))
            result.append(graphicsItem);
    }
    return result;
}

bool GraphicsScene::isEmpty() const
{
    return graphicsItems().isEmpty();
}

void GraphicsScene::setHelpText(const QString &text)
{
    m_helpText = text;
    update();
}

void GraphicsScene::setSceneRectLocked(bool locked)
{
    m_sceneRectLocked = locked;
    if (!locked)
        update();
}

void GraphicsScene::setBorderMode(int mode)
{
    m_borderMode = mode;
    update();
}

void GraphicsScene::setZoomQuality(int quality)
{
    m_zoomQuality = quality;
    update();
}

void GraphicsScene::setSceneRect(const QRectF &rect)
{
    QGraphicsScene::setSceneRect(rect);
    m_empty = false;
}

void GraphicsScene::coverItems()
{
    if (!m_sceneRectLocked && !isEmpty())
        growSceneRect();
}

qreal GraphicsScene::devicePixelRatio() const
{
    const QList<QGraphicsView *> viewList = views();
    if (!viewList.isEmpty()) {
        if (QWindow *window = viewList.first()->window()->windowHandle())
            return window->devicePixelRatio();
    }
    return qApp->devicePixelRatio();
}

void GraphicsScene::drawBackground(QPainter *painter, const QRectF &rect)
{
    // The whole exposed area takes the canvas colour: a view zoomed out past the scene's
    // rectangle, or showing an empty board, would otherwise show its widget's own background.
    if (m_drawBackground)
        painter->fillRect(rect, m_canvasColor);
    if (m_empty) {
        drawHint(painter);
        return;
    }
    if (m_drawBackground && !m_sceneRectLocked)
        growSceneRect();
}

void GraphicsScene::growSceneRect()
{
    // Each side that items pass is moved out to them and its opposite mirrored, so the
    // rectangle stays symmetric about the origin.
    QRectF r = sceneRect();
    const QRectF b = itemsBoundingRect();
    if (b.right() > r.right()) {
        r.setRight(b.right());
        r.setLeft(-r.right());
    }
    if (b.left() < r.left()) {
        r.setLeft(b.left());
        r.setRight(-r.left());
    }
    if (b.bottom() > r.bottom()) {
        r.setBottom(b.bottom());
        r.setTop(-r.bottom());
    }
    if (b.top() < r.top()) {
        r.setTop(b.top());
        r.setBottom(-r.top());
    }
    if (!rectsNearlyEqual(r, sceneRect())) {
        setSceneRect(r);
        update();
    }
}

void GraphicsScene::drawHint(QPainter *painter)
{
    painter->save();
    const QList<QGraphicsView *> viewList = views();
    if (!viewList.isEmpty()) {
        const qreal w = viewList.first()->width();
        const qreal h = viewList.first()->height() + 200;
        const qreal s = std::min(std::min(w, h) / 400.0, 1.0);
        painter->scale(s, s);
    }
    if (m_hintColor.isValid())
        painter->setPen(m_hintColor);
    // The interface font, which follows the user's choice; each line is measured in the font it
    // is drawn in, or it would not be centred.
    QFont font = this->font();
    font.setPixelSize(20);
    QFont helpFont = font;
    helpFont.setPixelSize(14);
    const QFontMetrics metrics(font);
    const int lineHeight = metrics.height();
    const auto drawCentred
        = [painter](const QFontMetrics &fontMetrics, int y, const QString &text) {
              painter->drawText(QPoint(-(fontMetrics.horizontalAdvance(text) / 2), y), text);
          };

    painter->setFont(font);
    drawCentred(metrics, 0, tr("Nothing here yet"));
    drawCentred(metrics, lineHeight, tr("Drag some images in to start"));
    if (!m_helpText.isEmpty()) {
        painter->setFont(helpFont);
        drawCentred(QFontMetrics(helpFont), 2 * lineHeight, m_helpText);
    }
    painter->restore();
}
