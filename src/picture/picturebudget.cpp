#include "picture/picturebudget.h"

#include "platform/picturememory.h"

#include <algorithm>
#include <unistd.h>
#include <vector>

PictureBudget &PictureBudget::instance()
{
    // Never destroyed: pictures may be released while the program's statics are torn down.
    static auto *budget = new PictureBudget;
    return *budget;
}

qint64 PictureBudget::defaultLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const qint64 physical = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 0;
    return std::max(physical / 4, qint64(512) << 20);
}

qint64 PictureBudget::limit() const
{
    QMutexLocker locker(&m_mutex);
    return m_limit;
}

void PictureBudget::setLimit(qint64 bytes)
{
    QMutexLocker locker(&m_mutex);
    m_limit = std::max<qint64>(bytes, 0);
}

qint64 PictureBudget::chargedBytes() const
{
    QMutexLocker locker(&m_mutex);
    return m_charged;
}

qint64 PictureBudget::bytesInUse() const
{
    qint64 held;
    {
        QMutexLocker locker(&m_mutex);
        held = m_charged + m_reserved;
    }
    return held + qint64(PictureMemory::spareBytes());
}

void PictureBudget::reserve(qint64 bytes)
{
    QMutexLocker locker(&m_mutex);
    m_reserved += std::max<qint64>(bytes, 0);
}

void PictureBudget::cancelReservation(qint64 bytes)
{
    QMutexLocker locker(&m_mutex);
    m_reserved = std::max<qint64>(m_reserved - std::max<qint64>(bytes, 0), 0);
}

bool PictureBudget::isOverLimit() const
{
    return bytesInUse() > limit();
}

void PictureBudget::charge(Key key, qint64 bytes, std::function<void()> drop)
{
    QMutexLocker locker(&m_mutex);
    const auto found = m_entries.find(key);
    if (found != m_entries.end()) {
        m_charged -= found->second->bytes;
        m_order.erase(found->second);
    }
    m_order.push_back({ key, bytes, std::move(drop) });
    m_entries[key] = std::prev(m_order.end());
    m_charged += bytes;
}

void PictureBudget::touch(Key key)
{
    QMutexLocker locker(&m_mutex);
    const auto found = m_entries.find(key);
    if (found != m_entries.end())
        m_order.splice(m_order.end(), m_order, found->second);
}

void PictureBudget::release(Key key)
{
    QMutexLocker locker(&m_mutex);
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return;
    m_charged -= found->second->bytes;
    m_order.erase(found->second);
    m_entries.erase(found);
}

bool PictureBudget::contains(Key key) const
{
    QMutexLocker locker(&m_mutex);
    return m_entries.count(key) != 0;
}

int PictureBudget::trim(const std::function<bool(Key)> &onScreen)
{
    if (!isOverLimit())
        return 0;
    // Spares are memory nobody shows.
    PictureMemory::releaseSpares();
    qint64 excess = bytesInUse() - limit();
    if (excess <= 0)
        return 0;

    std::vector<std::pair<Key, std::function<void()>>> victims;
    {
        QMutexLocker locker(&m_mutex);
        for (const Entry &entry : m_order) {
            if (excess <= 0)
                break;
            if (onScreen && onScreen(entry.key))
                continue;
            victims.emplace_back(entry.key, entry.drop);
            excess -= entry.bytes;
        }
    }
    // Outside the lock: a drop releases its entry, and may free pixels that give spares back.
    // An entry that could not let go goes to the back of the line.
    int dropped = 0;
    for (auto &victim : victims) {
        if (victim.second)
            victim.second();
        if (contains(victim.first))
            touch(victim.first);
        else
            ++dropped;
    }
    // What was dropped went to the spares, whose pages stay resident until given back.
    if (isOverLimit())
        PictureMemory::releaseSpares();
    return dropped;
}
