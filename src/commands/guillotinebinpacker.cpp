#include "guillotinebinpacker.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

size_t GuillotineBinPacker::EdgeKeyHash::operator()(const EdgeKey &key) const
{
    // std::hash<double> maps 0.0 and -0.0 alike, as the exact comparisons treat them.
    const std::hash<double> hash;
    size_t seed = hash(key.along);
    seed ^= hash(key.extent) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    seed ^= hash(key.edge) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}

GuillotineBinPacker::GuillotineBinPacker() = default;

GuillotineBinPacker::GuillotineBinPacker(double width, double height)
{
    reset(width, height);
}

void GuillotineBinPacker::reset(double width, double height)
{
    m_binWidth = width;
    m_binHeight = height;
    m_free.clear();
    m_nextId = 0;
    m_used.clear();
    m_tops.clear();
    m_bottoms.clear();
    m_lefts.clear();
    m_rights.clear();
    m_pending.clear();
    addFree(0, 0, width, height);
}

QVector<QRectF> GuillotineBinPacker::freeRectangles() const
{
    QVector<QRectF> result;
    result.reserve(int(m_free.size()));
    for (const Free &f : m_free)
        result.append(QRectF(f.x, f.y, f.w, f.h));
    return result;
}

bool GuillotineBinPacker::insert(double w, double h, QRectF *placed, Shortfall *shortfall)
{
    constexpr double none = std::numeric_limits<double>::infinity();
    *placed = QRectF(0, 0, 0, 0);
    if (!(w >= 0 && h >= 0)) {
        if (shortfall)
            *shortfall = Shortfall();
        return false;
    }

    int best = -1;
    double bestScore = none;
    double widthShort = none;
    double heightShort = none;
    for (int i = 0; i < int(m_free.size()); ++i) {
        const Free &f = m_free[size_t(i)];
        if (f.w == w && f.h == h) {
            best = i;
            break;
        }
        if (f.w >= w && f.h >= h) {
            const double score = std::min(std::abs(f.w - w), std::abs(f.h - h));
            if (score < bestScore) {
                bestScore = score;
                best = i;
            }
        } else {
            if (w - f.w > 0)
                widthShort = std::min(widthShort, w - f.w);
            if (h - f.h > 0)
                heightShort = std::min(heightShort, h - f.h);
        }
    }

    if (best < 0) {
        if (shortfall) {
            shortfall->width = heightShort > widthShort;
            shortfall->amount = std::min(widthShort, heightShort);
        }
        return false;
    }

    const Free f = m_free[size_t(best)];
    const bool horizontal = w * (f.h - h) > (f.w - w) * h;
    removeFree(f.id);
    const double bottomWidth = horizontal ? f.w : w;
    const double rightHeight = horizontal ? h : f.h;
    if (bottomWidth > 0 && f.h - h > 0)
        addFree(f.x, f.y + h, bottomWidth, f.h - h);
    if (f.w - w > 0 && rightHeight > 0)
        addFree(f.x + w, f.y, f.w - w, rightHeight);
    mergeFreeList();

    *placed = QRectF(f.x, f.y, w, h);
    m_used.append(*placed);
    return true;
}

int GuillotineBinPacker::addFree(double x, double y, double w, double h)
{
    const Free rect { x, y, w, h, m_nextId++ };
    m_free.push_back(rect);
    indexEdges(rect);
    notePartners(rect);
    return rect.id;
}

int GuillotineBinPacker::positionOf(int id) const
{
    const auto it = std::lower_bound(
        m_free.begin(), m_free.end(), id, [](const Free &f, int value) { return f.id < value; });
    return it != m_free.end() && it->id == id ? int(it - m_free.begin()) : -1;
}

void GuillotineBinPacker::removeFree(int id)
{
    const int pos = positionOf(id);
    if (pos < 0)
        return;
    unindexEdges(m_free[size_t(pos)]);
    m_free.erase(m_free.begin() + pos);
}

void GuillotineBinPacker::indexEdges(const Free &r)
{
    m_tops.emplace(EdgeKey { r.x, r.w, r.y }, r.id);
    m_bottoms.emplace(EdgeKey { r.x, r.w, r.y + r.h }, r.id);
    m_lefts.emplace(EdgeKey { r.y, r.h, r.x }, r.id);
    m_rights.emplace(EdgeKey { r.y, r.h, r.x + r.w }, r.id);
}

void GuillotineBinPacker::unindexEdges(const Free &r)
{
    const auto erase = [&r](EdgeMap &map, const EdgeKey &key) {
        auto range = map.equal_range(key);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == r.id) {
                map.erase(it);
                return;
            }
        }
    };
    erase(m_tops, EdgeKey { r.x, r.w, r.y });
    erase(m_bottoms, EdgeKey { r.x, r.w, r.y + r.h });
    erase(m_lefts, EdgeKey { r.y, r.h, r.x });
    erase(m_rights, EdgeKey { r.y, r.h, r.x + r.w });
}

std::vector<int> GuillotineBinPacker::partnersOf(const Free &r) const
{
    std::vector<int> result;
    const auto collect = [&](const EdgeMap &map, const EdgeKey &key) {
        auto range = map.equal_range(key);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second != r.id)
                result.push_back(it->second);
        }
    };
    // Same x and width, one directly above or below; same y and height, one directly left or
    // right. Free rectangles never overlap, so each edge names at most one partner in practice.
    collect(m_bottoms, EdgeKey { r.x, r.w, r.y });
    collect(m_tops, EdgeKey { r.x, r.w, r.y + r.h });
    collect(m_rights, EdgeKey { r.y, r.h, r.x });
    collect(m_lefts, EdgeKey { r.y, r.h, r.x + r.w });
    return result;
}

void GuillotineBinPacker::notePartners(const Free &r)
{
    for (int partner : partnersOf(r))
        m_pending.insert(std::min(partner, r.id));
}

// The pass this reproduces: for each free rectangle a in list order, for each later rectangle b in
// list order, merge b into a when they line up (a keeps growing, so b is compared with the grown
// a, and the rectangles before b are not looked at again). A pair that lines up only after the
// later one has had its turn waits for the next insertion's pass.
void GuillotineBinPacker::mergeFreeList()
{
    int cursor = -1;
    for (;;) {
        const auto next = m_pending.upper_bound(cursor);
        if (next == m_pending.end())
            break;
        const int aId = *next;
        m_pending.erase(next);
        cursor = aId;
        const int pos = positionOf(aId);
        if (pos < 0)
            continue;
        int scanned = aId;
        for (;;) {
            Free &a = m_free[size_t(pos)];
            int bId = std::numeric_limits<int>::max();
            for (int partner : partnersOf(a)) {
                if (partner > scanned)
                    bId = std::min(bId, partner);
            }
            if (bId == std::numeric_limits<int>::max())
                break;
            const Free b = m_free[size_t(positionOf(bId))];
            unindexEdges(a);
            if (a.w == b.w && a.x == b.x) {
                if (a.y == b.y + b.h)
                    a.y = b.y;
                a.h += b.h;
            } else {
                if (a.x == b.x + b.w)
                    a.x = b.x;
                a.w += b.w;
            }
            // b comes later in the list, so removing it leaves a's position alone.
            removeFree(bId);
            Free &grown = m_free[size_t(pos)];
            indexEdges(grown);
            notePartners(grown);
            scanned = bId;
        }
    }
}
