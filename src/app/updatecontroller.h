#pragma once

#include <QObject>
#include <QString>

class AutoUpdater;
class QWidget;
class UpdateControllerHost;

// The main window's side of updating: starts the check at launch (forced for "--update"), offers
// what the check found, restarts into the updating process and then into the new version, and
// rolls back an update that a killed process left half done. GUI thread.
class UpdateController : public QObject {
    Q_OBJECT

public:
    explicit UpdateController(UpdateControllerHost *host);

    // Rolls back an installation that was killed halfway and, when it did, starts the restored
    // program with the same arguments and ends this process. Call before anything else runs.
    static void recoverInterruptedUpdate();

    // At launch: a forced update of updateTarget when one is given, otherwise the check that
    // "CheckForUpdates" asks for.
    void start(bool checkForUpdates, const QString &updateTarget);
    // The user asked: the outcome is shown whatever it is.
    void checkNow();
    // After the unsaved-changes question: starts the updating process and ends this one.
    void restartForUpdate();
    // A job the window followed has ended: an offer held back while jobs ran comes once none
    // is left. Connect it queued, so that the window has finished its bookkeeping of the job.
    void jobEnded();

    AutoUpdater *updater() const { return m_updater; }

private:
    // Offers at once, or when the running jobs have ended.
    void offer(const QString &message);
    void present(const QString &message);
    void startUpdatedProgram(const QString &program);

    UpdateControllerHost *m_host;
    // The host's window: parent of the questions and of the updater's window.
    QWidget *m_window;
    AutoUpdater *m_updater;
    bool m_userAsked = false;
    QString m_pendingOffer;
};
