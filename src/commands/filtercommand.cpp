#include "filtercommand.h"

#include "scene/graphicsimageitem.h"

FilterCommand::FilterCommand(const QList<GraphicsItem *> &items, int mask, Mode mode)
{
    for (GraphicsItem *item : items) {
        auto *image = dynamic_cast<GraphicsImageItem *>(item);
        if (!image)
            continue;
        const int filter = image->filter();
        int changed = filter | mask;
        if (mode == Mode::Clear || (mode == Mode::Toggle && (filter & mask)))
            changed = filter & ~mask;
        // Pictures already as asked are left alone: setting a filter drops derived pictures.
        if (changed == filter)
            continue;
        m_items.append(image);
        m_before.append(filter);
        m_after.append(changed);
    }
}

FilterCommand::~FilterCommand() = default;

void FilterCommand::apply(const QList<int> &filters)
{
    for (int i = 0; i < m_items.size(); ++i)
        m_items.at(i)->setFilter(filters.at(i));
}

void FilterCommand::redo()
{
    apply(m_after);
    BaseCommand::redo();
}

void FilterCommand::undo()
{
    apply(m_before);
    BaseCommand::undo();
}

// A selection of notes only, or of pictures that already are as asked, leaves no undo step.
bool FilterCommand::hasEffect() const
{
    return !m_items.isEmpty();
}
