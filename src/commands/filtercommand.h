#pragma once

#include "commands/basecommand.h"

#include <QList>

class GraphicsImageItem;
class GraphicsItem;

// Changes filter bits (GraphicsImageItem::Filter) of image items. Toggle works on each item on
// its own: an item with any bit of the mask set loses the mask, the others gain it. Set and
// Clear give every item the mask or take it from every item, for a switch that should leave a
// mixed selection alike. Undo gives each item back the bits it had. Notes in the list are passed
// over.
class FilterCommand : public BaseCommand {
    Q_OBJECT

public:
    enum class Mode { Toggle, Set, Clear };

    FilterCommand(const QList<GraphicsItem *> &items, int mask, Mode mode = Mode::Toggle);
    ~FilterCommand() override;

    void redo() override;
    void undo() override;
    bool hasEffect() const override;

private:
    void apply(const QList<int> &filters);

    QList<GraphicsImageItem *> m_items;
    QList<int> m_before;
    QList<int> m_after;
};
