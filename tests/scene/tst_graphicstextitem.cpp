#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"

#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QTextCursor>
#include <QtTest>

#include <functional>

using NoteChange = std::function<void(GraphicsTextItem *)>;
Q_DECLARE_METATYPE(NoteChange)

namespace {

// Draws the scene part under the note at the given zoom, as a view at that zoom would.
void renderAt(GraphicsScene &scene, GraphicsTextItem *note, qreal zoom)
{
    const QRectF source = note->sceneBounds();
    QImage image((source.size() * zoom).toSize() + QSize(2, 2), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    scene.render(&painter, QRectF(QPointF(), source.size() * zoom), source);
}

} // namespace

class TestGraphicsTextItem : public QObject {
    Q_OBJECT

private slots:
    void cacheOrDirect_data();
    void cacheOrDirect();
    void cacheDroppedOnChange_data();
    void cacheDroppedOnChange();
    void growsAboutItsCentre();
    void clickPlacesCursor_data();
    void clickPlacesCursor();
};

void TestGraphicsTextItem::cacheOrDirect_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<bool>("editing");
    QTest::addColumn<bool>("cached");

    QTest::addRow("zoom 1.0") << 1.0 << false << true;
    QTest::addRow("zoom 2.0 still cached") << 2.0 << false << true;
    QTest::addRow("zoom 2.01 drawn directly") << 2.01 << false << false;
    QTest::addRow("editing at zoom 0.5 drawn directly") << 0.5 << true << false;
}

void TestGraphicsTextItem::cacheOrDirect()
{
    QFETCH(qreal, zoom);
    QFETCH(bool, editing);
    QFETCH(bool, cached);

    GraphicsScene scene(nullptr, nullptr);
    auto *note = new GraphicsTextItem(QPointF(40, 30), "Note");
    note->setTextColor(Qt::yellow);
    scene.addItem(note);
    note->setEditing(editing);
    renderAt(scene, note, zoom);
    QCOMPARE(note->hasCache(), cached);
}

void TestGraphicsTextItem::cacheDroppedOnChange_data()
{
    QTest::addColumn<NoteChange>("change");

    QTest::addRow("text colour") << NoteChange(
        [](GraphicsTextItem *n) { n->setTextColor(Qt::red); });
    QTest::addRow("background colour")
        << NoteChange([](GraphicsTextItem *n) { n->setTextBackgroundColor(Qt::blue); });
}

void TestGraphicsTextItem::cacheDroppedOnChange()
{
    QFETCH(NoteChange, change);

    GraphicsScene scene(nullptr, nullptr);
    auto *note = new GraphicsTextItem(QPointF(), "Note");
    note->setTextColor(Qt::yellow);
    scene.addItem(note);
    renderAt(scene, note, 1.0);
    QVERIFY(note->hasCache());
    change(note);
    // A stale cache would keep showing what the note no longer is.
    QVERIFY(!note->hasCache());
}

void TestGraphicsTextItem::growsAboutItsCentre()
{
    GraphicsScene scene(nullptr, nullptr);
    auto *note = new GraphicsTextItem(QPointF(100, 50), "ab");
    scene.addItem(note);
    QSignalSpy changed(note, &GraphicsTextItem::textChanged);
    const QRectF before = note->boundingRect();
    QCOMPARE(before.center(), QPointF());
    QCOMPARE(before.size(), note->contentRect().size());

    note->setEditing(true);
    QTextCursor cursor = note->textCursor();
    cursor.movePosition(QTextCursor::End);
    note->setTextCursor(cursor);
    for (const char *key : { "c", "d", "e" }) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, key);
        scene.sendEvent(note, &press);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::ShiftModifier, "\r");
    scene.sendEvent(note, &enter);

    QCOMPARE(note->text(), QString("abcde\n"));
    QVERIFY(changed.count() >= 4);
    const QRectF after = note->boundingRect();
    QVERIFY(after.width() > before.width());
    QVERIFY(after.height() > before.height());
    QCOMPARE(after.center(), QPointF());
    QCOMPARE(note->sceneBounds().center(), QPointF(100, 50));
}

void TestGraphicsTextItem::clickPlacesCursor_data()
{
    QTest::addColumn<bool>("rightEdge");
    QTest::addColumn<int>("position");

    QTest::addRow("left edge: before the first letter") << false << 0;
    QTest::addRow("right edge: after the last letter") << true << 5;
}

void TestGraphicsTextItem::clickPlacesCursor()
{
    QFETCH(bool, rightEdge);
    QFETCH(int, position);

    GraphicsScene scene(nullptr, nullptr);
    auto *note = new GraphicsTextItem(QPointF(), "hello");
    scene.addItem(note);
    note->setEditing(true);
    const QRectF bounds = note->boundingRect();
    // Item coordinates are centred; the control's start at the note's corner.
    const QPointF point(rightEdge ? bounds.right() - 5 : bounds.left() + 5, 0);
    QGraphicsSceneMouseEvent press(QEvent::GraphicsSceneMousePress);
    press.setPos(point);
    press.setScenePos(point);
    press.setButton(Qt::LeftButton);
    press.setButtons(Qt::LeftButton);
    scene.sendEvent(note, &press);
    QCOMPARE(note->textCursor().position(), position);
}

QTEST_MAIN(TestGraphicsTextItem)
#include "tst_graphicstextitem.moc"
