#include "picture/picturefile.h"

#include "picture/decoderpool.h"
#include "platform/picturememory.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <limits>

PictureFile::LoadResult PictureFile::load(const QString &path, bool autoDownscale,
    const QSize &maxSize, QImage *image, QByteArray *original)
{
    if (!QFileInfo(path).isFile())
        return { LoadResult::NotFound, QStringLiteral("File not found: %1").arg(path) };
    return DecoderPool::instance().decodeFile(path, autoDownscale, maxSize, image, original);
}

qint64 PictureFile::maximumBytes()
{
    qint64 bytes = std::numeric_limits<int>::max();
    if (const qint64 physical = PictureMemory::physicalBytes(); physical > 0)
        bytes = std::min(bytes, physical / 2);
    if (const qint64 left = PictureMemory::addressSpaceLeft(); left >= 0)
        bytes = std::min(bytes, left / 3);
    return bytes;
}

PictureFile::LoadResult PictureFile::checkSize(const QSize &declared)
{
    if (declared.isEmpty())
        return {};
    // Four bytes a pixel, the only formats pictures are held in.
    const qint64 bytes = qint64(declared.width()) * declared.height() * 4;
    const qint64 allowed = maximumBytes();
    if (bytes <= allowed)
        return {};
    const QLocale locale;
    return { LoadResult::Refused,
        QStringLiteral("The picture is too large: %1 × %2 pixels would take %3 of memory, more "
                       "than the %4 one picture may take here.")
            .arg(declared.width())
            .arg(declared.height())
            .arg(locale.formattedDataSize(bytes, 1), locale.formattedDataSize(allowed, 1)) };
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
