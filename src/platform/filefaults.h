#pragma once

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
// Threads: arm and disarm while no file work of the folder runs (before a job starts, after it
// has ended); the counts may be read at any time. Calls of other folders pass untouched.
class FileFaults {
public:
    enum class Operation { Write, Rename, Sync };

    // From now on, counts the operations on files inside folder (an absolute path) and fails
    // the nth one of operation (1 for the first; 0 fails none) with errorNumber, once.
    static void failNth(const QString &folder, Operation operation, int nth, int errorNumber);
    // From now on, writes inside folder find the disk full once bytes have been written: the
    // write that reaches the limit is cut short, every later one fails with ENOSPC.
    static void fillDiskAfter(const QString &folder, qint64 bytes);
    // Only counts.
    static void countOnly(const QString &folder);
    static void disarm();

    // Operations inside the folder since the last arming, the failed one included.
    static int count(Operation operation);
    // Whether a planned failure has happened, and the file it hit.
    static bool hasFailed();
    static QString failedPath();
};
