#pragma once

#include <QString>

class GeneralSettings;
class GraphicsScene;
class GraphicsView;
class MainFrame;
class QWidget;

// What the window modes need of the window they switch: the window itself (parent of their
// actions and questions, and what they move, show and let clicks pass through), its frame, view
// and scene, and its notices. The main window implements it.
class WindowModesHost {
public:
    virtual ~WindowModesHost() = default;

    virtual QWidget *asWidget() = 0;
    virtual GeneralSettings *generalSettings() const = 0;
    virtual GraphicsScene *scene() const = 0;
    virtual GraphicsView *view() const = 0;
    virtual MainFrame *frame() const = 0;
    // Overlay: the canvas and the frame stop painting their backgrounds.
    virtual void setOverlayLook(bool on) = 0;
    virtual void showNotice(const QString &category, const QString &heading,
        const QString &iconPath, const QString &bindingText = QString())
        = 0;
};
