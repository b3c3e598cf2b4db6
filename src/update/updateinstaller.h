#pragma once

#include "update/updatemanifest.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Moves downloaded, verified files into an installation, backing up every file it replaces, then
// creates the listed links and removes the listed obsolete files. Any failure before the links are
// all in place rolls everything back.
//
// The backups live in a folder inside the installation (renames stay on one file system and
// survive the process), together with a journal that records each replacement and each link before
// it happens, written to the disk first. A run that is killed halfway is rolled back from that
// journal by recoverInterrupted() at the next start, so the old version starts again. Blocking
// file work on the calling thread; one installer per installation at a time.
class UpdateInstaller {
public:
    struct File {
        QString path; // relative to the installation, checked
        QString downloadedPath; // absolute
        bool isMain = false;
        qint64 size = 0;
    };
    struct Plan {
        QString installDir;
        QString targetPath; // the program file; the main entry replaces it
        QVector<File> files;
        QVector<UpdateManifest::Pair> links; // name → target, both checked
        QVector<UpdateManifest::Pair> deletions; // path, MD5
    };

    // Installs the plan. False with the report's heading and details on failure, after the
    // roll-back.
    bool install(const Plan &plan, QString *heading, QString *details);

    // Rolls back an installation that did not finish, and removes the updater's work folders
    // left in the installation. True when something was rolled back; false also while another
    // process is installing into it.
    static bool recoverInterrupted(const QString &installDir);

    // Restores failed after all retries: one text per file, for the catastrophic-failure dialog.
    QStringList unrestoredFiles() const { return m_unrestored; }

    // For tests: how long to wait between the attempts to restore a backup.
    void setRetryDelay(int ms) { m_retryDelayMs = ms; }
    // For tests: called after each file is moved into place with the number moved so far; when
    // it returns false the run stops on the spot as if the process had been killed there.
    std::function<bool(int)> afterFileMoved;

    static QString backupFolder(const QString &installDir);
    // Held while an installation runs; a killed run leaves it stale, which the next one sees.
    static QString lockPath(const QString &installDir);

private:
    struct Record {
        bool existed = false;
        QString destination;
        QString backup;
    };

    bool backUp(const QString &destination, const QString &relativePath, QString *error);
    // Appends the line to the journal and writes it to the disk; false with the file and the
    // reason in error.
    bool journal(const QString &line, QString *error);
    bool isInsideInstallation(const QString &path) const;
    void revert();
    static bool rollBackJournal(const QString &installDir, int retryDelayMs);
    static void revertRecords(const QVector<Record> &records, const QStringList &links,
        int retryDelayMs, QStringList *unrestored);

    QString m_installDir;
    QString m_backupDir;
    QVector<Record> m_records;
    QStringList m_links;
    QStringList m_unrestored;
    int m_retryDelayMs = 1000;
};
