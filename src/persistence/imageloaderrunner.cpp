#include "persistence/imageloaderrunner.h"

#include "picture/animationdecoder.h"
#include "picture/decoderpool.h"
#include "picture/picture.h"
#include "picture/pictureblock.h"
#include "picture/sourcefile.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <climits>
#include <cstring>
#include <limits>

ImageLoaderRunner::ImageLoaderRunner(const ImageRecord &record, int node, const ItemRecord &item,
    std::shared_ptr<const Context> context)
    : m_record(record)
    , m_node(node)
    , m_context(std::move(context))
    , m_source(item.source)
    , m_autoDownscale(item.autoDownscaled)
    , m_downscaleLimit(item.downscaleLimit)
    , m_overview(item.overview)
    , m_overviewChecksum(item.overviewChecksum)
{
    setAutoDelete(false);
}

QImage ImageLoaderRunner::decodePng(const uchar *data, qint64 length)
{
    LoadLosses::Reason failure;
    return decodePng(data, length, &failure);
}

QImage ImageLoaderRunner::decodePng(const uchar *data, qint64 length, LoadLosses::Reason *failure)
{
    PictureBlock::Failure blockFailure = PictureBlock::Failure::Damaged;
    QImage image = PictureBlock::decodePng(data, length, &blockFailure);
    *failure = reasonOf(blockFailure);
    return image;
}

LoadLosses::Reason ImageLoaderRunner::reasonOf(PictureBlock::Failure failure)
{
    switch (failure) {
    case PictureBlock::Failure::ImplausibleSize:
        return LoadLosses::Reason::ImplausibleSize;
    case PictureBlock::Failure::TooLarge:
        return LoadLosses::Reason::TooLarge;
    default:
        return LoadLosses::Reason::DamagedPicture;
    }
}

void ImageLoaderRunner::run()
{
    const ImageRecord &r = m_record;
    // Offsets come from disk: an index entry may point past the mapping.
    if (r.id < 0 || r.start < 0 || r.end < r.start || r.end > m_context->size
        || !m_context->mapping) {
        m_decoded = true;
        m_failure = r.end > m_context->fileSize && r.start >= 0 && r.end >= r.start
            ? LoadLosses::Reason::FileEnds
            : LoadLosses::Reason::BrokenIndex;
        emit imageDone();
        return;
    }
    const uchar *block = m_context->mapping + r.start;
    const qint64 length = r.end - r.start;
    if (length == 4) {
        m_ownerId = qFromBigEndian<qint32>(block);
    } else {
        m_decoded = true;
        PictureBlock::Failure failure = PictureBlock::Failure::Damaged;
        if (m_context->sourceFile)
            m_picture = Picture::fromBlock(block, length, m_context->sourceFile, r.start, &failure,
                m_overview, m_overviewChecksum);
        else
            m_image = PictureBlock::decode(block, length, &failure);
        m_failure = reasonOf(failure);
        // Copied out of the mapping, which ends with the load. A picture decoded again from
        // the board when needed keeps no copy, except an animation: its player reads the
        // frames from the bytes.
        const bool decoded = !m_image.isNull() || m_picture;
        if (m_context->keepOriginals && decoded
            && (!m_context->sourceFile
                || AnimationDecoder::isAnimation(
                    QByteArray::fromRawData(reinterpret_cast<const char *>(block), int(length)))))
            m_original = QByteArray(reinterpret_cast<const char *>(block), int(length));
        // Read once: the block is decoded again from the file itself when needed.
        Platform::releaseMappedPages(block, length);
    }

    if (m_decoded) {
        // Pixels, or an undecodable block: the reader drops the item for a null image.
    } else if (m_ownerId != -1) {
        emit isCopy(m_ownerId);
    } else {
        const QString path = resolveLinkedPath(
            m_source, m_context->currentSceneDirectory, m_context->savedSceneDirectory);
        if (path.isEmpty()) {
            PictureFile::LoadResult result;
            result.code = PictureFile::LoadResult::NotFound;
            emit missingImage(result);
        } else {
            QImage image;
            const PictureFile::LoadResult result = PictureFile::load(path, m_autoDownscale,
                m_downscaleLimit, &image, m_context->keepOriginals ? &m_original : nullptr);
            if (result.code == PictureFile::LoadResult::Loaded && !image.isNull()) {
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
