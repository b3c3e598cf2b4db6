#include "scene/fullpictureloader.h"

#include "picture/picture.h"

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
    for (const Running &running : qAsConst(m_decoding))
        running.cancel->store(true);
    QMutexLocker locker(&m_shared->mutex);
    m_shared->loader = nullptr;
}

void FullPictureLoader::setWantedTest(std::function<bool(const Picture *)> wanted)
{
    m_wanted = std::move(wanted);
}

void FullPictureLoader::request(const std::shared_ptr<Picture> &picture, int eighths)
{
    if (!picture || picture->hasDetail(eighths) || picture->isUnreadable()
        || m_decoding.contains(picture.get()))
        return;
    // Asked again while waiting: it goes to the front of the line, as the newest.
    const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(),
        [&picture](const Waiting &entry) { return entry.key == picture.get(); });
    if (waiting != m_waiting.end())
        m_waiting.erase(waiting);
    else
        m_busy.append(picture.get());
    m_waiting.append({ picture, picture.get(), eighths });
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
        if (!picture || picture->hasDetail(next.eighths)
            || (m_wanted && !m_wanted(picture.get()))) {
            m_busy.removeOne(next.key);
            continue;
        }
        ++m_running;
        const std::shared_ptr<Shared> shared = m_shared;
        const auto cancel = std::make_shared<std::atomic_bool>(false);
        m_decoding.insert(next.key, { next.picture, cancel });
        QThreadPool::globalInstance()->start(QRunnable::create(
            [weak = next.picture, key = next.key, wanted = next.eighths, shared, cancel] {
                QImage pixels;
                int eighths = 8;
                QString error;
                bool busy = false;
                if (const std::shared_ptr<Picture> alive = weak.lock())
                    pixels = alive->decodeDetail(wanted, &eighths, &error, &busy, cancel.get());
                // Asked for again as it was, when it comes to be asked again.
                if (pixels.isNull())
                    eighths = wanted;
                const bool canceled = cancel->load();
                QMutexLocker locker(&shared->mutex);
                if (!shared->loader)
                    return;
                QMetaObject::invokeMethod(
                    shared->loader,
                    [loader = shared->loader, key, weak, pixels, eighths, error, busy, canceled] {
                        loader->finish(key, weak, canceled ? QImage() : pixels, eighths,
                            busy ? QString() : error, canceled);
                    },
                    Qt::QueuedConnection);
            }));
    }
}

void FullPictureLoader::finish(const Picture *key, const std::weak_ptr<Picture> &weak,
    const QImage &pixels, int eighths, const QString &error, bool canceled)
{
    --m_running;
    m_busy.removeOne(key);
    m_decoding.remove(key);
    if (canceled) {
        // Asked again by the next paint that needs it.
    } else if (const std::shared_ptr<Picture> picture = weak.lock()) {
        picture->setDetail(pixels, eighths);
        if (pixels.isNull() && error.isEmpty()) {
            // Its board is being saved: asked again once the save has let go of the file.
            QTimer::singleShot(RetryMilliseconds, this, [this, weak, eighths] {
                if (const std::shared_ptr<Picture> again = weak.lock())
                    request(again, eighths);
            });
        } else if (pixels.isNull()) {
            picture->setUnreadable(true);
            emit failed(error);
        } else
            emit loaded();
    }
    startNext();
}
