#pragma once

#include "picture/picturefile.h"

#include <QList>
#include <QString>

// The missing pictures of a board grouped by the folders they were in, and how a folder's
// pictures move when the user points at the folder they went to.
namespace RelinkTree {

// Every picture item of the board that links to path and has no pixels, with why it has none.
struct MissingImage {
    PictureFile::LoadResult result;
    QString path;
    QList<int> itemIds;
};

// A folder that holds missing pictures, directly or below. Its path ends in "/"; an absolute
// path keeps its leading "/".
struct Group {
    QString path;
    QList<MissingImage> images;
    QList<Group> subgroups;
};

// The folders from the outermost down, each with its subfolders and pictures in path order.
QList<Group> build(QList<MissingImage> images);

// Where path goes when the folder from was moved to to: the leading folder is replaced, never a
// folder of the same name deeper in the path. A path outside from stays as it is.
QString rebase(const QString &path, const QString &from, const QString &to);

} // namespace RelinkTree
