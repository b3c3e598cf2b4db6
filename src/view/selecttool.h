#pragma once

#include "view/viewtool.h"

// Selecting with the left button: a click selects the item under the pointer (or clears the
// selection on empty canvas), a drag draws a rubber band, and with Shift both add to or remove
// from the selection. A drag that begins on a selected item is handed over to the item gesture
// the held keys ask for (a move, usually); a gesture whose modifier is released hands the drag
// back to select, which then leaves it to the gesture.
class SelectTool : public AbstractViewTool {
    Q_OBJECT

public:
    SelectTool(GraphicsView *view, ViewToolContext *context);

    void createActions() override;

    bool isSelectAction(const Action *action) const;
    // Global position where the select drag last handed over to an item gesture began.
    QPoint handOverOrigin() const { return m_handOverOrigin; }

private:
    void selectBegin(const QPoint &pos, Action *transitioningFrom);
    void continuousSelectBegin(const QPoint &pos, Action *transitioningFrom);
    void selectUpdate(const Action::ContinuousUpdateData &motion);
    void selectEnd();
    void continuousSelectEnd();
    // A modifier released during an item gesture begins a select: the drag goes back to the
    // gesture. True when that happened.
    bool giveBackToItemGesture(Action *transitioningFrom);
    void bringSelectionToFront();

    Action *m_selectAction = nullptr;
    Action *m_continuousSelectAction = nullptr;
    // Set once the drag belongs to an item gesture; the rest of it is not a select.
    bool m_abandoned = false;
    bool m_dragged = false;
    QPoint m_handOverOrigin;
};
