#include "platform/cachefolder.h"

#include "platform/platform.h"
#include "platform/platformlog.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every folder holds one lock file of this name. Whoever holds its flock owns the folder; the
// file is made right after the folder and removed last, so a folder without it is one being
// made, or an empty one its maker never finished.
constexpr char LockName[] = "lock";

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

int openFile(const QByteArray &path, int flags)
{
    int fd = -1;
    do {
        fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Unlinks the entries of the folder but its lock file, links themselves rather than what they
// point to. We put no folders in ours; any there is left, and so then is ours.
void removeEntries(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    const int fd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0
            || std::strcmp(name, LockName) == 0) {
            continue;
        }
        ::unlinkat(fd, name, 0);
    }
    ::closedir(dir);
}

// Removes a folder whose lock the caller holds, the lock file last.
void removeFolder(const QByteArray &folder)
{
    removeEntries(folder);
    ::unlink(QByteArray(folder + '/' + LockName).constData());
    ::rmdir(folder.constData());
}

bool isOwnFolder(const QByteArray &path)
{
    struct stat status;
    return ::lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::getuid();
}

// Makes a fresh folder in base and takes its lock. Another process's removeLeftovers() may meet
// the folder in the moment before the lock is taken and remove it; then this starts again.
bool makeFolder(const QString &base, QByteArray *folder, int *lock, QString *error)
{
    if (!Platform::makePrivateDirectory(base, error))
        return false;
    for (int attempt = 0; attempt < 10; ++attempt) {
        // mkdtemp makes it 0700 under a name no other folder has.
        QByteArray name
            = QFile::encodeName(base) + '/' + QByteArray::number(::getpid()) + "-XXXXXX";
        if (!::mkdtemp(name.data())) {
            *error = systemError();
            return false;
        }
        const QByteArray lockPath = name + '/' + LockName;
        const int fd = openFile(lockPath, O_RDWR | O_CREAT | O_EXCL);
        if (fd < 0) {
            if (errno == ENOENT)
                continue;
            *error = systemError();
            ::rmdir(name.constData());
            return false;
        }
        // Held: someone else is removing the folder. Free: it is ours, unless whoever held it
        // a moment ago removed the file already.
        struct stat held;
        struct stat named;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0
            || ::lstat(lockPath.constData(), &named) != 0 || held.st_ino != named.st_ino
            || held.st_dev != named.st_dev) {
            ::close(fd);
            continue;
        }
        *folder = name;
        *lock = fd;
        return true;
    }
    *error = QStringLiteral("other processes removed every folder made");
    return false;
}

} // namespace

CacheFolder::CacheFolder(const QString &base)
    : m_base(base)
{
}

CacheFolder::~CacheFolder()
{
    close();
}

QString CacheFolder::defaultBase()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/velkora");
}

QString CacheFolder::path()
{
    QMutexLocker locker(&m_mutex);
    if (!m_settled) {
        m_settled = true;
        QByteArray folder;
        QString error;
        if (makeFolder(m_base, &folder, &m_lock, &error)) {
            m_path = QFile::decodeName(folder);
        } else {
            qCWarning(lcPlatform, "No cache folder in %s: %s. Pictures are decoded again instead.",
                qUtf8Printable(m_base), qUtf8Printable(error));
        }
    }
    return m_path;
}

void CacheFolder::clear()
{
    QMutexLocker locker(&m_mutex);
    if (!m_path.isEmpty())
        removeEntries(QFile::encodeName(m_path));
}

void CacheFolder::close()
{
    QMutexLocker locker(&m_mutex);
    m_settled = true;
    if (m_path.isEmpty())
        return;
    removeFolder(QFile::encodeName(m_path));
    ::close(m_lock);
    m_lock = -1;
    m_path.clear();
}

void CacheFolder::removeLeftovers(const QString &base)
{
    const QByteArray basePath = QFile::encodeName(base);
    if (!isOwnFolder(basePath))
        return;
    DIR *dir = ::opendir(basePath.constData());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const QByteArray folder = basePath + '/' + entry->d_name;
        if (!isOwnFolder(folder))
            continue;
        const int fd = openFile(folder + '/' + LockName, O_RDONLY);
        if (fd < 0) {
            // Empty without its lock: a maker killed before it took one, or one taking it now,
            // which starts again if its folder goes. rmdir removes empty folders only.
            if (errno == ENOENT)
                ::rmdir(folder.constData());
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            removeFolder(folder);
        ::close(fd);
    }
    ::closedir(dir);
}
