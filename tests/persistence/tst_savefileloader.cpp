#include "../loading/httptestserver.h"
#include "../picture/gifwriting.h"
#include "boardbytes.h"
#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "persistence/itemrecordcodec.h"
#include "persistence/savefileformat.h"
#include "persistence/savefileloader.h"
#include "picture/picture.h"
#include "scene/animationplayer.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"
#include "scene/itembuilder.h"
#include "scene/scenesnapshot.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QPolygonF>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace {

// Gathers what the loader reports on its thread; lives on the test thread, so every signal
// arrives queued and in order.
class Collector : public QObject {
    Q_OBJECT

public:
    explicit Collector(SaveFileLoader *loader)
        : job(new LoadJob(loader, this))
    {
        // Items are built as the window builds them: one builder a job.
        connect(loader, &BaseLoader::itemGenerated, this,
            [this](const ItemRecord &record, LoadJob *loadJob) {
                if (loadJob == job)
                    items.append(builder.build(record));
            });
        connect(loader, &BaseLoader::progressMessage, this,
            [this](const QString &message, LoadJob *loadJob) {
                if (loadJob == job)
                    progressMessages.append(message);
            });
        connect(loader, &BaseLoader::finished, this,
            [this](const QString &message, const QString &detail, LoadJob *loadJob) {
                if (loadJob != job)
                    return;
                messages.append(message);
                details = detail;
                emit done();
            });
        connect(loader, &SaveFileLoader::checksumSaved, this,
            [this](const QString &checksum, LoadJob *loadJob) {
                if (loadJob == job)
                    savedChecksum = checksum;
            });
        connect(loader, &SaveFileLoader::checksumLoaded, this,
            [this](const QString &, const QString &actual, LoadJob *loadJob) {
                if (loadJob == job)
                    loadedChecksums.append(actual);
            });
        connect(loader, &SaveFileLoader::checksumMissmatchDetected, this,
            [this](LoadJob *loadJob) { mismatches += loadJob == job; });
        connect(loader, &SaveFileLoader::brokenItemMetadataDetected, this,
            [this](LoadJob *loadJob) { broken += loadJob == job; });
        connect(loader, &SaveFileLoader::loadedSceneState, this,
            [this](const SaveFileLoader::SceneState &state, LoadJob *loadJob) {
                if (loadJob == job)
                    states.append(state);
            });
        connect(loader, &SaveFileLoader::foundItemWithMissingImage, this,
            [this](
                const ItemRecord &, const ImageLoader::LoadImageResult &reason, LoadJob *loadJob) {
                if (loadJob == job)
                    missingCodes.append(reason.code);
            });
        connect(loader, &SaveFileLoader::itemsNotRead, this,
            [this](const LoadLosses &losses, LoadJob *loadJob) {
                if (loadJob == job)
                    lost.append(losses.message());
            });
    }
    ~Collector() override
    {
        for (GraphicsItem *item : qAsConst(items))
            delete item;
    }

    bool wait()
    {
        if (messages.isEmpty()) {
            QEventLoop loop;
            connect(this, &Collector::done, &loop, &QEventLoop::quit);
            QTimer::singleShot(60000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return messages.size() == 1;
    }

    // Only this job's reports count: an earlier load may still be winding down.
    LoadJob *job;
    ItemBuilder builder;
    QList<GraphicsItem *> items;
    QStringList messages;
    QString details;
    QStringList progressMessages;
    QString savedChecksum;
    QStringList loadedChecksums;
    int mismatches = 0;
    int broken = 0;
    QList<SaveFileLoader::SceneState> states;
    QList<int> missingCodes;
    QStringList lost;

signals:
    void done();
};

QPixmap picture(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                qRgba((colour.red() + x * 7) % 256, (colour.green() + y * 13) % 256, colour.blue(),
                    255));
    return QPixmap::fromImage(image);
}

GraphicsImageItem *imageItem(const QPixmap &pixmap, int id, double z, const QString &source = {})
{
    auto *item = new GraphicsImageItem(Picture::fromPixels(pixmap.toImage()), source,
        QStringLiteral("image %1").arg(id), QPointF(id * 10, 5));
    item->setId(id);
    item->setZValue(z);
    return item;
}

GraphicsTextItem *note(const QString &text, int id, double z, QGraphicsItem *parent = nullptr)
{
    auto *item = new GraphicsTextItem(QPointF(3, 4), text, parent);
    item->setId(id);
    item->setZValue(z);
    item->setTextColor(Qt::red);
    return item;
}

QString md5Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    writer.write(image);
    return bytes;
}

QImage photoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 9 % 256, y * 5 % 256, (x ^ y) * 3 % 256));
    return image;
}

// A JPEG that tells readers to turn it a quarter clockwise, as cameras write them.
QByteArray orientedJpeg(const QImage &image)
{
    const QByteArray jpeg = encoded(image, "jpeg");
    QByteArray exif("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01"
                    "\x01\x12\0\x03\0\0\0\x01\0\x06\0\0"
                    "\0\0\0\0",
        32);
    QByteArray segment("\xff\xe1\0\0", 4);
    qToBigEndian(quint16(exif.size() + 2), segment.data() + 2);
    return jpeg.left(2) + segment + exif + jpeg.mid(2);
}

// An uncompressed true-colour TGA, bottom row first: a format only the decoder helpers read.
QByteArray tga(const QImage &image)
{
    QByteArray bytes(18, '\0');
    bytes[2] = 2;
    qToLittleEndian(quint16(image.width()), bytes.data() + 12);
    qToLittleEndian(quint16(image.height()), bytes.data() + 14);
    bytes[16] = 24;
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            bytes += char(qBlue(pixel));
            bytes += char(qGreen(pixel));
            bytes += char(qRed(pixel));
        }
    }
    return bytes;
}

} // namespace

class tst_SaveFileLoader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void emptySceneLayout();
    void smallSceneLayout();
    void roundTrip();
    void compressionLevels_data();
    void compressionLevels();
    void saveTwiceIsIdenticalWithoutEncoding();
    void incrementalAfterDeletingSharedOwner();
    void incrementalEmbedsFormerLink();
    void shrinkingSaves_data();
    void shrinkingSaves();
    void linkedImages_data();
    void linkedImages();
    void imageWithoutPixelsRoundTrips();
    void checksumMismatch();
    void refusedSaves_data();
    void refusedSaves();
    void pausedSave_data();
    void pausedSave();
    void formatComparison_data();
    void formatComparison();
    void loadMessages_data();
    void loadMessages();
    void oldFormats_data();
    void oldFormats();
    void everyTruncationLoadsSafely();
    void damagedBoards_data();
    void damagedBoards();
    void fullRewriteMessages_data();
    void fullRewriteMessages();
    void selectedOnlyRecords();
    void cancelledLoadKeepsOthersPoolWork();
    void originalPictures_data();
    void originalPictures();
    void incrementalSaveAppendsOriginal();
    void savedForOlderReaders_data();
    void savedForOlderReaders();
    void originalBlocksRecoverAndDamageIsContained();

private:
    std::unique_ptr<Collector> save(const QString &path, const QList<GraphicsItem *> &items,
        const QString &oldChecksum = QString(), int nextItemId = 100,
        std::optional<QList<ItemRecord>> records = std::nullopt);
    std::unique_ptr<Collector> load(const QString &path, bool force = false);
    QByteArray freshSave(const QList<GraphicsItem *> &items);
    QList<GraphicsItem *> smallScene();
    template<typename F> void onLoaderThread(F f)
    {
        QMetaObject::invokeMethod(m_loader, f, Qt::BlockingQueuedConnection);
    }
    void setEmbedLocalFiles(bool embed)
    {
        onLoaderThread([this, embed] { m_loader->setEmbedLocalFiles(embed); });
    }
    void setPictureStorage(int storage)
    {
        onLoaderThread([this, storage] { m_loader->setPictureStorage(storage); });
    }
    // The item the intake makes of the source, keeping originals, owned by m_items.
    GraphicsImageItem *intake(const ImageLoader::Source &source, const QSize &downscaleLimit = {});

    QThread m_thread;
    SaveFileLoader *m_loader = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;
    QList<GraphicsItem *> m_items;
    // Whether save() writes its board for older readers.
    bool m_forOlderReaders = false;
};

void tst_SaveFileLoader::initTestCase()
{
    m_loader = new SaveFileLoader;
    m_loader->moveToThread(&m_thread);
    m_thread.start();
}

void tst_SaveFileLoader::cleanupTestCase()
{
    onLoaderThread([this] { delete m_loader; });
    m_thread.quit();
    m_thread.wait();
}

void tst_SaveFileLoader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    setEmbedLocalFiles(true);
    setPictureStorage(SaveFileLoader::OriginalFiles);
    m_forOlderReaders = false;
}

void tst_SaveFileLoader::cleanup()
{
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    for (GraphicsItem *item : qAsConst(m_items))
        delete item;
    m_items.clear();
}

std::unique_ptr<Collector> tst_SaveFileLoader::save(const QString &path,
    const QList<GraphicsItem *> &items, const QString &oldChecksum, int nextItemId,
    std::optional<QList<ItemRecord>> records)
{
    auto collector = std::make_unique<Collector>(m_loader);
    auto file = std::make_shared<QFile>(path);
    file->open(QIODevice::ReadWrite);
    SaveFileLoader::SceneState state;
    state.items = records ? *records : SceneSnapshot::take(items);
    state.nextItemId = nextItemId;
    state.sceneRect = QRectF(-500, -400, 1000, 800);
    state.viewTransform = QTransform::fromScale(2, 2);
    state.horizontalScroll = 3;
    state.verticalScroll = -4;
    state.forOlderReaders = m_forOlderReaders;
    LoadJob *job = collector->job;
    QMetaObject::invokeMethod(
        m_loader,
        [this, file, oldChecksum, state, job] {
            m_loader->save(file.get(), oldChecksum, state, job);
        },
        Qt::QueuedConnection);
    collector->wait();
    // The writer hashes what it writes as it goes: whatever the save did, full or incremental,
    // blocks moved or kept, the stored checksum must be that of the file's bytes.
    if (!collector->savedChecksum.isEmpty()
        && collector->savedChecksum != md5Hex(readAll(path).mid(108))) {
        QTest::qFail("the saved checksum is the file's", __FILE__, __LINE__);
    }
    return collector;
}

std::unique_ptr<Collector> tst_SaveFileLoader::load(const QString &path, bool force)
{
    auto collector = std::make_unique<Collector>(m_loader);
    auto *file = new QFile(path, collector.get());
    file->open(QIODevice::ReadOnly);
    LoadJob *job = collector->job;
    QMetaObject::invokeMethod(
        m_loader, [this, file, job, force] { m_loader->load(file, job, force); },
        Qt::QueuedConnection);
    collector->wait();
    return collector;
}

// What a full save of the items writes: the yardstick for every incremental save.
QByteArray tst_SaveFileLoader::freshSave(const QList<GraphicsItem *> &items)
{
    const QString fresh = m_dir->filePath(QStringLiteral("fresh.vlk"));
    QFile::remove(fresh);
    save(fresh, items);
    return readAll(fresh);
}

// Two images showing one pixmap, a third with a note attached, and a free note.
QList<GraphicsItem *> tst_SaveFileLoader::smallScene()
{
    const QPixmap shared = picture(4, 3, Qt::blue);
    auto *first = imageItem(shared, 0, 5.0, QStringLiteral("/nowhere/first.png"));
    auto *second = imageItem(shared, 1, 6.0);
    auto *third = imageItem(picture(3, 4, Qt::green), 2, 7.0);
    note(QStringLiteral("attached"), 4, 9.0, third);
    auto *free = note(QStringLiteral("free"), 3, 8.0);
    m_items = { free, third, first, second };
    return m_items;
}

void tst_SaveFileLoader::emptySceneLayout()
{
    const QString path = m_dir->filePath(QStringLiteral("empty.vlk"));
    auto saved = save(path, {}, QString(), 7);
    QCOMPARE(saved->messages, QStringList { QString() });

    const QByteArray bytes = readAll(path);
    QCOMPARE(bytes.left(24).toHex(),
        QByteArray("000000080031002e00310030"
                   "0000"
                   "0000")
            + QByteArray::number(bytes.size(), 16).rightJustified(16, '0'));
    const Header header = headerOf(bytes);
    QCOMPARE(header.application, QStringLiteral("1.11.1"));
    QCOMPARE(header.checksum, md5Hex(bytes.mid(108)));
    QCOMPARE(saved->savedChecksum, header.checksum);
    // The application version and checksum fill the header up to 108, the scene state up to 224.
    QDataStream in(bytes);
    in.skipRawData(108);
    qint32 nextId = 0;
    QRectF rect;
    QTransform view;
    qint32 horizontal = 0;
    qint32 vertical = 0;
    QString directory;
    in >> nextId >> rect >> view >> horizontal >> vertical;
    QCOMPARE(in.device()->pos(), qint64(224));
    in >> directory;
    QCOMPARE(nextId, 7);
    QCOMPARE(rect, QRectF(-500, -400, 1000, 800));
    QCOMPARE(view, QTransform::fromScale(2, 2));
    QCOMPARE(horizontal, 3);
    QCOMPARE(vertical, -4);
    QCOMPARE(directory, QFileInfo(path).absolutePath());
    QVERIFY(in.atEnd());
}

void tst_SaveFileLoader::smallSceneLayout()
{
    const QString path = m_dir->filePath(QStringLiteral("small.vlk"));
    auto saved = save(path, smallScene());
    QCOMPARE(saved->messages, QStringList { QString() });
    const QByteArray bytes = readAll(path);

    const Header header = headerOf(bytes);
    const qint64 indexOffset = header.indexOffset;
    QCOMPARE(header.items, qint16(4));
    QCOMPARE(header.images, qint16(3));
    QCOMPARE(header.checksum, md5Hex(bytes.mid(108)));
    QCOMPARE(indexOffset + qint64(3) * 20, qint64(bytes.size()));

    const QList<IndexEntry> index = indexOf(bytes);
    QCOMPARE(index.size(), 3);
    QCOMPARE(index.at(0).id, 0);
    QCOMPARE(index.at(0).start, qint64(224));
    QVERIFY(bytes.mid(224, 8) == QByteArray("\x89PNG\r\n\x1a\n"));
    QCOMPARE(index.at(1).id, 1);
    QCOMPARE(index.at(1).start, index.at(0).end);
    // The second image shows the first one's pixmap: a block naming its owner.
    QCOMPARE(bytes.mid(index.at(1).start, 4).toHex(), QByteArray("00000000"));
    QCOMPARE(index.at(1).end - index.at(1).start, qint64(4));
    QCOMPARE(index.at(2).id, 2);
    QImage decoded = QImage::fromData(
        bytes.mid(int(index.at(2).start), int(index.at(2).end - index.at(2).start)), "png");
    QCOMPARE(decoded.size(), QSize(3, 4));

    // Records: ascending id, children after their parent, each end offset where the next begins.
    QDataStream in(bytes);
    in.device()->seek(index.at(2).end);
    QStringList order;
    QList<double> depths;
    for (int i = 0; i < 5; ++i) {
        qint64 end = 0;
        QString type, text, name;
        float opacity;
        QTransform transform;
        qint32 id;
        double z;
        in >> end >> type >> text;
        QVERIFY(end <= indexOffset);
        const bool image = type == QLatin1String("GraphicsImageItem");
        if (image) // text is the source
            in >> name >> opacity;
        in >> transform >> id >> z;
        order.append(image ? QString::number(id) : text);
        depths.append(z);
        in.device()->seek(end);
    }
    QCOMPARE(order, (QStringList { "0", "1", "2", "attached", "free" }));
    QCOMPARE(depths, (QList<double> { 0.0, 1.0, 2.0, 4.0, 3.0 }));
    QString directory;
    in >> directory;
    QCOMPARE(directory, QFileInfo(path).absolutePath());
    QCOMPARE(in.device()->pos(), indexOffset);
}

void tst_SaveFileLoader::roundTrip()
{
    const QString path = m_dir->filePath(QStringLiteral("round.vlk"));
    save(path, smallScene(), QString(), 1);
    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { QString() });
    QCOMPARE(loaded->mismatches, 0);
    QCOMPARE(loaded->items.size(), 4);
    // A stored counter below the loaded ids would hand out id 1 again.
    QCOMPARE(loaded->states.size(), 1);
    QCOMPARE(loaded->states.at(0).nextItemId, 5);
    QCOMPARE(loaded->states.at(0).sceneRect, QRectF(-500, -400, 1000, 800));

    QHash<int, GraphicsItem *> byId;
    for (GraphicsItem *item : qAsConst(loaded->items))
        byId.insert(item->id(), item);
    auto *first = dynamic_cast<GraphicsImageItem *>(byId.value(0));
    auto *second = dynamic_cast<GraphicsImageItem *>(byId.value(1));
    auto *third = dynamic_cast<GraphicsImageItem *>(byId.value(2));
    QVERIFY(first && second && third);
    QVERIFY(first->picture() && second->picture());
    QCOMPARE(second->picture().get(), first->picture().get());
    QCOMPARE(second->source(), QStringLiteral("/nowhere/first.png"));
    QCOMPARE(first->pixels(), picture(4, 3, Qt::blue).toImage());
    QCOMPARE(first->transform(), m_items.at(2)->transform());
    QCOMPARE(third->childGraphicsItems().size(), 1);
    QCOMPARE(third->childGraphicsItems().at(0)->text(), QStringLiteral("attached"));
    QCOMPARE(byId.value(3)->text(), QStringLiteral("free"));
    QCOMPARE(static_cast<GraphicsTextItem *>(byId.value(3))->textColor(), QColor(Qt::red));
}

void tst_SaveFileLoader::compressionLevels_data()
{
    QTest::addColumn<int>("compression");
    QTest::addRow("fastest") << 0;
    QTest::addRow("balanced") << 1;
    QTest::addRow("smallest") << 2;
}

void tst_SaveFileLoader::compressionLevels()
{
    QFETCH(int, compression);
    QImage noisy(97, 61, QImage::Format_RGB32);
    QImage translucent(33, 20, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noisy.height(); ++y)
        for (int x = 0; x < noisy.width(); ++x)
            noisy.setPixel(x, y, qRgb(x * 2, y * 4, int(random.bounded(256))));
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, qRgba(x * 7, 90, y * 12, (x * 13 + y * 5) % 256));
    const QPixmap first = QPixmap::fromImage(noisy);
    const QPixmap second = QPixmap::fromImage(translucent);
    m_items = { imageItem(first, 0, 0.0), imageItem(second, 1, 1.0) };

    onLoaderThread([this, compression] { m_loader->setSaveCompression(compression); });
    const QString path = m_dir->filePath(QStringLiteral("level%1.vlk").arg(compression));
    save(path, m_items, QString(), 2);
    onLoaderThread([this] { m_loader->setSaveCompression(1); });

    // Every level reads back to the same pixels.
    auto loaded = load(path);
    QCOMPARE(loaded->items.size(), 2);
    QHash<int, GraphicsImageItem *> byId;
    for (GraphicsItem *item : qAsConst(loaded->items))
        byId.insert(item->id(), dynamic_cast<GraphicsImageItem *>(item));
    QCOMPARE(byId.value(0)->pixels().convertToFormat(QImage::Format_RGB32), noisy);
    QCOMPARE(byId.value(1)->pixels().convertToFormat(QImage::Format_ARGB32),
        second.toImage().convertToFormat(QImage::Format_ARGB32));
}

void tst_SaveFileLoader::saveTwiceIsIdenticalWithoutEncoding()
{
    const QString path = m_dir->filePath(QStringLiteral("twice.vlk"));
    const QList<GraphicsItem *> items = smallScene();
    auto first = save(path, items);
    const QByteArray before = readAll(path);

    // Without any pixels to encode, any block the writer did encode would come out different.
    QList<ItemRecord> stripped = SceneSnapshot::take(items);
    const std::function<void(QList<ItemRecord> &)> strip = [&strip](QList<ItemRecord> &records) {
        for (ItemRecord &record : records) {
            record.image = QImage();
            strip(record.children);
        }
    };
    strip(stripped);
    auto second = save(path, items, first->savedChecksum, 100, stripped);
    QCOMPARE(second->messages, QStringList { QString() });
    QCOMPARE(second->progressMessages, QStringList());
    QCOMPARE(readAll(path), before);
    QCOMPARE(second->savedChecksum, first->savedChecksum);
}

void tst_SaveFileLoader::incrementalAfterDeletingSharedOwner()
{
    const QString path = m_dir->filePath(QStringLiteral("incremental.vlk"));
    QList<GraphicsItem *> items = smallScene();
    auto first = save(path, items);

    GraphicsItem *owner = items.takeAt(2);
    QCOMPARE(owner->id(), 0);
    auto second = save(path, items, first->savedChecksum);
    QCOMPARE(second->messages, QStringList { QString() });
    delete owner;
    m_items = items;

    const QByteArray bytes = readAll(path);
    const QList<IndexEntry> index = indexOf(bytes);
    QCOMPARE(index.size(), 2);
    QCOMPARE(index.at(0).id, 1);
    QCOMPARE(index.at(0).start, qint64(224));
    QVERIFY(bytes.mid(224, 8) == QByteArray("\x89PNG\r\n\x1a\n"));
    for (const IndexEntry &entry : index)
        QVERIFY(entry.end - entry.start != 4);

    // The same bytes as a full save of what is left.
    QCOMPARE(bytes, freshSave(items));
}

void tst_SaveFileLoader::incrementalEmbedsFormerLink()
{
    const QString imagePath = m_dir->filePath(QStringLiteral("linked.png"));
    const QPixmap pixels = picture(5, 4, Qt::cyan);
    QVERIFY(pixels.save(imagePath, "png"));
    m_items = { imageItem(pixels, 0, 0, imagePath), imageItem(picture(3, 3, Qt::red), 1, 1) };
    const QString path = m_dir->filePath(QStringLiteral("embed.vlk"));
    setEmbedLocalFiles(false);
    auto linked = save(path, m_items);
    const IndexEntry link = indexOf(readAll(path)).at(0);
    QCOMPARE(link.end - link.start, qint64(4));

    // Keeping the link block would leave the picture out although it is now to be embedded.
    setEmbedLocalFiles(true);
    auto embedded = save(path, m_items, linked->savedChecksum);
    QCOMPARE(embedded->messages, QStringList { QString() });
    QCOMPARE(readAll(path), freshSave(m_items));
}

void tst_SaveFileLoader::shrinkingSaves_data()
{
    QTest::addColumn<QString>("previous");
    QTest::addColumn<QList<int>>("kept");

    // The board has pictures 0, 1 and 2 (a note attached to 2) and the free notes 3 and 4.
    const QList<std::pair<const char *, QList<int>>> shrinks = {
        { "board emptied", {} },
        { "notes only", { 3, 4 } },
        { "first picture only", { 0 } },
        { "last picture only, with its note", { 2 } },
    };
    // The save is handed the file's own checksum (its blocks may stay), one the file no longer
    // has (it is written anew after reading it), or none (written anew unread).
    for (const char *previous : { "incremental", "changed elsewhere", "no previous checksum" }) {
        for (const auto &[name, kept] : shrinks)
            QTest::addRow("%s, %s", previous, name) << QString::fromLatin1(previous) << kept;
    }
}

void tst_SaveFileLoader::shrinkingSaves()
{
    QFETCH(QString, previous);
    QFETCH(QList<int>, kept);
    auto *last = imageItem(picture(3, 4, Qt::green), 2, 2.0);
    note(QStringLiteral("attached"), 5, 5.0, last);
    m_items
        = { imageItem(picture(4, 3, Qt::blue), 0, 0.0), imageItem(picture(5, 2, Qt::red), 1, 1.0),
              last, note(QStringLiteral("free"), 3, 3.0), note(QStringLiteral("other"), 4, 4.0) };
    const QString path = m_dir->filePath(QStringLiteral("shrunk.vlk"));
    auto first = save(path, m_items);

    QList<GraphicsItem *> left;
    for (GraphicsItem *item : qAsConst(m_items)) {
        if (kept.contains(item->id()))
            left.append(item);
    }
    QString checksum;
    if (previous == QLatin1String("incremental"))
        checksum = first->savedChecksum;
    else if (previous == QLatin1String("changed elsewhere"))
        checksum = md5Hex("another board");
    auto shrunk = save(path, left, checksum);
    QCOMPARE(shrunk->messages, QStringList { QString() });
    const QByteArray bytes = readAll(path);
    QCOMPARE(headerOf(bytes).checksum, md5Hex(bytes.mid(108)));

    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { QString() });
    QCOMPARE(loaded->mismatches, 0);
    QCOMPARE(loaded->broken, 0);
    QCOMPARE(loaded->lost, QStringList());
    const auto ids = [](const QList<GraphicsItem *> &items) {
        QList<int> found;
        for (GraphicsItem *item : items) {
            found.append(item->id());
            for (GraphicsItem *child : item->childGraphicsItems(true))
                found.append(child->id());
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    QCOMPARE(ids(loaded->items), ids(left));
    QCOMPARE(bytes, freshSave(left));
}

void tst_SaveFileLoader::linkedImages_data()
{
    QTest::addColumn<bool>("embed");
    QTest::addColumn<bool>("removeFile");
    QTest::addColumn<bool>("expectBlockLink");
    QTest::addColumn<int>("expectMissingCode");

    QTest::addRow("embedded although the file exists") << true << false << false << -1;
    QTest::addRow("linked, found beside the moved scene") << false << false << true << -1;
    QTest::addRow("linked, file gone") << false << true << true << 1;
}

void tst_SaveFileLoader::linkedImages()
{
    QFETCH(bool, embed);
    QFETCH(bool, removeFile);
    QFETCH(bool, expectBlockLink);
    QFETCH(int, expectMissingCode);

    QDir root(m_dir->path());
    root.mkpath(QStringLiteral("board/pictures"));
    const QString imagePath = root.filePath(QStringLiteral("board/pictures/a.png"));
    const QPixmap pixels = picture(5, 5, Qt::yellow);
    QVERIFY(pixels.save(imagePath, "png"));
    const QString scenePath = root.filePath(QStringLiteral("board/scene.vlk"));
    setEmbedLocalFiles(embed);
    m_items = { imageItem(pixels, 0, 0, imagePath) };
    save(scenePath, m_items);

    const QByteArray bytes = readAll(scenePath);
    const IndexEntry entry = indexOf(bytes).at(0);
    QCOMPARE(entry.end - entry.start == 4, expectBlockLink);
    if (expectBlockLink)
        QCOMPARE(bytes.mid(entry.start, 4).toHex(), QByteArray("ffffffff"));

    QVERIFY(root.rename(QStringLiteral("board"), QStringLiteral("moved")));
    if (removeFile)
        QVERIFY(QFile::remove(root.filePath(QStringLiteral("moved/pictures/a.png"))));
    auto loaded = load(root.filePath(QStringLiteral("moved/scene.vlk")));
    QCOMPARE(loaded->messages, QStringList { QString() });
    QCOMPARE(loaded->items.size(), 1);
    auto *item = dynamic_cast<GraphicsImageItem *>(loaded->items.at(0));
    QVERIFY(item);
    if (expectMissingCode >= 0) {
        QCOMPARE(loaded->missingCodes, QList<int> { expectMissingCode });
        QVERIFY(!item->picture());
    } else {
        QVERIFY(loaded->missingCodes.isEmpty());
        QVERIFY(item->picture());
        QCOMPARE(item->pixels().convertToFormat(QImage::Format_ARGB32),
            pixels.toImage().convertToFormat(QImage::Format_ARGB32));
        if (expectBlockLink)
            QCOMPARE(QFileInfo(item->source()).canonicalFilePath(),
                QFileInfo(root.filePath(QStringLiteral("moved/pictures/a.png")))
                    .canonicalFilePath());
    }
}

void tst_SaveFileLoader::imageWithoutPixelsRoundTrips()
{
    // A picture that never arrived has no crop path: an empty path is stored as its count
    // alone, and the records after it must still read.
    const QString path = m_dir->filePath(QStringLiteral("missing.vlk"));
    auto *missing = new GraphicsImageItem(
        nullptr, m_dir->filePath(QStringLiteral("gone.png")), QStringLiteral("gone"), QPointF());
    missing->setId(0);
    m_items = { missing, imageItem(picture(4, 4, Qt::blue), 1, 1) };
    save(path, m_items);
    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { QString() });
    QCOMPARE(loaded->broken, 0);
    QCOMPARE(loaded->items.size(), 2);
    QCOMPARE(loaded->missingCodes, QList<int> { 1 });
}

void tst_SaveFileLoader::checksumMismatch()
{
    const QString path = m_dir->filePath(QStringLiteral("edited.vlk"));
    save(path, smallScene());
    QByteArray bytes = readAll(path);
    bytes[45] = bytes.at(45) == '0' ? '1' : '0';
    writeAll(path, bytes);

    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { QString() });
    QCOMPARE(loaded->mismatches, 1);
    QCOMPARE(loaded->items.size(), 4);
    QCOMPARE(loaded->states.size(), 1);

    // Declining to load a mismatching file: items may have come out while the checksum was
    // computed (the receiver discards them), none after the answer, and the load still ends.
    // Both are counted on the loader's thread, where they are emitted in order.
    std::atomic_int emitted { 0 };
    int emittedAtAnswer = -1;
    QMetaObject::Connection count = connect(
        m_loader, &BaseLoader::itemGenerated, this,
        [&emitted](const ItemRecord &, LoadJob *) { ++emitted; }, Qt::DirectConnection);
    QMetaObject::Connection decline = connect(
        m_loader, &SaveFileLoader::checksumMissmatchDetected, this,
        [&emitted, &emittedAtAnswer](LoadJob *job) {
            emittedAtAnswer = emitted;
            job->discard();
        },
        Qt::DirectConnection);
    auto declined = load(path);
    disconnect(count);
    disconnect(decline);
    QCOMPARE(declined->messages, QStringList { QString() });
    QCOMPARE(declined->loadedChecksums.size(), 1);
    QVERIFY(declined->job->isDiscarded());
    QCOMPARE(declined->items.size(), emittedAtAnswer);

    auto forced = load(path, true);
    QCOMPARE(forced->messages, QStringList { QString() });
    QCOMPARE(forced->mismatches, 0);
    QVERIFY(forced->loadedChecksums.isEmpty());
    // Two distinct pixmaps were stored as PNG.
    QCOMPARE(forced->items.size(), 2);
    for (GraphicsItem *item : qAsConst(forced->items))
        QCOMPARE(
            static_cast<GraphicsImageItem *>(item)->name(), QStringLiteral("BruteForceLoaded"));
}

void tst_SaveFileLoader::refusedSaves_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("itemCount");

    QTest::addRow("more items than the header can count") << QString() << 32768;
    QTest::addRow("device full") << QStringLiteral("/dev/full") << 0;
}

void tst_SaveFileLoader::refusedSaves()
{
    QFETCH(QString, path);
    QFETCH(int, itemCount);
    const bool ownFile = path.isEmpty();
    if (ownFile) {
        path = m_dir->filePath(QStringLiteral("kept.vlk"));
        writeAll(path, "previous contents");
    }
    std::optional<QList<ItemRecord>> records;
    if (itemCount) {
        ItemRecord note;
        note.type = ItemRecord::Type::Note;
        records = QList<ItemRecord>();
        for (int i = 0; i < itemCount; ++i)
            records->append(note);
    }
    m_items = { imageItem(picture(64, 64, Qt::red), 0, 0) };
    auto saved = save(path, m_items, QString(), 100, records);
    QCOMPARE(saved->messages, QStringList { QStringLiteral("Failed to write save file.") });
    QVERIFY(!saved->details.isEmpty());
    QVERIFY(saved->savedChecksum.isEmpty());
    if (ownFile)
        QCOMPARE(readAll(path), QByteArray("previous contents"));
}

void tst_SaveFileLoader::pausedSave_data()
{
    QTest::addColumn<bool>("backup");
    QTest::addColumn<bool>("proceed");
    QTest::addRow("declined") << false << false;
    QTest::addRow("overwritten") << false << true;
    QTest::addRow("backup made, declined") << true << false;
    QTest::addRow("backup made, overwritten") << true << true;
}

// A save by path stops after it has looked at the file it replaces, and writes only when told
// to go on: the answers are asked for meanwhile on another thread, which it never waits for.
void tst_SaveFileLoader::pausedSave()
{
    QFETCH(bool, backup);
    QFETCH(bool, proceed);
    const QString path = m_dir->filePath(QStringLiteral("newer.vlk"));
    auto first = save(path, smallScene());
    QByteArray bytes = readAll(path);
    // The application version sits in the header, outside the checksum: "1.11.1" -> "1.12.1".
    bytes[24 + 4 + 7] = '2';
    writeAll(path, bytes);

    Collector collector(m_loader);
    QList<SaveInspection> found;
    connect(m_loader, &SaveFileLoader::saveInspected, &collector,
        [&](const SaveInspection &inspection, LoadJob *job) {
            if (job != collector.job)
                return;
            found.append(inspection);
            QMetaObject::invokeMethod(m_loader, "continueSave", Qt::QueuedConnection,
                Q_ARG(LoadJob *, job), Q_ARG(bool, proceed));
        });
    SaveFileLoader::SceneState state;
    state.items = SceneSnapshot::take(m_items);
    state.nextItemId = 100;
    const int options = SaveFileLoader::Inspect | (backup ? SaveFileLoader::MakeBackup : 0);
    QMetaObject::invokeMethod(m_loader, "saveTo", Qt::QueuedConnection, Q_ARG(QString, path),
        Q_ARG(QString, first->savedChecksum), Q_ARG(SaveFileLoader::SceneState, state),
        Q_ARG(LoadJob *, collector.job), Q_ARG(int, options));
    collector.wait();

    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().applicationVersion, QStringLiteral("1.12.1"));
    QVERIFY(found.first().oldFileRead);
    QCOMPARE(found.first().actualChecksum, first->savedChecksum);
    QCOMPARE(found.first().backupWanted, backup);
    QCOMPARE(found.first().backupMade, backup);
    QCOMPARE(QFile::exists(path + QLatin1String(".old")), backup);
    if (backup)
        QCOMPARE(readAll(path + QLatin1String(".old")), bytes);
    QCOMPARE(collector.messages, QStringList { QString() });
    QCOMPARE(readAll(path) == bytes, !proceed);
    QFile::remove(path + QLatin1String(".old"));
}

void tst_SaveFileLoader::formatComparison_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("greater");

    QTest::addRow("1.10 after 1.9") << QString("1.10") << QString("1.9") << true;
    QTest::addRow("1.9 before 1.10") << QString("1.9") << QString("1.10") << false;
    QTest::addRow("equal is not greater") << QString("1.10") << QString("1.10") << false;
    QTest::addRow("major wins") << QString("2.0") << QString("1.10") << true;
    QTest::addRow("three parts are no format") << QString("1.12.0") << QString("1.10") << false;
    QTest::addRow("letters are no format") << QString("1.x") << QString("1.2") << false;
}

void tst_SaveFileLoader::formatComparison()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, greater);
    QCOMPARE(SaveFileFormat::isGreater(a, b), greater);
}

void tst_SaveFileLoader::loadMessages_data()
{
    // "offset:hex" replacing bytes of a saved small scene, several separated by ';'
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("broken");

    const QString corrupt
        = "The Velkora file you are trying to load is corrupt and can not be loaded.";
    QTest::addRow("format 2.0")
        << QByteArray("4:0032002e0030") // "1.10" -> "2.00"
        << QString("The save file was saved with a newer version of Velkora (1.11.1), you are "
                   "currently using Velkora 1.11.1. Please update to Velkora 1.11.1 or higher to "
                   "be able to open it.")
        << 0;
    // The stored version is text from the file: a placeholder in it is not filled in.
    QTest::addRow("format 2.0, stored version with a placeholder")
        << QByteArray("4:0032002e0030;36:00250031") // "1.11.1" -> "1.11%1"
        << QString("The save file was saved with a newer version of Velkora (1.11%1), you are "
                   "currently using Velkora 1.11.1. Please update to Velkora 1.11%1 or higher to "
                   "be able to open it.")
        << 0;
    QTest::addRow("format 1.1") << QByteArray("replace") << "Unrecognized Velkora save file." << 0;
    QTest::addRow("negative item count") << QByteArray("12:ffff") << corrupt << 0;
    QTest::addRow("negative image count") << QByteArray("14:ffff") << corrupt << 0;
    QTest::addRow("index beyond the end") << QByteArray("16:00000000ffff0000") << corrupt << 0;
    QTest::addRow("index inside the header") << QByteArray("16:0000000000000010") << corrupt << 0;
    QTest::addRow("unknown type name")
        << QByteArray("type") << "Failed to load image metadata, the save file might be corrupt."
        << 1;
    QTest::addRow("record end beyond the file")
        << QByteArray("end") << "Failed to load image metadata, the save file might be corrupt."
        << 1;
}

void tst_SaveFileLoader::loadMessages()
{
    QFETCH(QByteArray, patch);
    QFETCH(QString, message);
    QFETCH(int, broken);

    const QString path = m_dir->filePath(QStringLiteral("patched.vlk"));
    save(path, smallScene());
    QByteArray bytes = readAll(path);
    if (patch == "replace") {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << QStringLiteral("1.1") << qint32(0);
        bytes.truncate(int(out.device()->pos()));
    } else if (patch == "type") {
        const QByteArray name = QByteArray::fromHex("0054006500780074004900740065006d"); // TextItem
        const int at = bytes.indexOf(name);
        QVERIFY(at > 0);
        bytes[at + name.size() - 1] = 'n';
    } else if (patch == "end") {
        const IndexEntry last = indexOf(bytes).constLast();
        const QByteArray end = QByteArray::fromHex("7fffffffffffffff");
        bytes.replace(int(last.end), 8, end);
    } else {
        for (const QByteArray &change : patch.split(';')) {
            const QList<QByteArray> parts = change.split(':');
            const QByteArray replacement = QByteArray::fromHex(parts.at(1));
            bytes.replace(parts.at(0).toInt(), replacement.size(), replacement);
        }
    }
    writeAll(path, bytes);

    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { message });
    QCOMPARE(loaded->broken, broken);
    QVERIFY(loaded->items.isEmpty());
}

namespace {

void writeSceneBlock(QDataStream &out, bool withNextId)
{
    if (withNextId)
        out << qint32(9);
    out << QRectF(-50, -50, 100, 100) << QTransform() << qint32(1) << qint32(2);
}

void writeOldNote(QDataStream &out)
{
    out << QStringLiteral("note") << QTransform::fromTranslate(1, 2) << QColor(Qt::black)
        << QColor(Qt::white);
}

// A file of an old format, laid out field by field as that format stored one picture (8 x 6,
// named "pic", half opaque) and one note.
QByteArray oldFormatFile(const QString &version, const QImage &image, const QString &directory)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
    const QByteArray stream = png(image);
    const QTransform placed = QTransform::fromTranslate(10, 20);
    const QPolygonF crop(QRectF(0, 0, 8, 6));
    out << version;

    if (version == "1.2" || version == "1.3") {
        const QImage raw = image.convertToFormat(QImage::Format_ARGB32);
        out << qint32(1);
        writeSceneBlock(out, false);
        out << QStringLiteral("pic") << 0.5f << placed << qint32(raw.sizeInBytes())
            << qint32(raw.width()) << qint32(raw.height()) << qint32(raw.format());
        if (version == "1.3")
            out << crop;
        out.writeRawData(reinterpret_cast<const char *>(raw.constBits()), int(raw.sizeInBytes()));
        return bytes;
    }

    const bool current = version != "1.4" && version != "1.5";
    if (current)
        out << qint16(2) << qint16(1);
    else
        out << qint32(1);
    const qint64 indexSlot = buffer.pos();
    out << qint64(0);
    if (version == "1.9")
        out << QStringLiteral("1.9.0");
    const bool checksummed = version == "1.11";
    qint64 checksumAt = 0;
    if (checksummed) {
        out << QStringLiteral("1.11.1");
        checksumAt = buffer.pos();
        out << QString(32, QLatin1Char('X'));
    }
    writeSceneBlock(out, true);

    qint64 start = 0;
    qint64 end = 0;
    if (version == "1.4") {
        out << QString() << QStringLiteral("pic") << 0.5f << placed << crop << qint32(4);
        start = buffer.pos();
        out.writeRawData(stream.constData(), stream.size());
        end = buffer.pos();
        out << qint32(1);
        writeOldNote(out);
    } else {
        start = buffer.pos();
        out.writeRawData(stream.constData(), stream.size());
        end = buffer.pos();
        if (version == "1.5") {
            out << QString() << QStringLiteral("pic") << 0.5f << placed << qint32(4) << 0.0
                << QPointF(4, 3) << crop << qint32(1);
            writeOldNote(out);
        } else {
            QByteArray body;
            QDataStream record(&body, QIODevice::WriteOnly);
            record << QStringLiteral("GraphicsImageItem") << QString() << QStringLiteral("pic")
                   << 0.5f << placed << qint32(4) << 0.0;
            if (version == "1.8" || version == "1.9" || checksummed) {
                QPainterPath path;
                path.addRect(-4, -3, 8, 6);
                record << QTransform::fromTranslate(-4, -3) << path << qint32(3);
            } else {
                record << QPointF(4, 3) << QPolygonF(QRectF(-4, -3, 8, 6));
                if (version == "1.7")
                    record << qint32(3);
            }
            if (checksummed)
                record << false << QSize(2000, 2000);
            record << qint32(0);
            // No overview, then the playback: where today's records end.
            if (checksummed)
                record << QByteArray() << quint32(0) << qint32(3) << 0.5 << false << true;
            QByteArray noteBody;
            QDataStream noteRecord(&noteBody, QIODevice::WriteOnly);
            noteRecord << QStringLiteral("GraphicsTextItem") << QStringLiteral("note")
                       << QTransform() << qint32(5) << 1.0 << QColor(Qt::black) << QColor(Qt::white)
                       << qint32(0);
            for (const QByteArray &piece : { body, noteBody }) {
                if (version == "1.9" || checksummed)
                    out << qint64(buffer.pos() + 8 + piece.size());
                out.writeRawData(piece.constData(), piece.size());
            }
        }
        out << directory;
    }
    const qint64 index = buffer.pos();
    out << qint32(4) << start << end;
    buffer.seek(indexSlot);
    out << index;
    if (checksummed) {
        buffer.seek(checksumAt);
        out << md5Hex(bytes.mid(108));
    }
    return bytes;
}

} // namespace

void tst_SaveFileLoader::oldFormats_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("noteAttached");
    QTest::addColumn<int>("expectedItems");

    QTest::addRow("1.2 raw pixels") << "1.2" << false << 1;
    QTest::addRow("1.3 raw pixels with crop") << "1.3" << false << 1;
    QTest::addRow("1.4 PNG inside the record") << "1.4" << true << 1;
    QTest::addRow("1.5 records without type names") << "1.5" << true << 1;
    QTest::addRow("1.6 offset and polygon") << "1.6" << false << 2;
    QTest::addRow("1.7 with filter") << "1.7" << false << 2;
    QTest::addRow("1.8 image transform and path") << "1.8" << false << 2;
    QTest::addRow("1.9 end offsets") << "1.9" << false << 2;
    QTest::addRow("1.11 records that end at their playback") << "1.11" << false << 2;
}

void tst_SaveFileLoader::oldFormats()
{
    QFETCH(QString, version);
    QFETCH(bool, noteAttached);
    QFETCH(int, expectedItems);

    const QImage image = picture(8, 6, Qt::magenta).toImage();
    const QString path = m_dir->filePath(QStringLiteral("old.vlk"));
    writeAll(path, oldFormatFile(version, image, m_dir->path()));

    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { QString() });
    QCOMPARE(loaded->items.size(), expectedItems);
    QCOMPARE(loaded->states.size(), 1);
    QCOMPARE(loaded->states.at(0).sceneRect, QRectF(-50, -50, 100, 100));
    GraphicsImageItem *picture = nullptr;
    QStringList notes;
    for (GraphicsItem *item : qAsConst(loaded->items)) {
        if (auto *found = dynamic_cast<GraphicsImageItem *>(item))
            picture = found;
        else
            notes.append(item->text());
    }
    QVERIFY(picture);
    QCOMPARE(picture->name(), QStringLiteral("pic"));
    QCOMPARE(picture->opacity(), 0.5f);
    QCOMPARE(picture->transform(), QTransform::fromTranslate(10, 20));
    QVERIFY(picture->picture());
    QCOMPARE(picture->pixels().convertToFormat(QImage::Format_ARGB32),
        image.convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(picture->boundingRect().size(), QSizeF(8, 6));
    // Nothing after the playback: where the picture came from is not known.
    QCOMPARE(picture->pageAddress(), QString());
    if (version == QLatin1String("1.11"))
        QVERIFY(picture->playback() == (ItemRecord::Playback { 3, 0.5, false, true }));
    if (noteAttached) {
        QCOMPARE(picture->childGraphicsItems().size(), 1);
        QCOMPARE(picture->childGraphicsItems().at(0)->text(), QStringLiteral("note"));
    } else if (expectedItems == 2) {
        QCOMPARE(notes, QStringList { QStringLiteral("note") });
    }
}

void tst_SaveFileLoader::everyTruncationLoadsSafely()
{
    const QString source = m_dir->filePath(QStringLiteral("whole.vlk"));
    save(source, smallScene());
    const QByteArray bytes = readAll(source);
    const QString path = m_dir->filePath(QStringLiteral("prefix.vlk"));
    for (int length = 0; length < bytes.size(); ++length) {
        writeAll(path, bytes.left(length));
        auto loaded = load(path);
        QVERIFY2(loaded->messages.size() == 1, qPrintable(QString::number(length)));
        QVERIFY(loaded->items.size() <= 4);
    }
}

namespace {

// 1.2 and 1.3 boards of raw pixels: an 8 x 6 picture, then, when width is not 0, one of the
// given size and crop whose 16 bytes are all there is; the header claims count pictures.
QByteArray rawBoard(const QString &version, qint32 count, qint32 width = 0, qint32 height = 0,
    quint32 cropPoints = 4)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << version << count;
    writeSceneBlock(out, false);
    const QImage good = picture(8, 6, Qt::yellow).toImage().convertToFormat(QImage::Format_ARGB32);
    const auto writePicture = [&](qint32 bytesCount, qint32 w, qint32 h, quint32 points) {
        out << QStringLiteral("pic") << 1.0f << QTransform() << bytesCount << w << h
            << qint32(QImage::Format_ARGB32);
        if (version == QLatin1String("1.3")) {
            out << points;
            for (quint32 i = 0; i < std::min(points, 4u); ++i)
                out << QPointF(i, i);
        }
    };
    writePicture(qint32(good.sizeInBytes()), 8, 6, 4);
    out.writeRawData(reinterpret_cast<const char *>(good.constBits()), int(good.sizeInBytes()));
    if (width != 0) {
        writePicture(16, width, height, cropPoints);
        out.writeRawData(QByteArray(16, 'x').constData(), 16);
    }
    return bytes;
}

} // namespace

void tst_SaveFileLoader::damagedBoards_data()
{
    QTest::addColumn<QByteArray>("board");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("items");
    QTest::addColumn<QString>("lost");

    const QString broken = "Failed to load image metadata, the save file might be corrupt.";
    const QString corrupt
        = "The Velkora file you are trying to load is corrupt and can not be loaded.";
    const QString pastTheEnd = "the file ends before their data";
    const QString attached = "items attached to a lost picture are left out with it";

    // The small scene as the writer writes it: records 0 (picture), 1 (sharing 0's pixels), 2
    // (picture with note 4 attached) and 3 (free note); blocks in that order.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("small.vlk"));
    save(path, smallScene());
    qDeleteAll(m_items);
    m_items.clear();
    const QByteArray small = readAll(path);
    const Header header = headerOf(small);
    const QList<IndexEntry> index = indexOf(small);
    const auto entry = [&](int i) { return header.indexOffset + qint64(i) * 20; };
    const qint64 pngAt = index.at(2).start;

    QByteArray bytes = small;
    put<qint64>(bytes, entry(0) + 12, small.size() + 100);
    QTest::addRow("index entry ends past the file")
        << bytes << QString() << 2 << "2 pictures could not be read: " + pastTheEnd + ".";
    bytes = small;
    put<qint64>(bytes, entry(0) + 12, index.at(0).start - 1);
    QTest::addRow("index entry ends before it starts")
        << bytes << QString() << 2
        << "2 pictures could not be read: the file's list of where the pictures are stored is "
           "damaged.";
    bytes = small;
    put<quint32>(bytes, pngAt + 16, 50000);
    put<quint32>(bytes, pngAt + 20, 50000);
    QTest::addRow("PNG block of 50000 x 50000")
        << bytes << QString() << 3
        << "1 picture and 1 note could not be read: a picture claims to be far larger than its "
           "data can hold; "
            + attached + ".";
    bytes = small;
    // Inside the deflate stream of the IDAT chunk, behind the signature and the IHDR chunk.
    put<quint32>(bytes, pngAt + 33 + 10, 0xdeadbeef);
    QTest::addRow("damaged PNG block")
        << bytes << QString() << 3
        << "1 picture and 1 note could not be read: their picture data is damaged; " + attached
            + ".";
    put<qint64>(bytes, entry(0) + 12, small.size() + 100);
    QTest::addRow("two faults at once") << bytes << QString() << 1
                                        << "3 pictures and 1 note could not be read: " + pastTheEnd
            + "; their picture data is damaged; " + attached + ".";
    bytes = small;
    put<qint64>(bytes, entry(0) + 12, index.at(0).start + 4);
    put<qint32>(bytes, index.at(0).start, 1);
    QTest::addRow("two pictures share each other")
        << bytes << QString() << 2
        << "2 pictures could not be read: pictures name each other as the owner of their "
           "pixels.";
    bytes = small;
    put<qint32>(bytes, index.at(1).start, 1);
    QTest::addRow("a picture shares itself")
        << bytes << QString() << 3
        << "1 picture could not be read: pictures name each other as the owner of their pixels.";
    bytes = small;
    put<qint64>(bytes, index.at(2).end, 0);
    QTest::addRow("backwards record end") << bytes << broken << 0 << QString();
    bytes = small;
    put<qint16>(bytes, 14, 0x7fff);
    QTest::addRow("absurd image count") << bytes << corrupt << 0 << QString();

    QTest::addRow("1.2 claims more pictures than it holds") << rawBoard(
        "1.2", 1000) << QString() << 1 << "999 pictures could not be read: " + pastTheEnd + ".";
    // Rows of 0x7fffffff pictures of 4 bytes a pixel times as many rows overflow 64 bits.
    QTest::addRow("1.2 picture of 0x7fffffff x 0x7fffffff")
        << rawBoard("1.2", 2, 0x7fffffff, 0x7fffffff) << broken << 1 << QString();
    QTest::addRow("1.3 crop of 0xffffffff points")
        << rawBoard("1.3", 2, 2, 2, 0xffffffffu) << broken << 1 << QString();

    // The 1.5 picture's block names an owner the file does not hold; its end still leads to
    // the records.
    bytes = oldFormatFile("1.5", picture(8, 6, Qt::red).toImage(), dir.path());
    const qint64 oldIndex = qFromBigEndian<qint64>(bytes.constData() + 4 + 6 + 4);
    const qint64 blockEnd = qFromBigEndian<qint64>(bytes.constData() + oldIndex + 12);
    put<qint64>(bytes, oldIndex + 4, blockEnd - 4);
    put<qint32>(bytes, blockEnd - 4, 7);
    QTest::addRow("1.5 picture shares one not in the file")
        << bytes << QString() << 0
        << "1 picture and 1 note could not be read: the file holds no pixels for them; " + attached
            + ".";

    // Where the index disagrees with the record, the picture's own chunks tell where it ends.
    bytes = oldFormatFile("1.4", picture(8, 6, Qt::red).toImage(), dir.path());
    const qint64 index14 = qFromBigEndian<qint64>(bytes.constData() + 4 + 6 + 4);
    const qint64 start14 = qFromBigEndian<qint64>(bytes.constData() + index14 + 4);
    put<qint64>(bytes, index14 + 4, start14 + 1);
    QTest::addRow("1.4 picture found by its chunks") << bytes << QString() << 1 << QString();
    put<quint32>(bytes, start14 + 8, 0x7ffffff0);
    QTest::addRow("1.4 picture whose chunk runs past the file")
        << bytes << broken << 0 << QString();
}

// Hostile boards either are refused with one message or load what can be read, telling once
// how much was left out and why.
void tst_SaveFileLoader::damagedBoards()
{
    QFETCH(QByteArray, board);
    QFETCH(QString, message);
    QFETCH(int, items);
    QFETCH(QString, lost);

    const QString path = m_dir->filePath(QStringLiteral("damaged.vlk"));
    writeAll(path, board);
    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { message });
    QCOMPARE(loaded->items.size(), items);
    QCOMPARE(loaded->lost, lost.isEmpty() ? QStringList() : QStringList { lost });
}

void tst_SaveFileLoader::fullRewriteMessages_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");

    QTest::addRow("stored checksum wrong")
        << "checksum"
        << "Updating incorrect metadata...<br><center>This might take longer than "
           "usual.</center>";
    QTest::addRow("older format")
        << "1.9"
        << "Converting to 1.11.1 save format...<br><center>This might take longer than "
           "usual.</center>";
}

void tst_SaveFileLoader::fullRewriteMessages()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    const QString path = m_dir->filePath(QStringLiteral("rewrite.vlk"));
    if (damage == QLatin1String("checksum")) {
        save(path, smallScene());
        QByteArray bytes = readAll(path);
        bytes[50] = bytes.at(50) == 'a' ? 'b' : 'a';
        writeAll(path, bytes);
    } else {
        writeAll(path, oldFormatFile(damage, picture(8, 6, Qt::red).toImage(), m_dir->path()));
        smallScene();
    }
    // The checksum a load reports is what the next save of the file is handed.
    const QString actual = load(path)->loadedChecksums.value(0);
    QVERIFY(!actual.isEmpty());
    auto saved = save(path, m_items, actual);
    QCOMPARE(saved->messages, QStringList { QString() });
    QCOMPARE(saved->progressMessages, QStringList { message });
    QCOMPARE(readAll(path), freshSave(m_items));
}

void tst_SaveFileLoader::selectedOnlyRecords()
{
    // top (id 0) > kept (1, selected) > inner (2); top > skipped (3) > deep (4, selected)
    auto *top = note(QStringLiteral("top"), 0, 10.0);
    auto *kept = note(QStringLiteral("kept"), 1, 11.0, top);
    note(QStringLiteral("inner"), 2, 12.0, kept);
    auto *skipped = note(QStringLiteral("skipped"), 3, 13.0, top);
    auto *deep = note(QStringLiteral("deep"), 4, 14.0, skipped);
    kept->setSelected(true);
    deep->setSelected(true);
    m_items = { top };

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
    ItemRecordCodec::write(out, SceneSnapshot::takeSelection({ top }));

    QDataStream in(buffer.data());
    QStringList texts;
    QList<int> childCounts;
    while (!in.atEnd()) {
        qint64 end = 0;
        QString type;
        QString text;
        QTransform transform;
        qint32 id;
        double z;
        QColor colour;
        QColor background;
        qint32 children;
        in >> end >> type >> text >> transform >> id >> z >> colour >> background >> children;
        QCOMPARE(end, in.device()->pos());
        texts.append(QStringLiteral("%1@%2").arg(text).arg(z));
        childCounts.append(children);
    }
    QCOMPARE(texts, (QStringList { "top@0", "kept@1", "deep@4" }));
    QCOMPARE(childCounts, (QList<int> { 2, 0, 0 }));
}

namespace {

// Holds the pool's only thread until released, so the load's decoders queue up behind it.
class Blocker : public QRunnable {
public:
    explicit Blocker(std::atomic_bool *release)
        : m_release(release)
    {
    }
    void run() override
    {
        while (!m_release->load())
            QThread::yieldCurrentThread();
    }

private:
    std::atomic_bool *m_release;
};

class Flag : public QRunnable {
public:
    explicit Flag(std::atomic_bool *ran)
        : m_ran(ran)
    {
    }
    void run() override { m_ran->store(true); }

private:
    std::atomic_bool *m_ran;
};

} // namespace

void tst_SaveFileLoader::cancelledLoadKeepsOthersPoolWork()
{
    const QString path = m_dir->filePath(QStringLiteral("many.vlk"));
    for (int i = 0; i < 12; ++i)
        m_items.append(imageItem(picture(6, 6, QColor(i * 20, 0, 0)), i, i));
    save(path, m_items);

    QThreadPool *pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    pool->setMaxThreadCount(1);
    std::atomic_bool release { false };
    std::atomic_bool otherRan { false };
    // A load widens the pool to every core: blockers queued first take each thread it gets.
    for (int i = 0; i < QThread::idealThreadCount(); ++i)
        pool->start(new Blocker(&release));

    auto collector = std::make_unique<Collector>(m_loader);
    auto *file = new QFile(path, collector.get());
    file->open(QIODevice::ReadOnly);
    LoadJob *job = collector->job;
    // Queued behind the decoders once the reader has started them (loadedSceneState comes
    // first), then the job is cancelled while none of them has run.
    connect(m_loader, &SaveFileLoader::loadedSceneState, collector.get(),
        [&](const SaveFileLoader::SceneState &, LoadJob *) {
            onLoaderThread(
                [&otherRan] { QThreadPool::globalInstance()->start(new Flag(&otherRan)); });
            job->cancel();
            release.store(true);
        });
    QMetaObject::invokeMethod(
        m_loader, [this, file, job] { m_loader->load(file, job); }, Qt::QueuedConnection);
    QVERIFY(collector->wait());
    QCOMPARE(collector->messages, QStringList { QString() });
    QVERIFY(collector->items.isEmpty());
    QTRY_VERIFY(otherRan.load());
    pool->waitForDone();
    pool->setMaxThreadCount(threads);
}

GraphicsImageItem *tst_SaveFileLoader::intake(
    const ImageLoader::Source &source, const QSize &downscaleLimit)
{
    ImageLoader loader;
    loader.setKeepOriginals(true);
    if (downscaleLimit.isValid()) {
        loader.setAutoDownscale(true);
        loader.setAutoDownscaleMaxWidth(downscaleLimit.width());
        loader.setAutoDownscaleMaxHeight(downscaleLimit.height());
    }
    GraphicsImageItem *made = nullptr;
    connect(&loader, &BaseLoader::itemGenerated, this, [&made, this](const ItemRecord &record) {
        made = static_cast<GraphicsImageItem *>(ItemBuilder().build(record));
        made->setId(int(m_items.size()));
        m_items.append(made);
    });
    LoadJob job(&loader);
    loader.load(source, &job);
    return made;
}

void tst_SaveFileLoader::originalPictures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("downscaleLimit");
    QTest::addColumn<bool>("kept");

    const QImage photo = photoLike(48, 32);
    const QByteArray jpeg = encoded(photo, "jpeg");
    const QSize none;
    QTest::addRow("jpeg file") << "file" << jpeg << none << true;
    QTest::addRow("png file") << "file" << png(photo) << none << true;
    QTest::addRow("webp file") << "file" << encoded(photo, "webp") << none << true;
    QTest::addRow("gif file") << "file" << gifOf(fewColours(48, 32)) << none << true;
    const QImage frame = fewColours(48, 32);
    const QByteArray animation
        = gifOf({ frame, frame.mirrored(true, false), frame.mirrored(false, true), frame.copy() });
    QTest::addRow("animated gif file") << "file" << animation << none << true;
    QTest::addRow("pasted animated gif") << "pasted" << animation << none << true;
    QTest::addRow("downloaded animated gif") << "download" << animation << none << true;
    QTest::addRow("grey jpeg file")
        << "file" << encoded(photo.convertToFormat(QImage::Format_Grayscale8), "jpeg") << none
        << true;
    // Turned upright or reduced, the pixels are no longer what the file decodes to.
    QTest::addRow("jpeg turned upright") << "file" << orientedJpeg(photo) << none << false;
    QTest::addRow("jpeg above the downscale limit") << "file" << jpeg << QSize(40, 40) << false;
    QTest::addRow("jpeg within the downscale limit") << "file" << jpeg << QSize(64, 64) << true;
    QTest::addRow("tga file") << "file" << tga(photo) << none << false;
    QTest::addRow("pasted png") << "pasted" << png(photo) << none << true;
    QTest::addRow("pasted pixels") << "pixels" << QByteArray() << none << false;
    QTest::addRow("downloaded jpeg") << "download" << jpeg << none << true;
    // Only a board that says "1.11" anyway has room for the page's address.
    QTest::addRow("jpeg found on a page") << "page" << jpeg << none << true;
    QTest::addRow("png found on a page") << "page" << png(photo) << none << true;
}

void tst_SaveFileLoader::originalPictures()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, downscaleLimit);
    QFETCH(bool, kept);

    HttpTestServer server;
    ImageLoader::Source source;
    if (kind == QLatin1String("file")) {
        const QString path = m_dir->filePath(QStringLiteral("picture"));
        writeAll(path, bytes);
        source.urls = { QUrl::fromLocalFile(path) };
    } else if (kind == QLatin1String("pasted")) {
        source.imageBytes = bytes;
        source.imageFormat = bytes.startsWith("GIF") ? "gif" : "png";
    } else if (kind == QLatin1String("download")) {
        server.setRoute("/photo.jpg", { 200, "image/jpeg", bytes, {}, {} });
        source.urls = { QUrl(server.url("/photo.jpg")) };
    } else if (kind == QLatin1String("page")) {
        server.setRoute("/photo.jpg", { 200, "image/jpeg", bytes, {}, {} });
        server.setRoute(
            "/photos.html", { 200, "text/html", "<html><img src=\"photo.jpg\"></html>", {}, {} });
        source.urls = { QUrl(server.url("/photos.html")) };
    } else {
        source.image = photoLike(20, 10);
    }
    GraphicsImageItem *item = intake(source, downscaleLimit);
    QVERIFY(item && item->picture());
    QCOMPARE(item->original(), kept ? bytes : QByteArray());
    const QImage before = item->pixels();
    // An animation stopped on a frame opens stopped there, at its speed.
    const bool animated = QByteArray(QTest::currentDataTag()).contains("animated");
    QCOMPARE(bool(item->animation()), animated);
    const ItemRecord::Playback stopped { 2, 0.5, false, false };
    if (animated)
        item->setPlayback(stopped);
    const bool web = kind == QLatin1String("download") || kind == QLatin1String("page");
    QCOMPARE(item->pictureAddress(), web ? server.url("/photo.jpg") : QString());
    QCOMPARE(item->pageAddress(),
        kind == QLatin1String("page") ? server.url("/photos.html") : QString());

    const QString path = m_dir->filePath(QStringLiteral("board.vlk"));
    QCOMPARE(save(path, m_items)->messages, QStringList { QString() });
    const QByteArray board = readAll(path);
    const QList<IndexEntry> index = indexOf(board);
    QCOMPARE(index.size(), 1);
    const QByteArray block = board.mid(index.at(0).start, index.at(0).end - index.at(0).start);
    const bool foreign = kept && !bytes.startsWith("\x89PNG");
    QCOMPARE(headerOf(board).version, QString(foreign ? "1.11" : "1.10"));
    if (kept)
        QCOMPARE(block, bytes);
    else
        QVERIFY(block.startsWith("\x89PNG"));

    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { QString() });
    QCOMPARE(loaded->items.size(), 1);
    auto *read = dynamic_cast<GraphicsImageItem *>(loaded->items.first());
    QVERIFY(read && read->picture());
    QCOMPARE(read->pixels(), before);
    // Opened, the picture keeps its block, so that the next full save copies it.
    QCOMPARE(read->original(), block);
    QCOMPARE(bool(read->animation()), animated);
    if (animated) {
        QCOMPARE(read->playback(), std::optional(stopped));
        QTRY_VERIFY(read->animation()->isIdle());
        QCOMPARE(read->animation()->currentFrame(), 2);
        QBuffer buffer(&bytes);
        QImageReader reader(&buffer, "gif");
        QImage third;
        for (int i = 0; i <= 2; ++i)
            third = reader.read();
        QCOMPARE(read->shownFrame().convertToFormat(QImage::Format_RGB32),
            third.convertToFormat(QImage::Format_RGB32));
    }
    QCOMPARE(read->pictureAddress(), item->pictureAddress());
    QCOMPARE(read->pageAddress(), foreign ? item->pageAddress() : QString());

    // A picture without an original is written exactly as with PNG storage.
    setPictureStorage(SaveFileLoader::PngOnly);
    const QByteArray pngOnly = freshSave(m_items);
    if (!kept)
        QCOMPARE(pngOnly, board);
    QCOMPARE(headerOf(pngOnly).version, QStringLiteral("1.10"));
}

void tst_SaveFileLoader::incrementalSaveAppendsOriginal()
{
    const QByteArray jpeg = encoded(photoLike(30, 20), "jpeg");
    const QString picture = m_dir->filePath(QStringLiteral("photo.jpg"));
    writeAll(picture, jpeg);
    m_items = { imageItem(QPixmap::fromImage(photoLike(9, 7)), 0, 0.0) };
    const QString path = m_dir->filePath(QStringLiteral("board.vlk"));
    auto first = save(path, m_items);
    const QByteArray before = readAll(path);
    QCOMPARE(headerOf(before).version, QStringLiteral("1.10"));

    ImageLoader::Source source;
    source.urls = { QUrl::fromLocalFile(picture) };
    GraphicsImageItem *added = intake(source);
    QVERIFY(added);
    const QString address = QStringLiteral("https://example.com/photo.jpg");
    const QString page = QStringLiteral("https://example.com/photos/");
    added->setAddresses(address, page);
    auto second = save(path, m_items, first->savedChecksum);
    QCOMPARE(second->messages, QStringList { QString() });
    const QByteArray after = readAll(path);
    const QList<IndexEntry> index = indexOf(after);
    QCOMPARE(index.size(), 2);
    // The first block stays where it was; the new one is the file's bytes, unchanged.
    const QList<IndexEntry> old = indexOf(before);
    QCOMPARE(after.mid(index.at(0).start, index.at(0).end - index.at(0).start),
        before.mid(old.at(0).start, old.at(0).end - old.at(0).start));
    QCOMPARE(after.mid(index.at(1).start, index.at(1).end - index.at(1).start), jpeg);
    QCOMPARE(headerOf(after).version, QStringLiteral("1.11"));
    // A board of this version saves incrementally too: nothing changed, nothing written.
    auto unchanged = save(path, m_items, second->savedChecksum);
    QCOMPARE(unchanged->progressMessages, QStringList());
    QCOMPARE(readAll(path), after);
    auto reopened = load(path);
    QCOMPARE(reopened->items.size(), 2);
    const auto byId = std::find_if(reopened->items.cbegin(), reopened->items.cend(),
        [added](const GraphicsItem *item) { return item->id() == added->id(); });
    QVERIFY(byId != reopened->items.cend());
    auto *found = dynamic_cast<GraphicsImageItem *>(*byId);
    QVERIFY(found);
    QCOMPARE(found->pictureAddress(), address);
    QCOMPARE(found->pageAddress(), page);

    // Back to PNG only: the next save writes the whole board anew, every block PNG.
    setPictureStorage(SaveFileLoader::PngOnly);
    auto third = save(path, m_items, unchanged->savedChecksum);
    QCOMPARE(third->messages, QStringList { QString() });
    const QByteArray converted = readAll(path);
    QCOMPARE(headerOf(converted).version, QStringLiteral("1.10"));
    for (const IndexEntry &entry : indexOf(converted))
        QVERIFY(converted.mid(entry.start, 8).startsWith("\x89PNG"));
}

void tst_SaveFileLoader::savedForOlderReaders_data()
{
    QTest::addColumn<QString>("target");
    QTest::addRow("as a new file") << "new file";
    QTest::addRow("over the board, whose blocks are JPEG") << "in place";
    // The format version is not covered by the checksum: only the blocks tell.
    QTest::addRow("over the board, labelled 1.10 although its blocks are JPEG") << "mislabelled";
}

void tst_SaveFileLoader::savedForOlderReaders()
{
    QFETCH(QString, target);
    ImageLoader::Source source;
    for (const QImage &photo : { photoLike(30, 20), photoLike(17, 9) }) {
        const QString picture = m_dir->filePath(QStringLiteral("%1.jpg").arg(photo.width()));
        writeAll(picture, encoded(photo, "jpeg"));
        source.urls = { QUrl::fromLocalFile(picture) };
        QVERIFY(intake(source));
    }
    m_items.append(note(QStringLiteral("note"), 2, 2.0));
    QHash<int, QImage> pixels;
    for (GraphicsItem *item : qAsConst(m_items)) {
        if (auto *picture = dynamic_cast<GraphicsImageItem *>(item)) {
            QVERIFY(!picture->original().isEmpty());
            pixels.insert(item->id(), picture->pixels());
        }
    }
    const QString board = m_dir->filePath(QStringLiteral("board.vlk"));
    auto normal = save(board, m_items);
    const QByteArray originals = readAll(board);
    QCOMPARE(headerOf(originals).version, QStringLiteral("1.11"));

    QString path = board;
    QString checksum = normal->savedChecksum;
    if (target == QLatin1String("new file")) {
        path = m_dir->filePath(QStringLiteral("older.vlk"));
        checksum.clear();
    } else if (target == QLatin1String("mislabelled")) {
        // The last character of the version, UTF-16 behind its length: "1.11" becomes "1.10".
        QByteArray bytes = originals;
        bytes[11] = '0';
        writeAll(board, bytes);
    }
    m_forOlderReaders = true;
    auto older = save(path, m_items, checksum);
    m_forOlderReaders = false;
    QCOMPARE(older->messages, QStringList { QString() });
    const QByteArray bytes = readAll(path);
    QCOMPARE(headerOf(bytes).version, QStringLiteral("1.10"));
    const QList<IndexEntry> index = indexOf(bytes);
    QCOMPARE(index.size(), 2);
    for (const IndexEntry &entry : index)
        QVERIFY(bytes.mid(entry.start, 8).startsWith("\x89PNG\r\n\x1a\n"));

    auto loaded = load(path);
    QCOMPARE(loaded->messages, QStringList { QString() });
    QCOMPARE(loaded->mismatches, 0);
    QCOMPARE(loaded->items.size(), 3);
    for (GraphicsItem *item : qAsConst(loaded->items)) {
        auto *picture = dynamic_cast<GraphicsImageItem *>(item);
        if (!picture)
            continue;
        QVERIFY(picture->picture());
        QCOMPARE(picture->pixels().convertToFormat(QImage::Format_ARGB32),
            pixels.value(item->id()).convertToFormat(QImage::Format_ARGB32));
    }

    // The setting is as it was: the next save stores the pictures as they came again.
    QCOMPARE(freshSave(m_items), originals);
}

void tst_SaveFileLoader::originalBlocksRecoverAndDamageIsContained()
{
    const QImage photo = photoLike(30, 20);
    const QByteArray jpeg = encoded(photo, "jpeg");
    const QByteArray webp = encoded(photo, "webp");
    ImageLoader::Source source;
    for (const QByteArray &bytes : { jpeg, webp, png(photo), gifOf(fewColours(30, 20)) }) {
        const QString picture = m_dir->filePath(QString::number(bytes.size()));
        writeAll(picture, bytes);
        source.urls.append(QUrl::fromLocalFile(picture));
    }
    {
        ImageLoader loader;
        loader.setKeepOriginals(true);
        connect(&loader, &BaseLoader::itemGenerated, this, [this](const ItemRecord &record) {
            GraphicsItem *item = ItemBuilder().build(record);
            item->setId(int(m_items.size()));
            m_items.append(item);
        });
        LoadJob job(&loader);
        loader.load(source, &job);
    }
    QCOMPARE(m_items.size(), 4);
    const QString path = m_dir->filePath(QStringLiteral("board.vlk"));
    save(path, m_items);
    const QByteArray board = readAll(path);

    // Forced recovery finds every kind of block by its own signature.
    auto recovered = load(path, true);
    QCOMPARE(recovered->messages, QStringList { QString() });
    QCOMPARE(recovered->items.size(), 4);

    // A JPEG block that never reaches its end: that picture is lost and told, the others load.
    QByteArray damaged = board;
    const QList<IndexEntry> index = indexOf(board);
    const IndexEntry &first = index.at(0);
    QCOMPARE(board.mid(first.start, jpeg.size()), jpeg);
    damaged.replace(int(first.end - 2), 2, QByteArray(2, '\0'));
    const QString damagedPath = m_dir->filePath(QStringLiteral("damaged.vlk"));
    writeAll(damagedPath, damaged);
    auto loaded = load(damagedPath);
    QCOMPARE(loaded->items.size(), 3);
    QCOMPARE(loaded->lost.size(), 1);
}

QTEST_MAIN(tst_SaveFileLoader)

#include "tst_savefileloader.moc"
