#include "../scene/testitem.h"
#include "commands/commandhandler.h"
#include "commands/transformcommand.h"
#include "nearly.h"

#include <QtTest>

#include <cmath>

namespace {

// Exposes the set-up knobs the concrete commands use.
class ProbeCommand : public TransformCommand {
public:
    ProbeCommand(const QList<GraphicsItem *> &items, const QPointF &pivot, int localFrame)
    {
        setPivot(pivot);
        setLocalFrame(localFrame);
        setItems(items, QPointF());
    }
};

} // namespace

class TestTransformCommand : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void childrenFollowOrStay_data();
    void childrenFollowOrStay();
    void parentAndChildBothTransformed();
    void scaleLimits_data();
    void scaleLimits();
    void finishedWithoutChange();
};

void TestTransformCommand::cleanup()
{
    QCOMPARE(TestItem::alive, 0);
}

void TestTransformCommand::childrenFollowOrStay_data()
{
    QTest::addColumn<QTransform>("change");
    QTest::addColumn<int>("fixedTypes");
    QTest::addColumn<bool>("stays");

    const int noteTypes = QTransform::TxScale | QTransform::TxRotate;
    QTest::addRow("moved: note follows") << QTransform::fromTranslate(30, -7) << noteTypes << false;
    QTest::addRow("rotated: note stays") << QTransform().rotate(30) << noteTypes << true;
    QTest::addRow("scaled: note stays") << QTransform::fromScale(2, 2) << noteTypes << true;
    QTest::addRow("flipped: note stays") << QTransform::fromScale(-1, 1) << noteTypes << true;
    QTest::addRow("scaled one way: note stays") << QTransform::fromScale(1, 3) << noteTypes << true;
    QTest::addRow("rotated: image child follows") << QTransform().rotate(30) << 0 << false;
    QTest::addRow("scaled: image child follows") << QTransform::fromScale(2, 2) << 0 << false;
}

void TestTransformCommand::childrenFollowOrStay()
{
    QFETCH(QTransform, change);
    QFETCH(int, fixedTypes);
    QFETCH(bool, stays);

    TestItem parent(QRectF(-50, -50, 100, 100), QPointF(10, 10));
    parent.setLocalTransform(QTransform().translate(10, 10).rotate(20));
    auto *child = new TestItem(QRectF(-5, -5, 10, 10), QPointF(60, 0), &parent, fixedTypes);
    const QTransform childBefore = child->fullTransform();
    const QTransform childLocal = child->transform();

    ProbeCommand command({ &parent }, QPointF(), 1);
    command.applyTransform(change);
    if (stays)
        QVERIFY(nearly(child->fullTransform(), childBefore));
    else
        QVERIFY(nearly(child->fullTransform(), childLocal * parent.fullTransform()));
}

void TestTransformCommand::parentAndChildBothTransformed()
{
    TestItem parent(QRectF(-50, -50, 100, 100), QPointF(0, 0));
    auto *child = new TestItem(QRectF(-5, -5, 10, 10), QPointF(60, 0), &parent);
    for (const bool childFirst : { false, true }) {
        const QPointF parentBefore = parent.scenePosition();
        const QPointF childBefore = child->scenePosition();
        QList<GraphicsItem *> items { &parent, child };
        if (childFirst)
            std::reverse(items.begin(), items.end());
        TransformCommand command(items, QPointF());
        command.applyTransform(QTransform::fromTranslate(5, 3));
        // Moved once, not once for itself and once more with its parent.
        QCOMPARE(parent.scenePosition(), parentBefore + QPointF(5, 3));
        QCOMPARE(child->scenePosition(), childBefore + QPointF(5, 3));
    }
}

void TestTransformCommand::scaleLimits_data()
{
    QTest::addColumn<qreal>("startScale");
    QTest::addColumn<qreal>("step");
    QTest::addColumn<QString>("message");
    QTest::addColumn<qreal>("axis");

    QTest::addRow("past the maximum")
        << 1e6 << 10.0 << "Reached maximum scale, please scale down your images."
        << GraphicsItem::MaximumScale;
    QTest::addRow("past the minimum")
        << 5e-6 << 0.1 << "Reached minimum scale, please scale up your images."
        << GraphicsItem::MinimumScale;
}

void TestTransformCommand::scaleLimits()
{
    QFETCH(qreal, startScale);
    QFETCH(qreal, step);
    QFETCH(QString, message);
    QFETCH(qreal, axis);

    TestItem item;
    item.setLocalTransform(QTransform::fromScale(startScale, startScale));
    ProbeCommand command({ &item }, QPointF(), 1);
    QSignalSpy messages(&command, &BaseCommand::commandMessage);
    for (int update = 0; update < 3; ++update)
        command.applyTransform(QTransform::fromScale(step, step));
    // Once per update that hits the limit.
    QCOMPARE(messages.count(), 3);
    QCOMPARE(messages.first().first().toString(), message);
    const QTransform t = item.transform();
    QVERIFY(std::abs(std::hypot(t.m11(), t.m12()) - axis) <= axis * 1e-12);

    messages.clear();
    command.applyTransform(QTransform().rotate(10));
    QVERIFY(messages.isEmpty());
}

void TestTransformCommand::finishedWithoutChange()
{
    CommandHandler handler;
    TestItem item;
    QPointer<TransformCommand> command = new TransformCommand({ &item }, QPointF(3, 3));
    command->finish();
    handler.push(command);
    QVERIFY(!command);
    QCOMPARE(handler.count(), 0);

    // A change that comes back to where it started is no change either.
    command = new TransformCommand({ &item }, QPointF(3, 3));
    command->applyTransform(QTransform::fromTranslate(5, 0));
    command->applyTransform(QTransform::fromTranslate(-5, 0));
    command->finish();
    handler.push(command);
    QVERIFY(!command);
}

QTEST_MAIN(TestTransformCommand)
#include "tst_transformcommand.moc"
