#pragma once

#include "input/action.h"
#include "input/actioncondition.h"
#include "scene/graphicsscene.h"
#include "view/arrangetool.h"
#include "view/notetool.h"
#include "view/pickertool.h"
#include "view/selectioncondition.h"
#include "view/transformtool.h"
#include "view/viewtool.h"

#include <QColor>
#include <QGraphicsView>
#include <QList>
#include <QPointF>
#include <QTimer>
#include <QTransform>

class ColorPickerDialog;
class CommandHandler;
class CoordinatePickerDialog;
class CropTool;
class GraphicsImageItem;
class GraphicsItem;
class GraphicsTextItem;
class QMimeData;
class QRubberBand;
class SelectTool;
class TransformCommand;
class TransformGizmo;

// The canvas view. It owns navigation (pan, zoom about a point, fitting, stepping through
// images, slideshow) and hands every other gesture to a tool: selecting, transforming (with the
// gizmo), cropping, the inspection picks, notes, and the keyboard's arrange and flip. All input
// arrives through actions of the ActionHandler; the view keeps the conditions those actions
// depend on and shares them with the tools. GUI thread only.
class GraphicsView : public QGraphicsView {
    Q_OBJECT
    Q_PROPERTY(QColor canvasColor READ canvasColor WRITE setCanvasColor)
    Q_PROPERTY(QColor itemSelectionColor READ itemSelectionColor WRITE setItemSelectionColor)
    Q_PROPERTY(QColor itemBorderColor READ itemBorderColor WRITE setItemBorderColor)
    Q_PROPERTY(QColor noteColor READ noteColor WRITE setNoteColor)
    Q_PROPERTY(QColor noteBackgroundColor READ noteBackgroundColor WRITE setNoteBackgroundColor)
    Q_PROPERTY(QColor hintColor READ hintColor WRITE setHintColor)

public:
    // Conditions of the window's frame that the view's own bindings respect; any may be null.
    struct FrameConditions {
        // True while the window is maximized: the right button pans instead of moving it.
        ActionCondition *maximized = nullptr;
        // True while the pointer is on the resize border: left-button gestures stay off it.
        ActionCondition *overBorder = nullptr;
        // True once a right press has dragged past the frame's click distance; until then the
        // press may still be a click that opens the context menu.
        ActionCondition *rightDragged = nullptr;
    };

    // commandHandler may be null (the scene's own is used then).
    GraphicsView(GraphicsScene *scene, CommandHandler *commandHandler, const FrameConditions &frame,
        QWidget *parent = nullptr);
    explicit GraphicsView(GraphicsScene *scene, CommandHandler *commandHandler = nullptr)
        : GraphicsView(scene, commandHandler, FrameConditions())
    {
    }
    ~GraphicsView() override;

    GraphicsScene *graphicsScene() const { return static_cast<GraphicsScene *>(scene()); }
    CommandHandler *commandHandler() const { return m_commands; }

    bool isCanvasLocked() const { return m_context.locked->value(); }
    void setCanvasLocked(bool locked);
    bool isOverlayMode() const { return m_context.overlay->value(); }
    void setOverlayMode(bool overlay);

    QColor canvasColor() const { return graphicsScene()->canvasColor(); }
    void setCanvasColor(const QColor &color);
    // The text an empty board shows.
    QColor hintColor() const { return graphicsScene()->hintColor(); }
    void setHintColor(const QColor &color);
    QColor itemSelectionColor() const { return graphicsScene()->selectionColor(); }
    void setItemSelectionColor(const QColor &color);
    QColor itemBorderColor() const { return graphicsScene()->borderColor(); }
    void setItemBorderColor(const QColor &color);

    // Values of settings the main window forwards.
    void setWheelMode(int mode) { m_wheelMode = mode; }
    void setInvertWheel(bool invert) { m_invertWheel = invert; }
    void setActivateSelected(bool activate) { m_activateSelected = activate; }
    bool activatesSelected() const { return m_activateSelected; }
    void setAlignmentGap(int gap) { m_gap = gap; }
    int alignmentGap() const { return m_gap; }
    void setSlideshowInterval(int seconds) { m_slideshow->setInterval(qMax(1, seconds) * 1000); }
    void setSelectTextOnEditingStart(bool select)
    {
        m_noteTool->setSelectTextOnEditingStart(select);
    }
    void setFinishNoteWithReturn(bool finish) { m_noteTool->setFinishNoteWithReturn(finish); }
    // Resizing the view scales what it shows with it, about the view's centre.
    void setScaleOnResize(bool scale) { m_scaleOnResize = scale; }
    void setGizmoEnabled(bool enabled) { m_transformTool->setGizmoEnabled(enabled); }
    bool isGizmoEnabled() const { return m_transformTool->isGizmoEnabled(); }
    // The value of the display-mode setting, not the gizmo's bits.
    void setGizmoDisplayMode(int value) { m_transformTool->setGizmoDisplayMode(value); }
    void setGizmoHandleSize(int pixels) { m_transformTool->setGizmoHandleSize(pixels); }
    void setGizmoFadeWhenInactive(bool fade) { m_transformTool->setGizmoFadeWhenInactive(fade); }
    TransformGizmo *transformGizmo() const { return m_transformTool->gizmo(); }

    // Navigation. A zoom or scale step is refused (false) when the resulting transform would
    // not be finite or not invertible; there are no other limits.
    bool zoom(qreal step);
    bool scaleAboutAnchor(qreal sx, qreal sy);
    void setAnchor(const QPointF &scenePoint) { m_anchor = scenePoint; }
    QPointF anchor() const { return m_anchor; }
    void pan(const QPoint &offset);
    void updateSceneRect();
    void focusCanvas();
    void focusImages();
    void focusItems(const QList<GraphicsItem *> &items);
    // Shows target whole, as large as the viewport allows.
    void fitTo(const QRectF &target);
    void focusNext() { focusStep(1); }
    void focusPrevious() { focusStep(-1); }
    void resetView();
    void actualSize();
    void toggleSlideshow();
    bool isSlideshowRunning() const { return m_slideshow->isActive(); }
    // One step of a touch pinch: the state, the scale factor since the previous step and the
    // centre on the screen, as the pinch gesture reports them.
    void pinch(Qt::GestureState state, qreal scaleFactor, const QPoint &globalCentre);
    void setLockedFocusItems(const QList<GraphicsItem *> &items) { m_lockedFocusItems = items; }

    // Arranging with fewer than two items, or while locked, does nothing.
    void arrange(const QList<GraphicsItem *> &items, int mode)
    {
        m_arrangeTool->arrange(items, mode);
    }
    void arrangeSelection(int mode) { m_arrangeTool->arrangeSelection(mode); }
    void packAll() { m_arrangeTool->packAll(); }
    void flipSelection(int direction) { m_arrangeTool->flipSelection(direction); }

    // The colours of notes made here; invalid ones leave the note to the view's palette.
    QColor noteColor() const { return m_noteTool->noteColor(); }
    void setNoteColor(const QColor &color) { m_noteTool->setNoteColor(color); }
    QColor noteBackgroundColor() const { return m_noteTool->noteBackgroundColor(); }
    void setNoteBackgroundColor(const QColor &color) { m_noteTool->setNoteBackgroundColor(color); }
    // A new note at viewPos (viewport coordinates), the same size on the screen at any zoom,
    // attached to the picture under the pointer, added as one undo step and edited at once.
    // Null while the canvas is locked.
    GraphicsTextItem *createNote(const QPoint &viewPos) { return m_noteTool->createNote(viewPos); }

    // The note in edit mode, or null; setting another ends the editing of the previous one.
    GraphicsTextItem *editedNote() const { return m_noteTool->editedNote(); }
    void setEditedNote(GraphicsTextItem *note) { m_noteTool->setEditedNote(note); }

    QList<GraphicsItem *> selection() const { return m_context.selection->items(); }
    // Raises the items above all others, as one undo step.
    void bringToFront(const QList<GraphicsItem *> &items);
    // The item gesture's command in progress, or null.
    TransformCommand *currentCommand() const { return m_transformTool->currentCommand(); }
    QRubberBand *rubberBand() const { return m_rubberBand; }
    ColorPickerDialog *colorPicker() const { return m_pickerTool->colorPicker(); }
    CoordinatePickerDialog *coordinatePicker() const { return m_pickerTool->coordinatePicker(); }
    // The top canvas item (picture or note) at viewPos, in viewport coordinates, or null.
    GraphicsItem *topItemAt(const QPoint &viewPos) const;

signals:
    void canvasLockedChanged(bool locked);
    void emptyCanvasDoubleClicked();
    void updateStarted();
    void updateFinished();
    void relinkRequested(const QList<GraphicsImageItem *> &images);
    void dropRequested(const QMimeData *mimeData, const QPoint &position);
    void slideshowStateChanged(bool enabled);

public slots:
    void handleSelectionChanged();
    void handleSceneRectChanged(const QRectF &rect);
    // Gives the edited note the colour its last colour button asked for.
    void updateTextColor(const QColor &color) { m_noteTool->updateTextColor(color); }
    void applicationStateChange(Qt::ApplicationState state);

    void panUpdate(const Action::ContinuousUpdateData &motion);
    void zoomBegin(const QPoint &pos) { m_anchor = mapToScene(viewport()->mapFromGlobal(pos)); }
    void zoomUpdate(const Action::ContinuousUpdateData &motion);

    // Places the gizmo over the selection and tests the pointer against it again.
    void updateGizmo() { m_transformTool->updateGizmo(); }

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    struct ViewState {
        QTransform transform;
        int horizontal = 0;
        int vertical = 0;
    };

    void createActions();
    ViewState currentState() const;
    void restoreState(const ViewState &state);
    void focusStep(int direction);
    void hoverTest(const QPoint &viewPos);
    void clearHover();
    static bool isRichTextFromNote(const QMimeData *mimeData);

    CommandHandler *m_commands;
    QPointF m_anchor;
    int m_wheelMode = 0;
    bool m_invertWheel = false;
    bool m_activateSelected = true;
    int m_gap = 10;
    bool m_centreOnItems = true;
    bool m_scaleOnResize = false;

    // Focus cycle and the view saved before focusing.
    QList<GraphicsItem *> m_focusCycle;
    int m_focusIndex = -1;
    QList<GraphicsItem *> m_focusedItems;
    QList<GraphicsItem *> m_lockedFocusItems;
    bool m_hasSavedView = false;
    ViewState m_savedView;
    bool m_hasFocusedState = false;
    ViewState m_focusedState;
    bool m_focusing = false;
    QTimer *m_slideshow;

    QRubberBand *m_rubberBand;

    // The pinch centre at the last gesture update, in viewport coordinates.
    QPointF m_pinchCentre;

    // The conditions of all canvas actions, shared with the tools. The frame's conditions are
    // given by the main window, or else the maximized one is kept here from the window's state.
    ViewToolContext m_context;
    bool m_ownsMaximized;
    PickerTool *m_pickerTool = nullptr;
    NoteTool *m_noteTool = nullptr;
    SelectTool *m_selectTool = nullptr;
    TransformTool *m_transformTool = nullptr;
    CropTool *m_cropTool = nullptr;
    ArrangeTool *m_arrangeTool = nullptr;
    // Every tool, in the order they were made.
    QList<AbstractViewTool *> m_tools;
};
