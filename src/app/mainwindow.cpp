#include "app/mainwindow.h"

#include "app/application.h"
#include "app/commandlineexecutor.h"
#include "app/commandlineoptions.h"
#include "app/applog.h"
#include "commands/aligncommand.h"
#include "commands/basecommand.h"
#include "commands/commandhandler.h"
#include "export/imageexporter.h"
#include "input/actionhandler.h"
#include "input/actionnames.h"
#include "input/keybinder.h"
#include "loading/imageloader.h"
#include "loading/loadjob.h"
#include "persistence/savefileloader.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "settings/settingsupgrade.h"
#include "settings/versionnumber.h"
#include "ui/confirmdialog.h"
#include "ui/errordialog.h"
#include "ui/exportimagesdialog.h"
#include "ui/exportscenedialog.h"
#include "ui/mainframe.h"
#include "view/graphicsview.h"

#include <QAction>
#include <QCloseEvent>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMimeData>
#include <QPixmap>
#include <QScrollBar>
#include <QStorageInfo>
#include <QTextStream>
#include <QVBoxLayout>

#include <algorithm>
#include <QThread>
#include <QThreadPool>

#include <cstdio>
#include <cstdlib>
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

QString backupPath(const QString &path)
{
    return path + QLatin1String(".old");
}

QString fileStamp(const QFileInfo &info, const QLocale &locale)
{
    return QObject::tr("Timestamp: %1    Size: %2")
        .arg(info.lastModified().toString(Qt::ISODate).replace(QLatin1Char('T'), QLatin1Char(' ')),
             locale.formattedDataSize(info.size(), 2));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    startWorker();
    qRegisterMetaType<GraphicsItem *>("GraphicsItem*");
    qRegisterMetaType<GraphicsImageItem *>("GraphicsImageItem*");
    qRegisterMetaType<QFile *>("QFile*");
    setAttribute(Qt::WA_DeleteOnClose);
    // The GUI thread keeps one core for itself while the pool decodes and derives images.
    QThreadPool::globalInstance()->setMaxThreadCount(qMax(1, QThread::idealThreadCount() - 1));

    buildSettings();
    buildInterface();
    setUpExportAndCommands();

    Application *application = Application::instance();
    const bool show = application ? evaluateCommandLine(application->parser()) : true;
    if (show)
        this->show();
}

MainWindow::~MainWindow()
{
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

    // The loader lives on the worker thread: its settings reach it by queued calls.
    const auto forward = [this](const QString &name, const char *slot) {
        Setting *setting = m_settings->setting(name);
        const auto apply = [this, slot, setting] {
            const QVariant value = setting->value();
            if (value.userType() == QMetaType::Bool)
                QMetaObject::invokeMethod(m_imageLoader, slot, Qt::QueuedConnection,
                                          Q_ARG(bool, value.toBool()));
            else
                QMetaObject::invokeMethod(m_imageLoader, slot, Qt::QueuedConnection,
                                          Q_ARG(int, m_settings->intValue(setting->name())));
        };
        connect(setting, &Setting::changed, this, apply);
        apply();
    };
    forward(QStringLiteral("AutoDownscale"), "setAutoDownscale");
    forward(QStringLiteral("AutoDownscaleMaxWidth"), "setAutoDownscaleMaxWidth");
    forward(QStringLiteral("AutoDownscaleMaxHeight"), "setAutoDownscaleMaxHeight");

    Setting *embed = m_settings->setting(QStringLiteral("Embed Local Files"));
    const auto applyEmbed = [this, embed] {
        QMetaObject::invokeMethod(m_saveFileLoader, "setEmbedLocalFiles", Qt::QueuedConnection,
                                  Q_ARG(bool, embed->value().toBool()));
    };
    connect(embed, &Setting::changed, this, applyEmbed);
    applyEmbed();
    Setting *compression = m_settings->setting(QStringLiteral("Save Compression"));
    const auto applyCompression = [this] {
        QMetaObject::invokeMethod(
            m_saveFileLoader, "setSaveCompression", Qt::QueuedConnection,
            Q_ARG(int, m_settings->intValue(QStringLiteral("Save Compression"))));
    };
    connect(compression, &Setting::changed, this, applyCompression);
    applyCompression();

    connect(m_settings->setting(QStringLiteral("NumOfRecentFiles")), &Setting::changed, this,
            &MainWindow::updateNumOfRecentLoadedFiles);
    connect(m_settings->setting(QStringLiteral("CanvasLocked")), &Setting::changed, this,
            &MainWindow::updateCanvasLock);
}

void MainWindow::buildInterface()
{
    setWindowTitle(QStringLiteral("Velkora"));
    setMinimumSize(50, 50);
    resize(600, 400);
    setAcceptDrops(true);

    m_commands = new CommandHandler(this);
    m_commands->setLimit(m_settings->intValue(QStringLiteral("Redos")));
    connect(m_settings->setting(QStringLiteral("Redos")), &Setting::changed, this,
            [this] { m_commands->setLimit(m_settings->intValue(QStringLiteral("Redos"))); });
    connect(m_commands, &CommandHandler::commandMessage, this, &MainWindow::popupRequested);

    m_scene = new GraphicsScene(this, m_commands);
    m_view = new GraphicsView(m_scene, m_commands);
    connectView();
    m_frame = new MainFrame(m_view, m_settings, this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_frame);
    m_frame->restoreWindowState();
    updateCanvasLock();

    connect(this, &MainWindow::popupRequested, this,
            [](const QString &text) { qCInfo(lcApp, "%s", qUtf8Printable(text)); });

    m_undoableLoaders.insert(m_imageLoader, true);
    connectLoader(m_imageLoader, true);
    // The image load that found the scene file is still running: open it once that has ended.
    connect(m_imageLoader, &ImageLoader::vlkFileFound, this,
            [this](const QString &path) { m_pendingScenePath = path; });
    connectLoader(m_saveFileLoader, false);
    connectSaveFileLoader();

    updateNumOfRecentLoadedFiles();
}

void MainWindow::connectLoader(BaseLoader *loader, bool undoable)
{
    m_undoableLoaders.insert(loader, undoable);
    connect(loader, &BaseLoader::started, this, &MainWindow::loadStarted);
    connect(loader, &BaseLoader::progressRangeChanged, this, &MainWindow::setProgressRange);
    connect(loader, &BaseLoader::progressChanged, this, &MainWindow::setProgress);
    connect(loader, &BaseLoader::progressMessage, this, &MainWindow::setProgressMessage);
    // Runs on the worker thread, where the item was made.
    connect(loader, &BaseLoader::itemGenerated, this, &MainWindow::itemGenerated,
            Qt::DirectConnection);
    connect(loader, &BaseLoader::finished, this, &MainWindow::loadFinished);
}

bool MainWindow::evaluateCommandLine(const QCommandLineParser &parser)
{
    using namespace CommandLineOptions;

    if (parser.isSet(PrintKeyBindings)) {
        const QString path = parser.value(PrintKeyBindings);
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text)) {
            qCCritical(lcApp, "Could not open %s to print the key bindings: %s",
                       qUtf8Printable(path), qUtf8Printable(file.errorString()));
            endProcess(1);
        }
        QTextStream stream(&file);
        stream.setCodec("UTF-8");
        stream << KeyBinder::instance()->toHtml();
        stream.flush();
        file.close();
        endProcess(0);
    }

    if (parser.isSet(CommandHelp)) {
        m_commandLineExecutor->printHelp();
        endProcess(0);
    }

    if (parser.isSet(Command)) {
        m_commandLineMode = true;
        m_commandLineExecutor->execute(parser.values(Command));
        return true;
    }

    QList<QUrl> files;
    const QStringList positional = parser.positionalArguments();
    for (const QString &path : positional)
        files.append(QUrl::fromLocalFile(path));

    if (parser.isSet(Update)) {
        m_updateTarget = parser.value(Update);
        // Without an updater a hidden window would leave an invisible process behind.
        qCInfo(lcApp, "The updater is not built yet; showing the window instead of updating to %s.",
               qUtf8Printable(m_updateTarget));
        return true;
    }

    if (parser.isSet(CommandLineOptions::BruteForce)) {
        m_bruteForceNextLoad = true;
        queueImageLoad({QUrl::fromLocalFile(parser.value(CommandLineOptions::BruteForce))});
    } else if (parser.isSet(Restore)) {
        qCInfo(lcApp, "Autosave recovery is not built yet; not restoring %s.",
               qUtf8Printable(parser.value(Restore)));
    } else {
        qCInfo(lcApp, "Autosave recovery is not built yet; no autosaves are offered.");
        if (!files.isEmpty())
            queueImageLoad(files);
        else if (m_settings->boolValue(QStringLiteral("AutoLoad")) && !m_recentFileActions.isEmpty()
                 && !m_recentFiles.isEmpty())
            m_recentFileActions.first()->trigger();
    }

    if (m_settings->boolValue(QStringLiteral("CheckForUpdates")))
        qCInfo(lcApp, "The update check is not built yet.");
    return true;
}

void MainWindow::handleOpenFileRequest(const QList<QUrl> &urls)
{
    queueImageLoad(urls);
}

void MainWindow::queueImageLoad(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return;
    ImageLoader::Source source;
    source.urls = urls;
    source.position = m_view->mapToScene(m_view->viewport()->rect().center());
    loadSource(source);
}

void MainWindow::loadSource(const ImageLoader::Source &source)
{
    m_loading = true;
    QMetaObject::invokeMethod(m_imageLoader, "load", Qt::QueuedConnection,
                              Q_ARG(ImageLoader::Source, source),
                              Q_ARG(LoadJob *, createJob(m_imageLoader)));
}

bool MainWindow::hasUnsavedChanges() const
{
    const BaseCommand *newest = m_commands->lastCommand();
    return newest ? newest->id() != m_savedState : !m_savedState.isNull();
}

bool MainWindow::confirmUnsavedChanges(Operation operation, const QString &argument)
{
    if (!hasUnsavedChanges() || (operation == Operation::Load && m_commandLineMode))
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
    }
    enum { Save, DontSave, Cancel };
    const int answer = ask(
        this, tr("Unsaved Changes"), message,
        {{tr("Save"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton},
         {tr("Don't Save"), QDialogButtonBox::DestructiveRole, QDialogButtonBox::NoButton},
         {QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel}},
        m_settings->setting(QStringLiteral("Hide Unsaved Warning")), DontSave);
    if (answer == DontSave)
        return true;
    if (answer == Save) {
        switch (operation) {
        case Operation::Clear:
            m_pendingOperation = QStringLiteral("clearScene");
            break;
        case Operation::Load:
            m_pendingOperation = QStringLiteral("load");
            break;
        case Operation::Close:
            m_pendingOperation = QStringLiteral("close");
            break;
        }
        m_pendingArgument = argument;
        issuePreOpSave();
    }
    return false;
}

void MainWindow::connectView()
{
    connect(m_view, &GraphicsView::dropRequested, this, &MainWindow::handleDrop);
    // The pan action's second default: the middle button, with the same conditions.
    if (Action *pan = ActionHandler::instance()->action(QString::fromLatin1(ActionNames::Pan))) {
        ActionBinding middle = pan->binding(0);
        middle.keySequence = QKeySequence();
        middle.mouseButtons = Qt::MiddleButton;
        KeyBinder::instance()->addDefaultAlias(pan->name(), middle);
    }
    const auto forward = [this](const char *key, auto apply) {
        Setting *setting = m_settings->setting(QString::fromLatin1(key));
        connect(setting, &Setting::changed, m_view,
                [this, setting, apply] { apply(m_view, setting->value()); });
        apply(m_view, setting->value());
    };
    forward("WheelFunctionality",
            [](GraphicsView *view, const QVariant &value) { view->setWheelMode(value.toInt()); });
    forward("InvertWheel",
            [](GraphicsView *view, const QVariant &value) { view->setInvertWheel(value.toBool()); });
    forward("ActivateSelectedImages", [](GraphicsView *view, const QVariant &value) {
        view->setActivateSelected(value.toBool());
    });
    forward("Alignment Padding",
            [](GraphicsView *view, const QVariant &value) { view->setAlignmentGap(value.toInt()); });
    forward("SlideshowInterval", [](GraphicsView *view, const QVariant &value) {
        view->setSlideshowInterval(value.toInt());
    });
    forward("SelectTextOnEditingStart", [](GraphicsView *view, const QVariant &value) {
        view->setSelectTextOnEditingStart(value.toBool());
    });
    forward("FinishNoteWithReturn", [](GraphicsView *view, const QVariant &value) {
        view->setFinishNoteWithReturn(value.toBool());
    });
}

void MainWindow::handleDrop(const QMimeData *mimeData, const QPoint &position)
{
    if (!mimeData)
        return;
    if (m_view->isCanvasLocked()) {
        // While a load runs the lock is the load's; otherwise the user locked the canvas.
        if (!refuseWhileLoading())
            emit popupRequested(tr("Canvas is locked"));
        return;
    }
    // The mime data belongs to the drag and dies with this call: copy what the loader needs.
    ImageLoader::Source source;
    source.urls = mimeData->urls();
    if (mimeData->hasImage())
        source.image = qvariant_cast<QPixmap>(mimeData->imageData());
    if (mimeData->hasHtml())
        source.html = mimeData->html();
    if (mimeData->hasText())
        source.text = mimeData->text();
    source.position = m_view->mapToScene(position);
    loadSource(source);
    if (m_settings->boolValue(QStringLiteral("DropFocus"))) {
        activateWindow();
        raise();
    }
}

bool MainWindow::refuseWhileLoading()
{
    if (m_runningJobs == 0)
        return false;
    emit popupRequested(tr("Please wait, still loading..."));
    return true;
}

void MainWindow::clearScene()
{
    if (refuseWhileLoading() || !confirmUnsavedChanges(Operation::Clear))
        return;
    forceClear();
}

void MainWindow::forceClear()
{
    if (refuseWhileLoading())
        return;
    // Commands hold items of the scene: drop them before the items go.
    m_commands->clear();
    m_scene->clear();
    m_currentPath.clear();
    m_savedState = QUuid();
    m_checksumAtOpen.clear();
    setWindowTitle(QStringLiteral("Velkora"));
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
    return confirmUnsavedChanges(Operation::Close);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!tryClose()) {
        event->ignore();
        return;
    }
    m_frame->storeWindowState();
    event->accept();
}

void MainWindow::setSceneTitle(const QString &path)
{
    setWindowTitle(QFileInfo(path).fileName() + QLatin1String(" - Velkora"));
}

void MainWindow::saveBrowsePath(const QString &path)
{
    m_settings->setting(QStringLiteral("Last Browse Path"))->setValue(QFileInfo(path).absolutePath());
}

// Scene files ----------------------------------------------------------------------------------

void MainWindow::connectSaveFileLoader()
{
    // The loader thread waits for the answers to these questions.
    connect(m_saveFileLoader, &SaveFileLoader::checksumLoaded, this, &MainWindow::onChecksumLoaded,
            Qt::BlockingQueuedConnection);
    connect(m_saveFileLoader, &SaveFileLoader::aboutToOverwriteSaveFromNewerVersion, this,
            &MainWindow::onNewerVersion, Qt::BlockingQueuedConnection);
    connect(m_saveFileLoader, &SaveFileLoader::checksumMissmatchDetected, this,
            [this](LoadJob *job) { onCorruptFile(job, false); }, Qt::BlockingQueuedConnection);
    connect(m_saveFileLoader, &SaveFileLoader::brokenItemMetadataDetected, this,
            [this](LoadJob *job) { onCorruptFile(job, true); }, Qt::BlockingQueuedConnection);
    connect(m_saveFileLoader, &SaveFileLoader::checksumSaved, this,
            [this](const QString &checksum, LoadJob *job) {
                const auto info = m_jobs.find(job);
                if (info != m_jobs.end())
                    info->savedChecksum = checksum;
            });
    connect(m_saveFileLoader, &SaveFileLoader::loadedSceneState, this,
            [this](const SaveFileLoader::SceneState &state, LoadJob *) {
                m_scene->setSceneRect(state.sceneRect);
                m_scene->setNextId(qMax(m_scene->nextId(), state.nextItemId));
                m_view->setTransform(state.viewTransform);
                m_view->horizontalScrollBar()->setValue(state.horizontalScroll);
                m_view->verticalScrollBar()->setValue(state.verticalScroll);
            });
}

int MainWindow::ask(QWidget *parent, const QString &title, const QString &message,
                    const QList<ConfirmDialog::Button> &buttons, Setting *hideWarning,
                    int answerWhenHidden)
{
    // Scripts get no questions: whatever needed an answer is not done, and the log says why.
    if (m_commandLineMode) {
        qCWarning(lcApp, "%s: %s", qUtf8Printable(title), qUtf8Printable(message));
        return -1;
    }
    return ConfirmDialog::ask(parent, title, message, buttons, hideWarning, answerWhenHidden);
}

void MainWindow::showError(const QString &heading, const QString &details)
{
    if (m_commandLineMode)
        qCWarning(lcApp, "%s %s", qUtf8Printable(heading), qUtf8Printable(details));
    else
        ErrorDialog::show(this, heading, details);
}

void MainWindow::save(int options)
{
    if (m_loading)
        return;
    if (m_currentPath.isEmpty()) {
        saveAs();
        return;
    }
    // A backup was opened: saving puts it back in place of the file it backs up.
    if (m_currentPath.endsWith(QLatin1String(".old"))) {
        m_currentPath.chop(4);
        options |= NoBackup;
    }
    if (!(options & NoBackup) && !QFileInfo::exists(m_currentPath)) {
        saveAs();
        return;
    }
    save(m_currentPath, options);
}

void MainWindow::saveAs()
{
    if (m_loading)
        return;
    const QString proposed = m_currentPath.isEmpty() ? QStringLiteral("NewScene.vlk")
                                                     : QFileInfo(m_currentPath).fileName();
    const QString directory = m_settings->value(QStringLiteral("Last Browse Path")).toString();
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Save Scene"), QDir(directory).filePath(proposed), tr("Velkora Scene (*.vlk)"));
    if (path.isEmpty())
        return;
    saveBrowsePath(path);
    m_currentPath = path;
    save(path, NoBackup);
}

void MainWindow::save(const QString &fileName, int options)
{
    if (m_loading || refuseWhileLoading())
        return;
    const QString title = tr("Backup Warning");
    auto file = std::make_unique<QFile>(fileName);
    const bool targetExisted = file->exists();
    if (!targetExisted)
        options |= NoBackup;

    bool backupMade = false;
    if (!(options & NoBackup)) {
        if (!file->open(QIODevice::ReadWrite)) {
            showError(tr("Failed to open save file for writing."), file->errorString());
            return;
        }
        const QString backup = backupPath(fileName);
        bool makeBackup = true;
        if (QFileInfo::exists(backup)) {
            const int answer = ask(
                this, title,
                tr("<b>WARNING</b><br><br>Failed to create backup file:<br><br>File already exists: "
                   "%0<br><br>If you created this file, please rename or move it to continue. If "
                   "you do not recognize this file, it was probably created during a previously "
                   "failed save, and is safe to overwrite.")
                    .arg(backup),
                {{tr("Overwrite"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton},
                 {QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel}});
            if (answer != 0)
                return;
            QFile old(backup);
            while (old.exists() && !old.remove()) {
                const int retry = ask(
                    this, title,
                    tr("<b>WARNING</b><br><br>Failed to remove old backup:<br><br>%0<br><br>Please "
                       "retry, cancel saving, or continue without a backup (not recommended). If "
                       "you continue without a backup you will not be able to recover your file if "
                       "it gets corrupted.")
                        .arg(old.errorString()),
                    {{tr("Retry"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton},
                     {tr("Continue"), QDialogButtonBox::DestructiveRole, QDialogButtonBox::NoButton},
                     {QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel}});
                if (retry == 1) {
                    makeBackup = false;
                    break;
                }
                if (retry != 0)
                    return;
            }
        }
        if (makeBackup) {
            const QStorageInfo volume(fileName);
            if (volume.isValid() && volume.bytesAvailable() < file->size()) {
                const int answer = ask(
                    this, title,
                    tr("<b>WARNING</b><br><br>There is not enough space to create a temporary "
                       "backup of your scene (needs at least %0 on disk '%1').<br><br>Do you want to "
                       "continue without a backup (not recommended)? If you continue without a "
                       "backup you will not be able to recover your file if it gets corrupted.")
                        .arg(locale().formattedDataSize(file->size(), 2), volume.displayName()),
                    {{QString(), QDialogButtonBox::AcceptRole, QDialogButtonBox::Ok},
                     {QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel}});
                if (answer != 0)
                    return;
                makeBackup = false;
            }
        }
        if (makeBackup) {
            backupMade = QFile::copy(fileName, backup);
            if (!backupMade) {
                const int answer = ask(
                    this, title,
                    tr("<b>WARNING</b><br><br>Failed to backup save file: <br><br>%0<br><br>Do you "
                       "want to continue without a backup (not recommended)? If you continue "
                       "without a backup you will not be able to recover your file if it gets "
                       "corrupted.")
                        .arg(file->errorString()),
                    {{QString(), QDialogButtonBox::AcceptRole, QDialogButtonBox::Ok},
                     {QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel}});
                if (answer != 0)
                    return;
            }
        }
    }
    if (!file->isOpen() && !file->open(QIODevice::ReadWrite)) {
        showError(tr("Failed to open save file for writing."), file->errorString());
        return;
    }
    const QString previous = (options & NoBackup) ? QString() : m_checksumAtOpen;
    startSave(file.release(), fileName, options, targetExisted, backupMade, previous);
}

void MainWindow::saveQuiet(const QString &path)
{
    auto file = std::make_unique<QFile>(path);
    const bool existed = file->exists();
    if (!file->open(QIODevice::ReadWrite)) {
        qCWarning(lcApp, "Failed to open save file: %s", qUtf8Printable(file->errorString()));
        return;
    }
    startSave(file.release(), path, NoBackup, existed, false, QString());
}

void MainWindow::startSave(QFile *file, const QString &path, int options, bool targetExisted,
                           bool backupMade, const QString &previousChecksum)
{
    // The writer works from a copy made here, on the items' own thread.
    m_scene->renumberDepths();
    SaveFileLoader::SceneState state;
    state.items = m_scene->topLevelItems(Qt::AscendingOrder);
    state.nextItemId = m_scene->nextId();
    state.sceneRect = m_scene->sceneRect();
    state.viewTransform = m_view->transform();
    state.horizontalScroll = m_view->horizontalScrollBar()->value();
    state.verticalScroll = m_view->verticalScrollBar()->value();
    state.takeSnapshot();

    LoadJob *job = createJob(m_saveFileLoader);
    JobInfo &info = m_jobs[job];
    info.fileJob = FileJob::Save;
    info.file = file;
    info.path = path;
    info.options = options;
    info.targetExisted = targetExisted;
    info.backupMade = backupMade;
    m_saving = true;
    QMetaObject::invokeMethod(m_saveFileLoader, "save", Qt::QueuedConnection, Q_ARG(QFile *, file),
                              Q_ARG(QString, previousChecksum),
                              Q_ARG(SaveFileLoader::SceneState, state), Q_ARG(LoadJob *, job));
}

void MainWindow::saveFinished(JobInfo &info, LoadJob *job, QString heading, QString details)
{
    m_saving = false;
    const bool cancelled = job->isCanceled();
    bool success = heading.isEmpty() && !cancelled;
    if (success && !info.file->flush()) {
        heading = tr("Failed to write save file.");
        details = info.file->errorString();
        success = false;
    }
    info.file->close();
    delete info.file;
    info.file = nullptr;

    const QString backup = backupPath(info.path);
    if (success) {
        QFile::remove(backup);
        const BaseCommand *newest = m_commands->lastCommand();
        m_savedState = newest ? newest->id() : QUuid();
        m_checksumAtOpen = info.savedChecksum;
        // The title names the file just written: the next plain save goes there too.
        m_currentPath = info.path;
        setSceneTitle(info.path);
        addRecentFile(info.path);
        if (!m_pendingOperation.isEmpty()) {
            const QString operation = std::exchange(m_pendingOperation, QString());
            const QString argument = std::exchange(m_pendingArgument, QString());
            if (argument.isEmpty())
                QMetaObject::invokeMethod(this, operation.toLatin1().constData(), Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(this, operation.toLatin1().constData(),
                                          Qt::QueuedConnection, Q_ARG(QString, argument));
        }
        return;
    }

    // Never leave less than there was: the backup is a copy of the file before this save, and a
    // file that did not exist before holds nothing worth keeping.
    m_pendingOperation.clear();
    m_pendingArgument.clear();
    if (info.backupMade) {
        QFile::remove(info.path);
        QFile::rename(backup, info.path);
    } else if (!info.targetExisted) {
        QFile::remove(info.path);
    }
    if (!cancelled)
        showError(heading, details);
}

bool MainWindow::confirmOverwrite(const QString &message, LoadJob *job)
{
    const int answer = ask(
        this, tr("Save Warning"), message,
        {{tr("Overwrite"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton},
         {tr("Save As"), QDialogButtonBox::ActionRole, QDialogButtonBox::NoButton},
         {QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel}});
    if (answer == 0)
        return true;
    job->cancel();
    if (answer == 1)
        m_jobs[job].followUp = [this] { saveAs(); };
    return false;
}

void MainWindow::onChecksumLoaded(const QString &loadedChecksum, const QString &actualChecksum,
                                  LoadJob *job)
{
    Q_UNUSED(loadedChecksum)
    m_lastReportedChecksum = actualChecksum;
    const auto info = m_jobs.find(job);
    if (!m_saving || info == m_jobs.end() || info->fileJob != FileJob::Save || m_commandLineMode)
        return;
    if (actualChecksum != m_checksumAtOpen) {
        confirmOverwrite(tr("<b>WARNING</b><br><br>The file you are trying to overwrite has been "
                            "changed outside of Velkora since you opened it, are you sure you want "
                            "to overwrite it?"),
                         job);
    }
}

void MainWindow::onNewerVersion(const QString &applicationVersion, LoadJob *job)
{
    if (m_commandLineMode || !m_jobs.contains(job))
        return;
    // Patch levels never change the format: compare major and minor only.
    const QString release = applicationVersion.left(applicationVersion.lastIndexOf(QLatin1Char('.')))
        + QLatin1String(".0");
    if (compareVersions(release, QStringLiteral("1.11.0")) <= 0)
        return;
    confirmOverwrite(tr("<b>WARNING</b><br><br>You are about to overwrite a file saved with a "
                        "newer version of Velkora (%0). This will discard any uses of new features "
                        "in this scene, are you sure you want to overwrite it?")
                         .arg(applicationVersion),
                     job);
}

void MainWindow::onCorruptFile(LoadJob *job, bool brokenMetadata)
{
    // A save reads the file it overwrites the same way; that is not a file being opened.
    const auto info = m_jobs.find(job);
    if (m_commandLineMode || info == m_jobs.end() || info->fileJob != FileJob::Load)
        return;
    const QString path = info->path;
    const bool hasBackup = QFileInfo::exists(backupPath(path));

    QStringList text{brokenMetadata
                         ? tr("<b>WARNING</b><br><br>The file you are trying to open might be "
                              "corrupt. (Incorrect signature) What would you like to do?")
                         : tr("<b>WARNING</b><br><br>The file you are trying to open might be "
                              "corrupt. What would you like to do?")};
    QList<ConfirmDialog::Button> buttons;
    enum Answer { LoadBackup, ForceOpen, OpenAnyway, Cancel };
    QList<Answer> answers;
    if (hasBackup) {
        text << corruptOptions[0];
        buttons.append({tr("Load Backup"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton});
        answers << LoadBackup;
    }
    text << corruptOptions[1];
    buttons.append({tr("Force Open"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton});
    answers << ForceOpen;
    if (brokenMetadata) {
        text << corruptOptions[2];
        buttons.append({tr("Open Anyway (Unsafe)"), QDialogButtonBox::DestructiveRole,
                        QDialogButtonBox::NoButton});
        answers << OpenAnyway;
    }
    buttons.append({QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel});
    answers << Cancel;

    const int chosen = ask(this, tr("Load Error"),
                                          text.join(QLatin1String("<br><br>")), buttons);
    const Answer answer = answers.value(chosen, Cancel);
    if (answer == OpenAnyway)
        return;
    job->cancel();
    if (answer == LoadBackup)
        info->followUp = [this, path] { load(backupPath(path)); };
    else if (answer == ForceOpen)
        info->followUp = [this, path] { load(path, BruteForce); };
}

void MainWindow::issuePreOpSave()
{
    save();
}

void MainWindow::load()
{
    const QString directory = m_settings->value(QStringLiteral("Last Browse Path")).toString();
    const QString path = QFileDialog::getOpenFileName(this, tr("Load Scene"), directory,
                                                      tr("Velkora Scene (*.vlk)"));
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
    if (fileName.isEmpty() || refuseWhileLoading())
        return;

    QString path = fileName;
    const QFileInfo backup(backupPath(fileName));
    if (!(options & BruteForce) && !m_commandLineMode && backup.exists()) {
        const QFileInfo current(fileName);
        const int answer = ask(
            this, tr("Backup Exists"),
            tr("A backup has been found of the scene you are trying to open. Something might have "
               "gone wrong during the last save attempt. The backup should contain the last "
               "working state of the scene.<br><br>%0:<br>%1<br>%2:<br>%3<br><br>Would you like to "
               "load this backup instead? (Nothing in the original file will be overwritten until "
               "you save again.)")
                .arg(current.fileName(), fileStamp(current, locale()), backup.fileName(),
                     fileStamp(backup, locale())),
            {{tr("Load Current"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton},
             {tr("Load Backup"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton}});
        if (answer < 0)
            return;
        if (answer == 1)
            path = backup.filePath();
    }

    if (!confirmUnsavedChanges(Operation::Load, fileName))
        return;

    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        qCWarning(lcApp, "Could not open save file %s: %s", qUtf8Printable(path),
                  qUtf8Printable(file->errorString()));
        showError(tr("Could not open save file."), file->errorString());
        return;
    }

    // The scene file replaces the board.
    forceClear();
    LoadJob *job = createJob(m_saveFileLoader);
    JobInfo &info = m_jobs[job];
    info.fileJob = FileJob::Load;
    info.file = file.release();
    info.path = path;
    info.options = options;
    m_saving = false;
    m_loading = true;
    QMetaObject::invokeMethod(m_saveFileLoader, "load", Qt::QueuedConnection,
                              Q_ARG(QFile *, info.file), Q_ARG(LoadJob *, job),
                              Q_ARG(bool, (options & BruteForce) != 0));
}

void MainWindow::loadFileFinished(JobInfo &info, LoadJob *job, const QString &heading,
                                  const QString &details)
{
    if (!heading.isEmpty())
        showError(heading, details);
    if (heading.isEmpty() && !job->isCanceled()) {
        if (info.options & RestoreAutoSave) {
            // A restored autosave has no file of its own yet: it counts as unsaved.
            m_savedState = QUuid::createUuid();
        } else {
            m_currentPath = info.path;
            m_checksumAtOpen = m_lastReportedChecksum;
            const BaseCommand *newest = m_commands->lastCommand();
            m_savedState = newest ? newest->id() : QUuid();
            setSceneTitle(info.path);
            QString recent = info.path;
            if (recent.endsWith(QLatin1String(".old")))
                recent.chop(4);
            addRecentFile(recent);
        }
    }
    info.file->close();
    delete info.file;
    info.file = nullptr;
}

// Recent files ----------------------------------------------------------------------------------

void MainWindow::updateNumOfRecentLoadedFiles()
{
    const int count = m_settings->intValue(QStringLiteral("NumOfRecentFiles"));
    while (m_recentFileSettings.size() < count) {
        const int slot = m_recentFileSettings.size();
        m_recentFileSettings.append(new Setting(GeneralSettings::recentFileName(slot), QString(),
                                                GeneralSettings::group(), {}, this));
        auto *action = new QAction(this);
        connect(action, &QAction::triggered, this, [this, slot] { loadRecentFile(slot); });
        m_recentFileActions.append(action);
    }
    // Slots beyond the new length are forgotten, in the file too.
    while (m_recentFileSettings.size() > count) {
        Setting *setting = m_recentFileSettings.takeLast();
        setting->reset();
        delete setting;
        delete m_recentFileActions.takeLast();
    }
    m_recentFiles.clear();
    for (Setting *setting : qAsConst(m_recentFileSettings)) {
        const QString path = setting->value().toString();
        if (!path.isEmpty() && !m_recentFiles.contains(path))
            m_recentFiles.append(path);
    }
    syncRecentFileActions();
}

void MainWindow::addRecentFile(const QString &path)
{
    for (int i = 0; i < m_recentFiles.size(); ++i) {
        if (m_recentFiles.at(i) == path || m_recentFiles.at(i).isEmpty()) {
            m_recentFiles.removeAt(i);
            break;
        }
    }
    m_recentFiles.prepend(path);
    const int count = m_settings->intValue(QStringLiteral("NumOfRecentFiles"));
    while (m_recentFiles.size() > count)
        m_recentFiles.removeLast();
    storeRecentFiles();
    syncRecentFileActions();
}

void MainWindow::storeRecentFiles()
{
    for (int i = 0; i < m_recentFileSettings.size(); ++i) {
        if (i < m_recentFiles.size())
            m_recentFileSettings.at(i)->setValue(m_recentFiles.at(i));
        else
            m_recentFileSettings.at(i)->reset();
    }
}

void MainWindow::syncRecentFileActions()
{
    for (int i = 0; i < m_recentFileActions.size(); ++i) {
        const QString path = m_recentFiles.value(i);
        m_recentFileActions.at(i)->setText(path);
        m_recentFileActions.at(i)->setVisible(!path.isEmpty());
    }
}

void MainWindow::loadRecentFile(int index)
{
    const QString path = m_recentFiles.value(index);
    if (!path.isEmpty())
        queueImageLoad({QUrl::fromLocalFile(path)});
}

void MainWindow::loadMostRecentFile()
{
    loadRecentFile(0);
}

// Jobs ------------------------------------------------------------------------------------------

void MainWindow::updateCanvasLock()
{
    // Jobs lock the canvas on top of the user's own lock, without ever changing it.
    m_view->setCanvasLocked(m_settings->boolValue(QStringLiteral("CanvasLocked"))
                            || m_runningJobs > 0);
}

LoadJob *MainWindow::createJob(BaseLoader *loader)
{
    auto *job = new LoadJob(loader);
    JobInfo info;
    info.loader = loader;
    m_jobs.insert(job, info);
    return job;
}

void MainWindow::loadStarted(const QString &operationName, LoadJob *job)
{
    ++m_runningJobs;
    updateCanvasLock();
    // Jobs a loader made for itself may be gone by now: only this window's own are looked at.
    if (!m_jobs.contains(job))
        return;
    JobInfo &info = m_jobs[job];
    if (info.loader == m_imageLoader) {
        info.placeItems = true;
        info.pack = true;
        info.selectionAtStart = m_scene->selectedGraphicsItems();
    }
    if (!m_commandLineMode)
        qCInfo(lcApp, "%s", qUtf8Printable(operationName));
}

void MainWindow::setProgressRange(int minimum, int maximum, LoadJob *job)
{
    Q_UNUSED(job)
    Q_UNUSED(minimum)
    Q_UNUSED(maximum)
}

void MainWindow::setProgress(int value, LoadJob *job)
{
    Q_UNUSED(job)
    Q_UNUSED(value)
}

void MainWindow::setProgressMessage(const QString &message, LoadJob *job)
{
    if (!m_commandLineMode && m_jobs.contains(job) && !job->isCanceled())
        qCInfo(lcApp, "%s", qUtf8Printable(message));
}

void MainWindow::itemGenerated(GraphicsItem *item, LoadJob *job)
{
    // Worker thread: hand the item and everything attached to it to the GUI thread, and nothing
    // else.
    QThread *guiThread = QCoreApplication::instance()->thread();
    item->moveToThread(guiThread);
    const QList<GraphicsItem *> children = item->childGraphicsItems(true);
    for (GraphicsItem *child : children)
        child->moveToThread(guiThread);
    QMetaObject::invokeMethod(this, "insertGeneratedItem", Qt::QueuedConnection,
                              Q_ARG(GraphicsItem *, item), Q_ARG(LoadJob *, job));
}

void MainWindow::insertGeneratedItem(GraphicsItem *item, LoadJob *job)
{
    const auto info = m_jobs.find(job);
    if (info != m_jobs.end())
        info->items.append(item);
    m_scene->addItem(item);
}

void MainWindow::loadFinished(const QString &message, const QString &details, LoadJob *job)
{
    const bool own = m_jobs.contains(job);
    JobInfo info = m_jobs.take(job);
    m_runningJobs = qMax(0, m_runningJobs - 1);
    if (info.fileJob == FileJob::Save)
        saveFinished(info, job, message, details);
    else if (info.fileJob == FileJob::Load)
        loadFileFinished(info, job, message, details);
    // Items a cancelled job already generated stay, and are undoable like the rest.
    if (info.placeItems)
        placeNewItems(info, m_undoableLoaders.value(info.loader, true));
    if (m_runningJobs == 0) {
        m_loading = false;
        updateCanvasLock();
    }
    if (own)
        job->deleteLater();
    // Follow-ups start only now that the job no longer uses its file.
    if (info.followUp)
        info.followUp();
    if (m_runningJobs == 0 && !m_pendingScenePath.isEmpty()) {
        const QString path = std::exchange(m_pendingScenePath, QString());
        load(path);
    }
    if (info.fileJob == FileJob::None && !message.isEmpty())
        showError(message, details);
    if (own)
        emit jobEnded(info.loader, message, details);
}

void MainWindow::placeNewItems(const JobInfo &job, bool undoable)
{
    if (job.items.isEmpty())
        return;

    // Notes typed or pasted while an image is selected stick to that image.
    GraphicsItem *target = nullptr;
    const bool allNotes = std::all_of(job.items.cbegin(), job.items.cend(), [](GraphicsItem *item) {
        return item->itemType() == GraphicsItem::TextItemType;
    });
    if (allNotes && !job.selectionAtStart.isEmpty()) {
        GraphicsItem *first = job.selectionAtStart.first();
        target = first->parentGraphicsItem() ? first->parentGraphicsItem() : first;
    }

    m_scene->clearSelection();
    if (target) {
        for (GraphicsItem *item : job.items) {
            const QTransform full = item->fullTransform();
            item->setParentItem(target);
            item->setFullTransform(full);
        }
    }

    const bool select = m_settings->boolValue(QStringLiteral("SelectNew"));
    // New items are packed before they become one undoable addition, so that a single undo
    // takes the whole load away and a redo brings it back packed.
    if (select && job.pack) {
        switch (m_settings->intValue(QStringLiteral("SelectNewPackMethod"))) {
        case 1:
            arrange(job.items, AlignCommand::GridByName, false);
            break;
        case 2:
            arrange(job.items, AlignCommand::GridByOrder, false);
            break;
        default:
            arrange(job.items, AlignCommand::Pack, false);
            break;
        }
    }
    if (job.centreItems) {
        QRectF bounds;
        for (GraphicsItem *item : job.items)
            bounds |= item->sceneBounds();
        const QPointF offset = job.centre - bounds.center();
        for (GraphicsItem *item : job.items)
            item->moveBy(offset.x(), offset.y());
    }
    if (undoable)
        m_scene->addItems(job.items, true);
    if (select) {
        for (GraphicsItem *item : job.items)
            item->setSelected(true);
    }
}

void MainWindow::arrange(const QList<GraphicsItem *> &items, int mode, bool undoable)
{
    if (items.size() < 2)
        return;
    const float aspect = m_view->height() > 0 ? float(m_view->width()) / float(m_view->height())
                                              : 1.0f;
    auto *command = new AlignCommand(
        items, mode, m_settings->intValue(QStringLiteral("Alignment Padding")), aspect);
    command->finish();
    if (undoable) {
        m_commands->push(command);
    } else {
        command->redo();
        delete command;
    }
}

void MainWindow::endProcess(int exitCode)
{
    // exit() skips destructors: write what the settings upgrade changed before leaving.
    if (SettingsHandler *handler = SettingsHandler::instance())
        handler->sync();
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(exitCode);
}

// Export and named commands ---------------------------------------------------------------------

void MainWindow::setUpExportAndCommands()
{
    m_exporter = new ImageExporter;
    m_exporter->moveToThread(m_worker);
    connect(m_worker, &QThread::finished, m_exporter, &QObject::deleteLater);
    connectLoader(m_exporter, false);

    m_commandLineExecutor = new CommandLineExecutor(this);
    m_commandLineExecutor->registerStandardCommands(this, m_imageLoader, m_saveFileLoader,
                                                    m_exporter);
    // A command is done when nothing it caused is left: a scene file that the image loader
    // found is read by a job that starts only after the image job has ended.
    m_commandLineExecutor->setIdleCheck([this] { return isIdle(); });
    connect(this, &MainWindow::jobEnded, m_commandLineExecutor, &CommandLineExecutor::jobEnded);
}

void MainWindow::load(const QStringList &paths, float x, float y)
{
    // Scene files found among them are remembered by path: make it independent of the
    // working directory.
    QStringList absolute;
    for (const QString &path : paths) {
        if (!path.isEmpty())
            absolute.append(QFileInfo(path).absoluteFilePath());
    }
    if (absolute.isEmpty())
        return;
    m_loading = true;
    LoadJob *job = createJob(m_imageLoader);
    // Packing keeps the top-left corner of the new items: centre them afterwards.
    m_jobs[job].centreItems = true;
    m_jobs[job].centre = QPointF(x, y);
    QMetaObject::invokeMethod(m_imageLoader, "load", Qt::QueuedConnection,
                              Q_ARG(QStringList, absolute), Q_ARG(float, x), Q_ARG(float, y),
                              Q_ARG(LoadJob *, job));
}

void MainWindow::exportScene(const QString &fileName, int width, int height,
                             bool includeBackground, bool includeBorders, int quality)
{
    if (width == -1 || height == -1) {
        const QRectF rect = m_scene->sceneRect();
        width = int(rect.width());
        height = int(rect.height());
    }
    width = qMin(width, int(ImageExporter::MaximumSceneSide));
    height = qMin(height, int(ImageExporter::MaximumSceneSide));
    // Painted here, where the scene lives; the worker only encodes and writes.
    // An empty board has no picture: the export fails with the writer's message instead of
    // writing the one-pixel rectangle of an empty scene.
    const QImage image = m_scene->isEmpty()
        ? QImage()
        : ImageExporter::renderScene(m_scene, QSize(width, height), includeBackground,
                                     includeBorders);
    ImageExporter::ExportSettings settings;
    settings.path = fileName;
    settings.quality = quality;
    m_loading = true;
    QMetaObject::invokeMethod(m_exporter, "exportImage", Qt::QueuedConnection,
                              Q_ARG(QImage, image),
                              Q_ARG(ImageExporter::ExportSettings, settings),
                              Q_ARG(LoadJob *, createJob(m_exporter)));
}

void MainWindow::exportSceneWithDialog()
{
    if (m_scene->isEmptyFlag() || refuseWhileLoading())
        return;
    const QString directory = m_settings->value(QStringLiteral("Last Browse Path")).toString();
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Export Scene"),
                                     QDir(directory).filePath(QStringLiteral("Scene.png")),
                                     tr("Image (*.png)"));
    if (path.isEmpty())
        return;
    saveBrowsePath(path);
    ExportSceneDialog dialog(m_scene->sceneRect().size().toSize(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    exportScene(path, dialog.exportWidth(), dialog.exportHeight(), dialog.includeBackground(),
                dialog.includeBorders(), dialog.quality());
}

void MainWindow::exportAllImages(const QString &savePath, bool exportCropping,
                                 const QString &nameOverride, int quality)
{
    startImageExport(m_scene->graphicsItems(), savePath, exportCropping, nameOverride, quality);
}

void MainWindow::exportAllImagesWithDialog()
{
    exportImagesWithDialog(m_scene->graphicsItems());
}

void MainWindow::exportSelectedImages()
{
    exportImagesWithDialog(m_scene->selectedGraphicsItems());
}

void MainWindow::exportImagesWithDialog(const QList<GraphicsItem *> &items)
{
    const bool anyImage = std::any_of(items.cbegin(), items.cend(), [](GraphicsItem *item) {
        return item->itemType() == GraphicsItem::ImageItemType;
    });
    if (!anyImage || !isIdle())
        return;
    const QString directory = QFileDialog::getExistingDirectory(
        this, tr("Export Images"),
        m_settings->value(QStringLiteral("Last Browse Path")).toString());
    if (directory.isEmpty())
        return;
    ExportImagesDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    startImageExport(items, directory, dialog.exportCropping(), dialog.nameOverride(), 100);
}

void MainWindow::startImageExport(const QList<GraphicsItem *> &items, const QString &directory,
                                  bool exportCropping, const QString &nameOverride, int quality)
{
    QList<ImageExporter::Picture> pictures;
    for (GraphicsItem *item : items) {
        if (item->itemType() != GraphicsItem::ImageItemType)
            continue;
        const auto *image = static_cast<GraphicsImageItem *>(item);
        ImageExporter::Picture picture{image->name(),
                                       ImageExporter::renderItem(image, exportCropping)};
        // An image whose file was missing has nothing to write.
        if (!picture.image.isNull())
            pictures.append(picture);
    }
    ImageExporter::ExportSettings settings;
    settings.exportCropping = exportCropping;
    settings.path = directory;
    settings.nameOverride = nameOverride;
    settings.quality = quality;
    m_loading = true;
    QMetaObject::invokeMethod(m_exporter, "exportItems", Qt::QueuedConnection,
                              Q_ARG(QList<ImageExporter::Picture>, pictures),
                              Q_ARG(ImageExporter::ExportSettings, settings),
                              Q_ARG(LoadJob *, createJob(m_exporter)));
}

void MainWindow::hardExit(int exitCode)
{
    // Leaving tears down the toolkit's globals: let the worker stop first. The wait is bounded
    // because a job may be blocked on a question to this very thread.
    const QList<LoadJob *> jobs = m_jobs.keys();
    for (LoadJob *job : jobs)
        job->cancel();
    m_worker->quit();
    m_worker->wait(5000);
    endProcess(exitCode);
}
