#include "app/scenedocument.h"

#include "app/abstractdocumentprompter.h"
#include "app/applog.h"
#include "commands/basecommand.h"
#include "commands/commandhandler.h"
#include "jobs/loadjob.h"
#include "persistence/autosavefile.h"
#include "persistence/beeboardreader.h"
#include "persistence/savefileloader.h"
#include "platform/platform.h"
#include "settings/versionnumber.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <memory>
#include <utility>

namespace {

const QString unsavedQuestion = QStringLiteral(
    "You still have unsaved changes in the current scene. Do you want to save before %1?");

const QString corruptOptions[] = {
    QStringLiteral("<b>Load backup</b> (recommended) - A backup has been found, it is "
                   "recommended to try to open this first."),
    QStringLiteral("<b>Force open</b> - Attempt to recover the image data by force loading only "
                   "the images(notes and image positions will be lost)."),
    QStringLiteral("<b>Open anyway</b> (not recommended) - Might make Velkora unstable, cause a "
                   "crash or create a corrupt save file."),
};

QString fileStamp(const QFileInfo &info, const QLocale &locale)
{
    return QObject::tr("Timestamp: %1    Size: %2")
        .arg(info.lastModified().toString(Qt::ISODate).replace(QLatin1Char('T'), QLatin1Char(' ')),
            locale.formattedDataSize(info.size(), 2));
}

// A new, empty file beside path ("<name>.XXXXXX"), open for reading and writing.
std::unique_ptr<QFile> createFileBeside(const QString &path)
{
    auto file = std::make_unique<QFile>();
    SaveFileLoader::createFileBeside(path, file.get());
    return file;
}

// A file beside path for a save that is renamed over path once whole, with the permissions of
// the board it replaces; empty, with the reason in error, when none can be made.
QString claimFileBeside(const QString &path, QString *error)
{
    std::unique_ptr<QFile> file = createFileBeside(path);
    if (!file->isOpen()) {
        *error = file->errorString();
        return QString();
    }
    // The name is ours now; the writer opens it again on its own thread.
    file->close();
    if (QFileInfo::exists(path))
        QFile::setPermissions(file->fileName(), QFile::permissions(path));
    return file->fileName();
}

} // namespace

SceneDocument::SceneDocument(
    SaveFileLoader *loader, CommandHandler *commands, Host host, QObject *parent)
    : QObject(parent)
    , m_loader(loader)
    , m_commands(commands)
    , m_host(std::move(host))
{
    Q_ASSERT(m_host.sceneState && m_host.createJob && m_host.isLoading && m_host.refuseWhileBusy
        && m_host.clearBoard);
    connect(m_loader, &SaveFileLoader::checksumLoaded, this,
        [this](const QString &, const QString &actualChecksum) {
            m_lastReportedChecksum = actualChecksum;
        });
    connect(m_loader, &SaveFileLoader::saveInspected, this, &SceneDocument::onSaveInspected);
    const auto damaged = [this](LoadJob *job, Damage damage) {
        const auto info = m_jobs.find(job);
        // A save reads the file it overwrites the same way; that is not a file being opened.
        if (info != m_jobs.end() && !info->save && info->damage == Damage::None)
            info->damage = damage;
    };
    connect(m_loader, &SaveFileLoader::checksumMissmatchDetected, this,
        [damaged](LoadJob *job) { damaged(job, Damage::ChecksumMismatch); });
    connect(m_loader, &SaveFileLoader::brokenItemMetadataDetected, this,
        [damaged](LoadJob *job) { damaged(job, Damage::BrokenMetadata); });
    connect(m_loader, &SaveFileLoader::checksumSaved, this,
        [this](const QString &checksum, LoadJob *job) {
            const auto info = m_jobs.find(job);
            if (info != m_jobs.end())
                info->savedChecksum = checksum;
        });
    connect(m_loader, &SaveFileLoader::itemsNotRead, this,
        [this](const LoadLosses &losses, LoadJob *job) {
            const auto info = m_jobs.find(job);
            if (info != m_jobs.end())
                info->losses = losses;
        });
}

SceneDocument::~SceneDocument()
{
    // Only reached with the loader thread stopped: no job writes these files any more.
    for (const FileJob &info : qAsConst(m_jobs)) {
        if (!info.tempPath.isEmpty())
            QFile::remove(info.tempPath);
    }
}

QString SceneDocument::backupPath(const QString &path)
{
    return path + QLatin1String(".old");
}

bool SceneDocument::hasUnsavedChanges() const
{
    const BaseCommand *newest = m_commands->lastCommand();
    return newest ? newest->id() != m_savedState : !m_savedState.isNull();
}

void SceneDocument::clear()
{
    m_autoSave.reset();
    m_currentPath.clear();
    m_importedFrom.clear();
    m_savedState = QUuid();
    m_checksumAtOpen.clear();
    emit titleChanged(QStringLiteral("Velkora"));
}

void SceneDocument::setSceneTitle(const QString &path)
{
    emit titleChanged(QFileInfo(path).fileName() + QLatin1String(" - Velkora"));
}

bool SceneDocument::confirmUnsavedChanges(Operation operation, std::function<void()> afterSave)
{
    if (!hasUnsavedChanges() || (operation == Operation::Load && !m_prompter->isInteractive()))
        return true;

    QString message;
    switch (operation) {
    case Operation::Clear:
        message = unsavedQuestion.arg(tr("clearing"));
        break;
    case Operation::Load:
        message = unsavedQuestion.arg(tr("loading"));
        break;
    case Operation::Close:
        message = tr("You have unsaved changes in the current scene. Do you want to save them "
                     "before closing?");
        break;
    case Operation::Update:
        message = tr("You still have unsaved changes in the current scene. Do you want to save "
                     "them before updating?");
        break;
    }
    enum { Save, DontSave, Cancel };
    const int answer = m_prompter->ask(tr("Unsaved Changes"), message,
        { { tr("Save"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
            { tr("Don't Save"), QDialogButtonBox::DestructiveRole, QDialogButtonBox::NoButton },
            { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } },
        m_hideUnsavedWarning, DontSave);
    if (answer == DontSave)
        return true;
    if (answer == Save) {
        m_pendingOperation = std::move(afterSave);
        issuePreOpSave();
    }
    return false;
}

void SceneDocument::issuePreOpSave()
{
    // The operation goes with the save job that starts now, or nowhere: a save abandoned on the
    // way must not leave it armed for whatever save comes next.
    save();
    m_pendingOperation = nullptr;
}

bool SceneDocument::save(int options)
{
    if (m_host.isLoading())
        return false;
    if (m_currentPath.isEmpty())
        return saveAs();
    // A backup was opened: saving puts it back in place of the file it backs up.
    if (m_currentPath.endsWith(QLatin1String(".old"))) {
        m_currentPath.chop(4);
        options |= NoBackup;
    }
    if (!(options & NoBackup) && !QFileInfo::exists(m_currentPath))
        return saveAs();
    return save(m_currentPath, options);
}

bool SceneDocument::saveAs()
{
    if (m_host.isLoading())
        return false;
    QString proposed = m_currentPath.isEmpty() ? QStringLiteral("NewScene.vlk")
                                               : QFileInfo(m_currentPath).fileName();
    if (m_currentPath.isEmpty() && !m_importedFrom.isEmpty())
        proposed = QFileInfo(m_importedFrom).completeBaseName() + QLatin1String(".vlk");
    int chosenType = 0;
    const QString path = m_prompter->askSavePath(tr("Save Scene"), proposed,
        { tr("Velkora Scene (*.vlk)"), tr("Velkora board for older readers (1.10) (*.vlk)") },
        &chosenType);
    if (path.isEmpty())
        return false;
    m_currentPath = path;
    return save(path, NoBackup | (chosenType == 1 ? ForOlderReaders : 0));
}

bool SceneDocument::save(const QString &fileName, int options)
{
    if (m_host.isLoading() || m_host.refuseWhileBusy())
        return false;
    const QString title = tr("Backup Warning");
    const QFileInfo target(fileName);
    const bool targetExisted = target.exists();
    if (!targetExisted)
        options |= NoBackup;

    // The questions come first, here; the copy itself is made by the writer, which reports
    // how it went before it overwrites anything.
    bool makeBackup = false;
    if (!(options & NoBackup)) {
        const QString backup = backupPath(fileName);
        makeBackup = true;
        if (QFileInfo::exists(backup)) {
            const int answer = m_prompter->ask(title,
                tr("<b>WARNING</b><br><br>Failed to create backup file:<br><br>File already "
                   "exists: "
                   "%0<br><br>If you created this file, please rename or move it to continue. If "
                   "you do not recognize this file, it was probably created during a previously "
                   "failed save, and is safe to overwrite.")
                    .arg(backup),
                { { tr("Overwrite"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
                    { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } });
            if (answer != 0)
                return false;
            QFile old(backup);
            while (old.exists() && !old.remove()) {
                const int retry = m_prompter->ask(title,
                    tr("<b>WARNING</b><br><br>Failed to remove old backup:<br><br>%0<br><br>Please "
                       "retry, cancel saving, or continue without a backup (not recommended). If "
                       "you continue without a backup you will not be able to recover your file if "
                       "it gets corrupted.")
                        .arg(old.errorString()),
                    { { tr("Retry"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
                        { tr("Continue"), QDialogButtonBox::DestructiveRole,
                            QDialogButtonBox::NoButton },
                        { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } });
                if (retry == 1) {
                    makeBackup = false;
                    break;
                }
                if (retry != 0)
                    return false;
            }
        }
        if (makeBackup) {
            const QStorageInfo volume(fileName);
            if (volume.isValid() && volume.bytesAvailable() < target.size()) {
                const int answer = m_prompter->ask(title,
                    tr("<b>WARNING</b><br><br>There is not enough space to create a temporary "
                       "backup of your scene (needs at least %0 on disk '%1').<br><br>Do you want "
                       "to "
                       "continue without a backup (not recommended)? If you continue without a "
                       "backup you will not be able to recover your file if it gets corrupted.")
                        .arg(QLocale().formattedDataSize(target.size(), 2), volume.displayName()),
                    { { QString(), QDialogButtonBox::AcceptRole, QDialogButtonBox::Ok },
                        { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } });
                if (answer != 0)
                    return false;
                makeBackup = false;
            }
        }
    }
    FileJob record;
    record.path = fileName;
    record.options = options;
    record.targetExisted = targetExisted;
    if ((options & NoBackup) && !(options & AutoSave)) {
        // Without a backup nothing could put back a file overwritten halfway, nor tell a new
        // file cut short by a power loss from a board: the board is written beside and takes
        // the name once whole, as a quiet save does.
        QString error;
        record.tempPath = claimFileBeside(fileName, &error);
        if (record.tempPath.isEmpty()) {
            m_prompter->showError(tr("Failed to open save file for writing."), error);
            return false;
        }
    }
    QString previousChecksum;
    if (options & AutoSave)
        previousChecksum = m_autoSave ? m_autoSave->checksum() : QString();
    else if (!(options & NoBackup))
        previousChecksum = m_checksumAtOpen;
    startSave(record, previousChecksum, makeBackup);
    return true;
}

bool SceneDocument::isNewScene() const
{
    return m_currentPath.isEmpty() || !QFileInfo::exists(m_currentPath);
}

bool SceneDocument::changedSinceAutoSave() const
{
    const QUuid reference = isNewScene() && m_autoSave ? m_autoSave->stateMarker() : m_savedState;
    const BaseCommand *newest = m_commands->lastCommand();
    return (newest ? newest->id() : QUuid()) != reference;
}

void SceneDocument::autoSave()
{
    // A board with a file of its own is saved there, backup and all.
    if (!isNewScene()) {
        save(InBackground);
        return;
    }
    if (!m_autoSave) {
        m_autoSave = std::make_unique<AutoSaveFile>();
        if (!m_autoSave->create()) {
            m_prompter->showError(tr("Autosave failed."), m_autoSave->error());
            m_autoSave.reset();
            return;
        }
    }
    save(m_autoSave->path(), AutoSave | InBackground);
}

bool SceneDocument::restoreAutoSave(const QString &path)
{
    auto file = std::make_unique<AutoSaveFile>();
    if (!file->takeOver(path))
        return false;
    file->startServer();
    m_autoSave = std::move(file);
    return true;
}

void SceneDocument::saveQuiet(const QString &path)
{
    // Overwriting in place would leave a truncated board if the process ended midway, and a
    // script has no one to restore a backup: the old board stays untouched until the new one is
    // whole.
    QString error;
    FileJob record;
    record.path = path;
    record.tempPath = claimFileBeside(path, &error);
    if (record.tempPath.isEmpty()) {
        qCWarning(lcApp, "Failed to open save file: %s", qUtf8Printable(error));
        return;
    }
    record.options = NoBackup;
    record.quiet = true;
    record.targetExisted = QFileInfo::exists(path);
    startSave(record, QString(), false);
}

void SceneDocument::startSave(FileJob record, const QString &previousChecksum, bool makeBackup)
{
    SaveFileLoader::SceneState state = m_host.sceneState();
    state.forOlderReaders = record.options & ForOlderReaders;
    if (!record.tempPath.isEmpty())
        state.replacesPath = record.path;
    LoadJob *job = m_host.createJob(false);
    record.save = true;
    record.pendingOperation = std::exchange(m_pendingOperation, nullptr);
    m_jobs.insert(job, record);
    int options = 0;
    if (record.options & InBackground)
        options |= SaveFileLoader::InBackground;
    if (makeBackup)
        options |= SaveFileLoader::MakeBackup;
    // Whatever the writer finds before it overwrites the file may need an answer.
    if (makeBackup || !previousChecksum.isEmpty())
        options |= SaveFileLoader::Inspect;
    const QString target = record.tempPath.isEmpty() ? record.path : record.tempPath;
    QMetaObject::invokeMethod(m_loader, "saveTo", Qt::QueuedConnection, Q_ARG(QString, target),
        Q_ARG(QString, previousChecksum), Q_ARG(SaveFileLoader::SceneState, state),
        Q_ARG(LoadJob *, job), Q_ARG(int, options));
}

void SceneDocument::onSaveInspected(const SaveInspection &inspection, LoadJob *job)
{
    const auto info = m_jobs.find(job);
    if (info == m_jobs.end() || !info->save)
        return;
    info->backupMade = inspection.backupMade;
    bool proceed = true;
    if (inspection.backupWanted && !inspection.backupMade) {
        const int answer = m_prompter->ask(tr("Backup Warning"),
            tr("<b>WARNING</b><br><br>Failed to backup save file: <br><br>%0<br><br>Do you "
               "want to continue without a backup (not recommended)? If you continue "
               "without a backup you will not be able to recover your file if it gets "
               "corrupted.")
                .arg(inspection.backupError),
            { { QString(), QDialogButtonBox::AcceptRole, QDialogButtonBox::Ok },
                { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } });
        proceed = answer == 0;
    }
    // An autosave's own file is written by this instance alone, and while one exists the board's
    // file is the one being replaced by a save as.
    if (proceed && inspection.oldFileRead && m_prompter->isInteractive() && !m_autoSave
        && inspection.actualChecksum != m_checksumAtOpen) {
        proceed = confirmOverwrite(tr("<b>WARNING</b><br><br>The file you are trying to "
                                      "overwrite has been changed outside of Velkora since you "
                                      "opened it, are you sure you want to overwrite it?"),
            job);
    }
    if (proceed && m_prompter->isInteractive() && isNewerRelease(inspection.applicationVersion)) {
        proceed = confirmOverwrite(
            tr("<b>WARNING</b><br><br>You are about to overwrite a file saved with a "
               "newer version of Velkora (%0). This will discard any uses of new features "
               "in this scene, are you sure you want to overwrite it?")
                .arg(inspection.applicationVersion),
            job);
    }
    QMetaObject::invokeMethod(m_loader, "continueSave", Qt::QueuedConnection, Q_ARG(LoadJob *, job),
        Q_ARG(bool, proceed));
}

void SceneDocument::jobFinished(LoadJob *job, const QString &heading, const QString &details)
{
    FileJob info = m_jobs.take(job);
    if (info.save)
        saveFinished(info, job, heading, details);
    else
        loadFinished(info, job, heading, details);
    if (info.followUp)
        m_followUps.insert(job, info.followUp);
}

void SceneDocument::runFollowUp(LoadJob *job)
{
    const std::function<void()> followUp = m_followUps.take(job);
    if (followUp)
        followUp();
}

void SceneDocument::saveFinished(FileJob &info, LoadJob *job, QString heading, QString details)
{
    const bool cancelled = job->isCanceled();
    // The writer has flushed the file before it reported success.
    bool success = heading.isEmpty() && !cancelled;
    if (success && !info.tempPath.isEmpty() && !replaceWithTemporary(info, &details)) {
        heading = tr("Failed to write save file.");
        success = false;
    }

    const QString backup = backupPath(info.path);
    if (success && (info.options & AutoSave)) {
        QFile::remove(backup);
        // The board still has no file of its own: its title and saved state stay as they are.
        if (m_autoSave && m_autoSave->path() == info.path) {
            const BaseCommand *newest = m_commands->lastCommand();
            m_autoSave->setStateMarker(newest ? newest->id() : QUuid());
            m_autoSave->setChecksum(info.savedChecksum);
        }
        return;
    }
    if (success) {
        QFile::remove(backup);
        // Saved for real: the autosave is not needed any more.
        m_autoSave.reset();
        const BaseCommand *newest = m_commands->lastCommand();
        m_savedState = newest ? newest->id() : QUuid();
        m_checksumAtOpen = info.savedChecksum;
        // The title names the file just written: the next plain save goes there too.
        m_currentPath = info.path;
        setSceneTitle(info.path);
        emit fileUsed(info.path);
        if (info.options & ForOlderReaders)
            emit savedForOlderReaders(info.path);
        runPendingOperation(std::move(info.pendingOperation));
        return;
    }

    if (!info.tempPath.isEmpty()) {
        // The old board was never touched.
        QFile::remove(info.tempPath);
        if (cancelled)
            return;
        if (info.quiet)
            qCWarning(lcApp, "%s %s", qUtf8Printable(heading), qUtf8Printable(details));
        else
            m_prompter->showError(heading, details);
        return;
    }
    // Never leave less than there was: the backup is a copy of the file before this save, and a
    // file that did not exist before holds nothing worth keeping.
    if (info.backupMade) {
        // In one step: were the backup only renamed after the board had been deleted, a rename
        // that fails would leave no board under its name.
        QString error;
        if (!Platform::replaceFile(backup, info.path, &error)) {
            details += QLatin1String("<br><br>")
                + tr("The board before this save could not be put back (%1); it is kept in %2.")
                      .arg(error, QDir::toNativeSeparators(backup));
        }
    } else if (!info.targetExisted) {
        QFile::remove(info.path);
    }
    if (!cancelled)
        m_prompter->showError(heading, details);
}

bool SceneDocument::replaceWithTemporary(const FileJob &info, QString *details)
{
    // The writer has put the data on the disk before it reported success: a crash right after
    // the rename cannot leave an empty board under the old name.
    QString error;
    if (!Platform::replaceFile(info.tempPath, info.path, &error)) {
        *details = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(info.path), error);
        return false;
    }
    QString folderError;
    if (!Platform::syncDirectory(QFileInfo(info.path).absolutePath(), &folderError)) {
        // The new board is in place; only its surviving a power cut right now is in doubt.
        qCWarning(lcApp, "Could not flush the folder of %s: %s", qUtf8Printable(info.path),
            qUtf8Printable(folderError));
    }
    return true;
}

void SceneDocument::runPendingOperation(std::function<void()> operation)
{
    // From the event loop, as a user's command would run: the job that saved is still being
    // wound up, and the operation may start jobs of its own or end the window.
    if (operation)
        QMetaObject::invokeMethod(this, std::move(operation), Qt::QueuedConnection);
}

bool SceneDocument::confirmOverwrite(const QString &message, LoadJob *job)
{
    const int answer = m_prompter->ask(tr("Save Warning"), message,
        { { tr("Overwrite"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
            { tr("Save As"), QDialogButtonBox::ActionRole, QDialogButtonBox::NoButton },
            { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } });
    if (answer == 0)
        return true;
    job->cancel();
    if (answer == 1)
        m_jobs[job].followUp = [this] { saveAs(); };
    return false;
}

bool SceneDocument::isNewerRelease(const QString &applicationVersion) const
{
    if (applicationVersion.isEmpty())
        return false;
    // Patch levels never change the format: compare major and minor only.
    const QString release
        = applicationVersion.left(applicationVersion.lastIndexOf(QLatin1Char('.')))
        + QLatin1String(".0");
    return compareVersions(release, QStringLiteral("1.11.0")) > 0;
}

void SceneDocument::askAboutDamage(FileJob &info)
{
    const bool brokenMetadata = info.damage == Damage::BrokenMetadata;
    const QString path = info.path;
    const bool hasBackup = QFileInfo::exists(backupPath(path));

    QStringList text { brokenMetadata
            ? tr("<b>WARNING</b><br><br>The file you are trying to open might be "
                 "corrupt. (Incorrect signature) What would you like to do?")
            : tr("<b>WARNING</b><br><br>The file you are trying to open might be "
                 "corrupt. What would you like to do?") };
    QList<ConfirmDialog::Button> buttons;
    enum Answer { LoadBackup, ForceOpen, OpenAnyway, Cancel };
    QList<Answer> answers;
    if (hasBackup) {
        text << corruptOptions[0];
        buttons.append(
            { tr("Load Backup"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton });
        answers << LoadBackup;
    }
    text << corruptOptions[1];
    buttons.append({ tr("Force Open"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton });
    answers << ForceOpen;
    if (brokenMetadata) {
        text << corruptOptions[2];
        buttons.append({ tr("Open Anyway (Unsafe)"), QDialogButtonBox::DestructiveRole,
            QDialogButtonBox::NoButton });
        answers << OpenAnyway;
    }
    buttons.append({ QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel });
    answers << Cancel;

    const int chosen
        = m_prompter->ask(tr("Load Error"), text.join(QLatin1String("<br><br>")), buttons);
    switch (answers.value(chosen, Cancel)) {
    case OpenAnyway:
        // The records cannot be read: what opening anyway comes to.
        m_prompter->showError(
            tr("Failed to load image metadata, the save file might be corrupt."), QString());
        break;
    case LoadBackup:
        info.followUp = [this, path] { load(backupPath(path)); };
        break;
    case ForceOpen:
        info.followUp = [this, path] { load(path, BruteForce); };
        break;
    case Cancel:
        break;
    }
}

void SceneDocument::load(const QString &fileName, int options)
{
    if (fileName.isEmpty() || m_host.refuseWhileBusy())
        return;

    QString path = fileName;
    const QFileInfo backup(backupPath(fileName));
    // We never write the boards of other programs, so none of their backups is ours.
    const bool ours = !BeeBoardReader::isBeeBoard(fileName);
    if (ours && !(options & BruteForce) && m_prompter->isInteractive() && backup.exists()) {
        const QFileInfo current(fileName);
        const QLocale locale;
        const int answer = m_prompter->ask(tr("Backup Exists"),
            tr("A backup has been found of the scene you are trying to open. Something might have "
               "gone wrong during the last save attempt. The backup should contain the last "
               "working state of the scene.<br><br>%0:<br>%1<br>%2:<br>%3<br><br>Would you like to "
               "load this backup instead? (Nothing in the original file will be overwritten until "
               "you save again.)")
                .arg(current.fileName(), fileStamp(current, locale), backup.fileName(),
                    fileStamp(backup, locale)),
            { { tr("Load Current"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
                { tr("Load Backup"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton } });
        if (answer < 0)
            return;
        if (answer == 1)
            path = backup.filePath();
    }

    // After the save, the same request again: the backup question is asked anew, of the files as
    // they are then.
    if (!confirmUnsavedChanges(Operation::Load, [this, fileName] { load(fileName); }))
        return;

    // Before the board is emptied for it: a file that cannot be read must cost nothing. The
    // reader opens it again on its own thread.
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        qCWarning(lcApp, "Could not open save file %s: %s", qUtf8Printable(path),
            qUtf8Printable(probe.errorString()));
        m_prompter->showError(tr("Could not open save file."), probe.errorString());
        return;
    }
    probe.close();

    // The scene file replaces the board. A restored autosave stays the board's autosave file:
    // emptying the board must not discard the file about to be read.
    std::unique_ptr<AutoSaveFile> restored;
    if (options & RestoreAutoSave)
        restored = std::move(m_autoSave);
    m_host.clearBoard();
    if (restored)
        m_autoSave = std::move(restored);
    LoadJob *job = m_host.createJob(true);
    FileJob &info = m_jobs[job];
    info.path = path;
    info.options = options;
    int loadOptions = 0;
    if (options & BruteForce)
        loadOptions |= SaveFileLoader::Force;
    // Someone can choose what to do with a damaged file: the load stops and asks once ended.
    if (m_prompter->isInteractive())
        loadOptions |= SaveFileLoader::StopWhenDamaged;
    // The board stays where it is while open: pictures decode from it again when needed. An
    // autosave is not where the board will stay.
    if (!(options & RestoreAutoSave))
        loadOptions |= SaveFileLoader::KeepBlocksOnDisk;
    QMetaObject::invokeMethod(m_loader, "loadFrom", Qt::QueuedConnection, Q_ARG(QString, path),
        Q_ARG(LoadJob *, job), Q_ARG(int, loadOptions));
}

void SceneDocument::loadFinished(
    FileJob &info, LoadJob *job, const QString &heading, const QString &details)
{
    if (!heading.isEmpty())
        m_prompter->showError(heading, details);
    if (info.damage != Damage::None && m_prompter->isInteractive())
        askAboutDamage(info);
    const bool loaded = heading.isEmpty() && !job->isCanceled();
    if (!loaded && (info.options & RestoreAutoSave) && m_autoSave
        && m_autoSave->path() == info.path) {
        // An autosave that could not be read back is still all there is of that board.
        m_autoSave->release();
        m_autoSave.reset();
    }
    if (loaded) {
        if (info.options & RestoreAutoSave) {
            // A restored autosave has no file of its own yet: it counts as unsaved, and goes on
            // autosaving into the file it came from.
            m_savedState = QUuid::createUuid();
            if (m_autoSave && m_autoSave->path() == info.path) {
                m_autoSave->setChecksum(m_lastReportedChecksum);
                const BaseCommand *newest = m_commands->lastCommand();
                m_autoSave->setStateMarker(newest ? newest->id() : QUuid());
            }
        } else if (BeeBoardReader::isBeeBoard(info.path)) {
            // Another program's board becomes a new board of ours: it has no file of its own
            // until saved, and is never written back to the file it came from.
            m_importedFrom = info.path;
            m_savedState = QUuid::createUuid();
            emit titleChanged(tr("%1 (not saved) - Velkora").arg(QFileInfo(info.path).fileName()));
            emit fileUsed(info.path);
        } else {
            m_currentPath = info.path;
            m_checksumAtOpen = m_lastReportedChecksum;
            const BaseCommand *newest = m_commands->lastCommand();
            m_savedState = newest ? newest->id() : QUuid();
            setSceneTitle(info.path);
            QString recent = info.path;
            if (recent.endsWith(QLatin1String(".old")))
                recent.chop(4);
            emit fileUsed(recent);
        }
    }
    // The board is open with what could be read; the user learns what was left out.
    if (loaded && !info.losses.isEmpty())
        m_prompter->showError(info.losses.message(), QString());
}
