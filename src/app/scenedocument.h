#pragma once

#include "persistence/savefileloader.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>

class AbstractDocumentPrompter;
class AutoSaveFile;
class CommandHandler;
class LoadJob;
class Setting;

// The board's scene file from open to save: which file it is, whether the board differs from
// it, the ".old" backup made before overwriting it, the checks against overwriting a file
// changed elsewhere or written by a newer version, the corrupt-file and backup-exists questions
// of opening it, and the unsaved-changes question with the operation to run after the save it
// leads to. It asks every question through an AbstractDocumentPrompter and reaches the board
// only through its Host, so it runs without a window.
//
// Threads: lives on the GUI thread; the reader and writer (SaveFileLoader, on the loader thread)
// get paths and values and never wait for it. A save pauses after it has looked at the file it
// replaces, and goes on when the answers given here are sent back (continueSave); a load that
// finds its file damaged ends, and the question comes once it has. Every member is touched on
// the GUI thread only.
class SceneDocument : public QObject {
    Q_OBJECT

public:
    // InBackground: nobody waits for the save, which then leaves a core to the window.
    // ForOlderReaders: this one save writes every picture as PNG, in a format older readers
    // open, whatever the board's picture storage says.
    enum SaveOption { NoBackup = 1, AutoSave = 2, InBackground = 4, ForOlderReaders = 8 };
    enum LoadOption { BruteForce = 1, RestoreAutoSave = 2 };
    enum class Operation { Clear, Load, Close, Update };

    // What the document needs of the board it saves and opens.
    struct Host {
        // The board to write, with its snapshot taken.
        std::function<SaveFileLoader::SceneState()> sceneState;
        // A job the host follows: its end comes back through jobFinished() and runFollowUp().
        // A job that opens a file holds the board (isLoading) until it has ended.
        std::function<LoadJob *(bool opensFile)> createJob;
        // Whether jobs hold the board, silently; and the same, telling the user it must wait.
        std::function<bool()> isLoading;
        std::function<bool()> refuseWhileBusy;
        // Empties the board (and this document, through clear()) before a file replaces it.
        std::function<void()> clearBoard;
    };

    SceneDocument(
        SaveFileLoader *loader, CommandHandler *commands, Host host, QObject *parent = nullptr);
    ~SceneDocument() override;

    void setPrompter(AbstractDocumentPrompter *prompter) { m_prompter = prompter; }
    // The check box of the unsaved-changes question; null: it is always asked.
    void setUnsavedWarningSetting(Setting *setting) { m_hideUnsavedWarning = setting; }

    QString currentPath() const { return m_currentPath; }
    QString checksumAtOpen() const { return m_checksumAtOpen; }
    // The board of another program this unsaved board was opened from; empty for others.
    QString importedFrom() const { return m_importedFrom; }
    bool hasUnsavedChanges() const;
    bool ownsJob(LoadJob *job) const { return m_jobs.contains(job); }
    bool isSaveJob(LoadJob *job) const { return m_jobs.value(job).save; }
    static QString backupPath(const QString &path);

    // Whether an operation may go on: true when nothing is unsaved, or the user chose not to
    // save; false on cancel or when a save was chosen. That save calls afterSave from the event
    // loop once it has succeeded, and drops it when it is abandoned or fails.
    bool confirmUnsavedChanges(Operation operation, std::function<void()> afterSave = {});
    // Each answers whether a save job started: false when the user abandoned it on the way (a
    // dialog cancelled, a question declined) or it could not begin.
    bool save(int options = 0);
    bool save(const QString &fileName, int options = 0);
    bool saveAs();
    // No questions, no backup: the board is written beside the file and replaces it only once
    // it is whole.
    void saveQuiet(const QString &path);
    void issuePreOpSave();
    void load(const QString &fileName, int options = 0);
    // The board was emptied: no file, nothing unsaved, no autosave.
    void clear();

    // Autosaving. A board without a file (or whose file is gone) is written to an autosave file
    // of its own, which a normal save, clearing or closing discards.
    bool isNewScene() const;
    // Whether the board changed since it was last saved or autosaved.
    bool changedSinceAutoSave() const;
    void autoSave();
    // Takes over a left-over autosave before it is loaded with RestoreAutoSave; false when a live
    // instance owns it.
    bool restoreAutoSave(const QString &path);
    AutoSaveFile *autoSaveFile() const { return m_autoSave.get(); }

    // A job of this document has ended; the host calls runFollowUp() once the job no longer
    // counts as running, so that what the answers asked for ("save as", loading the backup,
    // forcing the load) may start.
    void jobFinished(LoadJob *job, const QString &heading, const QString &details);
    void runFollowUp(LoadJob *job);

signals:
    void titleChanged(const QString &title);
    // A save for older readers has ended well: the user is told what it changed.
    void savedForOlderReaders(const QString &path);
    // A file was saved or opened: for the recent files.
    void fileUsed(const QString &path);

private:
    enum class Damage { None, ChecksumMismatch, BrokenMetadata };

    struct FileJob {
        bool save = false;
        // The scene file; a save without a backup writes tempPath and renames it over path.
        QString path;
        QString tempPath;
        // Saved for a script: failures are logged, not shown.
        bool quiet = false;
        int options = 0;
        bool targetExisted = false;
        bool backupMade = false;
        // What a load found wrong with its file, asked about when it has ended.
        Damage damage = Damage::None;
        QString savedChecksum;
        std::function<void()> followUp;
        // What the unsaved-changes question deferred until this save: it lives and dies with
        // the save, so that no later save runs it.
        std::function<void()> pendingOperation;
        // What a load left out, told once it has finished.
        LoadLosses losses;
    };

    void startSave(FileJob record, const QString &previousChecksum, bool makeBackup);
    // The writer has made the backup and looked at the file it replaces: the questions that
    // needs, then the answer back to the writer.
    void onSaveInspected(const SaveInspection &inspection, LoadJob *job);
    // The corrupt-file question after a load that stopped at damage.
    void askAboutDamage(FileJob &info);
    void saveFinished(FileJob &info, LoadJob *job, QString heading, QString details);
    void loadFinished(FileJob &info, LoadJob *job, const QString &heading, const QString &details);
    // Puts the finished file written beside in place of the old one, durably.
    bool replaceWithTemporary(const FileJob &info, QString *details);
    void runPendingOperation(std::function<void()> operation);
    bool isNewerRelease(const QString &applicationVersion) const;
    // Asks whether to overwrite; answers false when the save was cancelled (and arranges save
    // as when that was chosen).
    bool confirmOverwrite(const QString &message, LoadJob *job);
    void setSceneTitle(const QString &path);

    SaveFileLoader *m_loader;
    CommandHandler *m_commands;
    Host m_host;
    AbstractDocumentPrompter *m_prompter = nullptr;
    Setting *m_hideUnsavedWarning = nullptr;

    QString m_currentPath;
    // The board of another program this one was opened from, which it is never saved to.
    QString m_importedFrom;
    QUuid m_savedState;
    QString m_checksumAtOpen;
    QString m_lastReportedChecksum;
    // Handed from the unsaved-changes question to the save it starts.
    std::function<void()> m_pendingOperation;
    QHash<LoadJob *, FileJob> m_jobs;
    QHash<LoadJob *, std::function<void()>> m_followUps;
    std::unique_ptr<AutoSaveFile> m_autoSave;
};
