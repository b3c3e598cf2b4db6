#include "picture/picturesource.h"

#include "picture/jpegdecoder.h"
#include "picture/pictureblock.h"
#include "picture/picturecache.h"
#include "picture/pngdecoder.h"
#include "picture/sourcefile.h"

#include <QCoreApplication>

#include <libdeflate.h>

#include <algorithm>

PictureSource PictureSource::fromBytes(const QByteArray &encoded)
{
    PictureSource source;
    if (encoded.isEmpty())
        return source;
    source.m_kind = Kind::Bytes;
    source.m_bytes = encoded;
    source.m_blockKind = PictureBlock::kindOf(
        reinterpret_cast<const uchar *>(encoded.constData()), encoded.size());
    source.m_length = encoded.size();
    return source;
}

PictureSource PictureSource::fromFileBlock(std::shared_ptr<SourceFile> file, qint64 start,
    qint64 length, quint32 checksum, PictureBlock::Kind kind)
{
    PictureSource source;
    if (!file || start < 0 || length <= 0)
        return source;
    source.m_kind = Kind::FileBlock;
    source.m_file = std::move(file);
    source.m_start = start;
    source.m_length = length;
    source.m_checksum = checksum;
    source.m_blockKind = kind;
    return source;
}

PictureSource PictureSource::fromCacheFile(const QString &path, QImage::Format format)
{
    PictureSource source;
    if (path.isEmpty())
        return source;
    source.m_kind = Kind::CacheFile;
    source.m_path = path;
    source.m_format = format;
    return source;
}

quint32 PictureSource::checksumOf(const uchar *data, qint64 length)
{
    return quint32(libdeflate_crc32(0, data, size_t(length)));
}

quint32 PictureSource::checksum() const
{
    switch (m_kind) {
    case Kind::Bytes:
        return checksumOf(reinterpret_cast<const uchar *>(m_bytes.constData()), m_bytes.size());
    case Kind::FileBlock:
        return m_checksum;
    case Kind::CacheFile:
    case Kind::None:
        break;
    }
    return 0;
}

QByteArray PictureSource::encodedBytes(QString *error, bool locked, bool *busy) const
{
    if (busy)
        *busy = false;
    const auto fail = [error](const char *reason) {
        if (error)
            *error = QCoreApplication::translate("PictureSource", reason);
        return QByteArray();
    };
    switch (m_kind) {
    case Kind::Bytes:
        return m_bytes;
    case Kind::FileBlock: {
        bool fileBusy = false;
        const QByteArray bytes = m_file->read(m_start, m_length, locked, &fileBusy);
        if (fileBusy) {
            if (busy)
                *busy = true;
            return fail("The board file is being saved.");
        }
        if (bytes.isEmpty())
            return fail("The board file no longer holds the picture.");
        if (checksumOf(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size())
            != m_checksum)
            return fail("The board file was changed by another program.");
        return bytes;
    }
    case Kind::CacheFile:
    case Kind::None:
        break;
    }
    return fail("The picture has no source to decode it from.");
}

QImage PictureSource::decode(QString *error, bool *busy, const std::atomic_bool *cancel) const
{
    if (busy)
        *busy = false;
    if (m_kind == Kind::CacheFile) {
        QImage image = PictureCache::shared().load(m_path, m_format);
        if (image.isNull() && error)
            *error = QCoreApplication::translate("PictureSource", "The cached copy is missing.");
        return image;
    }
    const QByteArray bytes = encodedBytes(error, false, busy);
    if (bytes.isEmpty())
        return {};
    PictureBlock::Failure failure = PictureBlock::Failure::Damaged;
    QImage image = PictureBlock::decode(
        reinterpret_cast<const uchar *>(bytes.constData()), bytes.size(), &failure, cancel);
    if (image.isNull() && error)
        *error = QCoreApplication::translate("PictureSource", "The picture could not be decoded.");
    return image;
}

bool PictureSource::decodesScaled() const
{
    return (m_kind == Kind::Bytes || m_kind == Kind::FileBlock)
        && m_blockKind == PictureBlock::Kind::Jpeg;
}

QImage PictureSource::decodeScaled(
    int eighths, int *gotEighths, QString *error, bool *busy, const std::atomic_bool *cancel) const
{
    *gotEighths = 8;
    if (eighths >= 8 || !decodesScaled())
        return decode(error, busy, cancel);
    bool partial = false;
    QImage image = decodeJpegPart(
        [eighths, cancel](const uchar *data, qint64 length, const QSize &size, QImage *into) {
            return JpegDecoder::decodeScaled(data, length, size, eighths, into, nullptr, cancel);
        },
        &partial, error, busy, cancel);
    if (partial)
        *gotEighths = eighths;
    return image;
}

QImage PictureSource::decodeRegion(const QRect &region, QRect *got, QString *error, bool *busy,
    const std::atomic_bool *cancel) const
{
    bool partial = false;
    QImage image = !decodesScaled()
        ? decode(error, busy, cancel)
        : decodeJpegPart(
            [&region, cancel](const uchar *data, qint64 length, const QSize &size, QImage *into) {
                return JpegDecoder::decodeRegion(data, length, size, region, into, nullptr, cancel);
            },
            &partial, error, busy, cancel);
    // The decoder clips the region to the picture.
    const QPoint corner = region.normalized().topLeft();
    *got = image.isNull() ? QRect()
        : partial ? QRect(QPoint(std::max(corner.x(), 0), std::max(corner.y(), 0)), image.size())
                  : image.rect();
    return image;
}

QImage PictureSource::decodeJpegPart(
    const std::function<JpegDecoder::Result(const uchar *, qint64, const QSize &, QImage *)> &part,
    bool *partial, QString *error, bool *busy, const std::atomic_bool *cancel) const
{
    const QByteArray bytes = encodedBytes(error, false, busy);
    if (bytes.isEmpty())
        return {};
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const QSize size = PictureBlock::declaredSize(data, bytes.size());
    QImage image;
    // The size comes from the stream: one it could not describe is refused by the full decode.
    const JpegDecoder::Result result = size.isValid() && PngDecoder::isPlausible(size, bytes.size())
        ? part(data, bytes.size(), size, &image)
        : JpegDecoder::Result::Unsupported;
    switch (result) {
    case JpegDecoder::Result::Decoded:
        *partial = true;
        return image;
    case JpegDecoder::Result::Canceled:
        return {};
    case JpegDecoder::Result::Unsupported:
    case JpegDecoder::Result::Damaged:
        break;
    }
    // CMYK and the like go through the toolkit's reader, which decodes nothing but the whole.
    PictureBlock::Failure failure = PictureBlock::Failure::Damaged;
    image = PictureBlock::decode(data, bytes.size(), &failure, cancel);
    if (image.isNull() && error)
        *error = QCoreApplication::translate("PictureSource", "The picture could not be decoded.");
    return image;
}
