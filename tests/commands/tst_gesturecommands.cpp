#include "../scene/testitem.h"
#include "commands/commandhandler.h"
#include "commands/flipcommand.h"
#include "commands/movecommand.h"
#include "commands/normalizescalecommand.h"
#include "commands/opacitycommand.h"
#include "commands/rotatecommand.h"
#include "commands/scalecommand.h"
#include "nearly.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"

#include <QtTest>

#include <cmath>

namespace {

constexpr qreal degree = 3.14159265358979323846 / 180;

// Clockwise angle of the item's up direction from straight up, in degrees.
qreal upAngle(const GraphicsItem *item)
{
    const QTransform t = item->fullTransform();
    const QPointF up(-t.m21(), -t.m22());
    return std::atan2(up.x(), -up.y()) / degree;
}

// The pointer turned clockwise about the origin from straight up, 100 units out.
QPointF turned(qreal degrees)
{
    return QPointF(100 * std::sin(degrees * degree), -100 * std::cos(degrees * degree));
}

} // namespace

class TestGestureCommands : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void noteKeepsPlace_data();
    void noteKeepsPlace();
    void axisMove_data();
    void axisMove();
    void neighbourSnap_data();
    void neighbourSnap();
    void rotate_data();
    void rotate();
    void scale_data();
    void scale();
    void normalize_data();
    void normalize();
    void opacity_data();
    void opacity();
    void flip_data();
    void flip();
};

void TestGestureCommands::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(TestItem::alive, 0);
}

void TestGestureCommands::noteKeepsPlace_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QPointF>("noteShift");

    QTest::addRow("rotated image: note stays") << "rotate" << QPointF();
    QTest::addRow("scaled image: note stays") << "scale" << QPointF();
    QTest::addRow("moved image: note moves along") << "move" << QPointF(30, -20);
}

void TestGestureCommands::noteKeepsPlace()
{
    QFETCH(QString, gesture);
    QFETCH(QPointF, noteShift);

    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    auto *image = new TestItem(QRectF(-100, -100, 200, 200));
    scene.addItem(image);
    auto *note = new GraphicsTextItem(QPointF(50, 50), "Note", image);
    const QTransform before = note->fullTransform();

    TransformCommand *command = nullptr;
    if (gesture == "rotate") {
        command = new RotateCommand({ image }, turned(0));
        command->update(turned(70));
    } else if (gesture == "scale") {
        command = new ScaleCommand({ image }, QPointF(100, 0));
        command->update(QPointF(150, 0));
    } else {
        command = new MoveCommand(nullptr, { image }, QPointF(), MoveCommand::FreeMove);
        command->update(QPointF(30, -20));
    }
    command->finish();
    handler.push(command);
    QCOMPARE(handler.count(), 1);
    QVERIFY(nearly(
        note->fullTransform(), before * QTransform::fromTranslate(noteShift.x(), noteShift.y())));
    QCOMPARE(note->parentItem(), image);

    handler.undo();
    QVERIFY(nearly(image->fullTransform(), QTransform()));
    QVERIFY(nearly(note->fullTransform(), before));
}

void TestGestureCommands::axisMove_data()
{
    QTest::addColumn<QPointF>("first");
    QTest::addColumn<QPointF>("second");
    QTest::addColumn<QPointF>("position");

    QTest::addRow("11 units right: vertical motion ignored")
        << QPointF(11, 2) << QPointF(11, 50) << QPointF(11, 0);
    QTest::addRow("9 units right: larger vertical motion takes over")
        << QPointF(9, 2) << QPointF(9, 50) << QPointF(0, 50);
    // The first step is a free move; switching the mode restarts the count where it is.
    QTest::addRow("switched to axis after a free move: anchor restarts")
        << QPointF(30, 0) << QPointF(32, 40) << QPointF(30, 40);
}

void TestGestureCommands::axisMove()
{
    QFETCH(QPointF, first);
    QFETCH(QPointF, second);
    QFETCH(QPointF, position);

    const bool switched = QByteArray(QTest::currentDataTag()).startsWith("switched");
    TestItem item;
    MoveCommand command(
        nullptr, { &item }, QPointF(), switched ? MoveCommand::FreeMove : MoveCommand::AxisMove);
    command.update(first);
    if (switched)
        command.setMode(MoveCommand::AxisMove);
    command.update(second);
    QCOMPARE(item.scenePosition(), position);
}

void TestGestureCommands::neighbourSnap_data()
{
    QTest::addColumn<QPointF>("pointer");
    QTest::addColumn<QPointF>("topLeft");

    // The neighbour covers (-50, -50)-(50, 50); the moved item starts at (250, -30), 100 wide
    // and 60 high. In each comment, where it would go if it followed the pointer.
    // (70, -30):
    QTest::addRow("right of it: tops aligned, gap of 10") << QPointF(120, 0) << QPointF(60, -50);
    // (70, -75): the top is 25 above the other's.
    QTest::addRow("top 25 above still snaps") << QPointF(120, -45) << QPointF(60, -50);
    // (0, 70): 20 below the other.
    QTest::addRow("below it: gap of 10") << QPointF(50, 100) << QPointF(0, 60);
    // (150, -30): beyond reach.
    QTest::addRow("far away: follows the pointer") << QPointF(200, 0) << QPointF(150, -30);
}

void TestGestureCommands::neighbourSnap()
{
    QFETCH(QPointF, pointer);
    QFETCH(QPointF, topLeft);

    GraphicsScene scene(nullptr, nullptr);
    auto *neighbour = new TestItem;
    auto *moved = new TestItem(QRectF(-50, -30, 100, 60), QPointF(300, 0));
    scene.addItems({ neighbour, moved });
    // The moved item's own note must not count as a neighbour.
    new TestItem(QRectF(-5, -5, 10, 10), QPointF(-220, -20), moved);

    MoveCommand command(nullptr, { moved }, QPointF(300, 0), MoveCommand::NeighbourSnapMove, 10);
    command.update(pointer);
    QCOMPARE(moved->sceneBounds().topLeft(), topLeft);
}

void TestGestureCommands::rotate_data()
{
    QTest::addColumn<qreal>("startRotation");
    QTest::addColumn<bool>("flipped");
    QTest::addColumn<qreal>("pointerTurn");
    QTest::addColumn<bool>("snap");
    QTest::addColumn<qreal>("up");

    QTest::addRow("free: turns with the pointer") << 10.0 << false << 50.0 << false << 60.0;
    QTest::addRow("snapped to 45") << 10.0 << false << 50.0 << true << 45.0;
    QTest::addRow("snapped back to straight up") << 10.0 << false << -30.0 << true << 0.0;
    QTest::addRow("snapped to -90") << 0.0 << false << -100.0 << true << -90.0;
    QTest::addRow("flipped item turns with the pointer") << 0.0 << true << 30.0 << false << 30.0;
}

void TestGestureCommands::rotate()
{
    QFETCH(qreal, startRotation);
    QFETCH(bool, flipped);
    QFETCH(qreal, pointerTurn);
    QFETCH(bool, snap);
    QFETCH(qreal, up);

    TestItem item;
    item.setLocalTransform(QTransform::fromScale(flipped ? -1 : 1, 1).rotate(startRotation));
    RotateCommand command({ &item }, turned(0));
    command.setSnap(snap);
    command.update(turned(pointerTurn / 2));
    command.update(turned(pointerTurn));
    QVERIFY2(std::abs(upAngle(&item) - up) < 1e-9, qPrintable(QString::number(upAngle(&item))));
    QCOMPARE(item.scenePosition(), QPointF());
}

void TestGestureCommands::scale_data()
{
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<QPointF>("pivot");
    QTest::addColumn<QPointF>("axis");
    QTest::addColumn<QList<QPointF>>("pointer");
    QTest::addColumn<QRectF>("bounds");

    // The gesture starts at the item's right edge, (50, 0).
    const QRectF square(-50, -50, 100, 100);
    QTest::addRow("no pivot, two steps: each against the grown width")
        << square << QPointF() << QPointF() << QList<QPointF> { { 100, 0 }, { 150, 0 } }
        << QRectF(-150, -150, 300, 300);
    QTest::addRow("pivot at the left edge, two steps")
        << square << QPointF(-50, 0) << QPointF(100, 0) << QList<QPointF> { { 150, 0 }, { 250, 0 } }
        << QRectF(-50, -150, 300, 300);
    // Steps that cannot be measured are ignored rather than collapsing the item.
    const QRectF line(0, -50, 0, 100);
    QTest::addRow("no pivot, no width: ignored")
        << line << QPointF() << QPointF() << QList<QPointF> { { 90, 0 } } << line;
    QTest::addRow("pivot with an axis of length 0: ignored")
        << square << QPointF(5, 5) << QPointF() << QList<QPointF> { { 90, 0 } } << square;
    QTest::addRow("pointer across the pivot: ignored")
        << square << QPointF(1, 1) << QPointF(10, 0) << QList<QPointF> { { -50, 0 } } << square;
}

void TestGestureCommands::scale()
{
    QFETCH(QRectF, rect);
    QFETCH(QPointF, pivot);
    QFETCH(QPointF, axis);
    QFETCH(QList<QPointF>, pointer);
    QFETCH(QRectF, bounds);

    // Away from the origin, where an item whose transform was reset would land.
    const QPointF shift(1000, 0);
    TestItem item(rect, shift);
    ScaleCommand command(
        { &item }, QPointF(50, 0) + shift, pivot.isNull() ? pivot : pivot + shift, axis);
    for (const QPointF &p : qAsConst(pointer))
        command.update(p + shift);
    QCOMPARE(item.sceneBounds(), bounds.translated(shift));
}

void TestGestureCommands::normalize_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<qreal>>("widths");
    QTest::addColumn<QList<qreal>>("expected");

    QTest::addRow("by width") << int(NormalizeScaleCommand::Width) << QList<qreal> { 100, 200, 300 }
                              << QList<qreal> { 200, 200, 200 };
    QTest::addRow("by longest side") << int(NormalizeScaleCommand::LongestSide)
                                     << QList<qreal> { 100, 300 } << QList<qreal> { 200, 200 };
    QTest::addRow("an item of no width is left alone")
        << int(NormalizeScaleCommand::Width) << QList<qreal> { 100, 0, 300 }
        << QList<qreal> { 200, 0, 200 };
}

void TestGestureCommands::normalize()
{
    QFETCH(int, mode);
    QFETCH(QList<qreal>, widths);
    QFETCH(QList<qreal>, expected);

    QList<GraphicsItem *> items;
    for (int i = 0; i < widths.size(); ++i) {
        // Square but for the item of no width, so the longest side is the width.
        const qreal w = widths.at(i);
        items.append(
            new TestItem(QRectF(-w / 2, -w / 2, w, std::max<qreal>(w, 1)), QPointF(400 * i, 0)));
    }
    CommandHandler handler;
    auto *command = new NormalizeScaleCommand(items, mode);
    command->finish();
    handler.push(command);
    for (int i = 0; i < items.size(); ++i) {
        QCOMPARE(items.at(i)->sceneBounds().width(), expected.at(i));
        QCOMPARE(items.at(i)->scenePosition(), QPointF(400 * i, 0));
    }
    handler.undo();
    QCOMPARE(items.first()->sceneBounds().width(), widths.first());
    qDeleteAll(items);
}

void TestGestureCommands::opacity_data()
{
    QTest::addColumn<qreal>("drag");
    QTest::addColumn<float>("first");
    QTest::addColumn<float>("second");

    QTest::addRow("300 pixels left: both transparent") << -300.0 << 0.0f << 0.0f;
    QTest::addRow("100 pixels right: clamped at opaque") << 100.0 << 1.0f << 1.0f;
    QTest::addRow("20 pixels left") << -20.0 << 0.9f << 0.4f;
}

void TestGestureCommands::opacity()
{
    QFETCH(qreal, drag);
    QFETCH(float, first);
    QFETCH(float, second);

    TestItem a;
    TestItem b;
    b.setOpacity(0.5f);
    CommandHandler handler;
    auto *command = new OpacityCommand({ &a, &b }, QPointF(500, 300));
    QVERIFY(command->usesViewCoordinates());
    // In steps, as a drag arrives: the clamp holds at every step.
    command->update(QPointF(500 + drag / 2, 310));
    command->update(QPointF(500 + drag, 280));
    command->finish();
    handler.push(command);
    QVERIFY(std::abs(a.opacity() - first) < 1e-6f);
    QVERIFY(std::abs(b.opacity() - second) < 1e-6f);

    handler.undo();
    QCOMPARE(a.opacity(), 1.0f);
    QCOMPARE(b.opacity(), 0.5f);
    handler.redo();
    QVERIFY(std::abs(b.opacity() - second) < 1e-6f);
}

void TestGestureCommands::flip_data()
{
    QTest::addColumn<QVariant>("how"); // a pointer motion in view pixels, or a direction
    QTest::addColumn<QTransform>("expected");

    const QTransform mirrored = QTransform::fromScale(-1, 1);
    const QTransform upsideDown = QTransform::fromScale(1, -1);
    QTest::addRow("gesture: 10 pixels do nothing") << QVariant(QPointF(10, 4)) << QTransform();
    QTest::addRow("gesture: 11 to the right mirrors") << QVariant(QPointF(11, 4)) << mirrored;
    QTest::addRow("gesture: 11 down turns upside down") << QVariant(QPointF(4, -11)) << upsideDown;
    QTest::addRow("immediate horizontal") << QVariant(0) << mirrored;
    QTest::addRow("immediate vertical") << QVariant(1) << upsideDown;
    QTest::addRow("immediate, unknown direction") << QVariant(2) << QTransform();
}

void TestGestureCommands::flip()
{
    QFETCH(QVariant, how);
    QFETCH(QTransform, expected);

    // Side by side: the centre of both is x = 100, y = 0.
    TestItem a;
    TestItem b(QRectF(-50, -50, 100, 100), QPointF(200, 0));
    CommandHandler handler;
    FlipCommand *command = nullptr;
    if (how.userType() == QMetaType::QPointF) {
        const QPointF start(400, 300);
        command = new FlipCommand({ &a, &b }, start);
        command->update(start + how.toPointF());
        // One flip a gesture, whatever the pointer does afterwards.
        if (command->isFlipped())
            command->update(start + QPointF(-60, 80));
    } else {
        command = new FlipCommand({ &a, &b }, how.toInt());
    }
    command->finish();
    handler.push(command);
    QCOMPARE(handler.count(), expected.isIdentity() ? 0 : 1);
    // Mirrored about the common centre: the two swap places.
    const bool swapped = expected.m11() < 0;
    QVERIFY(nearly(a.fullTransform(), expected * QTransform::fromTranslate(swapped ? 200 : 0, 0)));
    QVERIFY(nearly(b.fullTransform(), expected * QTransform::fromTranslate(swapped ? 0 : 200, 0)));
}

QTEST_MAIN(TestGestureCommands)
#include "tst_gesturecommands.moc"
