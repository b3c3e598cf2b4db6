#include "graphicsimagegenerator.h"

#include "platform/workpools.h"

#include <QRunnable>
#include <QThreadPool>

GraphicsImageGenerator::GraphicsImageGenerator() = default;

GraphicsImageGenerator::~GraphicsImageGenerator()
{
    Q_ASSERT(state() != Running);
}

void GraphicsImageGenerator::prepare(const QImage &source)
{
    Q_ASSERT(state() == Idle);
    m_source = source;
    m_state.storeRelease(Queued);
}

void GraphicsImageGenerator::start(const std::shared_ptr<GraphicsImageGenerator> &job)
{
    QThreadPool::globalInstance()->start(
        QRunnable::create([job] { job->run(); }), WorkPools::BackgroundPriority);
}

bool GraphicsImageGenerator::beginRun()
{
    // Acquire pairs with the release in prepare(), so the source assigned there is visible here
    // without relying on the pool's own locking.
    m_state.fetchAndStoreAcquire(Running);
    if (!isCanceled())
        return true;
    m_source = QImage();
    m_state.storeRelease(Done);
    return false;
}

void GraphicsImageGenerator::endRun()
{
    m_source = QImage();
    m_state.storeRelease(Done);
    if (!isCanceled())
        emit finished();
}
