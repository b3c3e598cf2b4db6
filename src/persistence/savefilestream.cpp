#include "persistence/savefilestream.h"

#include <QColor>
#include <QDataStream>
#include <QIODevice>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>

#include <limits>

namespace SaveFileStream {

qint64 bytesLeft(const QDataStream &in)
{
    const QIODevice *device = in.device();
    return device->size() - device->pos();
}

bool isOk(const QDataStream &in)
{
    return in.status() == QDataStream::Ok;
}

bool multiply(qint64 a, qint64 b, qint64 *result)
{
    return !__builtin_mul_overflow(a, b, result);
}

bool add(qint64 a, qint64 b, qint64 *result)
{
    return !__builtin_add_overflow(a, b, result);
}

bool fits(const QDataStream &in, qint64 count, qint64 elementBytes, qint64 trailingBytes)
{
    qint64 needed = 0;
    return count >= 0 && multiply(count, elementBytes, &needed)
        && add(needed, trailingBytes, &needed) && needed <= bytesLeft(in);
}

bool readDouble(QDataStream &in, double *value)
{
    in >> *value;
    return isOk(in) && qIsFinite(*value);
}

bool isFinite(const QTransform &t)
{
    return qIsFinite(t.m11()) && qIsFinite(t.m12()) && qIsFinite(t.m13()) && qIsFinite(t.m21())
        && qIsFinite(t.m22()) && qIsFinite(t.m23()) && qIsFinite(t.m31()) && qIsFinite(t.m32())
        && qIsFinite(t.m33());
}

bool readTransform(QDataStream &in, QTransform *transform)
{
    in >> *transform;
    return isOk(in) && isFinite(*transform);
}

bool readPath(QDataStream &in, QPainterPath *path)
{
    qint32 count = 0;
    in >> count;
    constexpr qint64 ElementBytes = 4 + 8 + 8;
    if (!isOk(in) || count < 0)
        return false;
    // An empty path is its count alone: no subpath start, no fill rule.
    if (count == 0) {
        *path = QPainterPath();
        return true;
    }
    if (!fits(in, count, ElementBytes, 8))
        return false;
    QPainterPath result;
    for (qint32 i = 0; i < count; ++i) {
        qint32 type = 0;
        double x = 0;
        double y = 0;
        in >> type;
        if (!readDouble(in, &x) || !readDouble(in, &y))
            return false;
        switch (type) {
        case QPainterPath::MoveToElement:
            result.moveTo(x, y);
            break;
        case QPainterPath::LineToElement:
            result.lineTo(x, y);
            break;
        case QPainterPath::CurveToElement: {
            QPointF data[2];
            for (QPointF &point : data) {
                qint32 dataType = 0;
                double dx = 0;
                double dy = 0;
                in >> dataType;
                if (++i >= count || dataType != QPainterPath::CurveToDataElement
                    || !readDouble(in, &dx) || !readDouble(in, &dy))
                    return false;
                point = QPointF(dx, dy);
            }
            result.cubicTo(QPointF(x, y), data[0], data[1]);
            break;
        }
        default:
            return false;
        }
    }
    qint32 start = 0;
    qint32 fillRule = 0;
    in >> start >> fillRule;
    if (!isOk(in))
        return false;
    result.setFillRule(fillRule == Qt::WindingFill ? Qt::WindingFill : Qt::OddEvenFill);
    *path = result;
    return true;
}

bool readPolygon(QDataStream &in, QPolygonF *polygon)
{
    quint32 count = 0;
    in >> count;
    // A vector holds at most an int's worth of points, whatever a huge file might claim.
    if (!isOk(in) || count > quint32(std::numeric_limits<int>::max()) || !fits(in, count, 16))
        return false;
    QPolygonF result;
    result.reserve(int(count));
    for (quint32 i = 0; i < count; ++i) {
        double x = 0;
        double y = 0;
        if (!readDouble(in, &x) || !readDouble(in, &y))
            return false;
        result.append(QPointF(x, y));
    }
    *polygon = result;
    return true;
}

bool readColor(QDataStream &in, QColor *color)
{
    const QByteArray colorSpec = in.device()->peek(1);
    if (colorSpec.size() < 1 || bytesLeft(in) < 11 || qint8(colorSpec.at(0)) < QColor::Invalid
        || qint8(colorSpec.at(0)) > QColor::ExtendedRgb)
        return false;
    in >> *color;
    return isOk(in);
}

QPainterPath pathOf(const QPolygonF &polygon)
{
    QPainterPath path;
    path.addPolygon(polygon);
    return path;
}

} // namespace SaveFileStream
