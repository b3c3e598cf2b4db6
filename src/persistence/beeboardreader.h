#pragma once

#include "persistence/loadlosses.h"

#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <optional>

class BaseLoader;
class LoadJob;

// Opens a board of BeeRef (an SQLite database, "*.bee") as a new board of ours: its pictures,
// with the bytes they were stored as kept as their originals, and its notes, in their stacking
// order. Nothing is ever written to the file: it is opened read-only and immutable, so that not
// even a journal or a lock appears beside it.
//
// The file is foreign input. Every count, size and value it holds is checked before it is used:
// the rows read are bounded, a picture's stored size is checked against what one picture may take
// here before its bytes are read, and a query that runs far longer than any board needs is
// stopped. What cannot be read of an otherwise readable board is counted and reported as losses.
//
// Threads: runs on the loader thread, on whatever thread calls read(); it reports through the
// loader it is given (items, progress) and reads the job's cancelled flag.
class BeeBoardReader {
public:
    BeeBoardReader(BaseLoader *reporter, LoadJob *job);

    // Why the board could not be opened at all (empty when it was), and what was left out.
    struct Outcome {
        QString error;
        LoadLosses losses;
    };
    // Reports progress and every item read; the caller reports finished.
    Outcome read(const QString &path);

    // Whether a path names a board of this kind, by its extension.
    static bool isBeeBoard(const QString &path);

    // How a stored item sits in the scene, in our terms. See beeboardreader.cpp for the mapping.
    struct Placement {
        QTransform transform;
        QTransform imageTransform;
        QPainterPath cropPath;
    };
    // pictureSize: the picture's own size in pixels; crop in its pixels, absent for the whole.
    static Placement placePicture(double x, double y, double scale, double rotation, int flip,
        const QSizeF &pictureSize, const std::optional<QRectF> &crop);
    // The transform of a note from the point of its top-left corner (ItemRecord::topLeftOrigin).
    static QTransform placeNote(double x, double y, double scale, double rotation, int flip);

    // More rows than one board may hold here are not read: the 16-bit counts of our own boards
    // hold no more.
    static constexpr int MaximumItems = 32767;

private:
    BaseLoader *m_reporter;
    LoadJob *m_job;
};
