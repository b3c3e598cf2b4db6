#include "picture/sourcefile.h"

#include "picture/picture.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>

#include <algorithm>
#include <limits>

namespace {

QString keyOf(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

QMutex &registryMutex()
{
    static QMutex mutex;
    return mutex;
}

QHash<QString, std::weak_ptr<SourceFile>> &registry()
{
    static QHash<QString, std::weak_ptr<SourceFile>> files;
    return files;
}

} // namespace

std::shared_ptr<SourceFile> SourceFile::forPath(const QString &path)
{
    const QString key = keyOf(path);
    QMutexLocker locker(&registryMutex());
    std::shared_ptr<SourceFile> file = registry().value(key).lock();
    if (!file) {
        file = std::make_shared<SourceFile>(key);
        registry().insert(key, file);
    }
    return file;
}

std::shared_ptr<SourceFile> SourceFile::find(const QString &path)
{
    QMutexLocker locker(&registryMutex());
    return registry().value(keyOf(path)).lock();
}

void SourceFile::addPicture(const std::shared_ptr<Picture> &picture)
{
    QMutexLocker locker(&m_picturesMutex);
    // Dead ones go when the list would grow.
    m_pictures.erase(std::remove_if(m_pictures.begin(), m_pictures.end(),
                         [](const std::weak_ptr<Picture> &weak) { return weak.expired(); }),
        m_pictures.end());
    m_pictures.push_back(picture);
}

std::vector<std::shared_ptr<Picture>> SourceFile::pictures()
{
    std::vector<std::shared_ptr<Picture>> alive;
    QMutexLocker locker(&m_picturesMutex);
    for (const std::weak_ptr<Picture> &weak : m_pictures) {
        std::shared_ptr<Picture> picture = weak.lock();
        if (picture && picture->source().file().get() == this)
            alive.push_back(std::move(picture));
    }
    return alive;
}

SourceFile::SourceFile(const QString &path)
    : m_path(path)
{
}

QByteArray SourceFile::read(qint64 start, qint64 length, bool locked, bool *busy)
{
    if (busy)
        *busy = false;
    if (start < 0 || length <= 0 || length > std::numeric_limits<int>::max())
        return {};
    if (!locked && !m_lock.tryLockForRead()) {
        if (busy)
            *busy = true;
        return {};
    }
    const auto unlock = qScopeGuard([this, locked] {
        if (!locked)
            m_lock.unlock();
    });
    // Opened for each read: the file may have been replaced since the last one, and a handle
    // kept open would read the replaced file's blocks.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(start))
        return {};
    QByteArray bytes = file.read(length);
    return bytes.size() == length ? bytes : QByteArray();
}
