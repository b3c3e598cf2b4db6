#pragma once

#include <QRectF>
#include <QVector>

#include <cstdint>
#include <random>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

// Guillotine bin packing without rotation: best short side fit chooses the free rectangle, the
// split that makes one large free piece and one small (minimise area) cuts it, and free
// rectangles that line up exactly are merged after every insertion.
//
// The free list is in insertion order, because the fit and the merge both break ties by that
// order. Done literally, both scan the whole list at every insertion, which makes packing a large
// board quadratic. Here the fit asks two search trees (free rectangles by width and by height,
// each knowing the largest other side below it) and the merge looks only at rectangles whose
// geometry changed, through exact-edge hash maps; the choices are the literal ones. Plain value
// type, any thread.
class GuillotineBinPacker {
public:
    // What an insertion that found no room lacked: the width or the height, and by how much.
    struct Shortfall {
        bool width = false;
        double amount = 0;
    };

    GuillotineBinPacker();
    GuillotineBinPacker(double width, double height);
    ~GuillotineBinPacker();

    void reset(double width, double height);
    // Places a width by height rectangle and returns true with where it went. When no free
    // rectangle is large enough, placed becomes (0, 0, 0, 0) and shortfall names the smaller of
    // the width and height shortfalls.
    bool insert(double width, double height, QRectF *placed, Shortfall *shortfall = nullptr);

    double binHeight() const { return m_binHeight; }
    // In list order.
    QVector<QRectF> freeRectangles() const;

private:
    // A free rectangle; its id is its place in the insertion order and its index in m_rects.
    struct Free {
        double x, y, w, h;
        bool alive;
    };

    // Free rectangles ordered by one side (then id), each subtree knowing the largest other side
    // in it: "the first one at least this long whose other side is at least that long" is a
    // walk down one path.
    class SideTree {
    public:
        void clear();
        void insert(double side, int id, double otherSide);
        void erase(double side, int id);
        // Id of the first rectangle in (side, id) order with side >= minSide and other side >=
        // minOther, or -1.
        int firstFitting(double minSide, double minOther) const;

    private:
        struct Node {
            double side;
            double other;
            double maxOther;
            int id;
            std::uint32_t priority;
            int left, right;
        };
        void pull(int n);
        void split(int n, double side, int id, int &lower, int &upper);
        int join(int lower, int upper);
        int firstFitting(int n, double minSide, double minOther) const;

        std::vector<Node> m_nodes;
        std::vector<int> m_spare;
        int m_root = -1;
        std::minstd_rand m_random;
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
    struct SizeHash {
        size_t operator()(const std::pair<double, double> &size) const;
    };

    int chooseFree(double w, double h) const;
    void reportShortfall(double w, double h, Shortfall *shortfall) const;
    int addFree(double x, double y, double w, double h);
    void removeFree(int id);
    void index(int id);
    void unindex(int id);
    std::vector<int> partnersOf(int id) const;
    void notePartners(int id);
    void mergeFreeList();

    double m_binHeight = 0;
    std::vector<Free> m_rects;
    SideTree m_byWidth, m_byHeight;
    // Ids of the free rectangles of each exact size, for the exact fit that wins at once.
    std::unordered_map<std::pair<double, double>, std::set<int>, SizeHash> m_bySize;
    // Edges of the free rectangles, to find merge partners without scanning: a rectangle
    // (x, y, w, h) is filed under its top (x, w, y), bottom (x, w, y + h), left (y, h, x) and
    // right (y, h, x + w) edge.
    EdgeMap m_tops, m_bottoms, m_lefts, m_rights;
    // Ids of rectangles that may be the earlier one of a mergeable pair. Every such pair has its
    // earlier member here; entries can be stale.
    std::set<int> m_pending;
};
