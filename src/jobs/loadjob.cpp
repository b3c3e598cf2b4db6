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
