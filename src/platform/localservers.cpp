#include "platform/localservers.h"

#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

QString LocalServers::folder(QString *error)
{
    QString ignored;
    QString &why = error ? *error : ignored;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    // The system's temporary folder is shared by every user: ours must be closed to them.
    const QString own = QStringLiteral("%1/velkora-%2").arg(QDir::tempPath()).arg(::getuid());
    return Platform::makePrivateDirectory(own, &why) ? own : QString();
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
