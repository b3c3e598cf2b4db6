// Saving a scene file: a full save of 32 pictures of about 4 Mpx against encoding the same
// pictures with the toolkit's PNG writer on every core, and an incremental save of the
// unchanged board against the full save, in three interleaved rounds.
//
//   bench_save [PICTURES [SIDE [PHOTOS]]]   defaults 32 pictures of 2048 x 2048 pixels; PHOTOS, a
//                                           folder of JPEG photos saved instead of them
//
// Figures: save_full_over_encode (goal 1.2 or lower), save_incremental_over_full (goal 0.05 or
// lower), save_full_speedup: the sum of the one-thread toolkit encode times of the pictures over
// the time of the whole full save (goal 8 or higher on two cores).
// On a board of JPEG files (photo-like ones the toolkit wrote at quality 90, PICTURES / 2 of
// them, or the photos given) taken in with their originals: save_original_speedup, a full save
// with every picture encoded as PNG over the same save storing the files (goal 20 or higher),
// and board_over_sources, the board's bytes over the files' (goal 1.02 or lower).

#include "benchmedian.h"
#include "benchoriginals.h"
#include "benchpictures.h"
#include "benchsceneloading.h"
#include "picture/picture.h"
#include "scene/scenesnapshot.h"

#include "jobs/loadjob.h"
#include "persistence/savefileloader.h"
#include "platform/workpools.h"
#include "scene/graphicsimageitem.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray encode(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return png;
}

QString saveOnce(SaveFileLoader &loader, const QString &path, const QString &oldChecksum,
    const QList<GraphicsItem *> &items, double *seconds)
{
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    QString checksum;
    LoadJob job(&loader);
    QObject::connect(&loader, &SaveFileLoader::checksumSaved, &job,
        [&checksum](const QString &value, LoadJob *) { checksum = value; });
    QElapsedTimer timer;
    timer.start();
    SaveFileLoader::SceneState state;
    state.items = SceneSnapshot::take(items);
    state.nextItemId = items.size();
    state.sceneRect = QRectF(-5000, -5000, 10000, 10000);
    loader.save(&file, oldChecksum, state, &job);
    *seconds = timer.nsecsElapsed() / 1e9;
    return checksum;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    WorkPools::configure();
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 32;
    const int side = argc > 2 ? QByteArray(argv[2]).toInt() : 2048;
    const QString photos = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();

    // The photos given, else generated photo-like pictures.
    QList<QImage> images;
    if (!photos.isEmpty()) {
        for (const QString &jpeg : jpegsIn(photos))
            images.append(QImage(jpeg).convertToFormat(QImage::Format_RGB32));
    } else {
        for (int i = 0; i < count; ++i)
            images.append(photoLike(side, quint32(i + 1)));
    }
    QList<GraphicsItem *> items;
    for (int i = 0; i < images.size(); ++i) {
        auto *item = new GraphicsImageItem(
            Picture::fromPixels(images.at(i)), QString(), QStringLiteral("bench"), QPointF(i, i));
        item->setId(i);
        item->setZValue(i);
        items.append(item);
    }

    // Three rounds, each one of every measurement, so that the machine's drift touches them
    // alike; each figure is the median of its rounds.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.vlk"));
    SaveFileLoader loader;
    std::vector<double> encodeSeconds;
    std::vector<double> oneThreadSeconds;
    std::vector<double> fullSeconds;
    std::vector<double> incrementalSeconds;
    qint64 bytes = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        const QList<QByteArray> encoded = mapOnEveryCore(images, encode);
        encodeSeconds.push_back(timer.nsecsElapsed() / 1e9);
        bytes = 0;
        for (const QByteArray &png : encoded)
            bytes += png.size();
        timer.restart();
        for (const QImage &image : qAsConst(images))
            encode(image);
        oneThreadSeconds.push_back(timer.nsecsElapsed() / 1e9);

        QFile::remove(path);
        double seconds = 0;
        const QString checksum = saveOnce(loader, path, QString(), items, &seconds);
        fullSeconds.push_back(seconds);
        saveOnce(loader, path, checksum, items, &seconds);
        incrementalSeconds.push_back(seconds);
    }
    const double encodeTime = median(encodeSeconds);
    const double oneThreadTime = median(oneThreadSeconds);
    const double fullTime = median(fullSeconds);
    const double incrementalTime = median(incrementalSeconds);

    if (photos.isEmpty()) {
        std::printf("# %d pictures of %d x %d, %.1f MB of PNG, %d cores\n", count, side, side,
            bytes / 1e6, QThread::idealThreadCount());
    } else {
        std::printf("# %d photos, %.1f MB of PNG, %d cores\n", int(images.size()), bytes / 1e6,
            QThread::idealThreadCount());
    }
    std::printf("# encode %.3f s (one thread %.3f s), full save %.3f s, incremental save %.3f s\n",
        encodeTime, oneThreadTime, fullTime, incrementalTime);
    std::printf("figure save_full_over_encode %.3f\n", fullTime / encodeTime);
    std::printf("figure save_incremental_over_full %.4f\n", incrementalTime / fullTime);
    std::printf("figure save_full_speedup %.3f\n", oneThreadTime / fullTime);
    qDeleteAll(items);

    const QStringList jpegs = photos.isEmpty()
        ? writeJpegs(dir.path(), std::max(1, count / 2), side * 3 / 2, side)
        : jpegsIn(photos);
    const QList<GraphicsItem *> pictures = intakeFiles(jpegs);
    const QString pngPath = dir.filePath(QStringLiteral("png.vlk"));
    QString originalPath;
    QList<double> pngSaves;
    QList<double> originalSaves;
    for (int run = 0; run < 3; ++run) {
        QFile::remove(pngPath);
        // A board the user waited for is where its pictures decode from from then on: each run
        // writes a board of its own, and none goes while the pictures live.
        originalPath = dir.filePath(QStringLiteral("original%1.vlk").arg(run));
        double seconds = 0;
        loader.setPictureStorage(SaveFileLoader::PngOnly);
        saveOnce(loader, pngPath, QString(), pictures, &seconds);
        pngSaves.append(seconds);
        loader.setPictureStorage(SaveFileLoader::OriginalFiles);
        saveOnce(loader, originalPath, QString(), pictures, &seconds);
        originalSaves.append(seconds);
    }
    std::sort(pngSaves.begin(), pngSaves.end());
    std::sort(originalSaves.begin(), originalSaves.end());
    const qint64 sources = bytesOfFiles(jpegs);
    const qint64 board = QFileInfo(originalPath).size();
    std::printf("# %d JPEG files%s, %.1f MB; board with originals %.1f MB, with PNG %.1f MB\n",
        int(jpegs.size()), photos.isEmpty() ? " written by the toolkit" : " given", sources / 1e6,
        board / 1e6, QFileInfo(pngPath).size() / 1e6);
    std::printf("# full save storing PNG %.3f s, storing the files %.3f s\n", pngSaves.at(1),
        originalSaves.at(1));
    std::printf("figure save_original_speedup %.2f\n", pngSaves.at(1) / originalSaves.at(1));
    std::printf("figure board_over_sources %.4f\n", double(board) / double(sources));
    qDeleteAll(pictures);
    return 0;
}
