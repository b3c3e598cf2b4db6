#include "commands/basecommand.h"
#include "commands/commandhandler.h"

#include <QPointer>
#include <QtTest>

namespace {

// Adds its step to a shared counter, standing in for a change of the board.
class StepCommand : public BaseCommand
{
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

class TestCommandHandler : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void limitDropsOldest_data();
    void limitDropsOldest();
    void lowerLimit_data();
    void lowerLimit();
    void redoTailDestroyedByPush();
    void commandWithoutEffect();
    void signalsAndEnds();
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

void TestCommandHandler::lowerLimit_data()
{
    QTest::addColumn<int>("undos");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("position");

    // Five commands, some undone, then the limit drops to keep the newest ones.
    QTest::addRow("position behind the removed range moves back") << 0 << 2 << 2;
    QTest::addRow("position inside the removed range goes to its start") << 4 << 2 << 0;
    QTest::addRow("position at the end of the removed range") << 2 << 2 << 0;
    QTest::addRow("limit above the count changes nothing") << 1 << 9 << 4;
}

void TestCommandHandler::lowerLimit()
{
    QFETCH(int, undos);
    QFETCH(int, limit);
    QFETCH(int, position);

    int board = 0;
    CommandHandler handler;
    for (int i = 0; i < 5; ++i)
        handler.push(new StepCommand(&board, 1));
    for (int i = 0; i < undos; ++i)
        handler.undo();
    const int before = board;
    handler.setLimit(limit);
    QCOMPARE(handler.count(), std::min(5, limit));
    QCOMPARE(handler.position(), position);
    QCOMPARE(board, before);
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

void TestCommandHandler::signalsAndEnds()
{
    int board = 0;
    CommandHandler handler;
    QSignalSpy executed(&handler, &CommandHandler::commandExecuted);
    QSignalSpy messages(&handler, &CommandHandler::commandMessage);

    handler.undo();
    handler.redo();
    QVERIFY(executed.isEmpty());

    auto *command = new StepCommand(&board, 1);
    handler.push(command);
    handler.undo();
    handler.undo();
    handler.redo();
    handler.redo();
    QCOMPARE(executed.count(), 3);
    const CommandHandler::ExecuteType types[] = { CommandHandler::Executed, CommandHandler::Undone,
                                                  CommandHandler::Redone };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(executed.at(i).at(0).value<BaseCommand *>(), command);
        QCOMPARE(executed.at(i).at(1).toInt(), int(types[i]));
    }
    QVERIFY(command->isDone());

    emit command->commandMessage("limit");
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.first().first().toString(), QString("limit"));

    handler.clear();
    QCOMPARE(handler.count(), 0);
    QCOMPARE(handler.lastCommand(), nullptr);
}

QTEST_GUILESS_MAIN(TestCommandHandler)
#include "tst_commandhandler.moc"
