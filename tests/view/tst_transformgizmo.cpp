#include "commands/commandhandler.h"
#include "input/actionhandler.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "view/graphicsview.h"
#include "view/transformgizmo.h"

#include "../scene/testitem.h"

#include <QLineF>
#include <QTest>
#include <QtMath>

#include <cmath>
#include <memory>

// The hit test on its own, and the gizmo's drags driven through the view with window-system
// mouse events on an offscreen window.
class tst_TransformGizmo : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hitTest_data();
    void hitTest();
    void cursorTurnsOntoItsCorner_data();
    void cursorTurnsOntoItsCorner();
    void placement_data();
    void placement();
    void hidden_data();
    void hidden();
    void dragScales_data();
    void dragScales();
    void dragRotates_data();
    void dragRotates();

private:
    QWindow *window() const { return m_view->windowHandle(); }
    QPoint viewPos(const QPointF &scenePos) const { return m_view->mapFromScene(scenePos); }
    static void settle();

    std::unique_ptr<CommandHandler> m_commands;
    std::unique_ptr<GraphicsScene> m_scene;
    std::unique_ptr<GraphicsView> m_view;
};

void tst_TransformGizmo::init()
{
    m_commands = std::make_unique<CommandHandler>();
    m_scene = std::make_unique<GraphicsScene>(nullptr, m_commands.get());
    m_view = std::make_unique<GraphicsView>(m_scene.get(), m_commands.get());
    m_view->setActivateSelected(false);
    m_view->resize(600, 500);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
}

void tst_TransformGizmo::cleanup()
{
    m_view.reset();
    m_commands->clear();
    m_scene.reset();
    m_commands.reset();
    ActionHandler::instance()->resetKeyState();
}

// The handler decides continuous actions in queued calls after each event.
void tst_TransformGizmo::settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void tst_TransformGizmo::hitTest_data()
{
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<QTransform>("toViewport");
    QTest::addColumn<QPointF>("pointer");
    QTest::addColumn<int>("handle");

    // A 100 px square centred at (200, 150): corners (150, 100) ... (250, 200).
    const QRectF square(-50, -50, 100, 100);
    const QTransform upright = QTransform::fromTranslate(200, 150);
    const qreal diagonal = 15 / std::sqrt(2.0);
    QTest::addRow("top-left dot") << square << upright << QPointF(150, 100) << 1;
    QTest::addRow("top-right dot, 4 px off") << square << upright << QPointF(254, 100) << 2;
    QTest::addRow("bottom-right dot") << square << upright << QPointF(250, 200) << 3;
    QTest::addRow("bottom-left dot") << square << upright << QPointF(147, 203) << 4;
    QTest::addRow("top-left zone, 15 px out diagonally")
        << square << upright << QPointF(150 - diagonal, 100 - diagonal) << 5;
    QTest::addRow("top-right zone")
        << square << upright << QPointF(250 + diagonal, 100 - diagonal) << 6;
    QTest::addRow("bottom-right zone")
        << square << upright << QPointF(250 + diagonal, 200 + diagonal) << 7;
    QTest::addRow("bottom-left zone")
        << square << upright << QPointF(150 - diagonal, 200 + diagonal) << 8;
    QTest::addRow("15 px out along the top edge") << square << upright << QPointF(150, 85) << 0;
    QTest::addRow("15 px out beside the right edge") << square << upright << QPointF(265, 200) << 0;
    QTest::addRow("inside, past the dot") << square << upright << QPointF(160, 110) << 0;
    QTest::addRow("beyond the zone") << square << upright << QPointF(130, 80) << 0;
    QTest::addRow("centre") << square << upright << QPointF(200, 150) << 0;

    // Turned 45 degrees clockwise: the top-left corner points straight up, at (200, 79.3).
    const QTransform turned = QTransform().rotate(45) * upright;
    const qreal top = 150 - 50 * std::sqrt(2.0);
    QTest::addRow("rotated: dot") << square << turned << QPointF(200, top - 4) << 1;
    QTest::addRow("rotated: zone") << square << turned << QPointF(200, top - 15) << 5;
    QTest::addRow("rotated: beside an edge")
        << square << turned << QPointF(200 + diagonal, top - diagonal) << 0;

    // Mirrored left to right: the gizmo's top-left corner is on the screen's right.
    const QTransform mirrored = QTransform::fromScale(-1, 1) * upright;
    QTest::addRow("mirrored: screen top-right") << square << mirrored << QPointF(250, 100) << 1;
    QTest::addRow("mirrored: screen top-left") << square << mirrored << QPointF(150, 100) << 2;
    QTest::addRow("mirrored: zone")
        << square << mirrored << QPointF(250 + diagonal, 100 - diagonal) << 5;

    // Zoomed out the margins stay pixels: 15 px beside an edge is still nothing.
    const QTransform small = QTransform::fromScale(0.25, 0.25) * upright;
    QTest::addRow("zoomed out: zone")
        << square << small << QPointF(212.5 + diagonal, 162.5 + diagonal) << 7;
    QTest::addRow("zoomed out: beside an edge") << square << small << QPointF(227.5, 162.5) << 0;

    // Corners closer together than a dot: equally near, the earlier corner wins.
    QTest::addRow("tie goes to the earlier corner")
        << QRectF(-2, -2, 4, 4) << upright << QPointF(200, 150) << 1;
    QTest::addRow("zero-size selection") << QRectF(0, 0, 0, 0) << upright << QPointF(200, 150) << 0;
}

void tst_TransformGizmo::hitTest()
{
    QFETCH(QRectF, rect);
    QFETCH(QTransform, toViewport);
    QFETCH(QPointF, pointer);
    QFETCH(int, handle);
    const TransformGizmo::Hit hit = TransformGizmo::hitTest(rect, toViewport, pointer, 10);
    QCOMPARE(hit.handle, handle);
    if (handle) {
        const int corner = (handle - 1) % 4;
        QCOMPARE(hit.previousCorner, (corner + 3) % 4);
        QCOMPARE(hit.nextCorner, (corner + 1) % 4);
    }
}

void tst_TransformGizmo::cursorTurnsOntoItsCorner_data()
{
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<int>("corner");

    for (int corner = 0; corner < 4; ++corner) {
        QTest::addRow("upright, corner %d", corner) << QTransform() << corner;
        QTest::addRow("turned 30, corner %d", corner) << QTransform().rotate(30) << corner;
        QTest::addRow("mirrored, corner %d", corner) << QTransform::fromScale(-1, 1) << corner;
        QTest::addRow("upside down, corner %d", corner) << QTransform::fromScale(2, -2) << corner;
    }
}

// The scale picture is a horizontal double arrow and the rotate picture bends to the left: on
// the screen the arrow must lie along the corner's diagonal and the bend face away from the
// frame, or the cursor points the user the wrong way.
void tst_TransformGizmo::cursorTurnsOntoItsCorner()
{
    QFETCH(QTransform, transform);
    QFETCH(int, corner);
    bool mirrored = false;
    const qreal angle = TransformGizmo::cursorAngle(transform, corner, &mirrored);
    QTransform picture;
    if (mirrored)
        picture.scale(-1, 1);
    picture *= QTransform().rotate(angle);
    const QRectF square(-1, -1, 2, 2);
    QLineF outward(QPointF(0, 0), transform.map(TransformGizmo::corner(square, corner)));
    outward = outward.unitVector();
    const QPointF out = outward.p2() - outward.p1();
    const QPointF bend = picture.map(QPointF(-1, 0));
    QVERIFY2(QPointF::dotProduct(bend, out) > 0.99, qPrintable(QString::number(angle)));
    const QPointF arrow = picture.map(QPointF(1, 0));
    QVERIFY(std::abs(QPointF::dotProduct(arrow, out)) > 0.99);
}

void tst_TransformGizmo::placement_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<qreal>("rotation");

    QTest::addRow("one rotated image turns the frame") << 1 << 30.0;
    QTest::addRow("two images get an upright frame") << 2 << 30.0;
}

void tst_TransformGizmo::placement()
{
    QFETCH(int, count);
    QFETCH(qreal, rotation);
    auto *first = new TestItem(QRectF(-40, -30, 80, 60), QPointF(-60, 0));
    first->setTransform(QTransform().rotate(rotation) * first->transform());
    m_scene->addItem(first);
    auto *second = new TestItem(QRectF(-20, -20, 40, 40), QPointF(100, 50));
    m_scene->addItem(second);
    first->setSelected(true);
    second->setSelected(count > 1);
    settle();

    TransformGizmo *gizmo = m_view->transformGizmo();
    QVERIFY(gizmo->isVisible());
    if (count == 1) {
        QCOMPARE(gizmo->gizmoRect(), first->boundingRect());
        QCOMPARE(gizmo->gizmoTransform(), first->sceneTransform());
    } else {
        const QRectF bounds = first->sceneBounds() | second->sceneBounds();
        QCOMPARE(gizmo->gizmoTransform(),
            QTransform::fromTranslate(bounds.center().x(), bounds.center().y()));
        QCOMPARE(gizmo->gizmoRect(), bounds.translated(-bounds.center()));
    }
    // The widget covers the frame on the screen, handles included.
    const QRect onScreen = gizmo->toViewport().mapRect(gizmo->gizmoRect()).toAlignedRect();
    QVERIFY(gizmo->geometry().contains(onScreen));
}

void tst_TransformGizmo::hidden_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("shown");

    QTest::addRow("selected") << QStringLiteral("selected") << true;
    QTest::addRow("nothing selected") << QStringLiteral("none") << false;
    QTest::addRow("canvas locked") << QStringLiteral("locked") << false;
    QTest::addRow("note edited") << QStringLiteral("editing") << false;
    QTest::addRow("switched off") << QStringLiteral("disabled") << false;
}

void tst_TransformGizmo::hidden()
{
    QFETCH(QString, state);
    QFETCH(bool, shown);
    auto *item = new TestItem(QRectF(-50, -50, 100, 100));
    m_scene->addItem(item);
    auto *note = new GraphicsTextItem(QPointF(200, 0), QStringLiteral("note"));
    m_scene->addItem(note);
    settle();
    if (state != QLatin1String("none"))
        item->setSelected(true);
    if (state == QLatin1String("locked"))
        m_view->setCanvasLocked(true);
    else if (state == QLatin1String("editing"))
        m_view->setEditedNote(note);
    else if (state == QLatin1String("disabled"))
        m_view->setGizmoEnabled(false);
    settle();
    QCOMPARE(m_view->transformGizmo()->isVisible(), shown);
    QCOMPARE(m_view->transformGizmo()->gizmoRect().isValid(), shown);
    // A press beside the edited note ends the editing, and then the gizmo is back.
    if (state == QLatin1String("editing")) {
        m_view->setEditedNote(nullptr);
        QVERIFY(m_view->transformGizmo()->isVisible());
        return;
    }

    // A drag from the corner dot scales only where the gizmo shows.
    const QPoint corner = viewPos(QPointF(50, 50));
    QTest::mouseMove(window(), corner);
    settle();
    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, corner);
    settle();
    QTest::mouseMove(window(), corner + QPoint(30, 30));
    settle();
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, corner + QPoint(30, 30));
    settle();
    const bool scaled = !qFuzzyCompare(item->sceneTransform().m11(), 1.0);
    QCOMPARE(scaled, shown);
}

void tst_TransformGizmo::dragScales_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<bool>("centred");
    QTest::addColumn<qreal>("factor");
    QTest::addColumn<QPointF>("fixedPoint");

    // The 100-unit square centred on the origin, its bottom-right dot dragged by (50, 50) px.
    QTest::addRow("zoom 1") << 1.0 << false << 1.5 << QPointF(-50, -50);
    QTest::addRow("zoom 0.25") << 0.25 << false << 3.0 << QPointF(-50, -50);
    QTest::addRow("about the centre") << 1.0 << true << 2.0 << QPointF(0, 0);
}

void tst_TransformGizmo::dragScales()
{
    QFETCH(qreal, zoom);
    QFETCH(bool, centred);
    QFETCH(qreal, factor);
    QFETCH(QPointF, fixedPoint);
    // Off the origin, so the anchor is a real point and not the command's "no pivot".
    auto *item = new TestItem(QRectF(-50, -50, 100, 100), QPointF(30, 20));
    m_scene->addItem(item);
    auto *other = new TestItem(QRectF(-10, -10, 20, 20), QPointF(400, 400));
    m_scene->addItem(other);
    m_view->setTransform(QTransform::fromScale(zoom, zoom));
    m_view->centerOn(QPointF(30, 20));
    item->setSelected(true);
    settle();
    const QPointF fixed = item->sceneTransform().map(fixedPoint);

    const Qt::KeyboardModifiers modifiers = centred ? Qt::AltModifier : Qt::NoModifier;
    // Three pixels off the dot: the corner, not the pointer, follows the drag.
    const QPoint start = viewPos(item->sceneTransform().map(QPointF(50, 50))) + QPoint(2, 1);
    QTest::mouseMove(window(), start);
    settle();
    if (centred)
        QTest::keyPress(window(), Qt::Key_Alt);
    QTest::mousePress(window(), Qt::LeftButton, modifiers, start);
    settle();
    QCOMPARE(ActionHandler::instance()->currentContinuousAction()->name(),
        centred ? QStringLiteral("Center Transform Gizmo") : QStringLiteral("Transform Gizmo"));
    for (int step = 1; step <= 5; ++step) {
        QTest::mouseMove(window(), start + QPoint(10, 10) * step);
        settle();
    }
    QTest::mouseRelease(window(), Qt::LeftButton, modifiers, start + QPoint(50, 50));
    settle();
    if (centred)
        QTest::keyRelease(window(), Qt::Key_Alt, Qt::AltModifier);
    settle();

    QVERIFY2(std::abs(item->sceneTransform().m11() - factor) < 1e-9,
        qPrintable(QString::number(item->sceneTransform().m11())));
    QVERIFY(QLineF(item->sceneTransform().map(fixedPoint), fixed).length() < 1e-6);
    // The gizmo followed the item.
    QCOMPARE(m_view->transformGizmo()->gizmoTransform(), item->sceneTransform());
    QCOMPARE(m_commands->count(), 1);
    m_commands->undo();
    QCOMPARE(item->sceneTransform(), QTransform::fromTranslate(30, 20));
    QCOMPARE(m_view->transformGizmo()->gizmoTransform(), item->sceneTransform());
}

void tst_TransformGizmo::dragRotates_data()
{
    QTest::addColumn<bool>("shiftAtPress");
    QTest::addColumn<bool>("shiftDuringDrag");
    QTest::addColumn<qreal>("angle");
    QTest::addColumn<qreal>("tolerance");

    // From the top-right zone (45 degrees up-right) to 10 degrees below the right: 55 degrees.
    QTest::addRow("free") << false << false << 55.0 << 1.5;
    QTest::addRow("snapped") << true << false << 45.0 << 1e-9;
    QTest::addRow("Shift pressed while dragging") << false << true << 45.0 << 1e-9;
}

void tst_TransformGizmo::dragRotates()
{
    QFETCH(bool, shiftAtPress);
    QFETCH(bool, shiftDuringDrag);
    QFETCH(qreal, angle);
    QFETCH(qreal, tolerance);
    auto *item = new TestItem(QRectF(-50, -50, 100, 100), QPointF(10, 10));
    m_scene->addItem(item);
    item->setSelected(true);
    settle();

    const QPoint centre = viewPos(QPointF(10, 10));
    const QPoint start = viewPos(QPointF(60, -40)) + QPoint(11, -11);
    QTest::mouseMove(window(), start);
    settle();
    if (shiftAtPress)
        QTest::keyPress(window(), Qt::Key_Shift);
    const Qt::KeyboardModifiers modifiers = shiftAtPress ? Qt::ShiftModifier : Qt::NoModifier;
    QTest::mousePress(window(), Qt::LeftButton, modifiers, start);
    settle();
    QTest::mouseMove(window(), centre + QPoint(100, -40));
    settle();
    if (shiftDuringDrag)
        QTest::keyPress(window(), Qt::Key_Shift);
    settle();
    const qreal radians = qDegreesToRadians(10.0);
    const QPoint end
        = centre + QPoint(qRound(150 * std::cos(radians)), qRound(150 * std::sin(radians)));
    QTest::mouseMove(window(), end);
    settle();
    const bool shiftHeld = shiftAtPress || shiftDuringDrag;
    QTest::mouseRelease(
        window(), Qt::LeftButton, shiftHeld ? Qt::ShiftModifier : Qt::NoModifier, end);
    settle();
    if (shiftHeld)
        QTest::keyRelease(window(), Qt::Key_Shift, Qt::ShiftModifier);
    settle();

    const QTransform t = item->sceneTransform();
    const qreal turned = qRadiansToDegrees(std::atan2(t.m12(), t.m11()));
    QVERIFY2(std::abs(turned - angle) <= tolerance, qPrintable(QString::number(turned)));
    QCOMPARE(t.map(QPointF(0, 0)), QPointF(10, 10));
    QCOMPARE(m_commands->count(), 1);
}

QTEST_MAIN(tst_TransformGizmo)
#include "tst_transformgizmo.moc"
