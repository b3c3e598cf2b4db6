#pragma once

#include <QMutex>
#include <QString>

// A folder of this process's own for files it can make again, such as lossless copies of
// pictures whose pixels left memory: <base>/<pid>-XXXXXX, where base is velkora in the user's
// cache folder. Both are for this user alone (0700); a base that is a link or belongs to someone
// else is refused with a warning, and the program then runs without a cache.
//
// The process holds an exclusive flock on the lock file inside its folder for as long as it has
// the folder. The kernel drops the lock when the process ends, however it ends, so the folder of
// a process that was killed is one whose lock anybody can take: removeLeftovers() removes those
// and never one a live process holds. A process that ends normally removes its own folder.
//
// The folder is made on first use: starting the program costs nothing.
// Threads: path() and clear() from any thread at once; close() and the destructor by the owner,
// once no other thread uses the instance.
class CacheFolder {
public:
    // base: the folder holding each process's folder.
    explicit CacheFolder(const QString &base = defaultBase());
    ~CacheFolder();
    CacheFolder(const CacheFolder &) = delete;
    CacheFolder &operator=(const CacheFolder &) = delete;

    // $XDG_CACHE_HOME/velkora, or ~/.cache/velkora.
    static QString defaultBase();

    // The folder, made on the first call. Empty when none can be had (logged once), and after
    // close().
    QString path();
    // Removes every file in the folder, as when a board closes; the folder and its lock stay.
    // A file being stored at the same time may be lost with the others.
    void clear();
    // Removes the folder and gives up its lock; path() stays empty from now on.
    void close();

    // Removes the folders in base that no live process holds, left by processes that were
    // killed or crashed. Files only: safe on any thread, at start-up or later.
    static void removeLeftovers(const QString &base = defaultBase());

private:
    QMutex m_mutex;
    const QString m_base;
    QString m_path;
    int m_lock = -1;
    // Made or given up on: path() answers without trying again.
    bool m_settled = false;
};
