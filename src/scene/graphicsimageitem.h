#pragma once

#include "scene/graphicsimagescreencache.h"
#include "scene/graphicsitem.h"
#include "scene/itemrecord.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPainterPath>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTransform>

#include <memory>
#include <optional>

class AnimationPlayer;
class GraphicsImageGrayScaleGenerator;
class Picture;
class GraphicsImageMipGenerator;
class GraphicsScene;

// An image on the canvas. Item coordinates are centred: the origin is the centre of the crop
// region (cropPath), which is all the item shows and all its bounding rectangle covers.
// imageTransform maps picture pixels (origin at the picture's top-left pixel) into item
// coordinates; after a crop of a rotated item the rotation lives there and the item's own
// transform is a translation.
//
// The picture (shared by the items that show the same pixels) keeps its overview for good and its
// full pixels while they are needed: a zoomed-out item draws a level of the overview; one that
// needs more detail asks the scene for the full pixels and draws the best level it has until they
// come, never an empty frame and never a wait.
//
// Derived pictures are caches made lazily from paint() on the global thread pool from the full
// pixels: the grey variant while the grey filter is on, and reduced levels while the scene's zoom
// quality is 0 and the smooth filter is on. They are charged to the picture budget, dropped
// whenever they become stale or the budget runs short, and rebuilt on the next paint; a job
// making a stale one is cancelled and left to end on its own, so neither a change nor the
// destructor ever waits for the pool. GUI thread only.
class GraphicsImageItem : public GraphicsItem {
public:
    enum Filter {
        SmoothFilter = ItemLimits::SmoothFilter,
        GrayscaleFilter = ItemLimits::GrayscaleFilter
    };

    // A null picture makes the placeholder of a missing one.
    GraphicsImageItem(std::shared_ptr<Picture> picture, const QString &source, const QString &name,
        const QPointF &position, QGraphicsItem *parent = nullptr);
    ~GraphicsImageItem() override;

    QString text() const override;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
        QWidget *widget = nullptr) override;

    const std::shared_ptr<Picture> &picture() const { return m_picture; }
    // A new picture drops the original of the old one.
    void setPicture(std::shared_ptr<Picture> picture);
    QSize pictureSize() const;
    // The full pixels, decoded now when they are not in memory; null without a picture or
    // when they cannot be had. Blocking.
    QImage pixels() const;
    // The file the picture was decoded from, when it decodes to exactly these pixels; empty
    // otherwise. See ItemRecord::original.
    QByteArray original() const { return m_original; }
    // An original that is an animation plays on the item.
    void setOriginal(const QByteArray &original);
    int filter() const { return m_filter; }
    void setFilter(int filter);
    QString source() const { return m_source; }
    void setSource(const QString &source) { m_source = source; }
    // The web address of a picture from the web and the page it was found on (ItemRecord).
    QString pictureAddress() const { return m_pictureAddress; }
    QString pageAddress() const { return m_pageAddress; }
    void setAddresses(const QString &picture, const QString &page)
    {
        m_pictureAddress = picture;
        m_pageAddress = page;
    }
    QString name() const { return m_name; }
    QTransform imageTransform() const { return m_imageTransform; }
    void setImageTransform(const QTransform &transform);
    QPainterPath cropPath() const { return m_cropPath; }
    void setCropPath(const QPainterPath &path);
    void cropTo(const QPainterPath &path, bool clip);
    void resetCrop();
    bool autoDownscaled() const { return m_autoDownscaled; }
    QSize downscaleLimit() const { return m_downscaleLimit; }
    void setAutoDownscale(bool autoDownscaled, const QSize &limit);
    // How the picture plays when its original is an animation; absent for stills.
    std::optional<ItemRecord::Playback> playback() const;
    void setPlayback(const std::optional<ItemRecord::Playback> &playback);
    // The player of an animated original; null for stills.
    AnimationPlayer *animation() const { return m_player.get(); }
    // The frame of the animation shown instead of the picture, scaled to the picture's size;
    // null while the picture itself is what shows (stills, the first frame).
    QImage shownFrame() const;

    void clearGrayscale();
    void clearMipLevels();

    // Derived data as the GUI thread sees it; results of a finished job are taken over first.
    QPixmap grayscaleImage();
    QList<QPixmap> mipLevels();
    int grayscaleJobState() const;
    // Whether the item paints its picture small without waiting for anything: it holds its
    // reduced levels, or its picture is too small to have any, or it has no picture.
    bool hasOverview();
    // How much of its picture the item needs painted at the given level of detail, in eighths of
    // the full size (Picture::detailEighthsFor): 0 when a level of the overview serves, 8 for
    // the full pixels (grey, unsmoothed and exact pictures are made from them).
    int detailNeeded(qreal levelOfDetail) const;
    // Whether the item, painted at the given level of detail, asks for more of its picture than
    // is in memory.
    bool needsMoreDetail(qreal levelOfDetail) const;
    // The rectangle of the scene the item covers with opaque pixels, or an empty one when it
    // covers none that simply (translucent, rotated or cut to another shape).
    QRectF opaqueSceneRect() const;
    // Whether the last paint drew the picture with all the detail it needed, rather than a
    // smaller copy standing in while that is decoded.
    bool isShownInDetail() const { return m_shownInDetail; }
    // Whether the picture's full pixels are in memory, ready to paint at 1:1.
    bool hasFullPixels() const;
    int mipJobState() const;

    // Index of the level to draw at the given level of detail (screen pixels per picture pixel),
    // or -1 for the full picture.
    static int levelForDetail(const QList<QPixmap> &levels, qreal levelOfDetail);
    static constexpr qreal MinimumCropExtent = ItemLimits::MinimumCropExtent;

private:
    static bool isAcceptableCrop(const QPainterPath &path);
    // Shown small, the picture is reduced smoothly (levels, reduced decodes) rather than sampled.
    bool smoothlyReduced(const GraphicsScene *scene) const;
    void takeJobResults();
    template<typename Job> void startJob(std::shared_ptr<Job> &job, const QImage &source);
    template<typename Job> void stopJob(std::shared_ptr<Job> &job);
    void paintPicture(QPainter *painter, qreal levelOfDetail, GraphicsScene *scene);
    // Draws the best level of the overview for the given detail; false when there is none.
    bool paintOverview(QPainter *painter, qreal levelOfDetail);
    // Draws the picture for an export or the clipboard as a screen would show it once every job
    // had ended, made here and now from the overview, a reduced decode or the full pixels: no
    // job starts, and what was made for the screen before makes no difference.
    void paintExactly(QPainter *painter, qreal levelOfDetail, GraphicsScene *scene);
    // Draws the picture's reduced detail, or the overview when it has none; true when the
    // detail held is at least eighths.
    bool paintDetail(QPainter *painter, qreal levelOfDetail, int eighths);
    // The rectangle of the full pixels the painter shows of the picture, when a region of them
    // is worth decoding instead of the whole (it is small beside the picture); invalid
    // otherwise. wanted: the region to decode, with room around what is shown.
    QRect visiblePixels(const QPainter *painter, QRect *wanted) const;
    // Draws the region of the full pixels held over the best detail held; true when it covers
    // what is shown.
    bool paintRegion(QPainter *painter, qreal levelOfDetail);
    QList<QPixmap> overviewLevels() const;
    // Charges the derived caches to the budget, or releases them when there are none.
    void chargeDerived();
    void paintPlaceholder(QPainter *painter, GraphicsScene *scene);
    // Draws the animation's frame when it has one to show; false when the picture stands in.
    bool paintFrame(QPainter *painter, bool exact);
    // The frame number and count over the paused animation of a selected item.
    void paintFrameOverlay(QPainter *painter);
    void transformChildren(const QTransform &transform);

    int m_filter = SmoothFilter;
    std::shared_ptr<Picture> m_picture;
    QByteArray m_original;
    QPixmap m_grayImage;
    // Null while no job is wanted; a job is used once.
    std::shared_ptr<GraphicsImageGrayScaleGenerator> m_grayJob;
    QList<QPixmap> m_mipLevels;
    std::shared_ptr<GraphicsImageMipGenerator> m_mipJob;
    GraphicsImageScreenCache m_screenCache;
    // Receiver of the jobs' finished signals, so the queued repaints die with the item. Declared
    // after the jobs: it goes first and disconnects them.
    QObject m_context;
    QString m_source;
    QString m_pictureAddress;
    QString m_pageAddress;
    QString m_name;
    QTransform m_imageTransform;
    QPainterPath m_cropPath;
    bool m_autoDownscaled = false;
    QSize m_downscaleLimit;
    std::optional<ItemRecord::Playback> m_playback;
    std::unique_ptr<AnimationPlayer> m_player;
    // The grey variant of the frame shown, made when it changes.
    QPixmap m_greyFrame;
    int m_greyFrameIndex = -1;
    bool m_shownInDetail = false;
    // What the last paint showed of the full pixels, when it drew a region of them.
    QRect m_visiblePixels;
};

Q_DECLARE_METATYPE(GraphicsImageItem *)
