#pragma once

#include "ui/baseframe.h"

#include <QRect>

class PopupLabel;

// The frame of a window with the system's actions: close, minimise, maximise, and the two
// stacking modes that keep the window above every other window or below them all. At most one
// of the modes is on, and each is put back in force whenever the window is activated or
// deactivated, so the window system cannot leave the window behind others while it is meant to
// float. State changes are reported by popup labels on the window, when popups are enabled.
//
// The frame keeps its state; whoever owns it stores it (MainFrame keeps it in the settings).
// GUI thread only.
class Frame : public BaseFrame {
    Q_OBJECT

public:
    explicit Frame(QWidget *window);

    // Opens the context menu on a right click: a release within the move threshold. A longer
    // drag goes on as whatever else the button does (moving the window, panning).
    Action *contextMenuAction() const { return m_contextMenuAction; }
    Action *closeAction() const { return m_closeAction; }
    Action *minimizeAction() const { return m_minimizeAction; }
    Action *maximizeAction() const { return m_maximizeAction; }
    Action *alwaysOnTopAction() const { return m_alwaysOnTopAction; }
    Action *alwaysOnBottomAction() const { return m_alwaysOnBottomAction; }

    bool isAlwaysOnTop() const { return m_alwaysOnTop; }
    bool isAlwaysOnBottom() const { return m_alwaysOnBottom; }
    bool isMaximized() const;

    // A maximised window covers the taskbar (full screen) when maximised by the frame.
    void setMaximizedAboveTaskbar(bool on) { m_maximizedAboveTaskbar = on; }
    // A maximised window is locked against moving and resizing while it stays maximised.
    void setLockWhileMaximized(bool on) { m_lockWhileMaximized = on; }
    // The geometry the window returns to from maximised; followed while the window is normal.
    void setNormalGeometry(const QRect &geometry) { m_normalGeometry = geometry; }
    QRect normalGeometry() const { return m_normalGeometry; }

    PopupLabel *popupLabel() const { return m_popup; }
    void setPopupEnabled(bool on) { m_popupEnabled = on; }
    bool isPopupEnabled() const { return m_popupEnabled; }
    // Shows a notice for two seconds when popups are enabled; nothing otherwise.
    void showPopup(const QString &category, const QString &heading, const QString &bindingText,
        const QString &iconPath);

public slots:
    void setAlwaysOnTop(bool on);
    void setAlwaysOnBottom(bool on);
    // fromWindowSystem: the window system asked (it maximises in its own way, never full screen).
    void maximize(bool on, bool fromWindowSystem = false);
    void toggleMinimized();

signals:
    void alwaysOnTopChanged(bool on);
    void alwaysOnBottomChanged(bool on);
    void maximizedChanged(bool on);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void windowShown() override;

private:
    void createSystemActions();
    void createContextMenuAction();
    // Adds the window's entries to the context menu being built.
    void contributeToMenu();
    // Follows a maximized state that came about by other means than maximize().
    void recordMaximized(bool on);
    void enforceStacking();

    Action *m_contextMenuAction = nullptr;
    Action *m_closeAction = nullptr;
    Action *m_minimizeAction = nullptr;
    Action *m_maximizeAction = nullptr;
    Action *m_alwaysOnTopAction = nullptr;
    Action *m_alwaysOnBottomAction = nullptr;
    PopupLabel *m_popup;

    bool m_alwaysOnTop = false;
    bool m_alwaysOnBottom = false;
    // Set while a stacking change is applied: the activation events it causes are its own.
    bool m_stackingGuard = false;
    bool m_popupEnabled = true;
    bool m_maximizedAboveTaskbar = false;
    bool m_lockWhileMaximized = false;
    bool m_pendingMaximize = false;
    bool m_lockedByMaximize = false;
    bool m_lockedBeforeMaximize = false;
    QRect m_normalGeometry;
};
