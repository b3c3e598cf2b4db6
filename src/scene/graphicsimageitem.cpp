#include "graphicsimageitem.h"

#include "scene/animationplayer.h"

#include "picture/animationdecoder.h"
#include "picture/picture.h"
#include "picture/picturebudget.h"
#include "scene/graphicsimagegrayscalegenerator.h"
#include "scene/graphicsimagemipgenerator.h"
#include "scene/graphicsscene.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <algorithm>
#include <cmath>

GraphicsImageItem::GraphicsImageItem(std::shared_ptr<Picture> picture, const QString &source,
    const QString &name, const QPointF &position, QGraphicsItem *parent)
    : GraphicsItem(position, parent)
    , m_source(source)
    , m_name(name)
{
    setItemType(ImageItemType);
    setFlag(ItemUsesExtendedStyleOption);
    setPicture(std::move(picture));
}

GraphicsImageItem::~GraphicsImageItem()
{
    stopJob(m_grayJob);
    stopJob(m_mipJob);
    PictureBudget::instance().release(this);
}

QString GraphicsImageItem::text() const
{
    return m_source;
}

QRectF GraphicsImageItem::boundingRect() const
{
    return m_cropPath.boundingRect();
}

void GraphicsImageItem::setPicture(std::shared_ptr<Picture> picture)
{
    if (picture && picture->size().isEmpty())
        picture.reset();
    if (picture == m_picture) {
        update();
        return;
    }
    clearGrayscale();
    m_picture = std::move(picture);
    m_original.clear();
    m_player.reset();
    m_greyFrame = QPixmap();
    if (m_cropPath.isEmpty() && m_picture) {
        const qreal w = m_picture->size().width();
        const qreal h = m_picture->size().height();
        // The whole picture is always a valid region, however thin: storing it directly keeps
        // one-pixel-wide pictures visible and selectable.
        prepareGeometryChange();
        m_cropPath = QPainterPath();
        m_cropPath.addRect(-w / 2, -h / 2, w, h);
        m_imageTransform.translate(-w / 2, -h / 2);
    }
    update();
}

void GraphicsImageItem::setOriginal(const QByteArray &original)
{
    m_original = original;
    m_player.reset();
    m_greyFrame = QPixmap();
    if (!m_picture || !AnimationDecoder::isAnimation(original))
        return;
    auto player = std::make_unique<AnimationPlayer>(original);
    // A file whose second frame is already damaged shows its first, as a still.
    if (!player->isValid())
        return;
    m_player = std::move(player);
    m_player->frameShown = [this] { update(); };
    m_player->setPlayback(m_playback.value_or(ItemRecord::Playback()));
}

std::optional<ItemRecord::Playback> GraphicsImageItem::playback() const
{
    if (m_player)
        return m_player->playback();
    return m_playback;
}

void GraphicsImageItem::setPlayback(const std::optional<ItemRecord::Playback> &playback)
{
    m_playback = playback;
    if (m_player)
        m_player->setPlayback(playback.value_or(ItemRecord::Playback()));
}

QImage GraphicsImageItem::shownFrame() const
{
    if (!m_player || !m_player->showsCurrentFrame() || m_player->currentFrame() == 0 || !m_picture)
        return QImage();
    const QImage frame = m_player->currentImage();
    // A picture downscaled at intake shows its frames at its own size.
    if (frame.size() == m_picture->size())
        return frame;
    return frame.scaled(m_picture->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QSize GraphicsImageItem::pictureSize() const
{
    return m_picture ? m_picture->size() : QSize();
}

QImage GraphicsImageItem::pixels() const
{
    return m_picture ? m_picture->pixels() : QImage();
}

bool GraphicsImageItem::smoothlyReduced(const GraphicsScene *graphicsScene) const
{
    return graphicsScene && graphicsScene->zoomQuality() == 0 && (m_filter & SmoothFilter);
}

int GraphicsImageItem::detailNeeded(qreal levelOfDetail) const
{
    if (!m_picture)
        return 0;
    auto *graphicsScene = qobject_cast<GraphicsScene *>(scene());
    if (!smoothlyReduced(graphicsScene) || (m_filter & GrayscaleFilter))
        return 8;
    if (levelForDetail(overviewLevels(), levelOfDetail) >= 0)
        return 0;
    return m_picture->detailEighthsFor(levelOfDetail);
}

bool GraphicsImageItem::needsMoreDetail(qreal levelOfDetail) const
{
    if (!m_picture)
        return false;
    const int needed = detailNeeded(levelOfDetail);
    // Shown large, a region of the full pixels around the part the last paint showed may serve.
    if (needed == 8 && m_visiblePixels.isValid())
        return !m_picture->hasRegion(m_visiblePixels);
    return !m_picture->hasDetail(needed);
}

QRect GraphicsImageItem::visiblePixels(const QPainter *painter, QRect *wanted) const
{
    const QRect whole(QPoint(0, 0), m_picture->size());
    bool invertible = false;
    const QTransform toPicture = painter->transform().inverted(&invertible);
    const QPaintDevice *device = painter->device();
    if (!invertible || !device)
        return {};
    const QRect visible
        = toPicture.mapRect(QRectF(0, 0, device->width(), device->height())).toAlignedRect()
        & whole;
    if (visible.isEmpty())
        return {};
    // Half the visible size again on every side: the view pans that far before it asks again.
    *wanted = visible.adjusted(-visible.width() / 2, -visible.height() / 2, visible.width() / 2,
                  visible.height() / 2)
        & whole;
    // Most of the picture: the full pixels cost little more, and serve wherever the view goes.
    if (qint64(wanted->width()) * wanted->height() * 2 > qint64(whole.width()) * whole.height())
        return {};
    return visible;
}

bool GraphicsImageItem::paintRegion(QPainter *painter, qreal levelOfDetail)
{
    QRect rect;
    const QImage region = m_picture->region(&rect);
    const bool covered = !region.isNull() && rect.contains(m_visiblePixels);
    // Until the region comes, and around a region the view has moved beyond.
    if (!covered)
        paintDetail(painter, levelOfDetail, 8);
    if (!region.isNull()) {
        m_picture->touch();
        painter->drawImage(rect, region);
    }
    return covered;
}

QRectF GraphicsImageItem::opaqueSceneRect() const
{
    auto *graphicsScene = qobject_cast<GraphicsScene *>(scene());
    // The item's own opacity: the toolkit's is never set, so effectiveOpacity() is always 1.
    if (!m_picture || m_picture->hasAlpha() || !isVisible()
        || (graphicsScene && graphicsScene->applyOpacity() && opacity() < 1.0f))
        return {};
    const QTransform toScene = sceneTransform();
    if (toScene.type() > QTransform::TxScale)
        return {};
    QPainterPath rectangle;
    rectangle.addRect(m_cropPath.boundingRect());
    if (m_cropPath != rectangle)
        return {};
    // The crop may reach past the picture; only the part the picture fills is opaque.
    const QRectF picture = m_imageTransform.mapRect(QRectF(QPointF(0, 0), m_picture->size()));
    return toScene.mapRect(m_cropPath.boundingRect() & picture);
}

bool GraphicsImageItem::hasFullPixels() const
{
    return m_picture && m_picture->hasFull();
}

void GraphicsImageItem::setFilter(int filter)
{
    m_filter = filter;
    if (!(m_filter & GrayscaleFilter))
        clearGrayscale();
    update();
}

void GraphicsImageItem::setImageTransform(const QTransform &transform)
{
    m_imageTransform = transform;
    update();
}

bool GraphicsImageItem::isAcceptableCrop(const QPainterPath &path)
{
    const QRectF bounds = path.boundingRect();
    return !path.isEmpty() && bounds.width() > MinimumCropExtent
        && bounds.height() > MinimumCropExtent;
}

void GraphicsImageItem::setCropPath(const QPainterPath &path)
{
    if (!isAcceptableCrop(path))
        return;
    prepareGeometryChange();
    m_cropPath = path;
}

void GraphicsImageItem::setAutoDownscale(bool autoDownscaled, const QSize &limit)
{
    m_autoDownscaled = autoDownscaled;
    m_downscaleLimit = limit;
}

void GraphicsImageItem::transformChildren(const QTransform &transform)
{
    const QList<GraphicsItem *> children = childGraphicsItems();
    for (GraphicsItem *child : children)
        child->setTransform(child->transform() * transform);
}

void GraphicsImageItem::cropTo(const QPainterPath &requested, bool clip)
{
    QPainterPath path = requested;
    if (clip) {
        if (!path.intersects(m_cropPath) && !m_cropPath.contains(path))
            return;
        path = path.intersected(m_cropPath);
    }

    const QTransform local = transform();
    const QTransform translationPart = QTransform::fromTranslate(local.dx(), local.dy());
    const QTransform linear = local * translationPart.inverted();
    path = linear.map(path);

    // A refused region must leave everything as it was: moving the rotation into the image
    // transform without the matching crop would shift the picture.
    if (!isAcceptableCrop(path))
        return;

    const QPointF d = path.boundingRect().center() - m_cropPath.boundingRect().center();
    path.translate(-d);
    const QTransform shift = linear * QTransform::fromTranslate(-d.x(), -d.y());

    setLocalTransform(QTransform::fromTranslate(local.dx() + d.x(), local.dy() + d.y()));
    setCropPath(path);
    m_imageTransform = m_imageTransform * shift;
    update();
    transformChildren(shift);
}

void GraphicsImageItem::resetCrop()
{
    if (!m_picture)
        return;
    const qreal w = m_picture->size().width();
    const qreal h = m_picture->size().height();
    const QRectF full(-w / 2, -h / 2, w, h);
    const QTransform linear = m_imageTransform
        * QTransform::fromTranslate(m_imageTransform.dx(), m_imageTransform.dy()).inverted();
    const QPointF q = m_imageTransform.map(full.bottomRight());
    const QPointF c = m_cropPath.boundingRect().center();
    const QTransform change = linear * QTransform::fromTranslate(q.x() - c.x(), q.y() - c.y());

    m_imageTransform = QTransform::fromTranslate(-w / 2, -h / 2);
    setLocalTransform(change * transform());
    QPainterPath path;
    path.addRect(full);
    prepareGeometryChange();
    m_cropPath = path;
    update();
    transformChildren(change.inverted());
}

template<typename Job>
void GraphicsImageItem::startJob(std::shared_ptr<Job> &job, const QImage &source)
{
    job = std::make_shared<Job>();
    QObject::connect(
        job.get(), &GraphicsImageGenerator::finished, &m_context, [this] { update(); });
    job->prepare(source);
    GraphicsImageGenerator::start(job);
}

template<typename Job> void GraphicsImageItem::stopJob(std::shared_ptr<Job> &job)
{
    if (!job)
        return;
    // After the disconnect no new repaint request is queued; one queued already repaints an item
    // that is still alive, or dies with m_context. The pool frees a job still running.
    job->cancel();
    QObject::disconnect(job.get(), nullptr, &m_context, nullptr);
    job.reset();
}

void GraphicsImageItem::clearGrayscale()
{
    stopJob(m_grayJob);
    m_grayImage = QPixmap();
    clearMipLevels();
}

void GraphicsImageItem::clearMipLevels()
{
    stopJob(m_mipJob);
    m_mipLevels.clear();
    m_screenCache.clear();
    chargeDerived();
}

void GraphicsImageItem::chargeDerived()
{
    const auto bytesOf
        = [](const QPixmap &pixmap) { return qint64(pixmap.width()) * pixmap.height() * 4; };
    qint64 bytes = bytesOf(m_grayImage);
    for (const QPixmap &level : qAsConst(m_mipLevels))
        bytes += bytesOf(level);
    if (bytes == 0) {
        PictureBudget::instance().release(this);
        return;
    }
    // Made from the full pixels, so made again as easily: the budget may take them back.
    PictureBudget::instance().charge(this, bytes, [this] { clearGrayscale(); });
    if (auto *graphicsScene = qobject_cast<GraphicsScene *>(scene()))
        graphicsScene->schedulePictureTrim();
}

void GraphicsImageItem::takeJobResults()
{
    if (m_grayJob && m_grayJob->state() == GraphicsImageGenerator::Done) {
        QImage grey = m_grayJob->takeResult();
        if (!grey.isNull()) {
            m_grayImage = QPixmap::fromImage(std::move(grey));
            chargeDerived();
        }
    }
    if (m_mipJob && m_mipJob->state() == GraphicsImageGenerator::Done) {
        QList<QImage> levels = m_mipJob->takeLevels();
        // Levels of the colour pixels are the picture's overview when it has none yet: the
        // full pixels may go once it has.
        if (m_picture && m_grayImage.isNull() && !m_picture->hasOverview())
            m_picture->adoptOverview(levels.mid(Picture::OverviewFirstLevel));
        for (QImage &level : levels)
            m_mipLevels.append(QPixmap::fromImage(std::move(level)));
        if (!levels.isEmpty())
            chargeDerived();
    }
}

QPixmap GraphicsImageItem::grayscaleImage()
{
    takeJobResults();
    return m_grayImage;
}

QList<QPixmap> GraphicsImageItem::mipLevels()
{
    takeJobResults();
    return m_mipLevels;
}

bool GraphicsImageItem::hasOverview()
{
    takeJobResults();
    return !m_picture || m_picture->hasOverview();
}

int GraphicsImageItem::grayscaleJobState() const
{
    return m_grayJob ? m_grayJob->state() : int(GraphicsImageGenerator::Idle);
}

int GraphicsImageItem::mipJobState() const
{
    return m_mipJob ? m_mipJob->state() : int(GraphicsImageGenerator::Idle);
}

int GraphicsImageItem::levelForDetail(const QList<QPixmap> &levels, qreal levelOfDetail)
{
    int chosen = -1;
    const int count = std::min(int(levels.size()), 3);
    // The smallest level that is not stretched; levels not held (the overview has no first one)
    // are passed over.
    for (int i = 0; i < count; ++i) {
        if (qreal(Picture::LevelFactors[i]) < levelOfDetail)
            break;
        if (!levels.at(i).isNull())
            chosen = i;
    }
    return chosen;
}

void GraphicsImageItem::paint(
    QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    Q_UNUSED(option)
    Q_UNUSED(widget)
    auto *graphicsScene = qobject_cast<GraphicsScene *>(scene());
    const qreal oldOpacity = painter->opacity();
    if (graphicsScene && graphicsScene->applyOpacity())
        painter->setOpacity(opacity());

    // The painter carries the item's device transform while the scene draws it.
    const qreal levelOfDetail = QStyleOptionGraphicsItem::levelOfDetailFromTransform(
        m_imageTransform * painter->worldTransform());
    if (m_picture)
        paintPicture(painter, levelOfDetail, graphicsScene);
    else
        paintPlaceholder(painter, graphicsScene);
    paintBorder(painter);
    painter->setOpacity(oldOpacity);
    if (m_player && isSelected() && (!graphicsScene || !graphicsScene->rendersExactly()))
        paintFrameOverlay(painter);
}

bool GraphicsImageItem::paintFrame(QPainter *painter, bool exact)
{
    if (!m_player || m_player->currentImage().isNull())
        return false;
    const QRect target(QPoint(0, 0), m_picture->size());
    if (m_filter & GrayscaleFilter) {
        if (m_greyFrame.isNull() || m_greyFrameIndex != m_player->currentFrame()) {
            m_greyFrame = QPixmap::fromImage(
                GraphicsImageGrayScaleGenerator::toGrayscale(m_player->currentImage()));
            m_greyFrameIndex = m_player->currentFrame();
        }
        painter->drawPixmap(target, m_greyFrame);
    } else if (exact) {
        painter->drawImage(target, m_player->currentImage());
    } else {
        painter->drawPixmap(target, m_player->currentPixmap());
    }
    if (!exact)
        m_player->painted();
    return true;
}

void GraphicsImageItem::paintFrameOverlay(QPainter *painter)
{
    if (m_player->playback().playing)
        return;
    const QString label
        = QStringLiteral("%1 / %2").arg(m_player->currentFrame() + 1).arg(m_player->frameCount());
    // Drawn at the screen's scale in the item's top-left corner, whatever the zoom.
    const QPointF corner = painter->deviceTransform().map(boundingRect().topLeft());
    painter->save();
    painter->resetTransform();
    const QFontMetricsF metrics(painter->font());
    const QRectF box(
        corner + QPointF(4, 4), QSizeF(metrics.horizontalAdvance(label) + 8, metrics.height() + 4));
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0, 0, 0, 160));
    painter->drawRoundedRect(box, 3, 3);
    painter->setPen(Qt::white);
    painter->drawText(box, Qt::AlignCenter, label);
    painter->restore();
}

void GraphicsImageItem::paintPicture(
    QPainter *painter, qreal levelOfDetail, GraphicsScene *graphicsScene)
{
    painter->save();
    // Intersect rather than replace, so that a caller's clip (rendering part of the scene into
    // an image) still holds.
    // A rectangular crop (the usual case) clips as a rectangle: the raster engine keeps its fast
    // paths for it, while any path clip goes through a span mask.
    const QRectF cropBounds = m_cropPath.boundingRect();
    QPainterPath cropRectangle;
    cropRectangle.addRect(cropBounds);
    if (m_cropPath == cropRectangle)
        painter->setClipRect(cropBounds, Qt::IntersectClip);
    else
        painter->setClipPath(m_cropPath, Qt::IntersectClip);
    painter->setTransform(m_imageTransform, true);
    painter->setRenderHint(QPainter::SmoothPixmapTransform, m_filter & SmoothFilter);

    const bool exact = !graphicsScene || graphicsScene->rendersExactly();
    if (paintFrame(painter, exact)) {
        painter->restore();
        return;
    }

    // A level of the overview is all a picture shown this small needs; a little larger, a
    // reduced decode of its source may serve. Grey and hard pixels are made from the full ones.
    if (exact) {
        paintExactly(painter, levelOfDetail, graphicsScene);
        painter->restore();
        return;
    }
    const int needed = detailNeeded(levelOfDetail);
    m_shownInDetail = true;
    QImage full = m_picture->full();
    if (needed == 0 && (m_mipLevels.isEmpty() || full.isNull())) {
        paintOverview(painter, levelOfDetail);
        painter->restore();
        return;
    }
    if (full.isNull()) {
        QRect wanted;
        m_visiblePixels = needed == 8 && !(m_filter & GrayscaleFilter)
            ? visiblePixels(painter, &wanted)
            : QRect();
        if (m_visiblePixels.isValid()) {
            QRect held;
            // Moved beyond the part decoded, the view is going about the picture: the full
            // pixels serve wherever it goes, where a region would be decoded at every step.
            if (!m_picture->hasRegion(m_visiblePixels))
                graphicsScene->requestDetail(
                    m_picture, 8, m_picture->region(&held).isNull() ? wanted : QRect());
            m_shownInDetail = paintRegion(painter, levelOfDetail);
        } else {
            if (!m_picture->hasDetail(needed))
                graphicsScene->requestDetail(m_picture, needed);
            m_shownInDetail = paintDetail(painter, levelOfDetail, needed);
        }
        painter->restore();
        return;
    }
    m_picture->touch();
    if (!m_mipLevels.isEmpty() || !m_grayImage.isNull())
        PictureBudget::instance().touch(this);
    const QPixmap fullPixmap = QPixmap::fromImage(full);

    QPixmap pixmap = fullPixmap;
    if (m_filter & GrayscaleFilter) {
        const int grayState = grayscaleJobState();
        if (grayState == GraphicsImageGenerator::Idle) {
            clearMipLevels();
            startJob(m_grayJob, full);
        } else if (grayState == GraphicsImageGenerator::Done) {
            takeJobResults();
            if (!m_grayImage.isNull())
                pixmap = m_grayImage;
        }
    }

    // The grey job may have finished since it was looked at; its result must be taken before
    // levels are made, or they would be made from the colour picture.
    if (grayscaleJobState() == GraphicsImageGenerator::Done)
        takeJobResults();
    const bool grayPending = (m_filter & GrayscaleFilter) && m_grayImage.isNull();
    bool drawsLevel = false;
    if (!grayPending) {
        // Levels are smoothed copies. A picture without smoothing shows its own pixels, hard,
        // at every zoom: the full picture, sampled without filtering, is all it draws.
        if (smoothlyReduced(graphicsScene)) {
            // Shown larger than the largest level, the full pixels are drawn: levels would only
            // take memory, and keep the full pixels alive while they are made.
            if (!m_mipJob && levelOfDetail <= qreal(Picture::LevelFactors[0]))
                startJob(m_mipJob, m_grayImage.isNull() ? full : m_grayImage.toImage());
        } else if (m_mipJob) {
            clearMipLevels();
        }
        if (mipJobState() == GraphicsImageGenerator::Done) {
            takeJobResults();
            const int level = levelForDetail(m_mipLevels, levelOfDetail);
            if (level >= 0) {
                pixmap = m_mipLevels.at(level);
                drawsLevel = true;
            }
        }
    }

    // A level or the grey variant is stretched onto the pixels of the full picture. A level is
    // what a zoomed-out board shows on every repaint, so its look on the screen is kept.
    const QRect target(QPoint(0, 0), m_picture->size());
    if (drawsLevel) {
        m_screenCache.draw(painter, target, pixmap);
    } else {
        m_screenCache.clear();
        painter->drawPixmap(target, pixmap);
    }
    painter->restore();
}

void GraphicsImageItem::paintExactly(
    QPainter *painter, qreal levelOfDetail, GraphicsScene *graphicsScene)
{
    // Shown small, the picture is reduced as its levels are, smoothly: a filtered stretch of the
    // full pixels alone would alias.
    const bool reduced = smoothlyReduced(graphicsScene);
    int level = -1;
    for (int i = 0; reduced && i < 3; ++i) {
        if (qreal(Picture::LevelFactors[i]) < levelOfDetail)
            break;
        level = i;
    }
    // Shown as small as a level of the overview, the picture is that level on any screen, and
    // an export of a large board decodes nothing; a little larger, a reduced decode serves.
    const QList<QPixmap> overview = overviewLevels();
    const int held = reduced ? levelForDetail(overview, levelOfDetail) : -1;
    QImage source;
    int eighths = 0;
    if (held >= 0)
        source = overview.at(held).toImage();
    else if (reduced)
        source = m_picture->decodeDetail(m_picture->detailEighthsFor(levelOfDetail), &eighths);
    else
        source = m_picture->pixels();
    if (source.isNull()) {
        m_shownInDetail = false;
        paintOverview(painter, levelOfDetail);
        return;
    }
    if (m_filter & GrayscaleFilter)
        source = GraphicsImageGrayScaleGenerator::toGrayscale(source);
    if (level >= 0) {
        const QSize size = Picture::levelSize(m_picture->size(), Picture::LevelFactors[level])
                               .boundedTo(source.size());
        if (!size.isEmpty() && size != source.size())
            source = source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    painter->drawImage(QRect(QPoint(0, 0), m_picture->size()), source);
}

bool GraphicsImageItem::paintDetail(QPainter *painter, qreal levelOfDetail, int eighths)
{
    int held = 0;
    const QImage detail = m_picture->detail(&held);
    if (detail.isNull()) {
        paintOverview(painter, levelOfDetail);
        return false;
    }
    m_picture->touch();
    m_screenCache.clear();
    painter->drawPixmap(QRect(QPoint(0, 0), m_picture->size()), QPixmap::fromImage(detail));
    return held >= eighths;
}

QList<QPixmap> GraphicsImageItem::overviewLevels() const
{
    // In the places of the levels they stand for, so that levelForDetail picks among them.
    QList<QPixmap> levels;
    for (int i = 0; i < Picture::OverviewFirstLevel; ++i)
        levels.append(QPixmap());
    const QList<QImage> overview = m_picture ? m_picture->overview() : QList<QImage>();
    for (const QImage &level : overview)
        levels.append(QPixmap::fromImage(level));
    return levels;
}

bool GraphicsImageItem::paintOverview(QPainter *painter, qreal levelOfDetail)
{
    const QList<QPixmap> levels = overviewLevels();
    int level = levelForDetail(levels, levelOfDetail);
    // More detail than the overview has is on its way: its largest level held stands in.
    for (int i = Picture::OverviewFirstLevel; level < 0 && i < levels.size(); ++i) {
        if (!levels.at(i).isNull())
            level = i;
    }
    if (level < 0)
        return false;
    m_screenCache.draw(painter, QRect(QPoint(0, 0), m_picture->size()), levels.at(level));
    return true;
}

// Scales the painter's font so that text fills at most 90 % of the rectangle either way.
static void fitFont(QPainter *painter, const QFont &base, const QString &text, const QRectF &rect)
{
    const QFontMetricsF metrics(base);
    qreal factor = 0.9 * rect.height() / metrics.height();
    const qreal width = metrics.horizontalAdvance(text);
    if (width > 0)
        factor = std::min(factor, 0.9 * rect.width() / width);
    QFont font = base;
    if (std::isfinite(factor) && factor > 0) {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * factor);
        else
            font.setPixelSize(std::max(1, int(font.pixelSize() * factor)));
    }
    painter->setFont(font);
}

static qreal normalizedOrSame(qreal length)
{
    return (std::abs(length - 1.0) <= 1e-12 || std::abs(length) <= 1e-12) ? 1.0 : length;
}

void GraphicsImageItem::paintPlaceholder(QPainter *painter, GraphicsScene *graphicsScene)
{
    painter->save();
    // Upright and unmirrored whatever the rotation and flip, but at the item's scale.
    const QTransform full = fullTransform();
    const qreal l1 = normalizedOrSame(std::hypot(full.m11(), full.m12()));
    const qreal l2 = normalizedOrSame(std::hypot(full.m21(), full.m22()));
    const QTransform rotation(
        full.m11() / l1, full.m12() / l1, full.m21() / l2, full.m22() / l2, 0, 0);
    painter->setTransform(rotation.inverted() * painter->transform());

    const QRectF bounds = boundingRect();
    painter->fillRect(bounds, graphicsScene ? graphicsScene->canvasColor() : QColor());

    QRectF rect = bounds.adjusted(bounds.width() * 0.15, bounds.height() * 0.15,
        -bounds.width() * 0.15, -bounds.height() * 0.15);
    const qreal h = rect.height();
    rect.setBottom(rect.bottom() - 0.3 * h);

    const QFont base = painter->font();
    const QString mark = QStringLiteral("?");
    fitFont(painter, base, mark, rect);
    painter->drawText(rect, Qt::AlignHCenter | Qt::AlignBottom, mark);

    rect.setTop(rect.top() + 0.7 * h);
    rect.setHeight(0.1 * h);
    const QString lines[3] = {
        QCoreApplication::translate("GraphicsImageItem", "Image not found"),
        QLatin1Char('\'') + m_name + QLatin1Char('\''),
        QCoreApplication::translate("GraphicsImageItem", "Double-click to relink the image"),
    };
    for (const QString &line : lines) {
        fitFont(painter, base, line, rect);
        painter->drawText(rect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, line);
        rect.translate(0, QFontMetricsF(painter->font()).height());
    }
    painter->restore();
}
