#include "update/updaterestarter.h"

#include "platform/platform.h"
#include "ui/confirmdialog.h"
#include "update/updatelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("AutoUpdater", text);
}

QString copyPrefix()
{
    return QStringLiteral("velkora-update-copy-");
}

} // namespace

bool UpdateRestarter::isTemporaryCopy(const QString &folder)
{
    const QFileInfo info(folder);
    return info.absolutePath() == QFileInfo(QDir::tempPath()).absoluteFilePath()
        && info.fileName().startsWith(copyPrefix());
}

UpdateRestarter::UpdateRestarter(QWidget *dialogParent)
    : m_dialogParent(dialogParent)
{
    countInstances = [] {
        return Platform::countProcessesNamed(
            QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    };
    askAboutInstances = [this] {
        const int answer = ConfirmDialog::ask(m_dialogParent, tr("Update Warning"),
            tr("Multiple instances of Velkora are running. Please close them before updating."),
            { { tr("Retry"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
                { tr("Ignore"), QDialogButtonBox::DestructiveRole, QDialogButtonBox::NoButton },
                { tr("Cancel"), QDialogButtonBox::RejectRole, QDialogButtonBox::NoButton } });
        if (answer == 0)
            return InstancesAnswer::Retry;
        return answer == 1 ? InstancesAnswer::Ignore : InstancesAnswer::Cancel;
    };
    start = [](const QString &program, const QStringList &arguments) {
        return QProcess::startDetached(program, arguments);
    };
}

UpdateRestarter::Outcome UpdateRestarter::restartForUpdate(const QString &target,
    const QStringList &copyFiles, const QStringList &restartArguments, QString *error)
{
    QString program = target;
    if (!copyFiles.isEmpty()) {
        program = makeTemporaryCopy(target, copyFiles, error);
        if (program.isEmpty())
            return Outcome::Failed;
    }
    QStringList arguments { QStringLiteral("--update"), target };
    arguments << restartArguments;
    qCInfo(lcUpdate) << "Restarting for update with arguments: "
                     << arguments.join(QLatin1Char(' '));

    for (;;) {
        if (countInstances() <= 1)
            break;
        const InstancesAnswer answer = askAboutInstances();
        if (answer == InstancesAnswer::Cancel)
            return Outcome::Cancelled;
        if (answer == InstancesAnswer::Ignore)
            break;
    }

    const QFileInfo targetInfo(target);
    if (!targetInfo.isWritable() || !QFileInfo(targetInfo.absolutePath()).isWritable()) {
        *error = tr("The installation folder cannot be written. Please update Velkora through "
                    "your package manager.");
        return Outcome::Failed;
    }
    if (!start(program, arguments)) {
        *error = tr("Failed to start update process.");
        return Outcome::Failed;
    }
    return Outcome::Started;
}

bool UpdateRestarter::startProgram(
    const QString &program, const QStringList &arguments, QString *error)
{
    qCInfo(lcUpdate) << "Starting the updated program" << program;
    if (start(program, arguments))
        return true;
    *error = tr("Failed to start the updated program '%0'.").arg(program);
    return false;
}

QString UpdateRestarter::makeTemporaryCopy(
    const QString &programPath, const QStringList &copyFiles, QString *error)
{
    QTemporaryDir temporary(
        QDir::tempPath() + QLatin1Char('/') + copyPrefix() + QStringLiteral("XXXXXX"));
    if (!temporary.isValid()) {
        *error = tr("Could not create temporary update directory:<br><br>%0")
                     .arg(temporary.errorString());
        return QString();
    }
    const QDir programFolder = QFileInfo(programPath).absoluteDir();
    qint64 total = 0;
    for (const QString &name : copyFiles)
        total
            += QFileInfo(programFolder.filePath(QString(name).remove(QStringLiteral("..")))).size();
    const QStorageInfo volume(temporary.path());
    if (volume.bytesAvailable() < total) {
        *error = tr("There is not enough space on the disk for the temporary update "
                    "files.<br><br>Needs at least %0 on disk '%1'")
                     .arg(QLocale().toString(static_cast<double>(total), 'f', 2),
                         volume.displayName());
        return QString();
    }
    for (const QString &copyFile : copyFiles) {
        // Without "..", and without a leading "/", the name stays inside the temporary folder.
        QString name = QString(copyFile).remove(QStringLiteral(".."));
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        while (name.startsWith(QLatin1Char('/')))
            name.remove(0, 1);
        const QString destination = temporary.path() + QLatin1Char('/') + name;
        if (!QDir().mkpath(QFileInfo(destination).absolutePath())) {
            *error = tr("Unable to setup directory structure for update copy.");
            return QString();
        }
        QFile source(programFolder.filePath(name));
        if (!source.copy(destination)) {
            *error = tr("Unable to copy file to update space:<br><br>%0<br>%1<br>-><br>%2")
                         .arg(source.errorString(), name, destination);
            return QString();
        }
    }
    temporary.setAutoRemove(false);
    return temporary.path() + QLatin1Char('/') + QFileInfo(programPath).fileName();
}
