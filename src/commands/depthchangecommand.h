#pragma once

#include "commands/basecommand.h"

#include <QList>

class GraphicsItem;
class GraphicsScene;

// Changes the stacking of items: to the front or the back, or one step forward or backward past
// the nearest overlapping item. The scene chooses the new depths the first time; the command
// notes every depth that changed, the listed items' and any the scene had to number afresh, so
// undo and redo restore exactly those and leave all other depths untouched.
class DepthChangeCommand : public BaseCommand {
    Q_OBJECT

public:
    enum Direction { ToFront = 0, ToBack = 1, Forward = 2, Backward = 3 };

    DepthChangeCommand(GraphicsScene *scene, GraphicsItem *item, int direction);
    DepthChangeCommand(GraphicsScene *scene, const QList<GraphicsItem *> &items, int direction);
    ~DepthChangeCommand() override;

    void redo() override;
    void undo() override;
    bool hasEffect() const override;

private:
    struct Change {
        GraphicsItem *item;
        qreal before;
        qreal after;
    };

    void changeDepths();

    GraphicsScene *m_scene;
    QList<GraphicsItem *> m_items;
    QList<Change> m_changes;
    bool m_computed = false;
    int m_direction;
};
