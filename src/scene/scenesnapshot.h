#pragma once

#include "scene/itemrecord.h"

#include <QList>

class GraphicsItem;

// Turns live items into the records a save writes, on the items' (GUI) thread, so the writer on
// the loader thread never touches an item. Pictures are implicitly shared QImages: taking a
// snapshot copies no pixels.
class SceneSnapshot {
public:
    // The records of the given top-level items in ascending id, each with the items attached to
    // it. Depths are compact: every item's rank in the stacking of all the items, counted from
    // the lowest top-level item, so a file holds small whole numbers and the live depths, which
    // undo restores, stay as they are. Copies of one picture name the lowest id among them as
    // the owner of their pixels.
    static QList<ItemRecord> take(const QList<GraphicsItem *> &items);
    // The records of a selection in list order, for copying: the items attached under each are
    // its nearest selected descendants, and depths are relative to the lowest item given.
    static QList<ItemRecord> takeSelection(const QList<GraphicsItem *> &items);
};
