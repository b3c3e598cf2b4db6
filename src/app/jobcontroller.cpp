#include "app/jobcontroller.h"

#include "app/applog.h"
#include "commands/addcommand.h"
#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "scene/itembuilder.h"
#include "settings/generalsettings.h"
#include "ui/progressdialog.h"
#include "ui/progressentry.h"

#include <QTimer>
#include <QWidget>

#include <algorithm>

JobController::JobController(GraphicsScene *scene, CommandHandler *commands,
    GeneralSettings *settings, Host host, QObject *parent)
    : QObject(parent)
    , m_scene(scene)
    , m_commands(commands)
    , m_settings(settings)
    , m_host(std::move(host))
{
}

JobController::~JobController() = default;

void JobController::follow(BaseLoader *loader, Placement placement, bool undoable)
{
    m_loaders.insert(loader, { placement, undoable });
    connect(loader, &BaseLoader::started, this, &JobController::jobStarted);
    connect(loader, &BaseLoader::progressRangeChanged, this, &JobController::setProgressRange);
    connect(loader, &BaseLoader::progressChanged, this, &JobController::setProgress);
    connect(loader, &BaseLoader::progressMessage, this, &JobController::setProgressMessage);
    connect(loader, &BaseLoader::itemGenerated, this, &JobController::itemGenerated);
    connect(loader, &BaseLoader::finished, this, &JobController::jobFinished);
}

LoadJob *JobController::createJob(BaseLoader *loader)
{
    auto *job = new LoadJob(loader);
    JobInfo info;
    info.loader = loader;
    m_jobs.insert(job, info);
    return job;
}

void JobController::centreItems(LoadJob *job, const QPointF &centre)
{
    const auto info = m_jobs.find(job);
    if (info == m_jobs.end())
        return;
    info->centreItems = true;
    info->centre = centre;
}

void JobController::jobStarted(const QString &operationName, LoadJob *job)
{
    ++m_runningJobs;
    emit runningChanged(m_runningJobs);
    // Jobs a loader made for itself may be gone by now: only this controller's own are looked
    // at.
    const auto info = m_jobs.find(job);
    if (info == m_jobs.end())
        return;
    info->placement = m_loaders.value(info->loader).placement;
    if (info->placement == Placement::PlacedAndPacked)
        info->selectionAtStart = m_scene->selectedGraphicsItems();
    if (!m_host.showsProgress || m_host.showsProgress()) {
        qCInfo(lcApp, "%s", qUtf8Printable(operationName));
        showProgress(operationName, job);
    }
}

void JobController::itemGenerated(const ItemRecord &record, LoadJob *job)
{
    const auto info = m_jobs.find(job);
    std::shared_ptr<ItemBuilder> builder;
    if (info != m_jobs.end()) {
        if (!info->builder)
            info->builder = std::make_shared<ItemBuilder>();
        builder = info->builder;
    } else {
        builder = std::make_shared<ItemBuilder>();
    }
    GraphicsItem *item = builder->build(record);
    if (info != m_jobs.end())
        info->items.append(item);
    m_scene->addItem(item);
}

void JobController::jobFinished(const QString &message, const QString &details, LoadJob *job)
{
    if (ProgressEntry *entry = m_progressEntries.take(job))
        m_progress->removeEntry(entry);
    const bool own = m_jobs.contains(job);
    const JobInfo info = m_jobs.take(job);
    m_runningJobs = std::max(0, m_runningJobs - 1);
    if (job->isDiscarded()) {
        // What the job put on the board was shown while it was checked, and refused.
        for (GraphicsItem *item : info.items) {
            m_scene->removeItem(item);
            GraphicsItem::deleteItem(item);
        }
    } else if (info.placement != Placement::AsRead) {
        // Items a cancelled job already generated stay, and are undoable like the rest.
        placeNewItems(info, m_loaders.value(info.loader).undoable);
    }
    if (m_runningJobs == 0 && m_progress) {
        m_progressDelay->stop();
        m_progress->hide();
        // The display took the keyboard from the window when it appeared. Unmapped with the
        // pointer over the window, the X server gives the focus back as a pointer-focus event,
        // which the toolkit ignores: it went on sending every key to the hidden display, and the
        // window answered none until it was activated from outside. Only a display that is gone
        // gives the keyboard back for sure; the next job makes a new one.
        if (m_progressEntries.isEmpty()) {
            m_progress->deleteLater();
            m_progress = nullptr;
        }
    }
    emit runningChanged(m_runningJobs);
    if (own)
        job->deleteLater();
    emit finished(message, details, job, own ? info.loader : nullptr);
}

void JobController::showProgress(const QString &operationName, LoadJob *job)
{
    if (!m_progressDelay) {
        // Short jobs come and go unseen: the display appears only for work that makes a user
        // wait.
        m_progressDelay = new QTimer(this);
        m_progressDelay->setSingleShot(true);
        m_progressDelay->setInterval(500);
        connect(m_progressDelay, &QTimer::timeout, this, [this] {
            if (m_runningJobs == 0 || !m_progress)
                return;
            const bool active = m_host.window->isActiveWindow();
            // Over the middle of the board, where the user is looking.
            m_progress->adjustSize();
            QRect place(QPoint(), m_progress->size());
            place.moveCenter(m_host.window->geometry().center());
            m_progress->move(place.topLeft());
            m_progress->show();
            // A window manager may place a window mapped again where it likes.
            m_progress->move(place.topLeft());
            // Escape must reach the display to cancel; it takes the focus only from this window,
            // never from another program the user is working in.
            if (active)
                m_progress->activateWindow();
        });
    }
    if (!m_progress) {
        m_progress = new ProgressDialog(tr("Velkora"), ProgressDialog::DoNotShow, m_host.window);
        if (m_host.registerWindow)
            m_host.registerWindow(m_progress);
    }
    ProgressEntry *entry = m_progress->addEntry(operationName, 0, 0);
    m_progressEntries.insert(job, entry);
    connect(entry, &ProgressEntry::canceled, this, [entry, job] {
        job->cancel();
        entry->setRange(0, 0);
        entry->setInfoText(tr("Canceling"), 3);
    });
    if (!m_progress->isVisible() && !m_progressDelay->isActive())
        m_progressDelay->start();
}

void JobController::setProgressRange(int minimum, int maximum, LoadJob *job)
{
    if (ProgressEntry *entry = m_progressEntries.value(job); entry && !job->isCanceled())
        entry->setRange(minimum, maximum);
}

void JobController::setProgress(int value, LoadJob *job)
{
    if (ProgressEntry *entry = m_progressEntries.value(job); entry && !job->isCanceled())
        entry->setValue(value);
}

void JobController::setProgressMessage(const QString &message, LoadJob *job)
{
    ProgressEntry *entry = m_progressEntries.value(job);
    if (!entry || job->isCanceled())
        return;
    qCInfo(lcApp, "%s", qUtf8Printable(message));
    entry->setInfoText(message);
}

void JobController::placeNewItems(const JobInfo &job, bool undoable)
{
    if (job.items.isEmpty())
        return;

    // Notes typed or pasted while an image is selected stick to that image.
    GraphicsItem *target = nullptr;
    const bool allNotes = std::all_of(job.items.cbegin(), job.items.cend(),
        [](GraphicsItem *item) { return item->itemType() == GraphicsItem::TextItemType; });
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
    if (select && job.placement == Placement::PlacedAndPacked) {
        switch (m_settings->intValue(QStringLiteral("SelectNewPackMethod"))) {
        case 1:
            arrange(job.items, AlignCommand::GridByName);
            break;
        case 2:
            arrange(job.items, AlignCommand::GridByOrder);
            break;
        default:
            arrange(job.items, AlignCommand::Pack);
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
    // The items are on the scene already: the command takes them into the history as they are.
    if (undoable)
        m_commands->push(new AddCommand(m_scene, job.items, AddCommand::AlreadyAdded));
    if (select) {
        for (GraphicsItem *item : job.items)
            item->setSelected(true);
    }
}

void JobController::arrange(const QList<GraphicsItem *> &items, int mode)
{
    if (items.size() < 2)
        return;
    const float aspect = m_host.viewAspect ? m_host.viewAspect() : 1.0f;
    // Not a command of its own: the addition that follows takes the items as they are.
    AlignCommand command(
        items, mode, m_settings->intValue(QStringLiteral("Alignment Padding")), aspect);
    command.finish();
    command.redo();
}
