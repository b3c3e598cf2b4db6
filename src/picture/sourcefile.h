#pragma once

#include <QFile>
#include <QMutex>
#include <QReadWriteLock>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

class Picture;

// A file that pictures are decoded from again: an open board, whose blocks hold their encoded
// pixels. Pictures read their ranges when they decode and keep nothing of the file in memory.
// The file stays open, and is known by the file itself rather than by its name: a board moved,
// renamed or deleted while open still gives its blocks, and one renamed over it is another
// file. A save that rewrites the file holds the write lock while blocks may move; reading takes
// the read lock, so no picture reads a block half moved. Thread-safe.
class SourceFile {
public:
    explicit SourceFile(const QString &path);

    // The one object of the file now at path while any picture uses it; a new one otherwise.
    static std::shared_ptr<SourceFile> forPath(const QString &path);
    // The one object of the file now at path, or null when no picture uses it.
    static std::shared_ptr<SourceFile> find(const QString &path);

    // Remembers a picture whose source lies in this file, so that a save about to overwrite
    // blocks can move their bytes elsewhere first.
    void addPicture(const std::shared_ptr<Picture> &picture);
    // The live pictures whose source still lies in this file.
    std::vector<std::shared_ptr<Picture>> pictures();

    QString path() const { return m_path; }
    QReadWriteLock *lock() { return &m_lock; }

    // The bytes [start, start + length), or empty when the file no longer has them. Takes the
    // read lock unless the caller holds the write lock (locked); never waits for it: while a
    // save holds it, busy is set and nothing is read. A reader waiting on a pool thread could
    // hold up the very save it waits for, whose pictures encode on the same pool.
    QByteArray read(qint64 start, qint64 length, bool locked = false, bool *busy = nullptr);

private:
    const QString m_path;
    // Read under m_fileMutex: one position for every reader.
    QFile m_file;
    QMutex m_fileMutex;
    QReadWriteLock m_lock;
    QMutex m_picturesMutex;
    std::vector<std::weak_ptr<Picture>> m_pictures;
};
