#include "platform/platform.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Platform {

namespace {

    bool fail(QString *error)
    {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }

    bool syncPath(const QString &path, int flags, QString *error)
    {
        const QByteArray name = QFile::encodeName(path);
        int fd = -1;
        do {
            fd = ::open(name.constData(), flags | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return fail(error);
        const bool synced = ::fsync(fd) == 0;
        const int syncError = errno;
        ::close(fd);
        errno = syncError;
        return synced || fail(error);
    }

} // namespace

bool syncFile(const QString &path, QString *error)
{
    return syncPath(path, O_RDONLY, error);
}

bool syncDirectory(const QString &path, QString *error)
{
    return syncPath(path, O_RDONLY | O_DIRECTORY, error);
}

bool replaceFile(const QString &from, const QString &to, QString *error)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0
        || fail(error);
}

} // namespace Platform
