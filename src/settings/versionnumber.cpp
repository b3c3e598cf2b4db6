#include "settings/versionnumber.h"

#include <QStringList>

int compareVersions(const QString &a, const QString &b)
{
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    const int parts = qMax(left.size(), right.size());
    for (int i = 0; i < parts; ++i) {
        const qlonglong l = i < left.size() ? left.at(i).toLongLong() : 0;
        const qlonglong r = i < right.size() ? right.at(i).toLongLong() : 0;
        if (l != r)
            return l < r ? -1 : 1;
    }
    return 0;
}
