#include "../picture/picturetesting.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "testitem.h"

#include <QGraphicsView>
#include <QPainter>
#include <QPainterPath>
#include <QtTest>

#include <cstring>

namespace {

// Painting the background is what grows the scene rectangle.
QImage render(GraphicsScene &scene)
{
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    scene.render(&painter, QRectF(0, 0, 40, 40), scene.sceneRect());
    return image;
}

// The empty board's hint about the origin, drawn with the given pen as a view would hand it over.
QImage renderHint(GraphicsScene &scene, const QColor &pen)
{
    QImage image(600, 160, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    painter.setPen(pen);
    scene.render(&painter, QRectF(image.rect()), QRectF(-300, -60, 600, 160));
    return image;
}

// The rows of image with a pixel unlike colour.
QList<int> rowsUnlike(const QImage &image, const QColor &colour)
{
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != colour.rgb()) {
                rows.append(y);
                break;
            }
        }
    }
    return rows;
}

QList<qreal> depths(const QList<TestItem *> &items)
{
    QList<qreal> result;
    for (TestItem *item : items)
        result.append(item->zValue());
    return result;
}

} // namespace

class TestGraphicsScene : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void idsAndDepths();
    void depthOrder_data();
    void depthOrder();
    void sceneRectGrowth_data();
    void sceneRectGrowth();
    void recentre_data();
    void recentre();
    void hintShowsHelpLine_data();
    void hintShowsHelpLine();
    void reducedDetailWhileShown();
    void hiddenUnderOpaquePicture_data();
    void hiddenUnderOpaquePicture();
};

void TestGraphicsScene::cleanup()
{
    QCOMPARE(TestItem::alive, 0);
}

void TestGraphicsScene::idsAndDepths()
{
    GraphicsScene scene(nullptr, nullptr);
    auto *a = new TestItem;
    auto *b = new TestItem;
    auto *c = new TestItem;
    scene.addItems({ a, b, c });
    QCOMPARE(c->id(), 2);
    QCOMPARE(depths({ a, b, c }), (QList<qreal> { 0.0, 1.0, 2.0 }));

    scene.removeItem(b);
    QCOMPARE(scene.itemById(1), nullptr);
    QCOMPARE(scene.indexOfItem(b), -1);
    // A second addition of an item on the scene changes nothing.
    scene.addItem(c);
    QCOMPARE(scene.addedItems(), (QList<GraphicsItem *> { a, c }));
    // Back again (as undo does): same id and depth, at the end of the list.
    scene.addItem(b);
    QCOMPARE(b->id(), 1);
    QCOMPARE(b->zValue(), 1.0);
    QCOMPARE(scene.indexOfItem(b), 2);
    QCOMPARE(scene.itemById(1), b);

    scene.clear();
    QCOMPARE(TestItem::alive, 0);
    QVERIFY(scene.isEmptyFlag());
    auto *fresh = new TestItem;
    scene.addItem(fresh);
    QCOMPARE(fresh->id(), 0);
    QCOMPARE(fresh->zValue(), 0.0);

    // Items read from a file keep their depths; what comes next still goes on top or behind.
    auto *loaded = new TestItem;
    loaded->setId(7);
    loaded->setZValue(4.5);
    scene.addItem(loaded);
    auto *next = new TestItem;
    scene.addItem(next);
    QCOMPARE(next->zValue(), 5.0);
    scene.sendToBack({ next });
    QCOMPARE(next->zValue(), -1.0);
    loaded->setZValue(-3.0);
    scene.removeItem(loaded);
    scene.addItem(loaded);
    scene.sendToBack({ next });
    QCOMPARE(next->zValue(), -4.0);
}

void TestGraphicsScene::depthOrder_data()
{
    QTest::addColumn<bool>("toFront");
    QTest::addColumn<QList<int>>("moved");
    QTest::addColumn<QList<qreal>>("expected");
    QTest::addColumn<double>("frontDepth");
    QTest::addColumn<double>("backDepth");

    // Three items at depths 0, 1 and 2.
    QTest::addRow("front: top item already in front, no depth used")
        << true << QList<int> { 2 } << QList<qreal> { 0, 1, 2 } << 3.0 << -1.0;
    QTest::addRow("front: bottom item goes on top")
        << true << QList<int> { 0 } << QList<qreal> { 3, 1, 2 } << 4.0 << -1.0;
    QTest::addRow("front: two keep their order")
        << true << QList<int> { 1, 0 } << QList<qreal> { 3, 4, 2 } << 5.0 << -1.0;
    QTest::addRow("back: bottom item already behind, no depth used")
        << false << QList<int> { 0 } << QList<qreal> { 0, 1, 2 } << 3.0 << -1.0;
    QTest::addRow("back: two swap their order")
        << false << QList<int> { 1, 2 } << QList<qreal> { 0, -1, -2 } << 3.0 << -3.0;
    QTest::addRow("front: empty list")
        << true << QList<int> {} << QList<qreal> { 0, 1, 2 } << 3.0 << -1.0;
}

void TestGraphicsScene::depthOrder()
{
    QFETCH(bool, toFront);
    QFETCH(QList<int>, moved);
    QFETCH(QList<qreal>, expected);
    QFETCH(double, frontDepth);
    QFETCH(double, backDepth);

    GraphicsScene scene(nullptr, nullptr);
    QList<TestItem *> items;
    for (int i = 0; i < 3; ++i) {
        items.append(new TestItem);
        scene.addItem(items.last());
    }
    QList<GraphicsItem *> list;
    for (int index : moved)
        list.append(items.at(index));
    if (toFront)
        scene.bringToFront(list);
    else
        scene.sendToBack(list);
    QCOMPARE(depths(items), expected);
    QCOMPARE(scene.frontDepth(), frontDepth);
    QCOMPARE(scene.backDepth(), backDepth);
}

void TestGraphicsScene::sceneRectGrowth_data()
{
    QTest::addColumn<QRectF>("sceneRect");
    QTest::addColumn<QRectF>("itemRect");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QRectF>("expected");

    const QRectF start(-100, -100, 200, 200);
    QTest::addRow("right edge at 500 mirrors to the left")
        << start << QRectF(450, 0, 50, 10) << false << QRectF(-500, -100, 1000, 200);
    QTest::addRow("left edge at -300 mirrors to the right")
        << start << QRectF(-300, 0, 50, 10) << false << QRectF(-300, -100, 600, 200);
    QTest::addRow("below and above")
        << start << QRectF(0, -150, 10, 400) << false << QRectF(-100, -250, 200, 500);
    QTest::addRow("inside: unchanged") << start << QRectF(-50, -50, 10, 10) << false << start;
    QTest::addRow("locked: unchanged") << start << QRectF(450, 0, 50, 10) << true << start;
    QTest::addRow("off-centre rectangle: far side reset from the nearer item edge") << QRectF(
        -100, -100, 400, 200) << QRectF(-150, 0, 10, 10) << false << QRectF(-150, -100, 300, 200);
}

void TestGraphicsScene::sceneRectGrowth()
{
    QFETCH(QRectF, sceneRect);
    QFETCH(QRectF, itemRect);
    QFETCH(bool, locked);
    QFETCH(QRectF, expected);

    GraphicsScene scene(nullptr, nullptr);
    scene.addItem(new TestItem(QRectF(QPointF(), itemRect.size()), itemRect.topLeft()));
    scene.setSceneRect(sceneRect);
    scene.setSceneRectLocked(locked);
    render(scene);
    QCOMPARE(scene.sceneRect(), expected);
    scene.setSceneRectLocked(false);
}

void TestGraphicsScene::recentre_data()
{
    QTest::addColumn<QRectF>("sceneRect");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QRectF>("expectedRect");

    QTest::addRow("items off to the lower right")
        << QRectF(-5, -5, 10, 10) << QPoint(-20, -20) << QRectF(-10, -10, 20, 20);
    QTest::addRow("already the items' bounds")
        << QRectF(10, 10, 20, 20) << QPoint(0, 0) << QRectF(10, 10, 20, 20);
    QTest::addRow("offset rounded to whole units")
        << QRectF(-0.6, -0.6, 1, 1) << QPoint(-20, -20) << QRectF(-10, -10, 20, 20);
}

void TestGraphicsScene::recentre()
{
    QFETCH(QRectF, sceneRect);
    QFETCH(QPoint, offset);
    QFETCH(QRectF, expectedRect);

    GraphicsScene scene(nullptr, nullptr);
    auto *a = new TestItem(QRectF(0, 0, 5, 5), QPointF(10, 10));
    auto *b = new TestItem(QRectF(-5, -5, 5, 5), QPointF(30, 30));
    auto *child = new TestItem(QRectF(0, 0, 1, 1), QPointF(1, 1), a);
    scene.addItems({ a, b });
    scene.setSceneRect(sceneRect);
    const QPointF childBefore = child->scenePosition();

    QCOMPARE(scene.recentre(), offset);
    QCOMPARE(a->scenePosition(), QPointF(10, 10) + offset);
    QCOMPARE(b->scenePosition(), QPointF(30, 30) + offset);
    QCOMPARE(child->scenePosition(), childBefore + offset);
    QCOMPARE(scene.sceneRect(), expectedRect);
}

void TestGraphicsScene::hintShowsHelpLine_data()
{
    QTest::addColumn<QColor>("canvas");
    QTest::addColumn<QColor>("pen");

    QTest::addRow("dark canvas") << QColor(42, 42, 42) << QColor(Qt::black);
    QTest::addRow("light canvas") << QColor(234, 234, 234) << QColor(Qt::black);
    // A view's palette need not read on the scheme's canvas: the hint has its own colour.
    QTest::addRow("pen in the canvas colour") << QColor(42, 42, 42) << QColor(42, 42, 42);
}

void TestGraphicsScene::hintShowsHelpLine()
{
    QFETCH(QColor, canvas);
    QFETCH(QColor, pen);
    GraphicsScene scene(nullptr, nullptr);
    scene.setCanvasColor(canvas);
    scene.setHintColor(QColor(canvas.lightness() > 128 ? Qt::black : Qt::white));

    const QImage twoLines = renderHint(scene, pen);
    const QList<int> titleRows = rowsUnlike(twoLines, canvas);
    QVERIFY2(!titleRows.isEmpty(), "the hint's own lines are not drawn");

    scene.setHelpText(QStringLiteral("Drop or paste pictures, right click for every command"));
    const QImage threeLines = renderHint(scene, pen);
    QList<int> helpRows;
    for (int y = 0; y < threeLines.height(); ++y) {
        if (std::memcmp(threeLines.constScanLine(y), twoLines.constScanLine(y),
                size_t(threeLines.bytesPerLine()))
            != 0)
            helpRows.append(y);
    }
    QVERIFY2(!helpRows.isEmpty(), "the help line is not drawn");
    // Its own band below the two lines, whole: not over them, not cut off at the bottom.
    QVERIFY2(helpRows.first() > titleRows.last(), qPrintable(QString::number(helpRows.first())));
    QVERIFY(helpRows.last() < threeLines.height() - 1);
    QCOMPARE(rowsUnlike(threeLines, canvas).last(), helpRows.last());
}

// A board's JPEG shown at half its size is drawn from a decode at half its size, kept for as long
// as it is shown; the full pixels come only for 1:1, and only the part in view and around it when
// the picture is far larger than the view.
void TestGraphicsScene::reducedDetailWhileShown()
{
    QTemporaryDir dir;
    QImage pixels(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x)
            pixels.setPixel(x, y, qRgb(x * 255 / 400, y * 255 / 300, 128));
    }
    const std::shared_ptr<Picture> picture
        = pictureInFile(dir.filePath("board"), encoded(pixels, "jpeg"));
    QVERIFY(picture);
    GraphicsScene scene(nullptr, nullptr);
    QGraphicsView view(&scene);
    // Room to look away from the picture.
    view.setSceneRect(-5000, -5000, 10000, 10000);
    view.resize(400, 300);
    view.scale(0.5, 0.5);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto *item = new GraphicsImageItem(picture, QString(), QString(), QPointF());
    scene.addItem(item);
    view.centerOn(item);

    view.viewport()->repaint();
    QVERIFY(!item->isShownInDetail());
    QTRY_VERIFY(item->isShownInDetail());
    int eighths = 0;
    QVERIFY(!picture->detail(&eighths).isNull());
    QCOMPARE(eighths, 4);
    QVERIFY(!picture->hasFull());

    {
        BudgetLimit limit(1);
        scene.trimPictures();
        QVERIFY2(picture->hasDetail(4), "dropped while shown");
        view.centerOn(4000, 4000);
        scene.trimPictures();
        QVERIFY(!picture->hasDetail(1));
    }
    // Back on screen, it is decoded again.
    view.centerOn(item);
    QTRY_VERIFY(picture->hasDetail(4));
    // At 1:1 the half-size decode only stands in for the full pixels.
    view.resetTransform();
    view.viewport()->repaint();
    QVERIFY(!item->isShownInDetail());
    QTRY_VERIFY(picture->hasFull());

    view.resize(120, 90);
    QVERIFY(picture->dropFull());
    view.centerOn(item);
    view.viewport()->repaint();
    QTRY_VERIFY(item->isShownInDetail());
    QVERIFY(!picture->hasFull());
    QRect region;
    QVERIFY(!picture->region(&region).isNull());
    QVERIFY2(region.width() < 300 && region.height() < 200,
        qPrintable(QStringLiteral("%1 x %2").arg(region.width()).arg(region.height())));
    // Drawn where the full pixels would be.
    const QImage fromRegion = view.viewport()->grab().toImage();
    picture->setFull(picture->pixels());
    QCOMPARE(view.viewport()->grab().toImage(), fromRegion);
}

// How the top picture is drawn over the bottom one.
enum TopLook { Opaque, Translucent, HalfOpacity, Rotated, Elliptical };

void TestGraphicsScene::hiddenUnderOpaquePicture_data()
{
    QTest::addColumn<QRectF>("bottom");
    QTest::addColumn<QRectF>("top");
    QTest::addColumn<int>("look");
    QTest::addColumn<bool>("shown");

    // The view shows the scene from (0, 0) to (400, 300), a pixel a unit.
    const QRectF bottom(100, 70, 200, 160);
    const QRectF around = bottom.adjusted(-100, -120, 100, 120);
    QTest::addRow("opaque, same size") << bottom << bottom << int(Opaque) << false;
    QTest::addRow("opaque, larger") << bottom << around << int(Opaque) << false;
    QTest::addRow("opaque, one column narrower")
        << bottom << bottom.adjusted(0, 0, -1, 0) << int(Opaque) << true;
    // Its first column is half the bottom picture's.
    QTest::addRow("opaque, half a pixel to the right")
        << bottom << bottom.translated(0.5, 0) << int(Opaque) << true;
    QTest::addRow("translucent") << bottom << around << int(Translucent) << true;
    QTest::addRow("half opacity") << bottom << around << int(HalfOpacity) << true;
    QTest::addRow("rotated, covering all of it") << bottom << around << int(Rotated) << true;
    QTest::addRow("elliptical crop, covering all of it")
        << bottom << around << int(Elliptical) << true;
    QTest::addRow("only the part in the view covered")
        << QRectF(-100, 70, 200, 160) << QRectF(0, 70, 100, 160) << int(Opaque) << false;
}

// Pictures stacked on one spot take no memory for those underneath, and ask for none.
void TestGraphicsScene::hiddenUnderOpaquePicture()
{
    QFETCH(QRectF, bottom);
    QFETCH(QRectF, top);
    QFETCH(int, look);
    QFETCH(bool, shown);

    GraphicsScene scene(nullptr, nullptr);
    QGraphicsView view(&scene);
    view.setFrameShape(QFrame::NoFrame);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setSceneRect(0, 0, 400, 300);
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    // Full pixels that can go: decoded again from their source, drawn small from the overview.
    const auto place = [&scene](const QRectF &rect, const QColor &colour) {
        QImage pixels(rect.size().toSize(),
            colour.alpha() < 255 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        pixels.fill(colour);
        const std::shared_ptr<Picture> picture
            = Picture::fromPixels(pixels, PictureSource::fromBytes(encoded(pixels, "png")));
        picture->makeOverview();
        auto *item = new GraphicsImageItem(picture, QString(), QString(), rect.center());
        scene.addItem(item);
        return item;
    };
    GraphicsImageItem *under = place(bottom, Qt::darkCyan);
    GraphicsImageItem *over = place(top, look == Translucent ? QColor(0, 0, 255, 128) : Qt::yellow);
    if (look == HalfOpacity) {
        over->setOpacity(0.5);
    } else if (look == Rotated) {
        over->setLocalTransform(QTransform().rotate(45) * over->transform());
    } else if (look == Elliptical) {
        QPainterPath ellipse;
        ellipse.addEllipse(over->boundingRect());
        over->setCropPath(ellipse);
    }

    BudgetLimit nothing(0);
    scene.trimPictures();
    QCOMPARE(under->hasFullPixels(), shown);
    QVERIFY(over->hasFullPixels());
    // Once gone, they are loaded again only for a picture the view shows.
    under->picture()->dropFull();
    QCOMPARE(scene.isFullPictureWanted(under->picture().get()), shown);
}

QTEST_MAIN(TestGraphicsScene)
#include "tst_graphicsscene.moc"
