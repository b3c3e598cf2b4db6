#include "app/boardstate.h"

#include "scene/graphicsscene.h"
#include "scene/scenesnapshot.h"
#include "view/graphicsview.h"

#include <QScrollBar>

SceneState BoardState::take(GraphicsScene *scene, GraphicsView *view)
{
    SceneState state;
    state.items = SceneSnapshot::take(scene->topLevelItems(Qt::AscendingOrder));
    state.nextItemId = scene->nextId();
    state.sceneRect = scene->sceneRect();
    state.viewTransform = view->transform();
    state.horizontalScroll = view->horizontalScrollBar()->value();
    state.verticalScroll = view->verticalScrollBar()->value();
    return state;
}

void BoardState::restore(const SceneState &state, GraphicsScene *scene, GraphicsView *view)
{
    scene->setSceneRect(state.sceneRect);
    // Ids the board's items already hold are never handed out again.
    scene->setNextId(qMax(scene->nextId(), state.nextItemId));
    view->setTransform(state.viewTransform);
    view->horizontalScrollBar()->setValue(state.horizontalScroll);
    view->verticalScrollBar()->setValue(state.verticalScroll);
}
