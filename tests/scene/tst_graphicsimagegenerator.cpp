#include "picture/picture.h"
#include "scene/graphicsimagegrayscalegenerator.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsimagemipgenerator.h"
#include "scene/graphicsscene.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QThreadPool>
#include <QtTest>

namespace {

QImage colourfulImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(200, (x * 7) & 0xff, (y * 3) & 0xff);
    }
    return image;
}

// Paints the item as the scene would at the given zoom, which is what starts its jobs.
void paintAt(GraphicsImageItem *item, qreal zoom)
{
    QImage target(64, 64, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    painter.scale(zoom, zoom);
    QStyleOptionGraphicsItem option;
    item->paint(&painter, &option, nullptr);
}

// The picture at the zoom: on the scene, centred on the origin, with the view's hints; or alone
// as hard pixels, each pixel the picture's pixel under its centre.
QImage drawn(const QImage &picture, qreal zoom, QGraphicsScene *scene = nullptr)
{
    QImage image(picture.size() * zoom, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform, scene);
    if (scene) {
        QRectF source(QPointF(), picture.size());
        source.moveCenter(QPointF());
        scene->render(&painter, QRectF(image.rect()), source);
    } else {
        painter.scale(zoom, zoom);
        painter.drawImage(0, 0, picture);
    }
    return image;
}

bool isGrey(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            const QRgb pixel = image.pixel(x, y);
            if (qRed(pixel) != qGreen(pixel) || qGreen(pixel) != qBlue(pixel))
                return false;
        }
    }
    return true;
}

} // namespace

class TestGraphicsImageGenerator : public QObject {
    Q_OBJECT

private slots:
    void levelSizes_data();
    void levelSizes();
    void greyValues_data();
    void greyValues();
    void cancelledJobsEndQuietly_data();
    void cancelledJobsEndQuietly();
    void derivedDataFollowsFilterAndQuality();
    void smoothingAtEveryZoom_data();
    void smoothingAtEveryZoom();
    void itemsDestroyedWhileJobsRun_data();
    void itemsDestroyedWhileJobsRun();
};

void TestGraphicsImageGenerator::levelSizes_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QList<QSize>>("expected");

    QTest::addRow("4000 x 3000: three levels")
        << QSize(4000, 3000) << QList<QSize> { { 2400, 1800 }, { 900, 675 }, { 300, 225 } };
    QTest::addRow("100 x 100: third level rounds 7.5 up")
        << QSize(100, 100) << QList<QSize> { { 60, 60 }, { 23, 23 }, { 8, 8 } };
    QTest::addRow("20 x 20: second level below 10 pixels ends it")
        << QSize(20, 20) << QList<QSize> { { 12, 12 }, { 5, 5 } };
    QTest::addRow("9 x 400: too narrow for any level") << QSize(9, 400) << QList<QSize> {};
    QTest::addRow("400 x 9: too low for any level") << QSize(400, 9) << QList<QSize> {};
}

void TestGraphicsImageGenerator::levelSizes()
{
    QFETCH(QSize, picture);
    QFETCH(QList<QSize>, expected);

    GraphicsImageMipGenerator job;
    QSignalSpy finished(&job, &GraphicsImageGenerator::finished);
    job.prepare(colourfulImage(picture.width(), picture.height()));
    QCOMPARE(job.state(), int(GraphicsImageGenerator::Queued));
    job.run();
    QCOMPARE(job.state(), int(GraphicsImageGenerator::Done));
    QCOMPARE(finished.count(), 1);

    QList<QSize> sizes;
    const QList<QImage> levels = job.takeLevels();
    for (const QImage &level : levels)
        sizes.append(level.size());
    QCOMPARE(sizes, expected);
}

void TestGraphicsImageGenerator::greyValues_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<int>("grey");

    QTest::addRow("red") << QColor(255, 0, 0) << 87;
    QTest::addRow("green") << QColor(0, 255, 0) << 127;
    QTest::addRow("blue") << QColor(0, 0, 255) << 39;
    QTest::addRow("white") << QColor(255, 255, 255) << 255;
    QTest::addRow("red, alpha 128") << QColor(255, 0, 0, 128) << 87;
    QTest::addRow("green, alpha 10") << QColor(0, 255, 0, 10) << 127;
    QTest::addRow("white, fully transparent") << QColor(255, 255, 255, 0) << 0;
}

void TestGraphicsImageGenerator::greyValues()
{
    QFETCH(QColor, colour);
    QFETCH(int, grey);

    const bool hasAlpha = colour.alpha() != 255;
    QImage image(3, 2, hasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(colour);
    GraphicsImageGrayScaleGenerator job;
    job.prepare(image);
    job.run();
    const QImage result = job.takeResult();

    QCOMPARE(result.size(), image.size());
    QCOMPARE(result.hasAlphaChannel(), hasAlpha);
    const QImage plain = result.convertToFormat(QImage::Format_ARGB32);
    const QRgb pixel = plain.pixel(2, 1);
    QCOMPARE(qAlpha(pixel), colour.alpha());
    QCOMPARE(qRed(pixel), qGreen(pixel));
    QCOMPARE(qGreen(pixel), qBlue(pixel));
    // Premultiplied storage costs a little precision at low alpha.
    const int tolerance = hasAlpha && colour.alpha() > 0 ? 255 / colour.alpha() + 1 : 0;
    QVERIFY2(std::abs(qRed(pixel) - grey) <= tolerance,
        qPrintable(QString("grey %1 instead of %2").arg(qRed(pixel)).arg(grey)));
}

void TestGraphicsImageGenerator::cancelledJobsEndQuietly_data()
{
    QTest::addColumn<bool>("levels");

    QTest::addRow("levels") << true;
    QTest::addRow("grey") << false;
}

// A job its item gave up still runs when the pool gets to it: it must neither announce a result
// to whoever is still connected nor make one.
void TestGraphicsImageGenerator::cancelledJobsEndQuietly()
{
    QFETCH(bool, levels);

    std::unique_ptr<GraphicsImageGenerator> job;
    if (levels)
        job = std::make_unique<GraphicsImageMipGenerator>();
    else
        job = std::make_unique<GraphicsImageGrayScaleGenerator>();
    QSignalSpy finished(job.get(), &GraphicsImageGenerator::finished);
    job->prepare(colourfulImage(400, 300));
    job->cancel();
    job->run();
    QCOMPARE(job->state(), int(GraphicsImageGenerator::Done));
    QCOMPARE(finished.count(), 0);
    if (levels)
        QVERIFY(static_cast<GraphicsImageMipGenerator *>(job.get())->takeLevels().isEmpty());
    else
        QVERIFY(static_cast<GraphicsImageGrayScaleGenerator *>(job.get())->takeResult().isNull());
}

void TestGraphicsImageGenerator::derivedDataFollowsFilterAndQuality()
{
    using Job = GraphicsImageGenerator;
    GraphicsScene scene(nullptr, nullptr);
    auto *item = new GraphicsImageItem(
        Picture::fromPixels(colourfulImage(200, 100)), QString(), QString(), QPointF());
    scene.addItem(item);
    // Shown larger than the largest level, a picture makes none.
    paintAt(item, 1.0);
    QCOMPARE(item->mipJobState(), int(Job::Idle));
    paintAt(item, 0.3);
    QTRY_COMPARE(item->mipJobState(), int(Job::Done));
    QCOMPARE(item->mipLevels().size(), 3);
    QVERIFY(!isGrey(item->mipLevels().first()));

    // Grey on: no colour level survives, and new levels are made from the grey variant.
    item->setFilter(GraphicsImageItem::SmoothFilter | GraphicsImageItem::GrayscaleFilter);
    paintAt(item, 0.1);
    for (const QPixmap &level : item->mipLevels())
        QVERIFY(isGrey(level));
    QTRY_COMPARE(item->grayscaleJobState(), int(Job::Done));
    paintAt(item, 0.1);
    QTRY_COMPARE(item->mipJobState(), int(Job::Done));
    QCOMPARE(item->mipLevels().size(), 3);
    QVERIFY(isGrey(item->mipLevels().at(1)));

    // Grey off drops both; a zoom quality other than 0 drops the levels.
    item->setFilter(GraphicsImageItem::SmoothFilter);
    QVERIFY(item->grayscaleImage().isNull());
    QVERIFY(item->mipLevels().isEmpty());
    paintAt(item, 0.1);
    scene.setZoomQuality(1);
    paintAt(item, 0.1);
    QCOMPARE(item->mipJobState(), int(Job::Idle));
    QVERIFY(item->mipLevels().isEmpty());
}

void TestGraphicsImageGenerator::smoothingAtEveryZoom_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<bool>("levelsFirst");
    QTest::addColumn<bool>("smooth");

    QTest::addRow("magnified 4 times, smooth") << 4 << 4.0 << false << true;
    QTest::addRow("magnified 4 times, hard") << 4 << 4.0 << false << false;
    QTest::addRow("reduced to a quarter, smooth") << 64 << 0.25 << false << true;
    QTest::addRow("reduced to a quarter, hard") << 64 << 0.25 << false << false;
    QTest::addRow("reduced, smoothing off after levels were made") << 64 << 0.25 << true << false;
}

void TestGraphicsImageGenerator::smoothingAtEveryZoom()
{
    QFETCH(int, side);
    QFETCH(qreal, zoom);
    QFETCH(bool, levelsFirst);
    QFETCH(bool, smooth);

    using Job = GraphicsImageGenerator;
    GraphicsScene scene(nullptr, nullptr);
    scene.setDrawBackgroundEnabled(false);
    scene.setBorderMode(0);
    const QImage picture = colourfulImage(side, side);
    auto *item
        = new GraphicsImageItem(Picture::fromPixels(picture), QString(), QString(), QPointF());
    scene.addItem(item);
    if (levelsFirst) {
        drawn(picture, zoom, &scene);
        QTRY_COMPARE(item->mipJobState(), int(Job::Done));
    }
    item->setFilter(smooth ? GraphicsImageItem::SmoothFilter : 0);
    drawn(picture, zoom, &scene);
    if (smooth && zoom <= 0.4)
        QTRY_COMPARE(item->mipJobState(), int(Job::Done));
    else
        QCOMPARE(item->mipJobState(), int(Job::Idle));
    QCOMPARE(drawn(picture, zoom, &scene) == drawn(picture, zoom), !smooth);
}

void TestGraphicsImageGenerator::itemsDestroyedWhileJobsRun_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("action");

    const int grey = GraphicsImageItem::SmoothFilter | GraphicsImageItem::GrayscaleFilter;
    QTest::addRow("levels running, item deleted") << 1 << 0;
    QTest::addRow("grey running, item deleted") << grey << 0;
    QTest::addRow("grey running, grey turned off") << grey << 1;
    QTest::addRow("grey running, picture replaced") << grey << 2;
}

// Each round starts jobs and drops their data at once, in whatever state they are; many rounds
// hit every state. Run under a sanitizer to see a late write, a leak or a double free.
void TestGraphicsImageGenerator::itemsDestroyedWhileJobsRun()
{
    QFETCH(int, filter);
    QFETCH(int, action);

    GraphicsScene scene(nullptr, nullptr);
    const QImage picture = colourfulImage(600, 400);
    // Shown larger than its overview serves: the item makes levels of its own.
    constexpr qreal LevelDetail = 0.3;
    QList<GraphicsImageItem *> kept;
    for (int round = 0; round < 40; ++round) {
        auto *item
            = new GraphicsImageItem(Picture::fromPixels(picture), QString(), QString(), QPointF());
        scene.addItem(item);
        item->setFilter(filter);
        paintAt(item, LevelDetail);
        paintAt(item, LevelDetail);
        if (action == 1)
            item->setFilter(GraphicsImageItem::SmoothFilter);
        else if (action == 2)
            item->setPicture(Picture::fromPixels(picture.mirrored()));
        if (round % 2)
            delete item;
        else
            kept.append(item);
        // Repaint requests of jobs whose items are gone must come to nothing.
        QCoreApplication::processEvents();
    }
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();

    // What jobs made for a survivor's earlier picture or filter never lands on it, and the jobs
    // it starts now, beside those of the items that are gone, give its own picture's data.
    const QImage shown = action == 2 ? picture.mirrored() : picture;
    const QImage grey = GraphicsImageGrayScaleGenerator::toGrayscale(shown).convertToFormat(
        QImage::Format_ARGB32);
    for (GraphicsImageItem *item : qAsConst(kept)) {
        if (action == 1) {
            QVERIFY(item->grayscaleImage().isNull());
            for (const QPixmap &level : item->mipLevels())
                QVERIFY(!isGrey(level));
            continue;
        }
        paintAt(item, LevelDetail);
        if (filter & GraphicsImageItem::GrayscaleFilter) {
            QTRY_COMPARE(item->grayscaleJobState(), int(GraphicsImageGenerator::Done));
            QCOMPARE(item->grayscaleImage().toImage().convertToFormat(QImage::Format_ARGB32), grey);
        } else {
            QTRY_COMPARE(item->mipJobState(), int(GraphicsImageGenerator::Done));
            QVERIFY(!item->mipLevels().isEmpty());
            QVERIFY(!isGrey(item->mipLevels().first()));
        }
    }
}

QTEST_MAIN(TestGraphicsImageGenerator)
#include "tst_graphicsimagegenerator.moc"
