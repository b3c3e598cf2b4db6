#include "../picture/picturetesting.h"
#include "export/imageexporter.h"
#include "jobs/loadjob.h"
#include "picture/picture.h"
#include "platform/filefaults.h"
#include "scene/graphicsimagegrayscalegenerator.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"

#include <QDirIterator>
#include <QImageReader>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace {

QImage solid(const QSize &size, const QColor &color)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

// Left half red, right half blue, so flips and crops show.
std::shared_ptr<Picture> halves()
{
    QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::red);
    for (int y = 0; y < 20; ++y) {
        for (int x = 20; x < 40; ++x)
            image.setPixelColor(x, y, Qt::blue);
    }
    return Picture::fromPixels(image);
}

QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate());
    }
    return image;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesBelow(const QString &path)
{
    QStringList files;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(path).relativeFilePath(it.next()));
    files.sort();
    return files;
}

} // namespace

Q_DECLARE_METATYPE(FileFaults::Operation)

// The exporter on a worker thread of its own, as the main window runs it, and the painting it is
// given from the GUI thread.
class tst_ImageExporter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void exportItemNames_data();
    void exportItemNames();
    void exportImage_data();
    void exportImage();
    void itemPicture_data();
    void itemPicture();
    void renderSceneSwitches_data();
    void renderSceneSwitches();
    void renderRegion_data();
    void renderRegion();
    void smoothingKept_data();
    void smoothingKept();
    void renderSceneExactly_data();
    void renderSceneExactly();
    void writeFaultsKeepTheFiles_data();
    void writeFaultsKeepTheFiles();

private:
    // Runs one call on the worker and returns the job's finished texts.
    QStringList run(
        const char *slot, QGenericArgument first, const ImageExporter::ExportSettings &settings);

    QThread m_worker;
    ImageExporter *m_exporter = nullptr;
    // The next run's job is canceled before the exporter gets to it.
    bool m_cancelNext = false;
};

void tst_ImageExporter::initTestCase()
{
    m_exporter = new ImageExporter;
    m_exporter->moveToThread(&m_worker);
    connect(&m_worker, &QThread::finished, m_exporter, &QObject::deleteLater);
    m_worker.start();
}

void tst_ImageExporter::cleanupTestCase()
{
    m_worker.quit();
    m_worker.wait();
}

QStringList tst_ImageExporter::run(
    const char *slot, QGenericArgument first, const ImageExporter::ExportSettings &settings)
{
    LoadJob job(m_exporter);
    if (std::exchange(m_cancelNext, false))
        job.cancel();
    QStringList result;
    // Received here, on the test's thread, whenever the worker gets to it.
    connect(
        &job, &LoadJob::finished, this, [&result](const QString &message, const QString &details) {
            result = QStringList { message, details };
        });
    if (!QMetaObject::invokeMethod(m_exporter, slot, Qt::QueuedConnection, first,
            Q_ARG(ImageExporter::ExportSettings, settings), Q_ARG(LoadJob *, &job)))
        return { QStringLiteral("invoke failed") };
    if (!QTest::qWaitFor([&result] { return !result.isEmpty(); }, 60000))
        return { QStringLiteral("timed out") };
    return result;
}

void tst_ImageExporter::exportItemNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("nameOverride");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("heading");

    const QString longName(300, QLatin1Char('x'));
    QTest::addRow("equal names are numbered")
        << QStringList { "photo", "photo" } << QString() << QStringList()
        << QStringList { "photo.png", "photo(2).png" } << QString();
    QTest::addRow("existing files are kept")
        << QStringList { "photo" } << QString() << QStringList { "photo.png", "photo(2).png" }
        << QStringList { "photo.png", "photo(2).png", "photo(3).png" } << QString();
    QTest::addRow("override with the number")
        << QStringList { "a", "b", "c" } << "img_%0" << QStringList()
        << QStringList { "img_1.png", "img_2.png", "img_3.png" } << QString();
    QTest::addRow("override with the name") << QStringList { "photo" } << "%1_copy" << QStringList()
                                            << QStringList { "photo_copy.png" } << QString();
    QTest::addRow("a placeholder inside the name stays")
        << QStringList { "50%0" } << "%1-%0" << QStringList() << QStringList { "50%0-1.png" }
        << QString();
    QTest::addRow("rejected name falls back to the number, which does not advance")
        << QStringList { longName, "photo", "next" } << QString() << QStringList()
        << QStringList { "1.png", "next.png", "photo.png" } << QString();
    QTest::addRow("separators and control characters")
        << QStringList { "../../escape", "a\\b", "tab\there" } << QString() << QStringList()
        << QStringList { ".._.._escape.png", "a_b.png", "tab_here.png" } << QString();
    QTest::addRow("dot names use the number")
        << QStringList { ".", "..", "" } << QString() << QStringList()
        << QStringList { "1.png", "2.png", "3.png" } << QString();
    QTest::addRow("no images") << QStringList() << QString() << QStringList() << QStringList()
                               << "No images to export.";
}

void tst_ImageExporter::exportItemNames()
{
    QFETCH(QStringList, names);
    QFETCH(QString, nameOverride);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, expected);
    QFETCH(QString, heading);

    // The export folder is one level down, so anything written beside it shows.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString directory = root.filePath("a/b/out");
    QVERIFY(QDir().mkpath(directory));
    for (const QString &name : existing) {
        QFile file(QDir(directory).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QList<ImageExporter::Picture> pictures;
    for (const QString &name : names)
        pictures.append({ name, ItemPicture(solid({ 3, 2 }, Qt::green)) });
    ImageExporter::ExportSettings settings;
    settings.path = directory;
    settings.nameOverride = nameOverride;

    const QStringList result
        = run("exportItems", Q_ARG(QList<ImageExporter::Picture>, pictures), settings);
    QCOMPARE(result.first(), heading);
    QStringList expectedPaths;
    for (const QString &name : expected)
        expectedPaths.append(QStringLiteral("a/b/out/") + name);
    expectedPaths.sort();
    QCOMPARE(filesBelow(root.path()), expectedPaths);
    for (const QString &name : expected) {
        if (!existing.contains(name))
            QCOMPARE(QImage(QDir(directory).filePath(name)).size(), QSize(3, 2));
    }
}

void tst_ImageExporter::exportImage_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("quality");
    QTest::addColumn<bool>("canceled");

    QTest::addRow("format from the suffix") << "scene.jpg" << solid({ 7, 5 }, Qt::red) << QString()
                                            << QByteArray("jpeg") << 80 << false;
    QTest::addRow("WebP from the suffix") << "scene.webp" << solid({ 7, 5 }, Qt::red) << QString()
                                          << QByteArray("webp") << 80 << false;
    QTest::addRow("unknown suffix") << "scene.nothing" << solid({ 7, 5 }, Qt::red)
                                    << "Failed to export image." << QByteArray() << 80 << false;
    QTest::addRow("missing folder") << "missing/scene.png" << solid({ 7, 5 }, Qt::red)
                                    << "Failed to export image." << QByteArray() << 80 << false;
    QTest::addRow("canceled: nothing written")
        << "scene.png" << solid({ 7, 5 }, Qt::red) << QString() << QByteArray() << 80 << true;
    // Every quality keeps every pixel of a PNG file, translucent ones too.
    QImage gradient(67, 33, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < gradient.height(); ++y)
        for (int x = 0; x < gradient.width(); ++x)
            gradient.setPixel(x, y, qPremultiply(qRgba(x * 3, y * 7, x ^ y, (x * y) & 0xff)));
    for (const int quality : { 100, 50, 0 }) {
        QTest::addRow("PNG at quality %d", quality)
            << "scene.PNG" << gradient << QString() << QByteArray("png") << quality << false;
    }
}

void tst_ImageExporter::exportImage()
{
    QFETCH(QString, fileName);
    QFETCH(QImage, image);
    QFETCH(QString, heading);
    QFETCH(QByteArray, format);
    QFETCH(int, quality);
    QFETCH(bool, canceled);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ImageExporter::ExportSettings settings;
    settings.path = dir.filePath(fileName);
    settings.quality = quality;
    m_cancelNext = canceled;
    const QStringList result = run("exportImage", Q_ARG(QImage, image), settings);
    QCOMPARE(result.first(), heading);
    if (canceled) {
        QVERIFY(!QFile::exists(settings.path));
    } else if (heading.isEmpty()) {
        QImageReader reader(settings.path);
        QCOMPARE(reader.format(), format);
        QCOMPARE(reader.size(), image.size());
        if (format == "png")
            QCOMPARE(reader.read().convertToFormat(image.format()), image);
    } else {
        QVERIFY(!result.last().isEmpty());
    }
}

void tst_ImageExporter::itemPicture_data()
{
    QTest::addColumn<int>("flip"); // 0 none, 1 horizontal, 2 vertical, 3 both
    QTest::addColumn<qreal>("rotation");
    QTest::addColumn<bool>("cropToRight");
    QTest::addColumn<bool>("cropping");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");

    QTest::addRow("flipped horizontally")
        << 1 << 0.0 << false << true << QSize(40, 20) << QColor(Qt::blue) << QColor(Qt::red);
    QTest::addRow("flipped vertically keeps left and right")
        << 2 << 0.0 << false << true << QSize(40, 20) << QColor(Qt::red) << QColor(Qt::blue);
    QTest::addRow("rotated and scaled items come out upright at scale 1")
        << 0 << 90.0 << false << true << QSize(40, 20) << QColor(Qt::red) << QColor(Qt::blue);
    QTest::addRow("cropped to the right half")
        << 0 << 0.0 << true << true << QSize(20, 20) << QColor(Qt::blue) << QColor(Qt::blue);
    QTest::addRow("without cropping the source is unchanged")
        << 1 << 0.0 << true << false << QSize(40, 20) << QColor(Qt::red) << QColor(Qt::blue);
}

void tst_ImageExporter::itemPicture()
{
    QFETCH(int, flip);
    QFETCH(qreal, rotation);
    QFETCH(bool, cropToRight);
    QFETCH(bool, cropping);
    QFETCH(QSize, size);
    QFETCH(QColor, left);
    QFETCH(QColor, right);

    GraphicsImageItem item(halves(), QString(), QStringLiteral("halves"), QPointF(30, 40));
    if (cropToRight) {
        QPainterPath rightHalf;
        rightHalf.addRect(0, -10, 20, 20);
        item.cropTo(rightHalf, true);
    }
    QTransform transform = item.transform();
    transform.rotate(rotation).scale(flip & 1 ? -3 : 3, flip & 2 ? -3 : 3);
    item.setTransform(transform);

    const QImage image = ItemPicture::of(&item, cropping).paint();
    QCOMPARE(image.size(), size);
    QCOMPARE(image.pixelColor(2, size.height() / 2), left);
    QCOMPARE(image.pixelColor(size.width() - 3, size.height() / 2), right);
}

void tst_ImageExporter::renderSceneSwitches_data()
{
    QTest::addColumn<bool>("background");
    QTest::addColumn<bool>("borders");
    QTest::addColumn<int>("borderMode");

    QTest::addRow("background and borders") << true << true << 2;
    QTest::addRow("neither") << false << false << 2;
    QTest::addRow("borders asked for but switched off") << false << true << 0;
}

void tst_ImageExporter::renderSceneSwitches()
{
    QFETCH(bool, background);
    QFETCH(bool, borders);
    QFETCH(int, borderMode);

    GraphicsScene scene(nullptr, nullptr);
    scene.setCanvasColor(Qt::yellow);
    scene.setBorderColor(Qt::magenta);
    scene.setBorderMode(borderMode);
    auto *item = new GraphicsImageItem(halves(), QString(), QStringLiteral("halves"), QPointF());
    scene.addItem(item);
    scene.setSceneRect(QRectF(-40, -20, 80, 40));

    // Twice the scene's size: the item covers the middle half.
    const QImage image = ImageExporter::renderScene(&scene, QSize(160, 80), background, borders);
    QCOMPARE(image.size(), QSize(160, 80));
    QCOMPARE(image.pixelColor(2, 2), background ? QColor(Qt::yellow) : QColor(Qt::transparent));
    QCOMPARE(image.pixelColor(60, 40), QColor(Qt::red));
    QCOMPARE(image.pixelColor(100, 40), QColor(Qt::blue));
    // The frame runs along the item's edge, antialiased over the two columns beside it; nothing
    // else there has any blue.
    const int frameBlue = qMax(image.pixelColor(39, 40).blue(), image.pixelColor(40, 40).blue());
    QCOMPARE(frameBlue > 60, borders && borderMode == 2);

    // The board looks as before once the picture is taken.
    QVERIFY(scene.drawBackgroundEnabled());
    QCOMPARE(scene.borderMode(), borderMode);
    QVERIFY(scene.selectionHighlight());
}

void tst_ImageExporter::renderRegion_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("selectionOnly");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("overlapped");

    QTest::addRow("selection at half size") << 50 << true << QSize(10, 15) << QColor(Qt::red);
    QTest::addRow("selection at twice the size") << 200 << true << QSize(40, 60) << QColor(Qt::red);
    QTest::addRow("everything in the same rectangle")
        << 200 << false << QSize(40, 60) << QColor(Qt::green);
    QTest::addRow("scale below the smallest") << 5 << true << QSize(5, 8) << QColor(Qt::red);
}

void tst_ImageExporter::renderRegion()
{
    QFETCH(int, percent);
    QFETCH(bool, selectionOnly);
    QFETCH(QSize, size);
    QFETCH(QColor, overlapped);

    GraphicsScene scene(nullptr, nullptr);
    scene.setCanvasColor(Qt::yellow);
    // Cropped to its red half and a quarter of the blue one, then turned a quarter clockwise: 20
    // wide and 30 high on the board, red above blue.
    auto *item = new GraphicsImageItem(halves(), QString(), QStringLiteral("halves"), QPointF());
    scene.addItem(item);
    QPainterPath crop;
    crop.addRect(-20, -10, 30, 20);
    item->cropTo(crop, true);
    item->setTransform(QTransform().rotate(90) * QTransform::fromTranslate(100, 50));
    item->setSelected(true);
    // Above the selection's top-left corner, not selected.
    auto *other = new GraphicsImageItem(Picture::fromPixels(solid({ 10, 10 }, Qt::green)),
        QString(), QStringLiteral("green"), QPointF());
    scene.addItem(other);
    other->setZValue(item->zValue() + 1);
    const QRectF bounds = item->sceneBoundingRect();
    other->setTransform(QTransform::fromTranslate(bounds.left() + 5, bounds.top() + 5));

    const QRectF region = ImageExporter::selectionBounds(&scene);
    QCOMPARE(region, bounds);
    QCOMPARE(region.size(), QSizeF(20, 30));
    const QImage image = ImageExporter::renderRegion(
        &scene, region, ImageExporter::scaledSize(region, percent), true, false, selectionOnly);
    QCOMPARE(image.size(), size);
    const auto at = [&image](qreal x, qreal y) {
        return image.pixelColor(int(x * image.width()), int(y * image.height()));
    };
    QCOMPARE(at(0.25, 0.2), overlapped);
    QCOMPARE(at(0.5, 0.4), QColor(Qt::red));
    QCOMPARE(at(0.5, 0.9), QColor(Qt::blue));
    QVERIFY(item->isSelected());
    QVERIFY(scene.selectionHighlight());
}

void tst_ImageExporter::smoothingKept_data()
{
    QTest::addColumn<bool>("smooth");
    QTest::addRow("smooth") << true;
    QTest::addRow("hard") << false;
}

void tst_ImageExporter::smoothingKept()
{
    QFETCH(bool, smooth);
    GraphicsImageItem item(halves(), QString(), QStringLiteral("halves"), QPointF());
    item.setFilter(smooth ? GraphicsImageItem::SmoothFilter : 0);
    // Cropping a magnified item keeps the magnification in its image transform, so the export
    // at scale 1 is the picture magnified.
    item.setTransform(QTransform::fromScale(4, 4));
    item.cropTo(item.cropPath(), true);
    const QImage image = ItemPicture::of(&item, true).paint();
    QCOMPARE(image.size(), QSize(160, 80));
    // Hard pixels stay red up to the middle; smoothing blends in the blue beside it.
    QCOMPARE(image.pixelColor(79, 40) == QColor(Qt::red), !smooth);
}

void tst_ImageExporter::renderSceneExactly_data()
{
    QTest::addColumn<bool>("grey");
    QTest::addColumn<bool>("resident");
    QTest::addColumn<int>("reduction");

    QTest::addColumn<QByteArray>("format");

    QTest::addRow("grey") << true << true << 1 << QByteArray("png");
    QTest::addRow("grey, decoded for the export") << true << false << 1 << QByteArray("png");
    QTest::addRow("grey at a twentieth") << true << true << 20 << QByteArray("png");
    QTest::addRow("colour at a twentieth, decoded for the export")
        << false << false << 20 << QByteArray("png");
    // Shown as small as its overview, a JPEG is its overview; larger, it decodes reduced.
    QTest::addRow("JPEG at a twentieth") << false << false << 20 << QByteArray("jpeg");
    QTest::addRow("grey JPEG at a third, decoded reduced")
        << true << false << 3 << QByteArray("jpeg");
}

// A board's export shows what the screen would once every job had finished, without waiting for
// any: pictures never painted on a screen come out grey and smoothly reduced all the same.
void tst_ImageExporter::renderSceneExactly()
{
    QFETCH(bool, grey);
    QFETCH(bool, resident);
    QFETCH(int, reduction);
    QFETCH(QByteArray, format);

    // Red and cyan pixels at random: reduced smoothly, an even mix; sampled, a few pixels each.
    QImage noise(400, 200, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random.bounded(2) ? qRgb(255, 0, 0) : qRgb(0, 255, 255));
    }
    const std::shared_ptr<Picture> picture
        = Picture::fromPixels(noise, PictureSource::fromBytes(encoded(noise, format)));
    picture->makeOverview();
    if (!resident)
        QVERIFY(picture->dropFull());
    GraphicsScene scene(nullptr, nullptr);
    auto *item = new GraphicsImageItem(picture, QString(), QString(), QPointF());
    item->setFilter(
        GraphicsImageItem::SmoothFilter | (grey ? GraphicsImageItem::GrayscaleFilter : 0));
    scene.addItem(item);
    scene.setSceneRect(item->sceneBoundingRect());

    const QImage image = ImageExporter::renderScene(&scene, noise.size() / reduction, false, false)
                             .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(item->grayscaleJobState(), int(GraphicsImageGenerator::Idle));
    QCOMPARE(item->mipJobState(), int(GraphicsImageGenerator::Idle));
    QCOMPARE(picture->hasFull(), resident);
    // What a full decode gives, taken after the render so as not to make the pixels resident.
    const QImage decoded = picture->pixels();
    const QImage shown = grey ? GraphicsImageGrayScaleGenerator::toGrayscale(decoded) : decoded;
    const QImage expected
        = shown.scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_RGB32);
    const double difference = meanDifference(image, expected);
    QVERIFY2(difference < 8, qPrintable(QString::number(difference)));
    for (int y = 0; grey && y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            QVERIFY2(
                qAbs(qRed(pixel) - qGreen(pixel)) <= 1 && qAbs(qGreen(pixel) - qBlue(pixel)) <= 1,
                qPrintable(QStringLiteral("%1, %2").arg(x).arg(y)));
        }
    }
}

void tst_ImageExporter::writeFaultsKeepTheFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<FileFaults::Operation>("operation");
    QTest::addColumn<bool>("diskFull");

    // The scene goes over the file there; the pictures beside the one there.
    for (const char *file : { "scene.png", "scene.jpg", "pictures" }) {
        QTest::addRow("%s, every write", file)
            << QString::fromLatin1(file) << FileFaults::Operation::Write << false;
        QTest::addRow("%s, every rename", file)
            << QString::fromLatin1(file) << FileFaults::Operation::Rename << false;
        QTest::addRow("%s, every sync", file)
            << QString::fromLatin1(file) << FileFaults::Operation::Sync << false;
        QTest::addRow("%s, disk full", file)
            << QString::fromLatin1(file) << FileFaults::Operation::Write << true;
    }
}

void tst_ImageExporter::writeFaultsKeepTheFiles()
{
    QFETCH(QString, file);
    QFETCH(FileFaults::Operation, operation);
    QFETCH(bool, diskFull);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    dir.setAutoRemove(true);
    const QString folder = dir.filePath(QStringLiteral("out"));
    const bool pictures = file == QLatin1String("pictures");
    const QString kept = QDir(folder).filePath(pictures ? QStringLiteral("a.png") : file);
    const QByteArray old("the file that was there");
    const auto prepare = [&] {
        QDir(folder).removeRecursively();
        QFile previous(kept);
        return QDir().mkpath(folder) && previous.open(QIODevice::WriteOnly)
            && previous.write(old) == old.size();
    };
    ImageExporter::ExportSettings settings;
    settings.path = pictures ? folder : kept;
    const QImage first = noise(90, 70, 1);
    const QList<ImageExporter::Picture> items { { QStringLiteral("a"), ItemPicture(first) },
        { QStringLiteral("b"), ItemPicture(noise(80, 60, 2)) },
        { QStringLiteral("c"), ItemPicture(noise(70, 50, 3)) } };
    const auto run = [&] {
        if (pictures)
            return this->run("exportItems", Q_ARG(QList<ImageExporter::Picture>, items), settings);
        return this->run("exportImage", Q_ARG(QImage, first), settings);
    };

    QVERIFY(prepare());
    FileFaults::countOnly(folder);
    QCOMPARE(run().first(), QString());
    FileFaults::disarm();
    const int operations = FileFaults::count(operation);
    qint64 size = 0;
    for (const QString &name : filesBelow(folder))
        size += QFileInfo(QDir(folder).filePath(name)).size();
    QVERIFY(operations > 0);

    const int tries = diskFull ? 12 : operations;
    for (int n = 1; n <= tries; ++n) {
        QVERIFY(prepare());
        const qint64 room = diskFull ? (n - 1) * size / (tries - 1) : 0;
        if (diskFull)
            FileFaults::fillDiskAfter(folder, room);
        else
            FileFaults::failNth(folder, operation, n, EIO);
        const QStringList result = run();
        FileFaults::disarm();
        const QString where = diskFull ? QStringLiteral("with room for %1 bytes").arg(room)
                                       : QStringLiteral("failing number %1").arg(n);
        if (!FileFaults::hasFailed()) {
            QVERIFY2(diskFull, qPrintable(where));
            continue;
        }
        // Every file written is whole: a picture that reads back at its size.
        QStringList written = filesBelow(folder);
        QVERIFY(written.removeOne(QFileInfo(kept).fileName()));
        for (const QString &name : qAsConst(written)) {
            const QString path = QDir(folder).filePath(name);
            QVERIFY2(QStringList({ "a(2).png", "b.png", "c.png", file }).contains(name),
                qPrintable(where + QLatin1String(": ") + name));
            QVERIFY2(!QImage(path).isNull(), qPrintable(where + QLatin1String(": ") + name));
        }
        // The folder's entry is synced once the new file has replaced the old one: that file
        // stands, and only a warning tells.
        if (FileFaults::failedPath() == folder) {
            QCOMPARE(result.first(), QString());
            continue;
        }
        const QString cause = QString::fromLocal8Bit(std::strerror(diskFull ? ENOSPC : EIO));
        const QString failed = QFileInfo(FileFaults::failedPath()).fileName().left(5);
        QVERIFY2(!result.first().isEmpty() && result.last().contains(failed)
                && result.last().contains(cause),
            qPrintable(where + QLatin1String(": ") + result.join(QLatin1Char(' '))));
        QVERIFY2(contents(kept) == old, qPrintable(where));
        if (!pictures)
            QVERIFY2(
                written.isEmpty(), qPrintable(where + QLatin1String(": ") + written.join(' ')));
    }
}

QTEST_MAIN(tst_ImageExporter)
#include "tst_imageexporter.moc"
