#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Makes the file layer fail where tests want it to, so that every way a save, an export or an
// update can break on a real disk is tried: the Nth write, rename or sync of a file inside one
// folder fails with the error given, or the folder's disk fills up after so many bytes.
//
// It works below the toolkit, on the system calls themselves (write, writev, pwrite, rename,
// renameat, renameat2, fsync, fdatasync): the program keeps calling QFile, QSaveFile and its own
// Platform functions as it does for users, and a QFile's flush fails the way a real one does,
// in the write that empties its buffer. It is a library of its own (velkora_filefaults) that only
// those tests link: the program never has it. Unarmed, each call costs one atomic load on top of
// the real one.
//
// It also records, for the power-loss tests: every call that changes a file of the folder or its
// entries, in order, with the bytes written, so that a test can replay any part of a save onto a
// copy of the folder as a disk that lost power would have kept it.
//
// Threads: arm and disarm while no file work of the folder runs (before a job starts, after it
// has ended); the counts may be read at any time. Calls of other folders pass untouched.
class FileFaults {
public:
    enum class Operation { Write, Rename, Sync };

    // One recorded call. Files are told apart by inode, not by name: a file renamed after it was
    // written is still the file that was written.
    struct Recorded {
        enum class Kind {
            Write, // data at offset into inode (write, pwrite, writev)
            Truncate, // inode cut or grown to offset bytes (ftruncate, truncate, O_TRUNC)
            Create, // a new empty file inode under name (open with O_CREAT)
            Rename, // name replaces target (rename, renameat, renameat2)
            Remove, // name leaves the folder (unlink, unlinkat)
            Sync, // inode's data and size are on the disk (fsync, fdatasync of a file)
            SyncFolder, // the folder's entries are on the disk (fsync of the folder itself)
        };
        Kind kind = Kind::Write;
        // Names relative to the folder.
        QString name;
        QString target;
        quint64 inode = 0;
        qint64 offset = 0;
        QByteArray data;
    };

    // From now on, counts the operations on files inside folder (an absolute path) and fails
    // the nth one of operation (1 for the first; 0 fails none) with errorNumber, once.
    static void failNth(const QString &folder, Operation operation, int nth, int errorNumber);
    // From now on, writes inside folder find the disk full once bytes have been written: the
    // write that reaches the limit is cut short, every later one fails with ENOSPC.
    static void fillDiskAfter(const QString &folder, qint64 bytes);
    // Only counts.
    static void countOnly(const QString &folder);
    // Counts and records every call that changes the folder's files or entries.
    static void record(const QString &folder);
    static QList<Recorded> recorded();
    static void disarm();

    // Operations inside the folder since the last arming, the failed one included.
    static int count(Operation operation);
    // Whether a planned failure has happened, and the file it hit.
    static bool hasFailed();
    static QString failedPath();
};
