#include "ui/framegeometry.h"

#include <QRegion>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// Qt 5's qRound sends -2.5 to -2; half away from zero treats both sides of a screen's origin
// alike, and it is what Qt 6's qRound does, so the mapping does not change with the toolkit.
int roundHalfAway(qreal value)
{
    return static_cast<int>(std::lround(value));
}

QPoint scaled(const QPoint &point, qreal factor, const QPoint &origin)
{
    const QPoint relative = point - origin;
    return origin
        + QPoint(roundHalfAway(relative.x() * factor), roundHalfAway(relative.y() * factor));
}

QSize scaled(const QSize &size, qreal factor)
{
    return QSize(roundHalfAway(size.width() * factor), roundHalfAway(size.height() * factor));
}

// How far the frame may hang off the screens before it counts as out of reach: the rectangle
// that must stay on them is the frame shrunk by this on every side.
constexpr int Inset = 10;

enum Corner { TopLeft, TopRight, BottomRight, BottomLeft };

// Corners on the exclusive edges, (x + width, y + height) for the bottom-right: the corner of
// one rectangle then coincides with the corner of the rectangle it abuts.
QPoint corner(const QRect &rect, int which)
{
    switch (which) {
    case TopRight:
        return QPoint(rect.x() + rect.width(), rect.y());
    case BottomRight:
        return QPoint(rect.x() + rect.width(), rect.y() + rect.height());
    case BottomLeft:
        return QPoint(rect.x(), rect.y() + rect.height());
    default:
        return rect.topLeft();
    }
}

// A corner is a point between pixels, so it lies on the screens only when all four pixels that
// meet there do. A corner on the outline of the screens then counts as outside whichever side
// it is on, and one on the seam between two abutting screens as inside.
bool holds(const QRegion &region, const QPoint &point)
{
    return region.contains(point) && region.contains(point - QPoint(1, 0))
        && region.contains(point - QPoint(0, 1)) && region.contains(point - QPoint(1, 1));
}

QRect shrunk(const QRect &frame)
{
    return frame.adjusted(Inset, Inset, -Inset, -Inset);
}

// The top-left that puts frame corner to corner onto the nearest corner of an available area.
QPoint cornerSnapped(const QRect &frame, const QList<QRect> &available)
{
    int best = std::numeric_limits<int>::max();
    QPoint position = frame.topLeft();
    for (const QRect &area : available) {
        for (int own = TopLeft; own <= BottomLeft; ++own) {
            for (int theirs = TopLeft; theirs <= BottomLeft; ++theirs) {
                const int distance = (corner(frame, own) - corner(area, theirs)).manhattanLength();
                if (distance >= best)
                    continue;
                best = distance;
                // The frame's corner of the same kind as the area's goes onto it.
                position = corner(area, theirs) - (corner(frame, theirs) - frame.topLeft());
            }
        }
    }
    return position;
}

// Where the shrunk rectangle s goes when it lies wholly off the screens but some screen shares
// its rows or its columns: next to the nearest such screen area, as a top-left for s.
bool besideScreens(const QRect &s, const QRegion &screens, QPoint *position)
{
    const QRect bounds = screens.boundingRect().united(s);
    bool horizontal = false;
    int x = 0;
    QRect part = screens.intersected(QRect(s.x() + s.width(), s.y(), bounds.width(), s.height()))
                     .boundingRect();
    if (!part.isEmpty()) {
        horizontal = true;
        x = part.x();
    } else {
        part = screens.intersected(QRect(s.x() - bounds.width(), s.y(), bounds.width(), s.height()))
                   .boundingRect();
        if (!part.isEmpty()) {
            horizontal = true;
            x = part.x() + part.width() - s.width();
        }
    }
    bool vertical = false;
    int y = 0;
    part = screens.intersected(QRect(s.x(), s.y() - bounds.height(), s.width(), bounds.height()))
               .boundingRect();
    if (!part.isEmpty()) {
        vertical = true;
        y = part.y() + part.height() - s.height();
    } else {
        part = screens.intersected(QRect(s.x(), s.y() + s.height(), s.width(), bounds.height()))
                   .boundingRect();
        if (!part.isEmpty()) {
            vertical = true;
            y = part.y();
        }
    }
    if (horizontal && (!vertical || std::abs(x - s.x()) < std::abs(y - s.y())))
        *position = QPoint(x, s.y());
    else if (vertical)
        *position = QPoint(s.x(), y);
    return horizontal || vertical;
}

// The top-left that brings a side of frame whose two corners of the shrunk rectangle lie off
// the screens back to the screens' edge. A side whose opposite side is off too (a frame larger
// than the screens) stays, as moving it would only push the other side out.
QPoint pulledIn(const QRect &frame, const QRegion &screens)
{
    const QRect s = shrunk(frame);
    const QRect inside = screens.intersected(frame).boundingRect();
    bool out[4];
    for (int which = TopLeft; which <= BottomLeft; ++which)
        out[which] = !holds(screens, corner(s, which));
    const bool top = out[TopLeft] && out[TopRight];
    const bool bottom = out[BottomLeft] && out[BottomRight];
    const bool left = out[TopLeft] && out[BottomLeft];
    const bool right = out[TopRight] && out[BottomRight];

    QPoint position = frame.topLeft();
    if (bottom && !top)
        position.setY(inside.y() + inside.height() - frame.height());
    else if (top && !bottom)
        position.setY(inside.y());
    if (right && !left)
        position.setX(inside.x() + inside.width() - frame.width());
    else if (left && !right)
        position.setX(inside.x());
    return position;
}

} // namespace

namespace FrameGeometry {

QPoint toDevice(const QPoint &logical, const Scale &scale)
{
    return scaled(logical, scale.factor, scale.origin);
}

QPoint toLogical(const QPoint &device, const Scale &scale)
{
    return scaled(device, 1.0 / scale.factor, scale.origin);
}

QRect toDevice(const QRect &logical, const Scale &scale)
{
    return QRect(toDevice(logical.topLeft(), scale), scaled(logical.size(), scale.factor));
}

QRect toLogical(const QRect &device, const Scale &scale)
{
    return QRect(toLogical(device.topLeft(), scale), scaled(device.size(), 1.0 / scale.factor));
}

int screenForRect(const QRect &rect, const QList<QRect> &screens, int current)
{
    Q_ASSERT(current >= 0 && current < screens.size());
    const QPoint centre = rect.center();
    if (screens.at(current).contains(centre))
        return current;
    int intersecting = -1;
    for (int i = 0; i < screens.size(); ++i) {
        if (screens.at(i).contains(centre))
            return i;
        if (screens.at(i).intersects(rect))
            intersecting = i;
    }
    return intersecting >= 0 ? intersecting : current;
}

Edges edgesAt(const QPoint &pointer, const QRect &frame, int border)
{
    const int x = pointer.x(), y = pointer.y();
    const int right = frame.x() + frame.width(), bottom = frame.y() + frame.height();
    Edges edges;
    edges.left = frame.x() <= x && x <= frame.x() + border;
    edges.right = !edges.left && right - border <= x && x <= right;
    edges.top = frame.y() <= y && y <= frame.y() + border;
    edges.bottom = !edges.top && bottom - border <= y && y <= bottom;
    return edges;
}

Qt::CursorShape cursorFor(const Edges &edges)
{
    const bool horizontal = edges.left || edges.right;
    const bool vertical = edges.top || edges.bottom;
    if (horizontal && vertical)
        return edges.left == edges.top ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
    if (horizontal)
        return Qt::SizeHorCursor;
    if (vertical)
        return Qt::SizeVerCursor;
    return Qt::ArrowCursor;
}

QRect resizedRect(const QRect &start, const QPoint &delta, const QSize &minimum, const Edges &edges)
{
    int x = start.x(), width = start.width();
    if (edges.left) {
        width = std::max(start.width() - delta.x(), minimum.width());
        x = start.x() + start.width() - width;
    } else if (edges.right) {
        width = std::max(start.width() + delta.x(), minimum.width());
    }
    int y = start.y(), height = start.height();
    if (edges.top) {
        height = std::max(start.height() - delta.y(), minimum.height());
        y = start.y() + start.height() - height;
    } else if (edges.bottom) {
        height = std::max(start.height() + delta.y(), minimum.height());
    }
    return QRect(x, y, width, height);
}

QRect resizedAboutCentre(const QRect &device, const QSize &newSize, QPoint *moveOffset)
{
    const int dw = newSize.width() - device.width();
    const int dh = newSize.height() - device.height();
    // Integer division truncates towards zero, which is the rounding the offset correction
    // below is made for.
    const QPoint shift(dw / 2, dh / 2);
    // An axis whose size stays the same keeps its offset: screens of equal scale must not nudge
    // the window by a pixel at every crossing.
    const auto correction = [](int change) { return change == 0 ? 0 : (change < 0 ? 1 : -1); };
    if (moveOffset)
        *moveOffset += QPoint(correction(dw), correction(dh)) - shift;
    return QRect(device.topLeft() - shift, newSize);
}

QPoint keptOnScreens(const QRect &frame, const QList<QRect> &available, bool isDialog)
{
    for (const QRect &area : available) {
        if (area.contains(frame))
            return frame.topLeft();
    }
    QRegion screens;
    for (const QRect &area : available)
        screens += area;

    QRect moved = frame;
    const QRect s = shrunk(frame);
    if (!screens.intersects(s)) {
        QPoint position;
        if (!besideScreens(s, screens, &position))
            return cornerSnapped(frame, available);
        // The position is the shrunk rectangle's, which then shares pixels with the screens; the
        // frame keeps its margin around it, so it does not move along the other axis. The
        // pull-in below closes the margin that now hangs off the screens' edge.
        moved.moveTopLeft(position - QPoint(Inset, Inset));
    } else if (!isDialog) {
        // The main window may hang off the screens by its margin and more: the user put it there.
        return frame.topLeft();
    }
    return pulledIn(moved, screens);
}

} // namespace FrameGeometry
