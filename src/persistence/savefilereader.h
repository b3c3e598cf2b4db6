#pragma once

#include "persistence/imageloaderrunner.h"
#include "persistence/loadlosses.h"
#include "persistence/savefileheader.h"
#include "persistence/scenestate.h"
#include "picture/picturefile.h"
#include "platform/workpools.h"
#include "scene/itemrecord.h"

#include <QDataStream>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QVector>

#include <memory>

class BaseLoader;
class LoadJob;
class Picture;
class QFile;
class QIODevice;

// One load of a scene file: the current reader (formats "1.6" to "1.10") with its records
// decoded by ItemRecordCodec and its image blocks by ImageLoaderRunners, the old readers (their
// records parsed by OldSaveFormats) and forced recovery (SaveFileRecovery). Lives on the loader
// thread and deletes itself once it has reported finished; progress, items and the end go out
// through the loader it reports for, questions and findings through its own signals.
//
// Every count and offset comes from the file and is checked against the bytes that are really
// there before anything is allocated for it. Records are read into a flat table of nodes and
// handed over as a tree only once the whole tree has its pixels (itemGenerated); a node that
// loses its pixels is left out together with what is attached to it. Whatever is left out of a
// load that otherwise succeeds is counted, with why, and reported once at its end (itemsNotRead).
//
// The current reader computes the file's checksum on the pool, beside the blocks, so that the
// pass over the whole file costs no time of its own. Scene state and items go out as soon as
// they are read, before the checksum is known: a board is shown as soon as its pictures are,
// and a receiver that refuses a mismatch discards what it got (LoadJob::discard). The load ends
// only once the checksum is reported.
class SaveFileReader : public QObject {
    Q_OBJECT

public:
    SaveFileReader(BaseLoader *reporter, QFile *file, LoadJob *job, const SaveFileHeader &header);
    ~SaveFileReader() override;

    // Whether pictures keep the blocks they were decoded from (before readCurrent).
    void setKeepOriginals(bool keep) { m_keepOriginals = keep; }
    // Pictures read from blocks of the current format keep only their overview in memory and
    // decode their full pixels from the file when needed.
    void setBlocksOnDisk(bool onDisk) { m_blocksOnDisk = onDisk; }

    void readCurrent();
    void readOld();
    // Scans the file for PNG streams and generates every picture found; returns the message.
    QString bruteForce();

    // One item of a board without its pixels: its record (children left out), the item it is
    // attached to as an index into the outline (-1: none; a parent comes before its children),
    // and for a picture the index entry of its block (id -1: the file holds none).
    struct OutlineItem {
        ItemRecord record;
        int parent = -1;
        ImageRecord block;
    };
    // Reads what a board of formats "1.6" to "1.10" holds besides its pixels, for a reader that
    // picks the blocks it wants: header checked with SaveFileFormat::isValidHeader, device just
    // after it. Reads the scene block and the item records only; no block, linked file, thread
    // or checksum. Pictures get their entries as a load would give them. False when the scene
    // block or a record is broken.
    static bool readOutline(
        QIODevice *device, const SaveFileHeader &header, QList<OutlineItem> *outline);

signals:
    // The header with its actual checksum; a receiver may cancel the job in answer.
    void checksumComputed(const SaveFileHeader &header);
    // The item records could not be read; a receiver may cancel the job in answer.
    void brokenItemMetadataDetected();
    void sceneStateRead(const SceneState &state);
    void missingImage(const ItemRecord &record, const PictureFile::LoadResult &reason);
    // Pictures and notes a load left out; emitted just before a finish without message.
    void itemsNotRead(const LoadLosses &losses);

private:
    // Reads records of formatVersion from device only: no file, job or reporter behind it.
    SaveFileReader(QIODevice *device, const QString &formatVersion);

    // One record as read, without its children, which are other nodes.
    struct Node {
        ItemRecord record;
        QList<int> children;
    };
    // What the image of one id turned out to be, for the images that share its block.
    struct Decoded {
        int node = -1; // -1: dropped
        QImage image;
        std::shared_ptr<Picture> picture;
        QByteArray original;
        QString source;
        int copyOf = -1;
        bool isCopy = false;
        // Why a dropped image has no pixels, for the images that share them.
        LoadLosses::Reason lost = LoadLosses::Reason::NoPictureData;
    };

    // Maps the header's index by id, for takeEntryFor.
    void mapIndex();
    bool readSceneBlock(bool withNextId);
    void emitSceneState(int highestId);
    int addNode(ItemRecord record, int parent);
    // A record of the old formats with the notes attached to it; returns its node.
    int addTree(ItemRecord record);
    int readRecord(int depth);
    // The file's directory now and the one stored at the end of the item records, which linked
    // paths are resolved against.
    void readSceneDirectories();
    void finishWithBrokenMetadata();
    QList<int> treeOf(int root) const;

    void startRunners();
    void handleImageDone(ImageLoaderRunner *runner);
    void cancelRunners();
    void complete();
    void resolveCopies();
    void finalizeRoot(int root);
    ItemRecord assemble(int node) const;
    void generate(int root);
    int takeEntryFor(int node, int position);
    void applyBlock(int node, const ImageRecord &record);
    static QString corruptMessage();
    void drop(int node, LoadLosses::Reason reason);
    // Counts what of the roots' trees is left out: a dropped node and everything attached to it.
    void countDropped(const QList<int> &roots);
    void finish(const QString &message = QString());
    // The checksum, computed here and now; false when the answer to a mismatch canceled the job.
    bool checkChecksumNow();
    void startChecksum();
    void checksumReady(const QString &checksum);

    BaseLoader *m_reporter;
    QFile *m_file;
    LoadJob *m_job;
    SaveFileHeader m_header;
    QDataStream m_in;
    qint64 m_size = 0;
    SceneState m_sceneState;
    bool m_sceneStateUsable = false;

    QVector<Node> m_nodes;
    QList<int> m_roots;
    QHash<int, int> m_entryById;
    QList<bool> m_entryClaimed;
    QString m_currentSceneDirectory;
    QString m_savedSceneDirectory;
    bool m_keepOriginals = false;
    bool m_blocksOnDisk = false;
    uchar *m_mapping = nullptr;
    // The user waits for a load: its pictures decode on every core.
    WorkPools::Foreground m_foreground;
    std::shared_ptr<ImageLoaderRunner::Context> m_context;
    QList<ImageLoaderRunner *> m_runners;
    QSet<ImageLoaderRunner *> m_reported;
    QHash<int, int> m_rootOf;
    QHash<int, int> m_unsettled;
    QHash<int, int> m_copies;
    QHash<int, Decoded> m_itemsById;
    QHash<int, PictureFile::LoadResult> m_missing;
    QHash<int, LoadLosses::Reason> m_dropped;
    LoadLosses m_losses;
    QSet<int> m_generated;
    int m_done = 0;
    bool m_finished = false;
    bool m_canceled = false;

    QFuture<void> m_checksum;
    // Set while the checksum is computed: the end of the load waits for it.
    bool m_checksumPending = false;
    bool m_completeHeld = false;
};
