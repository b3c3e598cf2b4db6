#include "app/mainwindow.h"

#include "app/application.h"
#include "app/applog.h"
#include "app/autosavescheduler.h"
#include "app/boardstate.h"
#include "app/commandlineexecutor.h"
#include "app/dialogprompter.h"
#include "app/exportcontroller.h"
#include "app/idlememorytrim.h"
#include "app/importcontroller.h"
#include "app/jobcontroller.h"
#include "app/mainwindowactions.h"
#include "app/messagelog.h"
#include "app/recentfiles.h"
#include "app/relinkcontroller.h"
#include "app/settingsbinder.h"
#include "app/startupcontroller.h"
#include "app/updatecontroller.h"
#include "app/windowmodes.h"
#include "clipboard/copypastehandler.h"
#include "commands/commandhandler.h"
#include "input/actionhandler.h"
#include "input/actionnames.h"
#include "input/keybinder.h"
#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "persistence/relinker.h"
#include "persistence/savefileloader.h"
#include "picture/picturebudget.h"
#include "platform/workpools.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settings.h"
#include "settings/settingshandler.h"
#include "settings/settingsupgrade.h"
#include "ui/aboutdialog.h"
#include "ui/colorcustomizer.h"
#include "ui/confirmdialog.h"
#include "ui/customizesettings.h"
#include "ui/firsttimedialog.h"
#include "ui/mainframe.h"
#include "ui/preferenceswindow.h"
#include "view/graphicsview.h"

#include <QAction>
#include <QCloseEvent>
#include <QCommandLineParser>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    startWorker();
    m_memoryTrim = new IdleMemoryTrim([this] { return isIdle(); }, this);
    qRegisterMetaType<GraphicsItem *>("GraphicsItem*");
    qRegisterMetaType<GraphicsImageItem *>("GraphicsImageItem*");
    qRegisterMetaType<QFile *>("QFile*");
    setAttribute(Qt::WA_DeleteOnClose);
    WorkPools::configure();

    buildSettings();
    buildInterface();
    setUpExportAndCommands();
    buildAutoSave();

    Application *application = Application::instance();
    const bool show = application ? evaluateCommandLine(application->parser()) : true;
    if (show)
        this->show();
}

MainWindow::~MainWindow()
{
    // They follow the view and the scene: they go while this is still a main window, before
    // the widgets' destruction sends its last events and signals.
    delete m_modes;
    m_modes = nullptr;
    delete m_actions;
    m_actions = nullptr;
    // A save goes on to its end: stopped midway it would leave a cut file whose backup only
    // the end of the job, which this window no longer sees, puts back.
    const QList<LoadJob *> jobs = m_jobs->jobs();
    for (LoadJob *job : jobs) {
        if (!m_document->isSaveJob(job))
            job->cancel();
    }
    m_worker->quit();
    m_worker->wait();
    // Items the scene holds may be referenced by commands: the undo stack goes first.
    m_commands->clear();
}

void MainWindow::startWorker()
{
    m_worker = new QThread(this);
    m_imageLoader = new ImageLoader;
    m_imageLoader->moveToThread(m_worker);
    connect(m_worker, &QThread::finished, m_imageLoader, &QObject::deleteLater);
    m_saveFileLoader = new SaveFileLoader;
    m_saveFileLoader->moveToThread(m_worker);
    connect(m_worker, &QThread::finished, m_saveFileLoader, &QObject::deleteLater);
    m_worker->start(QThread::InheritPriority);
}

void MainWindow::buildSettings()
{
    m_settings = new GeneralSettings(this);
    // The actions concerned may not exist yet; the binder applies the choice when they do.
    SettingsUpgrade::run(*m_settings, [](int scrollFunctionality) {
        KeyBinder::instance()->upgradeScrollFunctionality(scrollFunctionality);
    });

    m_binder = new SettingsBinder(m_settings, this);
    m_binder->bindLoaders(m_imageLoader, m_saveFileLoader);
    m_binder->bindPictureBudget(&PictureBudget::instance());

    // Read when the moment comes: held from here, so the key table knows they are used.
    m_selectNew = m_settings->setting(QStringLiteral("SelectNew"));
    m_packMethod = m_settings->setting(QStringLiteral("SelectNewPackMethod"));
    m_dropFocus = m_settings->setting(QStringLiteral("DropFocus"));
    m_browsePath = m_settings->setting(QStringLiteral("Last Browse Path"));
    m_autoLoad = m_settings->setting(QStringLiteral("AutoLoad"));
    m_checkForUpdates = m_settings->setting(QStringLiteral("CheckForUpdates"));
    m_updates = new UpdateController(this);
    // Queued: the window has finished its bookkeeping of the job by then.
    connect(
        this, &MainWindow::jobEnded, m_updates, &UpdateController::jobEnded, Qt::QueuedConnection);
    m_firstTimeSetup = m_settings->setting(QStringLiteral("FirstTimeSetup"));

    connect(m_settings->setting(QStringLiteral("CanvasLocked")), &Setting::changed, this,
        &MainWindow::updateCanvasLock);
}

void MainWindow::buildInterface()
{
    setWindowTitle(QStringLiteral("Velkora"));
    setMinimumSize(50, 50);
    setAcceptDrops(true);

    m_commands = new CommandHandler(this);
    m_commands->setLimit(m_settings->intValue(QStringLiteral("Redos")));
    connect(m_settings->setting(QStringLiteral("Redos")), &Setting::changed, this,
        [this] { m_commands->setLimit(m_settings->intValue(QStringLiteral("Redos"))); });
    connect(m_commands, &CommandHandler::commandMessage, this, [this](const QString &message) {
        showNotice(tr("Transform Limit"), message, QStringLiteral(":/icons/warning.svg"));
    });

    m_scene = new GraphicsScene(this, m_commands);
    m_scene->setHelpText(tr("Drop or paste pictures, right click for every command"));
    m_frame = new MainFrame(m_settings, this);
    m_view = new GraphicsView(m_scene, m_commands,
        { m_frame->maximizedCondition(), m_frame->overBorderCondition(),
            m_frame->rightDraggedCondition() });
    connectView();
    m_frame->setContent(m_view);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_frame);
    m_frame->restoreWindowState();
    createJobController();
    updateCanvasLock();

    m_jobs->follow(m_imageLoader, JobController::Placement::PlacedAndPacked, true);
    // The image load that found the scene file is still running: open it once that has ended.
    connect(m_imageLoader, &ImageLoader::vlkFileFound, this,
        [this](const QString &path) { m_pendingScenePath = path; });
    m_jobs->follow(m_saveFileLoader, JobController::Placement::AsRead, false);
    setUpImport();
    createDocument();
    setUpRelinking();

    m_recent = new RecentFiles(
        m_settings,
        [this](const QString &path) { m_import->queueImageLoad({ QUrl::fromLocalFile(path) }); },
        this);
    connect(m_document, &SceneDocument::fileUsed, m_recent, &RecentFiles::add);
    m_actions = new MainWindowActions(this);
    m_modes = new WindowModes(this);
    applyColorScheme();
}

void MainWindow::setOverlayLook(bool on)
{
    m_frame->setBackgroundVisible(!on);
    ColorCustomizer *colors = m_frame->colorCustomizer();
    if (on && m_overlayStyle < 0) {
        // Last among the templates, so it wins over the scheme's own canvas colour.
        m_overlayStyle = colors->addStyleTemplate(
            QStringLiteral("GraphicsView { qproperty-canvasColor: transparent; } "
                           "MainFrame {background-color: transparent; border: none;}"));
    } else if (!on && m_overlayStyle >= 0) {
        colors->removeStyleTemplate(std::exchange(m_overlayStyle, -1));
    }
}

void MainWindow::setMouseTransparent(bool transparent, bool force)
{
    m_modes->setMouseTransparent(transparent, force);
}

void MainWindow::toggleMouseTransparent()
{
    m_modes->toggleMouseTransparent();
}

void MainWindow::setOverlay(bool overlay, bool force)
{
    m_modes->setOverlay(overlay, force);
}

void MainWindow::toggleOverlay()
{
    m_modes->toggleOverlay();
}

void MainWindow::setWindowMode(int mode)
{
    m_modes->setWindowMode(mode);
}

void MainWindow::setWindowLocked(bool locked)
{
    m_modes->setWindowLocked(locked);
}

void MainWindow::setCanvasLocked(bool locked)
{
    m_modes->setCanvasLocked(locked);
}

void MainWindow::resizeToSelection()
{
    m_modes->resizeToSelection();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    const bool first = !std::exchange(m_shownOnce, true);
    // After the window system has placed the window.
    QTimer::singleShot(0, m_modes, [this, first] { m_modes->windowShown(first); });
}

int MainWindow::runningJobs() const
{
    return m_jobs->runningJobs();
}

bool MainWindow::isIdle() const
{
    return m_jobs->isIdle();
}

LoadJob *MainWindow::createJob(BaseLoader *loader)
{
    return m_jobs->createJob(loader);
}

void MainWindow::createJobController()
{
    JobController::Host host;
    host.window = this;
    host.registerWindow = [this](QWidget *display) { m_frame->registerWindow(display); };
    host.showsProgress = [this] { return !m_commandLineMode; };
    host.viewAspect = [this] {
        return m_view->height() > 0 ? float(m_view->width()) / float(m_view->height()) : 1.0f;
    };
    m_jobs = new JobController(m_scene, m_commands, m_settings, std::move(host), this);
    connect(m_jobs, &JobController::runningChanged, this, [this](int running) {
        if (running == 0)
            m_loading = false;
        updateCanvasLock();
    });
    connect(m_jobs, &JobController::finished, this, &MainWindow::jobFinished);
}

bool MainWindow::evaluateCommandLine(const QCommandLineParser &parser)
{
    StartupController::Host host;
    host.window = this;
    host.commands = m_exports->commandLineExecutor();
    host.updates = m_updates;
    host.import = m_import;
    host.recent = m_recent;
    host.document = m_document;
    host.autoLoad = m_autoLoad;
    host.checkForUpdates = m_checkForUpdates;
    host.enterCommandLineMode = [this] { setCommandLineMode(true); };
    host.offerFirstTimeSetup = [this] { offerFirstTimeSetup(); };
    host.bruteForceNextLoad = [this] { m_bruteForceNextLoad = true; };
    host.loadRestoredAutoSave = [this](const QString &path) {
        QMetaObject::invokeMethod(
            this, [this, path] { load(path, RestoreAutoSave); }, Qt::QueuedConnection);
    };
    return StartupController(std::move(host)).run(parser);
}

bool MainWindow::offerFirstTimeSetup()
{
    if (m_commandLineMode || m_firstTimeSetup->value().isValid())
        return false;
    FirstTimeDialog dialog(m_settings->setting(QStringLiteral("Embed Local Files")),
        m_settings->setting(QStringLiteral("Picture Storage")),
        m_settings->setting(QStringLiteral("Auto Save")), this);
    dialog.exec();
    // Asked once, however it was answered.
    m_firstTimeSetup->setValue(true);
    return true;
}

void MainWindow::showPreferences(int page)
{
    if (!m_preferences) {
        m_preferences = new PreferencesWindow(this);
        m_preferences->addPage(new CustomizeSettings, tr("Settings"));
        m_preferences->addPage(m_frame->colorCustomizer(), tr("Colours"));
        m_preferences->addPage(KeyBinder::instance(), tr("Key bindings"));
    }
    m_preferences->showPage(page);
}

void MainWindow::checkForUpdates()
{
    m_updates->checkNow();
}

void MainWindow::restartForUpdate()
{
    m_updates->restartForUpdate();
}

bool MainWindow::confirmUnsavedChangesBeforeUpdate(std::function<void()> restart)
{
    return m_document->confirmUnsavedChanges(SceneDocument::Operation::Update, std::move(restart));
}

void MainWindow::showAbout()
{
    AboutDialog dialog(
        SettingsHandler::instance()->store()->fileName(), MessageLog::filePath(), this);
    dialog.exec();
}

void MainWindow::setUpImport()
{
    ImportController::Host host;
    host.window = this;
    host.dropFocus = m_dropFocus;
    host.refuseEdit = [this] { return refuseEdit(); };
    host.loadingStarted = [this] { m_loading = true; };
    host.notice = [this](const QString &heading) {
        showNotice(tr("Paste"), heading, QStringLiteral(":/icons/warning.svg"));
    };
    m_import = new ImportController(m_view, m_jobs, m_imageLoader, m_worker, std::move(host), this);
    connect(m_view, &GraphicsView::dropRequested, m_import, &ImportController::handleDrop);
}

void MainWindow::handleOpenFileRequest(const QList<QUrl> &urls)
{
    m_import->queueImageLoad(urls);
}

void MainWindow::loadSource(const ImageLoader::Source &source)
{
    m_import->loadSource(source);
}

void MainWindow::connectView()
{
    // The pan action's second default: the middle button, with the same conditions.
    if (Action *pan = ActionHandler::instance()->action(QString::fromLatin1(ActionNames::Pan))) {
        ActionBinding middle = pan->binding(0);
        middle.keySequence = QKeySequence();
        middle.mouseButtons = Qt::MiddleButton;
        KeyBinder::instance()->addDefaultAlias(pan->name(), middle);
    }
    m_binder->bindView(m_view);
}

void MainWindow::applyColorScheme()
{
    ColorCustomizer *colors = m_frame->colorCustomizer();
    colors->addStyleTemplateFile(QStringLiteral(":/style.qss"));
    // Notes made from dropped text take the view's note colour, which the scheme sets.
    const auto forwardNoteColor = [this] {
        QMetaObject::invokeMethod(m_imageLoader, "setDefaultNoteColor", Qt::QueuedConnection,
            Q_ARG(QColor, m_view->noteColor()));
    };
    connect(colors, &ColorCustomizer::styleUpdated, this, forwardNoteColor, Qt::QueuedConnection);
    m_frame->applyColors();
    forwardNoteColor();
}

QString MainWindow::browsePath() const
{
    return m_browsePath->value().toString();
}

QStringList MainWindow::recentFiles() const
{
    return m_recent->paths();
}

QList<QAction *> MainWindow::recentFileActions() const
{
    return m_recent->actions();
}

bool MainWindow::refuseEdit()
{
    if (refuseWhileLoading())
        return true;
    if (!m_view->isCanvasLocked())
        return false;
    showNotice(tr("Canvas lock"), tr("Canvas locked"), QStringLiteral(":/cf/icons/lock.svg"));
    return true;
}

bool MainWindow::refuseWhileLoading()
{
    if (m_jobs->runningJobs() == 0)
        return false;
    showNotice(
        tr("Loading"), tr("Please wait, still loading..."), QStringLiteral(":/icons/warning.svg"));
    return true;
}

void MainWindow::showNotice(const QString &category, const QString &heading,
    const QString &iconPath, const QString &bindingText)
{
    qCInfo(lcApp, "%s", qUtf8Printable(heading));
    m_frame->showPopup(category, heading, bindingText, iconPath);
    emit popupRequested(heading);
}

void MainWindow::clearScene()
{
    if (refuseWhileLoading()
        || !m_document->confirmUnsavedChanges(
            SceneDocument::Operation::Clear, [this] { clearScene(); }))
        return;
    forceClear();
}

// Autosave -------------------------------------------------------------------------------------

void MainWindow::buildAutoSave()
{
    AutoSaveScheduler::Host host;
    host.isCommandLineMode = [this] { return m_commandLineMode; };
    host.isBusy = [this] { return m_loading || m_jobs->runningJobs() > 0; };
    m_autoSave = new AutoSaveScheduler(m_settings, m_scene, m_document, std::move(host), this);
}

void MainWindow::autoSave()
{
    m_autoSave->autoSave();
}

// Relinking -------------------------------------------------------------------------------------

void MainWindow::setUpRelinking()
{
    m_relinker = new Relinker;
    m_relinker->moveToThread(m_worker);
    connect(m_worker, &QThread::finished, m_relinker, &QObject::deleteLater);
    m_jobs->follow(m_relinker, JobController::Placement::AsRead, false);

    RelinkController::Host host;
    host.window = this;
    host.scene = m_scene;
    host.commands = m_commands;
    host.showOnLoad = m_settings->setting(QStringLiteral("ShowRelinkOnLoad"));
    host.createJob = [this] { return createJob(m_relinker); };
    m_relink = new RelinkController(m_relinker, std::move(host), this);
    connect(this, &MainWindow::jobEnded, m_relink, [this](BaseLoader *loader) {
        if (loader == m_relinker)
            m_relink->jobFinished();
    });
    connect(m_saveFileLoader, &SaveFileLoader::foundItemWithMissingImage, this,
        [this](const ItemRecord &record, const ImageLoader::LoadImageResult &reason, LoadJob *job) {
            m_relink->recordMissing(record.source, reason);
            m_loadsWithMissing.insert(job);
        });
    connect(m_view, &GraphicsView::relinkRequested, this,
        [this](const QList<GraphicsImageItem *> &images) { relinkMissingImages(images); });
}

void MainWindow::relinkMissingImages()
{
    m_relink->openDialog();
}

bool MainWindow::relinkMissingImages(const QList<GraphicsImageItem *> &items)
{
    return m_relink->relinkToChosenFile(items);
}

void MainWindow::forceClear()
{
    if (refuseWhileLoading())
        return;
    m_relink->clear();
    // Commands hold items of the scene: drop them before the items go.
    m_commands->clear();
    m_scene->clear();
    m_document->clear();
    m_memoryTrim->schedule();
}

void MainWindow::undo()
{
    if (!refuseWhileLoading())
        m_commands->undo();
}

void MainWindow::redo()
{
    if (!refuseWhileLoading())
        m_commands->redo();
}

bool MainWindow::tryClose()
{
    return m_document->confirmUnsavedChanges(SceneDocument::Operation::Close, [this] { close(); });
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A running save must end here, where its backup goes and the board counts as saved, or a
    // stale ".old" waits for the next open; the progress display shows it meanwhile. Loads and
    // exports are not worth the wait. The window closes, asking as usual, once all have ended.
    if (!isIdle()) {
        event->ignore();
        m_closeWhenIdle = true;
        const QList<LoadJob *> jobs = m_jobs->jobs();
        for (LoadJob *job : jobs) {
            if (!m_document->isSaveJob(job))
                job->cancel();
        }
        return;
    }
    if (!tryClose()) {
        event->ignore();
        return;
    }
    // What we copied must still paste once this process is gone.
    CopyPasteHandler::leaveClipboardToOthers();
    // The next start must not begin see-through.
    m_modes->windowClosing();
    m_frame->storeWindowState();
    event->accept();
}

void MainWindow::saveBrowsePath(const QString &path)
{
    m_browsePath->setValue(QFileInfo(path).absolutePath());
}

// Scene files ----------------------------------------------------------------------------------

void MainWindow::createDocument()
{
    m_dialogs = std::make_unique<DialogPrompter>(this, m_browsePath);
    SceneDocument::Host host;
    // The writer works from records made here, on the items' own thread.
    host.sceneState = [this] { return BoardState::take(m_scene, m_view); };
    host.createJob = [this](bool opensFile) {
        if (opensFile)
            m_loading = true;
        return createJob(m_saveFileLoader);
    };
    host.isLoading = [this] { return m_loading; };
    host.refuseWhileBusy = [this] { return refuseWhileLoading(); };
    host.clearBoard = [this] { forceClear(); };
    m_document = new SceneDocument(m_saveFileLoader, m_commands, std::move(host), this);
    m_document->setPrompter(prompter());
    m_document->setUnsavedWarningSetting(
        m_settings->setting(QStringLiteral("Hide Unsaved Warning")));
    connect(m_document, &SceneDocument::titleChanged, this, &QWidget::setWindowTitle);
    connect(m_document, &SceneDocument::savedForOlderReaders, this, [this](const QString &path) {
        showNotice(tr("Save"),
            tr("%1 saved for older readers: every picture as PNG").arg(QFileInfo(path).fileName()),
            QStringLiteral(":/icons/warning.svg"));
    });

    connect(m_saveFileLoader, &SaveFileLoader::loadedSceneState, this,
        [this](const SaveFileLoader::SceneState &state, LoadJob *) {
            BoardState::restore(state, m_scene, m_view);
        });
}

void MainWindow::setCommandLineMode(bool on)
{
    m_commandLineMode = on;
    m_document->setPrompter(prompter());
}

AbstractDocumentPrompter *MainWindow::prompter()
{
    if (m_commandLineMode)
        return &m_commandLinePrompter;
    return m_dialogs.get();
}

void MainWindow::save(int options)
{
    m_document->save(options);
}

void MainWindow::saveAs()
{
    m_document->saveAs();
}

void MainWindow::save(const QString &fileName, int options)
{
    m_document->save(fileName, options);
}

void MainWindow::saveQuiet(const QString &path)
{
    // "save" without a path, from a script or a key, saves the board where it came from.
    const QString target = path.isEmpty() ? currentPath() : path;
    if (target.isEmpty()) {
        qCWarning(lcApp, "Nothing saved: no path was given and the board has none yet.");
        return;
    }
    m_document->saveQuiet(target);
}

void MainWindow::issuePreOpSave()
{
    m_document->issuePreOpSave();
}

void MainWindow::load()
{
    const QString directory = browsePath();
    const QString path = QFileDialog::getOpenFileName(this, tr("Load Scene"), directory,
        tr("Velkora Scene (*.vlk)") + QLatin1String(";;") + tr("BeeRef Board (*.bee)"));
    if (path.isEmpty())
        return;
    saveBrowsePath(path);
    load(path);
}

void MainWindow::load(const QString &fileName, int options)
{
    if (m_bruteForceNextLoad) {
        m_bruteForceNextLoad = false;
        options |= BruteForce;
    }
    m_document->load(fileName, options);
}

// Jobs ------------------------------------------------------------------------------------------

void MainWindow::updateCanvasLock()
{
    // Jobs lock the canvas on top of the user's own lock, without ever changing it.
    m_view->setCanvasLocked(
        m_settings->boolValue(QStringLiteral("CanvasLocked")) || m_jobs->runningJobs() > 0);
    if (m_actions)
        m_actions->updateEnabled();
}

void MainWindow::jobFinished(
    const QString &message, const QString &details, LoadJob *job, BaseLoader *loader)
{
    // Scene-file jobs report their results themselves.
    const bool fileJob = m_document->ownsJob(job);
    const bool opensFile = fileJob && !m_document->isSaveJob(job);
    if (fileJob) {
        m_document->jobFinished(job, message, details);
        // Another program's board brings no view of its own: it is shown whole.
        if (opensFile && !job->isCanceled() && !m_document->importedFrom().isEmpty()
            && m_document->currentPath().isEmpty()) {
            QRectF bounds;
            const QList<GraphicsItem *> items = m_scene->graphicsItems();
            for (const GraphicsItem *item : items)
                bounds |= item->sceneBounds();
            m_view->fitTo(bounds);
        }
        if (m_autoSave)
            m_autoSave->restart();
        // A board that opened with missing pictures offers to find them.
        if (m_loadsWithMissing.remove(job) && !m_commandLineMode && !job->isCanceled()
            && m_settings->boolValue(QStringLiteral("ShowRelinkOnLoad")))
            QMetaObject::invokeMethod(
                this, [this] { relinkMissingImages(); }, Qt::QueuedConnection);
    }
    // Follow-ups start only now that the job no longer uses its file.
    if (fileJob)
        m_document->runFollowUp(job);
    m_scene->coverItems();
    if (m_jobs->runningJobs() == 0 && !m_pendingScenePath.isEmpty()) {
        const QString path = std::exchange(m_pendingScenePath, QString());
        load(path);
    }
    if (!fileJob && !message.isEmpty() && !m_closeWhenIdle)
        prompter()->showError(message, details);
    if (loader)
        emit jobEnded(loader, message, details);
    m_memoryTrim->schedule();
    if (m_endWhenIdle && !isSaving())
        hardExit(0);
    if (m_closeWhenIdle && isIdle()) {
        m_closeWhenIdle = false;
        // After the follow-ups queued by the job's end, which may start jobs of their own.
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

// Export and named commands ---------------------------------------------------------------------

void MainWindow::setUpExportAndCommands()
{
    ExportController::Host host;
    host.window = this;
    host.browsePath = [this] { return browsePath(); };
    host.saveBrowsePath = [this](const QString &path) { saveBrowsePath(path); };
    host.refuseWhileLoading = [this] { return refuseWhileLoading(); };
    host.loadingStarted = [this] { m_loading = true; };
    host.mayDropBoard = [this] {
        return !refuseWhileLoading()
            && m_document->confirmUnsavedChanges(
                SceneDocument::Operation::Clear, [this] { clearScene(); });
    };
    host.commandTarget = this;
    host.imageLoader = m_imageLoader;
    host.sceneLoader = m_saveFileLoader;
    m_exports = new ExportController(m_scene, m_jobs, m_worker, std::move(host), this);
    CommandLineExecutor *executor = m_exports->commandLineExecutor();
    connect(this, &MainWindow::jobEnded, executor, &CommandLineExecutor::jobEnded);
    // A script that leaves the window open hands it to the user, who gets questions and errors
    // in dialogs again.
    connect(executor, &CommandLineExecutor::finished, this, [this] {
        if (m_commandLineMode)
            setCommandLineMode(false);
    });
}

ImageExporter *MainWindow::imageExporter() const
{
    return m_exports->exporter();
}

CommandLineExecutor *MainWindow::commandLineExecutor() const
{
    return m_exports->commandLineExecutor();
}

void MainWindow::load(const QStringList &paths, float x, float y)
{
    m_import->load(paths, x, y);
}

void MainWindow::exportSceneWithDialog()
{
    m_exports->exportSceneWithDialog();
}

void MainWindow::exportAllImagesWithDialog()
{
    m_exports->exportAllImagesWithDialog();
}

void MainWindow::exportSelectedImages()
{
    m_exports->exportSelectedImages();
}

void MainWindow::hardExit(int exitCode)
{
    // Leaving tears down the toolkit's globals: let the worker stop first. The wait is bounded
    // because a job may be blocked on a question to this very thread; a worker still running
    // then must not see the globals go.
    const QList<LoadJob *> jobs = m_jobs->jobs();
    for (LoadJob *job : jobs)
        job->cancel();
    m_worker->quit();
    const bool stopped = m_worker->wait(5000);
    Application::endProcess(
        exitCode, stopped ? Application::Ending::Orderly : Application::Ending::Abrupt);
}

bool MainWindow::isSaving() const
{
    const QList<LoadJob *> jobs = m_jobs->jobs();
    return std::any_of(
        jobs.cbegin(), jobs.cend(), [this](LoadJob *job) { return m_document->isSaveJob(job); });
}

void MainWindow::endSession(int signalNumber)
{
    qCInfo(lcApp, "Ending as asked by signal %d.", signalNumber);
    // A save cut short would leave the board to its backup: it goes on to its end first.
    if (!m_endWhenIdle && (isSaving() || m_autoSave->saveBeforeEnd())) {
        m_endWhenIdle = true;
        // A session manager waits a while for its processes, not for ever.
        QTimer::singleShot(20000, this, [this] { hardExit(0); });
        return;
    }
    hardExit(0);
}

void MainWindow::copy()
{
    m_import->copy();
}

void MainWindow::pasteAt(const QPoint &globalPosition)
{
    m_import->pasteAt(globalPosition);
}
