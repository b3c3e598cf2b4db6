#pragma once

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <memory>

class GraphicsImageItem;
class Picture;

// The picture of an image item as an export or a copy writes it, taken from the item as values so
// that it can be painted away from the GUI thread: an export of every picture of a large board
// decodes, paints and writes them one at a time instead of holding all their pixels at once.
// With cropping: the crop region at scale 1.0, upright, with its flip, filter and opacity;
// without: the source picture unchanged.
class ItemPicture {
public:
    ItemPicture() = default;
    // Pixels painted already, written as they are.
    explicit ItemPicture(const QImage &pixels);
    // GUI thread.
    static ItemPicture of(const GraphicsImageItem *item, bool cropping);

    // No picture to paint: the item's file was missing.
    bool isNull() const { return !m_picture; }
    // Decodes the full pixels when they are not in memory. Blocking; any thread. Null with the
    // reason in error when they cannot be had.
    QImage paint(QString *error = nullptr) const;

private:
    std::shared_ptr<const Picture> m_picture;
    bool m_cropping = false;
    QRectF m_bounds;
    QPainterPath m_cropPath;
    QTransform m_imageTransform;
    QTransform m_fullTransform;
    bool m_smooth = false;
    bool m_grey = false;
    qreal m_opacity = 1.0;
};
