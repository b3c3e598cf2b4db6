#pragma once

#include "persistence/savefileheader.h"
#include "persistence/savefileloader.h"
#include "picture/pictureblock.h"
#include "scene/itemrecord.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QImage>
#include <QList>
#include <QString>

#include <memory>

class LoadJob;
class Picture;
class QFile;
class SourceFile;

// One save of a scene file in the current format, full or incremental, for SaveFileLoader.
// Runs on the loader thread; the pictures of new blocks are encoded on the global thread pool
// and written in order, so the file is the same as if they were encoded one after another.
class SaveFileWriter {
public:
    // Whether the user waits for the save, which then encodes on every core.
    enum Urgency { UserWaits, InBackground };

    // storeOriginals: a picture that keeps the file it came from is stored as that file
    // instead of being encoded, unless the state saved is forOlderReaders.
    SaveFileWriter(SaveFileLoader *loader, QFile *file, LoadJob *job, bool embedLocalFiles,
        int deflateLevel, bool storeOriginals = false, Urgency urgency = UserWaits);

    // Reports started, progress and finished on the job; emits the loader's checksum signals.
    void run(const QString &oldChecksum, const SaveFileLoader::SceneState &state);
    // The same in two steps, for a save whose owner looks at the old file before it is
    // overwritten: begin reads the old file (when oldChecksum is not empty) into found; false
    // when it has finished the job already. finish writes, unless the job was cancelled since.
    bool begin(
        const QString &oldChecksum, const SaveFileLoader::SceneState &state, SaveInspection *found);
    void finish();

    // A complete PNG stream of image at the given libdeflate level; empty when it cannot be
    // encoded. The only place board pictures become PNG streams.
    static QByteArray encodePng(const QImage &image, int deflateLevel);

private:
    enum class Mode { Full, Incremental };

    // One image block to write: every image of the board, attached ones too, in ascending id.
    struct Image {
        int id = -1;
        // Lowest id of an image showing the same pixels; own id otherwise.
        int ownerId = -1;
        bool hasPixels = false;
        QString source;
        QImage image;
        // Where pixels not in memory come from.
        std::shared_ptr<Picture> picture;
        QByteArray original;
    };
    // A block written from a picture, which the picture may decode from from now on.
    struct WrittenBlock {
        int id;
        std::shared_ptr<Picture> picture;
        qint64 start;
        qint64 length;
        quint32 checksum;
        PictureBlock::Kind kind;
    };
    static QList<Image> imagesOf(const QList<ItemRecord> &records);

    // Where the blocks end that compact() keeps, when it leaves every one where it is (deleted
    // pictures behind the last one left drop off the end); -1 when it would move one.
    qint64 inPlaceEnd(const QList<ImageRecord> &entries) const;
    bool compact(QList<ImageRecord> &entries);
    bool keptBlocksStillFit(const QList<ImageRecord> &entries);
    bool writeImageBlocks(const QList<ImageRecord> &kept, QList<ImageRecord> &index);
    // The stream a new block of image gets, when it is the bytes of the picture's source (a PNG
    // stream, or an original file the board may hold); empty when its pixels are to be encoded.
    QByteArray sourceBlockOf(const Image &image);
    // Whether a new block of image is the bytes of its picture's source.
    bool copiesSource(const Image &image) const;
    // Pictures whose source is a block of this very file that will not stay where it is: their
    // bytes are taken into memory before anything moves. keptEntries: the blocks that stay.
    void moveSourcesOutOfFile(const QList<ImageRecord> &keptEntries);
    static void moveSourcesOutOf(SourceFile *file, const QList<ImageRecord> &keptEntries);
    // After a save the user waited for: pictures decode from the blocks just written.
    void pointPicturesAtFile();
    bool isLinked(const QString &source) const;
    // The records with the overviews of the pictures whose blocks they own, so that the board
    // opens again without decoding them.
    QList<ItemRecord> withStoredOverviews(QList<ItemRecord> records) const;
    // Whether a block read back at the file's position holds something other than a PNG stream.
    bool isForeignBlockAt(qint64 start, qint64 end);
    bool readBlock(qint64 start, qint64 length, QByteArray *data);
    bool writeAt(qint64 position, const QByteArray &data);
    // Writes all of data where the file stands; false, with the file's error, when it cannot.
    bool writeAll(const QByteArray &data);
    // Reports the failure with the file's name and reason, by default the file's own error.
    bool fail(const QString &reason = QString());
    // The old file's checksum from "from" to its end. In the same pass, the file's bytes from
    // the end of the header to keptEnd go into m_checksum, behind the new scene fields.
    QString checksumOldFile(qint64 from, qint64 keptEnd);
    // Writes data where the file stands and adds it to m_checksum.
    bool writeHashed(const QByteArray &data);

    SaveFileLoader *m_loader;
    QFile *m_file;
    LoadJob *m_job;
    int m_deflateLevel;
    Urgency m_urgency;
    bool m_embedLocalFiles;
    bool m_storeOriginals;
    // Whether any block written or kept is not a PNG stream: the file then says so in its
    // format version.
    bool m_foreignBlocks = false;
    QList<Image> m_images;
    // The file's own object while pictures decode from it: held for writing while blocks move.
    std::shared_ptr<SourceFile> m_sourceFile;
    QList<WrittenBlock> m_written;
    // The first failure to read the file back or to write out its buffer on the way, which the
    // save ends with even where the work could go on.
    QString m_ioError;
    // What begin found and finish goes on from.
    SaveFileLoader::SceneState m_state;
    QByteArray m_sceneFields;
    qint64 m_hashedKeptEnd = 0;
    Mode m_mode = Mode::Full;
    QList<ImageRecord> m_entries;
    // The checksum of the new file, taken as it is written: from the scene fields of the header
    // to the end, the kept blocks read once together with the old file's checksum.
    QCryptographicHash m_checksum { QCryptographicHash::Md5 };
};
