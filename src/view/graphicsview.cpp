#include "view/graphicsview.h"

#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "commands/cropcommand.h"
#include "commands/croppancommand.h"
#include "commands/cropzoomcommand.h"
#include "commands/depthchangecommand.h"
#include "commands/flipcommand.h"
#include "commands/movecommand.h"
#include "commands/opacitycommand.h"
#include "commands/rotatecommand.h"
#include "commands/scalecommand.h"
#include "input/actionhandler.h"
#include "input/actionnames.h"
#include "input/conflictingbindingscondition.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "view/gizmocondition.h"
#include "view/itemcondition.h"
#include "view/pickertool.h"
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
#include <QPainter>
#include <QPixmapCache>
#include <QRubberBand>
#include <QScreen>
#include <QScrollBar>
#include <QSvgRenderer>
#include <QTimer>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {

// Scale and rotate commands keep a frame that turns and scales with their items, and a move's
// frame only translates; the gizmo can follow those. Other commands (crop, flip) change the
// items in ways their frame does not tell.
bool frameFollowsItems(const TransformCommand *command)
{
    const QMetaObject *type = command->metaObject();
    return type == &ScaleCommand::staticMetaObject || type == &RotateCommand::staticMetaObject
        || type == &MoveCommand::staticMetaObject;
}

QPixmap renderPicture(const QString &file)
{
    // Rendered once, large enough to stay sharp on high-density screens.
    QPixmap picture(64, 64);
    picture.fill(Qt::transparent);
    QSvgRenderer renderer(file);
    QPainter painter(&picture);
    renderer.render(&painter);
    return picture;
}

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
    , m_gizmo(new TransformGizmo(this))
    , m_scaleCursorPicture(renderPicture(QStringLiteral(":/cursors/scale.svg")))
    , m_rotateCursorPicture(renderPicture(QStringLiteral(":/cursors/rotate.svg")))
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
    m_tools = { m_pickerTool, m_noteTool, m_selectTool };
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
    // Undo and redo move the items under the gizmo.
    connect(m_commands, &CommandHandler::commandExecuted, this, [this] { updateGizmo(); });

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
    delete m_command;
}

GraphicsScene *GraphicsView::graphicsScene() const
{
    return static_cast<GraphicsScene *>(scene());
}

Action *GraphicsView::addAction(
    const QString &name, const QString &label, const ActionBinding &binding)
{
    return AbstractViewTool::createAction(this, name, label, binding);
}

ColorPickerDialog *GraphicsView::colorPicker() const
{
    return m_pickerTool->colorPicker();
}

CoordinatePickerDialog *GraphicsView::coordinatePicker() const
{
    return m_pickerTool->coordinatePicker();
}

void GraphicsView::createActions()
{
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

    // Item gestures.
    const auto gesture
        = [&](const QString &name, const QString &label, const QKeySequence &keys, bool needsItem) {
              ActionBinding binding = continuousBinding(keys, Qt::LeftButton);
              binding.addCondition(m_context.locked, false);
              // A press on the window's border resizes the window instead.
              binding.addCondition(m_context.overWindowBorder, false);
              if (needsItem)
                  binding.addCondition(m_context.itemToManipulate, true);
              binding.addCondition(m_context.selectVersusItem, false);
              binding.addCondition(m_context.textEditing, false);
              binding.addCondition(m_context.pinch, false);
              binding.addCondition(m_context.gizmoHover, false);
              Action *action = addAction(name, label, binding);
              m_context.itemGestures.append(action);
              return action;
          };
    m_selectTool->createActions();

    const auto connectTransform = [this](Action *action) {
        connect(action, &Action::continuousUpdate, this, &GraphicsView::transformCommandUpdate);
    };

    // The gizmo's drags share the left button with select and move; the gizmo-hover condition
    // gives it to them only over a handle. They are not offered for rebinding.
    const auto gizmoAction
        = [&](const QString &name, const QString &label, const QKeySequence &keys, auto begin) {
              ActionBinding binding = continuousBinding(keys, Qt::LeftButton);
              binding.addCondition(m_context.locked, false);
              binding.addCondition(m_context.overWindowBorder, false);
              binding.addCondition(m_context.selectVersusItem, false);
              binding.addCondition(m_context.textEditing, false);
              binding.addCondition(m_context.pinch, false);
              binding.addCondition(m_context.gizmoHover, true);
              Action *action = ActionHandler::instance()->createAction(
                  name, label, this, binding, 0, tr("Canvas Controls"));
              m_context.gizmoHover->addAction(action);
              m_gizmoActions.append(action);
              connect(action, &Action::continuousBegin, this,
                  [this, begin](const QPoint &pos, Action *from) { (this->*begin)(pos, from); });
              connectTransform(action);
              connect(action, &Action::continuousEnd, this, &GraphicsView::gizmoEnd);
          };
    gizmoAction(QStringLiteral("Transform Gizmo"), tr("Transform Gizmo"), QKeySequence(),
        static_cast<void (GraphicsView::*)(const QPoint &, Action *)>(&GraphicsView::gizmoBegin));
    gizmoAction(QStringLiteral("Snapped Transform Gizmo"), tr("Snapped Transform Gizmo"),
        QKeySequence(Qt::SHIFT), &GraphicsView::gizmoSnappedBegin);
    gizmoAction(QStringLiteral("Center Transform Gizmo"), tr("Center Transform Gizmo"),
        QKeySequence(Qt::ALT), &GraphicsView::gizmoCenterBegin);
    const auto connectFinish = [this](Action *action) {
        connect(action, &Action::continuousEnd, this, [this] { finishCurrentTransformCommand(); });
    };

    Action *move = gesture(QStringLiteral("Move Images"), tr("Move images"), QKeySequence(), true);
    Action *axisMove = gesture(QStringLiteral("Axis Snapped Move"), tr("Move along one axis"),
        QKeySequence(Qt::SHIFT), true);
    Action *neighbourMove = gesture(QStringLiteral("Neighbour Snapped Move"),
        tr("Move snapping to neighbours"), QKeySequence(Qt::SHIFT | Qt::Key_Space), true);
    m_moveActions = { move, axisMove, neighbourMove };
    connect(move, &Action::continuousBegin, this, &GraphicsView::moveBegin);
    connect(axisMove, &Action::continuousBegin, this, &GraphicsView::moveAxisSnappedBegin);
    connect(
        neighbourMove, &Action::continuousBegin, this, &GraphicsView::moveNeighbourSnappedBegin);
    for (Action *action : qAsConst(m_moveActions)) {
        connectTransform(action);
        connect(action, &Action::continuousEnd, this, &GraphicsView::moveEnd);
    }

    Action *rotate = gesture(
        QStringLiteral("Rotate Images"), tr("Rotate images"), QKeySequence(Qt::CTRL), true);
    Action *snappedRotate = gesture(QStringLiteral("Snapped Rotate"), tr("Rotate in steps"),
        QKeySequence(Qt::CTRL | Qt::SHIFT), true);
    m_rotateActions = { rotate, snappedRotate };
    connect(rotate, &Action::continuousBegin, this, &GraphicsView::rotateBegin);
    connect(snappedRotate, &Action::continuousBegin, this, &GraphicsView::rotateSnappedBegin);
    for (Action *action : qAsConst(m_rotateActions)) {
        connectTransform(action);
        connect(action, &Action::continuousEnd, this, &GraphicsView::rotateEnd);
    }

    const auto simpleGesture = [&](const QString &name, const QString &label,
                                   const QKeySequence &keys, bool needsItem, auto begin) {
        Action *action = gesture(name, label, keys, needsItem);
        connect(action, &Action::continuousBegin, this,
            [this, begin](const QPoint &pos) { (this->*begin)(pos); });
        connectFinish(action);
        return action;
    };
    connectTransform(simpleGesture(QStringLiteral("Scale Images"), tr("Scale images"),
        QKeySequence(Qt::CTRL | Qt::ALT), true, &GraphicsView::scaleBegin));
    connectTransform(simpleGesture(QStringLiteral("Flip Images"), tr("Flip images"),
        QKeySequence(Qt::ALT | Qt::SHIFT), true, &GraphicsView::flipBegin));
    connectTransform(simpleGesture(QStringLiteral("Change Opacity"), tr("Change opacity"),
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT), true, &GraphicsView::opacityBegin));
    Action *crop = simpleGesture(QStringLiteral("Crop Images"), tr("Crop images"),
        QKeySequence(Qt::Key_C), false, &GraphicsView::cropBegin);
    connect(crop, &Action::continuousUpdate, this, &GraphicsView::cropUpdate);
    connectTransform(simpleGesture(QStringLiteral("Pan Crop"), tr("Pan inside crop"),
        QKeySequence(Qt::Key_V), true, &GraphicsView::cropPanBegin));
    connectTransform(simpleGesture(QStringLiteral("Zoom Crop"), tr("Zoom inside crop"),
        QKeySequence(Qt::SHIFT | Qt::Key_V), true, &GraphicsView::cropZoomBegin));

    // Keyboard actions on the selection.
    const auto onSelection
        = [&](const QString &name, const QString &label, const QKeySequence &keys, auto slot) {
              ActionBinding binding = triggeredBinding(keys);
              binding.addCondition(m_context.selection, true);
              binding.addCondition(m_context.locked, false);
              binding.addCondition(m_context.textEditing, false);
              binding.addCondition(m_context.pinch, false);
              connect(addAction(name, label, binding), &QAction::triggered, this, slot);
          };
    onSelection(QStringLiteral("Arrange Optimally"), tr("Arrange optimally"),
        QKeySequence(Qt::CTRL | Qt::Key_P), [this] { arrangeSelection(AlignCommand::Pack); });
    onSelection(QStringLiteral("Arrange By Name"), tr("Arrange by name"),
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N),
        [this] { arrangeSelection(AlignCommand::GridByName); });
    onSelection(QStringLiteral("Arrange By Order"), tr("Arrange by order of adding"),
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A),
        [this] { arrangeSelection(AlignCommand::GridByOrder); });
    onSelection(QStringLiteral("Pack All"), tr("Pack all and optimise"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), [this] { packAll(); });
    onSelection(QStringLiteral("Flip Horizontally"), tr("Flip images horizontally"),
        QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_H),
        [this] { flipSelection(FlipCommand::Horizontal); });
    onSelection(QStringLiteral("Flip Vertically"), tr("Flip images vertically"),
        QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_V),
        [this] { flipSelection(FlipCommand::Vertical); });
}

// --- state and colours ------------------------------------------------------------------------

bool GraphicsView::isCanvasLocked() const
{
    return m_context.locked->value();
}

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

bool GraphicsView::isOverlayMode() const
{
    return m_context.overlay->value();
}

void GraphicsView::setOverlayMode(bool overlay)
{
    m_context.overlay->setValue(overlay);
    // The window behind shows through wherever the canvas paints nothing.
    viewport()->setAutoFillBackground(!overlay);
    viewport()->update();
}

QColor GraphicsView::canvasColor() const
{
    return graphicsScene()->canvasColor();
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

QColor GraphicsView::itemSelectionColor() const
{
    return graphicsScene()->selectionColor();
}

void GraphicsView::setItemSelectionColor(const QColor &color)
{
    graphicsScene()->setSelectionColor(color);
    viewport()->update();
}

QColor GraphicsView::itemBorderColor() const
{
    return graphicsScene()->borderColor();
}

void GraphicsView::setItemBorderColor(const QColor &color)
{
    graphicsScene()->setBorderColor(color);
    viewport()->update();
}

void GraphicsView::setSlideshowInterval(int seconds)
{
    m_slideshow->setInterval(qMax(1, seconds) * 1000);
}

QList<GraphicsItem *> GraphicsView::selection() const
{
    return m_context.selection->items();
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
    if (state != Qt::ApplicationActive) {
        // An overlay lies over another program: a selection outline left there only gets in
        // the way.
        if (isOverlayMode())
            scene()->clearSelection();
        if (m_gizmo->isVisible())
            m_gizmo->startFade();
    } else if (m_gizmo->gizmoRect().isValid()) {
        m_gizmo->stopFade();
    }
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

void GraphicsView::zoomBegin(const QPoint &pos)
{
    m_anchor = mapToScene(viewport()->mapFromGlobal(pos));
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
    m_gizmo->updatePlacement();
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
    m_gizmo->updatePlacement();
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
    m_gizmo->updatePlacement();
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
    m_gizmo->updatePlacement();
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
    m_gizmo->updatePlacement();
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

void GraphicsView::focusNext()
{
    focusStep(1);
}

void GraphicsView::focusPrevious()
{
    focusStep(-1);
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
    m_gizmo->updatePlacement();
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

bool GraphicsView::isSlideshowRunning() const
{
    return m_slideshow->isActive();
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
            beginCommand(new ScaleCommand(selection(), mapToScene(centre.toPoint())));
        break;
    case Qt::GestureUpdated: {
        // The factor is the change since the previous update.
        const qreal factor = scaleFactor;
        if (isOverlayMode()) {
            if (m_command && std::isfinite(factor) && factor > 0)
                m_command->applyTransform(QTransform::fromScale(factor, factor));
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
        finishCurrentTransformCommand();
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
    if (gizmoHoverTest(viewPos))
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

void GraphicsView::beginCommand(TransformCommand *command)
{
    if (m_command) {
        TransformCommand *previous = m_command;
        m_command = nullptr;
        previous->finish();
        m_commands->push(previous);
        emit updateFinished();
    } else {
        emit updateStarted();
    }
    connect(command, &BaseCommand::commandMessage, m_commands, &CommandHandler::commandMessage,
        Qt::UniqueConnection);
    m_command = command;
    m_gizmoCommand = false;
    m_gizmoStartTransform = m_gizmo->gizmoTransform();
    m_commandStartFrame = command->frame();
}

void GraphicsView::transformCommandUpdate(const Action::ContinuousUpdateData &motion)
{
    if (!m_command)
        return;
    // A scene rectangle growing under the pointer would scroll the items away from it.
    graphicsScene()->setSceneRectLocked(true);
    const QPoint viewPos = viewport()->mapFromGlobal(motion.current);
    if (m_command->usesViewCoordinates()) {
        m_command->update(QPointF(viewPos));
    } else {
        const bool fromCorner = m_gizmoCommand && qobject_cast<ScaleCommand *>(m_command);
        m_command->update(mapToScene(viewPos) - (fromCorner ? m_gizmoOffset : QPointF()));
    }
    if (!m_gizmoEnabled)
        return;
    if (frameFollowsItems(m_command) && m_commandStartFrame.isInvertible()) {
        m_gizmo->setGizmoGeometry(m_gizmo->gizmoRect(),
            m_gizmoStartTransform * m_commandStartFrame.inverted() * m_command->frame());
    } else {
        placeGizmo();
    }
}

void GraphicsView::finishCurrentTransformCommand()
{
    if (m_command) {
        TransformCommand *command = m_command;
        m_command = nullptr;
        command->finish();
        m_gizmoCommand = false;
        m_commands->push(command);
        emit updateFinished();
    }
    m_gizmoCommand = false;
    placeGizmo();
    gizmoHoverTest(m_context.lastPointer);
    if (!m_context.gizmoHover->value())
        m_context.selectVersusItem->setValue(true);
    graphicsScene()->setSceneRectLocked(false);
    graphicsScene()->update();
    m_rubberBand->hide();
}

void GraphicsView::beginMove(const QPoint &pos, Action *transitioningFrom, int mode)
{
    if (m_command && m_moveActions.contains(transitioningFrom)) {
        if (auto *move = qobject_cast<MoveCommand *>(m_command)) {
            move->setMode(mode);
            return;
        }
    }
    // Taken over from a select drag, the move starts where the button went down: the first
    // motion, which decided that this is a move, must move the items too.
    const QPoint start
        = m_selectTool->isSelectAction(transitioningFrom) ? m_selectTool->handOverOrigin() : pos;
    beginCommand(new MoveCommand(
        this, selection(), mapToScene(viewport()->mapFromGlobal(start)), mode, m_gap));
}

void GraphicsView::moveBegin(const QPoint &pos, Action *transitioningFrom)
{
    beginMove(pos, transitioningFrom, MoveCommand::FreeMove);
}

void GraphicsView::moveAxisSnappedBegin(const QPoint &pos, Action *transitioningFrom)
{
    beginMove(pos, transitioningFrom, MoveCommand::AxisMove);
}

void GraphicsView::moveNeighbourSnappedBegin(const QPoint &pos, Action *transitioningFrom)
{
    beginMove(pos, transitioningFrom, MoveCommand::NeighbourSnapMove);
}

void GraphicsView::moveEnd(const Action::ContinuousUpdateData &, Action *transitioningTo)
{
    if (!m_moveActions.contains(transitioningTo))
        finishCurrentTransformCommand();
}

void GraphicsView::beginRotate(const QPoint &pos, Action *transitioningFrom, bool snap)
{
    if (m_command && m_rotateActions.contains(transitioningFrom)) {
        if (auto *rotate = qobject_cast<RotateCommand *>(m_command)) {
            rotate->setSnap(snap);
            return;
        }
    }
    auto *command = new RotateCommand(selection(), mapToScene(viewport()->mapFromGlobal(pos)));
    command->setSnap(snap);
    beginCommand(command);
}

void GraphicsView::rotateBegin(const QPoint &pos, Action *transitioningFrom)
{
    beginRotate(pos, transitioningFrom, false);
}

void GraphicsView::rotateSnappedBegin(const QPoint &pos, Action *transitioningFrom)
{
    beginRotate(pos, transitioningFrom, true);
}

void GraphicsView::rotateEnd(const Action::ContinuousUpdateData &, Action *transitioningTo)
{
    if (!m_rotateActions.contains(transitioningTo))
        finishCurrentTransformCommand();
}

void GraphicsView::scaleBegin(const QPoint &pos)
{
    beginCommand(new ScaleCommand(selection(), mapToScene(viewport()->mapFromGlobal(pos))));
}

void GraphicsView::flipBegin(const QPoint &pos)
{
    beginCommand(new FlipCommand(selection(), QPointF(viewport()->mapFromGlobal(pos))));
}

void GraphicsView::opacityBegin(const QPoint &pos)
{
    beginCommand(new OpacityCommand(selection(), QPointF(viewport()->mapFromGlobal(pos))));
}

void GraphicsView::cropBegin(const QPoint &pos)
{
    beginCommand(new CropCommand(selection(), mapToScene(viewport()->mapFromGlobal(pos))));
}

void GraphicsView::cropUpdate(const Action::ContinuousUpdateData &motion)
{
    m_rubberBand->setGeometry(
        QRect(viewport()->mapFromGlobal(motion.origin), viewport()->mapFromGlobal(motion.current))
            .normalized());
    m_rubberBand->show();
    transformCommandUpdate(motion);
}

void GraphicsView::cropPanBegin(const QPoint &pos)
{
    beginCommand(new CropPanCommand(selection(), mapToScene(viewport()->mapFromGlobal(pos))));
}

void GraphicsView::cropZoomBegin(const QPoint &pos)
{
    beginCommand(new CropZoomCommand(selection(), mapToScene(viewport()->mapFromGlobal(pos))));
}

// --- transform gizmo ------------------------------------------------------------------------

void GraphicsView::setGizmoEnabled(bool enabled)
{
    m_gizmoEnabled = enabled;
    updateGizmo();
}

void GraphicsView::setGizmoDisplayMode(int settingValue)
{
    m_gizmo->setDisplayMode(TransformGizmo::displayModeFromSetting(settingValue));
}

void GraphicsView::setGizmoHandleSize(int pixels)
{
    m_gizmo->setHandleSize(pixels);
    updateGizmo();
}

void GraphicsView::setGizmoFadeWhenInactive(bool fade)
{
    m_gizmo->setFadeWhenInactive(fade);
}

void GraphicsView::placeGizmo()
{
    QRectF rect;
    QTransform transform;
    const QList<GraphicsItem *> items = selection();
    if (!isCanvasLocked() && m_gizmoEnabled && !editedNote()) {
        if (items.size() == 1) {
            // The frame turns, scales and mirrors with the one item.
            rect = items.first()->boundingRect();
            transform = items.first()->sceneTransform();
        } else if (!items.isEmpty()) {
            QRectF bounds;
            for (GraphicsItem *item : items)
                bounds |= item->sceneBounds();
            const QPointF centre = bounds.center();
            rect = bounds.translated(-centre);
            transform = QTransform::fromTranslate(centre.x(), centre.y());
        }
    }
    m_gizmo->setGizmoGeometry(rect, transform);
}

void GraphicsView::updateGizmo()
{
    placeGizmo();
    // While a gesture runs (a rubber band changing the selection, too) the pointer must not
    // turn it into a gizmo drag; the next move without buttons tests again.
    if (!m_command && !ActionHandler::instance()->currentContinuousAction())
        gizmoHoverTest(m_context.lastPointer);
}

bool GraphicsView::gizmoHoverTest(const QPoint &viewPos)
{
    TransformGizmo::Hit hit;
    if (m_gizmoEnabled && m_gizmo->gizmoRect().isValid())
        hit = m_gizmo->hitTest(QPointF(viewPos));
    if (hit.handle == TransformGizmo::NoHandle) {
        if (m_context.gizmoHover->value())
            viewport()->unsetCursor();
        m_gizmoHandle = TransformGizmo::NoHandle;
        m_context.gizmoHover->setValue(false);
        m_context.selectVersusItem->setValue(true);
        return false;
    }
    m_context.selectVersusItem->setValue(false);
    m_gizmoHandle = hit.handle;
    m_gizmoRotates = hit.handle >= TransformGizmo::FirstRotateHandle;
    const QPointF corner = m_gizmo->gizmoTransform().map(
        TransformGizmo::corner(m_gizmo->gizmoRect(), (hit.handle - 1) % 4));
    m_gizmoOffset = mapToScene(viewPos) - corner;
    m_context.gizmoHover->setValue(true);
    updateGizmoCursor();
    return true;
}

void GraphicsView::updateGizmoCursor()
{
    if (!m_context.gizmoHover->value() || m_gizmoHandle == TransformGizmo::NoHandle) {
        viewport()->unsetCursor();
        return;
    }
    bool mirrored = false;
    const qreal angle = TransformGizmo::cursorAngle(
        m_gizmo->gizmoTransform(), (m_gizmoHandle - 1) % 4, &mirrored);
    const qreal ratio = devicePixelRatioF();
    QPixmap cursor(QSize(32, 32) * ratio);
    cursor.setDevicePixelRatio(ratio);
    cursor.fill(Qt::transparent);
    QPainter painter(&cursor);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.translate(16, 16);
    painter.rotate(angle);
    if (mirrored)
        painter.scale(-1, 1);
    painter.drawPixmap(QRectF(-16, -16, 32, 32),
        m_gizmoRotates ? m_rotateCursorPicture : m_scaleCursorPicture, QRectF(0, 0, 64, 64));
    painter.end();
    viewport()->setCursor(QCursor(cursor));
}

void GraphicsView::gizmoBegin(
    const QPoint &pos, Action *transitioningFrom, bool snapped, bool centred)
{
    // Shift or Alt pressed or released during a gizmo drag keeps its one undo step; only the
    // snapping of a rotation follows the keys.
    if (m_command && m_gizmoCommand && m_gizmoActions.contains(transitioningFrom)) {
        if (auto *rotate = qobject_cast<RotateCommand *>(m_command))
            rotate->setSnap(snapped);
        return;
    }
    const QRectF rect = m_gizmo->gizmoRect();
    if (!rect.isValid() || m_gizmoHandle == TransformGizmo::NoHandle)
        return;
    const QPointF pointer = mapToScene(viewport()->mapFromGlobal(pos));
    TransformCommand *command = nullptr;
    if (m_gizmoRotates) {
        // Rotation goes by the pointer's direction from the centre, which the corner's offset
        // would bend; measured from the pointer itself nothing jumps either.
        auto *rotate = new RotateCommand(selection(), pointer);
        rotate->setSnap(snapped);
        command = rotate;
    } else {
        const QPointF start = pointer - m_gizmoOffset;
        const int corner = m_gizmoHandle - TransformGizmo::FirstScaleHandle;
        const QTransform &transform = m_gizmo->gizmoTransform();
        QPointF anchor = centred ? transform.map(rect.center())
                                 : transform.map(TransformGizmo::corner(rect, (corner + 2) % 4));
        // The command reads a pivot at exactly the origin as none; a nanometre off it is the
        // same point on any screen.
        if (anchor.isNull())
            anchor = QPointF(1e-9, 0);
        command = new ScaleCommand(selection(), start, anchor, start - anchor);
    }
    beginCommand(command);
    m_gizmoCommand = true;
}

void GraphicsView::gizmoSnappedBegin(const QPoint &pos, Action *transitioningFrom)
{
    gizmoBegin(pos, transitioningFrom, true, false);
}

void GraphicsView::gizmoCenterBegin(const QPoint &pos, Action *transitioningFrom)
{
    gizmoBegin(pos, transitioningFrom, false, true);
}

void GraphicsView::gizmoEnd(const Action::ContinuousUpdateData &, Action *transitioningTo)
{
    if (!m_gizmoActions.contains(transitioningTo))
        finishCurrentTransformCommand();
}

// --- keyboard arrange and flip ----------------------------------------------------------------

void GraphicsView::arrange(const QList<GraphicsItem *> &items, int mode)
{
    if (items.size() < 2 || isCanvasLocked())
        return;
    const float aspect = viewport()->height() > 0
        ? float(viewport()->width()) / float(viewport()->height())
        : 1.0f;
    auto *command = new AlignCommand(items, mode, m_gap, aspect);
    connect(command, &BaseCommand::commandMessage, m_commands, &CommandHandler::commandMessage,
        Qt::UniqueConnection);
    command->finish();
    m_commands->push(command);
    emit updateFinished();
}

void GraphicsView::arrangeSelection(int mode)
{
    arrange(selection(), mode);
}

void GraphicsView::packAll()
{
    const QList<GraphicsItem *> items = graphicsScene()->topLevelItems();
    if (items.size() < 2 || isCanvasLocked())
        return;
    arrange(items, AlignCommand::Pack);
    QRectF bounds;
    for (GraphicsItem *item : items)
        bounds |= item->sceneBounds();
    fitTo(bounds);
}

void GraphicsView::flipSelection(int direction)
{
    const QList<GraphicsItem *> items = selection();
    if (items.isEmpty() || isCanvasLocked())
        return;
    auto *command = new FlipCommand(items, direction);
    command->finish();
    m_commands->push(command);
    emit updateFinished();
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
    // Over an inactive window the gizmo comes back for a moment where the user points.
    if (m_gizmo->gizmoRect().isValid() && (m_gizmo->isFading() || m_gizmo->isHidden())
        && QGuiApplication::applicationState() != Qt::ApplicationActive) {
        m_gizmo->stopFade();
        m_gizmo->startFade();
    }
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
    if (auto *image = dynamic_cast<GraphicsImageItem *>(item); image && !image->image()) {
        // The relink dialog groups missing images by their file, so every image missing the
        // same file is asked for at once.
        QList<GraphicsImageItem *> missing;
        const QList<GraphicsItem *> all = scene->graphicsItems();
        for (GraphicsItem *other : all) {
            auto *otherImage = dynamic_cast<GraphicsImageItem *>(other);
            if (otherImage && !otherImage->image() && otherImage->source() == image->source())
                missing.append(otherImage);
        }
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
