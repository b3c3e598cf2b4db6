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

// The hit test alone, and the gizmo's drags as window-system mouse events on an offscreen view.
class tst_TransformGizmo : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hitTest_data();
    void hitTest();
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
    // Hovers at from and drags through the points, key held from the press or the first step.
    void drag(const QPoint &from, const QList<QPoint> &through, Qt::Key key, bool lateKey = false);

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
    QTest::addRow("top-left zone, 15 px out diagonally")
        << square << upright << QPointF(150 - diagonal, 100 - diagonal) << 5;
    QTest::addRow("bottom-right zone")
        << square << upright << QPointF(250 + diagonal, 200 + diagonal) << 7;
    QTest::addRow("15 px out along the top edge") << square << upright << QPointF(150, 85) << 0;

    // Turned 45 degrees clockwise: the top-left corner points straight up, at (200, 79.3).
    const QTransform turned = QTransform().rotate(45) * upright;
    const qreal top = 150 - 50 * std::sqrt(2.0);
    QTest::addRow("rotated: zone") << square << turned << QPointF(200, top - 15) << 5;
    QTest::addRow("rotated: beside an edge")
        << square << turned << QPointF(200 + diagonal, top - diagonal) << 0;

    // Mirrored left to right: the gizmo's top-left corner is on the screen's right.
    const QTransform mirrored = QTransform::fromScale(-1, 1) * upright;
    QTest::addRow("mirrored: screen top-right") << square << mirrored << QPointF(250, 100) << 1;
    QTest::addRow("mirrored: screen top-left") << square << mirrored << QPointF(150, 100) << 2;

    // Zoomed out the margins stay pixels: 15 px beside an edge is still nothing.
    const QTransform small = QTransform::fromScale(0.25, 0.25) * upright;
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
}

void tst_TransformGizmo::drag(
    const QPoint &from, const QList<QPoint> &through, Qt::Key key, bool lateKey)
{
    const Qt::KeyboardModifiers modifiers = key == Qt::Key_Alt ? Qt::AltModifier
        : key == Qt::Key_Shift                                 ? Qt::ShiftModifier
                                                               : Qt::NoModifier;
    QTest::mouseMove(window(), from);
    settle();
    if (key && !lateKey)
        QTest::keyPress(window(), key);
    QTest::mousePress(window(), Qt::LeftButton, lateKey ? Qt::NoModifier : modifiers, from);
    settle();
    for (const QPoint &point : through) {
        QTest::mouseMove(window(), point);
        settle();
        if (key && lateKey && point == through.first()) {
            QTest::keyPress(window(), key);
            settle();
        }
    }
    QTest::mouseRelease(window(), Qt::LeftButton, modifiers, through.last());
    settle();
    if (key)
        QTest::keyRelease(window(), key, modifiers);
    settle();
}

void tst_TransformGizmo::hidden_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("shown");

    QTest::addRow("selected") << QStringLiteral("selected") << true;
    QTest::addRow("canvas locked") << QStringLiteral("locked") << false;
    QTest::addRow("note edited") << QStringLiteral("editing") << false;
}

void tst_TransformGizmo::hidden()
{
    QFETCH(QString, state);
    QFETCH(bool, shown);
    auto *item = new TestItem(QRectF(-50, -50, 100, 100));
    m_scene->addItem(item);
    auto *note = new GraphicsTextItem(QPointF(200, 0), QStringLiteral("note"));
    m_scene->addItem(note);
    item->setSelected(true);
    if (state == QLatin1String("locked"))
        m_view->setCanvasLocked(true);
    else if (state == QLatin1String("editing"))
        m_view->setEditedNote(note);
    settle();
    QCOMPARE(m_view->transformGizmo()->isVisible(), shown);
    m_view->setEditedNote(nullptr);
}

void tst_TransformGizmo::dragScales_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<bool>("centred");
    QTest::addColumn<qreal>("factor");
    QTest::addColumn<QPointF>("fixedPoint");

    // The 100-unit square, its bottom-right dot dragged by (50, 50) px.
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
    m_scene->addItem(new TestItem(QRectF(-10, -10, 20, 20), QPointF(400, 400)));
    m_view->setTransform(QTransform::fromScale(zoom, zoom));
    m_view->centerOn(QPointF(30, 20));
    item->setSelected(true);
    settle();
    const QPointF fixed = item->sceneTransform().map(fixedPoint);

    // Off the dot by a few pixels: the corner, not the pointer, follows the drag.
    const QPoint start = viewPos(QPointF(80, 70)) + QPoint(2, 1);
    drag(start, { start + QPoint(20, 20), start + QPoint(50, 50) },
        centred ? Qt::Key_Alt : Qt::Key(0));

    QVERIFY2(std::abs(item->sceneTransform().m11() - factor) < 1e-9,
        qPrintable(QString::number(item->sceneTransform().m11())));
    QVERIFY(QLineF(item->sceneTransform().map(fixedPoint), fixed).length() < 1e-6);
    QCOMPARE(m_commands->count(), 1);
    m_commands->undo();
    QCOMPARE(m_view->transformGizmo()->gizmoTransform(), QTransform::fromTranslate(30, 20));
}

void tst_TransformGizmo::dragRotates_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<bool>("lateKey");
    QTest::addColumn<qreal>("angle");
    QTest::addColumn<qreal>("tolerance");

    // From the top-right zone (45 degrees up-right) to 10 degrees below the right: 55 degrees.
    QTest::addRow("free") << Qt::Key(0) << false << 55.0 << 1.5;
    QTest::addRow("snapped") << Qt::Key_Shift << false << 45.0 << 1e-9;
    QTest::addRow("Shift pressed while dragging") << Qt::Key_Shift << true << 45.0 << 1e-9;
}

void tst_TransformGizmo::dragRotates()
{
    QFETCH(Qt::Key, key);
    QFETCH(bool, lateKey);
    QFETCH(qreal, angle);
    QFETCH(qreal, tolerance);
    auto *item = new TestItem(QRectF(-50, -50, 100, 100), QPointF(10, 10));
    m_scene->addItem(item);
    item->setSelected(true);
    settle();

    const QPoint centre = viewPos(QPointF(10, 10));
    const QPoint end = centre
        + QPoint(qRound(150 * std::cos(qDegreesToRadians(10.0))),
            qRound(150 * std::sin(qDegreesToRadians(10.0))));
    drag(viewPos(QPointF(60, -40)) + QPoint(11, -11), { centre + QPoint(100, -40), end }, key,
        lateKey);

    const QTransform t = item->sceneTransform();
    const qreal turned = qRadiansToDegrees(std::atan2(t.m12(), t.m11()));
    QVERIFY2(std::abs(turned - angle) <= tolerance, qPrintable(QString::number(turned)));
    QCOMPARE(t.map(QPointF(0, 0)), QPointF(10, 10));
    QCOMPARE(m_commands->count(), 1);
}

QTEST_MAIN(tst_TransformGizmo)
#include "tst_transformgizmo.moc"
