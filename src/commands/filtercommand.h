#pragma once

#include "commands/basecommand.h"

#include <QList>

class GraphicsImageItem;
class GraphicsItem;

// Toggles filter bits (GraphicsImageItem::Filter) of image items, each on its own: an item with
// any bit of the mask set loses the mask, the others gain it. Toggling is its own inverse, so
// undo toggles again. Notes in the list are passed over.
class FilterCommand : public BaseCommand {
    Q_OBJECT

public:
    FilterCommand(const QList<GraphicsItem *> &items, int mask);
    ~FilterCommand() override;

    void redo() override;
    void undo() override;
    bool hasEffect() const override;

private:
    void toggle();

    QList<GraphicsImageItem *> m_items;
    int m_mask;
};
