#include "scene/fullpictureloader.h"

#include "picture/picture.h"
#include "picture/picturebudget.h"

#include <QImage>
#include <QMutex>
#include <QRunnable>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int RetryMilliseconds = 200;

} // namespace

// What the jobs share with the loader: the loader lets go of it when it dies, so a job that ends
// afterwards hands its result to no one.
struct FullPictureLoader::Shared {
    QMutex mutex;
    FullPictureLoader *loader = nullptr;
};

FullPictureLoader::FullPictureLoader(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->loader = this;
}

FullPictureLoader::~FullPictureLoader()
{
    for (const Running &running : qAsConst(m_decoding)) {
        running.cancel->store(true);
        PictureBudget::instance().cancelReservation(running.reserved);
    }
    QMutexLocker locker(&m_shared->mutex);
    m_shared->loader = nullptr;
}

void FullPictureLoader::setWantedTest(std::function<bool(const Picture *)> wanted)
{
    m_wanted = std::move(wanted);
}

namespace {

bool hasWhatIsAsked(const Picture &picture, int eighths, const QRect &region)
{
    return region.isValid() ? picture.hasRegion(region) : picture.hasDetail(eighths);
}

} // namespace

void FullPictureLoader::request(
    const std::shared_ptr<Picture> &picture, int eighths, const QRect &region)
{
    if (!picture || hasWhatIsAsked(*picture, eighths, region) || picture->isUnreadable()
        || m_decoding.contains(picture.get()))
        return;
    // Asked again while waiting: it goes to the front of the line, as the newest.
    const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(),
        [&picture](const Waiting &entry) { return entry.key == picture.get(); });
    if (waiting != m_waiting.end())
        m_waiting.erase(waiting);
    else
        m_busy.append(picture.get());
    m_waiting.append({ picture, picture.get(), eighths, region });
    // The view moved on: what it no longer shows in detail need not hold up what it shows now.
    cancelUnwanted();
    startNext();
}

void FullPictureLoader::cancelUnwanted()
{
    if (!m_wanted)
        return;
    for (const Running &running : qAsConst(m_decoding)) {
        const std::shared_ptr<Picture> picture = running.picture.lock();
        if (!picture || !m_wanted(picture.get()))
            running.cancel->store(true);
    }
}

void FullPictureLoader::cancelAll()
{
    for (const Waiting &waiting : qAsConst(m_waiting))
        m_busy.removeOne(waiting.key);
    m_waiting.clear();
}

void FullPictureLoader::startNext()
{
    // A few at a time: each holds a whole decoded picture, and the view asks for many at once
    // while it pans; the ones left behind are dropped before they cost anything.
    const int parallel = std::max(2, QThreadPool::globalInstance()->maxThreadCount());
    while (m_running < parallel && !m_waiting.isEmpty()) {
        // The newest first: what the view shows now, not what it passed on the way.
        const Waiting next = m_waiting.takeLast();
        const std::shared_ptr<Picture> picture = next.picture.lock();
        if (!picture || hasWhatIsAsked(*picture, next.eighths, next.region)
            || (m_wanted && !m_wanted(picture.get()))) {
            m_busy.removeOne(next.key);
            continue;
        }
        ++m_running;
        const qint64 reserved = bytesToDecode(*picture, next.eighths, next.region);
        PictureBudget::instance().reserve(reserved);
        if (m_makeRoom)
            m_makeRoom();
        const std::shared_ptr<Shared> shared = m_shared;
        const auto cancel = std::make_shared<std::atomic_bool>(false);
        m_decoding.insert(next.key, { next.picture, cancel, reserved });
        QThreadPool::globalInstance()->start(QRunnable::create([next, shared, cancel] {
            Result result;
            if (const std::shared_ptr<Picture> alive = next.picture.lock())
                result = decode(alive.get(), next.eighths, next.region, cancel.get());
            QMutexLocker locker(&shared->mutex);
            if (!shared->loader)
                return;
            QMetaObject::invokeMethod(
                shared->loader,
                [loader = shared->loader, next, result] {
                    loader->finish(next.key, next.picture, result, next.eighths, next.region);
                },
                Qt::QueuedConnection);
        }));
    }
}

qint64 FullPictureLoader::bytesToDecode(const Picture &picture, int eighths, const QRect &region)
{
    // The decoder's own memory is as resident as the pixels while it works: for a progressive
    // photo, half again as much at full size, and more than the pixels of a reduced decode.
    const qint64 working = picture.decodingWorkBytes();
    if (region.isValid())
        return qint64(region.width()) * region.height() * 4 + working;
    const qint64 width = (qint64(picture.size().width()) * eighths + 7) / 8;
    const qint64 height = (qint64(picture.size().height()) * eighths + 7) / 8;
    return width * height * 4 + working;
}

FullPictureLoader::Result FullPictureLoader::decode(
    Picture *picture, int eighths, const QRect &region, const std::atomic_bool *cancel)
{
    Result result;
    if (region.isValid())
        result.pixels
            = picture->decodeRegion(region, &result.region, &result.error, &result.busy, cancel);
    else
        result.pixels
            = picture->decodeDetail(eighths, &result.eighths, &result.error, &result.busy, cancel);
    result.canceled = cancel->load();
    if (result.canceled)
        result.pixels = QImage();
    if (result.busy)
        result.error.clear();
    return result;
}

void FullPictureLoader::finish(const Picture *key, const std::weak_ptr<Picture> &weak,
    const Result &result, int askedEighths, const QRect &askedRegion)
{
    --m_running;
    m_busy.removeOne(key);
    // The pixels are charged by their picture from here on, or let go.
    PictureBudget::instance().cancelReservation(m_decoding.value(key).reserved);
    m_decoding.remove(key);
    if (result.canceled) {
        // Asked again by the next paint that needs it.
    } else if (const std::shared_ptr<Picture> picture = weak.lock()) {
        if (result.region.isValid())
            picture->setRegion(result.pixels, result.region);
        else
            picture->setDetail(result.pixels, result.eighths);
        if (result.pixels.isNull() && result.error.isEmpty()) {
            // Its board is being saved: asked again, as it was, once the save has let go of the
            // file.
            QTimer::singleShot(RetryMilliseconds, this, [this, weak, askedEighths, askedRegion] {
                if (const std::shared_ptr<Picture> again = weak.lock())
                    request(again, askedEighths, askedRegion);
            });
        } else if (result.pixels.isNull()) {
            picture->setUnreadable(true);
            emit failed(result.error);
        } else
            emit loaded();
    }
    startNext();
}
