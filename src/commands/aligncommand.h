#pragma once

#include "commands/transformcommand.h"

#include <QSet>

// Rearranges items in one step: aligns them to a common edge, stacks them, lays them out in a
// grid, a row or a column, or packs them into a rectangle of the wanted proportions. Only
// positions change (an item's origin is the centre of its sceneBounds); scale, rotation and flip
// stay. Everything happens in finish(); redo and undo restore the recorded transforms. All
// measures are scene units. GUI thread only.
class AlignCommand : public TransformCommand {
    Q_OBJECT

public:
    enum Mode {
        AlignLeft = 0,
        AlignRight = 1,
        AlignTop = 2,
        AlignBottom = 3,
        Stack = 4,
        GridByName = 5,
        GridByOrder = 6,
        Pack = 7,
        Column = 8,
        Row = 9
    };

    // gap: the space between items; aspect: the wanted width / height of a packing, taken as 1
    // when it is not a positive finite number.
    AlignCommand(const QList<GraphicsItem *> &items, int mode, int gap, float aspect);
    ~AlignCommand() override;

    void finish() override;

    int mode() const { return m_mode; }
    int gap() const { return m_gap; }
    float aspect() const { return m_aspect; }
    // Items a packing could not place after its last attempt; they sit at the top-left corner.
    int unplacedCount() const { return m_unplaced; }

    static constexpr int PackAttempts = 20;

private:
    QRectF gapRect(const QRectF &bounds) const;
    void sortItems(QList<GraphicsItem *> &items) const;
    void place(GraphicsItem *item, const QPointF &centre);
    void align();
    void stack();
    void grid();
    void line();
    void pack();

    int m_mode;
    int m_gap;
    float m_aspect;
    int m_unplaced = 0;
    QSet<GraphicsItem *> m_itemSet;
};
