#pragma once

#include "scene/itemrecord.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointF>

#include <functional>
#include <memory>

class BaseLoader;
class CommandHandler;
class GeneralSettings;
class GraphicsItem;
class GraphicsScene;
class ItemBuilder;
class LoadJob;
class ProgressDialog;
class ProgressEntry;
class QTimer;
class QWidget;

// Follows the loaders' jobs from their start to their end: counts those running, shows each in
// the progress display once jobs make the user wait, builds the items of the records they
// generate and puts them on the board at once, and when a job ends places its items (packed,
// centred, attached to the selected picture) and makes them one undoable addition.
//
// Threads: GUI thread only; the loaders on the worker thread reach it by queued signals.
class JobController : public QObject {
    Q_OBJECT

public:
    // What becomes of the items a loader's jobs generate once the job has ended.
    enum class Placement { AsRead, Placed, PlacedAndPacked };

    // What it needs of the window it works for.
    struct Host {
        // The progress display's parent: it appears over the middle of this window.
        QWidget *window = nullptr;
        std::function<void(QWidget *display)> registerWindow;
        // False while no one watches (scripts): no progress display then.
        std::function<bool()> showsProgress;
        // Width over height of the view, for packing new items.
        std::function<float()> viewAspect;
    };

    JobController(GraphicsScene *scene, CommandHandler *commands, GeneralSettings *settings,
        Host host, QObject *parent = nullptr);
    ~JobController() override;

    void follow(BaseLoader *loader, Placement placement, bool undoable);
    // A job followed from its start to its end, and deleted afterwards.
    LoadJob *createJob(BaseLoader *loader);
    // The job's items, packed or not, end centred on this scene point.
    void centreItems(LoadJob *job, const QPointF &centre);
    int runningJobs() const { return m_runningJobs; }
    // No job asked for, running or still to report its end.
    bool isIdle() const { return m_jobs.isEmpty() && m_runningJobs == 0; }
    QList<LoadJob *> jobs() const { return m_jobs.keys(); }

public slots:
    void jobStarted(const QString &operationName, LoadJob *job);
    void jobFinished(const QString &message, const QString &details, LoadJob *job);

signals:
    void runningChanged(int running);
    // The job has ended and its items are on the board; loader is null for a job that a loader
    // made for itself. The job is deleted later.
    void finished(const QString &message, const QString &details, LoadJob *job, BaseLoader *loader);

private:
    struct JobInfo {
        BaseLoader *loader = nullptr;
        QList<GraphicsItem *> items;
        // Shared by the items of one job, so that records showing the same pixels share them.
        std::shared_ptr<ItemBuilder> builder;
        QList<GraphicsItem *> selectionAtStart;
        Placement placement = Placement::AsRead;
        bool centreItems = false;
        QPointF centre;
    };
    struct Followed {
        Placement placement = Placement::AsRead;
        bool undoable = false;
    };

    void showProgress(const QString &operationName, LoadJob *job);
    void setProgressRange(int minimum, int maximum, LoadJob *job);
    void setProgress(int value, LoadJob *job);
    void setProgressMessage(const QString &message, LoadJob *job);
    void itemGenerated(const ItemRecord &record, LoadJob *job);
    void placeNewItems(const JobInfo &job, bool undoable);
    void arrange(const QList<GraphicsItem *> &items, int mode);

    GraphicsScene *m_scene;
    CommandHandler *m_commands;
    GeneralSettings *m_settings;
    Host m_host;
    int m_runningJobs = 0;
    QHash<LoadJob *, JobInfo> m_jobs;
    QHash<BaseLoader *, Followed> m_loaders;
    ProgressDialog *m_progress = nullptr;
    QTimer *m_progressDelay = nullptr;
    QHash<LoadJob *, ProgressEntry *> m_progressEntries;
};
