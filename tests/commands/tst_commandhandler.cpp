#include "commands/basecommand.h"
#include "commands/commandhandler.h"

#include <QPointer>
#include <QtTest>

namespace {

// Adds its step to a shared counter, standing in for a change of the board.
class StepCommand : public BaseCommand {
public:
    StepCommand(int *board, int step)
        : m_board(board)
        , m_step(step)
    {
        ++alive;
    }
    ~StepCommand() override { --alive; }

    void redo() override
    {
        *m_board += m_step;
        BaseCommand::redo();
    }
    void undo() override
    {
        *m_board -= m_step;
        BaseCommand::undo();
    }
    bool hasEffect() const override { return m_step != 0; }

    static inline int alive = 0;

private:
    int *m_board;
    int m_step;
};

} // namespace

class TestCommandHandler : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void limitDropsOldest_data();
    void limitDropsOldest();
    void redoTailDestroyedByPush();
    void commandWithoutEffect();
};

void TestCommandHandler::cleanup()
{
    QCOMPARE(StepCommand::alive, 0);
}

void TestCommandHandler::limitDropsOldest_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("pushes");
    QTest::addColumn<int>("kept");

    QTest::addRow("limit 50, 51 pushes") << 50 << 51 << 50;
    QTest::addRow("limit 3, 5 pushes") << 3 << 5 << 3;
    QTest::addRow("limit 0 keeps nothing") << 0 << 4 << 0;
    QTest::addRow("below the limit") << 10 << 4 << 4;
}

void TestCommandHandler::limitDropsOldest()
{
    QFETCH(int, limit);
    QFETCH(int, pushes);
    QFETCH(int, kept);

    int board = 0;
    CommandHandler handler;
    handler.setLimit(limit);
    // Steps 1, 2, 4, ... make every board state distinct.
    for (int i = 0; i < pushes; ++i)
        handler.push(new StepCommand(&board, 1 << (i % 30)));
    const int full = board;
    QCOMPARE(handler.count(), kept);
    QCOMPARE(StepCommand::alive, kept);
    QCOMPARE(handler.position(), kept);

    int dropped = 0;
    for (int i = 0; i < pushes - kept; ++i)
        dropped += 1 << (i % 30);
    for (int i = 0; i < kept + 2; ++i)
        handler.undo();
    QCOMPARE(board, dropped);
    QCOMPARE(handler.lastCommand(), nullptr);
    for (int i = 0; i < kept + 2; ++i)
        handler.redo();
    QCOMPARE(board, full);
}

void TestCommandHandler::redoTailDestroyedByPush()
{
    int board = 0;
    CommandHandler handler;
    handler.push(new StepCommand(&board, 1));
    QPointer<BaseCommand> undone = new StepCommand(&board, 10);
    handler.push(undone);
    handler.undo();
    QVERIFY(undone);
    QCOMPARE(board, 1);

    auto *next = new StepCommand(&board, 100);
    handler.push(next);
    QVERIFY(!undone);
    QCOMPARE(handler.count(), 2);
    QCOMPARE(handler.lastCommand(), next);
    handler.redo();
    QCOMPARE(board, 101);
}

void TestCommandHandler::commandWithoutEffect()
{
    int board = 0;
    CommandHandler handler;
    QSignalSpy executed(&handler, &CommandHandler::commandExecuted);
    handler.push(new StepCommand(&board, 1));
    handler.push(new StepCommand(&board, 2));
    handler.undo();
    executed.clear();

    QPointer<BaseCommand> idle = new StepCommand(&board, 0);
    handler.push(idle);
    QVERIFY(!idle);
    QVERIFY(executed.isEmpty());
    // The redo tail survives a command that changed nothing.
    QCOMPARE(handler.count(), 2);
    QCOMPARE(handler.position(), 1);
    handler.redo();
    QCOMPARE(board, 3);
}

QTEST_GUILESS_MAIN(TestCommandHandler)
#include "tst_commandhandler.moc"
