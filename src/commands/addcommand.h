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
    AddCommand(GraphicsScene *scene, GraphicsItem *item);
    AddCommand(GraphicsScene *scene, const QList<GraphicsItem *> &items);
    ~AddCommand() override;

    void redo() override;
    void undo() override;

    QList<GraphicsItem *> items() const { return m_items; }

private:
    GraphicsScene *m_scene;
    QList<GraphicsItem *> m_items;
    QList<QGraphicsItem *> m_parents;
};
