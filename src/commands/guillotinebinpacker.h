#pragma once

#include <QRectF>
#include <QVector>

#include <set>
#include <unordered_map>
#include <vector>

// Guillotine bin packing without rotation: best short side fit chooses the free rectangle, the
// split that leaves the smaller of the two pieces as wide as possible (minimise area) cuts it, and
// free rectangles that line up exactly are merged after every insertion.
//
// The free list is kept in insertion order, because the fit and the merge both break ties by that
// order. Merging is the costly part when done literally (every pair after every insertion); here
// only rectangles whose geometry changed are looked at, through exact-edge hash maps, which gives
// the same free list as the pairwise pass. Plain value type, any thread.
class GuillotineBinPacker {
public:
    // What an insertion that found no room lacked: the width or the height, and by how much.
    struct Shortfall {
        bool width = false;
        double amount = 0;
    };

    GuillotineBinPacker();
    GuillotineBinPacker(double width, double height);

    void reset(double width, double height);
    // Places a width by height rectangle and returns true with where it went. When no free
    // rectangle is large enough, placed becomes (0, 0, 0, 0) and shortfall names the smaller of
    // the width and height shortfalls.
    bool insert(double width, double height, QRectF *placed, Shortfall *shortfall = nullptr);

    double binWidth() const { return m_binWidth; }
    double binHeight() const { return m_binHeight; }
    QVector<QRectF> freeRectangles() const;
    const QVector<QRectF> &usedRectangles() const { return m_used; }

private:
    struct Free {
        double x, y, w, h;
        int id; // insertion order; the list is sorted by it
    };
    struct EdgeKey {
        double along, extent, edge;
        bool operator==(const EdgeKey &other) const
        {
            return along == other.along && extent == other.extent && edge == other.edge;
        }
    };
    struct EdgeKeyHash {
        size_t operator()(const EdgeKey &key) const;
    };
    using EdgeMap = std::unordered_multimap<EdgeKey, int, EdgeKeyHash>;

    int addFree(double x, double y, double w, double h);
    void removeFree(int id);
    int positionOf(int id) const;
    void indexEdges(const Free &rect);
    void unindexEdges(const Free &rect);
    std::vector<int> partnersOf(const Free &rect) const;
    void notePartners(const Free &rect);
    void mergeFreeList();

    double m_binWidth = 0;
    double m_binHeight = 0;
    std::vector<Free> m_free;
    int m_nextId = 0;
    QVector<QRectF> m_used;
    // Edges of the free rectangles, to find merge partners without scanning: a rectangle
    // (x, y, w, h) is filed under its top (x, w, y), bottom (x, w, y + h), left (y, h, x) and
    // right (y, h, x + w) edge.
    EdgeMap m_tops, m_bottoms, m_lefts, m_rights;
    // Ids of rectangles that may be the earlier one of a mergeable pair. Every such pair has its
    // earlier member here; entries can be stale.
    std::set<int> m_pending;
};
