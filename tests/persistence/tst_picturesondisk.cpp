#include "../picture/gifwriting.h"
#include "../picture/picturetesting.h"
#include "boardbytes.h"
#include "export/imageexporter.h"
#include "jobs/loadjob.h"
#include "persistence/itemrecordcodec.h"
#include "persistence/savefileloader.h"
#include "picture/picture.h"
#include "picture/picturebudget.h"
#include "scene/animationplayer.h"
#include "scene/fullpictureloader.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/itembuilder.h"
#include "scene/scenesnapshot.h"

#include <QBuffer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

QImage photoLike(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 9 + seed * 40) % 256, y * 5 % 256, (x ^ y) * 3 % 256));
    }
    return image;
}

// One load or save, as the document runs them: reports arrive queued on the test's thread.
class Run : public QObject {
    Q_OBJECT

public:
    explicit Run(SaveFileLoader *loader)
        : job(new LoadJob(loader, this))
    {
        connect(loader, &BaseLoader::itemGenerated, this,
            [this](const ItemRecord &record, LoadJob *loadJob) {
                if (loadJob == job)
                    items.append(builder.build(record));
            });
        connect(loader, &BaseLoader::finished, this,
            [this](const QString &message, const QString &, LoadJob *loadJob) {
                if (loadJob == job) {
                    error = message;
                    done = true;
                }
            });
    }
    bool wait()
    {
        if (!done) {
            QEventLoop loop;
            QTimer timeout;
            connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
            timeout.start(20);
            for (int waited = 0; !done && waited < 60000; waited += 20)
                loop.exec();
        }
        return done && error.isEmpty();
    }

    LoadJob *job;
    ItemBuilder builder;
    QList<GraphicsItem *> items;
    QString error;
    bool done = false;
};

GraphicsItem *takeLowestId(QList<GraphicsItem *> *items)
{
    const auto lowest = std::min_element(items->begin(), items->end(),
        [](const GraphicsItem *a, const GraphicsItem *b) { return a->id() < b->id(); });
    GraphicsItem *item = *lowest;
    items->erase(lowest);
    return item;
}

} // namespace

class tst_PicturesOnDisk : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void sameResultsWithoutMemory_data();
    void sameResultsWithoutMemory();
    void requestsWhileSavedAndClosed();
    void overviewsKeptWithTheirBlocks();
    void savedBesideAndRenamedOver();

private:
    // A board of pictures (JPEG originals and plain pixels) saved at path, and the pixels each
    // id shows.
    QHash<int, QImage> makeBoard(const QString &path, int storage);
    std::unique_ptr<Run> load(const QString &path, bool onDisk);
    bool save(const QString &path, const QList<GraphicsItem *> &items, const QString &checksum,
        const QString &replacing = QString());
    QHash<int, QImage> pixelsById(const QList<GraphicsItem *> &items);

    QThread m_thread;
    SaveFileLoader *m_loader = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;
    GraphicsScene *m_scene = nullptr;
    QString m_checksum;
};

void tst_PicturesOnDisk::initTestCase()
{
    m_loader = new SaveFileLoader;
    m_loader->moveToThread(&m_thread);
    m_thread.start();
    connect(m_loader, &SaveFileLoader::checksumSaved, this,
        [this](const QString &checksum) { m_checksum = checksum; });
}

void tst_PicturesOnDisk::cleanupTestCase()
{
    QMetaObject::invokeMethod(
        m_loader, [this] { delete m_loader; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void tst_PicturesOnDisk::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_scene = new GraphicsScene(nullptr, nullptr);
}

void tst_PicturesOnDisk::cleanup()
{
    delete m_scene;
    m_dir->setAutoRemove(!QTest::currentTestFailed());
}

QHash<int, QImage> tst_PicturesOnDisk::pixelsById(const QList<GraphicsItem *> &items)
{
    QHash<int, QImage> pixels;
    for (GraphicsItem *item : items) {
        if (auto *image = dynamic_cast<GraphicsImageItem *>(item))
            pixels.insert(image->id(), image->pixels());
    }
    return pixels;
}

bool tst_PicturesOnDisk::save(const QString &path, const QList<GraphicsItem *> &items,
    const QString &checksum, const QString &replacing)
{
    Run run(m_loader);
    SceneState state;
    state.items = SceneSnapshot::take(items);
    state.replacesPath = replacing;
    state.nextItemId = 100;
    state.sceneRect = QRectF(-500, -500, 3000, 1000);
    LoadJob *job = run.job;
    QMetaObject::invokeMethod(m_loader, "saveTo", Qt::QueuedConnection, Q_ARG(QString, path),
        Q_ARG(QString, checksum), Q_ARG(SaveFileLoader::SceneState, state), Q_ARG(LoadJob *, job),
        Q_ARG(int, 0));
    return run.wait();
}

std::unique_ptr<Run> tst_PicturesOnDisk::load(const QString &path, bool onDisk)
{
    auto run = std::make_unique<Run>(m_loader);
    LoadJob *job = run->job;
    QMetaObject::invokeMethod(m_loader, "loadFrom", Qt::QueuedConnection, Q_ARG(QString, path),
        Q_ARG(LoadJob *, job), Q_ARG(int, onDisk ? int(SaveFileLoader::KeepBlocksOnDisk) : 0));
    run->wait();
    return run;
}

QHash<int, QImage> tst_PicturesOnDisk::makeBoard(const QString &path, int storage)
{
    QMetaObject::invokeMethod(
        m_loader, [this, storage] { m_loader->setPictureStorage(storage); },
        Qt::BlockingQueuedConnection);
    QList<GraphicsItem *> items;
    for (int i = 0; i < 5; ++i) {
        const QImage pixels = photoLike(90 + 7 * i, 60 + 3 * i, i);
        std::shared_ptr<Picture> picture;
        QByteArray original;
        if (i % 2 == 0) {
            original = encoded(pixels, "jpeg");
            QImage decoded
                = QImage::fromData(original, "jpeg").convertToFormat(QImage::Format_RGB32);
            picture = Picture::fromPixels(decoded, PictureSource::fromBytes(original));
        } else {
            picture = Picture::fromPixels(pixels);
        }
        auto *item
            = new GraphicsImageItem(picture, QString(), QString::number(i), QPointF(i * 200, 0));
        item->setOriginal(original);
        item->setId(i);
        item->setZValue(i);
        items.append(item);
    }
    // An animation stopped on its third frame.
    const QImage still = fewColours(40, 30);
    const QByteArray gif
        = gifOf({ still, still.mirrored(true, false), still.mirrored(false, true) });
    auto *animation = new GraphicsImageItem(
        Picture::fromPixels(QImage::fromData(gif, "gif").convertToFormat(QImage::Format_RGB32),
            PictureSource::fromBytes(gif)),
        QString(), QStringLiteral("animation"), QPointF(0, 300));
    animation->setOriginal(gif);
    animation->setPlayback(ItemRecord::Playback { 2, 0.5, false, true });
    animation->setId(6);
    animation->setZValue(6);
    items.prepend(animation);
    // The last two show one picture.
    auto *copy = new GraphicsImageItem(static_cast<GraphicsImageItem *>(items.last())->picture(),
        QString(), QStringLiteral("copy"), QPointF(1200, 0));
    copy->setId(5);
    copy->setZValue(5);
    items.append(copy);
    save(path, items, QString());
    const QHash<int, QImage> pixels = pixelsById(items);
    qDeleteAll(items);
    return pixels;
}

void tst_PicturesOnDisk::sameResultsWithoutMemory_data()
{
    QTest::addColumn<int>("storage");
    QTest::addRow("pictures as PNG") << int(SaveFileLoader::PngOnly);
    QTest::addRow("original files") << int(SaveFileLoader::OriginalFiles);
}

// A board whose pictures may not stay in memory at all exports, copies and saves exactly the
// pixels it does with all of them in memory, also while its blocks move in a save in place.
void tst_PicturesOnDisk::sameResultsWithoutMemory()
{
    QFETCH(int, storage);
    const QString path = m_dir->filePath(QStringLiteral("board.vlk"));
    const QHash<int, QImage> expected = makeBoard(path, storage);

    auto inMemory = load(path, false);
    GraphicsScene memoryScene(nullptr, nullptr);
    for (GraphicsItem *item : qAsConst(inMemory->items))
        memoryScene.addItem(item);

    BudgetLimit nothing(0);
    auto onDisk = load(path, true);
    QVERIFY(onDisk->error.isEmpty());
    QCOMPARE(onDisk->items.size(), expected.size());
    for (GraphicsItem *item : qAsConst(onDisk->items)) {
        m_scene->addItem(item);
        QVERIFY(!static_cast<GraphicsImageItem *>(item)->hasFullPixels());
    }
    QCOMPARE(pixelsById(onDisk->items), pixelsById(inMemory->items));
    if (storage == SaveFileLoader::PngOnly)
        QCOMPARE(pixelsById(onDisk->items), expected);

    // The animation plays from the board's block as from memory; stored as PNG, it is its
    // first frame alone.
    const auto animationOf = [](const QList<GraphicsItem *> &items) -> AnimationPlayer * {
        for (GraphicsItem *item : items) {
            if (item->id() == 6)
                return static_cast<GraphicsImageItem *>(item)->animation();
        }
        return nullptr;
    };
    for (const auto &loaded : { inMemory.get(), onDisk.get() }) {
        AnimationPlayer *player = animationOf(loaded->items);
        QCOMPARE(bool(player), storage == SaveFileLoader::OriginalFiles);
        if (player) {
            QCOMPARE(player->playback(), (ItemRecord::Playback { 2, 0.5, false, true }));
            QTRY_VERIFY(player->isIdle() && player->showsCurrentFrame());
        }
    }

    const QSize size(600, 200);
    QCOMPARE(ImageExporter::renderScene(m_scene, size, true, false),
        ImageExporter::renderScene(&memoryScene, size, true, false));
    const QList<ItemRecord> copied = SceneSnapshot::takeSelection(onDisk->items);
    for (const ItemRecord &record : copied)
        QCOMPARE(record.picture->pixels(), expected.value(record.id));

    // Elsewhere, then in place after the first picture went: every later block moves.
    const QString other = m_dir->filePath(QStringLiteral("other.vlk"));
    QVERIFY(save(other, onDisk->items, QString()));
    QCOMPARE(pixelsById(load(other, false)->items), pixelsById(inMemory->items));

    QVERIFY(save(path, onDisk->items, QString()));
    const QString checksum = m_checksum;
    // The lowest id: the block of every other picture moves.
    GraphicsItem *first = takeLowestId(&onDisk->items);
    m_scene->removeItem(first);
    QVERIFY(save(path, onDisk->items, checksum));
    QHash<int, QImage> remaining = pixelsById(inMemory->items);
    remaining.remove(first->id());
    QCOMPARE(pixelsById(onDisk->items), remaining);
    QCOMPARE(pixelsById(load(path, false)->items), remaining);
    // The picture taken off the board still shows, as undoing its deletion would show it.
    QCOMPARE(static_cast<GraphicsImageItem *>(first)->pixels(),
        pixelsById(inMemory->items).value(first->id()));
    delete first;
}

// Full pixels asked for while the board is saved in place (its blocks moving) and after its
// items are gone: no crash, and what arrives is the right picture.
void tst_PicturesOnDisk::requestsWhileSavedAndClosed()
{
    const QString path = m_dir->filePath(QStringLiteral("board.vlk"));
    makeBoard(path, SaveFileLoader::PngOnly);
    auto reference = load(path, false);
    const QHash<int, QImage> expected = pixelsById(reference->items);

    BudgetLimit nothing(0);
    auto onDisk = load(path, true);
    for (GraphicsItem *item : qAsConst(onDisk->items))
        m_scene->addItem(item);
    QVERIFY(save(path, onDisk->items, QString()));
    const QString checksum = m_checksum;

    GraphicsItem *first = takeLowestId(&onDisk->items);
    m_scene->removeItem(first);
    delete first;
    FullPictureLoader *loader = m_scene->fullPictureLoader();
    for (GraphicsItem *item : qAsConst(onDisk->items))
        loader->request(static_cast<GraphicsImageItem *>(item)->picture());
    QVERIFY(save(path, onDisk->items, checksum));
    QTRY_COMPARE(loader->pendingCount(), 0);
    for (GraphicsItem *item : qAsConst(onDisk->items)) {
        auto *image = static_cast<GraphicsImageItem *>(item);
        const QImage full = image->picture()->full();
        QVERIFY(full.isNull() || full == expected.value(image->id()));
        QCOMPARE(image->pixels(), expected.value(image->id()));
    }

    // Closed while its pictures are asked for.
    for (GraphicsItem *item : qAsConst(onDisk->items)) {
        static_cast<GraphicsImageItem *>(item)->picture()->dropFull();
        loader->request(static_cast<GraphicsImageItem *>(item)->picture());
    }
    for (GraphicsItem *item : qAsConst(onDisk->items)) {
        m_scene->removeItem(item);
        delete item;
    }
    onDisk->items.clear();
    QTRY_COMPARE(loader->pendingCount(), 0);
}

// A saved board keeps the smallest level of each picture stored as a JPEG, bound to its block,
// and opening it shows that level without decoding the block; saved again in place, the board
// keeps the same levels.
void tst_PicturesOnDisk::overviewsKeptWithTheirBlocks()
{
    const QString path = m_dir->filePath(QStringLiteral("board.vlk"));
    makeBoard(path, SaveFileLoader::OriginalFiles);
    const auto storedOverviews = [&path] {
        const QByteArray bytes = readAll(path);
        const QList<IndexEntry> index = indexOf(bytes);
        qint64 recordsStart = 0;
        QHash<int, quint32> blockChecksums;
        for (const IndexEntry &entry : index) {
            recordsStart = std::max(recordsStart, entry.end);
            blockChecksums.insert(entry.id,
                PictureSource::checksumOf(
                    reinterpret_cast<const uchar *>(bytes.constData()) + entry.start,
                    entry.end - entry.start));
        }
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        buffer.seek(recordsStart);
        QList<ItemRecord> records;
        QHash<int, QByteArray> overviews;
        if (!ItemRecordCodec::read(&buffer, headerOf(bytes).items, &records))
            return overviews;
        for (const ItemRecord &record : qAsConst(records)) {
            if (!record.overview.isEmpty()
                && record.overviewChecksum == blockChecksums.value(record.id))
                overviews.insert(record.id, record.overview);
        }
        return overviews;
    };
    // The JPEG originals and the PNG blocks of pasted pixels, and not the copy that shares the
    // last one's block.
    const QHash<int, QByteArray> stored = storedOverviews();
    QCOMPARE(QSet<int>(stored.keyBegin(), stored.keyEnd()), (QSet<int> { 0, 1, 2, 3, 4 }));

    BudgetLimit nothing(0);
    auto opened = load(path, true);
    QVERIFY(opened->error.isEmpty());
    for (GraphicsItem *item : qAsConst(opened->items)) {
        const std::shared_ptr<Picture> picture = static_cast<GraphicsImageItem *>(item)->picture();
        m_scene->addItem(item);
        QVERIFY(picture->hasOverview());
        if (!stored.contains(item->id()))
            continue;
        QImage level;
        QVERIFY(level.loadFromData(stored.value(item->id()), "jpeg"));
        QVERIFY(sameBytes(
            picture->overview().constLast(), level.convertToFormat(QImage::Format_RGB32)));
        QVERIFY(!picture->hasFull());
    }
    QVERIFY(save(path, opened->items, m_checksum));
    QCOMPARE(storedOverviews(), stored);
}

// A script's save writes the board beside itself and renames it over the old one once whole:
// pictures that decode from the old board must not read the new one's bytes under its name.
void tst_PicturesOnDisk::savedBesideAndRenamedOver()
{
    const QString path = m_dir->filePath(QStringLiteral("board.vlk"));
    makeBoard(path, SaveFileLoader::OriginalFiles);
    auto opened = load(path, true);
    QVERIFY(opened->error.isEmpty());
    for (GraphicsItem *item : qAsConst(opened->items))
        m_scene->addItem(item);
    const QHash<int, QImage> before = pixelsById(opened->items);
    // Without the first picture every later block lies elsewhere in the new board.
    GraphicsItem *first = takeLowestId(&opened->items);
    m_scene->removeItem(first);
    const QString beside = m_dir->filePath(QStringLiteral("board.vlk.part"));
    QVERIFY(save(beside, opened->items, QString(), path));
    QVERIFY(QFile::remove(path) && QFile::rename(beside, path));

    BudgetLimit nothing(0);
    m_scene->trimPictures();
    QHash<int, QImage> expected = before;
    QCOMPARE(static_cast<GraphicsImageItem *>(first)->pixels(), expected.take(first->id()));
    QCOMPARE(pixelsById(opened->items), expected);
    QCOMPARE(pixelsById(load(path, false)->items), expected);
    delete first;
}

QTEST_MAIN(tst_PicturesOnDisk)
#include "tst_picturesondisk.moc"
