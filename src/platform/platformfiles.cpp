#include "platform/platform.h"

#include "platform/platformlog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

bool syncOpenFile(int handle, QString *error)
{
    return ::fsync(handle) == 0 || fail(error);
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

bool writeFileAtomically(
    const QString &path, const QByteArray &data, QString *error, bool *nameRefused)
{
    if (nameRefused)
        *nameRefused = false;
    const QByteArray target = QFile::encodeName(path);
    struct stat existing { };
    const bool exists = ::stat(target.constData(), &existing) == 0;
    // Beside the target: the rename stays on one file system, where it replaces in one step.
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = target + '.';
        for (int i = 0; i < 6; ++i)
            temporary += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST && errno != EINTR) {
            if (nameRefused)
                *nameRefused = errno == ENAMETOOLONG || errno == EINVAL || errno == EILSEQ;
            return fail(error);
        }
    }
    if (fd < 0)
        return fail(error);
    const auto discard = [&] {
        const int reason = errno;
        ::close(fd);
        ::unlink(temporary.constData());
        errno = reason;
        return fail(error);
    };
    if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0)
        return discard();
    for (qint64 written = 0; written < data.size();) {
        const ssize_t n
            = ::write(fd, data.constData() + written, std::size_t(data.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return discard();
        written += n;
    }
    if (::fsync(fd) != 0)
        return discard();
    if (::close(fd) != 0) {
        ::unlink(temporary.constData());
        return fail(error);
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int reason = errno;
        ::unlink(temporary.constData());
        errno = reason;
        return fail(error);
    }
    QString folderError;
    if (!syncDirectory(QFileInfo(path).absolutePath(), &folderError)) {
        // The new file is in place; only its surviving a power cut right now is in doubt.
        qCWarning(lcPlatform, "Could not flush the folder of %s: %s", qUtf8Printable(path),
            qUtf8Printable(folderError));
    }
    return true;
}

bool makePrivateDirectory(const QString &path, QString *error)
{
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent)) {
        if (error)
            *error = QStringLiteral("%1 cannot be made").arg(parent);
        return false;
    }
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return fail(error);
    // lstat: a link someone planted in a shared folder is not our folder.
    struct stat status;
    if (::lstat(name.constData(), &status) != 0)
        return fail(error);
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::getuid()) {
        if (error)
            *error = QStringLiteral("%1 is not a folder of this user").arg(path);
        return false;
    }
    if ((status.st_mode & 0077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return fail(error);
    return true;
}

void showInFileManager(const QStringList &paths)
{
    QStringList uris;
    QStringList folders;
    for (const QString &path : paths) {
        const QFileInfo file(path);
        if (!file.exists())
            continue;
        uris.append(QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded));
        if (!folders.contains(file.absolutePath()))
            folders.append(file.absolutePath());
    }
    if (uris.isEmpty())
        return;
    QDBusMessage call
        = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // A desktop without the service answers at once with an error; a hung bus must not hang us.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return;
    for (const QString &folder : qAsConst(folders))
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace Platform

void Platform::releaseMappedPages(const uchar *address, qint64 length)
{
    static const auto pageSize = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    if (!address || length <= 0 || pageSize == 0)
        return;
    // Pages the range shares with its neighbours may still be wanted by whoever reads those.
    const auto start = (std::uintptr_t(address) + pageSize - 1) / pageSize * pageSize;
    const auto end = (std::uintptr_t(address) + std::uintptr_t(length)) / pageSize * pageSize;
    if (end > start)
        ::madvise(reinterpret_cast<void *>(start), end - start, MADV_DONTNEED);
}

QString Platform::fileIdentity(const QString &path)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return QStringLiteral("%1:%2").arg(quint64(info.st_dev)).arg(quint64(info.st_ino));
}
