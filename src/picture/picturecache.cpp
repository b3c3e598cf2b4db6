#include "picture/picturecache.h"

#include "picture/picturelog.h"
#include "picture/pngdecoder.h"
#include "picture/pngencoder.h"
#include "platform/cachefolder.h"
#include "platform/platform.h"

#include <QFile>

#include <atomic>

namespace {

CacheFolder *sharedFolder()
{
    // Never destroyed: pool threads may store while the program's statics are torn down.
    static auto *folder = new CacheFolder;
    return folder;
}

// A full disk fails every store after the first: one warning is enough.
void warnOnce(const QString &path, const QString &error)
{
    static std::atomic_bool warned { false };
    if (!warned.exchange(true)) {
        qCWarning(lcPicture, "Cannot keep a copy of a picture in %s: %s", qUtf8Printable(path),
            qUtf8Printable(error));
    }
}

} // namespace

PictureCache::PictureCache(CacheFolder *folder)
    : m_folder(folder)
{
}

bool PictureCache::isStorable(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

PictureCache &PictureCache::shared()
{
    static auto *cache = new PictureCache(sharedFolder());
    return *cache;
}

void PictureCache::closeShared()
{
    sharedFolder()->close();
}

QString PictureCache::store(const QImage &image)
{
    Q_ASSERT(image.isNull() || isStorable(image.format()));
    if (image.isNull() || !isStorable(image.format()))
        return {};
    const QString folder = m_folder->path();
    if (folder.isEmpty())
        return {};
    // The same bytes read as straight colours, which the encoder writes as they are.
    const QImage asStored = image.format() == QImage::Format_RGB32
        ? image
        : QImage(image.constBits(), image.width(), image.height(), image.bytesPerLine(),
            QImage::Format_ARGB32);
    QByteArray png;
    QString error;
    if (!PngEncoder::encode(
            asStored, PngEncoder::deflateLevel(PngEncoder::Fastest), &png, &error)) {
        warnOnce(folder, error);
        return {};
    }
    // Names are never used twice in a process, whose folder this is.
    static std::atomic<quint64> copies { 0 };
    const QString path = QStringLiteral("%1/%2.png").arg(folder).arg(++copies);
    const QString partial = path + QStringLiteral(".part");
    QFile file(partial);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        warnOnce(partial, file.errorString());
        return {};
    }
    const bool written = file.write(png) == png.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError)
        error = file.errorString();
    else if (Platform::replaceFile(partial, path, &error))
        return path;
    warnOnce(partial, error);
    QFile::remove(partial);
    return {};
}

QImage PictureCache::load(const QString &path, QImage::Format format) const
{
    Q_ASSERT(isStorable(format));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return {};
    const uchar *data = file.map(0, file.size());
    QImage image;
    if (!data
        || PngDecoder::decodeAsStored(data, file.size(), &image) != PngDecoder::Result::Decoded)
        return {};
    if (image.format() == format)
        return image;
    // A copy with alpha comes back as ARGB32 holding the bytes as they were stored; an opaque
    // one as RGB32, whose bytes hold alpha 255 and are the same premultiplied.
    if (format == QImage::Format_ARGB32_Premultiplied) {
        image.reinterpretAsFormat(format);
        return image;
    }
    return {};
}

void PictureCache::remove(const QString &path) const
{
    QFile::remove(path);
}
