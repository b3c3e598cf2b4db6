#pragma once

#include <QtGlobal>

// One entry of a scene file's image index: the item whose picture the block holds and the
// block's byte range [start, end). Read from disk, so nothing about it is trusted.
struct ImageRecord {
    int id = -1;
    qint64 start = -1;
    qint64 end = -1;
};
