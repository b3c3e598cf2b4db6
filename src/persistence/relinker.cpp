#include "persistence/relinker.h"

#include "jobs/loadjob.h"

Relinker::Relinker(QObject *parent)
    : BaseLoader(parent)
{
    qRegisterMetaType<Relinker::Request>("Relinker::Request");
    qRegisterMetaType<QList<Relinker::Request>>("QList<Relinker::Request>");
    qRegisterMetaType<QList<int>>("QList<int>");
}

void Relinker::relink(const QList<Relinker::Request> &requests, LoadJob *loadJob)
{
    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Relinking Image"));
    reportProgressRange(job, 0, requests.size());
    for (int i = 0; i < requests.size(); ++i) {
        if (job->isCanceled())
            break;
        const Request &request = requests.at(i);
        QImage image;
        const PictureFile::LoadResult result
            = PictureFile::load(request.path, request.autoDownscale, request.maxSize, &image);
        emit imageRelinked(request.itemIds, request.path, image, result, job);
        reportProgress(job, i + 1);
    }
    reportFinished(job);
}
