#include "update/autoupdater.h"

#include "platform/platform.h"
#include "ui/confirmdialog.h"
#include "ui/errordialog.h"
#include "update/updatedialog.h"
#include "update/updatedownloader.h"
#include "update/updateinstaller.h"
#include "update/updatelog.h"
#include "update/updatesignature.h"
#include "update/updateversion.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTemporaryDir>

QNetworkAccessManager *AutoUpdater::network()
{
    // Made when first asked: the manager loads the network bearer plugins, which start-up need
    // not wait for when no check is due.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    return m_network;
}

AutoUpdater::AutoUpdater(QWidget *dialogParent, UpdateService service, QObject *parent)
    : QObject(parent)
    , m_dialogParent(dialogParent)
    , m_service(std::move(service))
{
    showMessage = [this](const QString &title, const QString &message) {
        ConfirmDialog::ask(m_dialogParent, title, message,
            { { QString(), QDialogButtonBox::AcceptRole, QDialogButtonBox::Ok } });
    };
    showError = [this](const QString &heading, const QString &details) {
        ErrorDialog::show(m_dialogParent, heading, details);
    };
}

AutoUpdater::~AutoUpdater()
{
    if (m_downloader)
        m_downloader->cancel();
    delete m_dialog;
}

AutoUpdater::InstallKind AutoUpdater::installKind(
    const QString &target, const QString &packageDatabase)
{
    if (Platform::isPackageFile(target, packageDatabase))
        return InstallKind::PackageManaged;
    const QFileInfo program(target);
    if (!program.isWritable() || !QFileInfo(program.absolutePath()).isWritable())
        return InstallKind::NotWritable;
    return InstallKind::SelfContained;
}

UpdateDialog *AutoUpdater::dialog() const
{
    return m_dialog;
}

QString AutoUpdater::installDir() const
{
    return QFileInfo(m_target).absolutePath();
}

void AutoUpdater::showDialog()
{
    if (!m_dialog) {
        m_dialog = new UpdateDialog(m_dialogParent);
        connect(m_dialog, &UpdateDialog::closeRequested, this, &AutoUpdater::requestClose);
        connect(m_dialog, &UpdateDialog::actionTriggered, this, &AutoUpdater::requestClose);
    }
    m_dialog->show();
}

void AutoUpdater::checkForUpdates(bool forced, const QString &target)
{
    m_forced = forced;
    m_target = target;
    m_canInstall = false;
    m_finished = false;
    if (forced) {
        showDialog();
        m_dialog->setStatus(tr("Fetching update information"));
        m_dialog->setBusy();
        m_dialog->setAction(tr("Cancel"), false);
    }
    emit versionCheckStarted();

    if (!m_service.isConfigured() || !UpdateService::isAllowed(m_service.address)) {
        const QString why = m_service.isConfigured()
            ? tr("The update service of this build is not reached over HTTPS.")
            : tr("No update service is configured for this build.");
        qCInfo(lcUpdate) << why;
        if (m_dialog && m_dialog->isVisible())
            report(why, QString());
        emit versionCheckFinished(CheckFailed, why);
        return;
    }

    QNetworkReply *reply = m_service.get(network(), m_service.url(QStringLiteral("/version.php")));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onVersionReply(reply); });
}

void AutoUpdater::onVersionReply(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        report(tr("Failed to fetch version data."), reply->errorString());
        emit versionCheckFinished(CheckFailed, reply->errorString());
        return;
    }
    const QByteArray body = reply->readAll();
    const UpdateSignature::Result signature = UpdateSignature::verify(
        body, reply->rawHeader(UpdateSignature::Header), m_service.publicKey);
    if (signature != UpdateSignature::Result::Valid) {
        const QString why = UpdateSignature::describe(signature);
        report(tr("Failed to check the update information."), why);
        emit versionCheckFinished(CheckFailed, why);
        return;
    }

    UpdateManifest manifest = UpdateManifest::parse(body);
    const QString upToDate = tr("Your version of Velkora is up to date.");
    if (manifest.version.isEmpty()
        || !UpdateVersion::isNewer(manifest.version, UpdateVersion::current())) {
        report(
            upToDate, tr("Latest version reported from the server is '%0'").arg(manifest.version));
        emit versionCheckFinished(UpToDate, upToDate);
        return;
    }

    // A record with a path that leads out of the installation is refused as a whole, before
    // anything is offered.
    const QString badPaths = manifest.checkPaths();
    if (!badPaths.isEmpty()) {
        report(tr("Failed to download files."), badPaths);
        emit versionCheckFinished(CheckFailed, badPaths);
        return;
    }
    m_manifest = manifest;

    const QString newer = tr("A new version is available: %0").arg(m_manifest.version);
    qCDebug(lcUpdate) << newer;
    emit versionCheckFinished(NewerVersion, newer);

    if (m_manifest.messageOnly) {
        showMessage(tr("Update Message"), m_manifest.message);
        if (m_forced)
            report(tr("Update Message"), m_manifest.message);
        return;
    }

    QString offer = m_manifest.message.isEmpty() ? newer : m_manifest.message;
    const InstallKind kind = installKind(m_target, m_service.packageDatabase);
    if (kind != InstallKind::SelfContained) {
        offer = newer + QLatin1String("\n\n")
            + tr("Please update Velkora through your package manager.");
    } else if (!m_manifest.installers.isEmpty()) {
        // Installers are programs of their own: they are not run here.
        offer = newer + QLatin1String("\n\n")
            + tr("This version has to be installed by hand: please download it from the Velkora "
                 "website.");
    } else {
        m_canInstall = true;
    }

    if (m_forced && m_canInstall)
        startUpdate();
    else if (m_forced)
        report(tr("Velkora cannot update this installation itself."), offer);
    else
        emit updateAvailable(offer);
}

void AutoUpdater::startUpdate()
{
    if (!m_canInstall || m_running)
        return;
    m_running = true;
    showDialog();
    m_dialog->setMessage(m_manifest.message);
    loadChangelog();

    const QVector<UpdateManifest::File> files
        = UpdateDownloader::filesToDownload(m_manifest.files, installDir());
    m_dialog->setStatus(tr("Downloading new files"));
    m_dialog->setAction(tr("Cancel"), true);
    m_dialog->setProgress(0, 100 * files.size());

    // Inside the installation, so that installing is a rename on one file system.
    m_downloadDir = std::make_unique<QTemporaryDir>(installDir() + QLatin1Char('/')
        + UpdateManifest::workFolderPrefix() + QStringLiteral("-download-XXXXXX"));
    if (!m_downloadDir->isValid()) {
        report(tr("Failed to create space for update files."), m_downloadDir->errorString());
        return;
    }

    delete m_downloader;
    m_downloader = new UpdateDownloader(m_service, this);
    connect(m_downloader, &UpdateDownloader::progressChanged, m_dialog, &UpdateDialog::setProgress);
    connect(m_downloader, &UpdateDownloader::completed, this, &AutoUpdater::install);
    connect(m_downloader, &UpdateDownloader::failed, this,
        [this](const QString &heading, const QString &details) { report(heading, details, true); });
    m_downloader->start(files, m_manifest.version, m_downloadDir->path());
}

void AutoUpdater::loadChangelog()
{
    const QUrl address(m_manifest.rawChangelog);
    const QString fallback = tr("Failed to load changelog. It can be found here: %0")
                                 .arg(m_service.url(QStringLiteral("/changelog.php")).toString());
    if (!UpdateService::isAllowed(address)) {
        m_dialog->setChangelog(m_manifest.changelog.isEmpty() ? fallback : m_manifest.changelog);
        return;
    }
    m_dialog->setChangelog(tr("Loading changelog..."));
    QNetworkReply *reply = m_service.get(network(), address);
    connect(reply, &QNetworkReply::finished, this, [this, reply, fallback] {
        reply->deleteLater();
        if (m_dialog) {
            m_dialog->setChangelog(reply->error() == QNetworkReply::NoError
                    ? QString::fromUtf8(reply->readAll())
                    : fallback);
        }
    });
}

void AutoUpdater::install()
{
    if (!m_downloader || !m_downloader->isComplete())
        return;
    m_dialog->setStatus(tr("Updating files"));
    m_dialog->setAction(tr("Cancel"), false);

    UpdateInstaller::Plan plan;
    plan.installDir = installDir();
    plan.targetPath = m_target;
    for (const UpdateDownloader::Entry &entry : m_downloader->entries())
        plan.files.append({ entry.file.path, entry.downloadedPath, entry.file.isMain, entry.size });
    plan.links = m_manifest.links;
    plan.deletions = m_manifest.deletions;

    UpdateInstaller installer;
    installer.setRetryDelay(restoreRetryDelayMs);
    QString heading;
    QString details;
    if (!installer.install(plan, &heading, &details)) {
        report(heading, details, true);
        for (const QString &unrestored : installer.unrestoredFiles()) {
            showError(tr("Update failed catastrophically, we're sorry :( You might have to "
                         "reinstall Velkora, please report the following error to us:"),
                unrestored);
        }
        return;
    }
    m_dialog->setStatus(tr("Finished updating"));
    m_dialog->setAction(tr("Restart"), true);
    m_dialog->setProgress(1, 1);
    discardDownloadFolder();
    m_running = false;
    m_finished = true;
    emit stageEnded();
}

void AutoUpdater::report(const QString &heading, const QString &details, bool showErrorMessage)
{
    qCWarning(lcUpdate) << heading << details;
    m_running = false;
    if (m_downloader)
        m_downloader->cancel();
    discardDownloadFolder();
    if (!m_dialog || !m_dialog->isVisible())
        return;
    m_dialog->setStatus(heading);
    if (!details.isEmpty())
        m_dialog->appendDetails(details);
    if (showErrorMessage)
        m_dialog->setMessage(m_manifest.errorMessage);
    m_dialog->setAction(tr("Close"), true);
    m_dialog->setProgress(0, 1);
    emit stageEnded();
}

void AutoUpdater::discardDownloadFolder()
{
    m_downloadDir.reset();
}

bool AutoUpdater::requestClose()
{
    if (m_dialog && !m_dialog->actionButton()->isEnabled())
        return false;
    if (m_downloader)
        m_downloader->cancel();
    discardDownloadFolder();
    m_running = false;
    if (m_dialog)
        m_dialog->hide();
    if (m_finished)
        emit finishedUpdating(m_target, m_forced);
    else if (m_forced)
        emit forcedUpdateAbandoned();
    return true;
}
