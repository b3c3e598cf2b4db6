#include "../scene/testitem.h"
#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "scene/graphicsscene.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

namespace {

using Rects = QVector<QRectF>;

class NamedItem : public TestItem {
public:
    NamedItem(const QString &name, const QRectF &sceneRect)
        : TestItem(QRectF(QPointF(), sceneRect.size())
                       .translated(-sceneRect.width() / 2, -sceneRect.height() / 2),
            sceneRect.center())
        , m_name(name)
    {
    }
    QString text() const override { return m_name; }

private:
    QString m_name;
};

// Items whose scene bounds are the given rectangles, owned by the list.
struct Board {
    explicit Board(const Rects &rects)
    {
        for (const QRectF &r : rects) {
            auto *item = new NamedItem(QString(), r);
            owned.emplace_back(item);
            items.append(item);
        }
    }
    Rects bounds() const
    {
        Rects result;
        for (GraphicsItem *item : items)
            result.append(item->sceneBounds());
        return result;
    }
    std::vector<std::unique_ptr<TestItem>> owned;
    QList<GraphicsItem *> items;
};

bool sameRects(const Rects &actual, const Rects &expected)
{
    const auto near = [](const QRectF &a, const QRectF &b) {
        const QPointF d = a.topLeft() - b.topLeft(), e = a.bottomRight() - b.bottomRight();
        return std::max({ std::abs(d.x()), std::abs(d.y()), std::abs(e.x()), std::abs(e.y()) })
            < 1e-9;
    };
    const bool same = actual.size() == expected.size()
        && std::equal(actual.begin(), actual.end(), expected.begin(), near);
    if (!same)
        qWarning() << actual << "expected" << expected;
    return same;
}

} // namespace

class TestAlignCommand : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void arrange_data();
    void arrange();
    void gridOrder_data();
    void gridOrder();
    void attachedItemsArrangedTogether_data();
    void attachedItemsArrangedTogether();
    void packKeepsShapeAndNotes();
    void packedItemsNeverOverlap_data();
    void packedItemsNeverOverlap();
    void unusableAspectCountsAsSquare_data();
    void unusableAspectCountsAsSquare();
};

void TestAlignCommand::cleanup()
{
    QCOMPARE(TestItem::alive, 0);
}

void TestAlignCommand::arrange_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<Rects>("before");
    QTest::addColumn<Rects>("after");

    const int left = AlignCommand::AlignLeft;
    QTest::addRow("left, apart vertically: all on the leftmost edge")
        << left << Rects { { 40, 0, 100, 50 }, { 10, 80, 60, 50 }, { 200, 200, 30, 30 } }
        << Rects { { 10, 0, 100, 50 }, { 10, 80, 60, 50 }, { 10, 200, 30, 30 } };
    QTest::addRow("left, side by side: one gap apart")
        << left << Rects { { 0, 0, 100, 50 }, { 150, 0, 100, 50 } }
        << Rects { { 0, 0, 100, 50 }, { 110, 0, 100, 50 } };
    QTest::addRow("left, three overlapping: even gaps")
        << left << Rects { { 0, 0, 100, 50 }, { 50, 10, 100, 50 }, { 100, 20, 100, 50 } }
        << Rects { { 0, 0, 100, 50 }, { 110, 10, 100, 50 }, { 220, 20, 100, 50 } };
    QTest::addRow("left, nearest the edge goes first")
        << left << Rects { { 300, 0, 100, 50 }, { 100, 0, 100, 50 } }
        << Rects { { 210, 0, 100, 50 }, { 100, 0, 100, 50 } };
    QTest::addRow("right, side by side: one gap apart")
        << int(AlignCommand::AlignRight) << Rects { { 0, 0, 100, 50 }, { 150, 0, 100, 50 } }
        << Rects { { 40, 0, 100, 50 }, { 150, 0, 100, 50 } };
    // Spaced by the widest item and its gap: 300 + 2 * 5.
    QTest::addRow("row: centres 310 apart, leftmost keeps its edge")
        << int(AlignCommand::Row)
        << Rects { { 0, 0, 100, 50 }, { 500, 100, 300, 200 }, { 200, 30, 200, 20 } }
        << Rects { { 0, 175, 100, 50 }, { 210, 100, 300, 200 }, { 570, 190, 200, 20 } };
    QTest::addRow("grid, no height: one row")
        << int(AlignCommand::GridByOrder)
        << Rects { { 0, 0, 100, 0 }, { 0, 50, 100, 0 }, { 0, 100, 100, 0 } }
        << Rects { { 0, 0, 100, 0 }, { 110, 0, 100, 0 }, { 220, 0, 100, 0 } };
}

void TestAlignCommand::arrange()
{
    QFETCH(int, mode);
    QFETCH(Rects, before);
    QFETCH(Rects, after);

    Board board(before);
    CommandHandler handler;
    auto *command = new AlignCommand(board.items, mode, 10, 1.0f);
    command->finish();
    handler.push(command);
    QVERIFY(sameRects(board.bounds(), after));
    QCOMPARE(handler.count(), 1);

    handler.undo();
    QVERIFY(sameRects(board.bounds(), before));
    handler.redo();
    QVERIFY(sameRects(board.bounds(), after));

    // Arranging what is already arranged leaves no undo step.
    command = new AlignCommand(board.items, mode, 10, 1.0f);
    command->finish();
    handler.push(command);
    QCOMPARE(handler.count(), 1);
}

void TestAlignCommand::gridOrder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QVector<int>>("expectedOrder");

    QTest::addRow("by order of addition")
        << int(AlignCommand::GridByOrder) << QStringList { "d", "c", "b", "a" }
        << QVector<int> { 0, 1, 2, 3 };
    QTest::addRow("by name, case-insensitive")
        << int(AlignCommand::GridByName) << QStringList { "c", "b", "D", "A" }
        << QVector<int> { 3, 1, 0, 2 };
}

void TestAlignCommand::gridOrder()
{
    QFETCH(int, mode);
    QFETCH(QStringList, names);
    QFETCH(QVector<int>, expectedOrder);

    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    // Scattered so that neither position nor list order gives the wanted order.
    const QPointF places[] = { { 700, 500 }, { 300, 900 }, { 900, 100 }, { 100, 300 } };
    QList<GraphicsItem *> added;
    for (int i = 0; i < 4; ++i) {
        const QRectF r(places[i] - QPointF(50, 50), QSizeF(100, 100));
        added.append(new NamedItem(names.at(i), r));
    }
    scene.addItems(added);
    const QList<GraphicsItem *> given { added[2], added[0], added[3], added[1] };
    const QPointF topLeft(50, 50);

    AlignCommand command(given, mode, 10, 1.0f);
    command.finish();
    // k = 2: rows of 200, two rows of two.
    const QPointF centres[] = { { 50, 50 }, { 160, 50 }, { 50, 160 }, { 160, 160 } };
    for (int slot = 0; slot < 4; ++slot)
        QCOMPARE(added.at(expectedOrder.at(slot))->scenePosition(), topLeft + centres[slot]);
}

void TestAlignCommand::attachedItemsArrangedTogether_data()
{
    QTest::addColumn<int>("mode");

    // Modes that keep the given order, so the note is placed before its image.
    QTest::addRow("column") << int(AlignCommand::Column);
    QTest::addRow("grid by order") << int(AlignCommand::GridByOrder);
    QTest::addRow("stack") << int(AlignCommand::Stack);
}

// An image and its note both selected and arranged: the note goes where the arrangement puts it,
// not there plus wherever its image was moved afterwards.
void TestAlignCommand::attachedItemsArrangedTogether()
{
    QFETCH(int, mode);

    const QRectF noteRect(-20, -10, 40, 20);
    TestItem image(QRectF(-50, -50, 100, 100), QPointF(300, 0));
    auto *note = new TestItem(noteRect, QPointF(0, 120), &image);
    TestItem other(QRectF(-50, -50, 100, 100), QPointF(0, 400));

    // The arrangement of stand-alone items of the same sizes and places is the reference.
    TestItem noteAlone(noteRect, QPointF(300, 120));
    TestItem imageAlone(QRectF(-50, -50, 100, 100), QPointF(300, 0));
    TestItem otherAlone(QRectF(-50, -50, 100, 100), QPointF(0, 400));
    AlignCommand reference({ &noteAlone, &imageAlone, &otherAlone }, mode, 10, 1.0f);
    reference.finish();

    AlignCommand command({ note, &image, &other }, mode, 10, 1.0f);
    command.finish();
    QCOMPARE(image.scenePosition(), imageAlone.scenePosition());
    QCOMPARE(note->scenePosition(), noteAlone.scenePosition());
    QCOMPARE(other.scenePosition(), otherAlone.scenePosition());

    command.undo();
    QCOMPARE(note->scenePosition(), QPointF(300, 120));
    command.redo();
    QCOMPARE(note->scenePosition(), noteAlone.scenePosition());
}

void TestAlignCommand::packKeepsShapeAndNotes()
{
    const int noteTypes = QTransform::TxScale | QTransform::TxRotate;
    TestItem image(QRectF(-100, -50, 200, 100), QPointF(500, 500));
    image.setLocalTransform(QTransform().translate(500, 500).rotate(30).scale(-1.5, 1.5));
    auto *note = new TestItem(QRectF(-20, -10, 40, 20), QPointF(), &image, noteTypes);
    note->setFullTransform(QTransform::fromTranslate(520, 600));
    auto *noteOnNote = new TestItem(QRectF(-5, -5, 10, 10), QPointF(), note, noteTypes);
    noteOnNote->setFullTransform(QTransform::fromTranslate(530, 640));
    TestItem other(QRectF(-30, -80, 60, 160), QPointF(-400, 0));
    TestItem third(QRectF(-70, -70, 140, 140), QPointF(0, 900));
    const QTransform imageBefore = image.fullTransform();
    const QPointF noteOffset = note->scenePosition() - image.scenePosition();
    const QPointF deepOffset = noteOnNote->scenePosition() - image.scenePosition();

    AlignCommand command(
        { note, &image, noteOnNote, &other, &third }, AlignCommand::Pack, 10, 1.5f);
    QCOMPARE(command.items().size(), 3);
    command.finish();
    QCOMPARE(command.unplacedCount(), 0);
    QVERIFY(image.scenePosition() != imageBefore.map(QPointF()));

    // Moved, never turned, flipped or scaled.
    const auto linear
        = [](const QTransform &t) { return QTransform(t.m11(), t.m12(), t.m21(), t.m22(), 0, 0); };
    QCOMPARE(linear(image.fullTransform()), linear(imageBefore));
    QCOMPARE(note->scenePosition() - image.scenePosition(), noteOffset);
    QCOMPARE(noteOnNote->scenePosition() - image.scenePosition(), deepOffset);
}

void TestAlignCommand::packedItemsNeverOverlap_data()
{
    QTest::addColumn<int>("gap");
    QTest::addColumn<float>("aspect");
    QTest::addColumn<int>("maxCount");

    QTest::addRow("no gap, wide window") << 0 << 2.4f << 60;
    QTest::addRow("gap 10, square window") << 10 << 1.0f << 120;
    QTest::addRow("odd gap, landscape") << 7 << 1.7777778f << 200;
}

// Checked geometrically: every pair of placed items is at least one gap apart, horizontally or
// vertically, for random boards of mixed sizes, scales and rotations.
void TestAlignCommand::packedItemsNeverOverlap()
{
    QFETCH(int, gap);
    QFETCH(float, aspect);
    QFETCH(int, maxCount);

    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> unit(0, 1);
        const int count = 2 + int(unit(random) * (maxCount - 1));
        std::vector<std::unique_ptr<TestItem>> owned;
        QList<GraphicsItem *> items;
        for (int i = 0; i < count; ++i) {
            const double w = unit(random) < 0.2 ? 5 + unit(random) * 40 : 50 + unit(random) * 900;
            const double h = unit(random) < 0.1 ? w * 6 : w * (0.3 + unit(random) * 1.4);
            auto *item = new TestItem(QRectF(-w / 2, -h / 2, w, h));
            QTransform t;
            t.translate(unit(random) * 5000 - 2500, unit(random) * 5000 - 2500);
            if (unit(random) < 0.2)
                t.rotate(unit(random) * 360);
            if (unit(random) < 0.3)
                t.scale(0.2 + unit(random) * 2, 0.2 + unit(random) * 2);
            item->setLocalTransform(t);
            owned.emplace_back(item);
            items.append(item);
        }

        AlignCommand command(items, AlignCommand::Pack, gap, aspect);
        command.finish();
        QVERIFY2(command.unplacedCount() == 0, qPrintable(QString("seed %1").arg(seed)));
        for (int i = 0; i < count; ++i) {
            const QRectF a = items[i]->sceneBounds().adjusted(0, 0, gap, gap);
            for (int j = i + 1; j < count; ++j) {
                const QRectF b = items[j]->sceneBounds().adjusted(0, 0, gap, gap);
                const QRectF overlap = a & b;
                QVERIFY2(overlap.width() < 1e-6 || overlap.height() < 1e-6,
                    qPrintable(
                        QString("seed %1: items %2 and %3 overlap").arg(seed).arg(i).arg(j)));
            }
        }
    }
}

void TestAlignCommand::unusableAspectCountsAsSquare_data()
{
    QTest::addColumn<float>("aspect");

    QTest::addRow("not a number") << std::numeric_limits<float>::quiet_NaN();
    QTest::addRow("zero (a window without height)") << 0.0f;
}

void TestAlignCommand::unusableAspectCountsAsSquare()
{
    QFETCH(float, aspect);

    const Rects rects { { 0, 0, 300, 200 }, { 500, 0, 120, 400 }, { 0, 700, 250, 250 },
        { 900, 900, 80, 60 } };
    Board square(rects);
    AlignCommand reference(square.items, AlignCommand::Pack, 10, 1.0f);
    reference.finish();

    Board board(rects);
    AlignCommand command(board.items, AlignCommand::Pack, 10, aspect);
    QCOMPARE(command.aspect(), 1.0f);
    command.finish();
    QCOMPARE(command.unplacedCount(), 0);
    QVERIFY(sameRects(board.bounds(), square.bounds()));
}

QTEST_MAIN(TestAlignCommand)
#include "tst_aligncommand.moc"
