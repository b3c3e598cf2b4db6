#include "view/selecttool.h"

#include "input/actionhandler.h"
#include "input/conflictingbindingscondition.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "view/gizmocondition.h"
#include "view/graphicsview.h"
#include "view/itemcondition.h"

#include <QPainterPath>
#include <QRubberBand>

SelectTool::SelectTool(GraphicsView *view, ViewToolContext *context)
    : AbstractViewTool(view, context)
{
}

void SelectTool::createActions()
{
    const auto selectBinding = [this](const QKeySequence &keys) {
        ActionBinding binding = continuousBinding(keys, Qt::LeftButton);
        binding.addCondition(context().locked, false);
        binding.addCondition(context().overWindowBorder, false);
        binding.addCondition(context().selectVersusItem, true);
        binding.addCondition(context().textEditing, false);
        binding.addCondition(context().pinch, false);
        binding.addCondition(context().gizmoHover, false);
        return binding;
    };

    m_selectAction = addAction(
        QStringLiteral("Select Images"), tr("Select images"), selectBinding(QKeySequence()));
    connect(m_selectAction, &Action::continuousBegin, this, &SelectTool::selectBegin);
    connect(m_selectAction, &Action::continuousUpdate, this, &SelectTool::selectUpdate);
    connect(m_selectAction, &Action::continuousEnd, this, [this] { selectEnd(); });
    m_continuousSelectAction = addAction(QStringLiteral("Continuous Select"),
        tr("Add to or remove from selection"), selectBinding(QKeySequence(Qt::SHIFT)));
    connect(m_continuousSelectAction, &Action::continuousBegin, this,
        &SelectTool::continuousSelectBegin);
    connect(m_continuousSelectAction, &Action::continuousUpdate, this, &SelectTool::selectUpdate);
    connect(
        m_continuousSelectAction, &Action::continuousEnd, this, [this] { continuousSelectEnd(); });
    context().selectVersusItem->addAction(m_selectAction);
    context().selectVersusItem->addAction(m_continuousSelectAction);
}

bool SelectTool::isSelectAction(const Action *action) const
{
    return action && (action == m_selectAction || action == m_continuousSelectAction);
}

bool SelectTool::giveBackToItemGesture(Action *transitioningFrom)
{
    if (!transitioningFrom || !context().itemGestures.contains(transitioningFrom))
        return false;
    context().selectVersusItem->setValue(false);
    m_abandoned = true;
    ActionHandler::instance()->reevaluate();
    return true;
}

void SelectTool::bringSelectionToFront()
{
    if (view()->activatesSelected())
        view()->bringToFront(scene()->selectedGraphicsItems());
}

void SelectTool::selectBegin(const QPoint &, Action *transitioningFrom)
{
    if (giveBackToItemGesture(transitioningFrom))
        return;
    m_dragged = false;
    GraphicsItem *under = context().itemUnderPointer->item();
    if (!under) {
        scene()->clearSelection();
    } else {
        if (!under->isSelected())
            scene()->clearSelection();
        under->setSelected(true);
    }
    bringSelectionToFront();
}

void SelectTool::continuousSelectBegin(const QPoint &, Action *transitioningFrom)
{
    if (giveBackToItemGesture(transitioningFrom))
        return;
    m_dragged = false;
}

void SelectTool::selectUpdate(const Action::ContinuousUpdateData &motion)
{
    if (m_abandoned)
        return;
    if (!m_dragged) {
        m_dragged = true;
        context().selectVersusItem->setValue(false);
        GraphicsItem *under = context().itemUnderPointer->item();
        context().itemToManipulate->setItem(under && under->isSelected() ? under : nullptr);
        ActionHandler *handler = ActionHandler::instance();
        const QList<Action *> continuous = handler->continuousActions();
        for (Action *action : continuous) {
            if (action->isAnyBindingSatisfied()) {
                // A press on a selected item followed by a drag is a move (or whichever item
                // gesture the held keys ask for).
                m_handOverOrigin = motion.origin;
                m_abandoned = true;
                handler->reevaluate();
                return;
            }
        }
        context().selectVersusItem->setValue(true);
    }
    const QRect band = QRect(viewportPos(motion.origin), viewportPos(motion.current)).normalized();
    QRubberBand *rubberBand = view()->rubberBand();
    rubberBand->setGeometry(band);
    rubberBand->show();
    if (!m_continuousSelectAction->isAnyBindingSatisfied())
        scene()->clearSelection();
    QPainterPath path;
    path.addPolygon(view()->mapToScene(band));
    const QList<QGraphicsItem *> found = scene()->items(path, Qt::IntersectsItemShape);
    for (QGraphicsItem *item : found) {
        if (dynamic_cast<GraphicsItem *>(item))
            item->setSelected(true);
    }
}

void SelectTool::selectEnd()
{
    if (!m_abandoned) {
        GraphicsItem *item = context().itemToManipulate->item();
        if (item && !m_dragged) {
            scene()->clearSelection();
            item->setSelected(true);
            bringSelectionToFront();
        }
    }
    m_abandoned = false;
    view()->rubberBand()->hide();
}

void SelectTool::continuousSelectEnd()
{
    if (!m_abandoned) {
        GraphicsItem *item = context().itemUnderPointer->item();
        if (item && !m_dragged)
            item->setSelected(!item->isSelected());
        bringSelectionToFront();
    }
    m_abandoned = false;
    view()->rubberBand()->hide();
}
