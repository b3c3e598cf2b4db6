#pragma once

#include "ui/frame.h"

#include <QHash>
#include <QList>
#include <QPointer>

class ApplicationLook;
class ColorCustomizer;
class ContextMenu;
class QAction;
class GeneralSettings;

// The main window's frame: hosts the canvas view, follows the frame settings ("MoveThreshold",
// "ResizeBorder", "PopupLabelEnabled", "MaximizedAboveTaskbar", "LockWhileMaximized",
// "MainWindowBorder", "WindowLocked") and keeps the window's place, size, maximized state and
// stacking mode between runs.
class MainFrame : public Frame {
    Q_OBJECT

public:
    MainFrame(GeneralSettings *settings, QWidget *window);

    // Applies the stored geometry, maximized state and stacking mode to the window before it is
    // first shown. Without a stored geometry (the first start) the window is centred on the
    // primary screen at two thirds of its size.
    void restoreWindowState();
    void storeWindowState();

    // The window's first-start geometry on a screen with the given available area.
    static QRect defaultGeometry(const QRect &available);

    // The colour scheme: its palette, style sheet and font go to the whole application, its
    // master opacity to the main window and the windows registered here.
    ColorCustomizer *colorCustomizer() const { return m_colors; }
    // Applies the scheme once every template is registered; later changes follow by themselves.
    void applyColors();
    void registerWindow(QWidget *window);

private:
    void followSettings();
    void createColors();
    void applyOpacity(qreal opacity);

    GeneralSettings *m_settings;
    ColorCustomizer *m_colors = nullptr;
    ApplicationLook *m_look = nullptr;
    ContextMenu *m_schemeMenu = nullptr;
    QHash<QString, QAction *> m_presetEntries;
    QList<QPointer<QWidget>> m_windows;
};
