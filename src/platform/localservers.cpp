#include "platform/localservers.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Our own folder when the session has no runtime folder: the system's temporary folder is
// shared by every user, so it must be ours, and closed to everyone else.
QString privateFolder(QString *error)
{
    const QString path = QStringLiteral("%1/velkora-%2").arg(QDir::tempPath()).arg(::getuid());
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return QString();
    }
    // lstat: a link planted there by someone else is not our folder.
    struct stat status;
    if (::lstat(native.constData(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::getuid() || (status.st_mode & 0077) != 0) {
        *error = QStringLiteral("%1 belongs to another user or is open to others").arg(path);
        return QString();
    }
    return path;
}

} // namespace

QString LocalServers::folder(QString *error)
{
    QString ignored;
    QString &why = error ? *error : ignored;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    return privateFolder(&why);
}

QString LocalServers::address(const QString &name)
{
    const QString base = folder();
    // Without a safe folder the toolkit's default place is all there is; listening still limits
    // the socket to this user.
    return base.isEmpty() ? name : base + QLatin1Char('/') + name;
}

bool LocalServers::isAlive(const QString &name, int milliseconds)
{
    QLocalSocket socket;
    socket.connectToServer(address(name));
    const bool alive = socket.waitForConnected(milliseconds);
    socket.abort();
    return alive;
}

bool LocalServers::listen(QLocalServer *server, const QString &name, QString *error)
{
    QString ignored;
    QString &why = error ? *error : ignored;
    const QString path = address(name);
    QLockFile lock(path + QLatin1String(".lock"));
    if (!lock.tryLock(5000)) {
        why = QStringLiteral("the lock %1.lock is held").arg(path);
        return false;
    }
    // A live owner answers; only a socket nobody listens on may be removed.
    if (isAlive(name, 1000)) {
        why = QStringLiteral("another process serves %1").arg(name);
        return false;
    }
    QLocalServer::removeServer(path);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        why = server->errorString();
        return false;
    }
    return true;
}
