#include "../scene/testitem.h"
#include "commands/commandhandler.h"
#include "commands/cropcommand.h"
#include "commands/croppancommand.h"
#include "commands/cropzoomcommand.h"
#include "commands/resetcropcommand.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"

#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// 400 x 300 pixels: item coordinates (-200, -150)-(200, 150) while uncut.
std::unique_ptr<GraphicsImageItem> makeImage(const QTransform &transform)
{
    auto *pixmap = new QPixmap(400, 300);
    pixmap->fill(Qt::darkCyan);
    auto image = std::make_unique<GraphicsImageItem>(pixmap, "p.png", "p", QPointF());
    image->setLocalTransform(transform);
    return image;
}

// Where the picture's pixels are on the scene.
QTransform pictureToScene(const GraphicsImageItem &image)
{
    return image.imageTransform() * image.fullTransform();
}

bool near(const QTransform &a, const QTransform &b)
{
    const qreal d[] = { a.m11() - b.m11(), a.m12() - b.m12(), a.m21() - b.m21(), a.m22() - b.m22(),
        a.dx() - b.dx(), a.dy() - b.dy() };
    return std::all_of(std::begin(d), std::end(d), [](qreal v) { return std::abs(v) < 1e-7; });
}

bool near(const QPointF &a, const QPointF &b)
{
    return std::abs(a.x() - b.x()) < 1e-7 && std::abs(a.y() - b.y()) < 1e-7;
}

bool near(const QRectF &a, const QRectF &b)
{
    return near(a.topLeft(), b.topLeft()) && near(a.bottomRight(), b.bottomRight());
}

bool isTranslation(const QTransform &t)
{
    return near(QTransform(t.m11(), t.m12(), t.m21(), t.m22(), 0, 0), QTransform());
}

// A window cut out of a rotated, scaled picture, as the gestures below start from.
void cropTo(GraphicsImageItem &image, const QRectF &window)
{
    QPainterPath path;
    path.addRect(window);
    image.cropTo(image.mapFromScene(path), true);
}

const QTransform rotated = QTransform().translate(1000, 500).rotate(30).scale(1.5, 1.5);

} // namespace

class TestCropCommands : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void crop_data();
    void crop();
    void notesTakeNoPart_data();
    void notesTakeNoPart();
    void pan_data();
    void pan();
    void zoom_data();
    void zoom();
    void reset_data();
    void reset();
    void attachedItemsStayOnUndo_data();
    void attachedItemsStayOnUndo();
};

void TestCropCommands::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(TestItem::alive, 0);
}

void TestCropCommands::crop_data()
{
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<QRectF>("dragged");
    QTest::addColumn<QRectF>("window"); // null: no change, no undo step

    QTest::addRow("rotated 30, inside the picture") << QTransform().translate(1000, 500).rotate(
        30) << QRectF(940, 460, 120, 80) << QRectF(940, 460, 120, 80);
    QTest::addRow("rotated 90 and scaled, inside") << QTransform().rotate(90).scale(
        2, 2) << QRectF(-250, -350, 350, 550) << QRectF(-250, -350, 350, 550);
    QTest::addRow("mirrored, over the right edge") << QTransform().translate(100, 100).scale(
        -1, 1) << QRectF(200, 0, 300, 100) << QRectF(200, 0, 100, 100);
    QTest::addRow("dragged up and left")
        << QTransform().translate(10, 10) << QRectF(QPointF(50, 60), QPointF(-30, -20)).normalized()
        << QRectF(-30, -20, 80, 80);
    QTest::addRow("beside the picture") << rotated << QRectF(3000, 3000, 100, 100) << QRectF();
    QTest::addRow("click without drag") << rotated << QRectF(1000, 500, 0, 0) << QRectF();
}

void TestCropCommands::crop()
{
    QFETCH(QTransform, transform);
    QFETCH(QRectF, dragged);
    QFETCH(QRectF, window);

    auto image = makeImage(transform);
    const QTransform picture = pictureToScene(*image);
    const QTransform itemBefore = image->fullTransform();
    const QPainterPath cropBefore = image->cropPath();
    const QTransform imageTransformBefore = image->imageTransform();

    CommandHandler handler;
    auto *command = new CropCommand({ image.get() }, dragged.bottomRight());
    command->update(dragged.center());
    command->update(dragged.topLeft());
    command->finish();
    handler.push(command);

    // The picture never moves on the screen; only the window onto it changes.
    QVERIFY(near(pictureToScene(*image), picture));
    if (window.isNull()) {
        QCOMPARE(handler.count(), 0);
        QCOMPARE(image->cropPath(), cropBefore);
        QVERIFY(near(image->fullTransform(), itemBefore));
        return;
    }
    QCOMPARE(handler.count(), 1);
    QVERIFY(near(image->sceneBounds(), window));
    QVERIFY(isTranslation(image->fullTransform()));

    handler.undo();
    QVERIFY(near(image->fullTransform(), itemBefore));
    QCOMPARE(image->cropPath(), cropBefore);
    QCOMPARE(image->imageTransform(), imageTransformBefore);

    handler.redo();
    QVERIFY(near(image->sceneBounds(), window));
    QVERIFY(near(pictureToScene(*image), picture));
}

void TestCropCommands::notesTakeNoPart_data()
{
    QTest::addColumn<QString>("kind");

    for (const char *kind : { "crop", "pan", "zoom", "reset" })
        QTest::addRow("%s", kind) << QString(kind);
}

void TestCropCommands::notesTakeNoPart()
{
    QFETCH(QString, kind);

    const auto make = [&kind](const QList<GraphicsItem *> &items) -> TransformCommand * {
        const QPointF start(1000, 500);
        if (kind == "crop")
            return new CropCommand(items, start);
        if (kind == "pan")
            return new CropPanCommand(items, start);
        if (kind == "zoom")
            return new CropZoomCommand(items, start);
        return new ResetCropCommand(items);
    };
    auto image = makeImage(rotated);
    cropTo(*image, QRectF(950, 450, 100, 100));
    GraphicsTextItem note(QPointF(1000, 500), "note");
    const QTransform noteBefore = note.fullTransform();

    CommandHandler handler;
    TransformCommand *command = make({ &note, image.get() });
    QCOMPARE(command->items(), QList<GraphicsItem *> { image.get() });
    command->update(QPointF(1040, 530));
    command->update(QPointF(960, 470));
    command->finish();
    handler.push(command);
    QCOMPARE(handler.count(), 1);
    QCOMPARE(note.fullTransform(), noteBefore);

    command = make({ &note });
    QVERIFY(command->items().isEmpty());
    command->update(QPointF(1040, 530));
    command->finish();
    handler.push(command);
    QCOMPARE(handler.count(), 1);
}

void TestCropCommands::pan_data()
{
    QTest::addColumn<QPointF>("to");

    QTest::addRow("dragged") << QPointF(1030, 480);
    QTest::addRow("no motion") << QPointF(1000, 500);
}

void TestCropCommands::pan()
{
    QFETCH(QPointF, to);

    auto image = makeImage(rotated);
    cropTo(*image, QRectF(950, 450, 100, 100));
    const QRectF window = image->sceneBounds();
    const QTransform item = image->fullTransform();
    const QTransform picture = pictureToScene(*image);
    const QPointF from(1000, 500);

    CommandHandler handler;
    auto *command = new CropPanCommand({ image.get() }, from);
    command->update((from + to) / 2);
    command->update(to);
    command->finish();
    handler.push(command);

    QCOMPARE(image->fullTransform(), item);
    QVERIFY(near(image->sceneBounds(), window));
    if (to == from) {
        QCOMPARE(handler.count(), 0);
        return;
    }
    // The picture point that was under the pointer went with it.
    const QPointF grabbed = picture.inverted().map(from);
    QVERIFY(near(pictureToScene(*image).map(grabbed), to));

    handler.undo();
    QVERIFY(near(pictureToScene(*image), picture));
    QCOMPARE(image->fullTransform(), item);
}

void TestCropCommands::zoom_data()
{
    QTest::addColumn<qreal>("dx");
    QTest::addColumn<bool>("grows");

    QTest::addRow("dragged right: the picture grows") << 70.0 << true;
    QTest::addRow("dragged left: the picture shrinks") << -30.0 << false;
    QTest::addRow("no horizontal motion") << 0.0 << false;
}

void TestCropCommands::zoom()
{
    QFETCH(qreal, dx);
    QFETCH(bool, grows);

    auto image = makeImage(rotated);
    cropTo(*image, QRectF(900, 420, 200, 160));
    const QRectF window = image->sceneBounds();
    const QTransform item = image->fullTransform();
    const QTransform picture = pictureToScene(*image);
    const QPainterPath crop = image->cropPath();
    const QPointF start(960, 470);

    CommandHandler handler;
    auto *command = new CropZoomCommand({ image.get() }, start);
    command->update(start + QPointF(dx / 2, 15));
    command->update(start + QPointF(dx, -10));
    command->finish();
    handler.push(command);

    QVERIFY(near(image->sceneBounds(), window));
    if (dx == 0) {
        QCOMPARE(handler.count(), 0);
        QVERIFY(near(pictureToScene(*image), picture));
        return;
    }
    const qreal scaleBefore = std::hypot(picture.m11(), picture.m12());
    const QTransform zoomed = pictureToScene(*image);
    QCOMPARE(std::hypot(zoomed.m11(), zoomed.m12()) > scaleBefore, grows);
    // It grows or shrinks about the start point: the picture point there stays there.
    QVERIFY(near(zoomed.map(picture.inverted().map(start)), start));

    handler.undo();
    QVERIFY(near(pictureToScene(*image), picture));
    QVERIFY(near(image->fullTransform(), item));
    QCOMPARE(image->cropPath(), crop);

    handler.redo();
    QVERIFY(near(pictureToScene(*image), zoomed));
    QVERIFY(near(image->sceneBounds(), window));
}

void TestCropCommands::reset_data()
{
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("panned");
    QTest::addColumn<bool>("undoStep");

    QTest::addRow("cut after a rotation") << true << false << true;
    QTest::addRow("cut, then panned") << true << true << true;
    QTest::addRow("only panned") << false << true << true;
    QTest::addRow("never cut") << false << false << false;
}

void TestCropCommands::reset()
{
    QFETCH(bool, cut);
    QFETCH(bool, panned);
    QFETCH(bool, undoStep);

    auto image = makeImage(rotated);
    const QTransform original = pictureToScene(*image);
    CommandHandler handler;
    if (cut) {
        auto *crop = new CropCommand({ image.get() }, QPointF(950, 450));
        crop->update(QPointF(1050, 560));
        crop->finish();
        handler.push(crop);
    }
    if (panned) {
        auto *pan = new CropPanCommand({ image.get() }, QPointF(1000, 500));
        pan->update(QPointF(1010, 490));
        pan->finish();
        handler.push(pan);
    }
    const QTransform before = pictureToScene(*image);
    const QRectF windowBefore = image->sceneBounds();
    const int steps = handler.count();

    handler.push(new ResetCropCommand({ image.get() }));
    QCOMPARE(handler.count(), steps + (undoStep ? 1 : 0));

    // The whole picture, where it was, with the rotation back in the item's own transform.
    QPainterPath full;
    full.addRect(-200, -150, 400, 300);
    QCOMPARE(image->cropPath(), full);
    QVERIFY(near(image->imageTransform(), QTransform::fromTranslate(-200, -150)));
    const QTransform picture = pictureToScene(*image);
    QVERIFY(near(picture, before));
    if (!panned)
        QVERIFY(near(picture, original));
    if (!undoStep)
        return;

    handler.undo();
    QVERIFY(near(pictureToScene(*image), before));
    QVERIFY(near(image->sceneBounds(), windowBefore));
    handler.redo();
    QCOMPARE(image->cropPath(), full);
    QVERIFY(near(pictureToScene(*image), before));
}

void TestCropCommands::attachedItemsStayOnUndo_data()
{
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<int>("fixedTypes");
    QTest::addColumn<bool>("resetToo");

    const int note = QTransform::TxScale | QTransform::TxRotate;
    QTest::addRow("note, upright image") << QTransform::fromTranslate(40, 30) << note << false;
    QTest::addRow("attached image, rotated image") << rotated << 0 << false;
    QTest::addRow("attached image, reset of a rotated image") << rotated << 0 << true;
}

// Cutting changes nothing on the screen but the window, so neither doing nor undoing it may move
// what is attached to the image.
void TestCropCommands::attachedItemsStayOnUndo()
{
    QFETCH(QTransform, transform);
    QFETCH(int, fixedTypes);
    QFETCH(bool, resetToo);

    auto image = makeImage(transform);
    auto *child = new TestItem(QRectF(-10, -10, 20, 20), QPointF(), image.get(), fixedTypes);
    child->setFullTransform(QTransform::fromTranslate(transform.dx() + 30, transform.dy() - 170));
    const QTransform childBefore = child->fullTransform();

    CommandHandler handler;
    const QPointF corner = transform.map(QPointF(-20, -30));
    auto *crop = new CropCommand({ image.get() }, corner);
    crop->update(corner + QPointF(90, 70));
    crop->finish();
    handler.push(crop);
    QCOMPARE(handler.count(), 1);
    if (resetToo)
        handler.push(new ResetCropCommand({ image.get() }));

    for (int round = 0; round < 2; ++round) {
        QVERIFY(near(child->fullTransform(), childBefore));
        handler.undo();
        QVERIFY(near(child->fullTransform(), childBefore));
        handler.redo();
    }
}

QTEST_MAIN(TestCropCommands)
#include "tst_cropcommands.moc"
