// Loading a scene file of 32 pictures of about 4 Mpx against decoding its PNG blocks on every
// core with the toolkit's reader, the least any reader of the file has to do.
//
//   bench_load_scene [PICTURES [SIDE [PHOTOS]]]  defaults 32 pictures of 2048 x 2048 pixels;
//                                           PHOTOS, a folder of JPEG photos for the last figure
//   bench_load_scene BOARD.vlk              a board of the current format, such as one of real
//                                           photos; each of its blocks must decode to the same
//                                           pixels with our decoder as with the toolkit's reader
//
// Figure: load_scene_over_decode (goal 0.6 or lower), the median of three interleaved runs
// (eleven for a board given by name).
// Figure: open_original_over_png (goal 0.8 or lower), opening a board that stores JPEG files as
// they came (photo-like ones the toolkit wrote at quality 90, PICTURES / 2 of them, or the
// photos given) over opening the same pictures stored as PNG; median of five interleaved runs.

#include "benchoriginals.h"
#include "benchpictures.h"
#include "benchsceneloading.h"

#include "jobs/loadjob.h"
#include "persistence/savefileloader.h"
#include "picture/picture.h"
#include "picture/pngdecoder.h"
#include "platform/workpools.h"
#include "scene/scenesnapshot.h"

#include <QBuffer>
#include <QDataStream>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

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

// How many blocks our decoder reads itself; -1 when one decodes to other pixels than the toolkit's
// reader gives.
int compareDecoders(const QList<QByteArray> &blocks)
{
    int own = 0;
    for (const QByteArray &block : blocks) {
        QImage image;
        const auto result = PngDecoder::decode(
            reinterpret_cast<const uchar *>(block.constData()), block.size(), &image);
        if (result == PngDecoder::Result::Unsupported)
            continue;
        const QImage expected = PictureFile::toDisplayFormat(decodePng(block));
        if (image.format() != expected.format() || image != expected)
            return -1;
        ++own;
    }
    return own;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    WorkPools::configure();
    const QString board = argc > 1 && QByteArray(argv[1]).endsWith(".vlk")
        ? QString::fromLocal8Bit(argv[1])
        : QString();
    int count = argc > 1 ? QByteArray(argv[1]).toInt() : 32;
    const int side = argc > 2 ? QByteArray(argv[2]).toInt() : 2048;

    QTemporaryDir dir;
    const QString path = board.isEmpty() ? dir.filePath(QStringLiteral("bench.vlk")) : board;
    QThread thread;
    auto *loader = new SaveFileLoader;
    loader->moveToThread(&thread);
    thread.start();
    if (board.isEmpty()) {
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
    const int own = compareDecoders(blocks);
    if (own < 0) {
        std::fprintf(stderr, "a block decodes to other pixels than the toolkit's reader gives\n");
        return 1;
    }
    if (!board.isEmpty())
        count = blocks.size();

    QList<double> decodeTimes;
    QList<double> loadTimes;
    int loaded = 0;
    // A board of a few small photos loads in tens of milliseconds: more runs steady the median.
    const int runs = board.isEmpty() ? 3 : 11;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QList<QImage> decoded = mapOnEveryCore(blocks, decodePng);
        decodeTimes.append(timer.nsecsElapsed() / 1e9);
        loadTimes.append(timedLoad(loader, path, false, &loaded));
    }
    std::sort(decodeTimes.begin(), decodeTimes.end());
    std::sort(loadTimes.begin(), loadTimes.end());
    std::printf("# %d pictures in %.1f MB (%d decoded by ours, same pixels), %d loaded, %d cores\n",
        count, bytes.size() / 1e6, own, loaded, QThread::idealThreadCount());
    const double decodeSeconds = decodeTimes.at(runs / 2);
    const double loadSeconds = loadTimes.at(runs / 2);
    std::printf("# decode %.3f s, load %.3f s\n", decodeSeconds, loadSeconds);
    std::printf("figure load_scene_over_decode %.3f\n", loadSeconds / decodeSeconds);

    if (board.isEmpty()) {
        const QString photos = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
        const QStringList jpegs = photos.isEmpty()
            ? writeJpegs(dir.path(), std::max(1, count / 2), side * 3 / 2, side)
            : jpegsIn(photos);
        const QList<GraphicsItem *> pictures = intakeFiles(jpegs);
        SaveFileLoader::SceneState state;
        state.items = SceneSnapshot::take(pictures);
        state.nextItemId = int(pictures.size());
        const QString pngPath = dir.filePath(QStringLiteral("png.vlk"));
        const QString originalPath = dir.filePath(QStringLiteral("original.vlk"));
        for (const QString &target : { pngPath, originalPath }) {
            QFile out(target);
            out.open(QIODevice::ReadWrite);
            LoadJob job(loader);
            const int storage
                = target == pngPath ? SaveFileLoader::PngOnly : SaveFileLoader::OriginalFiles;
            QMetaObject::invokeMethod(
                loader,
                [&] {
                    loader->setPictureStorage(storage);
                    loader->save(&out, QString(), state, &job);
                },
                Qt::BlockingQueuedConnection);
        }
        // Every picture opens from its file with the pixels it was taken in with.
        {
            QHash<int, QImage> before;
            // Pictures taken in as their files stand hold no pixels until asked.
            for (const ItemRecord &record : qAsConst(state.items))
                before.insert(record.id, record.picture ? record.picture->pixels() : record.image);
            QFile in(originalPath);
            in.open(QIODevice::ReadOnly);
            LoadJob job(loader);
            int same = 0;
            QEventLoop loop;
            QObject::connect(&job, &LoadJob::itemGenerated, &loop,
                [&](const ItemRecord &record) { same += record.image == before.value(record.id); });
            QObject::connect(&job, &LoadJob::finished, &loop, &QEventLoop::quit);
            QMetaObject::invokeMethod(
                loader, [&] { loader->load(&in, &job, false); }, Qt::QueuedConnection);
            loop.exec();
            std::printf("# %d of %d pictures open with the pixels they were taken in with\n", same,
                int(before.size()));
            if (same != before.size())
                return 1;
        }
        QList<double> pngOpens;
        QList<double> originalOpens;
        int pngItems = 0;
        int originalItems = 0;
        for (int run = 0; run < 5; ++run) {
            pngOpens.append(timedLoad(loader, pngPath, false, &pngItems));
            originalOpens.append(timedLoad(loader, originalPath, false, &originalItems));
        }
        std::sort(pngOpens.begin(), pngOpens.end());
        std::sort(originalOpens.begin(), originalOpens.end());
        std::printf("# %d JPEG files: open as PNG %.3f s (%d items), as the files %.3f s (%d)\n",
            int(jpegs.size()), pngOpens.at(2), pngItems, originalOpens.at(2), originalItems);
        std::printf("figure open_original_over_png %.3f\n", originalOpens.at(2) / pngOpens.at(2));
        qDeleteAll(pictures);
    }
    QMetaObject::invokeMethod(
        loader, [loader] { delete loader; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    // A named board may hold notes besides its pictures.
    return loaded == count || (!board.isEmpty() && loaded > count) ? 0 : 1;
}
