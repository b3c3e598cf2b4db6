#include "normalizescalecommand.h"

#include "scene/graphicsitem.h"

#include <algorithm>
#include <cmath>

NormalizeScaleCommand::NormalizeScaleCommand(const QList<GraphicsItem *> &items, int mode)
    : TransformCommand(items, QPointF())
    , m_mode(mode)
{
}

NormalizeScaleCommand::~NormalizeScaleCommand() = default;

qreal NormalizeScaleCommand::measure(const GraphicsItem *item) const
{
    const QRectF bounds = item->sceneBounds();
    switch (m_mode) {
    case Width:
        return bounds.width();
    case Height:
        return bounds.height();
    case LongestSide:
        return std::max(bounds.width(), bounds.height());
    default: {
        const QTransform t = item->fullTransform();
        return std::hypot(t.m11(), t.m12());
    }
    }
}

void NormalizeScaleCommand::finish()
{
    const QList<GraphicsItem *> list = items();
    // Measured before anything changes: attached items are measured as they were.
    QList<qreal> measures;
    qreal sum = 0;
    int counted = 0;
    for (GraphicsItem *item : list) {
        const qreal m = measure(item);
        measures.append(m);
        // An item of no extent cannot be brought to any size; it neither counts nor changes.
        if (m > 0 && std::isfinite(m)) {
            sum += m;
            ++counted;
        }
    }
    if (counted > 0) {
        const qreal average = sum / counted;
        for (int i = 0; i < list.size(); ++i) {
            const qreal m = measures.at(i);
            if (!(m > 0) || !std::isfinite(m))
                continue;
            GraphicsItem *item = list.at(i);
            const qreal factor = average / m;
            const QTransform old = item->fullTransform();
            setFullTransformReporting(item, QTransform::fromScale(factor, factor) * old);
            handleChildren(item, item->fullTransform() * old.inverted(), list, true);
        }
    }
    TransformCommand::finish();
}
