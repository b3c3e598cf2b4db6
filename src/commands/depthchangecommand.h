#pragma once

#include "commands/basecommand.h"

#include <QList>

class GraphicsItem;
class GraphicsScene;

// Brings items to the front or sends them to the back. The scene hands out the new depths the
// first time; redo after undo restores exactly those, so other items' depths stay untouched.
class DepthChangeCommand : public BaseCommand {
    Q_OBJECT

public:
    enum Direction { ToFront = 0, ToBack = 1 };

    DepthChangeCommand(GraphicsScene *scene, GraphicsItem *item, int direction);
    DepthChangeCommand(GraphicsScene *scene, const QList<GraphicsItem *> &items, int direction);
    ~DepthChangeCommand() override;

    void redo() override;
    void undo() override;
    bool hasEffect() const override;

private:
    void apply(const QList<qreal> &depths);

    GraphicsScene *m_scene;
    QList<GraphicsItem *> m_items;
    QList<qreal> m_oldDepths;
    QList<qreal> m_newDepths;
    bool m_computed = false;
    int m_direction;
};
