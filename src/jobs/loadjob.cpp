#include "jobs/loadjob.h"

LoadJob::LoadJob(BaseLoader *loader, QObject *parent)
    : QObject(parent)
    , m_loader(loader)
{
}

void LoadJob::cancel()
{
    m_canceled.exchange(true, std::memory_order_acq_rel);
    emit canceledCalled();
}

void LoadJob::discard()
{
    // Set before the cancel, so that whoever sees the job cancelled sees it discarded too.
    m_discarded.store(true, std::memory_order_release);
    cancel();
}
