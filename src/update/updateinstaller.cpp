#include "update/updateinstaller.h"

#include "platform/platform.h"
#include "update/updatedownloader.h"
#include "update/updatelog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QStorageInfo>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <cstring>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("AutoUpdater", text);
}

QString journalPath(const QString &backupDir)
{
    return backupDir + QStringLiteral("/journal");
}

// Journal lines: tab-separated fields, each percent-encoded so that no path can break a line.
QString field(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString unfield(const QString &text)
{
    return QUrl::fromPercentEncoding(text.toLatin1());
}

// A dangling link "does not exist" for QFileInfo, yet occupies its name.
bool occupied(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QString UpdateInstaller::lockPath(const QString &installDir)
{
    return installDir + QLatin1Char('/') + UpdateManifest::workFolderPrefix()
        + QStringLiteral(".lock");
}

QString UpdateInstaller::backupFolder(const QString &installDir)
{
    return installDir + QLatin1Char('/') + UpdateManifest::workFolderPrefix()
        + QStringLiteral("-backup");
}

bool UpdateInstaller::install(const Plan &plan, QString *heading, QString *details)
{
    m_installDir = QFileInfo(plan.installDir).absoluteFilePath();
    m_records.clear();
    m_links.clear();
    m_unrestored.clear();
    const auto failWith = [&](const QString &h, const QString &d, bool rollBack) {
        qCWarning(lcUpdate) << h << d;
        *heading = h;
        *details = d;
        if (rollBack)
            revert();
        return false;
    };

    qint64 total = 0;
    for (const File &file : plan.files)
        total += file.size;
    const QStorageInfo volume(plan.targetPath);
    if (volume.bytesAvailable() < total) {
        return failWith(tr("Failed to copy update files: There is not enough space on the disk."),
            tr("There is not enough space on the disk for the update files.\n\nNeeds at least %0 "
               "on disk '%1'")
                .arg(QLocale().toString(static_cast<double>(total), 'f', 2), volume.displayName()),
            false);
    }

    // Another instance that starts meanwhile must not take this run for a killed one.
    QLockFile lock(lockPath(m_installDir));
    if (!lock.tryLock(0)) {
        // Taken by another run, or not made at all (a full or failing disk): only the system's
        // last word tells why, QLockFile keeps it to itself.
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        return failWith(tr("Failed to copy update files."),
            lock.error() == QLockFile::LockFailedError
                ? tr("Another update of this installation is running.")
                : tr("Could not create the lock file '%0': %1").arg(lockPath(m_installDir), why),
            false);
    }
    // A journal left by a killed run is rolled back before anything else touches the files.
    rollBackJournal(m_installDir, m_retryDelayMs);
    m_backupDir = backupFolder(m_installDir);
    if (QFileInfo::exists(m_backupDir)) {
        return failWith(tr("Failed to copy update files."),
            tr("An earlier update could not be rolled back completely; its backups are kept in "
               "'%0'.")
                .arg(m_backupDir),
            false);
    }
    QString error;
    if (!QDir().mkpath(m_backupDir)) {
        return failWith(tr("Failed to copy update files."),
            tr("Could not create temporary update directory:<br><br>%0").arg(m_backupDir), false);
    }
    if (!journal(QStringLiteral("begin"), &error)) {
        QDir(m_backupDir).removeRecursively();
        return failWith(tr("Failed to copy update files."), error, false);
    }

    int moved = 0;
    for (const File &file : plan.files) {
        QString destination = m_installDir + QLatin1Char('/') + file.path;
        if (!isInsideInstallation(destination)) {
            return failWith(tr("Failed to copy update files."),
                tr("The server provided invalid file paths."), true);
        }
        if (file.isMain) {
            const QFile::Permissions permissions = QFileInfo(plan.targetPath).permissions();
            qCDebug(lcUpdate) << "Setting permissions for" << file.downloadedPath << "->"
                              << permissions;
            QFile downloaded(file.downloadedPath);
            if (!downloaded.setPermissions(permissions)) {
                return failWith(tr("Failed to set file permissions."),
                    tr("Failed to set permissions for file '%0': %1")
                        .arg(destination)
                        .arg(static_cast<int>(downloaded.error())),
                    true);
            }
            destination = QFileInfo(plan.targetPath).absoluteFilePath();
        }
        qCInfo(lcUpdate) << "Copying" << file.downloadedPath << "->" << destination;
        if (!backUp(destination, file.path, &error))
            return failWith(tr("Failed to copy update files."), error, true);
        QDir().mkpath(QFileInfo(destination).absolutePath());
        if (!Platform::replaceFile(file.downloadedPath, destination, &error)) {
            return failWith(tr("Failed to copy update files."),
                tr("Failed to copy '%0' to '%1': %2").arg(file.downloadedPath, destination, error),
                true);
        }
        ++moved;
        if (afterFileMoved && !afterFileMoved(moved))
            return false;
    }

    for (const UpdateManifest::Pair &link : plan.links) {
        const QString name = m_installDir + QLatin1Char('/') + link.first;
        qCInfo(lcUpdate) << "Creating symlink" << name << "->" << link.second;
        // What stands at the name is backed up like a replaced file, so a roll-back brings it
        // back; the link itself is journalled before it exists.
        if (!isInsideInstallation(name)) {
            return failWith(tr("Failed to copy update files."),
                tr("Failed to create symbolic link for file '%0'").arg(link.second), true);
        }
        if (!backUp(name, link.first, &error)
            || !journal(QStringLiteral("link\t") + field(name), &error))
            return failWith(tr("Failed to copy update files."), error, true);
        m_links.append(name);
        QDir().mkpath(QFileInfo(name).absolutePath());
        if (!QFile::link(link.second, name)) {
            return failWith(tr("Failed to copy update files."),
                tr("Failed to create symbolic link for file '%0'").arg(link.second), true);
        }
    }

    // From here on the new version stands: a kill no longer rolls it back. Until the renames
    // are on the disk and the journal says so, the old version is still the one to go back to.
    QString why;
    if (!Platform::syncDirectory(m_installDir, &why)) {
        return failWith(tr("Failed to copy update files."),
            tr("Could not write the folder '%0' to the disk: %1").arg(m_installDir, why), true);
    }
    if (!journal(QStringLiteral("commit"), &error))
        return failWith(tr("Failed to copy update files."), error, true);

    for (const UpdateManifest::Pair &deletion : plan.deletions) {
        const QString path = m_installDir + QLatin1Char('/') + deletion.first;
        if (!isInsideInstallation(path))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString checksum = UpdateDownloader::md5Of(file.readAll());
        file.close();
        if (checksum == deletion.second)
            file.remove();
    }
    QDir(m_backupDir).removeRecursively();
    return true;
}

bool UpdateInstaller::backUp(
    const QString &destination, const QString &relativePath, QString *error)
{
    const QString backupPath = m_backupDir + QLatin1Char('/') + relativePath;
    const bool existed = occupied(destination);
    // Journalled before the move: a kill between the two finds the destination untouched and
    // no backup, which the roll-back reads as "nothing to restore" for a file that existed.
    if (!journal(QStringLiteral("file\t") + QString::number(existed ? 1 : 0) + QLatin1Char('\t')
                + field(destination) + QLatin1Char('\t') + field(backupPath),
            error)) {
        return false;
    }
    m_records.append({ existed, destination, backupPath });
    if (!existed)
        return true;
    qCInfo(lcUpdate) << "Backing up" << destination << "->" << backupPath;
    if (!QDir().mkpath(QFileInfo(backupPath).absolutePath())) {
        *error = tr("Failed to create temporary directory structure for '%0'.").arg(backupPath);
        return false;
    }
    QString why;
    if (!Platform::replaceFile(destination, backupPath, &why)) {
        *error = tr("Failed to move '%0' to '%1': %2").arg(destination, backupPath, why);
        return false;
    }
    return true;
}

bool UpdateInstaller::journal(const QString &line, QString *error)
{
    const QString path = journalPath(m_backupDir);
    QFile file(path);
    QString why;
    const QByteArray bytes = line.toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        why = file.errorString();
    } else if (file.write(bytes) != bytes.size() || !file.flush()) {
        // A flush that a full disk cut short names no reason; the rest, tried again, does.
        file.flush();
        why = file.errorString();
    } else if (Platform::syncOpenFile(file.handle(), &why)) {
        return true;
    }
    *error = tr("Could not write the update journal '%0': %1").arg(path, why);
    return false;
}

bool UpdateInstaller::isInsideInstallation(const QString &path) const
{
    // The names were checked as text; a folder on the way that is a link could still lead out.
    const QString root = QFileInfo(m_installDir).canonicalFilePath();
    QFileInfo folder(QFileInfo(path).absolutePath());
    while (!folder.exists() && folder.absoluteFilePath() != m_installDir
        && folder.absoluteFilePath() != folder.absolutePath())
        folder = QFileInfo(folder.absolutePath());
    const QString canonical = folder.canonicalFilePath();
    return !root.isEmpty() && (canonical == root || canonical.startsWith(root + QLatin1Char('/')));
}

void UpdateInstaller::revert()
{
    revertRecords(m_records, m_links, m_retryDelayMs, &m_unrestored);
    m_records.clear();
    m_links.clear();
    // A backup that could not go back is the only copy of that file left: it stays, with the
    // journal, and the next start tries again.
    if (m_unrestored.isEmpty())
        QDir(m_backupDir).removeRecursively();
}

void UpdateInstaller::revertRecords(const QVector<Record> &records, const QStringList &links,
    int retryDelayMs, QStringList *unrestored)
{
    for (auto link = links.crbegin(); link != links.crend(); ++link) {
        if (QFileInfo(*link).isSymLink())
            QFile::remove(*link);
    }
    for (auto record = records.crbegin(); record != records.crend(); ++record) {
        qCInfo(lcUpdate) << "Reverting" << record->destination;
        const bool hasBackup = occupied(record->backup);
        // A file that existed but has no backup was never moved away: it is still the old one.
        if (record->existed && !hasBackup)
            continue;
        if (occupied(record->destination) && !QFile::remove(record->destination)) {
            qCWarning(lcUpdate) << "Failed to remove new file during aborted update:"
                                << record->destination;
        }
        if (!hasBackup)
            continue;
        QString error;
        bool restored = false;
        for (int attempt = 0; attempt < 5 && !restored; ++attempt) {
            if (attempt > 0)
                QThread::msleep(static_cast<unsigned long>(retryDelayMs));
            restored = Platform::replaceFile(record->backup, record->destination, &error);
        }
        if (!restored) {
            unrestored->append(tr("Unable to restore file:<br><br>%0<br>%1<br>-><br>%2")
                                   .arg(error, record->backup, record->destination));
        }
    }
}

bool UpdateInstaller::recoverInterrupted(const QString &installDir)
{
    QLockFile lock(lockPath(QFileInfo(installDir).absoluteFilePath()));
    if (!lock.tryLock(0))
        return false; // an update is being installed right now
    return rollBackJournal(installDir, 1000);
}

bool UpdateInstaller::rollBackJournal(const QString &installDir, int retryDelayMs)
{
    const QString backupDir = backupFolder(QFileInfo(installDir).absoluteFilePath());
    bool rolledBack = false;
    QFile file(journalPath(backupDir));
    if (file.open(QIODevice::ReadOnly)) {
        QVector<Record> records;
        QStringList links;
        bool committed = false;
        while (!file.atEnd()) {
            const QStringList fields
                = QString::fromUtf8(file.readLine()).trimmed().split(QLatin1Char('\t'));
            if (fields.value(0) == QLatin1String("file") && fields.size() == 4)
                records.append(
                    { fields[1] == QLatin1String("1"), unfield(fields[2]), unfield(fields[3]) });
            else if (fields.value(0) == QLatin1String("link") && fields.size() == 2)
                links.append(unfield(fields[1]));
            else if (fields.value(0) == QLatin1String("commit"))
                committed = true;
        }
        file.close();
        if (!committed && (!records.isEmpty() || !links.isEmpty())) {
            qCWarning(lcUpdate) << "Rolling back an update that did not finish in" << installDir;
            QStringList unrestored;
            revertRecords(records, links, retryDelayMs, &unrestored);
            for (const QString &text : qAsConst(unrestored))
                qCCritical(lcUpdate) << text;
            rolledBack = true;
            if (!unrestored.isEmpty())
                return true; // the backups stay for the next attempt
        }
    }
    QDir(backupDir).removeRecursively();

    // Downloads of runs that were killed; a day's grace for one that another instance runs now.
    const QFileInfoList leftovers
        = QDir(installDir)
              .entryInfoList({ UpdateManifest::workFolderPrefix() + QStringLiteral("-download*") },
                  QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &leftover : leftovers) {
        if (leftover.lastModified().secsTo(QDateTime::currentDateTime()) > qint64(24) * 3600)
            QDir(leftover.absoluteFilePath()).removeRecursively();
    }
    return rolledBack;
}
