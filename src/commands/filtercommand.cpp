#include "filtercommand.h"

#include "scene/graphicsimageitem.h"

FilterCommand::FilterCommand(const QList<GraphicsItem *> &items, int mask)
    : m_mask(mask)
{
    for (GraphicsItem *item : items) {
        if (auto *image = dynamic_cast<GraphicsImageItem *>(item))
            m_items.append(image);
    }
}

FilterCommand::~FilterCommand() = default;

void FilterCommand::toggle()
{
    for (GraphicsImageItem *item : qAsConst(m_items)) {
        const int filter = item->filter();
        item->setFilter(filter & m_mask ? filter & ~m_mask : filter | m_mask);
    }
}

void FilterCommand::redo()
{
    toggle();
    BaseCommand::redo();
}

void FilterCommand::undo()
{
    toggle();
    BaseCommand::undo();
}

// A selection of notes only has nothing to filter and leaves no undo step.
bool FilterCommand::hasEffect() const
{
    return m_mask != 0 && !m_items.isEmpty();
}
