// Forced recovery of a 200 MB scene file whose metadata is destroyed: only a valid format
// version and intact PNG streams are left, among random bytes. Against decoding the same PNG
// streams with the toolkit's reader on every core.
//
//   bench_recover [MEGABYTES]      default 200
//
// Figure: recover_over_decode (goal 0.7 or lower), the median of three interleaved runs.

#include "benchpictures.h"
#include "benchsceneloading.h"

#include "jobs/loadjob.h"
#include "persistence/savefileloader.h"
#include "picture/pngencoder.h"
#include "platform/workpools.h"
#include "scene/graphicsimageitem.h"

#include <QBuffer>
#include <QDataStream>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

QByteArray garbage(QRandomGenerator &random, int length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    WorkPools::configure();
    const qint64 target = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 200) * 1000 * 1000;

    // A handful of distinct pictures repeated until the file is big enough; every block is
    // decoded on its own either way.
    QList<QByteArray> distinct;
    for (int i = 0; i < 6; ++i) {
        QByteArray png;
        PngEncoder::encode(photoLike(1600, quint32(i + 1), 0, 4), 1, &png);
        distinct.append(png);
    }
    QRandomGenerator random(7);
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << QStringLiteral("1.10");
    }
    bytes += garbage(random, 224 - bytes.size());
    QList<QByteArray> blocks;
    while (bytes.size() < target) {
        blocks.append(distinct.at(blocks.size() % distinct.size()));
        bytes += blocks.last();
        bytes += garbage(random, 64 + int(random.bounded(512)));
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("destroyed.vlk"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }

    QThread thread;
    auto *loader = new SaveFileLoader;
    loader->moveToThread(&thread);
    thread.start();
    QList<double> decodeTimes;
    QList<double> recoverTimes;
    int recovered = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QList<QImage> decoded = mapOnEveryCore(blocks, decodePng);
        decodeTimes.append(timer.nsecsElapsed() / 1e9);
        recoverTimes.append(timedLoad(loader, path, true, &recovered));
    }
    std::sort(decodeTimes.begin(), decodeTimes.end());
    std::sort(recoverTimes.begin(), recoverTimes.end());
    std::printf("# %.1f MB, %d PNG streams, %d recovered, %d cores\n", bytes.size() / 1e6,
        int(blocks.size()), recovered, QThread::idealThreadCount());
    std::printf("# decode %.3f s, recover %.3f s\n", decodeTimes.at(1), recoverTimes.at(1));
    std::printf("figure recover_over_decode %.3f\n", recoverTimes.at(1) / decodeTimes.at(1));
    QMetaObject::invokeMethod(
        loader, [loader] { delete loader; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    return recovered == blocks.size() ? 0 : 1;
}
