#include "platform/platform.h"

#include <QWidget>
#include <QWindow>

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

} // namespace Platform
