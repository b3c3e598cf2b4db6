#pragma once

#include "loading/imageloader.h"
#include "persistence/imagerecord.h"

#include <QObject>
#include <QPixmap>
#include <QRunnable>
#include <QSize>
#include <QString>

#include <memory>

class GraphicsImageItem;

// Decodes one image block of a mapped scene file on a pool thread. It never touches its item:
// everything it needs is copied in at construction, and the loader applies the result on its own
// thread after imageDone. Not auto-deleted; the loader disposes of it after imageDone.
class ImageLoaderRunner : public QObject, public QRunnable {
    Q_OBJECT

public:
    // What every runner of one load reads; constant while any of them runs.
    struct Context {
        const uchar *mapping = nullptr;
        qint64 size = 0;
        QString currentSceneDirectory;
        QString savedSceneDirectory;
    };

    ImageLoaderRunner(
        const ImageRecord &record, GraphicsImageItem *item, std::shared_ptr<const Context> context);

    void run() override;

    GraphicsImageItem *item() const { return m_item; }
    // After imageDone: whether the block held pixels (possibly undecodable: then pixmap is
    // null), and the pixels with the file they came from for a resolved link.
    bool decoded() const { return m_decoded; }
    QPixmap pixmap() const { return m_pixmap; }
    QString resolvedPath() const { return m_resolvedPath; }
    int ownerId() const { return m_ownerId; }

    // The linked file an image of a moved scene file now lies at, or empty.
    static QString resolveLinkedPath(const QString &path, const QString &currentSceneDirectory,
        const QString &savedSceneDirectory);
    // Decodes a PNG stream, refusing dimensions its length could not describe.
    static QImage decodePng(const uchar *data, qint64 length);

signals:
    void imageDone();
    void missingImage(const ImageLoader::LoadImageResult &result);
    void isCopy(int ownerId);

private:
    ImageRecord m_record;
    GraphicsImageItem *m_item;
    std::shared_ptr<const Context> m_context;
    QString m_source;
    bool m_autoDownscale = false;
    QSize m_downscaleLimit;

    bool m_decoded = false;
    QPixmap m_pixmap;
    QString m_resolvedPath;
    int m_ownerId = -1;
};
