#pragma once

#include "loading/baseloader.h"
#include "loading/imageloader.h"
#include "persistence/savefileheader.h"

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <memory>

class GraphicsImageItem;
class GraphicsItem;
class ImageLoaderRunner;
class LoadJob;
class QDataStream;
class QFile;
class SceneSnapshot;

// Writes scene files (format "1.10") and reads every format from "1.2" on, with forced recovery
// of damaged files.
//
// Threads: lives on the loader thread; save and load are called there by queued invocation.
// Image blocks are decoded by ImageLoaderRunners on QThreadPool::globalInstance() and report
// back to this object by queued signals, so the per-load tables are only touched here. The
// writer never reads live items: SceneState::takeSnapshot, called on the items' (GUI) thread,
// copies everything the writer needs. Questions (checksumLoaded during a save,
// aboutToOverwriteSaveFromNewerVersion, checksumMissmatchDetected, brokenItemMetadataDetected)
// are meant for blocking queued connections; the receiver answers by cancelling the job.
class SaveFileLoader : public BaseLoader {
    Q_OBJECT

public:
    // The snapshot of a board that is saved, or the view state a load delivers (items empty).
    struct SceneState {
        QList<GraphicsItem *> items;
        int nextItemId = 0;
        QRectF sceneRect;
        QTransform viewTransform;
        int horizontalScroll = 0;
        int verticalScroll = 0;
        // Item records and pictures as they were when takeSnapshot ran. save() writes from this
        // alone; items is only looked at by takeSnapshot.
        std::shared_ptr<const SceneSnapshot> snapshot;

        // Copies what the writer needs out of items. Call on the thread that owns the items,
        // after filling items, before handing the state to save().
        void takeSnapshot();
    };

    static const QString FormatVersion; // "1.10"
    static const QString ApplicationVersion; // the build's version, VELKORA_VERSION

    explicit SaveFileLoader(QObject *parent = nullptr);
    ~SaveFileLoader() override;

    bool embedLocalFiles() const { return m_embedLocalFiles; }

    // Item records of items in list order, depths relative to the lowest among them. With
    // selectedOnly the children written under an item are its nearest selected descendants.
    // Reads live items: call on their thread.
    static void writeItemRecords(
        QDataStream &stream, const QList<GraphicsItem *> &items, bool selectedOnly);
    static void writeItemRecord(
        QDataStream &stream, GraphicsItem *item, double baseZ, bool selectedOnly);

    // Reads the header and image index from the file's current position, computes the checksum
    // over the bytes the stored one covers, reports it (reportChecksum) and leaves the file just
    // after the header.
    SaveFileHeader readHeader(QFile *file, LoadJob *loadJob);
    // Emits checksumLoaded with the header's checksums and, for formats that store one,
    // checksumMissmatchDetected when they differ. Receivers may cancel the job in answer.
    void reportChecksum(const SaveFileHeader &header, LoadJob *loadJob);
    // Computes the header's actual checksum from the file, keeping the file's position, and
    // reports it.
    void checkChecksum(QFile *file, SaveFileHeader *header, LoadJob *loadJob);
    // The checksum scene files store: MD5 in lower-case hex, of the file from the given offset to
    // its end; empty when the file cannot be read that far.
    static QString checksumOf(QFile *file, qint64 from);
    static QString checksumOf(const uchar *bytes, qint64 size);
    static bool isValidHeader(const SaveFileHeader &header);
    static bool isValidIndex(const SaveFileHeader &header);
    // Format versions are "major.minor"; "1.10" is greater than "1.9".
    static bool isValidFormatVersion(const QString &version);
    static bool isFormatGreater(const QString &a, const QString &b);
    static bool isFormatAtLeast(const QString &a, const QString &b);

public slots:
    void save(QFile *saveFile, const QString &oldChecksum,
        const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob);
    void save(
        QFile *saveFile, const QString &oldChecksum, const SaveFileLoader::SceneState &sceneState);
    void load(QFile *loadFile, LoadJob *loadJob, bool force);
    void load(QFile *loadFile, LoadJob *loadJob);
    void load(QFile *loadFile);
    void setEmbedLocalFiles(bool embedLocalFiles);
    // "Save Compression": 0 fastest, 1 balanced, 2 smallest. Files read back the same.
    void setSaveCompression(int saveCompression);

signals:
    void checksumSaved(const QString &checksum, LoadJob *loadJob);
    void aboutToOverwriteSaveFromNewerVersion(const QString &applicationVersion, LoadJob *loadJob);
    void checksumLoaded(
        const QString &loadedChecksum, const QString &actualChecksum, LoadJob *loadJob);
    void checksumMissmatchDetected(LoadJob *loadJob);
    void brokenItemMetadataDetected(LoadJob *loadJob);
    void loadedSceneState(const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob);
    void foundItemWithMissingImage(
        GraphicsImageItem *item, const ImageLoader::LoadImageResult &reason, LoadJob *loadJob);

private:
    // readHeader without the checksum, which the current reader computes while it decodes.
    SaveFileHeader readHeaderFields(QFile *file);

    bool m_embedLocalFiles = true;
    int m_saveCompression = 1;
};

Q_DECLARE_METATYPE(SaveFileLoader::SceneState)
