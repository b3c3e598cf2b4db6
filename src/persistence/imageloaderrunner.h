#pragma once

#include "persistence/imagerecord.h"
#include "persistence/loadlosses.h"
#include "picture/pictureblock.h"
#include "picture/picturefile.h"
#include "scene/itemrecord.h"

#include <QImage>
#include <QObject>
#include <QRunnable>
#include <QSize>
#include <QString>

#include <memory>

class Picture;
class SourceFile;

// Decodes one image block of a mapped scene file on a pool thread. Everything it needs is copied
// in at construction; the reader applies the result to the image's record on its own thread
// after imageDone. Not auto-deleted; the reader disposes of it after imageDone.
class ImageLoaderRunner : public QObject, public QRunnable {
    Q_OBJECT

public:
    // What every runner of one load reads; constant while any of them runs.
    struct Context {
        const uchar *mapping = nullptr;
        // Blocks lie in [0, size); the mapping holds fileSize bytes.
        qint64 size = 0;
        qint64 fileSize = 0;
        QString currentSceneDirectory;
        QString savedSceneDirectory;
        // Whether a decoded block's bytes are kept as the picture's original, so that a later
        // save copies them instead of encoding the pixels again.
        bool keepOriginals = false;
        // When set, a decoded block gives a picture with its overview only, decoded again from
        // this file (the one mapped) when its full pixels are needed.
        std::shared_ptr<SourceFile> sourceFile;
    };

    // node: the reader's handle of the image's record; the other values come from it.
    ImageLoaderRunner(const ImageRecord &record, int node, const ItemRecord &item,
        std::shared_ptr<const Context> context);

    void run() override;

    int node() const { return m_node; }
    // After imageDone: whether the block held pixels (possibly undecodable: then image is
    // null), and the pixels with the file they came from for a resolved link.
    bool decoded() const { return m_decoded; }
    QImage image() const { return m_image; }
    // Instead of the image, when the context keeps blocks on disk.
    std::shared_ptr<Picture> picture() const { return m_picture; }
    // The block the image was decoded from, when the context keeps originals.
    QByteArray original() const { return m_original; }
    QString resolvedPath() const { return m_resolvedPath; }
    // Why a decoded() image is null.
    LoadLosses::Reason failure() const { return m_failure; }
    int ownerId() const { return m_ownerId; }

    // The linked file an image of a moved scene file now lies at, or empty.
    static QString resolveLinkedPath(const QString &path, const QString &currentSceneDirectory,
        const QString &savedSceneDirectory);
    // Decodes the PNG stream that data starts with, refusing dimensions its length could not
    // describe. The stream may be followed by other bytes.
    static QImage decodePng(const uchar *data, qint64 length);
    // The same, telling why the image is null.
    static QImage decodePng(const uchar *data, qint64 length, LoadLosses::Reason *failure);
    static LoadLosses::Reason reasonOf(PictureBlock::Failure failure);

signals:
    void imageDone();
    void missingImage(const PictureFile::LoadResult &result);
    void isCopy(int ownerId);

private:
    ImageRecord m_record;
    int m_node;
    std::shared_ptr<const Context> m_context;
    QString m_source;
    bool m_autoDownscale = false;
    QSize m_downscaleLimit;
    QByteArray m_overview;
    quint32 m_overviewChecksum = 0;

    bool m_decoded = false;
    QImage m_image;
    std::shared_ptr<Picture> m_picture;
    QByteArray m_original;
    QString m_resolvedPath;
    int m_ownerId = -1;
    LoadLosses::Reason m_failure = LoadLosses::Reason::DamagedPicture;
};
