#pragma once

#include "scene/itemrecord.h"

#include <QList>
#include <QMetaType>
#include <QRectF>
#include <QTransform>

// A board as a scene file holds it: the records of its top-level items (each with the items
// attached to it) and the view it was seen in. Saving fills it on the GUI thread from the scene;
// a load delivers everything but the items, which arrive one by one through itemGenerated.
struct SceneState {
    QList<ItemRecord> items;
    int nextItemId = 0;
    QRectF sceneRect;
    QTransform viewTransform;
    int horizontalScroll = 0;
    int verticalScroll = 0;
    // For this one save: every picture as PNG, in the format older readers open.
    bool forOlderReaders = false;
};

Q_DECLARE_METATYPE(SceneState)
