#pragma once

#include "update/updatemanifest.h"
#include "update/updateservice.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryDir;
class QWidget;
class UpdateDialog;
class UpdateDownloader;

// Asks the update service whether a newer version exists, and, for an installation that updates
// itself, downloads the changed files, verifies them and installs them (UpdateInstaller), then
// offers the restart.
//
// Nothing from the service is used before the signature of its version record checks out against
// the key built into the program, and the record's paths have been checked. How the program was
// installed decides how far it goes: one that a Debian package installed, or that lies in a folder
// the user cannot write, is only told about the new version, since its package manager updates it;
// a folder of the user's own gets the whole update. Installer programs are never run: an update
// that needs one has to be installed by hand.
//
// GUI thread only; owned by the main window.
class AutoUpdater : public QObject {
    Q_OBJECT

public:
    enum VersionCheckResult { CheckFailed = 0, UpToDate = 1, NewerVersion = 2 };
    enum class InstallKind { SelfContained, PackageManaged, NotWritable };

    explicit AutoUpdater(QWidget *dialogParent, UpdateService service = UpdateService::builtIn(),
        QObject *parent = nullptr);
    ~AutoUpdater() override;

    // Starts a check; target is the program file of the installation. A forced check shows the
    // window at once and goes on to the download when a newer version exists.
    void checkForUpdates(bool forced, const QString &target);
    // Downloads and installs the update the last check found, in this process.
    void startUpdate();

    static InstallKind installKind(const QString &target, const QString &packageDatabase);
    // Whether the last check found an update this process may install.
    bool canInstall() const { return m_canInstall; }
    bool isFinished() const { return m_finished; }
    QString target() const { return m_target; }
    bool isForced() const { return m_forced; }
    const UpdateManifest &manifest() const { return m_manifest; }
    UpdateDialog *dialog() const;

    // Closing the window: refused while its action button is disabled; otherwise cancels what
    // runs, then reports a finished update or gives up a forced one.
    bool requestClose();

    // Shows the message of a message-only answer; a dialog unless a test replaces it.
    std::function<void(const QString &title, const QString &message)> showMessage;
    // Shows the catastrophic-failure dialog; a dialog unless a test replaces it.
    std::function<void(const QString &heading, const QString &details)> showError;
    // For tests: how long a failed restore waits before its next attempt.
    int restoreRetryDelayMs = 1000;

signals:
    void versionCheckStarted();
    void versionCheckFinished(int result, const QString &message);
    void updateAvailable(const QString &message);
    void finishedUpdating(const QString &newApplicationPath, bool forcedUpdate);
    // A forced update's window was closed before it finished: the updating process ends.
    void forcedUpdateAbandoned();
    // The window shows a final outcome (a report, or the finished update).
    void stageEnded();

private:
    QNetworkAccessManager *network();
    void onVersionReply(QNetworkReply *reply);
    void report(const QString &heading, const QString &details, bool showErrorMessage = false);
    void loadChangelog();
    void install();
    void discardDownloadFolder();
    void showDialog();
    QString installDir() const;

    QPointer<QWidget> m_dialogParent;
    UpdateService m_service;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<UpdateDialog> m_dialog; // its parent window may delete it first
    UpdateDownloader *m_downloader = nullptr;
    std::unique_ptr<QTemporaryDir> m_downloadDir;
    UpdateManifest m_manifest;
    QString m_target;
    bool m_forced = false;
    bool m_canInstall = false;
    bool m_running = false;
    bool m_finished = false;
};
