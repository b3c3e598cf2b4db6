#pragma once

#include "input/actioncondition.h"

class GraphicsItem;

// Met while the view has set an item (the one under the pointer, the one a gesture would act on,
// the note being edited). Items are not objects, so the view clears the pointer before an item
// can go away.
class ItemCondition : public ActionCondition {
    Q_OBJECT

public:
    explicit ItemCondition(QObject *parent = nullptr);

    bool isMet(const Action *action, int bindingIndex) const override;

    GraphicsItem *item() const { return m_item; }
    void setItem(GraphicsItem *item) { m_item = item; }

private:
    GraphicsItem *m_item = nullptr;
};
