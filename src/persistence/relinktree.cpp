#include "persistence/relinktree.h"

#include <algorithm>

namespace RelinkTree {

namespace {

    Group *child(QList<Group> &groups, const QString &path)
    {
        for (Group &group : groups) {
            if (group.path == path)
                return &group;
        }
        groups.append(Group { path, {}, {} });
        return &groups.last();
    }

} // namespace

QList<Group> build(QList<MissingImage> images)
{
    std::sort(images.begin(), images.end(),
        [](const MissingImage &a, const MissingImage &b) { return a.path < b.path; });
    QList<Group> top;
    for (const MissingImage &image : qAsConst(images)) {
        const int slash = image.path.lastIndexOf(QLatin1Char('/'));
        const QString folder = slash < 0 ? QString() : image.path.left(slash);
        // The root of an absolute path is a level of its own: "/home/a.png" is in "/home/",
        // not in "home/".
        QString level = image.path.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
        QList<Group> *siblings = &top;
        Group *deepest = nullptr;
        const QStringList parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (const QString &part : parts) {
            level += part + QLatin1Char('/');
            deepest = child(*siblings, level);
            siblings = &deepest->subgroups;
        }
        // A bare file name, or a file at the root, gets the root's group.
        if (!deepest)
            deepest = child(top, level);
        deepest->images.append(image);
    }
    return top;
}

QString rebase(const QString &path, const QString &from, const QString &to)
{
    if (from.isEmpty() || !path.startsWith(from))
        return path;
    QString target = to;
    if (!target.endsWith(QLatin1Char('/')))
        target += QLatin1Char('/');
    return target + path.mid(from.size());
}

} // namespace RelinkTree
