#pragma once

#include "input/action.h"
#include "ui/framegeometry.h"

#include <QColor>
#include <QPointer>
#include <QSize>
#include <QWidget>

class ActionCondition;
class QHBoxLayout;
class QLabel;
class QScreen;
class QToolButton;
class QVBoxLayout;

// The frame of a window that has no system frame: a title strip with the window's title and a
// close button above the window's content, moving by a right-button drag, resizing at the border
// with the matching cursors, and keeping the window on the screens when it is shown and when
// screens come, go or change.
//
// Moving and resizing are actions of the action handler, so they can be rebound and they stop
// while the window is locked. Where the window system offers an interactive move or resize it
// gets the drag once it has started (it snaps to edges and works on Wayland); where it refuses,
// the frame moves and resizes the window itself in the screens' device pixels, so that a window
// dragged onto a screen of another scale stays under the pointer.
//
// The frame is a child of the window it manages and fills it; the window's owner lays it out.
// GUI thread only.
class BaseFrame : public QWidget {
    Q_OBJECT
    // The line around the window; a style sheet sets it (qproperty-borderColor), as style sheets
    // give no palette role for it. Invalid: the palette's Mid colour.
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)

public:
    // window is the top-level window the frame manages and its parent. Windows of dialog type
    // are pulled fully onto the screens and are not resizable by default.
    explicit BaseFrame(QWidget *window)
        : BaseFrame(window, CreateActions)
    {
    }
    ~BaseFrame() override;

    // Gives a dialog the frame, moving and closing like the main window but not resizable.
    // Returns the widget the dialog's contents go on.
    static QWidget *frameDialog(QWidget *dialog);

    void setContent(QWidget *content);
    QWidget *content() const { return m_content; }

    void setMoveThreshold(int pixels) { m_moveThreshold = pixels; }
    int moveThreshold() const { return m_moveThreshold; }
    void setResizeBorder(int pixels) { m_resizeBorder = pixels; }
    int resizeBorder() const { return m_resizeBorder; }
    void setResizable(bool resizable);
    bool isResizable() const;
    void setLocked(bool locked);
    bool isLocked() const;
    bool isMoving() const;
    bool isResizing() const;
    bool isDialog() const { return m_isDialog; }
    // Whether the frame draws a line around the window (it keeps its margin either way).
    void setBorderVisible(bool visible);
    // Whether the frame paints its margin and title strip; an overlay window shows through.
    void setBackgroundVisible(bool visible);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);

    // True while the pointer is on the resize border: the content's own gestures on the same
    // button must not start there.
    ActionCondition *overBorderCondition() const { return m_overBorder; }
    // True while the window is maximized or full screen; Frame follows the window's state.
    ActionCondition *maximizedCondition() const { return m_maximized; }
    // True when a right-button drag may move the window: always in a dialog; in a frame with a
    // context menu once the press has travelled past the move threshold (Frame keeps it).
    ActionCondition *rightDraggedCondition() const { return m_rightDragged; }

    Action *moveAction() const { return m_moveAction; }
    Action *resizeAction() const { return m_resizeAction; }
    Action *resizeCursorAction() const { return m_cursorAction; }
    QWidget *titleStrip() const { return m_titleStrip; }

    // Moves the window back onto the screens when it lies off them; never resizes it.
    void keepOnScreens();

protected:
    enum ActionTiming { CreateActions, DeferActions };
    // DeferActions: the subclass registers actions that must come first (they are tried in the
    // order they were registered), then calls createActions() itself.
    BaseFrame(QWidget *window, ActionTiming timing);
    void createActions();
    // Title-strip buttons of subclasses go before the close button.
    QToolButton *addTitleButton(const QString &iconPath, const QString &toolTip);
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    // The window was shown for the first time, or again after being hidden.
    virtual void windowShown();

    // Where the right button went down, for a drag that another action of this frame began.
    QPoint m_pressPosition;

private:
    void watchScreens();
    void tintGlyph(QToolButton *button) const;
    void moveBegin(const QPoint &position);
    void moveUpdate(const Action::ContinuousUpdateData &motion);
    void moveEnd();
    void resizeBegin(const QPoint &position);
    void resizeUpdate(const Action::ContinuousUpdateData &motion);
    void resizeEnd();
    void updateCursor(const QPoint &position);
    // Places the window at the device rectangle, on the screen that should hold it.
    void setDeviceGeometry(const QRect &device);

    QWidget *m_managed;
    QPointer<QWidget> m_content;
    QVBoxLayout *m_layout = nullptr;
    QWidget *m_titleStrip = nullptr;
    int m_stripHeight = 0;
    QHBoxLayout *m_buttonLayout = nullptr;
    QLabel *m_title = nullptr;
    QToolButton *m_closeButton = nullptr;
    bool m_isDialog = false;
    bool m_borderVisible = true;
    bool m_backgroundVisible = true;
    QColor m_borderColor;

    int m_moveThreshold = 5;
    int m_resizeBorder = 10;
    ActionCondition *m_locked;
    ActionCondition *m_moving;
    ActionCondition *m_resizing;
    ActionCondition *m_resizable;
    ActionCondition *m_overBorder;
    ActionCondition *m_maximized;
    ActionCondition *m_rightDragged;
    FrameGeometry::Edges m_edges;

    QPoint m_resizeStartCursor;
    QPoint m_resizeStartPosition;
    QSize m_resizeStartSize;
    QPoint m_moveOffset;
    QSize m_moveSize;
    // The window system took over the running drag: the updates leave the window alone.
    bool m_systemDrag = false;
    bool m_cursorOverridden = false;

    Action *m_moveAction = nullptr;
    Action *m_resizeAction = nullptr;
    Action *m_cursorAction = nullptr;
};
