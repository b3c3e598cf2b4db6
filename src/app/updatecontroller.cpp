#include "app/updatecontroller.h"

#include "app/application.h"
#include "app/applog.h"
#include "app/updatecontrollerhost.h"
#include "ui/confirmdialog.h"
#include "ui/errordialog.h"
#include "update/autoupdater.h"
#include "update/updateinstaller.h"
#include "update/updaterestarter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <cstdlib>
#include <utility>

namespace {

QStringList restartArguments()
{
    if (Application *application = Application::instance())
        return application->restartArguments();
    return {};
}

} // namespace

UpdateController::UpdateController(UpdateControllerHost *host)
    : QObject(host->asWidget())
    , m_host(host)
    , m_window(host->asWidget())
    , m_updater(new AutoUpdater(m_window, UpdateService::builtIn(), this))
{
    connect(m_updater, &AutoUpdater::versionCheckFinished, this,
        [this](int result, const QString &message) {
            if (std::exchange(m_userAsked, false) && result != AutoUpdater::NewerVersion) {
                ConfirmDialog::ask(m_window, tr("Check for Updates"), message,
                    { { QString(), QDialogButtonBox::AcceptRole, QDialogButtonBox::Ok } });
            }
        });
    connect(m_updater, &AutoUpdater::updateAvailable, this, &UpdateController::offer);
    connect(m_updater, &AutoUpdater::finishedUpdating, this,
        [this](const QString &program) { startUpdatedProgram(program); });
    connect(
        m_updater, &AutoUpdater::forcedUpdateAbandoned, m_window, [this] { m_host->hardExit(0); });
}

void UpdateController::jobEnded()
{
    if (!m_pendingOffer.isEmpty() && m_host->isIdle())
        present(std::exchange(m_pendingOffer, QString()));
}

void UpdateController::recoverInterruptedUpdate()
{
    const QString folder = QCoreApplication::applicationDirPath();
    if (!QFileInfo(folder).isWritable() || !UpdateInstaller::recoverInterrupted(folder))
        return;
    // This process may run the new program file that was just taken back.
    qCWarning(lcApp, "An interrupted update was rolled back; starting the restored version.");
    if (QProcess::startDetached(
            QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1)))
        std::exit(0);
}

void UpdateController::start(bool checkForUpdates, const QString &updateTarget)
{
    if (!updateTarget.isEmpty())
        m_updater->checkForUpdates(true, updateTarget);
    else if (checkForUpdates)
        m_updater->checkForUpdates(false, QCoreApplication::applicationFilePath());
}

void UpdateController::checkNow()
{
    m_userAsked = true;
    m_updater->checkForUpdates(false, QCoreApplication::applicationFilePath());
}

void UpdateController::offer(const QString &message)
{
    // A question in the middle of a load would stand in front of what the user is waiting for.
    if (!m_host->isIdle())
        m_pendingOffer = message;
    else
        present(message);
}

void UpdateController::present(const QString &message)
{
    if (!m_updater->canInstall()) {
        ConfirmDialog::ask(m_window, tr("Update Available"), message,
            { { QString(), QDialogButtonBox::AcceptRole, QDialogButtonBox::Ok } });
        return;
    }
    const int answer = ConfirmDialog::ask(m_window, tr("Update Available"), message,
        { { tr("Update now"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
            { tr("Later"), QDialogButtonBox::RejectRole, QDialogButtonBox::NoButton } });
    if (answer == 0 && m_host->confirmUnsavedChangesBeforeUpdate([this] { restartForUpdate(); }))
        restartForUpdate();
}

void UpdateController::restartForUpdate()
{
    UpdateRestarter restarter(m_window);
    QString error;
    switch (restarter.restartForUpdate(
        m_updater->target(), m_updater->manifest().copyFiles, restartArguments(), &error)) {
    case UpdateRestarter::Outcome::Started:
        m_host->hardExit(0);
        return;
    case UpdateRestarter::Outcome::Cancelled:
        return;
    case UpdateRestarter::Outcome::Failed:
        ErrorDialog::show(m_window, m_updater->manifest().errorMessage, error);
        return;
    }
}

void UpdateController::startUpdatedProgram(const QString &program)
{
    UpdateRestarter restarter(m_window);
    QString error;
    if (!restarter.startProgram(program, restartArguments(), &error)) {
        ErrorDialog::show(m_window, m_updater->manifest().errorMessage, error);
        return;
    }
    // An updating process that ran from a temporary copy takes the copy with it: the running
    // program file may be removed here, and nothing else would ever remove it.
    const QString folder = QCoreApplication::applicationDirPath();
    if (UpdateRestarter::isTemporaryCopy(folder))
        QDir(folder).removeRecursively();
    m_host->hardExit(0);
}
