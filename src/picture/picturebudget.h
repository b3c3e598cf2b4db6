#pragma once

#include <QMutex>
#include <QtGlobal>

#include <functional>
#include <list>
#include <unordered_map>

// Keeps the decoded detail of pictures (full pixels, large levels: whatever can be decoded again
// from the picture's source) under a memory limit. An owner charges an entry when its pixels
// arrive, touches it whenever it is shown and releases it when it lets the pixels go. trim() drops
// the least recently shown entries until the total fits, except those the caller says are on
// screen: they are never dropped, so the total may stay above the limit while they are shown.
// Spare blocks that freed pictures leave for reuse count against the limit too, and go first,
// and so do reservations: the bytes of decodings under way, which are in memory before their
// owners can charge them.
//
// Thread-safe; the drop callbacks run on the thread that calls trim() (the GUI thread), outside
// the budget's lock, and release their entry when they let the pixels go.
class PictureBudget {
public:
    using Key = const void *;

    static PictureBudget &instance();
    // A quarter of the machine's memory, at least 512 MiB.
    static qint64 defaultLimit();

    qint64 limit() const;
    void setLimit(qint64 bytes);
    // Charged entries, reservations and the spare blocks kept for reuse: what the budget holds
    // to its limit.
    qint64 bytesInUse() const;
    qint64 chargedBytes() const;

    // Adds the entry, or changes its size, and makes it the most recently shown.
    void charge(Key key, qint64 bytes, std::function<void()> drop);
    void touch(Key key);
    // Counts bytes about to be decoded until cancelled, when their owner charges them or lets
    // them go.
    void reserve(qint64 bytes);
    void cancelReservation(qint64 bytes);
    void release(Key key);
    bool contains(Key key) const;

    // Drops least recently shown entries until bytesInUse() fits the limit; entries for which
    // onScreen is true stay. Returns how many were dropped.
    int trim(const std::function<bool(Key)> &onScreen = {});
    bool isOverLimit() const;

private:
    struct Entry {
        Key key;
        qint64 bytes;
        std::function<void()> drop;
    };

    mutable QMutex m_mutex;
    // Least recently shown first.
    std::list<Entry> m_order;
    std::unordered_map<Key, std::list<Entry>::iterator> m_entries;
    qint64 m_charged = 0;
    qint64 m_reserved = 0;
    qint64 m_limit = defaultLimit();
};
