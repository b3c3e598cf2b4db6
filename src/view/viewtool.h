#pragma once

#include "input/action.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointF>

class ActionCondition;
class CommandHandler;
class ConflictingBindingsCondition;
class GizmoCondition;
class GraphicsScene;
class GraphicsView;
class ItemCondition;
class SelectionCondition;

// What the view shares with its tools: the conditions the bindings of its actions test, and what
// the view learns from events that tools need. The view owns it and every condition in it; all
// pointers are set before the first tool is made and live as long as the view.
struct ViewToolContext {
    // The note in edit mode; while set, gestures and most keys stay off the canvas.
    ItemCondition *textEditing = nullptr;
    ActionCondition *pinch = nullptr;
    ActionCondition *locked = nullptr;
    ActionCondition *overlay = nullptr;
    SelectionCondition *selection = nullptr;
    // Decides whether a plain left drag selects or acts on items.
    ConflictingBindingsCondition *selectVersusItem = nullptr;
    ItemCondition *itemUnderPointer = nullptr;
    // The item under the pointer when it is selected: what an item gesture would act on.
    ItemCondition *itemToManipulate = nullptr;
    GizmoCondition *gizmoHover = nullptr;
    // The window's frame (see GraphicsView::FrameConditions), never null here.
    ActionCondition *maximized = nullptr;
    ActionCondition *overWindowBorder = nullptr;
    ActionCondition *rightDragged = nullptr;

    // The actions that drag items (move, rotate, crop, ...); a select drag hands over to them.
    QList<Action *> itemGestures;
    // Viewport coordinates of the last mouse press or move the view saw.
    QPoint lastPointer;
};

// A set of the view's gestures with their state and actions, in the way of Gwenview's raster
// view tools: the view keeps navigation and hands everything else to one tool each. A tool is a
// child of its view and is destroyed with it. GUI thread only.
class AbstractViewTool : public QObject {
    Q_OBJECT

public:
    AbstractViewTool(GraphicsView *view, ViewToolContext *context);

    // Registers the tool's actions with the action handler. The view calls it once, in the order
    // that makes the priority among continuous actions; a tool without actions does nothing.
    virtual void createActions() { }

    // Actions of the canvas are children of the view: a window-context binding means the view's
    // window, and the view removes them before it goes.
    static Action *createAction(GraphicsView *view, const QString &name, const QString &label,
        const ActionBinding &binding, int flags = Action::ListedFlag);
    static ActionBinding continuousBinding(const QKeySequence &keys, Qt::MouseButtons buttons);
    static ActionBinding triggeredBinding(const QKeySequence &keys);

signals:
    // A change of items begins and ends; the view passes both on as its own.
    void updateStarted();
    void updateFinished();

protected:
    GraphicsView *view() const { return m_view; }
    GraphicsScene *scene() const;
    CommandHandler *commands() const;
    ViewToolContext &context() const { return *m_context; }
    Action *addAction(const QString &name, const QString &label, const ActionBinding &binding,
        int flags = Action::ListedFlag)
    {
        return createAction(m_view, name, label, binding, flags);
    }
    // A left-button drag on items, with the conditions every such gesture shares, listed among
    // the item gestures. needsItem keeps it to a press on a selected item.
    Action *addItemGesture(
        const QString &name, const QString &label, const QKeySequence &keys, bool needsItem);
    // Positions of continuous actions are global; gestures work in the viewport or the scene.
    QPoint viewportPos(const QPoint &globalPos) const;
    QPointF scenePos(const QPoint &globalPos) const;

private:
    GraphicsView *m_view;
    ViewToolContext *m_context;
};
