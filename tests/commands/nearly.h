#pragma once

#include <QTransform>

#include <algorithm>
#include <cmath>
#include <iterator>

// Equal but for rounding: commands compose and invert transforms, so exact comparison would
// fail on results that are right.
inline bool nearly(const QTransform &a, const QTransform &b, qreal tolerance = 1e-9)
{
    const qreal d[] = { a.m11() - b.m11(), a.m12() - b.m12(), a.m21() - b.m21(), a.m22() - b.m22(),
        a.dx() - b.dx(), a.dy() - b.dy() };
    return std::all_of(
        std::begin(d), std::end(d), [tolerance](qreal v) { return std::abs(v) < tolerance; });
}
