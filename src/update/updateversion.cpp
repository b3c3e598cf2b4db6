#include "update/updateversion.h"

#include <QString>
#include <QStringList>

#include <algorithm>

namespace UpdateVersion {

QString current()
{
    return QStringLiteral(VELKORA_VERSION);
}

bool isNewer(const QString &latest, const QString &current)
{
    const QStringList l = latest.split(QLatin1Char('.'));
    const QStringList c = current.split(QLatin1Char('.'));
    if (l.size() < 3)
        return false;

    const int common = std::min(l.size(), c.size());
    for (int i = 0; i < common; ++i) {
        bool lParsed = false;
        bool cParsed = false;
        qlonglong lNumber = l[i].toLongLong(&lParsed, 10);
        qlonglong cNumber = c[i].toLongLong(&cParsed, 10);
        if (!lParsed || !cParsed) {
            const QString beta = QStringLiteral("beta");
            if (lParsed || cParsed || !l[i].contains(beta) || !c[i].contains(beta))
                return false;
            // A remainder that does not parse counts as 0 (toLongLong's answer then).
            lNumber = QString(l[i]).remove(beta).toLongLong(nullptr, 10);
            cNumber = QString(c[i]).remove(beta).toLongLong(nullptr, 10);
        }
        if (lNumber != cNumber)
            return lNumber > cNumber;
    }
    // Equal as far as both go: only a current version with more parts makes the latest newer.
    return c.size() > l.size();
}

} // namespace UpdateVersion
