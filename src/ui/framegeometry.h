#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <Qt>

// The arithmetic of moving, resizing and keeping a frameless window on the screens, as pure
// functions of rectangles, so that screen layouts no machine has can be tested. The frame feeds
// them the toolkit's screens and applies what they answer.
//
// Device pixels are the screens' physical pixels; logical pixels are what widgets use. A screen
// maps one to the other by its scale factor about its origin (the toolkit's per-screen high-DPI
// scaling), rounding half away from zero as qRound does.
namespace FrameGeometry {

struct Scale {
    qreal factor = 1.0;
    QPoint origin;
};

QPoint toDevice(const QPoint &logical, const Scale &scale);
QPoint toLogical(const QPoint &device, const Scale &scale);
// The top-left converts as a point; width and height scale alone.
QRect toDevice(const QRect &logical, const Scale &scale);
QRect toLogical(const QRect &device, const Scale &scale);

// The index in screens of the screen that should hold rect, given the index of the window's
// current screen: current when its geometry holds rect's centre, else the first screen that holds
// it, else the last one that intersects rect, else current. current must be a valid index.
int screenForRect(const QRect &rect, const QList<QRect> &screens, int current);

// The border edges under a pointer, all in device pixels. Both ends of each range count:
// left edge when left <= x <= left + border, else right edge when
// left + width - border <= x <= left + width; top and bottom likewise.
struct Edges {
    bool left = false;
    bool right = false;
    bool top = false;
    bool bottom = false;

    bool any() const { return left || right || top || bottom; }
};
Edges edgesAt(const QPoint &pointer, const QRect &frame, int border);
// Diagonal, horizontal or vertical resize shapes; the arrow for no edge.
Qt::CursorShape cursorFor(const Edges &edges);

// The window rectangle (device pixels) after dragging the given edges by delta from a drag that
// began with start. The opposite edge stays fixed; a side that would shrink below minimum stops at
// minimum with the opposite edge still fixed.
QRect resizedRect(
    const QRect &start, const QPoint &delta, const QSize &minimum, const Edges &edges);

// A window dragged onto a screen of another scale changes its device size to newSize: the new
// rectangle is grown (or shrunk) about the old one's centre, moving the top-left by
// (trunc(dw / 2), trunc(dh / 2)), and *moveOffset (window top-left minus pointer) is corrected by
// ((d < 0 ? 1 : -1) - trunc(d / 2)) on each axis that changed, so the window stays under the
// pointer.
QRect resizedAboutCentre(const QRect &device, const QSize &newSize, QPoint *moveOffset);

// Where a window whose frame geometry is frame must go so that it stays reachable on screens with
// the given available geometries (logical pixels). Answers frame.topLeft() when it may stay.
// A window that one screen holds whole stays; one whose rectangle shrunk by 10 px still overlaps
// the screens stays unless it is a dialog, which is pulled in so that no two corners on one side
// lie outside; one that lies off the screens is moved next to the nearest screen area, or corner
// to corner onto the nearest one. Never resizes.
QPoint keptOnScreens(const QRect &frame, const QList<QRect> &available, bool isDialog);

} // namespace FrameGeometry
