#pragma once

#include "scene/itemrecord.h"

#include <QObject>

class LoadJob;

// Base of every loader that runs on the loader thread (images, scene files, relinking, the
// clipboard, export). Each report goes out twice: first on the job, then on the loader with the
// job as last argument, so a caller may follow one job or everything the loader does.
class BaseLoader : public QObject {
    Q_OBJECT

public:
    explicit BaseLoader(QObject *parent = nullptr);

    // The job to report to: the given one, or a new one that deletes itself once finished, for
    // operations called without a job.
    LoadJob *ensureJob(LoadJob *job);

    void reportStarted(LoadJob *job, const QString &operationName);
    void reportProgressRange(LoadJob *job, int min, int max);
    void reportProgress(LoadJob *job, int value);
    void reportProgressMessage(LoadJob *job, const QString &message);
    // Hands one new item (with the items attached to it) to whoever builds it on the GUI thread.
    void reportItem(LoadJob *job, const ItemRecord &record);
    void reportFinished(
        LoadJob *job, const QString &message = QString(), const QString &details = QString());

signals:
    void started(const QString &operationName, LoadJob *loadJob);
    void progressRangeChanged(int min, int max, LoadJob *loadJob);
    void progressChanged(int value, LoadJob *loadJob);
    void progressMessage(const QString &message, LoadJob *loadJob);
    void itemGenerated(const ItemRecord &record, LoadJob *loadJob);
    void finished(const QString &message, const QString &details, LoadJob *loadJob);
};
