#pragma once

#include <QObject>
#include <QUuid>

// One undoable change of the board. A command is executed once by CommandHandler::push and then
// undone and redone from there; its id names the board state it leads to, so the main window can
// tell whether the board changed since the last save. Commands own the items they have taken out
// of the scene or have not put in yet. GUI thread only.
class BaseCommand : public QObject {
    Q_OBJECT

public:
    BaseCommand();
    ~BaseCommand() override;

    virtual void redo();
    virtual void undo();
    virtual bool isDone() const;
    virtual bool isUndone() const;
    // False after the first execution means the command changed nothing and is not kept.
    virtual bool hasEffect() const;

    QUuid id() const { return m_id; }

signals:
    void commandMessage(const QString &message);

private:
    bool m_done = false;
    QUuid m_id;
};
