#include "guillotinebinpacker.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace {

size_t combine(size_t seed, size_t value)
{
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

} // namespace

// std::hash<double> maps 0.0 and -0.0 alike, as the exact comparisons treat them.
size_t GuillotineBinPacker::EdgeKeyHash::operator()(const EdgeKey &key) const
{
    const std::hash<double> hash;
    return combine(combine(hash(key.along), hash(key.extent)), hash(key.edge));
}

size_t GuillotineBinPacker::SizeHash::operator()(const std::pair<double, double> &size) const
{
    const std::hash<double> hash;
    return combine(hash(size.first), hash(size.second));
}

void GuillotineBinPacker::SideTree::clear()
{
    m_nodes.clear();
    m_spare.clear();
    m_root = -1;
}

void GuillotineBinPacker::SideTree::pull(int n)
{
    Node &node = m_nodes[size_t(n)];
    node.maxOther = node.other;
    if (node.left >= 0)
        node.maxOther = std::max(node.maxOther, m_nodes[size_t(node.left)].maxOther);
    if (node.right >= 0)
        node.maxOther = std::max(node.maxOther, m_nodes[size_t(node.right)].maxOther);
}

// lower: the nodes ordered before (side, id); upper: the rest.
void GuillotineBinPacker::SideTree::split(int n, double side, int id, int &lower, int &upper)
{
    if (n < 0) {
        lower = upper = -1;
        return;
    }
    const Node &node = m_nodes[size_t(n)];
    int l, u;
    if (node.side < side || (node.side == side && node.id < id)) {
        split(node.right, side, id, l, u);
        m_nodes[size_t(n)].right = l;
        pull(n);
        lower = n;
        upper = u;
    } else {
        split(node.left, side, id, l, u);
        m_nodes[size_t(n)].left = u;
        pull(n);
        lower = l;
        upper = n;
    }
}

// Every node of lower is ordered before every node of upper.
int GuillotineBinPacker::SideTree::join(int lower, int upper)
{
    if (lower < 0)
        return upper;
    if (upper < 0)
        return lower;
    if (m_nodes[size_t(lower)].priority > m_nodes[size_t(upper)].priority) {
        const int right = join(m_nodes[size_t(lower)].right, upper);
        m_nodes[size_t(lower)].right = right;
        pull(lower);
        return lower;
    }
    const int left = join(lower, m_nodes[size_t(upper)].left);
    m_nodes[size_t(upper)].left = left;
    pull(upper);
    return upper;
}

void GuillotineBinPacker::SideTree::insert(double side, int id, double otherSide)
{
    int n;
    const Node node { side, otherSide, otherSide, id, std::uint32_t(m_random()), -1, -1 };
    if (m_spare.empty()) {
        n = int(m_nodes.size());
        m_nodes.push_back(node);
    } else {
        n = m_spare.back();
        m_spare.pop_back();
        m_nodes[size_t(n)] = node;
    }
    int lower, upper;
    split(m_root, side, id, lower, upper);
    m_root = join(join(lower, n), upper);
}

void GuillotineBinPacker::SideTree::erase(double side, int id)
{
    int lower, rest, match, upper;
    split(m_root, side, id, lower, rest);
    split(rest, side, id + 1, match, upper);
    if (match >= 0)
        m_spare.push_back(match);
    m_root = join(lower, upper);
}

int GuillotineBinPacker::SideTree::firstFitting(double minSide, double minOther) const
{
    return firstFitting(m_root, minSide, minOther);
}

// Follows the boundary of minSide down one path; a subtree entirely at or beyond it is entered
// only when its largest other side fits, and then holds a match.
int GuillotineBinPacker::SideTree::firstFitting(int n, double minSide, double minOther) const
{
    if (n < 0 || m_nodes[size_t(n)].maxOther < minOther)
        return -1;
    const Node &node = m_nodes[size_t(n)];
    if (node.side < minSide)
        return firstFitting(node.right, minSide, minOther);
    const int inLeft = firstFitting(node.left, minSide, minOther);
    if (inLeft >= 0)
        return inLeft;
    if (node.other >= minOther)
        return node.id;
    return firstFitting(node.right, minSide, minOther);
}

GuillotineBinPacker::GuillotineBinPacker() = default;

GuillotineBinPacker::GuillotineBinPacker(double width, double height)
{
    reset(width, height);
}

GuillotineBinPacker::~GuillotineBinPacker() = default;

void GuillotineBinPacker::reset(double width, double height)
{
    m_binHeight = height;
    m_rects.clear();
    m_byWidth.clear();
    m_byHeight.clear();
    m_bySize.clear();
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
    for (const Free &f : m_rects) {
        if (f.alive)
            result.append(QRectF(f.x, f.y, f.w, f.h));
    }
    return result;
}

// The literal choice: the first free rectangle of exactly the size wins at once; otherwise the
// one whose smaller leftover side is smallest, the earliest of equals. That leftover is the
// smallest fitting width's or the smallest fitting height's, so only rectangles of those widths
// or heights can win.
int GuillotineBinPacker::chooseFree(double w, double h) const
{
    const auto exact = m_bySize.find({ w, h });
    if (exact != m_bySize.end() && !exact->second.empty())
        return *exact->second.begin();

    const int narrowest = m_byWidth.firstFitting(w, h);
    if (narrowest < 0)
        return -1;
    const int lowest = m_byHeight.firstFitting(h, w);
    const double widthLeft = m_rects[size_t(narrowest)].w - w;
    const double heightLeft = m_rects[size_t(lowest)].h - h;
    const double best = std::min(widthLeft, heightLeft);
    constexpr double beyond = std::numeric_limits<double>::infinity();
    int chosen = std::numeric_limits<int>::max();
    // Rounding can make a slightly longer side leave the same amount, so walk on while it does.
    if (widthLeft == best) {
        for (int id = narrowest; id >= 0 && m_rects[size_t(id)].w - w == best;
             id = m_byWidth.firstFitting(std::nextafter(m_rects[size_t(id)].w, beyond), h))
            chosen = std::min(chosen, id);
    }
    if (heightLeft == best) {
        for (int id = lowest; id >= 0 && m_rects[size_t(id)].h - h == best;
             id = m_byHeight.firstFitting(std::nextafter(m_rects[size_t(id)].h, beyond), w))
            chosen = std::min(chosen, id);
    }
    return chosen;
}

void GuillotineBinPacker::reportShortfall(double w, double h, Shortfall *shortfall) const
{
    constexpr double none = std::numeric_limits<double>::infinity();
    double widthShort = none;
    double heightShort = none;
    for (const Free &f : m_rects) {
        if (!f.alive || (f.w >= w && f.h >= h))
            continue;
        if (w - f.w > 0)
            widthShort = std::min(widthShort, w - f.w);
        if (h - f.h > 0)
            heightShort = std::min(heightShort, h - f.h);
    }
    shortfall->width = heightShort > widthShort;
    shortfall->amount = std::min(widthShort, heightShort);
}

bool GuillotineBinPacker::insert(double w, double h, QRectF *placed, Shortfall *shortfall)
{
    *placed = QRectF(0, 0, 0, 0);
    if (!(w >= 0 && h >= 0 && std::isfinite(w) && std::isfinite(h))) {
        if (shortfall)
            *shortfall = Shortfall();
        return false;
    }
    const int best = chooseFree(w, h);
    if (best < 0) {
        if (shortfall)
            reportShortfall(w, h, shortfall);
        return false;
    }

    const Free f = m_rects[size_t(best)];
    const bool horizontal = w * (f.h - h) > (f.w - w) * h;
    removeFree(best);
    const double bottomWidth = horizontal ? f.w : w;
    const double rightHeight = horizontal ? h : f.h;
    if (bottomWidth > 0 && f.h - h > 0)
        addFree(f.x, f.y + h, bottomWidth, f.h - h);
    if (f.w - w > 0 && rightHeight > 0)
        addFree(f.x + w, f.y, f.w - w, rightHeight);
    mergeFreeList();

    *placed = QRectF(f.x, f.y, w, h);
    return true;
}

int GuillotineBinPacker::addFree(double x, double y, double w, double h)
{
    const int id = int(m_rects.size());
    m_rects.push_back(Free { x, y, w, h, true });
    index(id);
    notePartners(id);
    return id;
}

void GuillotineBinPacker::removeFree(int id)
{
    unindex(id);
    m_rects[size_t(id)].alive = false;
}

void GuillotineBinPacker::index(int id)
{
    const Free &r = m_rects[size_t(id)];
    m_byWidth.insert(r.w, id, r.h);
    m_byHeight.insert(r.h, id, r.w);
    m_bySize[{ r.w, r.h }].insert(id);
    m_tops.emplace(EdgeKey { r.x, r.w, r.y }, id);
    m_bottoms.emplace(EdgeKey { r.x, r.w, r.y + r.h }, id);
    m_lefts.emplace(EdgeKey { r.y, r.h, r.x }, id);
    m_rights.emplace(EdgeKey { r.y, r.h, r.x + r.w }, id);
}

void GuillotineBinPacker::unindex(int id)
{
    const Free &r = m_rects[size_t(id)];
    m_byWidth.erase(r.w, id);
    m_byHeight.erase(r.h, id);
    const auto size = m_bySize.find({ r.w, r.h });
    if (size != m_bySize.end()) {
        size->second.erase(id);
        if (size->second.empty())
            m_bySize.erase(size);
    }
    const auto erase = [id](EdgeMap &map, const EdgeKey &key) {
        auto range = map.equal_range(key);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == id) {
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

std::vector<int> GuillotineBinPacker::partnersOf(int id) const
{
    const Free &r = m_rects[size_t(id)];
    std::vector<int> result;
    const auto collect = [&](const EdgeMap &map, const EdgeKey &key) {
        auto range = map.equal_range(key);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second != id)
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

void GuillotineBinPacker::notePartners(int id)
{
    for (int partner : partnersOf(id))
        m_pending.insert(std::min(partner, id));
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
        if (!m_rects[size_t(aId)].alive)
            continue;
        int scanned = aId;
        for (;;) {
            int bId = std::numeric_limits<int>::max();
            for (int partner : partnersOf(aId)) {
                if (partner > scanned)
                    bId = std::min(bId, partner);
            }
            if (bId == std::numeric_limits<int>::max())
                break;
            const Free b = m_rects[size_t(bId)];
            unindex(aId);
            Free &a = m_rects[size_t(aId)];
            if (a.w == b.w && a.x == b.x) {
                if (a.y == b.y + b.h)
                    a.y = b.y;
                a.h += b.h;
            } else {
                if (a.x == b.x + b.w)
                    a.x = b.x;
                a.w += b.w;
            }
            removeFree(bId);
            index(aId);
            notePartners(aId);
            scanned = bId;
        }
    }
}
