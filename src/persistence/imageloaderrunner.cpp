#include "persistence/imageloaderrunner.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <limits>

ImageLoaderRunner::ImageLoaderRunner(const ImageRecord &record, int node, const QString &source,
    bool autoDownscale, const QSize &downscaleLimit, std::shared_ptr<const Context> context)
    : m_record(record)
    , m_node(node)
    , m_context(std::move(context))
    , m_source(source)
    , m_autoDownscale(autoDownscale)
    , m_downscaleLimit(downscaleLimit)
{
    setAutoDelete(false);
}

bool ImageLoaderRunner::isPlausiblePng(const QSize &size, qint64 length)
{
    // Deflate expands at most about 1032 times; at one bit a pixel that bounds the pixels a
    // stream of this length can hold. Anything larger is a lie that would only allocate.
    return !size.isValid() || qint64(size.width()) * size.height() <= 8300 * length + 4096;
}

QImage ImageLoaderRunner::decodePng(const uchar *data, qint64 length)
{
    if (length <= 0 || length > std::numeric_limits<int>::max())
        return {};
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(length));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    if (!isPlausiblePng(reader.size(), length))
        return {};
    QImage image;
    if (!reader.read(&image))
        return {};
    // Converted here, on a pool thread, so that the GUI thread only wraps the pixels.
    return ImageLoader::toDisplayFormat(std::move(image));
}

void ImageLoaderRunner::run()
{
    const ImageRecord &r = m_record;
    // Offsets come from disk: an index entry may point past the mapping.
    if (r.id < 0 || r.start < 0 || r.end < r.start || r.end > m_context->size
        || !m_context->mapping) {
        m_decoded = true;
        emit imageDone();
        return;
    }
    const uchar *block = m_context->mapping + r.start;
    const qint64 length = r.end - r.start;
    if (length == 4) {
        m_ownerId = qFromBigEndian<qint32>(block);
    } else {
        m_decoded = true;
        m_image = decodePng(block, length);
    }

    if (m_decoded) {
        // Pixels, or an undecodable block: the reader drops the item for a null image.
    } else if (m_ownerId != -1) {
        emit isCopy(m_ownerId);
    } else {
        const QString path = resolveLinkedPath(
            m_source, m_context->currentSceneDirectory, m_context->savedSceneDirectory);
        if (path.isEmpty()) {
            ImageLoader::LoadImageResult result;
            result.code = ImageLoader::LoadImageResult::NotFound;
            emit missingImage(result);
        } else {
            QImage image;
            const ImageLoader::LoadImageResult result
                = ImageLoader::loadImageFile(path, m_autoDownscale, m_downscaleLimit, &image);
            if (result.code == ImageLoader::LoadImageResult::Loaded && !image.isNull()) {
                m_image = std::move(image);
                m_resolvedPath = path;
            } else {
                emit missingImage(result);
            }
        }
    }
    emit imageDone();
}

QString ImageLoaderRunner::resolveLinkedPath(
    const QString &path, const QString &currentSceneDirectory, const QString &savedSceneDirectory)
{
    if (path.isEmpty())
        return {};
    const auto exists = [](const QString &candidate) { return QFileInfo(candidate).isFile(); };
    if (exists(path))
        return path;
    const QStringList parts = path.split(QLatin1Char('/'));
    if (!currentSceneDirectory.isEmpty()) {
        for (int dropped = 1; dropped < parts.size(); ++dropped) {
            const QString candidate = currentSceneDirectory + QLatin1Char('/')
                + parts.mid(dropped).join(QLatin1Char('/'));
            if (exists(candidate))
                return candidate;
        }
        if (!savedSceneDirectory.isEmpty()) {
            const int slash = path.indexOf(QLatin1Char('/'));
            const QString withoutDrive = slash > 0 ? path.mid(slash) : path;
            const QString relative = QDir(savedSceneDirectory).relativeFilePath(withoutDrive);
            const QString candidate
                = QFileInfo(currentSceneDirectory + QLatin1Char('/') + relative).absoluteFilePath();
            if (exists(candidate))
                return candidate;
        }
    }
    return {};
}
