#pragma once

#include <QObject>
#include <QPointer>
#include <QRectF>

class Action;
class GeneralSettings;
class Setting;
class WindowModesHost;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The ways the main window keeps out of the way of other work: transparent to the mouse (clicks
// pass through to what lies below), overlay (only the pictures float over the desktop), both,
// the window and canvas locks, resize to the selection, and the tray icon that is the way back
// from click-through besides the global binding.
//
// The modes persist only through "LastWindowMode" and "DefaultWindowMode". GUI thread only;
// owned by the main window.
class WindowModes : public QObject {
    Q_OBJECT

public:
    enum Mode {
        Normal = 0,
        MouseTransparent = 1,
        Overlay = 2,
        OverlayAndMouseTransparent = 3,
        LastMode = 4
    };

    explicit WindowModes(WindowModesHost *host);
    ~WindowModes() override;

    bool isMouseTransparent() const { return m_mouseTransparent; }
    bool isOverlay() const;

    Action *mouseTransparentAction() const { return m_mouseTransparentAction; }
    Action *overlayAction() const { return m_overlayAction; }
    Action *windowLockAction() const { return m_windowLockAction; }
    Action *canvasLockAction() const { return m_canvasLockAction; }
    QList<Action *> actions() const;

    // The tray icon, when the desktop has a tray.
    QSystemTrayIcon *trayIcon() const { return m_tray; }

public slots:
    void setMouseTransparent(bool transparent, bool force = false);
    void toggleMouseTransparent();
    void setOverlay(bool overlay, bool force = false);
    void toggleOverlay();
    void setWindowMode(int mode);
    void setWindowLocked(bool locked);
    void setCanvasLocked(bool locked);
    void resizeToSelection();
    void increaseMasterOpacity();
    void decreaseMasterOpacity();
    // Called whenever the window is shown: a pending overlay applies now, and the first time the
    // default window mode.
    void windowShown(bool first);
    // Called when the window closes: the next start must not begin transparent.
    void windowClosing();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createActions();
    void createTray();
    void followLocks();
    void updateCanvasLockIcon();
    void warnWithoutCompositor();
    // Asks before a mode that makes the window hard to reach; the setting skips the question.
    bool confirm(const QString &text, Setting *hideWarning);
    QRectF visibleSceneRect() const;

    WindowModesHost *m_host;
    // The host's window: the modes move it, show it and let clicks pass through it.
    QWidget *m_window;
    GeneralSettings *m_settings;
    Setting *m_lastMode;
    Setting *m_defaultMode;
    Setting *m_hideTransparentWarning;
    Setting *m_hideOverlayWarning;
    bool m_mouseTransparent = false;
    bool m_overlayPending = false;
    bool m_alwaysOnTopBefore = false;
    bool m_maximizedBefore = false;
    bool m_lockedBefore = false;
    bool m_compositorWarned = false;
    QRectF m_viewBeforeOverlay;

    Action *m_mouseTransparentAction = nullptr;
    Action *m_overlayAction = nullptr;
    Action *m_windowLockAction = nullptr;
    Action *m_canvasLockAction = nullptr;
    Action *m_resizeToSelectionAction = nullptr;
    QList<Action *> m_disabledForOverlay;

    QLabel *m_canvasLockIcon = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_trayMenu = nullptr;
};
