#include "scene/graphicsimagescreencache.h"

#include <QCache>
#include <QPaintEngine>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace {

// Larger copies are not worth their memory: pictures shown this large are few on a screen.
constexpr qint64 MaximumPixels = qint64(4) * 1024 * 1024;

// Offsets within this much of a pixel draw the same pixels; panning changes them by rounding
// noise only.
constexpr qreal OffsetTolerance = 1.0 / 1024;

// The copies are kept apart from the application's pixmap cache. The toolkit keeps there the
// pixmaps of every icon it draws, keyed by the icon, so those of a dialog or menu already closed
// are never asked for again; the cache lets them go only once it has been left unchanged for half
// a minute, which copies made at every zoom and pan never allowed. Each file dialog then kept
// about 17 KB for good.
QCache<quint64, QPixmap> &copies()
{
    static QCache<quint64, QPixmap> cache(GraphicsImageScreenCache::CacheLimitKilobytes);
    return cache;
}

int costInKilobytes(const QPixmap &copy)
{
    return int(std::max<qint64>(1, qint64(copy.width()) * copy.height() * copy.depth() / 8 / 1024));
}

} // namespace

bool GraphicsImageScreenCache::Placement::operator==(const Placement &other) const
{
    return sourceKey == other.sourceKey && xScale == other.xScale && yScale == other.yScale
        && std::abs(xOffset - other.xOffset) < OffsetTolerance
        && std::abs(yOffset - other.yOffset) < OffsetTolerance && renderHints == other.renderHints
        && size == other.size;
}

GraphicsImageScreenCache::~GraphicsImageScreenCache()
{
    clear();
}

void GraphicsImageScreenCache::clear()
{
    if (m_key != 0)
        copies().remove(m_key);
    m_key = 0;
    m_placement = Placement();
}

void GraphicsImageScreenCache::clearAll()
{
    copies().clear();
}

void GraphicsImageScreenCache::draw(QPainter *painter, const QRect &target, const QPixmap &source)
{
    // Only plain raster painting onto device pixels is copied: a rotated, sheared or
    // high-density transform, another composition or another engine is drawn as it is. Between
    // the world and the device there may be the whole-pixel offset of a widget in its window.
    const QTransform world = painter->worldTransform();
    const QTransform device = painter->deviceTransform();
    const QPointF offset(
        std::round(device.dx() - world.dx()), std::round(device.dy() - world.dy()));
    const bool copyable = !source.isNull() && device.type() <= QTransform::TxScale
        && world.type() <= QTransform::TxScale && device.m11() == world.m11()
        && device.m22() == world.m22()
        && std::abs(device.dx() - world.dx() - offset.x()) < OffsetTolerance
        && std::abs(device.dy() - world.dy() - offset.y()) < OffsetTolerance
        && painter->compositionMode() == QPainter::CompositionMode_SourceOver
        && painter->paintEngine() && painter->paintEngine()->type() == QPaintEngine::Raster;
    const QRectF deviceRect = device.mapRect(QRectF(target));
    if (!copyable || !deviceRect.isValid()
        || deviceRect.width() * deviceRect.height() > qreal(MaximumPixels)) {
        painter->drawPixmap(target, source);
        return;
    }

    const QPoint origin(int(std::floor(deviceRect.left())), int(std::floor(deviceRect.top())));
    Placement placement;
    placement.sourceKey = source.cacheKey();
    placement.xScale = device.m11();
    placement.yScale = device.m22();
    placement.xOffset = device.dx() - origin.x();
    placement.yOffset = device.dy() - origin.y();
    placement.renderHints = int(painter->renderHints());
    placement.size = QSize(int(std::ceil(deviceRect.right())) - origin.x(),
        int(std::ceil(deviceRect.bottom())) - origin.y());

    if (!(placement == m_placement)) {
        // First time at this placement: it may be one step of a zoom, so no copy yet.
        clear();
        m_placement = placement;
        painter->drawPixmap(target, source);
        return;
    }
    QPixmap copy;
    if (const QPixmap *kept = m_key != 0 ? copies().object(m_key) : nullptr) {
        copy = *kept;
    } else {
        copy = QPixmap(placement.size);
        copy.fill(Qt::transparent);
        QPainter copyPainter(&copy);
        copyPainter.setRenderHints(painter->renderHints());
        copyPainter.setTransform(
            QTransform(device.m11(), 0, 0, device.m22(), placement.xOffset, placement.yOffset));
        copyPainter.drawPixmap(target, source);
        copyPainter.end();
        // Keys are never reused, so a key whose copy was evicted finds nothing, not another's.
        static quint64 lastKey = 0;
        m_key = ++lastKey;
        copies().insert(m_key, new QPixmap(copy), costInKilobytes(copy));
    }
    // The copy keeps the placement's sub-pixel offset, so it goes onto whole device pixels.
    painter->setWorldTransform(
        QTransform::fromTranslate(origin.x() - offset.x(), origin.y() - offset.y()));
    painter->drawPixmap(0, 0, copy);
    painter->setWorldTransform(world);
}
