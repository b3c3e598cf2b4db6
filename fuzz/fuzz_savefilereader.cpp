// libFuzzer target for the scene file reader: every input is loaded normally, once more with the
// load cancelled as soon as the reader starts (which leaves decoders running), and once with
// forced recovery, each on the thread of an event loop that runs until the load has finished.
// The same bytes are also read as the item records the clipboard carries.
// See CMakeLists.txt in this folder for building and running it; fuzz/seeds holds a board of
// every format version (fuzz/make_seeds.py), "-make_corpus=DIR" writes scenes made by the writer.

#include "fuzzcorpus.h"
#include "jobs/loadjob.h"
#include "persistence/itemrecordcodec.h"
#include "persistence/savefileloader.h"
#include "picture/picture.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// The reader hands over records and makes no pixmaps or items: no GUI is needed to read files.
QCoreApplication *application()
{
    static int argc = 1;
    static char name[] = "fuzz_savefilereader";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *app = [] { return new QCoreApplication(argc, argv); }();
    return app;
}

enum class Load { Normal, Cancelled, Forced };

void loadOnce(SaveFileLoader &loader, const QString &path, Load mode)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    LoadJob job(&loader);
    // Every reader announces its range of progress first: cancel there, as a user closing the
    // board at once would.
    if (mode == Load::Cancelled)
        QObject::connect(&job, &LoadJob::progressRangeChanged, &job, &LoadJob::cancel);
    // What the window would show of a board that lost items is worded from file data too.
    QObject::connect(&loader, &SaveFileLoader::itemsNotRead, &job,
        [](const LoadLosses &losses) { losses.message(); });
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &LoadJob::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    loader.load(&file, &job, mode == Load::Forced);
    if (!finished)
        loop.exec();
    // Deferred deletions of runners and readers happen before the file goes away.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void makeCorpus(const QString &directory)
{
    SaveFileLoader loader;
    QImage image(6, 5, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(10, 200, 30, 180));
    ItemRecord first;
    first.id = 0;
    first.pixelsOwnerId = 0;
    first.source = QStringLiteral("/tmp/a.png");
    first.name = QStringLiteral("a");
    first.transform = QTransform::fromTranslate(1, 2);
    first.image = image;
    ItemRecord note;
    note.type = ItemRecord::Type::Note;
    note.id = 2;
    note.text = QStringLiteral("note");
    note.transform = QTransform();
    note.textColor = QColor(Qt::black);
    note.backgroundColor = QColor(0, 0, 0, 51);
    first.children.append(note);
    // The second shows the first one's pixels: a shared block.
    ItemRecord second = first;
    second.id = 1;
    second.pixelsOwnerId = 0;
    second.source.clear();
    second.name = QStringLiteral("b");
    second.transform = QTransform::fromTranslate(3, 4);
    second.image = QImage();
    second.children.clear();
    // A picture kept as the JPEG file it came from makes a board of format "1.11", with the
    // picture's overview stored after its record's child count; the third shows its pixels.
    QImage photo(96, 64, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x * 9 % 256, y * 5 % 256, (x ^ y) * 3 % 256));
    QBuffer jpeg;
    jpeg.open(QIODevice::WriteOnly);
    photo.save(&jpeg, "jpeg", 60);
    ItemRecord kept = first;
    kept.id = 3;
    kept.pixelsOwnerId = 3;
    kept.source.clear();
    kept.image = QImage();
    kept.picture = Picture::fromJpegFile(jpeg.data());
    ItemRecord sharing = second;
    sharing.id = 4;
    sharing.pixelsOwnerId = 3;
    if (!kept.picture)
        std::abort();
    const QList<QList<ItemRecord>> scenes
        = { {}, { first }, { first, second }, { kept, sharing, first } };
    int n = 0;
    for (const QList<ItemRecord> &items : scenes) {
        QFile file(QDir(directory).filePath(QStringLiteral("scene%1.vlk").arg(n++)));
        file.open(QIODevice::ReadWrite | QIODevice::Truncate);
        SaveFileLoader::SceneState state;
        state.items = items;
        state.nextItemId = 5;
        state.sceneRect = QRectF(-100, -100, 200, 200);
        LoadJob job(&loader);
        loader.save(&file, QString(), state, &job);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    application();
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
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
    loadOnce(loader, path, Load::Normal);
    loadOnce(loader, path, Load::Cancelled);
    loadOnce(loader, path, Load::Forced);

    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QList<ItemRecord> records;
    ItemRecordCodec::read(&buffer, 3, &records);
    return 0;
}
