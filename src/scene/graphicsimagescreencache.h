#pragma once

#include <QPoint>
#include <QSize>

class QPainter;
class QPixmap;
class QRect;

// What a reduced level looks like on the screen, so that repaints at a steady zoom (selection
// changes, items moved elsewhere, panning by whole pixels) copy pixels instead of filtering the
// level again. The copy is made the second time an item is drawn with the same placement, so a
// running zoom pays nothing for it, and it keeps the sub-pixel offset of the placement, so it
// shows exactly what drawing the level directly shows. Copies share one budget, least recently
// drawn evicted first; an evicted copy is made again.
// GUI thread only.
class GraphicsImageScreenCache {
public:
    GraphicsImageScreenCache() = default;
    ~GraphicsImageScreenCache();
    GraphicsImageScreenCache(const GraphicsImageScreenCache &) = delete;
    GraphicsImageScreenCache &operator=(const GraphicsImageScreenCache &) = delete;

    // Draws source stretched onto target, in the painter's coordinates, as
    // painter->drawPixmap(target, source) does.
    void draw(QPainter *painter, const QRect &target, const QPixmap &source);
    void clear();

    // Drops every item's copy, to be made again when next drawn twice alike.
    static void clearAll();

    // The budget of all copies, in kilobytes: room for several screens of pictures, since
    // stacks of overlapping items all keep a copy.
    static constexpr int CacheLimitKilobytes = 160 * 1024;

private:
    struct Placement {
        qint64 sourceKey = 0;
        qreal xScale = 0;
        qreal yScale = 0;
        qreal xOffset = 0;
        qreal yOffset = 0;
        int renderHints = 0;
        QSize size;

        bool operator==(const Placement &other) const;
    };

    Placement m_placement;
    QPoint m_origin;
    quint64 m_key = 0;
};
