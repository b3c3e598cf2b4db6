#include "persistence/savefilerecovery.h"

#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "persistence/loadlosses.h"
#include "picture/pictureblock.h"

#include <QFile>
#include <QFuture>
#include <QImage>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>

namespace SaveFileRecovery {

namespace {

    // A picture stream of any kind a block may hold, found at offset by its signature; its end is
    // found in the stream itself, since nothing else in a damaged file can be trusted.
    QImage decodeAt(const uchar *mapping, qint64 offset, qint64 size)
    {
        const uchar *at = mapping + offset;
        const qint64 length = PictureBlock::streamLength(
            at, std::min<qint64>(size - offset, std::numeric_limits<int>::max()));
        if (length <= 0)
            return {};
        PictureBlock::Failure failure;
        return PictureBlock::decode(at, length, &failure);
    }

} // namespace

Outcome recoverPictures(BaseLoader *reporter, LoadJob *job, QFile *file, qint64 size, int expected)
{
    Outcome outcome;
    const uchar *mapping = size > 0 ? file->map(0, size) : nullptr;
    if (!mapping)
        return outcome;
    outcome.readable = true;

    // Every picture stream starts with its signature; only there is a decoder worth starting.
    // A JPEG found is not searched for others: its thumbnails start the same way.
    QList<qint64> candidates;
    // Each first byte's next occurrence is searched for again only once the scan has passed it.
    const uchar *const end = mapping + size;
    const uchar firstBytes[] = { 0x89, 0xff, 'R', 'G' };
    constexpr int Kinds = int(sizeof firstBytes);
    const uchar *nextOf[Kinds] = {};
    for (int i = 0; i < Kinds; ++i)
        nextOf[i] = static_cast<const uchar *>(std::memchr(mapping, firstBytes[i], size_t(size)));
    for (const uchar *at = mapping; at < end;) {
        const uchar *next = end;
        for (int i = 0; i < Kinds; ++i) {
            if (nextOf[i] && nextOf[i] < at)
                nextOf[i]
                    = static_cast<const uchar *>(std::memchr(at, firstBytes[i], size_t(end - at)));
            if (nextOf[i] && nextOf[i] < next)
                next = nextOf[i];
        }
        if (next == end)
            break;
        at = next + 1;
        const PictureBlock::Kind kind = PictureBlock::kindOf(next, end - next);
        if (kind == PictureBlock::Kind::Unknown)
            continue;
        candidates.append(next - mapping);
        if (kind == PictureBlock::Kind::Jpeg) {
            const qint64 length = PictureBlock::streamLength(next, end - next);
            if (length > 0)
                at = next + length;
        }
    }

    QThreadPool *pool = QThreadPool::globalInstance();
    const int window = std::max(2, 2 * pool->maxThreadCount());
    std::deque<QFuture<QImage>> decoding;
    int submitted = 0;
    bool busy = false;
    for (int i = 0; i < candidates.size() && !job->isCanceled(); ++i) {
        while (
            submitted < candidates.size() && int(decoding.size()) < window && !job->isCanceled()) {
            decoding.push_back(
                QtConcurrent::run(pool, decodeAt, mapping, candidates.at(submitted++), size));
        }
        if (decoding.empty())
            break;
        const QImage image = decoding.front().result();
        decoding.pop_front();
        if (image.isNull()) {
            ++outcome.failed;
            if (!busy) {
                busy = true;
                reporter->reportProgressRange(job, 0, 0);
            }
            continue;
        }
        ItemRecord item;
        item.name = QStringLiteral("BruteForceLoaded");
        item.image = image;
        reporter->reportItem(job, item);
        if (busy) {
            busy = false;
            reporter->reportProgressRange(job, 0, expected);
            reporter->reportProgressMessage(job, QString());
        }
        reporter->reportProgress(job, ++outcome.found);
    }
    // Decoders still running after a cancel only read the mapping: wait before releasing it.
    for (QFuture<QImage> &future : decoding)
        future.waitForFinished();
    file->unmap(const_cast<uchar *>(mapping));
    return outcome;
}

} // namespace SaveFileRecovery
