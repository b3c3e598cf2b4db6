#include "graphicsscene.h"

#include "scene/graphicsitem.h"

#include <QFont>
#include <QFontMetrics>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QPainter>
#include <QWindow>

#include <algorithm>
#include <cmath>

GraphicsScene::GraphicsScene(QObject *parent, CommandHandler *commandHandler)
    : QGraphicsScene(parent)
    , m_commandHandler(commandHandler)
{
    QGraphicsScene::setSceneRect(QRectF(0, 0, 1, 1));
}

GraphicsScene::~GraphicsScene() = default;

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
        m_frontDepth = std::max(m_frontDepth, std::floor(item->zValue()) + 1.0);
        m_backDepth = std::min(m_backDepth, std::ceil(item->zValue()) - 1.0);
    }
    registerIds(item);
    if (attached)
        return;
    m_items.append(item);
    QGraphicsScene::addItem(item);
    m_empty = false;
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
    QFont font;
    font.setPixelSize(20);
    const int lineHeight = QFontMetrics(font).height();

    const QString title = tr("Nothing here yet");
    const QString invitation = tr("Drag some images in to start");
    const QFontMetrics metrics(font);
    painter->setFont(font);
    painter->drawText(QPoint(-(metrics.horizontalAdvance(title) / 2), 0), title);
    painter->drawText(QPoint(-(metrics.horizontalAdvance(invitation) / 2), lineHeight), invitation);
    painter->restore();
}
