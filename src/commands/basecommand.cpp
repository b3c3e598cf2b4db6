#include "basecommand.h"

BaseCommand::BaseCommand()
    : m_id(QUuid::createUuid())
{
}

BaseCommand::~BaseCommand() = default;

void BaseCommand::redo()
{
    m_done = true;
}

void BaseCommand::undo()
{
    m_done = false;
}

bool BaseCommand::isDone() const
{
    return m_done;
}

bool BaseCommand::isUndone() const
{
    return !m_done;
}

bool BaseCommand::hasEffect() const
{
    return true;
}
