#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "testitem.h"

#include <QPainter>
#include <QtTest>

#include <cmath>

namespace {

std::shared_ptr<Picture> makePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return Picture::fromPixels(image);
}

// Compares the affine entries with a relative tolerance.
bool close(const QTransform &a, const QTransform &b)
{
    const qreal pairs[6][2] = { { a.m11(), b.m11() }, { a.m12(), b.m12() }, { a.m21(), b.m21() },
        { a.m22(), b.m22() }, { a.dx(), b.dx() }, { a.dy(), b.dy() } };
    return std::all_of(std::begin(pairs), std::end(pairs), [](const qreal *p) {
        return std::abs(p[0] - p[1]) <= 1e-9 * std::max(1e-30, std::abs(p[1]));
    });
}

bool close(const QPointF &a, const QPointF &b)
{
    return QLineF(a, b).length() < 1e-6;
}

} // namespace

class TestGraphicsItem : public QObject {
    Q_OBJECT

private slots:
    void sanitizeTransform_data();
    void sanitizeTransform();
    void moveKeepsEveryEntry_data();
    void moveKeepsEveryEntry();
    void cropKeepsPicture_data();
    void cropKeepsPicture();
    void refusedCropChangesNothing_data();
    void refusedCropChangesNothing();
    void levelForDetail_data();
    void levelForDetail();
};

void TestGraphicsItem::sanitizeTransform_data()
{
    QTest::addColumn<QTransform>("input");
    QTest::addColumn<QTransform>("expected");

    const qreal nan = std::numeric_limits<qreal>::quiet_NaN();
    const qreal max = GraphicsItem::MaximumScale;
    const qreal min = GraphicsItem::MinimumScale;
    QTest::addRow("rotation and scale kept")
        << QTransform(0, 2, -3, 0, 5, 6) << QTransform(0, 2, -3, 0, 5, 6);
    QTest::addRow("scale 3e6 clamps to the maximum")
        << QTransform(3e6, 0, 0, 3e6, 7, 8) << QTransform(max, 0, 0, max, 7, 8);
    QTest::addRow("scale 1e-9 clamps to the minimum")
        << QTransform(1e-9, 0, 0, 1e-9, 7, 8) << QTransform(min, 0, 0, min, 7, 8);
    QTest::addRow("shear removed, first row kept")
        << QTransform(2, 0, 3, 1, 0, 0) << QTransform(2, 0, 0, 1, 0, 0);
    QTest::addRow("perspective dropped")
        << QTransform(1, 0, 0.5, 0, 1, 0.25, 4, 4, 2) << QTransform(1, 0, 0, 1, 4, 4);
    QTest::addRow("NaN becomes the identity") << QTransform(nan, 0, 0, 1, 5, 5) << QTransform();
    QTest::addRow("zero axis: identity linear part, position kept")
        << QTransform(0, 0, 0, 1, 5, 6) << QTransform(1, 0, 0, 1, 5, 6);
    QTest::addRow("overflowing axis length: identity linear part")
        << QTransform(1.5e308, 1.5e308, 0, 1, 5, 6) << QTransform(1, 0, 0, 1, 5, 6);
    QTest::addRow("parallel axes: identity linear part")
        << QTransform(1, 0, 2, 0, 0, 0) << QTransform(1, 0, 0, 1, 0, 0);
    QTest::addRow("axes too far apart for one factor: each clamped")
        << QTransform(1e8, 0, 0, 1e-8, 0, 0) << QTransform(max, 0, 0, min, 0, 0);
    QTest::addRow("shear removal shortens the second axis below the minimum")
        << QTransform(1, 0, 1, 1e-7, 0, 0) << QTransform(1, 0, 0, min, 0, 0);
}

void TestGraphicsItem::sanitizeTransform()
{
    QFETCH(QTransform, input);
    QFETCH(QTransform, expected);
    const QTransform result = GraphicsItem::sanitizeTransform(input);
    QVERIFY2(close(result, expected),
        qPrintable(QString("%1 %2 %3 %4")
                       .arg(result.m11(), 0, 'g', 17)
                       .arg(result.m12(), 0, 'g', 17)
                       .arg(result.m21(), 0, 'g', 17)
                       .arg(result.m22(), 0, 'g', 17)));
}

void TestGraphicsItem::moveKeepsEveryEntry_data()
{
    QTest::addColumn<QTransform>("transform");
    // What turning half round and back leaves: a shear the toolkit's product takes for none.
    QTest::addRow("rounding shear of a turn")
        << QTransform(1, 2.775557562e-17, -2.775557562e-17, 1, 5, 6);
    QTest::addRow("turned and flipped") << QTransform(0, -2, -2, 0, -3.5, 7.25);
}

void TestGraphicsItem::moveKeepsEveryEntry()
{
    QFETCH(QTransform, transform);
    TestItem item;
    item.setTransform(transform);
    item.moveBy(10.5, -4);
    const QTransform moved = item.transform();
    // Exactly: a saved board and its paste are compared entry by entry.
    QCOMPARE(moved.m11(), transform.m11());
    QCOMPARE(moved.m12(), transform.m12());
    QCOMPARE(moved.m21(), transform.m21());
    QCOMPARE(moved.m22(), transform.m22());
    QCOMPARE(moved.dx(), transform.dx() + 10.5);
    QCOMPARE(moved.dy(), transform.dy() - 4);
}

void TestGraphicsItem::cropKeepsPicture_data()
{
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<QRectF>("crop");

    const QRectF crop(-150, -50, 200, 120);
    QTest::addRow("unrotated") << QTransform::fromTranslate(30, 40) << crop;
    QTest::addRow("rotated 30") << QTransform().translate(30, 40).rotate(30) << crop;
    QTest::addRow("flipped horizontally") << QTransform().translate(30, 40).scale(-1, 1) << crop;
    QTest::addRow("rotated 90, scaled 2")
        << QTransform().translate(-5, 5).rotate(90).scale(2, 2) << crop;
    QTest::addRow("flipped vertically, rotated 45, scaled 0.5")
        << QTransform().rotate(45).scale(0.5, -0.5) << crop;
    QTest::addRow("crop beyond the picture is clipped")
        << QTransform().translate(10, 10).rotate(-60) << QRectF(-1000, -1000, 1100, 1100);
}

// Cropping and resetting the crop move geometry between the item's and the image transform;
// neither may move a single picture pixel or an attached item on the canvas.
void TestGraphicsItem::cropKeepsPicture()
{
    QFETCH(QTransform, transform);
    QFETCH(QRectF, crop);

    GraphicsImageItem item(makePicture(400, 300), QString(), QString(), QPointF());
    item.setLocalTransform(transform);
    auto *child = new TestItem(QRectF(-5, -5, 10, 10), QPointF(), &item);
    child->setScenePosition(QPointF(77, -33));
    const QTransform childFull = child->fullTransform();
    const QPointF pixels[] = { { 0, 0 }, { 400, 0 }, { 0, 300 }, { 123, 217 } };
    const QTransform pictureToScene = item.imageTransform() * item.fullTransform();
    const auto unmoved = [&] {
        for (const QPointF &pixel : pixels) {
            if (!close((item.imageTransform() * item.fullTransform()).map(pixel),
                    pictureToScene.map(pixel)))
                return false;
        }
        return close(child->fullTransform(), childFull);
    };

    QPainterPath path;
    path.addRect(crop);
    item.cropTo(path, true);
    QVERIFY2(item.transform().type() <= QTransform::TxTranslate, "a pure translation");
    QVERIFY(close(item.boundingRect().center(), QPointF()));
    QVERIFY(unmoved());

    item.resetCrop();
    QCOMPARE(item.boundingRect(), QRectF(-200, -150, 400, 300));
    QVERIFY(close(item.imageTransform(), QTransform::fromTranslate(-200, -150)));
    QVERIFY(unmoved());
    QVERIFY(close(item.transform(), GraphicsItem::sanitizeTransform(transform)));
}

void TestGraphicsItem::refusedCropChangesNothing_data()
{
    QTest::addColumn<QRectF>("crop");
    QTest::addColumn<bool>("clip");

    QTest::addRow("half a unit wide") << QRectF(0, 0, 0.5, 50) << true;
    QTest::addRow("exactly one unit high") << QRectF(0, 0, 50, 1) << false;
    QTest::addRow("outside the crop") << QRectF(500, 500, 50, 50) << true;
    QTest::addRow("sliver left by clipping") << QRectF(199.5, 0, 50, 50) << true;
}

void TestGraphicsItem::refusedCropChangesNothing()
{
    QFETCH(QRectF, crop);
    QFETCH(bool, clip);

    // Flipped: a refused crop that still moved the flip into the image transform would show
    // the picture mirrored.
    GraphicsImageItem item(makePicture(400, 300), QString(), QString(), QPointF());
    const QTransform transform = QTransform().translate(3, 4).scale(-1, 1);
    item.setLocalTransform(transform);
    const QTransform imageTransform = item.imageTransform();

    QPainterPath path;
    path.addRect(crop);
    item.cropTo(path, clip);
    QCOMPARE(item.transform(), transform);
    QCOMPARE(item.imageTransform(), imageTransform);
    QCOMPARE(item.boundingRect(), QRectF(-200, -150, 400, 300));
}

void TestGraphicsItem::levelForDetail_data()
{
    QTest::addColumn<int>("missingCount");
    QTest::addColumn<int>("levelCount");
    QTest::addColumn<qreal>("levelOfDetail");
    QTest::addColumn<int>("expected");

    QTest::addRow("0.5: full picture") << 0 << 3 << 0.5 << -1;
    QTest::addRow("0.4: first level") << 0 << 3 << 0.4 << 0;
    QTest::addRow("0.3: first level") << 0 << 3 << 0.3 << 0;
    QTest::addRow("0.1: second level") << 0 << 3 << 0.1 << 1;
    QTest::addRow("0.04: third level") << 0 << 3 << 0.04 << 2;
    QTest::addRow("0.04 with two levels: second") << 0 << 2 << 0.04 << 1;
    // An overview holds the smaller levels only, in their places.
    QTest::addRow("overview, 0.3: full picture") << 1 << 3 << 0.3 << -1;
    QTest::addRow("overview, 0.1: second level") << 1 << 3 << 0.1 << 1;
    QTest::addRow("overview, 0.04: third level") << 1 << 3 << 0.04 << 2;
}

void TestGraphicsItem::levelForDetail()
{
    QFETCH(int, missingCount);
    QFETCH(int, levelCount);
    QFETCH(qreal, levelOfDetail);
    QFETCH(int, expected);

    QList<QPixmap> levels;
    while (levels.size() < missingCount)
        levels.append(QPixmap());
    while (levels.size() < levelCount)
        levels.append(QPixmap(4, 4));
    QCOMPARE(GraphicsImageItem::levelForDetail(levels, levelOfDetail), expected);
}

QTEST_MAIN(TestGraphicsItem)
#include "tst_graphicsitem.moc"
