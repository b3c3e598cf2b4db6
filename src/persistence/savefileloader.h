#pragma once

#include "jobs/baseloader.h"
#include "persistence/loadlosses.h"
#include "persistence/savefileheader.h"
#include "persistence/scenestate.h"
#include "picture/picturefile.h"

#include <QList>
#include <QString>

class LoadJob;
class QFile;
class SaveFileReader;

// Writes scene files (format "1.10") and reads every format from "1.2" on, with forced recovery
// of damaged files. It knows records and bytes only: the GUI thread turns the scene's items into
// the records it saves (SceneSnapshot) and the records it loads into items (ItemBuilder).
//
// Threads: lives on the loader thread; save and load are called there by queued invocation.
// A load is run by a SaveFileReader, whose image blocks decode on QThreadPool::globalInstance()
// and report back by queued signals. Questions (checksumLoaded during a save,
// aboutToOverwriteSaveFromNewerVersion, checksumMissmatchDetected, brokenItemMetadataDetected)
// are meant for blocking queued connections; the receiver answers by cancelling the job.
class SaveFileLoader : public BaseLoader {
    Q_OBJECT

public:
    // The board that is saved, or the view state a load delivers (items empty).
    using SceneState = ::SceneState;

    explicit SaveFileLoader(QObject *parent = nullptr);
    ~SaveFileLoader() override;

    // How pictures are stored: every one as PNG, or as the JPEG, PNG or WebP file it came from
    // where that decodes to its pixels exactly.
    enum PictureStorage { PngOnly = 0, OriginalFiles = 1 };

    bool embedLocalFiles() const { return m_embedLocalFiles; }

    // Emits checksumLoaded with the header's checksums and, for formats that store one,
    // checksumMissmatchDetected when they differ. Receivers may cancel the job in answer.
    void reportChecksum(const SaveFileHeader &header, LoadJob *loadJob);

public slots:
    void save(QFile *saveFile, const QString &oldChecksum,
        const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob);
    void save(
        QFile *saveFile, const QString &oldChecksum, const SaveFileLoader::SceneState &sceneState);
    // The same for a save nobody waits for (an autosave): it leaves a core to the window.
    void saveInBackground(QFile *saveFile, const QString &oldChecksum,
        const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob);
    void load(QFile *loadFile, LoadJob *loadJob, bool force);
    void load(QFile *loadFile, LoadJob *loadJob);
    void load(QFile *loadFile);
    void setEmbedLocalFiles(bool embedLocalFiles);
    // "Save Compression": 0 fastest, 1 balanced, 2 smallest. Files read back the same.
    void setSaveCompression(int saveCompression);
    // "Picture Storage": PngOnly or OriginalFiles.
    void setPictureStorage(int pictureStorage);

signals:
    void checksumSaved(const QString &checksum, LoadJob *loadJob);
    void aboutToOverwriteSaveFromNewerVersion(const QString &applicationVersion, LoadJob *loadJob);
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

    bool m_embedLocalFiles = true;
    int m_saveCompression = 1;
    int m_pictureStorage = OriginalFiles;
};
