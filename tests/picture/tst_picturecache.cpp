#include "picture/picturecache.h"
#include "picturetesting.h"
#include "platform/cachefolder.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace {

// Every byte of every pixel at random; alpha 255 for opaque formats, whose alpha byte must be.
QImage randomPicture(int width, int height, QImage::Format format, quint32 seed)
{
    QImage image(width, height, format);
    QRandomGenerator random(seed);
    const quint32 opaque = format == QImage::Format_RGB32 ? 0xff000000U : 0;
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = random.generate() | opaque;
    }
    return image;
}

// Premultiplied pixels as painting leaves them: colour never above alpha.
QImage translucentPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 7 % 256, y * 5 % 256, (x + y) % 256, (x * y) % 256));
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

enum class Trouble { NoFolder, FolderRemoved, FileSizeLimit };

} // namespace

Q_DECLARE_METATYPE(Trouble)

class tst_PictureCache : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void roundTripIsExact_data();
    void roundTripIsExact();
    void concurrentStoresKeepTheirOwn();
    void storeFailsCleanly_data();
    void storeFailsCleanly();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_PictureCache::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_PictureCache::cleanup()
{
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

void tst_PictureCache::roundTripIsExact_data()
{
    QTest::addColumn<QImage>("image");
    const auto rgb32 = QImage::Format_RGB32;
    const auto premultiplied = QImage::Format_ARGB32_Premultiplied;
    QTest::addRow("rgb32") << randomPicture(64, 48, rgb32, 1);
    QTest::addRow("rgb32 of odd size") << randomPicture(33, 17, rgb32, 2);
    QTest::addRow("rgb32 of one pixel") << randomPicture(1, 1, rgb32, 3);
    QImage grey(31, 9, rgb32);
    grey.fill(qRgb(90, 90, 90));
    QTest::addRow("rgb32 all grey") << grey;
    QTest::addRow("premultiplied translucent, odd size") << translucentPicture(37, 29);
    // Colour above alpha is no valid premultiplied pixel, and straight alpha cannot hold it.
    QTest::addRow("premultiplied, any bytes") << randomPicture(45, 3, premultiplied, 4);
    QImage transparent(5, 7, premultiplied);
    transparent.fill(Qt::transparent);
    QTest::addRow("premultiplied, all transparent") << transparent;
    QTest::addRow("premultiplied, all opaque")
        << randomPicture(19, 11, rgb32, 5).convertToFormat(premultiplied);
}

void tst_PictureCache::roundTripIsExact()
{
    QFETCH(QImage, image);
    CacheFolder folder(m_dir->filePath("velkora"));
    PictureCache cache(&folder);
    const QString path = cache.store(image);
    QVERIFY(!path.isEmpty());
    QCOMPARE(QFileInfo(path).absolutePath(), folder.path());
    QCOMPARE(filesIn(folder.path()), QStringList({ QFileInfo(path).fileName(), "lock" }));
    QVERIFY(sameBytes(cache.load(path, image.format()), image));
    cache.remove(path);
    QVERIFY(cache.load(path, image.format()).isNull());
}

void tst_PictureCache::concurrentStoresKeepTheirOwn()
{
    // The first stores race to make the folder.
    CacheFolder folder(m_dir->filePath("velkora"));
    PictureCache cache(&folder);
    QList<QImage> images;
    for (quint32 seed = 0; seed < 24; ++seed)
        images.append(randomPicture(40 + int(seed), 30, QImage::Format_RGB32, seed));
    // A std::function: the toolkit's mapping needs the result type spelt out.
    const std::function<QString(const QImage &)> store
        = [&cache](const QImage &image) { return cache.store(image); };
    const QStringList paths = QtConcurrent::blockingMapped<QStringList>(images, store);
    QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), images.size());
    for (int i = 0; i < images.size(); ++i)
        QVERIFY(sameBytes(cache.load(paths.at(i), QImage::Format_RGB32), images.at(i)));
}

void tst_PictureCache::storeFailsCleanly_data()
{
    QTest::addColumn<Trouble>("trouble");
    QTest::addRow("no folder can be made") << Trouble::NoFolder;
    QTest::addRow("folder removed behind its back") << Trouble::FolderRemoved;
    // As when the disk fills up: the copy breaks off after its first bytes.
    QTest::addRow("file size limit") << Trouble::FileSizeLimit;
}

void tst_PictureCache::storeFailsCleanly()
{
    QFETCH(Trouble, trouble);
    const QString base = m_dir->filePath("velkora");
    if (trouble == Trouble::NoFolder) {
        QFile file(base);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    CacheFolder folder(base);
    PictureCache cache(&folder);
    const QImage image = randomPicture(300, 200, QImage::Format_RGB32, 9);
    QString path;
    if (trouble == Trouble::FileSizeLimit) {
        QVERIFY(!folder.path().isEmpty());
        rlimit original {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &original) == 0);
        rlimit small = original;
        small.rlim_cur = 4096;
        // The signal would end the process; ignored, the write fails with EFBIG instead.
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        path = cache.store(image);
        ::setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, handler);
        QCOMPARE(filesIn(folder.path()), QStringList { "lock" });
    } else if (trouble == Trouble::FolderRemoved) {
        QVERIFY(QDir(folder.path()).removeRecursively());
        path = cache.store(image);
    } else {
        path = cache.store(image);
    }
    QVERIFY(path.isEmpty());
}

QTEST_GUILESS_MAIN(tst_PictureCache)
#include "tst_picturecache.moc"
