#include "jobs/baseloader.h"

#include "jobs/loadjob.h"

BaseLoader::BaseLoader(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<LoadJob *>("LoadJob*");
    // Items travel from the loader thread to the GUI thread as records.
    qRegisterMetaType<ItemRecord>("ItemRecord");
}

LoadJob *BaseLoader::ensureJob(LoadJob *job)
{
    if (job)
        return job;
    auto *ownJob = new LoadJob(this);
    connect(ownJob, &LoadJob::finished, ownJob, &QObject::deleteLater);
    return ownJob;
}

void BaseLoader::reportStarted(LoadJob *job, const QString &operationName)
{
    emit job->started(operationName);
    emit started(operationName, job);
}

void BaseLoader::reportProgressRange(LoadJob *job, int min, int max)
{
    emit job->progressRangeChanged(min, max);
    emit progressRangeChanged(min, max, job);
}

void BaseLoader::reportProgress(LoadJob *job, int value)
{
    emit job->progressChanged(value);
    emit progressChanged(value, job);
}

void BaseLoader::reportProgressMessage(LoadJob *job, const QString &message)
{
    emit progressMessage(message, job);
}

void BaseLoader::reportItem(LoadJob *job, const ItemRecord &record)
{
    emit job->itemGenerated(record);
    emit itemGenerated(record, job);
}

void BaseLoader::reportFinished(LoadJob *job, const QString &message, const QString &details)
{
    emit job->finished(message, details);
    emit finished(message, details, job);
}
