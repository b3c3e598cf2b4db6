#pragma once

#include "scene/graphicsimagescreencache.h"
#include "scene/graphicsitem.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPainterPath>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QTransform>

#include <memory>

class GraphicsImageGrayScaleGenerator;
class GraphicsImageMipGenerator;
class GraphicsScene;

// An image on the canvas. Item coordinates are centred: the origin is the centre of the crop
// region (cropPath), which is all the item shows and all its bounding rectangle covers.
// imageTransform maps picture pixels (origin at the picture's top-left pixel) into item
// coordinates; after a crop of a rotated item the rotation lives there and the item's own
// transform is a translation.
//
// Derived pictures are caches made lazily from paint() on the global thread pool: the grey
// variant while the grey filter is on, and reduced levels while the scene's zoom quality is 0 and
// the smooth filter is on. They are dropped whenever they become stale and rebuilt on the next
// paint; a job making a stale one is cancelled and left to end on its own, so neither a change nor
// the destructor ever waits for the pool. GUI thread only.
class GraphicsImageItem : public GraphicsItem {
public:
    enum Filter { SmoothFilter = 1, GrayscaleFilter = 2 };

    GraphicsImageItem(QPixmap *image, const QString &source, const QString &name,
        const QPointF &position, QGraphicsItem *parent = nullptr);
    ~GraphicsImageItem() override;

    QString text() const override;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
        QWidget *widget = nullptr) override;

    QPixmap *image() const { return m_image.get(); }
    // A new picture drops the original of the old one.
    void setImage(QPixmap *image);
    // The file the picture was decoded from, when it decodes to exactly these pixels; empty
    // otherwise. See ItemRecord::original.
    QByteArray original() const { return m_original; }
    void setOriginal(const QByteArray &original) { m_original = original; }
    int filter() const { return m_filter; }
    void setFilter(int filter);
    QString source() const { return m_source; }
    void setSource(const QString &source) { m_source = source; }
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

    void clearGrayscale();
    void clearMipLevels();

    // Derived data as the GUI thread sees it; results of a finished job are taken over first.
    QPixmap grayscaleImage();
    QList<QPixmap> mipLevels();
    int grayscaleJobState() const;
    // Whether the item paints its picture small without waiting for anything: it holds its
    // reduced levels, or its picture is too small to have any, or it has no picture.
    bool hasOverview();
    // Whether the picture's full pixels are in memory, ready to paint at 1:1.
    bool hasFullPixels() const { return m_image && !m_image->isNull(); }
    int mipJobState() const;

    // Index of the level to draw at the given level of detail (screen pixels per picture pixel),
    // or -1 for the full picture.
    static int levelForDetail(const QList<QPixmap> &levels, qreal levelOfDetail);
    // A crop region no wider or higher than this is refused.
    static constexpr qreal MinimumCropExtent = 1.0;

private:
    static bool isAcceptableCrop(const QPainterPath &path);
    void takeJobResults();
    template<typename Job> void startJob(std::shared_ptr<Job> &job, const QImage &source);
    template<typename Job> void stopJob(std::shared_ptr<Job> &job);
    void paintPicture(QPainter *painter, qreal levelOfDetail, GraphicsScene *scene);
    void paintPlaceholder(QPainter *painter, GraphicsScene *scene);
    void transformChildren(const QTransform &transform);

    int m_filter = SmoothFilter;
    std::unique_ptr<QPixmap> m_image;
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
    QString m_name;
    QTransform m_imageTransform;
    QPainterPath m_cropPath;
    bool m_autoDownscaled = false;
    QSize m_downscaleLimit;
};

Q_DECLARE_METATYPE(GraphicsImageItem *)
