#pragma once

#include "export/itempicture.h"
#include "jobs/baseloader.h"

#include <QImage>
#include <QList>
#include <QMetaType>
#include <QRectF>
#include <QSize>
#include <QString>

class GraphicsScene;

// Writes exported pictures to disk. Lives on the loader thread and is called there by queued
// invocation. Items and the scene are GUI-thread objects: a scene export gets its image painted
// on the GUI thread (renderScene); an image export gets each item's picture as values and paints
// them here, one at a time, so that a board's pictures are never all in memory at once. Each call
// reports through its job: started, progress, finished with an error heading and details, both
// empty on success.
class ImageExporter : public BaseLoader {
    Q_OBJECT

public:
    struct ExportSettings {
        // Images with their crop and flip applied instead of the plain source picture.
        bool exportCropping = true;
        // The output file of a scene export, the output directory of an image export.
        QString path;
        // Pattern for exported image names: "%0" is the sequence number, "%1" the image's name.
        QString nameOverride;
        // 0 to 100: the toolkit writer's quality; for PNG files, which lose nothing, the higher
        // the faster and the larger.
        int quality = 100;
    };

    // One image of an image export: its name as the item knows it, and what to paint.
    struct Picture {
        QString name;
        ItemPicture picture;
    };

    static constexpr int MaximumSceneSide = 20000;
    // The scales an export of part of the board may have, in percent of the scene's units.
    static constexpr int SmallestScale = 25;
    static constexpr int LargestScale = 400;

    explicit ImageExporter(QObject *parent = nullptr);

    // GUI thread. The whole scene rectangle rendered into an image of the given size, keeping the
    // aspect ratio, on a transparent ground. The scene's background and border switches are
    // turned off while rendering unless asked for, and restored after.
    static QImage renderScene(
        GraphicsScene *scene, const QSize &size, bool background, bool borders);
    // GUI thread. The region of the scene rendered into an image of the given size, which it
    // fills, with the same switches as renderScene. With selectionOnly, only the selected items
    // and the items attached to them are painted, each as the board shows it.
    static QImage renderRegion(GraphicsScene *scene, const QRectF &region, const QSize &size,
        bool background, bool borders, bool selectionOnly);
    // The part of the scene the selected items cover; empty when nothing is selected.
    static QRectF selectionBounds(GraphicsScene *scene);
    // The size of an export of the region at the scale in percent (bounded to SmallestScale ..
    // LargestScale), each side at least 1 and at most MaximumSceneSide.
    static QSize scaledSize(const QRectF &region, int percent);

    // A file name (without suffix) that stays inside its directory: separators and control
    // characters become "_"; names that would still not name a file of their own ("", ".",
    // "..") come back empty.
    static QString safeFileName(const QString &name);
    // The name an image is exported under before it is made safe and unique.
    static QString exportName(const QString &nameOverride, int number, const QString &imageName);
    // directory/name.png, or with "(2)", "(3)", ... appended to the name until no file (not even
    // a dangling link) has that path.
    static QString uniquePngPath(const QString &directory, const QString &name);

public slots:
    void exportImage(
        const QImage &image, const ImageExporter::ExportSettings &settings, LoadJob *job);
    void exportItems(const QList<ImageExporter::Picture> &pictures,
        const ImageExporter::ExportSettings &settings, LoadJob *job);
};

Q_DECLARE_METATYPE(ImageExporter::ExportSettings)
Q_DECLARE_METATYPE(ImageExporter::Picture)
