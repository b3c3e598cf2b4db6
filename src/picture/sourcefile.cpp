#include "picture/sourcefile.h"

#include "picture/picture.h"
#include "platform/platform.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>

#include <algorithm>
#include <limits>

namespace {

// The file itself while it exists; its name otherwise, for a file that is not there (which
// gives nothing to read either way).
QString keyOf(const QString &path)
{
    const QString identity = Platform::fileIdentity(path);
    if (!identity.isEmpty())
        return identity;
    return QStringLiteral("name:") + QFileInfo(path).absoluteFilePath();
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
        file = std::make_shared<SourceFile>(QFileInfo(path).absoluteFilePath());
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
    , m_file(path)
{
    // A file that cannot be opened gives nothing to read, as one that is gone.
    m_file.open(QIODevice::ReadOnly);
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
    QMutexLocker fileLocker(&m_fileMutex);
    if (!m_file.isOpen() || !m_file.seek(start))
        return {};
    QByteArray bytes = m_file.read(length);
    return bytes.size() == length ? bytes : QByteArray();
}
