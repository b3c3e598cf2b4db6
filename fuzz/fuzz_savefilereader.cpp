// libFuzzer target for the scene file reader: every input is loaded once normally and once with
// forced recovery, on the thread of an event loop that runs until the load has finished.
// See CMakeLists.txt in this folder for building and running it; "-make_corpus=DIR" writes a
// small seed corpus of scene files made by the writer.

#include "loading/loadjob.h"
#include "persistence/savefileloader.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QApplication>
#include <QTemporaryDir>

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

QApplication *application()
{
    static int argc = 1;
    static char name[] = "fuzz_savefilereader";
    static char *argv[] = { name, nullptr };
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return app;
}

void loadOnce(SaveFileLoader &loader, const QString &path, bool force)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    LoadJob job(&loader);
    QList<GraphicsItem *> items;
    QEventLoop loop;
    bool finished = false;
    QObject::connect(
        &job, &LoadJob::itemGenerated, &loop, [&items](GraphicsItem *item) { items.append(item); });
    QObject::connect(&job, &LoadJob::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    loader.load(&file, &job, force);
    if (!finished)
        loop.exec();
    for (GraphicsItem *item : qAsConst(items))
        delete item;
    // Deferred deletions of runners and readers happen before the file goes away.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void makeCorpus(const QString &directory)
{
    QDir().mkpath(directory);
    SaveFileLoader loader;
    QImage image(6, 5, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30, 180));
    const QPixmap pixmap = QPixmap::fromImage(image);
    auto *first = new GraphicsImageItem(
        new QPixmap(pixmap), QStringLiteral("/tmp/a.png"), QStringLiteral("a"), QPointF(1, 2));
    first->setId(0);
    auto *second
        = new GraphicsImageItem(new QPixmap(pixmap), QString(), QStringLiteral("b"), QPointF(3, 4));
    second->setId(1);
    auto *note = new GraphicsTextItem(QPointF(), QStringLiteral("note"), first);
    note->setId(2);
    const QList<QList<GraphicsItem *>> scenes = { {}, { first }, { first, second } };
    int n = 0;
    for (const QList<GraphicsItem *> &items : scenes) {
        QFile file(QDir(directory).filePath(QStringLiteral("scene%1.vlk").arg(n++)));
        file.open(QIODevice::ReadWrite | QIODevice::Truncate);
        SaveFileLoader::SceneState state;
        state.items = items;
        state.nextItemId = 3;
        state.sceneRect = QRectF(-100, -100, 200, 200);
        state.takeSnapshot();
        LoadJob job(&loader);
        loader.save(&file, QString(), state, &job);
    }
    delete first;
    delete second;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    application();
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp((*argv)[i], "-make_corpus=", 13) == 0) {
            makeCorpus(QString::fromLocal8Bit((*argv)[i] + 13));
            std::exit(0);
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir directory;
    static SaveFileLoader loader;
    const QString path = directory.filePath(QStringLiteral("input.vlk"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    loadOnce(loader, path, false);
    loadOnce(loader, path, true);
    return 0;
}
