// Autosaving a large board.
//
//   bench_autosave [PICTURES [WIDTH HEIGHT]]      defaults 100 pictures of 4000 x 3000 pixels
//
// autosave_pause_ms_per_gpx: one picture moved, the time the GUI thread is blocked when an
// autosave starts (the snapshot of the board the writer works from), in milliseconds per
// gigapixel of pictures on the board (goal 5 or lower).
// autosave_over_full_save: the first autosave of a new board of that size, into its autosave
// file, against a full save of it into a file of its own (goal 1.1 or lower).

#include "benchmedian.h"
#include "benchpictures.h"

#include "jobs/loadjob.h"
#include "persistence/autosavefile.h"
#include "persistence/savefileloader.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/scenesnapshot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

SaveFileLoader::SceneState snapshot(const QList<GraphicsItem *> &items)
{
    SaveFileLoader::SceneState state;
    state.items = SceneSnapshot::take(items);
    state.nextItemId = items.size();
    state.sceneRect = QRectF(-5000, -5000, 10000, 10000);
    return state;
}

double saveSeconds(SaveFileLoader &loader, const QString &path, const QList<GraphicsItem *> &items)
{
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    LoadJob job(&loader);
    QElapsedTimer timer;
    timer.start();
    loader.save(&file, QString(), snapshot(items), &job);
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100;
    const int width = argc > 3 ? QByteArray(argv[2]).toInt() : 4000;
    const int height = argc > 3 ? QByteArray(argv[3]).toInt() : 3000;

    QList<GraphicsItem *> items;
    for (int i = 0; i < count; ++i) {
        // Few shapes and no noise: generating the board is not what is measured.
        const QImage picture = photoLike(width, height, quint32(i + 1), 4, 0);
        auto *item = new GraphicsImageItem(Picture::fromPixels(picture), QString(),
            QStringLiteral("bench"), QPointF(i * width, 0));
        item->setId(i);
        item->setZValue(i);
        items.append(item);
    }
    const double gigapixels = double(count) * width * height / 1e9;

    std::vector<double> pauses;
    for (int run = 0; run < 7; ++run) {
        items.first()->setPos(items.first()->pos() + QPointF(10, 10));
        QElapsedTimer timer;
        timer.start();
        const SaveFileLoader::SceneState state = snapshot(items);
        pauses.push_back(timer.nsecsElapsed() / 1e6);
    }

    QTemporaryDir dir;
    AutoSaveFile::setFolderForTesting(dir.filePath(QStringLiteral("autosave")));
    SaveFileLoader loader;
    const double full = saveSeconds(loader, dir.filePath(QStringLiteral("board.vlk")), items);
    AutoSaveFile autoSave;
    if (!autoSave.create()) {
        std::fprintf(stderr, "%s\n", qPrintable(autoSave.error()));
        return 1;
    }
    const double first = saveSeconds(loader, autoSave.path(), items);

    std::printf("# %d pictures of %d x %d (%.2f Gpx): snapshot %.2f ms, full save %.2f s, "
                "first autosave %.2f s\n",
        count, width, height, gigapixels, median(pauses), full, first);
    std::printf("figure autosave_pause_ms_per_gpx %.3f\n", median(pauses) / gigapixels);
    std::printf("figure autosave_over_full_save %.3f\n", first / full);
    qDeleteAll(items);
    return 0;
}
