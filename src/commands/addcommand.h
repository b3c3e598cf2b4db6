#pragma once

#include "commands/basecommand.h"

#include <QList>

class GraphicsItem;
class GraphicsScene;
class QGraphicsItem;

// Puts items on the scene (or re-attaches them to the parent they had when the command was
// made). While undone the command owns the items and deletes them when it is destroyed.
class AddCommand : public BaseCommand {
    Q_OBJECT

public:
    // AlreadyAdded: the items went on the scene as they arrived (a load shows them at once); the
    // first redo only takes them into the history, later ones put them back.
    enum State { ToAdd, AlreadyAdded };

    AddCommand(GraphicsScene *scene, GraphicsItem *item);
    AddCommand(GraphicsScene *scene, const QList<GraphicsItem *> &items, State state = ToAdd);
    ~AddCommand() override;

    void redo() override;
    void undo() override;

    QList<GraphicsItem *> items() const { return m_items; }

private:
    GraphicsScene *m_scene;
    QList<GraphicsItem *> m_items;
    QList<QGraphicsItem *> m_parents;
    bool m_onScene;
};
