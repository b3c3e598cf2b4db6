#include "platform/platform.h"

#include <QWidget>
#include <QWindow>
#include <QX11Info>

#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace Platform {

void setWindowStacking(QWidget *window, Stacking stacking)
{
    if (!window)
        return;
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, stacking == Stacking::AlwaysOnTop);
    flags.setFlag(Qt::WindowStaysOnBottomHint, stacking == Stacking::AlwaysOnBottom);
    // QWidget::setWindowFlags would destroy and re-create the native window: the window would
    // flicker, lose its place and drop its input state. Changing the flags underneath and on the
    // native window makes the window manager restack it in place.
    if (flags != window->windowFlags())
        window->overrideWindowFlags(flags);
    QWindow *handle = window->windowHandle();
    if (!handle)
        return;
    if (handle->flags() != flags)
        handle->setFlags(flags);
    // Only a window manager keeps a z-order; the other platforms say so in a warning each time.
    if (stacking == Stacking::AlwaysOnBottom && window->isVisible()
        && windowSystem() == WindowSystem::X11)
        handle->lower();
}

Stacking windowStacking(const QWidget *window)
{
    if (!window)
        return Stacking::Normal;
    const Qt::WindowFlags flags = window->windowFlags();
    if (flags & Qt::WindowStaysOnTopHint)
        return Stacking::AlwaysOnTop;
    if (flags & Qt::WindowStaysOnBottomHint)
        return Stacking::AlwaysOnBottom;
    return Stacking::Normal;
}

void setTransparentForInput(QWidget *window, bool on)
{
    if (!window)
        return;
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowTransparentForInput, on);
    // As for stacking: the native window stays, only its flags change.
    if (flags != window->windowFlags())
        window->overrideWindowFlags(flags);
    QWindow *handle = window->windowHandle();
    if (!handle)
        return;
    handle->setFlag(Qt::WindowTransparentForInput, on);
    // Qt 5.15 leaves an input region of the window's present size behind when click-through
    // ends, so a later resize would have dead areas: reset the input shape to the whole window.
    if (!on && QX11Info::isPlatformX11() && QX11Info::connection()) {
        xcb_shape_mask(QX11Info::connection(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT,
            xcb_window_t(handle->winId()), 0, 0, XCB_NONE);
        xcb_flush(QX11Info::connection());
    }
}

bool hasCompositor()
{
    switch (windowSystem()) {
    case WindowSystem::X11:
        return QX11Info::isCompositingManagerRunning();
    case WindowSystem::Wayland:
        return true;
    default:
        return false;
    }
}

} // namespace Platform
