#include "../scene/testitem.h"
#include "commands/commandhandler.h"
#include "commands/cropcommand.h"
#include "commands/croppancommand.h"
#include "commands/cropzoomcommand.h"
#include "commands/resetcropcommand.h"
#include "nearly.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"

#include <QtTest>

#include <cmath>
#include <memory>

namespace {

const QTransform rotated = QTransform().translate(1000, 500).rotate(30).scale(1.5, 1.5);

// 400 x 300 pixels: item coordinates (-200, -150)-(200, 150) while uncut.
std::unique_ptr<GraphicsImageItem> makeImage(const QTransform &transform, const QRectF &cut = {})
{
    QImage pixels(400, 300, QImage::Format_RGB32);
    pixels.fill(Qt::darkCyan);
    auto image
        = std::make_unique<GraphicsImageItem>(Picture::fromPixels(pixels), "p.png", "p", QPointF());
    image->setLocalTransform(transform);
    if (!cut.isNull()) {
        QPainterPath path;
        path.addRect(cut);
        image->cropTo(image->mapFromScene(path), true);
    }
    return image;
}

// Where the picture's pixels are on the scene.
QTransform pictureToScene(const GraphicsImageItem &image)
{
    return image.imageTransform() * image.fullTransform();
}

bool near(const QTransform &a, const QTransform &b)
{
    return nearly(a, b, 1e-7);
}

bool near(const QPointF &a, const QPointF &b)
{
    return std::abs(a.x() - b.x()) < 1e-7 && std::abs(a.y() - b.y()) < 1e-7;
}

bool near(const QRectF &a, const QRectF &b)
{
    return near(a.topLeft(), b.topLeft()) && near(a.bottomRight(), b.bottomRight());
}

} // namespace

class TestCropCommands : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void crop_data();
    void crop();
    void notesTakeNoPart_data();
    void notesTakeNoPart();
    void insideWindow_data();
    void insideWindow();
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

    QTest::addRow("rotated and scaled, inside the picture")
        << rotated << QRectF(940, 460, 120, 80) << QRectF(940, 460, 120, 80);
    QTest::addRow("mirrored, over the right edge") << QTransform().translate(100, 100).scale(
        -1, 1) << QRectF(200, 0, 300, 100) << QRectF(200, 0, 100, 100);
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
    const QTransform item = image->fullTransform();
    const QPainterPath cropPath = image->cropPath();

    CommandHandler handler;
    auto *command = new CropCommand({ image.get() }, dragged.bottomRight());
    command->update(dragged.center());
    command->update(dragged.topLeft());
    command->finish();
    handler.push(command);

    // The picture never moves on the screen; only the window onto it changes.
    QVERIFY(near(pictureToScene(*image), picture));
    QCOMPARE(handler.count(), window.isNull() ? 0 : 1);
    if (window.isNull())
        return;
    // An axis-aligned window on the screen: the rotation went into the image transform.
    QVERIFY(near(image->sceneBounds(), window));
    QVERIFY(near(image->fullTransform(),
        QTransform::fromTranslate(window.center().x(), window.center().y())));

    handler.undo();
    QVERIFY(near(image->fullTransform(), item));
    QCOMPARE(image->cropPath(), cropPath);
    QVERIFY(near(pictureToScene(*image), picture));
    handler.redo();
    QVERIFY(near(image->sceneBounds(), window));
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
    auto image = makeImage(rotated, QRectF(950, 450, 100, 100));
    GraphicsTextItem note(QPointF(1000, 500), "note");
    const QTransform noteBefore = note.fullTransform();

    CommandHandler handler;
    for (const QList<GraphicsItem *> &given :
        { QList<GraphicsItem *> { &note, image.get() }, QList<GraphicsItem *> { &note } }) {
        TransformCommand *command = make(given);
        QCOMPARE(command->items(), given.mid(1));
        command->update(QPointF(1040, 530));
        command->update(QPointF(960, 470));
        command->finish();
        handler.push(command);
        // A list of notes only makes a command that changes nothing.
        QCOMPARE(handler.count(), 1);
        QCOMPARE(note.fullTransform(), noteBefore);
    }
}

void TestCropCommands::insideWindow_data()
{
    QTest::addColumn<bool>("zoom");
    QTest::addColumn<QPointF>("motion");
    QTest::addColumn<int>("growth"); // of the picture: 1 larger, -1 smaller, 0 same

    QTest::addRow("pan") << false << QPointF(30, -20) << 0;
    QTest::addRow("pan without motion") << false << QPointF(0, 0) << 0;
    QTest::addRow("zoom, dragged right") << true << QPointF(70, -10) << 1;
    QTest::addRow("zoom, dragged left") << true << QPointF(-30, 5) << -1;
    QTest::addRow("zoom without horizontal motion") << true << QPointF(0, 25) << 0;
}

// Panning and zooming move the picture inside a window that stays where it is on the screen.
void TestCropCommands::insideWindow()
{
    QFETCH(bool, zoom);
    QFETCH(QPointF, motion);
    QFETCH(int, growth);

    auto image = makeImage(rotated, QRectF(900, 420, 200, 160));
    const QRectF window = image->sceneBounds();
    const QTransform item = image->fullTransform();
    const QTransform picture = pictureToScene(*image);
    const QPointF start(960, 470);

    CommandHandler handler;
    TransformCommand *command = zoom
        ? static_cast<TransformCommand *>(new CropZoomCommand({ image.get() }, start))
        : new CropPanCommand({ image.get() }, start);
    command->update(start + motion / 2);
    command->update(start + motion);
    command->finish();
    handler.push(command);

    QVERIFY(near(image->sceneBounds(), window));
    const QTransform moved = pictureToScene(*image);
    if (handler.count() == 0) {
        QVERIFY(near(moved, picture));
        QVERIFY(motion.isNull() || (zoom && motion.x() == 0));
        return;
    }
    if (!zoom)
        QCOMPARE(image->fullTransform(), item);
    const qreal change
        = std::hypot(moved.m11(), moved.m12()) / std::hypot(picture.m11(), picture.m12());
    QCOMPARE(change > 1 + 1e-9 ? 1 : change < 1 - 1e-9 ? -1 : 0, growth);
    // The picture point under the start point follows the pointer when panning, and stays
    // under the start point when zooming.
    const QPointF grabbed = picture.inverted().map(start);
    const QPointF expected = zoom ? start : start + motion;
    QVERIFY(near(moved.map(grabbed), expected));

    handler.undo();
    QVERIFY(near(pictureToScene(*image), picture));
    QVERIFY(near(image->fullTransform(), item));
    handler.redo();
    QVERIFY(near(pictureToScene(*image), moved));
    QVERIFY(near(image->sceneBounds(), window));
}

void TestCropCommands::reset_data()
{
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("panned");

    QTest::addRow("cut after a rotation") << true << false;
    QTest::addRow("only panned") << false << true;
    QTest::addRow("never cut") << false << false;
}

void TestCropCommands::reset()
{
    QFETCH(bool, cut);
    QFETCH(bool, panned);

    auto image = makeImage(rotated, cut ? QRectF(950, 450, 100, 110) : QRectF());
    CommandHandler handler;
    if (panned) {
        auto *pan = new CropPanCommand({ image.get() }, QPointF(1000, 500));
        pan->update(QPointF(1010, 490));
        handler.push(pan);
    }
    const QTransform picture = pictureToScene(*image);
    const QRectF window = image->sceneBounds();
    const int steps = handler.count();

    handler.push(new ResetCropCommand({ image.get() }));
    QCOMPARE(handler.count(), steps + (cut || panned ? 1 : 0));
    // The whole picture where it was, the rotation back in the item's own transform.
    QCOMPARE(image->cropPath().boundingRect(), QRectF(-200, -150, 400, 300));
    QVERIFY(near(image->imageTransform(), QTransform::fromTranslate(-200, -150)));
    QVERIFY(near(pictureToScene(*image), picture));
    if (!panned)
        QVERIFY(near(image->fullTransform(), rotated));

    handler.undo();
    QVERIFY(near(pictureToScene(*image), picture));
    QVERIFY(near(image->sceneBounds(), window));
}

void TestCropCommands::attachedItemsStayOnUndo_data()
{
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<int>("fixedTypes");
    QTest::addColumn<bool>("reset");

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
    QFETCH(bool, reset);

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
    if (reset)
        handler.push(new ResetCropCommand({ image.get() }));
    QCOMPARE(handler.count(), reset ? 2 : 1);

    for (int round = 0; round < 2; ++round) {
        QVERIFY(near(child->fullTransform(), childBefore));
        handler.undo();
        QVERIFY(near(child->fullTransform(), childBefore));
        handler.redo();
    }
}

QTEST_MAIN(TestCropCommands)
#include "tst_cropcommands.moc"
