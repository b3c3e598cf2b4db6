#include "pinnedchildren.h"

#include "scene/graphicsitem.h"

PinnedChildren::PinnedChildren(const QList<GraphicsItem *> &items)
{
    for (GraphicsItem *item : items) {
        const QList<GraphicsItem *> children = item->childGraphicsItems();
        for (GraphicsItem *child : children) {
            if (!items.contains(child))
                m_pins.append({ child, child->fullTransform() });
        }
    }
}

void PinnedChildren::restore() const
{
    for (const auto &pin : m_pins)
        pin.first->setFullTransform(pin.second);
}
