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
    // For this one save: every picture stored as PNG and the file in format "1.10", which
    // versions before original-file blocks read, whatever the picture storage setting says.
    // Loads leave it false; nothing stores it.
    bool forOlderReaders = false;
    // The board this save's file is renamed over once whole, when it is written beside it: the
    // pictures that decode from that board take their bytes into memory first (the name will
    // name another file), and none is pointed at the file written, whose name goes away.
    QString replacesPath;
};

Q_DECLARE_METATYPE(SceneState)
