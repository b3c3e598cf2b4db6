#include "app/idlememorytrim.h"

#include "platform/platform.h"

#include <QPixmapCache>
#include <QTimer>

#include <utility>

IdleMemoryTrim::IdleMemoryTrim(std::function<bool()> isIdle, QObject *parent)
    : QObject(parent)
    , m_isIdle(std::move(isIdle))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(500);
    connect(m_timer, &QTimer::timeout, this, &IdleMemoryTrim::trim);
}

void IdleMemoryTrim::schedule()
{
    m_timer->start();
}

void IdleMemoryTrim::trim()
{
    if (!m_isIdle())
        return;
    // Only the toolkit draws into its pixmap cache (icons, pieces of the style), under keys made
    // from each icon's pixmaps. A file dialog makes its icons anew each time it opens, and their
    // copies stay until the cache is left unchanged for half a minute, which a board in use never
    // does. Each costs only a repaint to make again.
    QPixmapCache::clear();
    Platform::returnFreedHeapPages();
}
