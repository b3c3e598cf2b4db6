#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

class GraphicsItem;
class QDataStream;

// Everything the scene file writer needs from the items, copied on the items' thread so the
// writer on the loader thread never touches a live item. Pictures are implicitly shared
// QImages: taking a snapshot copies no pixels.
class SceneSnapshot {
public:
    struct Image {
        int id = -1;
        // Lowest id of an image showing the same pixmap (equal cache keys); own id otherwise.
        int ownerId = -1;
        bool hasPixels = false;
        QString source;
        QImage image;
    };

    static SceneSnapshot take(const QList<GraphicsItem *> &items);

    // The body of one item record (without its end offset) followed, in depth-first order, by
    // the bodies of the children written under it. Items of unknown kinds are left out.
    static void appendRecordBodies(
        QList<QByteArray> &bodies, const GraphicsItem *item, double baseZ, bool selectedOnly);
    // Writes each body behind its end offset: the absolute device position after the body.
    static void writeRecordBodies(QDataStream &stream, const QList<QByteArray> &bodies);
    static double lowestZ(const QList<GraphicsItem *> &items);

    int itemCount = 0;
    // Every image item of the tree (attached ones too) in ascending id.
    QList<Image> images;
    // Record bodies of the top-level items in ascending id, each followed by its children's.
    QList<QByteArray> recordBodies;
};
