#pragma once

#include "commands/basecommand.h"

#include <QList>

class GraphicsItem;
class GraphicsScene;
class QGraphicsItem;

// Takes items off the scene. Only the roots (items none of whose ancestors is deleted too) leave
// the scene; their attached items go with them and stay attached. While done the command owns
// the roots and deletes them, with everything attached, when it is destroyed.
class DeleteCommand : public BaseCommand {
    Q_OBJECT

public:
    DeleteCommand(GraphicsScene *scene, const QList<GraphicsItem *> &items);
    ~DeleteCommand() override;

    void redo() override;
    void undo() override;

    QList<GraphicsItem *> items() const { return m_items; }
    QList<GraphicsItem *> roots() const { return m_roots; }

private:
    GraphicsScene *m_scene;
    QList<GraphicsItem *> m_items;
    QList<QGraphicsItem *> m_parents;
    QList<GraphicsItem *> m_roots;
};
