#pragma once

#include "loading/imageloader.h"
#include "persistence/imageloaderrunner.h"
#include "persistence/savefileheader.h"
#include "persistence/savefileloader.h"

#include <QDataStream>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QSet>

#include <memory>
#include <thread>

class GraphicsImageItem;
class GraphicsItem;
class LoadJob;
class QFile;
class QGraphicsItem;

// One load of a scene file for SaveFileLoader: the current reader (formats "1.6" to "1.10")
// with its image blocks decoded by ImageLoaderRunners, the old readers and forced recovery.
// Lives on the loader thread and deletes itself once it has reported finished.
//
// Every count and offset comes from the file and is checked against the bytes that are really
// there before anything is allocated for it. Items stay with the reader until their whole tree
// has its pixels; only then is the top-level item handed over (itemGenerated), and only items
// the reader still holds are ever deleted by it.
//
// The current reader computes the file's checksum on a thread of its own while the blocks
// decode, so that the pass over the whole file costs no time of its own. Until the checksum is
// reported (and a mismatch answered) the scene state and items are held back.
class SaveFileReader : public QObject {
    Q_OBJECT

public:
    SaveFileReader(SaveFileLoader *loader, QFile *file, LoadJob *job, const SaveFileHeader &header);
    ~SaveFileReader() override;

    void readCurrent();
    void readOld();
    // Scans the file for PNG streams and generates every picture found; returns the message.
    QString bruteForce();

    static constexpr int MaximumNesting = 64;

private:
    struct Decoded {
        GraphicsImageItem *item = nullptr; // null: dropped
        QPixmap pixmap;
        QString source;
        int copyOf = -1;
        bool isCopy = false;
    };

    bool readSceneBlock(bool withNextId);
    void emitSceneState(int highestId);
    GraphicsItem *readRecord(QGraphicsItem *parent, int depth);
    GraphicsItem *readOldImage(int index);
    GraphicsImageItem *readVersion5Record();
    void readOldNotes(GraphicsItem *parent);
    // The file's directory now and the one stored at the end of the item records, which linked
    // paths are resolved against.
    void readSceneDirectories();
    void finishWithBrokenMetadata();
    void deleteHeldItems();

    void startRunners();
    void handleImageDone(ImageLoaderRunner *runner);
    void cancelRunners();
    void complete();
    void resolveCopies();
    void finalizeRoot(GraphicsItem *root);
    void deleteDroppedIn(GraphicsItem *item);
    void generate(GraphicsItem *root);
    int takeEntryFor(GraphicsImageItem *item, int position);
    void applyBlock(GraphicsImageItem *item, const ImageRecord &record);
    void finish(const QString &message = QString());
    // The checksum, computed here and now; false when the answer to a mismatch canceled the job.
    bool checkChecksumNow();
    void startChecksum();
    void checksumComputed(const QString &checksum);

    SaveFileLoader *m_loader;
    QFile *m_file;
    LoadJob *m_job;
    SaveFileHeader m_header;
    QDataStream m_in;
    qint64 m_size = 0;
    bool m_currentFormat = false;
    SaveFileLoader::SceneState m_sceneState;
    bool m_sceneStateUsable = false;

    QList<GraphicsItem *> m_roots;
    QHash<int, int> m_entryById;
    QList<bool> m_entryClaimed;
    QString m_currentSceneDirectory;
    QString m_savedSceneDirectory;
    uchar *m_mapping = nullptr;
    std::shared_ptr<ImageLoaderRunner::Context> m_context;
    QList<ImageLoaderRunner *> m_runners;
    QSet<ImageLoaderRunner *> m_reported;
    QHash<GraphicsImageItem *, GraphicsItem *> m_rootOf;
    QHash<GraphicsItem *, int> m_unsettled;
    QSet<GraphicsImageItem *> m_pending;
    QHash<GraphicsImageItem *, int> m_copies;
    QHash<int, Decoded> m_itemsById;
    QHash<GraphicsImageItem *, ImageLoader::LoadImageResult> m_missing;
    QSet<GraphicsItem *> m_dropped;
    QSet<GraphicsItem *> m_generated;
    int m_done = 0;
    bool m_finished = false;
    bool m_canceled = false;

    std::thread m_checksumThread;
    // Set while the checksum thread runs: scene state, items and completion wait for it.
    bool m_checksumPending = false;
    int m_highestId = -1;
    QList<GraphicsItem *> m_heldRoots;
    bool m_completeHeld = false;
};
