#pragma once

#include <QtGlobal>

class QColor;
class QDataStream;
class QPainterPath;
class QPolygonF;
class QTransform;

// Values read from a board's bytes, which nothing vouches for: each reader refuses a value the
// stream does not hold whole, a count larger than the bytes left could hold, and numbers that are
// not finite, before the toolkit allocates for or computes with them. A refusal leaves the
// stream's status or the return value telling why; the value read is then meaningless. Strings
// are read with SaveFileFormat::readString.
namespace SaveFileStream {

qint64 bytesLeft(const QDataStream &in);
bool isOk(const QDataStream &in);

// Sizes computed from counts and dimensions on disk: false where the result would not fit, so
// that no product of two stored numbers is ever used before it has been checked.
bool multiply(qint64 a, qint64 b, qint64 *result);
bool add(qint64 a, qint64 b, qint64 *result);
// Whether count elements of elementBytes each, plus trailingBytes, are all still there.
bool fits(const QDataStream &in, qint64 count, qint64 elementBytes, qint64 trailingBytes = 0);

bool isFinite(const QTransform &transform);
bool readDouble(QDataStream &in, double *value);
bool readTransform(QDataStream &in, QTransform *transform);
// Rebuilt through the path's own operations rather than streamed, so a broken element sequence
// or subpath start from disk cannot reach the toolkit's internals.
bool readPath(QDataStream &in, QPainterPath *path);
bool readPolygon(QDataStream &in, QPolygonF *polygon);
bool readColor(QDataStream &in, QColor *color);

// The crop of formats before "1.8", which stored a polygon, as the path later ones store.
QPainterPath pathOf(const QPolygonF &polygon);

} // namespace SaveFileStream
