#pragma once

// What the scene-file benchmarks share: the bare PNG decode they compare against, run on every
// core, and one timed load of a scene file through a SaveFileLoader living on another thread.
// The program's own pools are configured as at start-up, so that loads and saves run as shipped.

#include "jobs/loadjob.h"
#include "persistence/savefileloader.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

inline QImage decodePng(const QByteArray &png)
{
    QByteArray bytes = png;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// work applied to each of inputs on a pool of its own with a thread for every core.
template<typename Input, typename Work> auto mapOnEveryCore(const QList<Input> &inputs, Work work)
{
    QThreadPool pool;
    pool.setMaxThreadCount(QThread::idealThreadCount());
    QList<QFuture<decltype(work(inputs.first()))>> futures;
    for (const Input &input : inputs)
        futures.append(QtConcurrent::run(&pool, work, input));
    QList<decltype(work(inputs.first()))> results;
    for (auto &future : futures)
        results.append(future.result());
    return results;
}

// Seconds from asking for the load to its end; itemCount receives the items it made.
inline double timedLoad(SaveFileLoader *loader, const QString &path, bool force, int *itemCount)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    LoadJob job(loader);
    int items = 0;
    QEventLoop loop;
    QObject::connect(&job, &LoadJob::itemGenerated, &loop, [&items] { ++items; });
    QObject::connect(&job, &LoadJob::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    QMetaObject::invokeMethod(
        loader, [&] { loader->load(&file, &job, force); }, Qt::QueuedConnection);
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    *itemCount = items;
    return seconds;
}
