#include "platform/workpools.h"

#include <QMutex>
#include <QThread>
#include <QThreadPool>

namespace {

struct PoolState {
    QMutex mutex;
    int foregroundJobs = 0;
    // What the pool goes back to when the last waited-for job ends.
    int backgroundThreads = 0;
};

PoolState &state()
{
    static PoolState pools;
    return pools;
}

} // namespace

void WorkPools::configure()
{
    PoolState &pools = state();
    QMutexLocker locker(&pools.mutex);
    pools.backgroundThreads = qMax(1, QThread::idealThreadCount() - 1);
    if (pools.foregroundJobs == 0)
        QThreadPool::globalInstance()->setMaxThreadCount(pools.backgroundThreads);
}

WorkPools::Foreground::Foreground()
{
    PoolState &pools = state();
    QMutexLocker locker(&pools.mutex);
    if (pools.foregroundJobs++ > 0)
        return;
    QThreadPool *pool = QThreadPool::globalInstance();
    if (pools.backgroundThreads == 0)
        pools.backgroundThreads = pool->maxThreadCount();
    pool->setMaxThreadCount(qMax(pools.backgroundThreads, QThread::idealThreadCount()));
}

WorkPools::Foreground::~Foreground()
{
    PoolState &pools = state();
    QMutexLocker locker(&pools.mutex);
    if (--pools.foregroundJobs == 0)
        QThreadPool::globalInstance()->setMaxThreadCount(pools.backgroundThreads);
}
