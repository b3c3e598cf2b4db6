#include "picture/picture.h"

#include "picture/jpegdecoder.h"
#include "picture/picturebudget.h"
#include "picture/picturecache.h"
#include "picture/picturefile.h"
#include "picture/pngdecoder.h"
#include "picture/sourcefile.h"
#include "platform/workpools.h"

#include <QBuffer>
#include <QHash>
#include <QImageWriter>
#include <QRunnable>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

const float Picture::LevelFactors[3] = { 0.4f, 0.15f, 0.05f };

QSize Picture::levelSize(const QSize &pictureSize, float factor)
{
    // std::lround rounds halves away from zero: 7.5 pixels become 8.
    const auto scaled = [factor](int length) {
        return int(std::lround(double(std::lround(length * double(factor))) * 1.5));
    };
    return QSize(scaled(pictureSize.width()), scaled(pictureSize.height()));
}

Picture::Picture(const QSize &size, bool hasAlpha)
    : m_size(size)
    , m_hasAlpha(hasAlpha)
{
}

Picture::~Picture()
{
    PictureBudget::instance().release(this);
    PictureBudget::instance().release(&m_detail);
    PictureBudget::instance().release(&m_region);
    // The copy is this picture's alone.
    if (m_source.kind() == PictureSource::Kind::CacheFile)
        PictureCache::shared().remove(m_source.cachePath());
}

namespace {

// The pictures made from pixels, by the key of the pixels they were made from: pixels shared by
// several items (copies, pastes of one copy) give one picture, as they gave one pixmap. Keys are
// never reused while the program runs.
QMutex &pixelsMutex()
{
    static QMutex mutex;
    return mutex;
}

QHash<qint64, std::weak_ptr<Picture>> &picturesByPixels()
{
    static QHash<qint64, std::weak_ptr<Picture>> pictures;
    return pictures;
}

} // namespace

std::shared_ptr<Picture> Picture::fromPixels(QImage full, PictureSource source)
{
    const qint64 key = full.cacheKey();
    QMutexLocker locker(&pixelsMutex());
    QHash<qint64, std::weak_ptr<Picture>> &known = picturesByPixels();
    if (!full.isNull()) {
        if (std::shared_ptr<Picture> picture = known.value(key).lock())
            return picture;
    }
    std::shared_ptr<Picture> picture(new Picture(full.size(), full.hasAlphaChannel()));
    picture->m_full = std::move(full);
    picture->setSource(source);
    {
        QMutexLocker pictureLocker(&picture->m_mutex);
        picture->chargeLocked();
    }
    if (!picture->m_size.isEmpty()) {
        // Dead entries go whenever the table has doubled since it was last cleaned.
        static int cleanAt = 64;
        if (known.size() >= cleanAt) {
            for (auto it = known.begin(); it != known.end();)
                it = it.value().expired() ? known.erase(it) : std::next(it);
            cleanAt = std::max(64, 2 * known.size());
        }
        known.insert(key, picture);
    }
    return picture;
}

std::shared_ptr<Picture> Picture::fromSource(
    PictureSource source, const QSize &size, bool hasAlpha, QList<QImage> overview)
{
    std::shared_ptr<Picture> picture(new Picture(size, hasAlpha));
    picture->m_overview = std::move(overview);
    picture->m_overviewDone = true;
    picture->setSource(source);
    return picture;
}

std::shared_ptr<Picture> Picture::fromJpeg(const uchar *data, qint64 length, PictureSource source,
    const QByteArray &stored, bool storedMatches)
{
    // A JPEG decodes straight at the scale its overview needs, never in full. It keeps only the
    // smallest level: anything larger comes from a reduced decode when shown, at a fraction of a
    // level's memory for every picture of the board.
    const QSize size = PictureBlock::declaredSize(data, length);
    const QList<QSize> sizes = overviewSizes(size);
    if (sizes.isEmpty() || PictureBlock::streamLength(data, length) <= 0
        || !PngDecoder::isPlausible(size, length))
        return nullptr;
    const qint64 workBytes = JpegDecoder::workingBytes(data, length);
    // A copy kept beside the block is trusted only for the bytes it was made from.
    if (storedMatches) {
        if (std::shared_ptr<Picture> picture = fromStoredOverview(size, source, stored)) {
            picture->m_decodingWorkBytes = workBytes;
            return picture;
        }
    }
    QImage reduced;
    if (JpegDecoder::decodeScaled(
            data, length, size, JpegDecoder::eighthsFor(size, sizes.last()), &reduced)
        != JpegDecoder::Result::Decoded)
        return nullptr;
    QList<QImage> levels;
    while (levels.size() < sizes.size() - 1)
        levels.append(QImage());
    levels.append(levelsFrom(reduced, { sizes.last() }).constFirst());
    std::shared_ptr<Picture> picture
        = fromSource(std::move(source), size, false, std::move(levels));
    picture->m_decodingWorkBytes = workBytes;
    return picture;
}

std::shared_ptr<Picture> Picture::fromStoredOverview(
    const QSize &size, const PictureSource &source, const QByteArray &stored)
{
    const QList<QSize> sizes = overviewSizes(size);
    QImage smallest;
    if (stored.isEmpty() || sizes.isEmpty()
        || JpegDecoder::decode(reinterpret_cast<const uchar *>(stored.constData()), stored.size(),
               sizes.last(), &smallest)
            != JpegDecoder::Result::Decoded)
        return nullptr;
    QList<QImage> levels;
    while (levels.size() < sizes.size() - 1)
        levels.append(QImage());
    levels.append(smallest);
    // Only opaque pictures have an overview kept for them.
    std::shared_ptr<Picture> picture = fromSource(source, size, false, std::move(levels));
    picture->m_storedOverview = stored;
    return picture;
}

std::shared_ptr<Picture> Picture::fromJpegFile(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    if (PictureBlock::kindOf(data, bytes.size()) != PictureBlock::Kind::Jpeg)
        return nullptr;
    return fromJpeg(data, bytes.size(), PictureSource::fromBytes(bytes));
}

std::shared_ptr<Picture> Picture::fromBlock(const uchar *data, qint64 length,
    std::shared_ptr<SourceFile> file, qint64 start, PictureBlock::Failure *failure,
    const QByteArray &stored, quint32 storedChecksum)
{
    const PictureBlock::Kind kind = PictureBlock::kindOf(data, length);
    // Not even its overview: a picture that cannot be had in full is refused from the start.
    if (PictureFile::checkSize(PictureBlock::declaredSize(data, length)).code
        != PictureFile::LoadResult::Loaded) {
        if (failure)
            *failure = PictureBlock::Failure::TooLarge;
        return nullptr;
    }
    const quint32 checksum = PictureSource::checksumOf(data, length);
    PictureSource source
        = PictureSource::fromFileBlock(std::move(file), start, length, checksum, kind);
    if (kind == PictureBlock::Kind::Jpeg) {
        if (std::shared_ptr<Picture> picture
            = fromJpeg(data, length, source, stored, storedChecksum == checksum))
            return picture;
    } else if (kind == PictureBlock::Kind::Png && storedChecksum == checksum) {
        // Its size from its header, its overview from beside it: nothing is decoded. A PNG has
        // no reduced decoding, so anything larger than the overview takes the full pixels.
        const QSize size = PictureBlock::declaredSize(data, length);
        if (size.isValid() && PngDecoder::isPlausible(size, length)
            && PictureBlock::streamLength(data, length) > 0) {
            if (std::shared_ptr<Picture> picture = fromStoredOverview(size, source, stored))
                return picture;
        }
    }
    const QImage full = PictureBlock::decode(data, length, failure);
    if (full.isNull())
        return nullptr;
    return fromSource(std::move(source), full.size(), full.hasAlphaChannel(), overviewOf(full));
}

void Picture::chargeLocked()
{
    if (m_full.isNull())
        return;
    const std::weak_ptr<Picture> weak = weak_from_this();
    PictureBudget::instance().charge(this, fullBytes(), [weak] {
        if (const std::shared_ptr<Picture> picture = weak.lock())
            picture->dropFull();
    });
}

PictureSource Picture::source() const
{
    QMutexLocker locker(&m_mutex);
    return m_source;
}

void Picture::setSource(const PictureSource &source)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_source.kind() == PictureSource::Kind::CacheFile
            && source.cachePath() != m_source.cachePath())
            PictureCache::shared().remove(m_source.cachePath());
        m_source = source;
        m_unreadable = false;
    }
    if (source.file())
        source.file()->addPicture(shared_from_this());
}

QImage Picture::full() const
{
    QMutexLocker locker(&m_mutex);
    return m_full;
}

bool Picture::hasFull() const
{
    QMutexLocker locker(&m_mutex);
    return !m_full.isNull();
}

QImage Picture::pixels(QString *error, bool *busy, const std::atomic_bool *cancel) const
{
    PictureSource source;
    {
        QMutexLocker locker(&m_mutex);
        if (!m_full.isNull())
            return m_full;
        source = m_source;
    }
    QImage decoded = source.decode(error, busy, cancel);
    if (!decoded.isNull() && decoded.size() != m_size) {
        if (error)
            *error = QStringLiteral("The picture's source holds a picture of another size.");
        return {};
    }
    return decoded;
}

void Picture::setFull(const QImage &full)
{
    if (full.isNull() || full.size() != m_size)
        return;
    QImage detail;
    QImage region;
    QMutexLocker locker(&m_mutex);
    m_full = full;
    chargeLocked();
    // The full pixels serve every scale and every part.
    takeDetailLocked(&detail);
    takeRegionLocked(&region);
    PictureBudget::instance().release(&m_detail);
    PictureBudget::instance().release(&m_region);
    locker.unlock();
    // The detail's and region's pixels go here, outside the lock.
}

int Picture::detailEighthsFor(qreal levelOfDetail) const
{
    {
        QMutexLocker locker(&m_mutex);
        if (!m_source.decodesScaled())
            return 8;
    }
    // The smallest scale that is never stretched on the screen; a hair of rounding in the view's
    // transform does not ask for the next one.
    return qBound(1, int(std::ceil(levelOfDetail * 8 - 1e-6)), 8);
}

bool Picture::hasDetail(int eighths) const
{
    if (eighths <= 0)
        return true;
    QMutexLocker locker(&m_mutex);
    return !m_full.isNull() || (eighths < 8 && m_detailEighths >= eighths);
}

QImage Picture::detail(int *eighths) const
{
    QMutexLocker locker(&m_mutex);
    *eighths = m_detailEighths;
    return m_detail;
}

QImage Picture::decodeDetail(
    int eighths, int *gotEighths, QString *error, bool *busy, const std::atomic_bool *cancel) const
{
    PictureSource source;
    {
        QMutexLocker locker(&m_mutex);
        if (!m_full.isNull()) {
            *gotEighths = 8;
            return m_full;
        }
        source = m_source;
    }
    QImage decoded = source.decodeScaled(eighths, gotEighths, error, busy, cancel);
    const QSize expected = *gotEighths >= 8 ? m_size : JpegDecoder::scaledSize(m_size, *gotEighths);
    if (!decoded.isNull() && decoded.size() != expected) {
        if (error)
            *error = QStringLiteral("The picture's source holds a picture of another size.");
        return {};
    }
    return decoded;
}

void Picture::setDetail(const QImage &detail, int eighths)
{
    if (eighths >= 8) {
        setFull(detail);
        return;
    }
    if (detail.isNull() || eighths < 1 || detail.size() != JpegDecoder::scaledSize(m_size, eighths))
        return;
    QMutexLocker locker(&m_mutex);
    if (!m_full.isNull() || m_detailEighths >= eighths)
        return;
    m_detail = detail;
    m_detailEighths = eighths;
    // Charged under the lock, as the full pixels are: a setFull meanwhile releases it after.
    chargePartLocked(&m_detail, detail, &Picture::dropDetail);
}

void Picture::chargePartLocked(const void *key, const QImage &pixels, void (Picture::*drop)())
{
    const std::weak_ptr<Picture> weak = weak_from_this();
    PictureBudget::instance().charge(
        key, qint64(pixels.width()) * pixels.height() * 4, [weak, drop] {
            if (const std::shared_ptr<Picture> picture = weak.lock())
                (picture.get()->*drop)();
        });
}

void Picture::takeDetailLocked(QImage *into)
{
    into->swap(m_detail);
    m_detail = QImage();
    m_detailEighths = 0;
}

bool Picture::hasRegion(const QRect &rect) const
{
    QMutexLocker locker(&m_mutex);
    return !m_full.isNull() || (!m_region.isNull() && m_regionRect.contains(rect));
}

QImage Picture::region(QRect *rect) const
{
    QMutexLocker locker(&m_mutex);
    *rect = m_regionRect;
    return m_region;
}

QImage Picture::decodeRegion(
    const QRect &rect, QRect *got, QString *error, bool *busy, const std::atomic_bool *cancel) const
{
    PictureSource source;
    {
        QMutexLocker locker(&m_mutex);
        if (!m_full.isNull()) {
            *got = m_full.rect();
            return m_full;
        }
        source = m_source;
    }
    QImage decoded = source.decodeRegion(rect, got, error, busy, cancel);
    if (!decoded.isNull() && !QRect(QPoint(0, 0), m_size).contains(*got)) {
        if (error)
            *error = QStringLiteral("The picture's source holds a picture of another size.");
        return {};
    }
    return decoded;
}

void Picture::setRegion(const QImage &pixels, const QRect &rect)
{
    if (rect == QRect(QPoint(0, 0), m_size)) {
        setFull(pixels);
        return;
    }
    if (pixels.isNull() || pixels.size() != rect.size()
        || !QRect(QPoint(0, 0), m_size).contains(rect))
        return;
    QImage replaced;
    QMutexLocker locker(&m_mutex);
    if (!m_full.isNull())
        return;
    takeRegionLocked(&replaced);
    m_region = pixels;
    m_regionRect = rect;
    chargePartLocked(&m_region, pixels, &Picture::dropRegion);
}

void Picture::takeRegionLocked(QImage *into)
{
    into->swap(m_region);
    m_region = QImage();
    m_regionRect = QRect();
}

void Picture::dropRegion()
{
    QImage dropped;
    QMutexLocker locker(&m_mutex);
    takeRegionLocked(&dropped);
    PictureBudget::instance().release(&m_region);
    locker.unlock();
}

void Picture::dropDetail()
{
    QImage dropped;
    QMutexLocker locker(&m_mutex);
    takeDetailLocked(&dropped);
    PictureBudget::instance().release(&m_detail);
    locker.unlock();
}

bool Picture::dropFull()
{
    QImage dropped;
    {
        QMutexLocker locker(&m_mutex);
        if (m_full.isNull())
            return false;
        // The overview is what is drawn without the full pixels, and the source is where they
        // come back from.
        if (m_source.isNull() || !m_overviewDone) {
            if (!m_preparing) {
                m_preparing = true;
                const std::weak_ptr<Picture> weak = weak_from_this();
                QThreadPool::globalInstance()->start(QRunnable::create([weak] {
                    if (const std::shared_ptr<Picture> picture = weak.lock())
                        picture->prepareToDrop();
                }),
                    WorkPools::BackgroundPriority);
            }
            return false;
        }
        dropped.swap(m_full);
    }
    PictureBudget::instance().release(this);
    // The pixels go here, outside the lock, unless someone still holds a copy of them.
    return true;
}

void Picture::prepareToDrop()
{
    makeOverview();
    QImage full;
    {
        QMutexLocker locker(&m_mutex);
        if (m_source.isNull())
            full = m_full;
    }
    QString path;
    if (!full.isNull() && PictureCache::isStorable(full.format()))
        path = PictureCache::shared().store(full);
    {
        QMutexLocker locker(&m_mutex);
        m_preparing = false;
        if (!path.isEmpty()) {
            if (m_source.isNull())
                m_source = PictureSource::fromCacheFile(path, full.format());
            else
                PictureCache::shared().remove(path);
        }
    }
    full = QImage();
    // The budget asked for these pixels while they could not go yet, and may not ask again
    // (nothing else arrives after the last picture of a large drop): they go now if it still
    // runs short.
    if (PictureBudget::instance().isOverLimit())
        dropFull();
}

QList<QImage> Picture::overview() const
{
    QMutexLocker locker(&m_mutex);
    return m_overview;
}

bool Picture::hasOverview() const
{
    QMutexLocker locker(&m_mutex);
    return m_overviewDone;
}

void Picture::makeOverview()
{
    QImage full;
    {
        QMutexLocker locker(&m_mutex);
        if (m_overviewDone || m_full.isNull())
            return;
        full = m_full;
    }
    QList<QImage> levels = overviewOf(full);
    QMutexLocker locker(&m_mutex);
    if (m_overviewDone)
        return;
    m_overview = std::move(levels);
    m_overviewDone = true;
}

void Picture::adoptOverview(const QList<QImage> &levels)
{
    QMutexLocker locker(&m_mutex);
    if (m_overviewDone)
        return;
    const QList<QSize> sizes = overviewSizes(m_size);
    for (int i = 0; i < sizes.size(); ++i) {
        if (i >= levels.size() || levels.at(i).size() != sizes.at(i))
            return;
    }
    m_overview = levels.mid(0, sizes.size());
    // Opaque levels in the opaque format: see overviewOf.
    if (!m_hasAlpha) {
        for (QImage &level : m_overview)
            level = std::move(level).convertToFormat(QImage::Format_RGB32);
    }
    m_overviewDone = true;
}

QList<QSize> Picture::overviewSizes(const QSize &size)
{
    // The sizes the levels have when each is made from the one before, from the full size: no
    // level comes from a copy narrower or lower than 10 pixels.
    QList<QSize> sizes;
    QSize current = size;
    for (int level = 0; level < 3; ++level) {
        if (current.width() < 10 || current.height() < 10)
            break;
        current = current.scaled(levelSize(size, LevelFactors[level]), Qt::KeepAspectRatio);
        if (level >= OverviewFirstLevel)
            sizes.append(current);
    }
    return sizes;
}

QList<QImage> Picture::overviewOf(const QImage &full)
{
    return levelsFrom(full, overviewSizes(full.size()));
}

QList<QImage> Picture::levelsFrom(QImage current, const QList<QSize> &sizes)
{
    // In the format pixmaps are drawn from: a level is drawn on every repaint, and an opaque
    // one in a format with alpha would be searched for alpha and converted each time.
    const QImage::Format format
        = current.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    QList<QImage> levels;
    for (const QSize &size : sizes) {
        current = current.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(format);
        levels.append(current);
    }
    return levels;
}

QByteArray Picture::storedOverview()
{
    // Pixels just taken in have no overview until something shows them small.
    makeOverview();
    QImage smallest;
    {
        QMutexLocker locker(&m_mutex);
        if (!m_storedOverview.isNull())
            return m_storedOverview;
        if (m_hasAlpha || !m_overviewDone || m_overview.isEmpty())
            return {};
        smallest = m_overview.constLast();
    }
    if (smallest.isNull())
        return {};
    // Quality as a camera's: the level is drawn at two thirds of its size at most.
    constexpr int Quality = 90;
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(Quality);
    if (!writer.write(smallest))
        return {};
    QMutexLocker locker(&m_mutex);
    m_storedOverview = encoded;
    return encoded;
}

void Picture::setUnreadable(bool unreadable)
{
    QMutexLocker locker(&m_mutex);
    m_unreadable = unreadable;
}

bool Picture::isUnreadable() const
{
    QMutexLocker locker(&m_mutex);
    return m_unreadable;
}

void Picture::touch() const
{
    PictureBudget::instance().touch(this);
    PictureBudget::instance().touch(&m_detail);
    PictureBudget::instance().touch(&m_region);
}
