#pragma once

// What the scene-file benchmarks share: the bare PNG decode they compare against, and one timed
// load of a scene file through a SaveFileLoader living on another thread.

#include "loading/loadjob.h"
#include "persistence/savefileloader.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>

inline QImage decodePng(const QByteArray &png)
{
    QByteArray bytes = png;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
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
