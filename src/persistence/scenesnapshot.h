#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

class GraphicsItem;

// Everything the scene file writer needs from the items, copied on the items' thread so the
// writer on the loader thread never touches a live item. Pictures are implicitly shared
// QImages: taking a snapshot copies no pixels.
class SceneSnapshot
{
public:
    struct Image
    {
        int id = -1;
        // Lowest id of an image showing the same pixmap (equal cache keys); own id otherwise.
        int ownerId = -1;
        bool hasPixels = false;
        QString source;
        QImage image;
    };

    static SceneSnapshot take(const QList<GraphicsItem *> &items);

    int itemCount = 0;
    // Image items in ascending id.
    QList<Image> images;
    // Record bodies of the top-level items in ascending id, each followed by its children's in
    // depth-first order: the file stores the same sequence, every body behind its end offset.
    QList<QByteArray> recordBodies;
};
