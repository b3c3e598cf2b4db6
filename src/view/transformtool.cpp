#include "view/transformtool.h"

#include "commands/commandhandler.h"
#include "commands/flipcommand.h"
#include "commands/movecommand.h"
#include "commands/opacitycommand.h"
#include "commands/rotatecommand.h"
#include "commands/scalecommand.h"
#include "input/actionhandler.h"
#include "input/conflictingbindingscondition.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "view/gizmocondition.h"
#include "view/graphicsview.h"
#include "view/itemcondition.h"
#include "view/selecttool.h"
#include "view/transformgizmo.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRubberBand>
#include <QSvgRenderer>

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

} // namespace

TransformTool::TransformTool(
    GraphicsView *view, ViewToolContext *context, const SelectTool *selectTool)
    : AbstractViewTool(view, context)
    , m_selectTool(selectTool)
    , m_gizmo(new TransformGizmo(view))
    , m_scaleCursorPicture(renderPicture(QStringLiteral(":/cursors/scale.svg")))
    , m_rotateCursorPicture(renderPicture(QStringLiteral(":/cursors/rotate.svg")))
{
    // Undo and redo move the items under the gizmo.
    connect(commands(), &CommandHandler::commandExecuted, this, [this] { updateGizmo(); });
}

// A command still in progress when the view goes was never pushed: nothing else owns it.
TransformTool::~TransformTool()
{
    delete m_command;
}

void TransformTool::createActions()
{
    const auto connectUpdate = [this](Action *action) {
        connect(action, &Action::continuousUpdate, this, &TransformTool::updateCommand);
    };

    // The gizmo's drags share the left button with select and move; the gizmo-hover condition
    // gives it to them only over a handle. They are not offered for rebinding.
    const auto gizmoAction = [&](const QString &name, const QString &label,
                                 const QKeySequence &keys, bool snapped, bool centred) {
        ActionBinding binding = continuousBinding(keys, Qt::LeftButton);
        binding.addCondition(context().locked, false);
        binding.addCondition(context().overWindowBorder, false);
        binding.addCondition(context().selectVersusItem, false);
        binding.addCondition(context().textEditing, false);
        binding.addCondition(context().pinch, false);
        binding.addCondition(context().gizmoHover, true);
        Action *action = addAction(name, label, binding, 0);
        context().gizmoHover->addAction(action);
        m_gizmoActions.append(action);
        connect(action, &Action::continuousBegin, this,
            [this, snapped, centred](
                const QPoint &pos, Action *from) { gizmoBegin(pos, from, snapped, centred); });
        connectUpdate(action);
        connect(action, &Action::continuousEnd, this,
            [this](const Action::ContinuousUpdateData &, Action *to) {
                endUnlessHandedTo(m_gizmoActions, to);
            });
    };
    gizmoAction(
        QStringLiteral("Transform Gizmo"), tr("Transform Gizmo"), QKeySequence(), false, false);
    gizmoAction(QStringLiteral("Snapped Transform Gizmo"), tr("Snapped Transform Gizmo"),
        QKeySequence(Qt::SHIFT), true, false);
    gizmoAction(QStringLiteral("Center Transform Gizmo"), tr("Center Transform Gizmo"),
        QKeySequence(Qt::ALT), false, true);

    // A modifier pressed or released during a move or rotation hands the drag to another
    // action of the same kind, which changes the running command.
    Action *move
        = addItemGesture(QStringLiteral("Move Images"), tr("Move images"), QKeySequence(), true);
    Action *axisMove = addItemGesture(QStringLiteral("Axis Snapped Move"),
        tr("Move along one axis"), QKeySequence(Qt::SHIFT), true);
    Action *neighbourMove = addItemGesture(QStringLiteral("Neighbour Snapped Move"),
        tr("Move snapping to neighbours"), QKeySequence(Qt::SHIFT | Qt::Key_Space), true);
    m_moveActions = { move, axisMove, neighbourMove };
    const int moveModes[]
        = { MoveCommand::FreeMove, MoveCommand::AxisMove, MoveCommand::NeighbourSnapMove };
    for (int i = 0; i < m_moveActions.size(); ++i) {
        const int mode = moveModes[i];
        connect(m_moveActions.at(i), &Action::continuousBegin, this,
            [this, mode](const QPoint &pos, Action *from) { beginMove(pos, from, mode); });
        connectUpdate(m_moveActions.at(i));
        connect(m_moveActions.at(i), &Action::continuousEnd, this,
            [this](const Action::ContinuousUpdateData &, Action *to) {
                endUnlessHandedTo(m_moveActions, to);
            });
    }

    Action *rotate = addItemGesture(
        QStringLiteral("Rotate Images"), tr("Rotate images"), QKeySequence(Qt::CTRL), true);
    Action *snappedRotate = addItemGesture(QStringLiteral("Snapped Rotate"), tr("Rotate in steps"),
        QKeySequence(Qt::CTRL | Qt::SHIFT), true);
    m_rotateActions = { rotate, snappedRotate };
    for (Action *action : qAsConst(m_rotateActions)) {
        const bool snap = action == snappedRotate;
        connect(action, &Action::continuousBegin, this,
            [this, snap](const QPoint &pos, Action *from) { beginRotate(pos, from, snap); });
        connectUpdate(action);
        connect(action, &Action::continuousEnd, this,
            [this](const Action::ContinuousUpdateData &, Action *to) {
                endUnlessHandedTo(m_rotateActions, to);
            });
    }

    // One command from press to release, whatever the keys do meanwhile.
    const auto simpleGesture = [&](const QString &name, const QString &label,
                                   const QKeySequence &keys, auto makeCommand) {
        Action *action = addItemGesture(name, label, keys, true);
        connect(action, &Action::continuousBegin, this,
            [this, makeCommand](const QPoint &pos) { beginCommand(makeCommand(pos)); });
        connect(action, &Action::continuousEnd, this, [this] { finishCommand(); });
        connectUpdate(action);
    };
    simpleGesture(QStringLiteral("Scale Images"), tr("Scale images"),
        QKeySequence(Qt::CTRL | Qt::ALT),
        [this](const QPoint &pos) { return new ScaleCommand(view()->selection(), scenePos(pos)); });
    simpleGesture(QStringLiteral("Flip Images"), tr("Flip images"),
        QKeySequence(Qt::ALT | Qt::SHIFT), [this](const QPoint &pos) {
            return new FlipCommand(view()->selection(), QPointF(viewportPos(pos)));
        });
    simpleGesture(QStringLiteral("Change Opacity"), tr("Change opacity"),
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT), [this](const QPoint &pos) {
            return new OpacityCommand(view()->selection(), QPointF(viewportPos(pos)));
        });
}

// --- the command in progress ------------------------------------------------------------------

void TransformTool::beginCommand(TransformCommand *command)
{
    if (m_command) {
        TransformCommand *previous = m_command;
        m_command = nullptr;
        previous->finish();
        commands()->push(previous);
        emit updateFinished();
    } else {
        emit updateStarted();
    }
    connect(command, &BaseCommand::commandMessage, commands(), &CommandHandler::commandMessage,
        Qt::UniqueConnection);
    m_command = command;
    m_gizmoCommand = false;
    m_gizmoStartTransform = m_gizmo->gizmoTransform();
    m_commandStartFrame = command->frame();
}

void TransformTool::updateCommand(const Action::ContinuousUpdateData &motion)
{
    if (!m_command)
        return;
    // A scene rectangle growing under the pointer would scroll the items away from it.
    scene()->setSceneRectLocked(true);
    const QPoint viewPos = viewportPos(motion.current);
    if (m_command->usesViewCoordinates()) {
        m_command->update(QPointF(viewPos));
    } else {
        const bool fromCorner = m_gizmoCommand && qobject_cast<ScaleCommand *>(m_command);
        m_command->update(view()->mapToScene(viewPos) - (fromCorner ? m_gizmoOffset : QPointF()));
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

void TransformTool::finishCommand()
{
    if (m_command) {
        TransformCommand *command = m_command;
        m_command = nullptr;
        command->finish();
        m_gizmoCommand = false;
        commands()->push(command);
        emit updateFinished();
    }
    m_gizmoCommand = false;
    placeGizmo();
    gizmoHoverTest(context().lastPointer);
    if (!context().gizmoHover->value())
        context().selectVersusItem->setValue(true);
    scene()->setSceneRectLocked(false);
    scene()->update();
    view()->rubberBand()->hide();
}

void TransformTool::endUnlessHandedTo(const QList<Action *> &family, Action *transitioningTo)
{
    if (!family.contains(transitioningTo))
        finishCommand();
}

// --- moves and rotations ----------------------------------------------------------------------

void TransformTool::beginMove(const QPoint &pos, Action *transitioningFrom, int mode)
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
        view(), view()->selection(), scenePos(start), mode, view()->alignmentGap()));
}

void TransformTool::beginRotate(const QPoint &pos, Action *transitioningFrom, bool snap)
{
    if (m_command && m_rotateActions.contains(transitioningFrom)) {
        if (auto *rotate = qobject_cast<RotateCommand *>(m_command)) {
            rotate->setSnap(snap);
            return;
        }
    }
    auto *command = new RotateCommand(view()->selection(), scenePos(pos));
    command->setSnap(snap);
    beginCommand(command);
}

// --- the gizmo --------------------------------------------------------------------------------

void TransformTool::setGizmoEnabled(bool enabled)
{
    m_gizmoEnabled = enabled;
    updateGizmo();
}

void TransformTool::setGizmoDisplayMode(int settingValue)
{
    m_gizmo->setDisplayMode(TransformGizmo::displayModeFromSetting(settingValue));
}

void TransformTool::setGizmoHandleSize(int pixels)
{
    m_gizmo->setHandleSize(pixels);
    updateGizmo();
}

void TransformTool::setGizmoFadeWhenInactive(bool fade)
{
    m_gizmo->setFadeWhenInactive(fade);
}

void TransformTool::placeGizmo()
{
    QRectF rect;
    QTransform transform;
    const QList<GraphicsItem *> items = view()->selection();
    if (!view()->isCanvasLocked() && m_gizmoEnabled && !view()->editedNote()) {
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

void TransformTool::updateGizmo()
{
    placeGizmo();
    // While a gesture runs (a rubber band changing the selection, too) the pointer must not
    // turn it into a gizmo drag; the next move without buttons tests again.
    if (!m_command && !ActionHandler::instance()->currentContinuousAction())
        gizmoHoverTest(context().lastPointer);
}

void TransformTool::applicationStateChange(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive) {
        if (m_gizmo->isVisible())
            m_gizmo->startFade();
    } else if (m_gizmo->gizmoRect().isValid()) {
        m_gizmo->stopFade();
    }
}

void TransformTool::revealGizmoWhileInactive()
{
    if (m_gizmo->gizmoRect().isValid() && (m_gizmo->isFading() || m_gizmo->isHidden())
        && QGuiApplication::applicationState() != Qt::ApplicationActive) {
        m_gizmo->stopFade();
        m_gizmo->startFade();
    }
}

bool TransformTool::gizmoHoverTest(const QPoint &viewPos)
{
    TransformGizmo::Hit hit;
    if (m_gizmoEnabled && m_gizmo->gizmoRect().isValid())
        hit = m_gizmo->hitTest(QPointF(viewPos));
    if (hit.handle == TransformGizmo::NoHandle) {
        if (context().gizmoHover->value())
            view()->viewport()->unsetCursor();
        m_gizmoHandle = TransformGizmo::NoHandle;
        context().gizmoHover->setValue(false);
        context().selectVersusItem->setValue(true);
        return false;
    }
    context().selectVersusItem->setValue(false);
    m_gizmoHandle = hit.handle;
    m_gizmoRotates = hit.handle >= TransformGizmo::FirstRotateHandle;
    const QPointF corner = m_gizmo->gizmoTransform().map(
        TransformGizmo::corner(m_gizmo->gizmoRect(), (hit.handle - 1) % 4));
    m_gizmoOffset = view()->mapToScene(viewPos) - corner;
    context().gizmoHover->setValue(true);
    updateGizmoCursor();
    return true;
}

void TransformTool::updateGizmoCursor()
{
    QWidget *viewport = view()->viewport();
    if (!context().gizmoHover->value() || m_gizmoHandle == TransformGizmo::NoHandle) {
        viewport->unsetCursor();
        return;
    }
    bool mirrored = false;
    const qreal angle = TransformGizmo::cursorAngle(
        m_gizmo->gizmoTransform(), (m_gizmoHandle - 1) % 4, &mirrored);
    const qreal ratio = view()->devicePixelRatioF();
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
    viewport->setCursor(QCursor(cursor));
}

void TransformTool::gizmoBegin(
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
    const QPointF pointer = scenePos(pos);
    TransformCommand *command = nullptr;
    if (m_gizmoRotates) {
        // Rotation goes by the pointer's direction from the centre, which the corner's offset
        // would bend; measured from the pointer itself nothing jumps either.
        auto *rotate = new RotateCommand(view()->selection(), pointer);
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
        command = new ScaleCommand(view()->selection(), start, anchor, start - anchor);
    }
    beginCommand(command);
    m_gizmoCommand = true;
}
