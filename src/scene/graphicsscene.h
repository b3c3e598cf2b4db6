#pragma once

#include <QColor>
#include <QGraphicsScene>
#include <QHash>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QString>

#include <memory>

class CommandHandler;
class FullPictureLoader;
class GraphicsImageItem;
class GraphicsItem;
class Picture;

// The items of one board. Keeps its own list of added items (in order of addition) and a map
// from item id to item, hands out ids and depths, grows its rectangle symmetrically about the
// origin as items spread, and holds the display switches items read while they paint. Undoable
// additions go through the application's CommandHandler, which the scene does not own.
// GUI thread only.
class GraphicsScene : public QGraphicsScene {
    Q_OBJECT

public:
    GraphicsScene(QObject *parent, CommandHandler *commandHandler);
    ~GraphicsScene() override;

    // An item attached to another is not listed on its own: it is on the scene through its
    // parent, and only gets (or gets back) its id and depth.
    // Not undoable by itself: an undoable addition is an AddCommand, whose redo comes here.
    void addItem(GraphicsItem *item);
    void addItems(const QList<GraphicsItem *> &items);
    // Ownership passes to the caller.
    void removeItem(GraphicsItem *item);
    void clear();

    void bringToFront(const QList<GraphicsItem *> &items);
    void sendToBack(const QList<GraphicsItem *> &items);
    // One step up (or down) the stacking: past the nearest item that overlaps an item of the
    // list, and no further. See stepDepth.
    void bringForward(const QList<GraphicsItem *> &items);
    void sendBackward(const QList<GraphicsItem *> &items);
    QPoint recentre();

    GraphicsItem *itemById(int id) const;
    int indexOfItem(GraphicsItem *item) const;
    QList<GraphicsItem *> addedItems() const { return m_items; }
    QList<GraphicsItem *> graphicsItems(Qt::SortOrder order = Qt::DescendingOrder) const;
    QList<GraphicsItem *> topLevelItems(Qt::SortOrder order = Qt::DescendingOrder) const;
    QList<GraphicsItem *> selectedGraphicsItems() const;
    // Images whose picture is missing, attached ones too, in stacking order.
    QList<GraphicsImageItem *> missingImages() const;
    bool isEmpty() const;

    CommandHandler *commandHandler() const { return m_commandHandler; }
    // The empty board's hint: two lines of its own and this one below them, what to do first.
    QString helpText() const { return m_helpText; }
    void setHelpText(const QString &text);
    // Invalid: the painter's pen, which a view takes from its palette.
    QColor hintColor() const { return m_hintColor; }
    void setHintColor(const QColor &color) { m_hintColor = color; }
    bool isEmptyFlag() const { return m_empty; }
    bool drawBackgroundEnabled() const { return m_drawBackground; }
    void setDrawBackgroundEnabled(bool enabled) { m_drawBackground = enabled; }
    bool sceneRectLocked() const { return m_sceneRectLocked; }
    void setSceneRectLocked(bool locked);
    int borderMode() const { return m_borderMode; }
    void setBorderMode(int mode);
    int zoomQuality() const { return m_zoomQuality; }
    void setZoomQuality(int quality);
    bool selectionHighlight() const { return m_selectionHighlight; }
    void setSelectionHighlight(bool enabled) { m_selectionHighlight = enabled; }
    int nextId() const { return m_nextId; }
    void setNextId(int id) { m_nextId = id; }
    bool applyOpacity() const { return m_applyOpacity; }
    void setApplyOpacity(bool enabled) { m_applyOpacity = enabled; }
    QColor canvasColor() const { return m_canvasColor; }
    void setCanvasColor(const QColor &color) { m_canvasColor = color; }
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color) { m_borderColor = color; }
    QColor selectionColor() const { return m_selectionColor; }
    void setSelectionColor(const QColor &color) { m_selectionColor = color; }
    double frontDepth() const { return m_frontDepth; }
    double backDepth() const { return m_backDepth; }

    // While set, pictures paint from their full pixels, decoded on the spot when they are not in
    // memory: a rendering for export waits for what it shows instead of drawing a stand-in.
    bool rendersExactly() const { return m_rendersExactly; }
    void setRendersExactly(bool exactly) { m_rendersExactly = exactly; }
    // A picture that is shown in more detail than its overview has: eighths of its full size
    // (8: the full pixels), or with a valid region that rectangle of its full pixels; repaints
    // when they came.
    void requestDetail(
        const std::shared_ptr<Picture> &picture, int eighths, const QRect &region = {});
    FullPictureLoader *fullPictureLoader() const { return m_fullPictures; }
    // Gives memory back to the picture budget once the current work is done: what is on screen
    // in any view stays.
    void schedulePictureTrim();
    void trimPictures();
    // Whether a view shows the picture now at a zoom where it needs its full pixels.
    bool isFullPictureWanted(const Picture *picture) const;

    void setSceneRect(const QRectF &rect);
    // Grows the rectangle over every item now, as the next paint would, unless a gesture holds
    // it: a script's next command or the user's next action must not find it short of what was
    // just loaded, as it is until a view paints.
    void coverItems();
    qreal devicePixelRatio() const;

protected:
    void drawBackground(QPainter *painter, const QRectF &rect) override;

private:
    void registerIds(GraphicsItem *item);
    void stepDepth(const QList<GraphicsItem *> &items, bool up);
    void placeBlock(const QList<GraphicsItem *> &order, const QList<GraphicsItem *> &block);
    // Keeps the next front and back depths beyond a depth a top-level item has taken.
    void reserveDepth(qreal depth);
    void drawHint(QPainter *painter);
    void growSceneRect();
    struct ShownImage {
        GraphicsImageItem *image;
        // Screen pixels per picture pixel in the view showing it.
        qreal levelOfDetail;
    };
    // The image items the visible views show now, once for each view.
    QList<ShownImage> shownImages() const;
    // What the views show now: their pictures, and the items keeping caches of them.
    QSet<const void *> onScreenKeys() const;

    FullPictureLoader *m_fullPictures;
    bool m_rendersExactly = false;
    bool m_trimScheduled = false;
    QList<GraphicsItem *> m_items;
    QHash<int, GraphicsItem *> m_idMap;
    double m_frontDepth = 0.0;
    double m_backDepth = -1.0;
    bool m_empty = true;
    bool m_drawBackground = true;
    bool m_sceneRectLocked = false;
    int m_borderMode = 2;
    int m_zoomQuality = 0;
    bool m_selectionHighlight = true;
    int m_nextId = 0;
    bool m_applyOpacity = true;
    QColor m_canvasColor;
    QString m_helpText;
    QColor m_hintColor;
    QColor m_borderColor;
    QColor m_selectionColor;
    CommandHandler *m_commandHandler;
};
