#pragma once

#include "input/actioncondition.h"

#include <QList>

class GraphicsItem;

// Met while the selection it mirrors is not empty; the view keeps the list equal to the scene's
// selected items, so gestures can take it without asking the scene again.
class SelectionCondition : public ActionCondition {
    Q_OBJECT

public:
    explicit SelectionCondition(QObject *parent = nullptr);

    bool isMet(const Action *action, int bindingIndex) const override;

    QList<GraphicsItem *> items() const { return m_items; }
    void setItems(const QList<GraphicsItem *> &items) { m_items = items; }

private:
    QList<GraphicsItem *> m_items;
};
