// Repaint cost of a board of large pictures shown small, with reduced levels against full
// pictures, and the memory the levels add.
//
//   bench_paint [items]     (default 200 pictures of 4000 x 3000 pixels)
//
// Figures: paint_levels_over_full = time of one full repaint drawing reduced levels (zoom
// quality 0, after the level jobs are done) / time drawing the full pictures (zoom quality 1);
// memory_over_pixels = peak resident memory of the process / bytes of the decoded pictures.

#include "benchmemory.h"

#include "commands/commandhandler.h"
#include "picture/picture.h"
#include "platform/platform.h"
#include "scene/graphicsimagegenerator.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGraphicsView>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int PictureWidth = 4000;
constexpr int PictureHeight = 3000;
constexpr qreal Zoom = 0.05;

// Median time of a few synchronous repaints of the whole viewport, in nanoseconds.
qint64 repaintTime(QGraphicsView &view, int rounds)
{
    QVector<qint64> times;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        view.viewport()->repaint();
        times.append(timer.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The heap as the program sets it up: freed picture-sized blocks go back to the system.
    Platform::returnFreedLargeBlocks();
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 200;
    // As the program runs it: one core stays with the interface.
    QThreadPool::globalInstance()->setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));

    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    scene.setCanvasColor(QColor(40, 40, 40));
    scene.setBorderColor(QColor(90, 90, 90));
    scene.setSelectionColor(QColor(200, 120, 0));

    const int columns = 14;
    QList<GraphicsImageItem *> items;
    for (int i = 0; i < count; ++i) {
        QImage picture(PictureWidth, PictureHeight, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv((i * 37) % 360, 160, 80 + (i * 13) % 150));
        const QPointF position(
            (i % columns) * (PictureWidth + 200), (i / columns) * (PictureHeight + 200));
        auto *item = new GraphicsImageItem(
            Picture::fromPixels(std::move(picture)), QString(), QString(), position);
        scene.addItem(item);
        items.append(item);
    }
    const double pictureBytes = double(count) * PictureWidth * PictureHeight * 4;

    QGraphicsView view(&scene);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int rows = (count + columns - 1) / columns;
    view.resize(int(columns * (PictureWidth + 200) * Zoom) + 20,
        int(rows * (PictureHeight + 200) * Zoom) + 20);
    view.setTransform(QTransform::fromScale(Zoom, Zoom));
    view.show();
    view.fitInView(scene.itemsBoundingRect(), Qt::KeepAspectRatio);
    view.setTransform(QTransform::fromScale(Zoom, Zoom));
    QCoreApplication::processEvents();

    scene.setZoomQuality(1);
    view.viewport()->repaint();
    const qint64 full = repaintTime(view, 5);

    scene.setZoomQuality(0);
    view.viewport()->repaint(); // starts the level jobs
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    const bool allDone = std::all_of(items.cbegin(), items.cend(), [](GraphicsImageItem *item) {
        return item->mipJobState() == GraphicsImageGenerator::Done;
    });
    if (!allDone)
        std::fprintf(stderr, "paint: not every item made its levels\n");
    view.viewport()->repaint(); // takes the levels over
    const qint64 levels = repaintTime(view, 5);
    const qint64 peak = peakResidentBytes();

    // What a repaint of this view costs without any item: canvas fill and backing store.
    for (GraphicsImageItem *item : qAsConst(items))
        item->setVisible(false);
    view.viewport()->repaint();
    const qint64 empty = repaintTime(view, 5);

    std::printf("info items %d, full repaint %.2f ms, with levels %.2f ms, without items %.2f ms, "
                "peak %.0f MiB, pictures %.0f MiB\n",
        count, full / 1e6, levels / 1e6, empty / 1e6, peak / 1048576.0, pictureBytes / 1048576.0);
    std::printf("figure paint_levels_over_full %.4f\n", double(levels) / double(full));
    std::printf("figure memory_over_pixels %.4f\n", double(peak) / pictureBytes);
    return allDone ? 0 : 1;
}
