#include "../scene/testitem.h"
#include "commands/addcommand.h"
#include "commands/commandhandler.h"
#include "commands/deletecommand.h"
#include "scene/graphicsscene.h"

#include <QtTest>

namespace {

// A step on the board that is not about items, to push after undos.
class OtherCommand : public BaseCommand { };

} // namespace

class TestItemCommands : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void deleteImageWithNote();
    void undoableAdditions();
    void ownership_data();
    void ownership();
};

void TestItemCommands::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(TestItem::alive, 0);
}

void TestItemCommands::deleteImageWithNote()
{
    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    auto *other = new TestItem;
    auto *image = new TestItem;
    scene.addItems({ other, image });
    auto *note = new TestItem(
        QRectF(-5, -5, 10, 10), QPointF(20, 0), image, QTransform::TxScale | QTransform::TxRotate);
    note->setZValue(7);
    image->setSelected(true);

    auto *command = new DeleteCommand(&scene, { note, image });
    QCOMPARE(command->roots(), QList<GraphicsItem *> { image });
    handler.push(command);
    QCOMPARE(image->scene(), nullptr);
    QCOMPARE(note->scene(), nullptr);
    QCOMPARE(note->parentItem(), image);
    QCOMPARE(scene.itemById(1), nullptr);
    QCOMPARE(scene.addedItems(), QList<GraphicsItem *> { other });

    handler.undo();
    QCOMPARE(image->scene(), &scene);
    QCOMPARE(note->parentItem(), image);
    QCOMPARE(image->id(), 1);
    QCOMPARE(image->zValue(), 1.0);
    QCOMPARE(note->zValue(), 7.0);
    QCOMPARE(scene.itemById(1), image);
    QVERIFY(!image->isSelected());
    QCOMPARE(note->scenePosition(), QPointF(20, 0));

    handler.redo();
    QCOMPARE(image->scene(), nullptr);
}

void TestItemCommands::undoableAdditions()
{
    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    QSignalSpy messages(&handler, &CommandHandler::commandMessage);
    auto *first = new TestItem;
    auto *a = new TestItem;
    auto *b = new TestItem;
    scene.addItem(first, true);
    scene.addItems({ a, b }, true);
    QCOMPARE(handler.count(), 2);
    QCOMPARE(b->id(), 2);
    QCOMPARE(b->zValue(), 2.0);

    handler.undo();
    handler.undo();
    QVERIFY(scene.isEmpty());
    handler.redo();
    handler.redo();
    QCOMPARE(scene.addedItems(), (QList<GraphicsItem *> { first, a, b }));
    QCOMPARE(scene.itemById(2), b);
    // The scene's commands reach the handler's message signal exactly once.
    emit handler.lastCommand()->commandMessage("x");
    QCOMPARE(messages.count(), 1);
}

void TestItemCommands::ownership_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("alive");

    // a: add two items undoably; d: delete everything on the scene; u: undo; r: redo;
    // o: push an unrelated command; c: clear the handler; 1: limit 1.
    QTest::addRow("undone add dropped from the redo tail") << "auo" << 0;
    QTest::addRow("done add, handler cleared") << "ac" << 3;
    QTest::addRow("done delete, handler cleared") << "adc" << 0;
    QTest::addRow("undone delete, handler cleared") << "aduc" << 3;
    QTest::addRow("add and delete both undone, handler cleared") << "aduuc" << 0;
    QTest::addRow("add and delete both undone, redo tail dropped") << "aduuo" << 0;
    QTest::addRow("done delete dropped by the limit") << "1ado" << 0;
    QTest::addRow("redo after undo, then cleared") << "adurc" << 0;
    QTest::addRow("two adds, one delete of all, first add undone later") << "aadc" << 0;
    QTest::addRow("nothing cleared: scene and handler end together") << "adu" << 3;
}

void TestItemCommands::ownership()
{
    QFETCH(QString, script);
    QFETCH(int, alive);

    {
        CommandHandler handler;
        GraphicsScene scene(nullptr, &handler);
        for (const QChar op : script) {
            switch (op.toLatin1()) {
            case 'a': {
                auto *parent = new TestItem;
                auto *child = new TestItem(QRectF(0, 0, 3, 3), QPointF(), parent);
                Q_UNUSED(child)
                scene.addItems({ parent, new TestItem }, true);
                break;
            }
            case 'd':
                handler.push(new DeleteCommand(&scene, scene.graphicsItems()));
                break;
            case 'u':
                handler.undo();
                break;
            case 'r':
                handler.redo();
                break;
            case 'o':
                handler.push(new OtherCommand);
                break;
            case 'c':
                handler.clear();
                break;
            case '1':
                handler.setLimit(1);
                break;
            }
        }
        // Each addition brings three items: a parent with a child, and one alone.
        QCOMPARE(TestItem::alive, alive);
        // The handler outlives the scene here, as commands may outlive a cleared board.
        scene.clear();
    }
}

QTEST_MAIN(TestItemCommands)
#include "tst_itemcommands.moc"
