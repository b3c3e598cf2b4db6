#pragma once

#include <QObject>
#include <QVector>

class BaseCommand;

// The undo stack: owned commands, oldest first, and a position; commands before the position
// are executed, the rest form the redo tail. At most limit() commands are kept. GUI thread only;
// signals are direct, and a command passed with commandExecuted may be deleted right after the
// signal returns (a limit of 0 keeps none).
class CommandHandler : public QObject {
    Q_OBJECT

public:
    enum ExecuteType { Executed = 0, Undone = 1, Redone = 2 };
    Q_ENUM(ExecuteType)

    explicit CommandHandler(QObject *parent = nullptr);
    ~CommandHandler() override;

    void push(BaseCommand *command);
    void undo();
    void redo();
    BaseCommand *lastCommand() const;
    int limit() const { return m_limit; }
    void setLimit(int limit);
    void clear();

    int count() const { return m_commands.size(); }
    int position() const { return m_position; }
    BaseCommand *command(int index) const { return m_commands.value(index); }

signals:
    void commandExecuted(BaseCommand *command, CommandHandler::ExecuteType type);
    void commandMessage(const QString &message);

private:
    void removeRange(int start, int end);

    QVector<BaseCommand *> m_commands;
    int m_position = 0;
    int m_limit = 50;
};
