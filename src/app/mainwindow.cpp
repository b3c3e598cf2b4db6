#include "app/mainwindow.h"

#include "app/application.h"
#include "app/commandlineoptions.h"
#include "app/logcategories.h"
#include "commands/aligncommand.h"
#include "commands/basecommand.h"
#include "commands/commandhandler.h"
#include "input/keybinder.h"
#include "loading/imageloader.h"
#include "loading/loadjob.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "settings/settingsupgrade.h"
#include "ui/confirmdialog.h"
#include "ui/mainframe.h"
#include "view/graphicsview.h"

#include <QAction>
#include <QCloseEvent>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QVBoxLayout>

#include <algorithm>
#include <QThread>
#include <QThreadPool>

#include <cstdio>
#include <cstdlib>

namespace {

const QString unsavedQuestion = QStringLiteral(
    "You still have unsaved changes in the current scene. Do you want to save before %1?");

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    startWorker();
    qRegisterMetaType<GraphicsItem *>("GraphicsItem*");
    qRegisterMetaType<GraphicsImageItem *>("GraphicsImageItem*");
    setAttribute(Qt::WA_DeleteOnClose);
    // The GUI thread keeps one core for itself while the pool decodes and derives images.
    QThreadPool::globalInstance()->setMaxThreadCount(qMax(1, QThread::idealThreadCount() - 1));

    buildSettings();
    buildInterface();

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
    QCoreApplication::quit();
}

void MainWindow::startWorker()
{
    m_worker = new QThread(this);
    m_imageLoader = new ImageLoader;
    m_imageLoader->moveToThread(m_worker);
    connect(m_worker, &QThread::finished, m_imageLoader, &QObject::deleteLater);
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
    m_view = new GraphicsView(m_scene);
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
    connect(m_imageLoader, &ImageLoader::vlkFileFound, this, [](const QString &path) {
        qCInfo(lcApp, "Scene files cannot be opened yet: %s", qUtf8Printable(path));
    });

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
        qCInfo(lcApp, "Named commands are not built yet: there is no command help.");
        endProcess(0);
    }

    if (parser.isSet(Command)) {
        m_commandLineMode = true;
        qCInfo(lcApp, "Named commands are not built yet; not running: %s",
               qUtf8Printable(parser.values(Command).join(QLatin1String(" | "))));
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
    Q_UNUSED(argument)
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
    const int answer = ConfirmDialog::ask(
        this, tr("Unsaved Changes"), message,
        {{tr("Save"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton},
         {tr("Don't Save"), QDialogButtonBox::DestructiveRole, QDialogButtonBox::NoButton},
         {QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel}},
        m_settings->setting(QStringLiteral("Hide Unsaved Warning")), DontSave);
    if (answer == DontSave)
        return true;
    if (answer == Save)
        qCWarning(lcApp, "Saving scenes is not built yet: the operation is cancelled.");
    return false;
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
    m_jobs.insert(job, JobInfo{loader, {}, {}, false, false});
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
    const JobInfo info = m_jobs.take(job);
    m_runningJobs = qMax(0, m_runningJobs - 1);
    // Items a cancelled job already generated stay, and are undoable like the rest.
    if (info.placeItems)
        placeNewItems(info, m_undoableLoaders.value(info.loader, true));
    if (m_runningJobs == 0) {
        m_loading = false;
        updateCanvasLock();
    }
    if (!message.isEmpty()) {
        if (m_commandLineMode)
            qCWarning(lcApp, "%s %s", qUtf8Printable(message), qUtf8Printable(details));
        else
            qCWarning(lcApp, "%s\n%s", qUtf8Printable(message), qUtf8Printable(details));
    }
    if (own)
        job->deleteLater();
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
