// Loading a scene file of 32 pictures of about 4 Mpx against decoding its PNG blocks on every
// pool thread, the least any reader of the file has to do.
//
//   bench_load_scene [PICTURES [SIDE]]      defaults 32 pictures of 2048 x 2048 pixels
//
// Figure: load_scene_over_decode (goal 1.2 or lower), the median of three interleaved runs.

#include "benchpictures.h"
#include "benchsceneloading.h"

#include "loading/loadjob.h"
#include "persistence/savefileloader.h"

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
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cstdio>

namespace {

QList<QByteArray> blocksOf(const QByteArray &file)
{
    QDataStream in(file);
    QString version;
    qint16 items = 0;
    qint16 images = 0;
    qint64 index = 0;
    in >> version >> items >> images >> index;
    in.device()->seek(index);
    QList<QByteArray> blocks;
    for (int i = 0; i < images; ++i) {
        qint32 id = 0;
        qint64 start = 0;
        qint64 end = 0;
        in >> id >> start >> end;
        blocks.append(file.mid(int(start), int(end - start)));
    }
    return blocks;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 32;
    const int side = argc > 2 ? QByteArray(argv[2]).toInt() : 2048;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.vlk"));
    QThread thread;
    auto *loader = new SaveFileLoader;
    loader->moveToThread(&thread);
    thread.start();
    {
        QList<ItemRecord> items;
        for (int i = 0; i < count; ++i) {
            ItemRecord item;
            item.id = i;
            item.pixelsOwnerId = i;
            item.name = QStringLiteral("bench");
            item.transform = QTransform::fromTranslate(i, i);
            item.image = photoLike(side, quint32(i + 1));
            items.append(item);
        }
        QFile file(path);
        file.open(QIODevice::ReadWrite);
        SaveFileLoader::SceneState state;
        state.items = items;
        state.nextItemId = count;
        LoadJob job(loader);
        QMetaObject::invokeMethod(
            loader, [&] { loader->save(&file, QString(), state, &job); },
            Qt::BlockingQueuedConnection);
    }
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const QList<QByteArray> blocks = blocksOf(bytes);

    QList<double> decodeTimes;
    QList<double> loadTimes;
    int loaded = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QList<QImage> decoded = QtConcurrent::blockingMapped(blocks, decodePng);
        decodeTimes.append(timer.nsecsElapsed() / 1e9);
        loadTimes.append(timedLoad(loader, path, false, &loaded));
    }
    std::sort(decodeTimes.begin(), decodeTimes.end());
    std::sort(loadTimes.begin(), loadTimes.end());
    std::printf("# %d pictures of %d x %d in %.1f MB, %d loaded, %d pool threads\n", count, side,
        side, bytes.size() / 1e6, loaded, QThreadPool::globalInstance()->maxThreadCount());
    std::printf("# decode %.3f s, load %.3f s\n", decodeTimes.at(1), loadTimes.at(1));
    std::printf("figure load_scene_over_decode %.3f\n", loadTimes.at(1) / decodeTimes.at(1));
    QMetaObject::invokeMethod(
        loader, [loader] { delete loader; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    return loaded == count ? 0 : 1;
}
