#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "commands/cropcommand.h"
#include "commands/depthchangecommand.h"
#include "commands/movecommand.h"
#include "input/actionhandler.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "view/colorpickerdialog.h"
#include "view/coordinatepickerdialog.h"
#include "view/graphicsview.h"

#include "../scene/testitem.h"

#include <QMimeData>
#include <QRubberBand>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <memory>

// The view driven the way a user drives it: window-system mouse and key events that pass the
// action handler, on an offscreen window.
class tst_GraphicsView : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wheel_data();
    void wheel();
    void zoomGesture_data();
    void zoomGesture();
    void degenerateScaleStepIsRefused_data();
    void degenerateScaleStepIsRefused();
    void dragPans_data();
    void dragPans();
    void focusSteppingWrapsAndSkipsNotes_data();
    void focusSteppingWrapsAndSkipsNotes();
    void clickSelectsAndBringsToFrontInOneStep();
    void dragOfSelectedImageMovesAll();
    void shiftDuringMoveLocksAxisInOneStep();
    void viewClosedDuringGestureEndsCleanly_data();
    void viewClosedDuringGestureEndsCleanly();
    void rubberBand_data();
    void rubberBand();
    void cropByDrag();
    void ctrlPPacksSelection();
    void keyboardFlip_data();
    void keyboardFlip();
    void pinchZoomsAboutItsCentre();
    void drop_data();
    void drop();
    void slideshowStepsSelectedImagesUntilSelectionChanges();
    void doubleClick_data();
    void doubleClick();
    void inspectionPopups_data();
    void inspectionPopups();
    void noteEditingIsOneUndoStep_data();
    void noteEditingIsOneUndoStep();

private:
    TestItem *addItem(const QPointF &position);
    QPoint viewPos(const QPointF &scenePos) const;
    QPoint viewPos(const GraphicsItem *item) const { return viewPos(item->scenePosition()); }
    QWindow *window() const { return m_view->windowHandle(); }
    GraphicsImageItem *addImage(const QSize &size, const QColor &colour);
    // Press, move in even steps, release: a drag as the window system delivers it.
    void drag(Qt::MouseButton button, const QPoint &from, const QPoint &to, int steps = 1);
    void sendWheel(const QPoint &pointer, int delta, Qt::KeyboardModifiers modifiers);
    QPointF viewCentre() const { return m_view->mapToScene(m_view->viewport()->rect().center()); }
    bool centredOn(const GraphicsItem *item) const
    {
        return QLineF(viewCentre(), item->scenePosition()).length() < 2.0;
    }
    static void settle();
    int countOf(const QMetaObject &type) const;

    std::unique_ptr<CommandHandler> m_commands;
    std::unique_ptr<GraphicsScene> m_scene;
    std::unique_ptr<GraphicsView> m_view;
};

void tst_GraphicsView::init()
{
    m_commands = std::make_unique<CommandHandler>();
    m_scene = std::make_unique<GraphicsScene>(nullptr, m_commands.get());
    m_view = std::make_unique<GraphicsView>(m_scene.get(), m_commands.get());
    m_view->setActivateSelected(false);
    m_view->resize(400, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
}

void tst_GraphicsView::cleanup()
{
    m_view.reset();
    m_commands->clear();
    m_scene.reset();
    m_commands.reset();
    ActionHandler::instance()->resetKeyState();
}

TestItem *tst_GraphicsView::addItem(const QPointF &position)
{
    auto *item = new TestItem(QRectF(-20, -20, 40, 40), position);
    m_scene->addItem(item);
    return item;
}

QPoint tst_GraphicsView::viewPos(const QPointF &scenePos) const
{
    return m_view->mapFromScene(scenePos);
}

GraphicsImageItem *tst_GraphicsView::addImage(const QSize &size, const QColor &colour)
{
    QPixmap pixmap(size);
    pixmap.fill(colour);
    auto *image = new GraphicsImageItem(
        Picture::fromPixels(pixmap.toImage()), QString(), QString(), QPointF(0, 0));
    m_scene->addItem(image);
    return image;
}

void tst_GraphicsView::drag(Qt::MouseButton button, const QPoint &from, const QPoint &to, int steps)
{
    QTest::mousePress(window(), button, Qt::NoModifier, from);
    settle();
    for (int step = 1; step <= steps; ++step) {
        QTest::mouseMove(window(), from + (to - from) * step / steps);
        settle();
    }
    QTest::mouseRelease(window(), button, Qt::NoModifier, to);
    settle();
}

void tst_GraphicsView::sendWheel(const QPoint &pointer, int delta, Qt::KeyboardModifiers modifiers)
{
    QWheelEvent event(pointer, m_view->viewport()->mapToGlobal(pointer), QPoint(), QPoint(0, delta),
        Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(m_view->viewport(), &event);
}

// The handler decides continuous actions in queued calls after each event.
void tst_GraphicsView::settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

int tst_GraphicsView::countOf(const QMetaObject &type) const
{
    int count = 0;
    for (int i = 0; i < m_commands->count(); ++i)
        count += type.cast(m_commands->command(i)) ? 1 : 0;
    return count;
}

void tst_GraphicsView::wheel_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("ctrl");
    QTest::addColumn<bool>("inverted");
    QTest::addColumn<bool>("overlay");
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("factor");
    QTest::addColumn<int>("scrolled");

    QTest::addRow("notch forward zooms in") << 0 << false << false << false << 120 << 1.24 << 0;
    QTest::addRow("notch back zooms out") << 0 << false << false << false << -120 << 1 / 1.24 << 0;
    QTest::addRow("inverted wheel") << 0 << false << true << false << 120 << 1 / 1.24 << 0;
    QTest::addRow("overlay ignores the wheel") << 0 << false << false << true << 120 << 1.0 << 0;
    QTest::addRow("no delta") << 0 << false << false << false << 0 << 1.0 << 0;
    QTest::addRow("scroll mode pans") << 1 << false << false << false << 120 << 1.0 << -120;
    QTest::addRow("scroll mode inverted") << 1 << false << true << false << 120 << 1.0 << 120;
    QTest::addRow("scroll mode with Ctrl zooms") << 1 << true << false << false << 120 << 1.24 << 0;
    QTest::addRow("inactive wheel") << 2 << false << false << false << 120 << 1.0 << 0;
    QTest::addRow("inactive wheel, Ctrl zooms") << 2 << true << false << false << 120 << 1.24 << 0;
}

void tst_GraphicsView::wheel()
{
    QFETCH(int, mode);
    QFETCH(bool, ctrl);
    QFETCH(bool, inverted);
    QFETCH(bool, overlay);
    QFETCH(int, delta);
    QFETCH(double, factor);
    QFETCH(int, scrolled);
    addItem(QPointF(-150, -100));
    addItem(QPointF(150, 100));
    settle();
    m_view->setWheelMode(mode);
    m_view->setInvertWheel(inverted);
    m_view->setOverlayMode(overlay);
    const int vertical = m_view->verticalScrollBar()->value();

    const QPoint pointer(300, 80);
    const QPointF under = m_view->mapToScene(pointer);
    sendWheel(pointer, delta, ctrl ? Qt::ControlModifier : Qt::NoModifier);

    QVERIFY(qAbs(m_view->transform().m11() - factor) < 1e-9);
    QVERIFY(qAbs(m_view->transform().m22() - factor) < 1e-9);
    if (scrolled) {
        QCOMPARE(m_view->verticalScrollBar()->value() - vertical, scrolled);
        return;
    }
    // Rounded to whole pixels of scrolling.
    const QPointF after = m_view->mapFromScene(under);
    QVERIFY2(QLineF(after, pointer).length() <= 1.0,
        qPrintable(QStringLiteral("moved to %1,%2").arg(after.x()).arg(after.y())));
}

void tst_GraphicsView::zoomGesture_data()
{
    QTest::addColumn<int>("dx");
    QTest::addColumn<double>("factor");

    QTest::addRow("50 pixels right") << 50 << 1.5;
    QTest::addRow("50 pixels left") << -50 << 1 / 1.5;
}

void tst_GraphicsView::zoomGesture()
{
    QFETCH(int, dx);
    QFETCH(double, factor);
    addItem(QPointF(0, 0));
    settle();

    const QPoint start(200, 150);
    const QPointF anchor = m_view->mapToScene(start);
    QTest::keyPress(window(), Qt::Key_Z);
    drag(Qt::LeftButton, start, start + QPoint(dx, 0));
    QTest::keyRelease(window(), Qt::Key_Z);
    settle();

    QVERIFY(qAbs(m_view->transform().m11() - factor) < 1e-9);
    QVERIFY(QLineF(m_view->mapFromScene(anchor), start).length() <= 1.0);
    QCOMPARE(m_commands->count(), 0);
}

void tst_GraphicsView::degenerateScaleStepIsRefused_data()
{
    QTest::addColumn<double>("factor");

    QTest::addRow("overflows to infinity") << 1e300;
    QTest::addRow("collapses to nothing") << 1e-300;
}

void tst_GraphicsView::degenerateScaleStepIsRefused()
{
    QFETCH(double, factor);
    addItem(QPointF(0, 0));
    settle();

    // The first huge step may still be representable; keep stepping until one is refused.
    bool refused = false;
    for (int i = 0; i < 4 && !refused; ++i)
        refused = !m_view->scaleAboutAnchor(factor, factor);
    QVERIFY(refused);
    const QTransform t = m_view->transform();
    QVERIFY(std::isfinite(t.m11()) && std::isfinite(t.m22()));
    QVERIFY(t.isInvertible());

    // Still able to come back.
    m_view->actualSize();
    QVERIFY(qAbs(m_view->transform().m11() - 1.0) < 1e-6);
}

void tst_GraphicsView::dragPans_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("maximized");
    QTest::addColumn<bool>("pans");

    QTest::addRow("locked canvas: left drag on an image pans")
        << int(Qt::LeftButton) << true << false << true;
    QTest::addRow("maximized window: right drag pans")
        << int(Qt::RightButton) << false << true << true;
    QTest::addRow("normal window: right drag does not")
        << int(Qt::RightButton) << false << false << false;
}

void tst_GraphicsView::dragPans()
{
    QFETCH(int, button);
    QFETCH(bool, locked);
    QFETCH(bool, maximized);
    QFETCH(bool, pans);
    TestItem *item = addItem(QPointF(0, 0));
    if (maximized) {
        m_view->showMaximized();
        QTRY_VERIFY(m_view->isMaximized());
    }
    settle();
    m_view->setCanvasLocked(locked);
    const int horizontal = m_view->horizontalScrollBar()->value();
    const int vertical = m_view->verticalScrollBar()->value();

    const QPoint start = button == Qt::LeftButton ? viewPos(item) : QPoint(100, 100);
    drag(Qt::MouseButton(button), start, start + QPoint(30, 20));

    QCOMPARE(m_view->horizontalScrollBar()->value(), pans ? horizontal - 30 : horizontal);
    QCOMPARE(m_view->verticalScrollBar()->value(), pans ? vertical - 20 : vertical);
    QVERIFY(!item->isSelected());
    QCOMPARE(item->scenePosition(), QPointF(0, 0));
    QCOMPARE(m_commands->count(), 0);
}

void tst_GraphicsView::focusSteppingWrapsAndSkipsNotes_data()
{
    QTest::addColumn<bool>("withImages");
    QTest::addColumn<int>("key");
    // Indexes into the added items, one per key press; -1: the view does not move.
    QTest::addColumn<QList<int>>("expected");

    QTest::addRow("next skips the note and wraps")
        << true << int(Qt::Key_Right) << QList<int> { 0, 2, 0 };
    QTest::addRow("previous wraps to the last") << true << int(Qt::Key_Left) << QList<int> { 2, 0 };
    QTest::addRow("only notes: nothing to step to")
        << false << int(Qt::Key_Right) << QList<int> { -1 };
}

void tst_GraphicsView::focusSteppingWrapsAndSkipsNotes()
{
    QFETCH(bool, withImages);
    QFETCH(int, key);
    QFETCH(QList<int>, expected);

    QList<GraphicsItem *> items;
    for (int i = 0; i < 3; ++i) {
        const QPointF position(i * 300, i * 100);
        if (i == 1 || !withImages) {
            auto *note = new GraphicsTextItem(position, QStringLiteral("note"));
            m_scene->addItem(note);
            items.append(note);
        } else {
            items.append(addItem(position));
        }
    }
    settle();

    for (int index : expected) {
        const QTransform before = m_view->transform();
        const QPointF centreBefore = viewCentre();
        QTest::keyClick(window(), Qt::Key(key));
        settle();
        if (index < 0) {
            QCOMPARE(m_view->transform(), before);
            QCOMPARE(viewCentre(), centreBefore);
        } else {
            QVERIFY2(centredOn(items.at(index)), qPrintable(QString("item %1").arg(index)));
        }
    }
}

void tst_GraphicsView::clickSelectsAndBringsToFrontInOneStep()
{
    m_view->setActivateSelected(true);
    TestItem *lower = addItem(QPointF(0, 0));
    TestItem *upper = addItem(QPointF(30, 0));
    settle();
    QVERIFY(upper->zValue() > lower->zValue());

    // The left part of the lower item is not covered.
    const QPoint click = viewPos(QPointF(-15, 0));
    QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, click);
    settle();

    QCOMPARE(m_scene->selectedGraphicsItems(), QList<GraphicsItem *> { lower });
    QVERIFY(lower->zValue() > upper->zValue());
    QCOMPARE(m_commands->count(), 1);
    QCOMPARE(countOf(DepthChangeCommand::staticMetaObject), 1);
}

void tst_GraphicsView::dragOfSelectedImageMovesAll()
{
    TestItem *a = addItem(QPointF(-60, 0));
    TestItem *b = addItem(QPointF(60, 0));
    TestItem *other = addItem(QPointF(0, 80));
    settle();
    a->setSelected(true);
    b->setSelected(true);

    drag(Qt::LeftButton, viewPos(a), viewPos(a) + QPoint(40, 20), 4);

    const QPointF moved = QPointF(40, 20) / m_view->transform().m11();
    QCOMPARE(a->scenePosition(), QPointF(-60, 0) + moved);
    QCOMPARE(b->scenePosition(), QPointF(60, 0) + moved);
    QCOMPARE(other->scenePosition(), QPointF(0, 80));
    QCOMPARE(m_scene->selectedGraphicsItems().size(), 2);
    QCOMPARE(m_commands->count(), 1);
    m_commands->undo();
    QCOMPARE(a->scenePosition(), QPointF(-60, 0));
    QCOMPARE(b->scenePosition(), QPointF(60, 0));
}

void tst_GraphicsView::shiftDuringMoveLocksAxisInOneStep()
{
    TestItem *item = addItem(QPointF(0, 0));
    settle();
    item->setSelected(true);

    const QPoint start = viewPos(item);
    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, start);
    settle();
    QTest::mouseMove(window(), start + QPoint(5, 5));
    settle();
    QTest::keyPress(window(), Qt::Key_Shift, Qt::NoModifier);
    settle();
    QCOMPARE(ActionHandler::instance()->currentContinuousAction()->name(),
        QStringLiteral("Axis Snapped Move"));
    const QPointF atShift = item->scenePosition();
    // Mostly horizontal: the vertical part is dropped.
    for (int step = 1; step <= 4; ++step) {
        QTest::mouseMove(window(), start + QPoint(5 + 15 * step, 5 + 3 * step));
        settle();
    }
    QCOMPARE(item->scenePosition().y(), atShift.y());
    QVERIFY(item->scenePosition().x() > atShift.x() + 40);

    QTest::keyRelease(window(), Qt::Key_Shift, Qt::ShiftModifier);
    settle();
    QCOMPARE(ActionHandler::instance()->currentContinuousAction()->name(),
        QStringLiteral("Move Images"));
    const QPointF atRelease = item->scenePosition();
    QTest::mouseMove(window(), start + QPoint(65, 40));
    settle();
    QVERIFY(item->scenePosition().y() > atRelease.y());
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, start + QPoint(65, 40));
    settle();

    QCOMPARE(m_commands->count(), 1);
    QCOMPARE(countOf(MoveCommand::staticMetaObject), 1);
    m_commands->undo();
    QCOMPARE(item->scenePosition(), QPointF(0, 0));
}

void tst_GraphicsView::viewClosedDuringGestureEndsCleanly_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<int>("key");

    QTest::addRow("moving") << QStringLiteral("Move Images") << 0;
    QTest::addRow("cropping") << QStringLiteral("Crop Images") << int(Qt::Key_C);
    QTest::addRow("picking a colour") << QStringLiteral("Color Picker") << int(Qt::Key_S);
    QTest::addRow("editing a note") << QString() << 0;
}

void tst_GraphicsView::viewClosedDuringGestureEndsCleanly()
{
    QFETCH(QString, gesture);
    QFETCH(int, key);
    TestItem *item = addItem(QPointF(0, 0));
    settle();
    item->setSelected(true);
    const QPoint start = viewPos(item);
    if (gesture.isEmpty()) {
        QVERIFY(m_view->createNote(start + QPoint(60, 60)));
        QVERIFY(ActionHandler::instance()->isBlocked());
    } else {
        if (key)
            QTest::keyPress(window(), Qt::Key(key));
        QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, start);
        settle();
        QTest::mouseMove(window(), start + QPoint(20, 0));
        settle();
        QCOMPARE(ActionHandler::instance()->currentContinuousAction()->name(), gesture);
    }
    const int steps = m_commands->count();

    m_view.reset();
    settle();
    QCOMPARE(ActionHandler::instance()->currentContinuousAction(), nullptr);
    // Typing into a note blocks the canvas's keys; a note left in edit mode must not keep them
    // blocked for the next window.
    QVERIFY(!ActionHandler::instance()->isBlocked());
    // The unfinished gesture leaves no step behind.
    QCOMPARE(m_commands->count(), steps);
}

void tst_GraphicsView::rubberBand_data()
{
    QTest::addColumn<bool>("shift");
    QTest::addColumn<int>("selectedAfter");

    QTest::addRow("plain band replaces the selection") << false << 1;
    QTest::addRow("band with Shift adds to it") << true << 2;
}

void tst_GraphicsView::rubberBand()
{
    QFETCH(bool, shift);
    QFETCH(int, selectedAfter);
    TestItem *left = addItem(QPointF(-100, 0));
    TestItem *right = addItem(QPointF(100, 0));
    settle();
    right->setSelected(true);

    const Qt::KeyboardModifiers modifiers = shift ? Qt::ShiftModifier : Qt::NoModifier;
    if (shift)
        QTest::keyPress(window(), Qt::Key_Shift);
    const QPoint start = viewPos(QPointF(-140, -40));
    QTest::mousePress(window(), Qt::LeftButton, modifiers, start);
    settle();
    for (int step = 1; step <= 3; ++step) {
        QTest::mouseMove(window(), start + QPoint(20 * step, 20 * step));
        settle();
    }
    QVERIFY(m_view->rubberBand()->isVisible());
    QTest::mouseRelease(window(), Qt::LeftButton, modifiers, start + QPoint(60, 60));
    if (shift)
        QTest::keyRelease(window(), Qt::Key_Shift, Qt::ShiftModifier);
    settle();

    QVERIFY(!m_view->rubberBand()->isVisible());
    QVERIFY(left->isSelected());
    QCOMPARE(m_scene->selectedGraphicsItems().size(), selectedAfter);
    QCOMPARE(left->scenePosition(), QPointF(-100, 0));
    QCOMPARE(m_commands->count(), 0);
}

void tst_GraphicsView::cropByDrag()
{
    GraphicsImageItem *image = addImage(QSize(200, 200), Qt::blue);
    settle();
    image->setSelected(true);
    const QRectF before = image->sceneBounds();

    const QPoint start = viewPos(QPointF(-50, -50));
    QTest::keyPress(window(), Qt::Key_C);
    drag(Qt::LeftButton, start, start + QPoint(100, 80) * m_view->transform().m11(), 4);
    QTest::keyRelease(window(), Qt::Key_C);
    settle();

    QCOMPARE(countOf(CropCommand::staticMetaObject), 1);
    QCOMPARE(m_commands->count(), 1);
    const QRectF after = image->sceneBounds();
    QVERIFY(after.width() < before.width() - 50);
    QVERIFY(after.height() < before.height() - 50);
    QVERIFY(!m_view->rubberBand()->isVisible());
}

void tst_GraphicsView::ctrlPPacksSelection()
{
    QList<TestItem *> items { addItem(QPointF(-500, 300)), addItem(QPointF(400, -200)),
        addItem(QPointF(0, 600)) };
    TestItem *left = addItem(QPointF(900, 900));
    settle();
    for (TestItem *item : items)
        item->setSelected(true);

    QTest::keyClick(window(), Qt::Key_P, Qt::ControlModifier);
    settle();

    QCOMPARE(countOf(AlignCommand::staticMetaObject), 1);
    QCOMPARE(m_commands->count(), 1);
    QRectF packed;
    for (TestItem *item : items)
        packed |= item->sceneBounds();
    // Three 40-unit squares with 10-unit gaps fit well within 150 × 150.
    QVERIFY(packed.width() <= 150 && packed.height() <= 150);
    QCOMPARE(left->scenePosition(), QPointF(900, 900));
}

void tst_GraphicsView::keyboardFlip_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QPointF>("scale");

    QTest::addRow("Alt+Shift+H mirrors horizontally") << int(Qt::Key_H) << false << QPointF(-1, 1);
    QTest::addRow("Alt+Shift+V mirrors vertically") << int(Qt::Key_V) << false << QPointF(1, -1);
    QTest::addRow("locked canvas stays") << int(Qt::Key_H) << true << QPointF(1, 1);
}

void tst_GraphicsView::keyboardFlip()
{
    QFETCH(int, key);
    QFETCH(bool, locked);
    QFETCH(QPointF, scale);
    TestItem *item = addItem(QPointF(10, 10));
    settle();
    item->setSelected(true);
    m_view->setCanvasLocked(locked);

    QTest::keyClick(window(), Qt::Key(key), Qt::AltModifier | Qt::ShiftModifier);
    settle();

    const QTransform t = item->transform();
    QCOMPARE(QPointF(t.m11(), t.m22()), scale);
    QCOMPARE(item->scenePosition(), QPointF(10, 10));
    QCOMPARE(m_commands->count(), locked ? 0 : 1);
}

void tst_GraphicsView::pinchZoomsAboutItsCentre()
{
    addItem(QPointF(0, 0));
    settle();
    const QPoint centre(120, 100);
    const QPointF anchor = m_view->mapToScene(centre);
    const QPoint globalCentre = m_view->viewport()->mapToGlobal(centre);

    const auto send = [this, globalCentre](Qt::GestureState state, qreal factor) {
        m_view->pinch(state, factor, globalCentre);
    };
    send(Qt::GestureStarted, 1.0);
    // While pinching, the wheel does nothing.
    sendWheel(centre, 120, Qt::NoModifier);
    QCOMPARE(m_view->transform().m11(), 1.0);
    send(Qt::GestureUpdated, 1.5);
    send(Qt::GestureFinished, 1.0);

    QVERIFY(qAbs(m_view->transform().m11() - 1.5) < 1e-9);
    QVERIFY(QLineF(m_view->mapFromScene(anchor), centre).length() <= 1.0);
    QCOMPARE(m_commands->count(), 0);
}

void tst_GraphicsView::drop_data()
{
    QTest::addColumn<bool>("richText");

    QTest::addRow("file from the desktop") << false;
    QTest::addRow("rich text of a note") << true;
}

void tst_GraphicsView::drop()
{
    QFETCH(bool, richText);
    QMimeData mime;
    if (richText)
        mime.setHtml(QStringLiteral("<!DOCTYPE HTML><html><head><meta name=\"qrichtext\" "
                                    "content=\"1\" /></head><body>note</body></html>"));
    else
        mime.setUrls({ QUrl::fromLocalFile(QStringLiteral("/tmp/picture.png")) });
    QList<QPair<const QMimeData *, QPoint>> drops;
    connect(m_view.get(), &GraphicsView::dropRequested, this,
        [&drops](const QMimeData *data, const QPoint &position) {
            drops.append({ data, position });
        });

    const QPoint at(120, 90);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_view->viewport(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_view->viewport(), &move);
    QCOMPARE(move.isAccepted(), !richText);
    QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_view->viewport(), &dropped);

    QCOMPARE(drops.count(), richText ? 0 : 1);
    if (!richText) {
        QCOMPARE(drops.at(0).first, &mime);
        QCOMPARE(drops.at(0).second, at);
    }
}

void tst_GraphicsView::slideshowStepsSelectedImagesUntilSelectionChanges()
{
    TestItem *first = addItem(QPointF(-300, 0));
    TestItem *second = addItem(QPointF(300, 0));
    TestItem *unselected = addItem(QPointF(0, 300));
    settle();
    first->setSelected(true);
    second->setSelected(true);
    QList<bool> states;
    connect(m_view.get(), &GraphicsView::slideshowStateChanged, this,
        [&states](bool enabled) { states.append(enabled); });

    m_view->toggleSlideshow();
    QVERIFY(m_view->isSlideshowRunning());
    QCOMPARE(states, QList<bool> { true });
    const TestItem *shown = centredOn(first) ? first : second;
    QVERIFY(centredOn(shown));
    // Stepping stays within the selected images, not all on the board.
    m_view->focusNext();
    QVERIFY(centredOn(shown == first ? second : first));
    m_view->focusNext();
    QVERIFY(centredOn(shown));

    unselected->setSelected(true);
    QVERIFY(!m_view->isSlideshowRunning());
    QCOMPARE(states, (QList<bool> { true, false }));
}

void tst_GraphicsView::doubleClick_data()
{
    QTest::addColumn<QString>("board");

    QTest::addRow("empty canvas") << QStringLiteral("empty");
    QTest::addRow("missing image asks to relink its file") << QStringLiteral("missing");
    QTest::addRow("image is focused, again restores") << QStringLiteral("image");
}

void tst_GraphicsView::doubleClick()
{
    QFETCH(QString, board);
    int emptyClicks = 0;
    QList<QList<GraphicsImageItem *>> relinks;
    connect(m_view.get(), &GraphicsView::emptyCanvasDoubleClicked, this,
        [&emptyClicks] { ++emptyClicks; });
    connect(m_view.get(), &GraphicsView::relinkRequested, this,
        [&relinks](const QList<GraphicsImageItem *> &images) { relinks.append(images); });

    const auto missing = [this](const QString &source, const QPointF &position) {
        auto *image = new GraphicsImageItem(nullptr, source, QStringLiteral("same name"), position);
        QPainterPath path;
        path.addRect(-40, -30, 80, 60);
        image->setCropPath(path);
        m_scene->addItem(image);
        return image;
    };
    GraphicsItem *target = nullptr;
    QList<GraphicsImageItem *> sameFile;
    if (board == QLatin1String("missing")) {
        sameFile = { missing(QStringLiteral("/a/one.png"), QPointF(0, 0)),
            missing(QStringLiteral("/a/one.png"), QPointF(200, 0)) };
        missing(QStringLiteral("/b/one.png"), QPointF(-200, 0));
        target = sameFile.first();
    } else if (board == QLatin1String("image")) {
        target = addItem(QPointF(100, 50));
        addItem(QPointF(-300, -200));
    }
    settle();
    const QTransform before = m_view->transform();
    const QPoint at = target ? viewPos(target) : QPoint(200, 150);

    QTest::mouseDClick(window(), Qt::LeftButton, Qt::NoModifier, at);
    settle();
    if (board == QLatin1String("empty")) {
        QCOMPARE(emptyClicks, 1);
    } else if (board == QLatin1String("missing")) {
        QCOMPARE(relinks.size(), 1);
        QCOMPARE(relinks.first().size(), 2);
        for (GraphicsImageItem *image : qAsConst(sameFile))
            QVERIFY(relinks.first().contains(image));
    } else {
        QVERIFY(m_view->transform().m11() > before.m11() * 2);
        QVERIFY(centredOn(target));
        QTest::mouseDClick(window(), Qt::LeftButton, Qt::NoModifier, viewPos(target));
        settle();
        QCOMPARE(m_view->transform(), before);
    }
}

void tst_GraphicsView::inspectionPopups_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QPointF>("scenePoint");

    QTest::addRow("colour of a faded image at full strength")
        << int(Qt::Key_S) << QPointF(-50, -25);
    QTest::addRow("coordinates from the top-left corner") << int(Qt::Key_D) << QPointF(-50, -25);
    QTest::addRow("no item under the pointer") << int(Qt::Key_D) << QPointF(150, 0);
}

void tst_GraphicsView::inspectionPopups()
{
    QFETCH(int, key);
    QFETCH(QPointF, scenePoint);
    GraphicsImageItem *image = addImage(QSize(200, 100), QColor(200, 40, 10));
    image->setOpacity(0.3f);
    settle();

    const QPoint at = viewPos(scenePoint);
    QTest::keyPress(window(), Qt::Key(key));
    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, at);
    settle();
    if (key == Qt::Key_S) {
        QVERIFY(m_view->colorPicker()->isVisible());
        QCOMPARE(m_view->colorPicker()->color(), QColor(200, 40, 10));
    } else {
        QVERIFY(m_view->coordinatePicker()->isVisible());
        const bool onImage = image->sceneBounds().contains(scenePoint);
        QCOMPARE(m_view->coordinatePicker()->hasItem(), onImage);
        if (onImage) {
            const QPointF expected = scenePoint - image->sceneBounds().topLeft();
            QVERIFY(QLineF(m_view->coordinatePicker()->coordinates(), expected).length() < 1.5);
        }
    }
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::keyRelease(window(), Qt::Key(key));
    settle();
    QVERIFY(!m_view->colorPicker()->isVisible());
    QVERIFY(!m_view->coordinatePicker()->isVisible());
    QCOMPARE(m_commands->count(), 0);
}

void tst_GraphicsView::noteEditingIsOneUndoStep_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("recolour");
    QTest::addColumn<int>("undoSteps");

    QTest::addRow("typing") << QStringLiteral("abc") << false << 1;
    QTest::addRow("only the colour") << QString() << true << 1;
    QTest::addRow("no change") << QString() << false << 0;
}

void tst_GraphicsView::noteEditingIsOneUndoStep()
{
    QFETCH(QString, typed);
    QFETCH(bool, recolour);
    QFETCH(int, undoSteps);
    m_view->setSelectTextOnEditingStart(false);
    auto *note = new GraphicsTextItem(QPointF(0, 0), QStringLiteral("note"));
    m_scene->addItem(note);
    addItem(QPointF(200, 0));
    settle();
    const QColor colour = note->textColor();

    QTest::mouseDClick(window(), Qt::LeftButton, Qt::NoModifier, viewPos(note));
    settle();
    QCOMPARE(m_view->editedNote(), note);
    QVERIFY(note->isEditing());
    // Triggered canvas actions are off while typing: Space must not focus images.
    const QTransform before = m_view->transform();
    QTest::keyClick(window(), Qt::Key_Space);
    QCOMPARE(m_view->transform(), before);
    QTest::keyClick(window(), Qt::Key_Backspace);
    for (const QChar c : typed)
        QTest::keyClick(window(), c.toLatin1());
    if (recolour)
        m_view->updateTextColor(Qt::red);
    QTest::keyClick(window(), Qt::Key_Escape);
    settle();

    QVERIFY(!note->isEditing());
    QCOMPARE(m_view->editedNote(), nullptr);
    QCOMPARE(m_commands->count(), undoSteps);
    if (undoSteps) {
        m_commands->undo();
        QCOMPARE(note->text(), QStringLiteral("note"));
        QCOMPARE(note->textColor(), colour);
    }
}

QTEST_MAIN(tst_GraphicsView)
#include "tst_graphicsview.moc"
