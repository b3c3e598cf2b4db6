#include "persistence/autosavefile.h"

#include "persistence/persistencelog.h"
#include "platform/localservers.h"
#include "platform/platform.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

// How long an owner may take to answer before its file counts as left over.
constexpr int ownerAnswerMilliseconds = 1000;

QString &folderForTesting()
{
    static QString folder;
    return folder;
}

} // namespace

AutoSaveFile::AutoSaveFile(QObject *parent)
    : QObject(parent)
{
}

AutoSaveFile::~AutoSaveFile()
{
    if (!m_server || m_path.isEmpty())
        return;
    QFile file(m_path);
    if (file.exists() && !file.remove())
        qCWarning(lcPersistence, "Failed to discard autosave '%s'", qUtf8Printable(m_path));
}

QString AutoSaveFile::folder()
{
    if (!folderForTesting().isEmpty())
        return folderForTesting();
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QLatin1String("/.local/state");
    return state + QLatin1String("/velkora/autosave");
}

void AutoSaveFile::setFolderForTesting(const QString &folder)
{
    folderForTesting() = folder;
}

QString AutoSaveFile::serverName(const QString &path)
{
    return QFileInfo(path).completeBaseName();
}

bool AutoSaveFile::create()
{
    const QString directory = folder();
    QString why;
    if (!Platform::makePrivateDirectory(directory, &why)) {
        qCWarning(lcPersistence, "Autosave folder %s: %s", qUtf8Printable(directory),
            qUtf8Printable(why));
        m_error = tr("Failed to create temporary directory for autosave.");
        return false;
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("ddMMyyyyhhmmss"));
    QTemporaryFile file(QStringLiteral("%1/Velkora-AutoSave-%2-XXXXXX.vlk").arg(directory, stamp));
    if (!file.open()) {
        m_error = tr("Failed to create temporary file for autosave: ") + file.errorString();
        return false;
    }
    file.close();
    file.setAutoRemove(false);
    m_path = file.fileName();
    startServer();
    return true;
}

bool AutoSaveFile::takeOver(const QString &path)
{
    m_path = path;
    if (ownerAlive())
        m_path.clear();
    return isValid();
}

void AutoSaveFile::startServer()
{
    if (m_server || m_path.isEmpty())
        return;
    m_server = new QLocalServer(this);
    // Connections only show that the owner lives: they are taken and dropped.
    connect(m_server, &QLocalServer::newConnection, m_server, [server = m_server] {
        while (QLocalSocket *socket = server->nextPendingConnection())
            socket->deleteLater();
    });
    QString why;
    if (!LocalServers::listen(m_server, serverName(m_path), &why))
        qCWarning(lcPersistence, "Failed to start autosave server: %s", qUtf8Printable(why));
}

void AutoSaveFile::release()
{
    delete m_server;
    m_server = nullptr;
    m_path.clear();
}

bool AutoSaveFile::ownerAlive() const
{
    return !m_path.isEmpty() && LocalServers::isAlive(serverName(m_path), ownerAnswerMilliseconds);
}
