#pragma once

#include "clipboard/copypastehandler.h"

class GraphicsScene;

// What a copy of the board's selection puts on the clipboard, taken on the GUI thread where the
// items live: the records of the copied items, their bounds and the picture other programs paste.
class SelectionCopy {
public:
    // Null bounds when nothing is selected. An item whose parent (or any ancestor) is selected
    // too is copied once, inside that ancestor's record.
    static CopyPasteHandler::Copy take(GraphicsScene *scene);
};
