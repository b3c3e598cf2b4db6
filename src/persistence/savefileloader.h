#pragma once

#include "jobs/baseloader.h"
#include "persistence/loadlosses.h"
#include "persistence/savefileheader.h"
#include "persistence/scenestate.h"
#include "picture/picturefile.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>

class LoadJob;
class QDataStream;

// What a save found before it overwrote anything: whether it made the backup it was asked for,
// and the file it is about to replace (its checksum, when it had one, and the version of the
// program that wrote it). The owner answers with SaveFileLoader::continueSave.
struct SaveInspection {
    bool backupWanted = false;
    bool backupMade = false;
    QString backupError;
    bool oldFileRead = false;
    QString actualChecksum;
    QString applicationVersion;
};
Q_DECLARE_METATYPE(SaveInspection)
class QFile;
class SaveFileReader;
class SaveFileWriter;

// Writes scene files (format "1.10") and reads every format from "1.2" on, with forced recovery
// of damaged files. It knows records and bytes only: the GUI thread turns the scene's items into
// the records it saves (SceneSnapshot) and the records it loads into items (ItemBuilder).
//
// Threads: lives on the loader thread; save and load are called there by queued invocation.
// A load is run by a SaveFileReader, whose image blocks decode on QThreadPool::globalInstance()
// and report back by queued signals. It never waits for another thread: a save by path that
// needs answers pauses after saveInspected until continueSave, and a load told to stop when
// damaged discards its own job after checksumMissmatchDetected or brokenItemMetadataDetected.
class SaveFileLoader : public BaseLoader {
    Q_OBJECT

public:
    // The board that is saved, or the view state a load delivers (items empty).
    using SceneState = ::SceneState;

    // Opens a new, empty file "<path>.XXXXXX" in file, for reading and writing: beside path, so
    // that renaming it there stays on one file system and replaces in one step. False, with
    // file's error, when it cannot.
    static bool createFileBeside(const QString &path, QFile *file);

    explicit SaveFileLoader(QObject *parent = nullptr);
    ~SaveFileLoader() override;

    // How pictures are stored: every one as PNG, or as the JPEG, PNG, WebP or GIF file it came from
    // where that decodes to its pixels exactly.
    enum PictureStorage { PngOnly = 0, OriginalFiles = 1 };

    bool embedLocalFiles() const { return m_embedLocalFiles; }

    // Emits checksumLoaded with the header's checksums and, for formats that store one,
    // checksumMissmatchDetected when they differ. Receivers may cancel the job in answer.
    void reportChecksum(const SaveFileHeader &header, LoadJob *loadJob);

    // Options of the path-based save and load.
    enum PathOption {
        // Save: nobody waits for it, and it leaves a core to the window (an autosave).
        InBackground = 1,
        // Save: copy the file to its ".old" backup before anything is written.
        MakeBackup = 2,
        // Save: look at the old file and wait for continueSave before overwriting it.
        Inspect = 4,
        // Load: recover the pictures of a damaged file by force.
        Force = 8,
        // Load: a checksum that does not match, or item records that cannot be read, end the
        // load (discarded, with what it generated before) after the signal that says so:
        // someone is there to decide.
        StopWhenDamaged = 16,
        // Load: pictures of the current format keep their blocks in the file and only their
        // overview in memory; their full pixels are decoded from the file when needed. For the
        // board a document opens, which stays where it is while it is open.
        KeepBlocksOnDisk = 32,
    };

public slots:
    // The file at path is opened, written, flushed and closed here, on the loader thread.
    // With Inspect, saveInspected reports what was found and the save goes on with continueSave.
    void saveTo(const QString &path, const QString &oldChecksum,
        const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob, int options);
    // proceed false cancels the paused save, which then leaves the file as it was.
    void continueSave(LoadJob *loadJob, bool proceed);
    // A BeeRef board (BeeBoardReader::isBeeBoard) is read as a new board: options do not apply.
    void loadFrom(const QString &path, LoadJob *loadJob, int options);

    // The same with files the caller opened on this thread (tests, tools).
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
    // "Picture Storage": PngOnly or OriginalFiles.
    void setPictureStorage(int pictureStorage);

signals:
    void saveInspected(const SaveInspection &inspection, LoadJob *loadJob);
    void checksumSaved(const QString &checksum, LoadJob *loadJob);
    void checksumLoaded(
        const QString &loadedChecksum, const QString &actualChecksum, LoadJob *loadJob);
    void checksumMissmatchDetected(LoadJob *loadJob);
    void brokenItemMetadataDetected(LoadJob *loadJob);
    void loadedSceneState(const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob);
    // An image whose pixels are not available; its item is still generated, without pixels.
    void foundItemWithMissingImage(
        const ItemRecord &record, const PictureFile::LoadResult &reason, LoadJob *loadJob);
    // Pictures and notes the load left out of a board that otherwise loaded, with why; comes
    // just before finished (which then has no message), at most once a load.
    void itemsNotRead(const LoadLosses &losses, LoadJob *loadJob);

private:
    // A reader whose questions and findings come out as this loader's signals.
    SaveFileReader *makeReader(QFile *file, LoadJob *job, const SaveFileHeader &header);
    // urgency: a SaveFileWriter::Urgency.
    void write(QFile *saveFile, const QString &oldChecksum,
        const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob, int urgency);

    SaveFileWriter *makeWriter(QFile *file, LoadJob *job, int urgency);
    void loadBeeBoard(const QString &path, LoadJob *job);
    // A new file "to" with the bytes of "from", reporting progress on the job.
    bool copyWithProgress(const QString &from, const QString &to, LoadJob *job, QString *error);

    // Saves waiting for continueSave, with the files they write.
    struct PausedSave {
        std::unique_ptr<QFile> file;
        std::unique_ptr<SaveFileWriter> writer;
    };
    QHash<LoadJob *, std::shared_ptr<PausedSave>> m_paused;
    // Loads that end at the first sign of damage.
    QSet<LoadJob *> m_stopWhenDamaged;
    // The file loadFrom opened: the reader made for it owns it.
    QFile *m_handedOver = nullptr;
    bool m_keepBlocksOnDisk = false;
    bool m_embedLocalFiles = true;
    int m_saveCompression = 1;
    int m_pictureStorage = OriginalFiles;
};
