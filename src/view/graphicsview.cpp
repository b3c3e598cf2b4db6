#include "view/graphicsview.h"

#include "commands/commandhandler.h"
#include "commands/depthchangecommand.h"
#include "commands/scalecommand.h"
#include "input/actionhandler.h"
#include "input/actionnames.h"
#include "input/conflictingbindingscondition.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "view/croptool.h"
#include "view/gizmocondition.h"
#include "view/itemcondition.h"
#include "view/selectioncondition.h"
#include "view/selecttool.h"
#include "view/transformgizmo.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGestureEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmapCache>
#include <QRubberBand>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

bool isFiniteTransform(const QTransform &t)
{
    const qreal values[]
        = { t.m11(), t.m12(), t.m13(), t.m21(), t.m22(), t.m23(), t.m31(), t.m32(), t.m33() };
    for (qreal value : values) {
        if (!std::isfinite(value))
            return false;
    }
    return true;
}

constexpr auto continuousBinding = &AbstractViewTool::continuousBinding;
constexpr auto triggeredBinding = &AbstractViewTool::triggeredBinding;

} // namespace

GraphicsView::GraphicsView(GraphicsScene *scene, CommandHandler *commandHandler,
    const FrameConditions &frame, QWidget *parent)
    : QGraphicsView(scene, parent)
    , m_commands(commandHandler ? commandHandler : scene->commandHandler())
    , m_slideshow(new QTimer(this))
    , m_rubberBand(new QRubberBand(QRubberBand::Rectangle, viewport()))
    , m_ownsMaximized(!frame.maximized)
{
    m_context.textEditing = new ItemCondition(this);
    m_context.pinch = new ActionCondition(this);
    m_context.locked = new ActionCondition(this);
    m_context.overlay = new ActionCondition(this);
    m_context.selection = new SelectionCondition(this);
    m_context.selectVersusItem = new ConflictingBindingsCondition(this);
    m_context.itemUnderPointer = new ItemCondition(this);
    m_context.itemToManipulate = new ItemCondition(this);
    m_context.gizmoHover = new GizmoCondition(this);
    m_context.maximized = frame.maximized ? frame.maximized : new ActionCondition(this);
    m_context.overWindowBorder = frame.overBorder ? frame.overBorder : new ActionCondition(this);
    m_context.rightDragged
        = frame.rightDragged ? frame.rightDragged : new ActionCondition(true, this);
    m_pickerTool = new PickerTool(this, &m_context);
    m_noteTool = new NoteTool(this, &m_context);
    m_selectTool = new SelectTool(this, &m_context);
    m_transformTool = new TransformTool(this, &m_context, m_selectTool);
    m_cropTool = new CropTool(this, &m_context, m_transformTool);
    m_arrangeTool = new ArrangeTool(this, &m_context);
    m_tools
        = { m_pickerTool, m_noteTool, m_selectTool, m_transformTool, m_cropTool, m_arrangeTool };
    for (AbstractViewTool *tool : qAsConst(m_tools)) {
        connect(tool, &AbstractViewTool::updateStarted, this, &GraphicsView::updateStarted);
        connect(tool, &AbstractViewTool::updateFinished, this, &GraphicsView::updateFinished);
    }

    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAcceptDrops(true);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setOptimizationFlag(QGraphicsView::DontSavePainterState);
    // The view anchors zooms itself; the toolkit's anchors would move the content again.
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPixmapCache::setCacheLimit(100000);
    m_rubberBand->hide();
    m_context.selectVersusItem->setValue(true);

    m_slideshow->setInterval(10 * 1000);
    connect(m_slideshow, &QTimer::timeout, this, &GraphicsView::focusNext);
    connect(scene, &QGraphicsScene::selectionChanged, this, &GraphicsView::handleSelectionChanged);
    connect(scene, &QGraphicsScene::sceneRectChanged, this, &GraphicsView::handleSceneRectChanged);

    viewport()->grabGesture(Qt::PinchGesture);
    if (scene->canvasColor().isValid())
        setCanvasColor(scene->canvasColor());
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
        &GraphicsView::applicationStateChange);
    createActions();
}

GraphicsView::~GraphicsView()
{
    // Removing an action may end or begin another continuous action; none of them may call
    // back into a view that is going away.
    const QList<Action *> actions = findChildren<Action *>(QString(), Qt::FindDirectChildrenOnly);
    for (Action *action : actions) {
        disconnect(action, nullptr, this, nullptr);
        for (AbstractViewTool *tool : qAsConst(m_tools))
            disconnect(action, nullptr, tool, nullptr);
    }
    qDeleteAll(actions);
    // The transform tool drops a command still in progress, as the items may go next.
    qDeleteAll(m_tools);
    m_tools.clear();
}

void GraphicsView::createActions()
{
    const auto addAction
        = [this](const QString &name, const QString &label, const ActionBinding &binding) {
              return AbstractViewTool::createAction(this, name, label, binding);
          };
    const auto notOverlay = [this](ActionBinding binding) {
        binding.addCondition(m_context.overlay, false);
        return binding;
    };
    const auto triggeredOnCanvas = [&](const QKeySequence &keys) {
        ActionBinding binding = notOverlay(triggeredBinding(keys));
        binding.addCondition(m_context.pinch, false);
        return binding;
    };
    const auto connectPan = [this](Action *action) {
        connect(action, &Action::continuousUpdate, this, &GraphicsView::panUpdate);
    };

    // Navigation. Registration order is priority order among continuous actions.
    {
        ActionBinding binding = notOverlay(continuousBinding(QKeySequence(), Qt::RightButton));
        binding.addCondition(m_context.maximized, true);
        binding.addCondition(m_context.rightDragged, true);
        binding.addCondition(m_context.gizmoHover, false);
        connectPan(addAction(QStringLiteral("Pan Maximized"), tr("Pan while maximized"), binding));
    }
    {
        ActionBinding binding = notOverlay(continuousBinding(QKeySequence(), Qt::LeftButton));
        binding.addCondition(m_context.locked, true);
        binding.addCondition(m_context.overWindowBorder, false);
        connectPan(addAction(QStringLiteral("Pan Locked"), tr("Pan while canvas locked"), binding));
    }
    {
        ActionBinding binding
            = notOverlay(continuousBinding(QKeySequence(Qt::ALT), Qt::LeftButton));
        binding.addCondition(m_context.gizmoHover, false);
        connectPan(addAction(QString::fromLatin1(ActionNames::Pan), tr("Pan"), binding));
    }
    {
        Action *zoomAction = addAction(QString::fromLatin1(ActionNames::Zoom), tr("Zoom"),
            notOverlay(continuousBinding(QKeySequence(Qt::Key_Z), Qt::LeftButton)));
        connect(zoomAction, &Action::continuousBegin, this,
            [this](const QPoint &pos) { zoomBegin(pos); });
        connect(zoomAction, &Action::continuousUpdate, this, &GraphicsView::zoomUpdate);
    }

    m_pickerTool->createActions();

    const auto triggered
        = [&](const QString &name, const QString &label, const QKeySequence &keys, auto slot) {
              Action *action = addAction(name, label, triggeredOnCanvas(keys));
              connect(action, &QAction::triggered, this, slot);
              return action;
          };
    triggered(QStringLiteral("Focus Images"), tr("Focus images"), QKeySequence(Qt::Key_Space),
        [this] { focusImages(); });
    triggered(QStringLiteral("Focus Canvas"), tr("Focus canvas"),
        QKeySequence(Qt::CTRL | Qt::Key_Space), [this] { focusCanvas(); });
    triggered(QStringLiteral("Focus Next"), tr("Focus next image"), QKeySequence(Qt::Key_Right),
        [this] { focusNext(); });
    triggered(QStringLiteral("Focus Previous"), tr("Focus previous image"),
        QKeySequence(Qt::Key_Left), [this] { focusPrevious(); });
    triggered(QStringLiteral("Clear Selection"), tr("Clear selection"),
        QKeySequence(Qt::Key_Escape), [this] { scene()->clearSelection(); });

    // Gestures on items. Select comes first: it decides whether a drag is a select at all.
    m_selectTool->createActions();
    m_transformTool->createActions();
    m_cropTool->createActions();

    // Keyboard commands on the selection.
    m_arrangeTool->createActions();
}

// --- state and colours ------------------------------------------------------------------------

void GraphicsView::setCanvasLocked(bool locked)
{
    if (m_context.locked->value() == locked)
        return;
    m_context.locked->setValue(locked);
    graphicsScene()->setSelectionHighlight(!locked);
    clearHover();
    updateGizmo();
    ActionHandler::instance()->reevaluate();
    viewport()->update();
    emit canvasLockedChanged(locked);
}

void GraphicsView::setOverlayMode(bool overlay)
{
    m_context.overlay->setValue(overlay);
    // The window behind shows through wherever the canvas paints nothing.
    viewport()->setAutoFillBackground(!overlay);
    viewport()->update();
}

void GraphicsView::setCanvasColor(const QColor &color)
{
    graphicsScene()->setCanvasColor(color);
    // The scene fills only its own rectangle; the view may show beyond it when zoomed out.
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Base, color);
    viewport()->setPalette(palette);
    viewport()->update();
}

void GraphicsView::setHintColor(const QColor &color)
{
    graphicsScene()->setHintColor(color);
    viewport()->update();
}

void GraphicsView::setItemSelectionColor(const QColor &color)
{
    graphicsScene()->setSelectionColor(color);
    viewport()->update();
}

void GraphicsView::setItemBorderColor(const QColor &color)
{
    graphicsScene()->setBorderColor(color);
    viewport()->update();
}

void GraphicsView::handleSelectionChanged()
{
    m_context.selection->setItems(graphicsScene()->selectedGraphicsItems());
    if (!m_focusing) {
        if (m_slideshow->isActive()) {
            m_slideshow->stop();
            emit slideshowStateChanged(false);
        }
        m_focusCycle.clear();
    }
    updateGizmo();
}

void GraphicsView::applicationStateChange(Qt::ApplicationState state)
{
    // An overlay lies over another program: a selection outline left there only gets in the way.
    if (state != Qt::ApplicationActive && isOverlayMode())
        scene()->clearSelection();
    m_transformTool->applicationStateChange(state);
}

void GraphicsView::handleSceneRectChanged(const QRectF &)
{
    if (!graphicsScene()->sceneRectLocked())
        updateSceneRect();
}

// --- navigation -------------------------------------------------------------------------------

void GraphicsView::pan(const QPoint &offset)
{
    if (graphicsScene()->isEmptyFlag())
        return;
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setValue(horizontal->value() + (isRightToLeft() ? offset.x() : -offset.x()));
    verticalScrollBar()->setValue(verticalScrollBar()->value() - offset.y());
}

void GraphicsView::panUpdate(const Action::ContinuousUpdateData &motion)
{
    pan(mapFromGlobal(motion.current) - mapFromGlobal(motion.previous));
}

void GraphicsView::zoomUpdate(const Action::ContinuousUpdateData &motion)
{
    zoom((mapFromGlobal(motion.current).x() - mapFromGlobal(motion.previous).x()) / 100.0);
}

bool GraphicsView::zoom(qreal step)
{
    if (graphicsScene()->isEmptyFlag() || step == 0.0 || !std::isfinite(step))
        return false;
    const qreal factor = step > 0 ? 1.0 + step : 1.0 / (-step + 1.0);
    return scaleAboutAnchor(factor, factor);
}

bool GraphicsView::scaleAboutAnchor(qreal sx, qreal sy)
{
    const QTransform scaled = transform() * QTransform::fromScale(sx, sy);
    // Past the range of doubles the view could never map a point back: refuse the step
    // instead of leaving a view that shows nothing and cannot be zoomed back.
    if (!isFiniteTransform(scaled) || !scaled.isInvertible())
        return false;
    const QPointF offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QPointF before = transform().map(m_anchor) - offset;
    setTransform(scaled);
    updateSceneRect();
    const QPointF offsetAfter(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QPointF after = transform().map(m_anchor) - offsetAfter;
    const QPointF delta = before - after;
    pan(QPoint(qRound(delta.x()), qRound(delta.y())));
    if (editedNote())
        m_noteTool->updateButtons();
    transformGizmo()->updatePlacement();
    return true;
}

void GraphicsView::updateSceneRect()
{
    GraphicsScene *scene = graphicsScene();
    if (scene->isEmptyFlag()) {
        m_centreOnItems = true;
        return;
    }
    QRectF rect = scene->sceneRect();
    rect.moveCenter(QPointF(0, 0));
    const QRectF visible = mapToScene(viewport()->rect()).boundingRect();
    rect.adjust(-visible.width(), -visible.height(), visible.width(), visible.height());
    setSceneRect(rect);
    if (m_centreOnItems) {
        m_centreOnItems = false;
        centerOn(QPointF(0, 0));
    }
}

void GraphicsView::resizeEvent(QResizeEvent *event)
{
    const QPointF centre = mapToScene(QRect(QPoint(), event->oldSize()).center());
    QGraphicsView::resizeEvent(event);
    updateSceneRect();
    transformGizmo()->updatePlacement();
    const QSize before = event->oldSize();
    const QSize after = event->size();
    if (!m_scaleOnResize || before.isEmpty() || after.isEmpty())
        return;
    // The side that changed decides; dragging a corner follows the width.
    const qreal factor = before.width() != after.width() ? qreal(after.width()) / before.width()
                                                         : qreal(after.height()) / before.height();
    if (scaleAboutAnchor(factor, factor))
        centerOn(centre);
}

void GraphicsView::showEvent(QShowEvent *event)
{
    QGraphicsView::showEvent(event);
    if (m_ownsMaximized) {
        // Installing again only moves the filter to the front.
        window()->installEventFilter(this);
        m_context.maximized->setValue(window()->isMaximized());
    }
}

bool GraphicsView::eventFilter(QObject *watched, QEvent *event)
{
    if (m_ownsMaximized && watched == window() && event->type() == QEvent::WindowStateChange)
        m_context.maximized->setValue(window()->isMaximized());
    return QGraphicsView::eventFilter(watched, event);
}

void GraphicsView::scrollContentsBy(int dx, int dy)
{
    QGraphicsView::scrollContentsBy(dx, dy);
    // The note's colour buttons and the gizmo sit on the screen: pans and zooms carry them
    // along.
    if (editedNote())
        m_noteTool->updateButtons();
    transformGizmo()->updatePlacement();
}

GraphicsView::ViewState GraphicsView::currentState() const
{
    return { transform(), horizontalScrollBar()->value(), verticalScrollBar()->value() };
}

void GraphicsView::restoreState(const ViewState &state)
{
    setTransform(state.transform);
    updateSceneRect();
    horizontalScrollBar()->setValue(state.horizontal);
    verticalScrollBar()->setValue(state.vertical);
    transformGizmo()->updatePlacement();
}

void GraphicsView::fitTo(const QRectF &target)
{
    if (target.isEmpty() || graphicsScene()->isEmptyFlag())
        return;
    fitInView(target, Qt::KeepAspectRatio);
    updateSceneRect();
    // The scene grows its rectangle when it paints; items added since then may lie outside,
    // and the scroll range must reach them to centre on them.
    const QRectF visible = mapToScene(viewport()->rect()).boundingRect();
    const QRectF reach
        = target.adjusted(-visible.width(), -visible.height(), visible.width(), visible.height());
    if (!sceneRect().contains(reach))
        setSceneRect(sceneRect().united(reach));
    centerOn(target.center());
    transformGizmo()->updatePlacement();
}

void GraphicsView::focusCanvas()
{
    if (graphicsScene()->graphicsItems().isEmpty())
        return;
    fitTo(graphicsScene()->sceneRect());
}

void GraphicsView::focusImages()
{
    if (isCanvasLocked() && !m_lockedFocusItems.isEmpty())
        focusItems(m_lockedFocusItems);
    else
        focusItems(selection());
}

void GraphicsView::focusItems(const QList<GraphicsItem *> &items)
{
    m_focusing = true;
    const bool inFocusedState = m_hasFocusedState && [this] {
        const ViewState now = currentState();
        return now.transform == m_focusedState.transform
            && now.horizontal == m_focusedState.horizontal
            && now.vertical == m_focusedState.vertical;
    }();
    if (!inFocusedState) {
        m_hasFocusedState = false;
        m_savedView = currentState();
        m_hasSavedView = true;
    }
    if (!items.isEmpty()) {
        if (items == m_focusedItems && inFocusedState) {
            restoreState(m_savedView);
            m_hasSavedView = false;
            m_hasFocusedState = false;
        } else {
            m_focusedItems = items;
            m_focusCycle = items;
            m_focusIndex = 0;
            QRectF bounds;
            for (GraphicsItem *item : items)
                bounds |= item->sceneTransform().mapRect(item->boundingRect());
            fitTo(bounds);
            m_focusedState = currentState();
            m_hasFocusedState = true;
        }
    } else if (m_hasSavedView) {
        restoreState(m_savedView);
        m_hasSavedView = false;
        m_hasFocusedState = false;
    }
    m_focusing = false;
}

void GraphicsView::focusStep(int direction)
{
    // In order of addition: bringing the stepped-to item to the front must not reorder the cycle.
    const QList<GraphicsItem *> onScene = graphicsScene()->addedItems();
    QList<GraphicsItem *> candidates = m_focusCycle.isEmpty() ? onScene : m_focusCycle;
    // A remembered cycle may name items removed (or deleted) since: compare pointers only.
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                         [&onScene](GraphicsItem *item) { return !onScene.contains(item); }),
        candidates.end());
    if (m_focusIndex >= candidates.size())
        m_focusIndex = -1;
    if (candidates.isEmpty())
        return;
    int index = m_focusIndex;
    GraphicsItem *chosen = nullptr;
    for (int tried = 0; tried < candidates.size(); ++tried) {
        index += direction;
        if (index >= candidates.size())
            index = 0;
        else if (index < 0)
            index = candidates.size() - 1;
        if (candidates.at(index)->itemType() != GraphicsItem::TextItemType) {
            chosen = candidates.at(index);
            break;
        }
    }
    // Only notes: there is no image to step to, so the view stays where it is.
    if (!chosen)
        return;
    m_focusIndex = index;
    m_focusing = true;
    if (!isCanvasLocked() && m_activateSelected)
        bringToFront({ chosen });
    fitTo(chosen->sceneTransform().mapRect(chosen->boundingRect()));
    m_focusing = false;
}

void GraphicsView::resetView()
{
    if (isOverlayMode())
        return;
    resetTransform();
    updateSceneRect();
    updateSceneRect();
    transformGizmo()->updatePlacement();
    if (graphicsScene()->isEmptyFlag())
        return;
    QScrollBar *horizontal = horizontalScrollBar();
    QScrollBar *vertical = verticalScrollBar();
    horizontal->setValue((horizontal->minimum() + horizontal->maximum()) / 2);
    vertical->setValue((vertical->minimum() + vertical->maximum()) / 2);
}

void GraphicsView::actualSize()
{
    if (isOverlayMode())
        return;
    const qreal m11 = transform().m11();
    // A transform without horizontal scale has no size to return to.
    if (m11 == 0.0 || !std::isfinite(m11))
        return;
    m_anchor = mapToScene(viewport()->rect().center());
    scaleAboutAnchor(1.0 / m11, 1.0 / m11);
}

void GraphicsView::toggleSlideshow()
{
    if (m_slideshow->isActive()) {
        m_slideshow->stop();
    } else {
        QList<GraphicsItem *> images;
        for (GraphicsItem *item : selection()) {
            if (item->itemType() == GraphicsItem::ImageItemType)
                images.append(item);
        }
        if (images.size() >= 2) {
            m_focusCycle = images;
            m_focusIndex = -1;
        }
        focusNext();
        m_slideshow->start();
    }
    emit slideshowStateChanged(m_slideshow->isActive());
}

void GraphicsView::wheelEvent(QWheelEvent *event)
{
    event->accept();
    if (isOverlayMode() || m_context.pinch->value())
        return;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (ctrl || m_wheelMode == 0) {
        if (event->angleDelta().y() == 0)
            return;
        m_anchor = mapToScene(event->position().toPoint());
        qreal step = event->angleDelta().y() * 0.002;
        if (m_invertWheel)
            step = -step;
        zoom(step);
    } else if (m_wheelMode == 1) {
        QPoint delta = event->pixelDelta().isNull() ? event->angleDelta() : event->pixelDelta();
        if (m_invertWheel)
            delta = -delta;
        pan(delta);
    }
}

// --- touch pinch ------------------------------------------------------------------------------

bool GraphicsView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Gesture) {
        auto *gestures = static_cast<QGestureEvent *>(event);
        if (auto *pinch = static_cast<QPinchGesture *>(gestures->gesture(Qt::PinchGesture))) {
            this->pinch(pinch->state(), pinch->scaleFactor(), pinch->centerPoint().toPoint());
            gestures->accept(pinch);
            return true;
        }
    }
    return QGraphicsView::viewportEvent(event);
}

void GraphicsView::pinch(Qt::GestureState state, qreal scaleFactor, const QPoint &globalCentre)
{
    const QPointF centre = viewport()->mapFromGlobal(globalCentre);
    switch (state) {
    case Qt::GestureStarted:
        m_context.pinch->setValue(true);
        clearHover();
        ActionHandler::instance()->reevaluate();
        m_pinchCentre = centre;
        // Over another program's window (overlay) the pinch resizes the selection instead.
        if (isOverlayMode() && !selection().isEmpty())
            m_transformTool->beginCommand(
                new ScaleCommand(selection(), mapToScene(centre.toPoint())));
        break;
    case Qt::GestureUpdated: {
        // The factor is the change since the previous update.
        const qreal factor = scaleFactor;
        if (isOverlayMode()) {
            TransformCommand *command = m_transformTool->currentCommand();
            if (command && std::isfinite(factor) && factor > 0)
                command->applyTransform(QTransform::fromScale(factor, factor));
        } else {
            m_anchor = mapToScene(centre.toPoint());
            zoom(factor - 1.0);
            const QPointF moved = centre - m_pinchCentre;
            pan(QPoint(qRound(moved.x()), qRound(moved.y())));
        }
        m_pinchCentre = centre;
        break;
    }
    case Qt::GestureFinished:
    case Qt::GestureCanceled:
        m_transformTool->finishCommand();
        m_context.pinch->setValue(false);
        ActionHandler::instance()->reevaluate();
        break;
    case Qt::NoGesture:
        break;
    }
}

// --- gestures ---------------------------------------------------------------------------------

GraphicsItem *GraphicsView::topItemAt(const QPoint &viewPos) const
{
    const QList<QGraphicsItem *> found = items(viewPos);
    for (QGraphicsItem *item : found) {
        if (auto *graphicsItem = dynamic_cast<GraphicsItem *>(item))
            return graphicsItem;
    }
    return nullptr;
}

void GraphicsView::hoverTest(const QPoint &viewPos)
{
    if (m_transformTool->gizmoHoverTest(viewPos))
        return;
    GraphicsItem *item = topItemAt(viewPos);
    m_context.itemUnderPointer->setItem(item);
    m_context.itemToManipulate->setItem(item && item->isSelected() ? item : nullptr);
}

void GraphicsView::clearHover()
{
    m_context.itemUnderPointer->setItem(nullptr);
    m_context.itemToManipulate->setItem(nullptr);
}

void GraphicsView::bringToFront(const QList<GraphicsItem *> &items)
{
    if (items.isEmpty())
        return;
    auto *command = new DepthChangeCommand(graphicsScene(), items, DepthChangeCommand::ToFront);
    connect(command, &BaseCommand::commandMessage, m_commands, &CommandHandler::commandMessage,
        Qt::UniqueConnection);
    m_commands->push(command);
}

// --- direct mouse and key events --------------------------------------------------------------

void GraphicsView::mousePressEvent(QMouseEvent *event)
{
    m_context.lastPointer = event->pos();
    hoverTest(event->pos());
    if (GraphicsTextItem *note = editedNote()) {
        if (topItemAt(event->pos()) == note) {
            QGraphicsView::mousePressEvent(event);
            return;
        }
        setEditedNote(nullptr);
        hoverTest(event->pos());
    }
    // Everything else is the actions' business.
    event->accept();
}

void GraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    m_context.lastPointer = event->pos();
    m_transformTool->revealGizmoWhileInactive();
    if (event->buttons() == Qt::NoButton)
        hoverTest(event->pos());
    if (editedNote())
        QGraphicsView::mouseMoveEvent(event);
}

void GraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (GraphicsTextItem *note = editedNote()) {
        if (topItemAt(event->pos()) == note)
            QGraphicsView::mouseReleaseEvent(event);
    }
}

void GraphicsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    GraphicsScene *scene = graphicsScene();
    if (scene->graphicsItems().isEmpty()) {
        emit emptyCanvasDoubleClicked();
        return;
    }
    if (m_context.pinch->value())
        return;
    GraphicsItem *item = topItemAt(event->pos());
    if (auto *image = dynamic_cast<GraphicsImageItem *>(item); image && !image->picture()) {
        // The relink dialog groups missing images by their file, so every image missing the
        // same file is asked for at once.
        QList<GraphicsImageItem *> missing = scene->missingImages();
        missing.erase(std::remove_if(missing.begin(), missing.end(),
                          [image](auto *other) { return other->source() != image->source(); }),
            missing.end());
        emit relinkRequested(missing);
        return;
    }
    if (!isCanvasLocked()) {
        if (auto *note = dynamic_cast<GraphicsTextItem *>(item)) {
            if (note != editedNote()) {
                setEditedNote(note);
                QGraphicsView::mousePressEvent(event);
            } else {
                QGraphicsView::mouseDoubleClickEvent(event);
            }
            return;
        }
    }
    if (!isOverlayMode() && item)
        focusItems({ item });
}

void GraphicsView::keyPressEvent(QKeyEvent *event)
{
    if (!editedNote()) {
        event->ignore();
        return;
    }
    if (m_noteTool->finishEditingByKey(event)) {
        event->accept();
        return;
    }
    QGraphicsView::keyPressEvent(event);
}

void GraphicsView::keyReleaseEvent(QKeyEvent *event)
{
    if (!editedNote()) {
        event->ignore();
        return;
    }
    QGraphicsView::keyReleaseEvent(event);
}

// --- drag and drop ----------------------------------------------------------------------------

bool GraphicsView::isRichTextFromNote(const QMimeData *mimeData)
{
    return mimeData && mimeData->hasHtml()
        && mimeData->html().contains(QLatin1String("qrichtext"), Qt::CaseSensitive);
}

void GraphicsView::dragEnterEvent(QDragEnterEvent *event)
{
    QGraphicsView::dragEnterEvent(event);
    event->acceptProposedAction();
}

void GraphicsView::dragMoveEvent(QDragMoveEvent *event)
{
    QGraphicsView::dragMoveEvent(event);
    if (isRichTextFromNote(event->mimeData()))
        event->ignore();
    else
        event->acceptProposedAction();
}

void GraphicsView::dropEvent(QDropEvent *event)
{
    QGraphicsView::dropEvent(event);
    if (isRichTextFromNote(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit dropRequested(event->mimeData(), event->pos());
}
