#include "aligncommand.h"

#include "commands/commandslog.h"
#include "commands/guillotinebinpacker.h"
#include "scene/graphicsitem.h"

#include <QVector>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace {

bool hasAncestorIn(const GraphicsItem *item, const QSet<GraphicsItem *> &set)
{
    for (GraphicsItem *a = item->parentGraphicsItem(); a; a = a->parentGraphicsItem()) {
        if (set.contains(a))
            return true;
    }
    return false;
}

// Sorts by a key computed once per item; equal keys keep their list order.
template<typename Key, typename Less>
void sortByKey(QList<GraphicsItem *> &items, Key key, Less less)
{
    using Value = decltype(key(items.first()));
    std::vector<std::pair<Value, GraphicsItem *>> keyed;
    keyed.reserve(size_t(items.size()));
    for (GraphicsItem *item : qAsConst(items))
        keyed.emplace_back(key(item), item);
    std::stable_sort(keyed.begin(), keyed.end(),
        [&less](const auto &a, const auto &b) { return less(a.first, b.first); });
    for (int i = 0; i < items.size(); ++i)
        items[i] = keyed[size_t(i)].second;
}

} // namespace

AlignCommand::AlignCommand(const QList<GraphicsItem *> &items, int mode, int gap, float aspect)
    : m_mode(mode)
    , m_gap(gap)
    , m_aspect(std::isfinite(aspect) && aspect > 0 ? aspect : 1.0f)
{
    QList<GraphicsItem *> list = items;
    if (m_mode == Pack) {
        // Attached items travel with their parents; packing them apart would tear a note from
        // its image. Any ancestor counts, so a note on a note on a packed image stays too.
        const QSet<GraphicsItem *> all(list.cbegin(), list.cend());
        list.erase(std::remove_if(list.begin(), list.end(),
                       [&all](GraphicsItem *item) { return hasAncestorIn(item, all); }),
            list.end());
    }
    if (!list.isEmpty())
        sortItems(list);
    m_itemSet = QSet<GraphicsItem *>(list.cbegin(), list.cend());
    setItems(list, QPointF(0, 0));
}

AlignCommand::~AlignCommand() = default;

void AlignCommand::sortItems(QList<GraphicsItem *> &list) const
{
    // Edges of the align modes are compared as whole units, so items that are off by a
    // fraction keep their order.
    const auto left = [](GraphicsItem *i) { return std::trunc(i->sceneBounds().left()); };
    const auto right = [](GraphicsItem *i) { return std::trunc(i->sceneBounds().right()); };
    const auto top = [](GraphicsItem *i) { return std::trunc(i->sceneBounds().top()); };
    const auto bottom = [](GraphicsItem *i) { return std::trunc(i->sceneBounds().bottom()); };
    const auto ascending = [](double a, double b) { return a < b; };
    const auto descending = [](double a, double b) { return a > b; };
    switch (m_mode) {
    case AlignLeft:
        sortByKey(list, left, ascending);
        break;
    case AlignRight:
        sortByKey(list, right, descending);
        break;
    case AlignTop:
        sortByKey(list, top, ascending);
        break;
    case AlignBottom:
        sortByKey(list, bottom, descending);
        break;
    case GridByName:
        sortByKey(
            list, [](GraphicsItem *i) { return i->text(); },
            [](const QString &a, const QString &b) {
                return QString::compare(a, b, Qt::CaseInsensitive) < 0;
            });
        break;
    case GridByOrder:
        sortByKey(
            list, [](GraphicsItem *i) { return i->id(); }, [](int a, int b) { return a < b; });
        break;
    case Pack:
        sortByKey(
            list,
            [](GraphicsItem *i) {
                const QRectF b = i->sceneBounds();
                return b.left() + b.top();
            },
            ascending);
        break;
    default:
        break;
    }
}

QRectF AlignCommand::gapRect(const QRectF &bounds) const
{
    QRectF r = bounds;
    switch (m_mode) {
    case AlignLeft:
        r.setWidth(r.width() + m_gap);
        break;
    case AlignRight:
        r.setWidth(r.width() + m_gap);
        r.setLeft(r.left() - m_gap);
        break;
    case AlignTop:
        r.setHeight(r.height() + m_gap);
        break;
    case AlignBottom:
        r.setHeight(r.height() + m_gap);
        r.setTop(r.top() - m_gap);
        break;
    default: {
        const double half = std::floor(m_gap / 2.0);
        r.adjust(-half, -half, half, half);
        break;
    }
    }
    return r;
}

void AlignCommand::place(GraphicsItem *item, const QPointF &centre)
{
    // An attached item that is arranged itself must not be dragged along by its parent, whatever
    // the order in which the two are placed.
    QList<std::pair<GraphicsItem *, QTransform>> arranged;
    const QList<GraphicsItem *> descendants = item->childGraphicsItems(true);
    for (GraphicsItem *d : descendants) {
        if (m_itemSet.contains(d))
            arranged.append({ d, d->fullTransform() });
    }
    const QTransform before = item->fullTransform();
    item->setScenePosition(centre);
    handleChildren(item, item->fullTransform() * before.inverted(), items(), false);
    for (const auto &entry : qAsConst(arranged))
        entry.first->setFullTransform(entry.second);
}

void AlignCommand::finish()
{
    if (!items().isEmpty()) {
        switch (m_mode) {
        case AlignLeft:
        case AlignRight:
        case AlignTop:
        case AlignBottom:
            align();
            break;
        case Stack:
            stack();
            break;
        case GridByName:
        case GridByOrder:
            grid();
            break;
        case Pack:
            pack();
            break;
        case Column:
        case Row:
            line();
            break;
        default:
            qCWarning(lcCommands) << "AlignCommand: unknown mode" << m_mode;
            break;
        }
    }
    recordNewTransforms();
}

// Each item goes against the common edge and then slides away from it past every item already
// placed that it would touch, so the items closest to the edge get there first.
void AlignCommand::align()
{
    const QRectF u = bounds();
    const double gap = m_gap;
    QVector<QRectF> placed;
    placed.reserve(items().size());
    const QList<GraphicsItem *> list = items();
    for (GraphicsItem *item : list) {
        QRectF r = gapRect(item->sceneBounds());
        QPointF c = item->scenePosition();
        switch (m_mode) {
        case AlignLeft:
            r.moveLeft(u.left());
            c.setX(u.left() + (r.width() - gap) / 2);
            break;
        case AlignRight:
            r.moveRight(u.right());
            c.setX(gap + u.right() - r.width() / 2);
            break;
        case AlignTop:
            r.moveTop(u.top());
            c.setY(u.top() + (r.height() - gap) / 2);
            break;
        default:
            r.moveBottom(u.bottom());
            c.setY(gap + u.bottom() - r.height() / 2);
            break;
        }
        // Every move goes strictly away from the edge and past the item hit, so this ends.
        // The first placed item sits on the edge and is met on the first pass if at all.
        for (int j = 0; j < placed.size();) {
            const QRectF &rj = placed.at(j);
            if (!r.intersects(rj)) {
                ++j;
                continue;
            }
            switch (m_mode) {
            case AlignLeft:
                r.moveLeft(rj.right() + 1.0);
                c.setX(rj.right() + (r.width() - gap) / 2);
                break;
            case AlignRight:
                r.moveRight(rj.left() - 1.0);
                c.setX(gap + rj.left() - r.width() / 2);
                break;
            case AlignTop:
                r.moveTop(rj.bottom() + 1.0);
                c.setY(rj.bottom() + (r.height() - gap) / 2);
                break;
            default:
                r.moveBottom(rj.top() - 1.0);
                c.setY(gap + rj.top() - r.height() / 2);
                break;
            }
            j = 1;
        }
        place(item, c);
        placed.append(gapRect(item->sceneBounds()));
    }
}

void AlignCommand::stack()
{
    const QPointF centre = bounds().center();
    const QList<GraphicsItem *> list = items();
    for (GraphicsItem *item : list)
        place(item, centre);
}

// Rows of height H, top-aligned, each ending after the item that brings its widths to L, which
// makes a roughly square block.
void AlignCommand::grid()
{
    const QList<GraphicsItem *> list = items();
    QVector<QSizeF> sizes;
    sizes.reserve(list.size());
    double totalWidth = 0;
    double rowHeight = 0;
    for (GraphicsItem *item : list) {
        const QSizeF size = item->sceneBounds().size();
        sizes.append(size);
        totalWidth += size.width();
        rowHeight = std::max(rowHeight, size.height());
    }
    // Items without width or height give no proportion to aim at: one row.
    double rowLength = std::numeric_limits<double>::infinity();
    if (totalWidth > 0 && rowHeight > 0 && std::isfinite(totalWidth) && std::isfinite(rowHeight))
        rowLength = totalWidth / std::sqrt(totalWidth / rowHeight);

    const QRectF u = bounds();
    double x = u.left();
    double y = u.top();
    double run = 0;
    for (int i = 0; i < list.size(); ++i) {
        const double w = sizes.at(i).width();
        const double h = sizes.at(i).height();
        place(list.at(i), QPointF(x + w / 2, y + h / 2));
        x += w + m_gap;
        run += w;
        if (run >= rowLength) {
            run = 0;
            x = u.left();
            y += m_gap + rowHeight;
        }
    }
}

// Items spaced evenly by the largest gap rectangle and centred on the line of the largest item.
void AlignCommand::line()
{
    const QList<GraphicsItem *> list = items();
    const bool row = m_mode == Row;
    const QRectF first = list.first()->sceneBounds();
    QRectF reference = gapRect(first);
    QRectF block = reference;
    for (int i = 1; i < list.size(); ++i) {
        const QRectF bounds = list.at(i)->sceneBounds();
        const QRectF r = gapRect(bounds);
        if (row ? r.width() > reference.width() : r.height() > reference.height())
            reference = r;
        block |= bounds;
    }
    const double half = std::floor(m_gap / 2.0);
    for (int i = 0; i < list.size(); ++i) {
        if (row) {
            place(list.at(i),
                QPointF(block.left() + i * reference.width() + first.width() / 2 + half,
                    reference.center().y()));
        } else {
            place(list.at(i),
                QPointF(reference.center().x(),
                    block.top() + i * reference.height() + first.height() / 2 + half));
        }
    }
}

// Packs the padded items into a bin of the wanted proportions that is 5 % larger than their
// area. When some do not fit, the bin grows by what was missing plus a margin that widens with
// every attempt, so a hard case ends within the attempts instead of creeping.
void AlignCommand::pack()
{
    const QList<GraphicsItem *> list = items();
    const int n = list.size();
    const double gap = m_gap;
    QVector<QSizeF> padded;
    QVector<double> longestSide;
    padded.reserve(n);
    longestSide.reserve(n);
    double areaSum = 0;
    for (GraphicsItem *item : list) {
        const QSizeF size = item->sceneBounds().size();
        padded.append(QSizeF(size.width() + gap, size.height() + gap));
        longestSide.append(std::max(size.width(), size.height()));
        areaSum += (size.width() + gap) * (size.height() + gap);
    }
    const double area = double(1.05f) * areaSum;
    const float binHeight = std::sqrt(float(area / double(m_aspect)));
    double width = binHeight * m_aspect;
    double height = binHeight;

    const QRectF u = bounds();
    QVector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    QVector<QPointF> centres(n);
    GuillotineBinPacker packer;
    for (int attempt = 0; attempt < PackAttempts; ++attempt) {
        packer.reset(width, height);
        if (attempt == 2) {
            std::stable_sort(order.begin(), order.end(),
                [&longestSide](int a, int b) { return longestSide[a] > longestSide[b]; });
        }
        double missingWidth = 0;
        double missingHeight = 0;
        m_unplaced = 0;
        for (int index : qAsConst(order)) {
            QRectF at;
            GuillotineBinPacker::Shortfall shortfall;
            if (!packer.insert(padded[index].width(), padded[index].height(), &at, &shortfall)) {
                ++m_unplaced;
                // Only a real shortfall grows the bin; an endless one would ruin it.
                if (std::isfinite(shortfall.amount)) {
                    double &missing = shortfall.width ? missingWidth : missingHeight;
                    missing = std::max(missing, shortfall.amount);
                }
            }
            centres[index] = QPointF(u.left() + at.x() + (at.width() - gap) / 2,
                u.top() + at.y() + (at.height() - gap) / 2);
        }
        if (m_unplaced == 0)
            break;
        const double margin = std::max(width, height) * double(0.02f) * (attempt + 1);
        if (missingWidth > 0)
            width += missingWidth + margin;
        if (missingHeight > 0)
            height += missingHeight + margin;
    }
    if (m_unplaced > 0)
        qCDebug(lcCommands) << "AlignCommand: packing left" << m_unplaced << "items unplaced";
    for (int i = 0; i < n; ++i)
        place(list.at(i), centres.at(i));
}
