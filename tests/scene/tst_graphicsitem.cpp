#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "testitem.h"

#include <QPainter>
#include <QtTest>

#include <cmath>

namespace {

QPixmap *makePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return new QPixmap(QPixmap::fromImage(image));
}

// Where a picture pixel is on the canvas.
QPointF scenePointOfPixel(const GraphicsImageItem &item, const QPointF &pixel)
{
    return (item.imageTransform() * item.fullTransform()).map(pixel);
}

bool samePoint(const QPointF &a, const QPointF &b)
{
    return std::abs(a.x() - b.x()) < 1e-6 && std::abs(a.y() - b.y()) < 1e-6;
}

double axisLength(const QTransform &t, int row)
{
    return row == 0 ? std::hypot(t.m11(), t.m12()) : std::hypot(t.m21(), t.m22());
}

} // namespace

class TestGraphicsItem : public QObject
{
    Q_OBJECT

private slots:
    void newImageItem();
    void sanitizeTransform_data();
    void sanitizeTransform();
    void attachedTransforms();
    void cropKeepsPicture_data();
    void cropKeepsPicture();
    void refusedCropChangesNothing_data();
    void refusedCropChangesNothing();
    void levelForDetail_data();
    void levelForDetail();
    void frames_data();
    void frames();
    void placeholderFillsCanvasColour();
};

void TestGraphicsItem::newImageItem()
{
    GraphicsImageItem item(makePicture(400, 300), "/tmp/a.png", "a", QPointF(10, 20));
    QCOMPARE(item.boundingRect(), QRectF(-200, -150, 400, 300));
    QCOMPARE(item.imageTransform(), QTransform::fromTranslate(-200, -150));
    QCOMPARE(item.transform(), QTransform::fromTranslate(10, 20));
    QCOMPARE(item.pos(), QPointF());
    QCOMPARE(item.id(), -1);
    QCOMPARE(item.itemType(), int(GraphicsItem::ImageItemType));
    QCOMPARE(item.text(), QString("/tmp/a.png"));

    // Handing the item its own picture again keeps it alive.
    item.setImage(item.image());
    QVERIFY(item.image());
    QCOMPARE(item.image()->size(), QSize(400, 300));
}

void TestGraphicsItem::sanitizeTransform_data()
{
    QTest::addColumn<QTransform>("input");
    QTest::addColumn<QTransform>("expected");

    const qreal nan = std::numeric_limits<qreal>::quiet_NaN();
    const qreal inf = std::numeric_limits<qreal>::infinity();
    const qreal max = GraphicsItem::MaximumScale;
    const qreal min = GraphicsItem::MinimumScale;
    QTest::addRow("plain rotation and scale kept")
        << QTransform(0, 2, 0, -3, 0, 0, 5, 6, 1) << QTransform(0, 2, 0, -3, 0, 0, 5, 6, 1);
    QTest::addRow("scale 3e6 clamps to the maximum")
        << QTransform(3e6, 0, 0, 3e6, 7, 8) << QTransform(max, 0, 0, max, 7, 8);
    QTest::addRow("scale 1e-9 clamps to the minimum")
        << QTransform(1e-9, 0, 0, 1e-9, 7, 8) << QTransform(min, 0, 0, min, 7, 8);
    QTest::addRow("shear removed, first row kept")
        << QTransform(2, 0, 0, 1, 3, 0, 0, 0, 1) << QTransform(2, 0, 0, 0, 3, 0, 0, 0, 1);
    QTest::addRow("perspective dropped")
        << QTransform(1, 0, 0.5, 0, 1, 0.25, 4, 4, 2) << QTransform(1, 0, 0, 1, 4, 4);
    QTest::addRow("NaN becomes the identity")
        << QTransform(nan, 0, 0, 1, 5, 5) << QTransform();
    QTest::addRow("infinite translation becomes the identity")
        << QTransform(1, 0, 0, 1, inf, 5) << QTransform();
    QTest::addRow("zero axis resets the linear part, keeps the position")
        << QTransform(0, 0, 0, 1, 5, 6) << QTransform(1, 0, 0, 1, 5, 6);
    QTest::addRow("overflowing axis resets the linear part")
        << QTransform(1.5e308, 1.5e308, 0, 1, 5, 6) << QTransform(1, 0, 0, 1, 5, 6);
    QTest::addRow("parallel axes reset the linear part")
        << QTransform(1, 0, 0, 2, 0, 0, 0, 0, 1) << QTransform(1, 0, 0, 1, 0, 0);
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

    for (int row = 0; row < 2; ++row) {
        QVERIFY2(axisLength(result, row) <= GraphicsItem::MaximumScale * (1 + 1e-12),
                 qPrintable(QString::number(axisLength(result, row))));
        QVERIFY2(axisLength(result, row) >= GraphicsItem::MinimumScale * (1 - 1e-12),
                 qPrintable(QString::number(axisLength(result, row))));
    }
    const qreal dot = result.m11() * result.m21() + result.m12() * result.m22();
    QVERIFY(std::abs(dot) <= 1e-9 * axisLength(result, 0) * axisLength(result, 1));
    const qreal entries[2][9] = {
        { result.m11(), result.m12(), result.m13(), result.m21(), result.m22(), result.m23(),
          result.m31(), result.m32(), result.m33() },
        { expected.m11(), expected.m12(), expected.m13(), expected.m21(), expected.m22(),
          expected.m23(), expected.m31(), expected.m32(), expected.m33() },
    };
    for (int i = 0; i < 9; ++i) {
        const qreal scale = std::max({ std::abs(entries[1][i]), 1e-30 });
        QVERIFY2(std::abs(entries[0][i] - entries[1][i]) <= 1e-9 * scale,
                 qPrintable(QString("entry %1: %2 instead of %3")
                                .arg(i)
                                .arg(entries[0][i], 0, 'g', 17)
                                .arg(entries[1][i], 0, 'g', 17)));
    }
}

void TestGraphicsItem::attachedTransforms()
{
    TestItem parent(QRectF(-10, -10, 20, 20), QPointF(100, 0));
    parent.setFullTransform(QTransform().translate(100, 0).rotate(90).scale(2, 2));
    auto *child = new TestItem(QRectF(-5, -5, 10, 10), QPointF(0, 0), &parent);
    // The position given at construction is a local one.
    QVERIFY(samePoint(child->scenePosition(), QPointF(100, 0)));

    child->setScenePosition(QPointF(100, 50));
    QVERIFY(samePoint(child->scenePosition(), QPointF(100, 50)));
    QVERIFY(samePoint(child->fullTransform().map(QPointF()), child->sceneTransform().map(QPointF())));
    QCOMPARE(child->pos(), QPointF());

    // A shear asked for in scene terms is removed from the full transform, not the local one.
    child->setFullTransform(QTransform(1, 0, 1, 1, 100, 50));
    const QTransform full = child->fullTransform();
    QVERIFY(std::abs(full.m11() * full.m21() + full.m12() * full.m22()) < 1e-9);

    child->setFullTransform(QTransform::fromTranslate(3, 4));
    child->moveBy(10, 0);
    QVERIFY(samePoint(child->scenePosition(), QPointF(13, 4)));
    QVERIFY(samePoint(child->sceneBounds().topLeft(), QPointF(8, -1)));
}

void TestGraphicsItem::cropKeepsPicture_data()
{
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<QRectF>("crop");

    const QRectF crop(-150, -50, 200, 120);
    QTest::addRow("identity") << QTransform::fromTranslate(30, 40) << crop;
    QTest::addRow("rotated 30") << QTransform().translate(30, 40).rotate(30) << crop;
    QTest::addRow("flipped horizontally") << QTransform().translate(30, 40).scale(-1, 1) << crop;
    QTest::addRow("rotated 90, scaled 2") << QTransform().translate(-5, 5).rotate(90).scale(2, 2)
                                          << crop;
    QTest::addRow("flipped vertically, rotated 45, scaled 0.5")
        << QTransform().translate(0, 0).rotate(45).scale(0.5, -0.5) << crop;
    QTest::addRow("crop larger than the picture is clipped")
        << QTransform().translate(10, 10).rotate(-60) << QRectF(-1000, -1000, 1100, 1100);
}

void TestGraphicsItem::cropKeepsPicture()
{
    QFETCH(QTransform, transform);
    QFETCH(QRectF, crop);

    GraphicsImageItem item(makePicture(400, 300), QString(), QString(), QPointF());
    item.setLocalTransform(transform);
    auto *child = new TestItem(QRectF(-5, -5, 10, 10), QPointF(), &item);
    child->setScenePosition(QPointF(77, -33));
    const QTransform childFull = child->fullTransform();
    const QPointF pixels[] = { QPointF(0, 0), QPointF(400, 0), QPointF(0, 300),
                               QPointF(123, 217) };
    QList<QPointF> before;
    for (const QPointF &pixel : pixels)
        before.append(scenePointOfPixel(item, pixel));

    QPainterPath path;
    path.addRect(crop);
    item.cropTo(path, true);

    const QTransform local = item.transform();
    QVERIFY2(local.type() <= QTransform::TxTranslate, "the item's transform is a translation");
    QVERIFY(samePoint(item.boundingRect().center(), QPointF()));
    for (int i = 0; i < before.size(); ++i)
        QVERIFY2(samePoint(scenePointOfPixel(item, pixels[i]), before.at(i)),
                 qPrintable(QString("pixel %1 moved").arg(i)));
    QVERIFY(samePoint(child->fullTransform().map(QPointF(1, 1)), childFull.map(QPointF(1, 1))));

    item.resetCrop();
    QCOMPARE(item.boundingRect(), QRectF(-200, -150, 400, 300));
    QVERIFY(GraphicsItem::nearlyEqual(item.imageTransform(), QTransform::fromTranslate(-200, -150)));
    for (int i = 0; i < before.size(); ++i)
        QVERIFY2(samePoint(scenePointOfPixel(item, pixels[i]), before.at(i)),
                 qPrintable(QString("pixel %1 moved by the reset").arg(i)));
    // The rotation, flip and scale are back in the item's own transform.
    const QTransform restored = item.transform();
    QVERIFY(std::abs(restored.m11() - transform.m11()) < 1e-9);
    QVERIFY(std::abs(restored.m12() - transform.m12()) < 1e-9);
    QVERIFY(std::abs(restored.m21() - transform.m21()) < 1e-9);
    QVERIFY(std::abs(restored.m22() - transform.m22()) < 1e-9);
    QVERIFY(samePoint(child->fullTransform().map(QPointF(1, 1)), childFull.map(QPointF(1, 1))));
}

void TestGraphicsItem::refusedCropChangesNothing_data()
{
    QTest::addColumn<QRectF>("crop");
    QTest::addColumn<bool>("clip");

    QTest::addRow("half a unit wide") << QRectF(0, 0, 0.5, 50) << true;
    QTest::addRow("exactly one unit high") << QRectF(0, 0, 50, 1) << false;
    QTest::addRow("outside the crop, clipping") << QRectF(500, 500, 50, 50) << true;
    QTest::addRow("sliver left by clipping") << QRectF(199.5, 0, 50, 50) << true;
}

void TestGraphicsItem::refusedCropChangesNothing()
{
    QFETCH(QRectF, crop);
    QFETCH(bool, clip);

    GraphicsImageItem item(makePicture(400, 300), QString(), QString(), QPointF());
    // Flipped: a refused crop that still moved the flip into the image transform would show the
    // picture mirrored.
    const QTransform transform = QTransform().translate(3, 4).scale(-1, 1);
    item.setLocalTransform(transform);
    const QTransform imageTransform = item.imageTransform();

    QPainterPath path;
    path.addRect(crop);
    item.cropTo(path, clip);

    QVERIFY(GraphicsItem::nearlyEqual(item.transform(), GraphicsItem::sanitizeTransform(transform)));
    QCOMPARE(item.imageTransform(), imageTransform);
    QCOMPARE(item.boundingRect(), QRectF(-200, -150, 400, 300));
}

void TestGraphicsItem::levelForDetail_data()
{
    QTest::addColumn<int>("levelCount");
    QTest::addColumn<qreal>("levelOfDetail");
    QTest::addColumn<int>("expected");

    QTest::addRow("0.5: full picture") << 3 << 0.5 << -1;
    QTest::addRow("0.4: first level") << 3 << 0.4 << 0;
    QTest::addRow("0.3: first level") << 3 << 0.3 << 0;
    QTest::addRow("0.1: second level") << 3 << 0.1 << 1;
    QTest::addRow("0.04: third level") << 3 << 0.04 << 2;
    QTest::addRow("0.04 with two levels: second") << 2 << 0.04 << 1;
    QTest::addRow("no levels") << 0 << 0.01 << -1;
}

void TestGraphicsItem::levelForDetail()
{
    QFETCH(int, levelCount);
    QFETCH(qreal, levelOfDetail);
    QFETCH(int, expected);

    QList<QPixmap> levels;
    for (int i = 0; i < levelCount; ++i)
        levels.append(QPixmap(4, 4));
    QCOMPARE(GraphicsImageItem::levelForDetail(levels, levelOfDetail), expected);
}

void TestGraphicsItem::frames_data()
{
    QTest::addColumn<int>("borderMode");
    QTest::addColumn<bool>("highlight");
    QTest::addColumn<bool>("selectParent");
    QTest::addColumn<QColor>("expected");

    const QColor canvas(10, 10, 10);
    const QColor border(0, 200, 0);
    const QColor selection(200, 100, 250);
    QTest::addRow("mode 2, nothing selected: border colour") << 2 << true << false << border;
    QTest::addRow("mode 1, nothing selected: no frame") << 1 << true << false << canvas;
    QTest::addRow("mode 1, parent selected: darkened selection")
        << 1 << true << true << selection.darker(400);
    QTest::addRow("mode 2, parent selected, no highlight: border colour")
        << 2 << false << true << border;
    QTest::addRow("mode 0, parent selected: no frame") << 0 << true << true << canvas;
}

void TestGraphicsItem::frames()
{
    QFETCH(int, borderMode);
    QFETCH(bool, highlight);
    QFETCH(bool, selectParent);
    QFETCH(QColor, expected);

    GraphicsScene scene(nullptr, nullptr);
    scene.setCanvasColor(QColor(10, 10, 10));
    scene.setBorderColor(QColor(0, 200, 0));
    scene.setSelectionColor(QColor(200, 100, 250));
    scene.setBorderMode(borderMode);
    scene.setSelectionHighlight(highlight);
    auto *parent = new TestItem(QRectF(-50, -50, 100, 100), QPointF(0, 0));
    scene.addItem(parent);
    // A transparent child far from its parent, so only its own frame is drawn there.
    class EmptyChild : public TestItem
    {
    public:
        using TestItem::TestItem;
        void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override
        {
            paintBorder(painter);
        }
    };
    auto *child = new EmptyChild(QRectF(-10, -10, 20, 20), QPointF(100, 0), parent);
    parent->setSelected(selectParent);
    scene.setSceneRect(QRectF(-100, -100, 250, 200));

    QImage image(250, 200, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    scene.render(&painter, QRectF(0, 0, 250, 200), QRectF(-100, -100, 250, 200));
    painter.end();
    // Left edge of the child's frame, at scene (90, 0).
    QCOMPARE(QColor(image.pixel(190, 100)).rgb(), expected.rgb());
    Q_UNUSED(child)
}

void TestGraphicsItem::placeholderFillsCanvasColour()
{
    GraphicsScene scene(nullptr, nullptr);
    scene.setCanvasColor(QColor(1, 2, 3));
    scene.setBorderMode(0);
    scene.setDrawBackgroundEnabled(false);
    auto *item = new GraphicsImageItem(makePicture(200, 100), QString(), "lost", QPointF());
    item->setLocalTransform(QTransform().rotate(90));
    item->setImage(nullptr);
    scene.addItem(item);
    scene.setSceneRect(QRectF(-100, -100, 200, 200));
    QCOMPARE(item->boundingRect(), QRectF(-100, -50, 200, 100));

    QImage image(200, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    scene.render(&painter, QRectF(0, 0, 200, 200), QRectF(-100, -100, 200, 200));
    painter.end();
    // Drawn upright: the unrotated 200 x 100 rectangle, despite the item's rotation.
    QCOMPARE(QColor(image.pixel(5, 55)), QColor(1, 2, 3));
    QCOMPARE(QColor(image.pixel(100, 20)), QColor(Qt::white));
}

QTEST_MAIN(TestGraphicsItem)
#include "tst_graphicsitem.moc"
