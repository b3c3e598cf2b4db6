#include "graphicsimagegenerator.h"

GraphicsImageGenerator::GraphicsImageGenerator(GraphicsImageItem *owner)
    : m_owner(owner)
{
}

GraphicsImageGenerator::~GraphicsImageGenerator()
{
    Q_ASSERT(!isBusy());
}

void GraphicsImageGenerator::prepare(const QImage &source)
{
    Q_ASSERT(!isBusy());
    clearResult();
    m_source = source;
    m_busy.storeRelease(1);
    m_state.storeRelease(Queued);
}

void GraphicsImageGenerator::reset()
{
    m_source = QImage();
    clearResult();
    m_busy.storeRelease(0);
    m_state.storeRelease(Idle);
}

void GraphicsImageGenerator::beginRun()
{
    // Acquire pairs with the release in prepare(), so the source assigned there is visible here
    // without relying on the pool's own locking.
    m_state.fetchAndStoreAcquire(Running);
}

void GraphicsImageGenerator::endRun()
{
    m_source = QImage();
    m_state.storeRelease(Done);
    emit finished();
    // After this store the owner may delete the job at any moment.
    m_busy.storeRelease(0);
}
