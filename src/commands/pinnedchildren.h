#pragma once

#include <QList>
#include <QTransform>
#include <QVector>

#include <utility>

class GraphicsItem;

// Where the attached items of some items are on the scene, to put them back after the items'
// own transforms were swapped. A crop moves an image's rotation and scale between its transform
// and its image transform without changing anything on the screen, so its notes must not move
// when the crop is undone or redone either. Items that are among the given items are left out:
// their own recorded transforms place them. GUI thread only.
class PinnedChildren {
public:
    explicit PinnedChildren(const QList<GraphicsItem *> &items);

    void restore() const;

private:
    QVector<std::pair<GraphicsItem *, QTransform>> m_pins;
};
