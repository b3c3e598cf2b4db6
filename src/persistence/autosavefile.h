#pragma once

#include <QObject>
#include <QString>
#include <QUuid>

class QLocalServer;

// The file a board without a file of its own is autosaved into, and the claim of the instance
// that owns it. The owner listens on a local server named after the file, so that other instances
// can tell a live board's autosave from one left over by a process that ended: those are offered
// for recovery at the next start.
//
// Autosaves live in a folder of the user's own ($XDG_STATE_HOME/velkora/autosave): the system's
// temporary folder is shared by every user and emptied at reboot, exactly when a recovery is
// needed.
//
// Threads: GUI thread only.
class AutoSaveFile : public QObject {
    Q_OBJECT

public:
    // An invalid file; create() or takeOver() makes it one.
    explicit AutoSaveFile(QObject *parent = nullptr);
    // An owned file is deleted with its owner: a board that closes normally leaves nothing to
    // recover.
    ~AutoSaveFile() override;

    static QString folder();
    // Where the folder's name comes from, for tests: empty restores the default.
    static void setFolderForTesting(const QString &folder);

    // Makes a new, empty autosave file in the folder and owns it.
    bool create();
    // Takes an existing autosave over unless a live instance owns it; the caller then owns it
    // with startServer().
    bool takeOver(const QString &path);
    bool isValid() const { return !m_path.isEmpty(); }
    // Claims the file for this instance; calling it again changes nothing.
    void startServer();
    bool isOwned() const { return m_server != nullptr; }
    // Whether an instance answers for the file.
    bool ownerAlive() const;
    // Gives the file up without deleting it, for one that could not be restored: it stays for
    // the next start to offer.
    void release();

    QString path() const { return m_path; }
    QString error() const { return m_error; }
    QString checksum() const { return m_checksum; }
    void setChecksum(const QString &checksum) { m_checksum = checksum; }
    // The newest undo command when the file was last written.
    QUuid stateMarker() const { return m_stateMarker; }
    void setStateMarker(const QUuid &marker) { m_stateMarker = marker; }

    // The owner's server name for an autosave path.
    static QString serverName(const QString &path);

private:
    QString m_path;
    QLocalServer *m_server = nullptr;
    QUuid m_stateMarker;
    QString m_checksum;
    QString m_error;
};
