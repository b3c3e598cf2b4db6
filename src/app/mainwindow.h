#pragma once

#include "app/commandlineprompter.h"
#include "app/mainwindowactionshost.h"
#include "app/scenedocument.h"
#include "app/updatecontrollerhost.h"
#include "app/windowmodeshost.h"
#include "loading/imageloader.h"
#include "persistence/savefileloader.h"
#include "scene/itemrecord.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class AutoSaveScheduler;
class BaseLoader;
class RelinkController;
class Relinker;
class CommandHandler;
class CommandLineExecutor;
class DialogPrompter;
class ExportController;
class GraphicsImageItem;
class IdleMemoryTrim;
class ImageExporter;
class JobController;
class GeneralSettings;
class GraphicsItem;
class GraphicsScene;
class GraphicsView;
class ImportController;
class LoadJob;
class MainFrame;
class MainWindowActions;
class WindowModes;
class PreferencesWindow;
class QTimer;
class QAction;
class QCommandLineParser;
class QThread;
class RecentFiles;
class Setting;
class SettingsBinder;
class UpdateController;

// The one top-level window: frameless, it hosts the window frame with the canvas view, and owns
// the scene, the undo stack, the loaders and the worker thread they run on. Deletes itself when
// closed; its destruction ends the application.
//
// The scene file's life cycle is the SceneDocument's; a DialogPrompter answers its questions
// with dialogs over the window (in command-line mode a CommandLinePrompter answers instead).
// Jobs, imports, exports and named commands, autosave, recent files and the start-up reaction
// to the command line are each a helper's, which reaches the window through callbacks; the
// window's commands, its modes and updating reach it through the host interfaces it implements.
//
// Threads: everything here runs on the GUI thread. The loaders on the worker thread hand over
// records through queued signals; the items are built here.
class MainWindow : public QWidget,
                   public MainWindowActionsHost,
                   public WindowModesHost,
                   public UpdateControllerHost {
    Q_OBJECT

public:
    enum SaveOption { NoBackup = SceneDocument::NoBackup, AutoSave = SceneDocument::AutoSave };
    enum LoadOption {
        BruteForce = SceneDocument::BruteForce,
        RestoreAutoSave = SceneDocument::RestoreAutoSave
    };

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QWidget *asWidget() override { return this; }
    GeneralSettings *generalSettings() const override { return m_settings; }
    // The folder the last file dialog ended in.
    QString browsePath() const override;
    GraphicsScene *scene() const override { return m_scene; }
    GraphicsView *view() const override { return m_view; }
    CommandHandler *commandHandler() const override { return m_commands; }
    ImageLoader *imageLoader() const { return m_imageLoader; }
    bool isCommandLineMode() const { return m_commandLineMode; }
    bool isBruteForceNextLoad() const { return m_bruteForceNextLoad; }
    int runningJobs() const;
    // No job asked for, running or still to report its end.
    bool isIdle() const override;
    JobController *jobs() const { return m_jobs; }
    SceneDocument *document() const { return m_document; }
    QString currentPath() const { return m_document->currentPath(); }
    QStringList recentFiles() const;
    SaveFileLoader *saveFileLoader() const { return m_saveFileLoader; }
    ImageExporter *imageExporter() const;
    CommandLineExecutor *commandLineExecutor() const;
    ExportController *exports() const { return m_exports; }
    void setCommandLineMode(bool on);
    bool hasUnsavedChanges() const { return m_document->hasUnsavedChanges(); }
    MainFrame *frame() const override { return m_frame; }
    PreferencesWindow *preferencesWindow() const { return m_preferences; }
    MainWindowActions *actions() const { return m_actions; }
    WindowModes *windowModes() const { return m_modes; }
    // Overlay: the canvas and the frame stop painting their backgrounds.
    void setOverlayLook(bool on) override;
    // One entry per recent file; those without a file are hidden.
    QList<QAction *> recentFileActions() const override;
    // Reports a refusal or a state change on the canvas, as a popup when popups are enabled,
    // and in the log.
    void showNotice(const QString &category, const QString &heading, const QString &iconPath,
        const QString &bindingText = QString()) override;
    // Refuses an edit of the board while jobs run or the canvas is locked, with a notice saying
    // why; false when the edit may go on.
    bool refuseEdit() override;
    // The unsaved-changes question before an update; false when the update must wait (a save
    // runs first and calls restart when it has succeeded) or was cancelled.
    bool confirmUnsavedChangesBeforeUpdate(std::function<void()> restart) override;

public slots:
    void handleOpenFileRequest(const QList<QUrl> &urls) override;
    // Asks a new user's two questions, once per settings file and never in command-line mode.
    // True when it asked.
    bool offerFirstTimeSetup();
    // Opens the preferences window (made on first use) at that page.
    void showPreferences(int page) override;
    void showAbout() override;
    // Asks the update service now and shows the outcome.
    void checkForUpdates() override;
    // Starts the process that installs the update the last check found, and ends this one.
    void restartForUpdate();
    // Loads what a drop or paste brought, at source.position.
    void loadSource(const ImageLoader::Source &source);
    void clearScene() override;
    void forceClear();
    void undo() override;
    void redo() override;
    bool tryClose();
    void saveBrowsePath(const QString &path) override;

    // Missing pictures: the dialog for all of them, or one file for the given ones (false when
    // none was picked).
    void relinkMissingImages() override;
    bool relinkMissingImages(const QList<GraphicsImageItem *> &items);
    RelinkController *relinkController() const { return m_relink; }

    // Autosaves now when there is something new to keep.
    void autoSave();

    // Scene files.
    void save(int options = 0) override;
    void save(const QString &fileName, int options = 0);
    void saveAs() override;
    void saveQuiet(const QString &path);
    void issuePreOpSave();
    void load() override;
    void load(const QString &fileName, int options = 0);

    // A followed job has ended, its items placed: what follows for the window and the document.
    void jobFinished(
        const QString &message, const QString &details, LoadJob *job, BaseLoader *loader);

    // Export and named commands.
    // Loads files with the images centred on (x, y) in the scene.
    void load(const QStringList &paths, float x, float y);
    void exportSceneWithDialog() override;
    void exportAllImagesWithDialog() override;
    void exportSelectedImages() override;
    // The clipboard: copies the selection; pastes at the pointer when it is over the canvas,
    // else at the canvas centre (globalPosition: where a context menu was opened).
    void copy() override;
    void pasteAt(const QPoint &globalPosition) override;
    // Ends the process with exitCode, asking nothing.
    void hardExit(int exitCode) override;
    // The session, or whoever started the program, asks it to end: keeps what is new of the
    // board where the next start finds it, then ends with exit code 0. A second request, or a
    // save that takes too long, ends at once.
    void endSession(int signalNumber);

signals:
    // A notice was reported (its heading), whether or not popups are shown.
    void popupRequested(const QString &text);
    // A job this window followed has ended and everything it led to has been started.
    void jobEnded(BaseLoader *loader, const QString &message, const QString &details);

public slots:
    // The window modes and locks.
    void setMouseTransparent(bool transparent, bool force = false);
    void toggleMouseTransparent();
    void setOverlay(bool overlay, bool force = false);
    void toggleOverlay();
    void setWindowMode(int mode);
    void setWindowLocked(bool locked);
    void setCanvasLocked(bool locked);
    void resizeToSelection();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool isSaving() const;
    void buildInterface();
    // Registers the application's own style template and applies the colour scheme.
    void applyColorScheme();
    void createDocument();
    // Who answers for the user now: this window, or no one in command-line mode.
    AbstractDocumentPrompter *prompter();
    void buildSettings();
    void startWorker();
    void createJobController();
    // Acts on the command line; returns false when the window must stay hidden.
    bool evaluateCommandLine(const QCommandLineParser &parser);
    void buildAutoSave();
    void setUpRelinking();
    void setUpImport();
    // A job followed from its start to its end, and deleted afterwards.
    LoadJob *createJob(BaseLoader *loader);
    // Refuses an operation while jobs run: they hold items and the undo stack.
    bool refuseWhileLoading();
    void updateCanvasLock();
    // Wires the view's requests and the settings it follows.
    void connectView();

    void setUpExportAndCommands();

    GeneralSettings *m_settings = nullptr;
    SettingsBinder *m_binder = nullptr;
    Setting *m_selectNew = nullptr;
    Setting *m_packMethod = nullptr;
    Setting *m_dropFocus = nullptr;
    Setting *m_browsePath = nullptr;
    Setting *m_autoLoad = nullptr;
    Setting *m_checkForUpdates = nullptr;
    Setting *m_firstTimeSetup = nullptr;
    GraphicsScene *m_scene = nullptr;
    GraphicsView *m_view = nullptr;
    MainFrame *m_frame = nullptr;
    PreferencesWindow *m_preferences = nullptr;
    MainWindowActions *m_actions = nullptr;
    WindowModes *m_modes = nullptr;
    bool m_shownOnce = false;
    // The slot of the style that makes canvas and frame see-through, -1 when not in overlay.
    int m_overlayStyle = -1;
    CommandHandler *m_commands = nullptr;
    QThread *m_worker = nullptr;
    ImageLoader *m_imageLoader = nullptr;

    bool m_commandLineMode = false;
    bool m_bruteForceNextLoad = false;
    bool m_loading = false;
    // Close was asked for while jobs ran: the window closes (asking as usual) once they end.
    bool m_closeWhenIdle = false;
    // The session is ending: the process ends once the last save before it has.
    bool m_endWhenIdle = false;
    IdleMemoryTrim *m_memoryTrim = nullptr;
    UpdateController *m_updates = nullptr;

    SceneDocument *m_document = nullptr;
    AutoSaveScheduler *m_autoSave = nullptr;
    Relinker *m_relinker = nullptr;
    RelinkController *m_relink = nullptr;
    // Scene loads that reported missing pictures: the dialog follows when they end.
    QSet<LoadJob *> m_loadsWithMissing;
    CommandLinePrompter m_commandLinePrompter;
    std::unique_ptr<DialogPrompter> m_dialogs;
    SaveFileLoader *m_saveFileLoader = nullptr;
    QString m_pendingScenePath;

    JobController *m_jobs = nullptr;

    RecentFiles *m_recent = nullptr;

    ImportController *m_import = nullptr;

    ExportController *m_exports = nullptr;
};
