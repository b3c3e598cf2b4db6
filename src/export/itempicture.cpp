#include "export/itempicture.h"

#include "picture/picture.h"
#include "scene/graphicsimagegrayscalegenerator.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"

#include <QPainter>

ItemPicture::ItemPicture(const QImage &pixels)
    : m_picture(pixels.isNull() ? nullptr : Picture::fromPixels(pixels))
{
}

ItemPicture ItemPicture::of(const GraphicsImageItem *item, bool cropping)
{
    ItemPicture picture;
    // An animation shows, exports and copies the frame it stopped on.
    const QImage frame = item->shownFrame();
    picture.m_picture = frame.isNull() ? item->picture() : Picture::fromPixels(frame);
    picture.m_cropping = cropping;
    picture.m_bounds = item->boundingRect();
    picture.m_cropPath = item->cropPath();
    picture.m_imageTransform = item->imageTransform();
    picture.m_fullTransform = item->fullTransform();
    picture.m_smooth = item->filter() & GraphicsImageItem::SmoothFilter;
    picture.m_grey = item->filter() & GraphicsImageItem::GrayscaleFilter;
    const auto *scene = qobject_cast<const GraphicsScene *>(item->scene());
    if (!scene || scene->applyOpacity())
        picture.m_opacity = item->opacity();
    return picture;
}

QImage ItemPicture::paint(QString *error) const
{
    if (!m_picture)
        return QImage();
    const QImage source = m_picture->pixels(error);
    if (source.isNull() || !m_cropping)
        return source;

    const QSize size(qMax(1, qRound(m_bounds.width())), qMax(1, qRound(m_bounds.height())));
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        if (error)
            *error = QStringLiteral("Not enough memory for %1 x %2 pixels")
                         .arg(size.width())
                         .arg(size.height());
        return image;
    }
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A crop of a scaled or rotated item keeps the scale or rotation in its image transform.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_smooth);
    painter.setOpacity(m_opacity);
    painter.translate(size.width() / 2.0, size.height() / 2.0);
    // Scale and rotation stay on the canvas; a mirror is part of the picture. A mirrored
    // transform is read as the flip that leaves the smaller rotation: a vertical flip looks like
    // a horizontal one turned by 180 degrees.
    if (m_fullTransform.determinant() < 0)
        painter.scale(m_fullTransform.m11() >= 0 ? 1 : -1, m_fullTransform.m11() >= 0 ? -1 : 1);
    painter.translate(-m_bounds.center());
    painter.setClipPath(m_cropPath, Qt::IntersectClip);
    painter.setTransform(m_imageTransform, true);
    painter.drawImage(
        QPointF(0, 0), m_grey ? GraphicsImageGrayScaleGenerator::toGrayscale(source) : source);
    painter.end();
    return image;
}
