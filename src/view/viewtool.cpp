#include "view/viewtool.h"

#include "input/actionhandler.h"
#include "input/conflictingbindingscondition.h"
#include "view/gizmocondition.h"
#include "view/graphicsview.h"
#include "view/itemcondition.h"

AbstractViewTool::AbstractViewTool(GraphicsView *view, ViewToolContext *context)
    : QObject(view)
    , m_view(view)
    , m_context(context)
{
}

Action *AbstractViewTool::createAction(GraphicsView *view, const QString &name,
    const QString &label, const ActionBinding &binding, int flags)
{
    return ActionHandler::instance()->createAction(
        name, label, view, binding, flags, tr("Canvas Controls"));
}

ActionBinding AbstractViewTool::continuousBinding(
    const QKeySequence &keys, Qt::MouseButtons buttons)
{
    return ActionBinding(ActionBinding::Continuous, keys, buttons, ActionBinding::WindowContext);
}

ActionBinding AbstractViewTool::triggeredBinding(const QKeySequence &keys)
{
    return ActionBinding(
        ActionBinding::Triggered, keys, Qt::NoButton, ActionBinding::WindowContext);
}

GraphicsScene *AbstractViewTool::scene() const
{
    return m_view->graphicsScene();
}

CommandHandler *AbstractViewTool::commands() const
{
    return m_view->commandHandler();
}

Action *AbstractViewTool::addItemGesture(
    const QString &name, const QString &label, const QKeySequence &keys, bool needsItem)
{
    ActionBinding binding = continuousBinding(keys, Qt::LeftButton);
    binding.addCondition(m_context->locked, false);
    // A press on the window's border resizes the window instead.
    binding.addCondition(m_context->overWindowBorder, false);
    if (needsItem)
        binding.addCondition(m_context->itemToManipulate, true);
    binding.addCondition(m_context->selectVersusItem, false);
    binding.addCondition(m_context->textEditing, false);
    binding.addCondition(m_context->pinch, false);
    binding.addCondition(m_context->gizmoHover, false);
    Action *action = addAction(name, label, binding);
    m_context->itemGestures.append(action);
    return action;
}

QPoint AbstractViewTool::viewportPos(const QPoint &globalPos) const
{
    return m_view->viewport()->mapFromGlobal(globalPos);
}

QPointF AbstractViewTool::scenePos(const QPoint &globalPos) const
{
    return m_view->mapToScene(viewportPos(globalPos));
}
