#include "../scene/testitem.h"
#include "commands/addcommand.h"
#include "commands/commandhandler.h"
#include "commands/deletecommand.h"
#include "commands/depthchangecommand.h"
#include "commands/filtercommand.h"
#include "commands/relinkcommand.h"
#include "commands/textchangecommand.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"

#include <QtTest>

#include <algorithm>

namespace {

// A step on the board that is not about items, to push after undos.
class OtherCommand : public BaseCommand { };

// The letters of the items named by position in items, from the bottom of the stack to its top.
QString stacking(const QList<GraphicsItem *> &stack, const QList<GraphicsItem *> &items)
{
    QString letters;
    for (GraphicsItem *item : stack)
        letters += QChar('a' + items.indexOf(item));
    return letters;
}

QList<qreal> depths(const QList<GraphicsItem *> &items)
{
    QList<qreal> result;
    for (const GraphicsItem *item : items)
        result.append(item->zValue());
    return result;
}

} // namespace

class TestItemCommands : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void deleteImageWithNote();
    void newNoteOnImage();
    void undoableAdditions();
    void ownership_data();
    void ownership();
    void filters_data();
    void filters();
    void relink();
    void depthChange_data();
    void depthChange();
    void attachedItemsStepAmongTheirSiblings();
    void repeatedStepsNeverTie();
    void textChange_data();
    void textChange();
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
    auto *note = new GraphicsTextItem(QPointF(20, 0), "Note", image);
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

void TestItemCommands::newNoteOnImage()
{
    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    auto *image = new TestItem;
    scene.addItem(image);
    // As the view makes a note on an image: attached first, then added undoably.
    auto *note = new GraphicsTextItem(QPointF(10, 10), "Note", image);
    handler.push(new AddCommand(&scene, note));
    QCOMPARE(handler.count(), 1);
    QCOMPARE(note->id(), 1);
    QCOMPARE(note->zValue(), 1.0);
    QCOMPARE(scene.itemById(1), note);
    QCOMPARE(scene.addedItems(), QList<GraphicsItem *> { image });

    handler.undo();
    QCOMPARE(note->scene(), nullptr);
    QCOMPARE(scene.itemById(1), nullptr);
    handler.redo();
    QCOMPARE(note->parentItem(), image);
    QCOMPARE(scene.itemById(1), note);

    // The note leaves with its image; once the deletion is final no id may name it.
    handler.push(new DeleteCommand(&scene, { image }));
    QCOMPARE(scene.itemById(1), nullptr);
    handler.undo();
    QCOMPARE(scene.itemById(1), note);
    handler.redo();
    handler.clear();
    QCOMPARE(scene.itemById(1), nullptr);
}

void TestItemCommands::undoableAdditions()
{
    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    QSignalSpy messages(&handler, &CommandHandler::commandMessage);
    auto *first = new TestItem;
    auto *a = new TestItem;
    auto *b = new TestItem;
    handler.push(new AddCommand(&scene, first));
    handler.push(new AddCommand(&scene, { a, b }));
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
    QTest::addRow("parent and attached item added together, undone, cleared") << "puc" << 0;
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
                handler.push(new AddCommand(&scene, { parent, new TestItem }));
                break;
            }
            case 'p': {
                auto *parent = new TestItem;
                handler.push(new AddCommand(
                    &scene, { parent, new TestItem(QRectF(0, 0, 3, 3), QPointF(), parent) }));
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

void TestItemCommands::filters_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<QList<int>>("after");

    const int smooth = GraphicsImageItem::SmoothFilter;
    const int grey = GraphicsImageItem::GrayscaleFilter;
    const int toggle = int(FilterCommand::Mode::Toggle);
    const int set = int(FilterCommand::Mode::Set);
    QTest::addRow("toggle grey: each on its own, smoothing untouched")
        << grey << toggle << QList<int> { smooth | grey, smooth }
        << QList<int> { smooth, smooth | grey };
    QTest::addRow("set: a mixed pair becomes alike")
        << smooth << set << QList<int> { 0, smooth | grey } << QList<int> { smooth, smooth | grey };
    QTest::addRow("clear: other bits stay")
        << smooth << int(FilterCommand::Mode::Clear) << QList<int> { smooth, smooth | grey }
        << QList<int> { 0, grey };
    QTest::addRow("set: already set, no step")
        << smooth << set << QList<int> { smooth, smooth | grey }
        << QList<int> { smooth, smooth | grey };
}

void TestItemCommands::filters()
{
    QFETCH(int, mask);
    QFETCH(int, mode);
    QFETCH(QList<int>, before);
    QFETCH(QList<int>, after);

    CommandHandler handler;
    const QImage pixels(8, 8, QImage::Format_RGB32);
    GraphicsImageItem first(Picture::fromPixels(pixels), QString(), QString(), QPointF());
    GraphicsImageItem second(Picture::fromPixels(pixels), QString(), QString(), QPointF());
    GraphicsTextItem note(QPointF(), "Note");
    first.setFilter(before.at(0));
    second.setFilter(before.at(1));
    const auto filters = [&] { return QList<int> { first.filter(), second.filter() }; };
    handler.push(new FilterCommand({ &first, &note, &second }, mask, FilterCommand::Mode(mode)));
    QCOMPARE(filters(), after);
    QCOMPARE(handler.count(), before == after ? 0 : 1);
    handler.undo();
    QCOMPARE(filters(), before);
}

void TestItemCommands::relink()
{
    CommandHandler handler;
    GraphicsImageItem missing(nullptr, "/gone/a.png", "a", QPointF());
    // As the relinker leaves it: the picture found at the new place.
    missing.setPicture(Picture::fromPixels(QImage(30, 20, QImage::Format_RGB32)));
    handler.push(new RelinkCommand({ &missing }));
    QCOMPARE(missing.pictureSize(), QSize(30, 20));
    handler.undo();
    QVERIFY(!missing.picture());
    handler.redo();
    QVERIFY(missing.picture());
    QCOMPARE(missing.pictureSize(), QSize(30, 20));
    QCOMPARE(missing.boundingRect(), QRectF(-15, -10, 30, 20));
}

void TestItemCommands::depthChange_data()
{
    QTest::addColumn<QList<int>>("columns");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("expected");

    // Items a, b, c, d, stacked in that order, 100 wide, each in a column 100 apart: items in
    // one column overlap, items in neighbouring columns touch but do not overlap.
    const QList<int> pile { 0, 0, 0, 0 };
    const int up = DepthChangeCommand::Forward;
    const int down = DepthChangeCommand::Backward;
    QTest::addRow("forward: one step") << pile << "a" << up << "bacd";
    QTest::addRow("forward: top item stays") << pile << "d" << up << "abcd";
    QTest::addRow("forward: onto the top") << pile << "c" << up << "abdc";
    QTest::addRow("forward: a pair keeps its order") << pile << "ab" << up << "cabd";
    QTest::addRow("forward: of a pair apart, the upper stays") << pile << "ac" << up << "bacd";
    QTest::addRow("forward: past items not overlapping")
        << QList<int> { 0, 2, 0, 4 } << "a" << up << "bcad";
    QTest::addRow("forward: touching is not overlapping")
        << QList<int> { 0, 1, 0, 0 } << "a" << up << "bcad";
    QTest::addRow("forward: nothing overlapping above")
        << QList<int> { 0, 0, 2, 4 } << "b" << up << "abcd";
    QTest::addRow("backward: one step") << pile << "c" << down << "acbd";
    QTest::addRow("backward: a pair keeps its order") << pile << "cd" << down << "acdb";
    QTest::addRow("backward: past items not overlapping")
        << QList<int> { 0, 2, 4, 0 } << "d" << down << "dabc";
    QTest::addRow("to front") << pile << "b" << int(DepthChangeCommand::ToFront) << "acdb";
    QTest::addRow("to back") << pile << "c" << int(DepthChangeCommand::ToBack) << "cabd";
}

void TestItemCommands::depthChange()
{
    QFETCH(QList<int>, columns);
    QFETCH(QString, selected);
    QFETCH(int, direction);
    QFETCH(QString, expected);

    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    QList<GraphicsItem *> items;
    for (int column : columns)
        items.append(new TestItem(QRectF(-50, -50, 100, 100), QPointF(column * 100, 0)));
    scene.addItems(items);
    const QList<qreal> before = depths(items);
    QList<GraphicsItem *> chosen;
    for (const QChar letter : selected)
        chosen.append(items.at(letter.toLatin1() - 'a'));

    handler.push(new DepthChangeCommand(&scene, chosen, direction));
    QCOMPARE(stacking(scene.topLevelItems(Qt::AscendingOrder), items), expected);
    QCOMPARE(handler.count(), expected == QLatin1String("abcd") ? 0 : 1);
    const QList<qreal> after = depths(items);
    handler.undo();
    QCOMPARE(depths(items), before);
    handler.redo();
    QCOMPARE(depths(items), after);
    // A picture added later lands above every depth the step chose, not level with one.
    auto *added = new TestItem;
    scene.addItem(added);
    QVERIFY(added->zValue() > *std::max_element(after.cbegin(), after.cend()));
}

void TestItemCommands::attachedItemsStepAmongTheirSiblings()
{
    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    auto *image = new TestItem;
    // Attached in this order, at one depth.
    QList<GraphicsItem *> notes;
    for (int i = 0; i < 3; ++i)
        notes.append(new TestItem(QRectF(0, 0, 20, 20), QPointF(), image));
    auto *other = new TestItem;
    scene.addItems({ image, other });

    // The first note passes its sibling; the image stays below the other picture.
    handler.push(new DepthChangeCommand(&scene, notes.first(), DepthChangeCommand::Forward));
    QCOMPARE(stacking(image->childGraphicsItems(), notes), QStringLiteral("bac"));
    QCOMPARE(scene.topLevelItems().first(), other);
    handler.undo();
    QCOMPARE(stacking(image->childGraphicsItems(), notes), QStringLiteral("abc"));
    QCOMPARE(depths(notes), (QList<qreal> { 0, 0, 0 }));
}

void TestItemCommands::repeatedStepsNeverTie()
{
    CommandHandler handler;
    handler.setLimit(100);
    GraphicsScene scene(nullptr, &handler);
    const QList<GraphicsItem *> items { new TestItem, new TestItem, new TestItem };
    scene.addItems(items);
    const QList<qreal> before = depths(items);

    // The bottom item passes the middle one each time, into ever narrower gaps below c.
    QString order = QStringLiteral("abc");
    for (int round = 0; round < 80; ++round) {
        GraphicsItem *bottom = scene.topLevelItems(Qt::AscendingOrder).first();
        handler.push(new DepthChangeCommand(&scene, bottom, DepthChangeCommand::Forward));
        order = order.mid(1, 1) + order.at(0) + order.mid(2);
        QCOMPARE(stacking(scene.topLevelItems(Qt::AscendingOrder), items), order);
        const QList<qreal> now = depths(items);
        QVERIFY(now.at(0) != now.at(1) && now.at(1) != now.at(2) && now.at(0) != now.at(2));
    }
    while (handler.position() > 0)
        handler.undo();
    QCOMPARE(depths(items), before);
}

void TestItemCommands::textChange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<bool>("step");

    const QColor unchanged(0, 0, 0, 51);
    QTest::addRow("edited without change: no step") << "Note" << unchanged << false;
    QTest::addRow("background only") << "Note" << QColor(Qt::blue) << true;
    QTest::addRow("text only") << "Notes" << unchanged << true;
}

void TestItemCommands::textChange()
{
    QFETCH(QString, text);
    QFETCH(QColor, background);
    QFETCH(bool, step);

    CommandHandler handler;
    GraphicsTextItem note(QPointF(), "Note");
    note.setTextColor(Qt::white);
    // As the view does around an edit.
    note.setEditing(true);
    const TextChangeCommand::State before = TextChangeCommand::stateOf(&note);
    if (note.text() != text)
        note.setText(text);
    note.setTextBackgroundColor(background);
    note.setEditing(false);
    handler.push(new TextChangeCommand(&note, before));
    QCOMPARE(handler.count(), step ? 1 : 0);

    handler.undo();
    QCOMPARE(note.text(), QString("Note"));
    QCOMPARE(note.textBackgroundColor(), QColor(0, 0, 0, 51));
    QCOMPARE(note.textColor(), QColor(Qt::white));
    handler.redo();
    QCOMPARE(note.text(), text);
    QCOMPARE(note.textBackgroundColor(), background);
}

QTEST_MAIN(TestItemCommands)
#include "tst_itemcommands.moc"
