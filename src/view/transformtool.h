#pragma once

#include "view/viewtool.h"

#include <QPixmap>
#include <QPointF>
#include <QTransform>

class SelectTool;
class TransformCommand;
class TransformGizmo;

// Moving, rotating, scaling, flipping and fading the selection by dragging, and the transform
// gizmo's handles that scale and rotate it. Every such drag is one transform command, pushed when
// the drag ends; a modifier pressed or released midway changes the running command (free to
// snapped move, say) instead of beginning another undo step. The tool also runs the commands of
// other gestures (crops, the overlay's pinch) so that there is only ever one command in progress
// and the gizmo follows it.
class TransformTool : public AbstractViewTool {
    Q_OBJECT

public:
    // selectTool tells where a select drag that turned into a move began.
    TransformTool(GraphicsView *view, ViewToolContext *context, const SelectTool *selectTool);
    ~TransformTool() override;

    void createActions() override;

    // The command in progress, or null. Beginning a command finishes the one in progress.
    TransformCommand *currentCommand() const { return m_command; }
    void beginCommand(TransformCommand *command);
    // Moves the command in progress to the pointer.
    void updateCommand(const Action::ContinuousUpdateData &motion);
    // Pushes the command in progress as one undo step and tests the pointer against the gizmo
    // again.
    void finishCommand();

    TransformGizmo *gizmo() const { return m_gizmo; }
    void setGizmoEnabled(bool enabled);
    bool isGizmoEnabled() const { return m_gizmoEnabled; }
    // The value of the display-mode setting, not the gizmo's bits.
    void setGizmoDisplayMode(int settingValue);
    void setGizmoHandleSize(int pixels);
    void setGizmoFadeWhenInactive(bool fade);
    // Places the gizmo over the selection and tests the pointer against it again.
    void updateGizmo();
    // The gizmo fades while another program is active and shows again when it comes back.
    void applicationStateChange(Qt::ApplicationState state);
    // Over an inactive window the gizmo comes back for a moment where the user points.
    void revealGizmoWhileInactive();
    // True when the pointer, in viewport coordinates, is over a handle; the gizmo-hover condition
    // and the cursor follow.
    bool gizmoHoverTest(const QPoint &viewPos);

private:
    void beginMove(const QPoint &pos, Action *transitioningFrom, int mode);
    void beginRotate(const QPoint &pos, Action *transitioningFrom, bool snap);
    void gizmoBegin(const QPoint &pos, Action *transitioningFrom, bool snapped, bool centred);
    // Ends the command unless the drag goes on in another action of the same family.
    void endUnlessHandedTo(const QList<Action *> &family, Action *transitioningTo);
    void placeGizmo();
    void updateGizmoCursor();

    const SelectTool *m_selectTool;
    TransformCommand *m_command = nullptr;
    QList<Action *> m_moveActions;
    QList<Action *> m_rotateActions;
    QList<Action *> m_gizmoActions;

    // The transform gizmo and what the pointer found on it at the last hover test.
    TransformGizmo *m_gizmo;
    bool m_gizmoEnabled = true;
    int m_gizmoHandle = 0;
    bool m_gizmoRotates = false;
    // From the grabbed corner to the pointer, in scene units: the corner, not the pointer,
    // follows the drag, so the selection does not jump when it starts.
    QPointF m_gizmoOffset;
    // Set while the current command is one the gizmo began.
    bool m_gizmoCommand = false;
    // The gizmo's transform and the command's frame when the current command began: the
    // gizmo follows the frame while the command runs.
    QTransform m_gizmoStartTransform;
    QTransform m_commandStartFrame;
    QPixmap m_scaleCursorPicture;
    QPixmap m_rotateCursorPicture;
};
