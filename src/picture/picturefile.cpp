#include "picture/picturefile.h"

#include "picture/decoderpool.h"

#include <QFileInfo>

PictureFile::LoadResult PictureFile::load(const QString &path, bool autoDownscale,
    const QSize &maxSize, QImage *image, QByteArray *original)
{
    if (!QFileInfo(path).isFile())
        return { LoadResult::NotFound, QStringLiteral("File not found: %1").arg(path) };
    return DecoderPool::instance().decodeFile(path, autoDownscale, maxSize, image, original);
}

QImage PictureFile::toDisplayFormat(QImage image)
{
    const QImage::Format format
        = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.isNull() || image.format() == format)
        return image;
    return std::move(image).convertToFormat(format);
}

bool PictureFile::wouldDownscale(const QSize &size, bool autoDownscale, const QSize &maxSize)
{
    if (!autoDownscale || size.isEmpty() || maxSize.width() <= 0 || maxSize.height() <= 0)
        return false;
    return (size.width() > maxSize.width() && size.width() >= size.height())
        || size.height() > maxSize.height();
}

QImage PictureFile::applyAutoDownscale(
    const QImage &picture, bool autoDownscale, const QSize &maxSize)
{
    if (!wouldDownscale(picture.size(), autoDownscale, maxSize))
        return picture;
    QImage scaled;
    if (picture.width() > maxSize.width() && picture.width() >= picture.height())
        scaled = picture.scaledToWidth(maxSize.width(), Qt::SmoothTransformation);
    else
        scaled = picture.scaledToHeight(maxSize.height(), Qt::SmoothTransformation);
    return scaled.isNull() ? picture : scaled;
}
