#pragma once

#include "persistence/scenestate.h"

class GraphicsScene;
class GraphicsView;

// The board as a scene file holds it, taken from the scene and the view for a save and given
// back to them after a load. GUI thread only: it reads the items and the view where they live.
class BoardState {
public:
    // Records of the top-level items, bottom first, with the scene's and the view's state.
    static SceneState take(GraphicsScene *scene, GraphicsView *view);
    // Everything but the items, which a load delivers one by one.
    static void restore(const SceneState &state, GraphicsScene *scene, GraphicsView *view);
};
