#include "commandhandler.h"

#include "commands/basecommand.h"
#include "commands/commandslog.h"

#include <algorithm>

CommandHandler::CommandHandler(QObject *parent)
    : QObject(parent)
{
    // For queued connections and signal spies on commandExecuted.
    qRegisterMetaType<BaseCommand *>("BaseCommand*");
    qRegisterMetaType<CommandHandler::ExecuteType>("CommandHandler::ExecuteType");
}

CommandHandler::~CommandHandler()
{
    clear();
}

void CommandHandler::push(BaseCommand *command)
{
    if (!command)
        return;
    connect(command, &BaseCommand::commandMessage, this, &CommandHandler::commandMessage,
        Qt::UniqueConnection);
    command->redo();
    if (!command->hasEffect()) {
        delete command;
        return;
    }
    removeRange(m_position, m_commands.size());
    m_commands.append(command);
    m_position = m_commands.size();
    emit commandExecuted(command, Executed);
    if (m_commands.size() > m_limit)
        removeRange(0, m_commands.size() - m_limit);
}

void CommandHandler::undo()
{
    if (m_position <= 0)
        return;
    --m_position;
    BaseCommand *command = m_commands.at(m_position);
    command->undo();
    emit commandExecuted(command, Undone);
}

void CommandHandler::redo()
{
    if (m_position >= m_commands.size())
        return;
    BaseCommand *command = m_commands.at(m_position);
    command->redo();
    emit commandExecuted(command, Redone);
    ++m_position;
}

BaseCommand *CommandHandler::lastCommand() const
{
    return m_position > 0 ? m_commands.at(m_position - 1) : nullptr;
}

void CommandHandler::setLimit(int limit)
{
    m_limit = std::max(0, limit);
    if (m_commands.size() > m_limit)
        removeRange(0, m_commands.size() - m_limit);
}

void CommandHandler::clear()
{
    removeRange(0, m_commands.size());
}

void CommandHandler::removeRange(int start, int end)
{
    if (start >= end)
        return;
    // Taken out of the list before deletion, so a destructor never sees a half-removed stack.
    const QVector<BaseCommand *> removed = m_commands.mid(start, end - start);
    m_commands.remove(start, end - start);
    if (m_position >= end)
        m_position -= end - start;
    else if (m_position > start)
        m_position = start;
    // Newest first, the reverse of the order in which they were executed.
    for (auto it = removed.crbegin(); it != removed.crend(); ++it)
        delete *it;
    qCDebug(lcCommands) << "CommandHandler: removed" << removed.size() << "commands";
}
