#pragma once

#include <QString>

// The one door to the operating system. Everything that needs X11, xcb, D-Bus or /proc goes
// through here; callers stay portable and keep working where a call has no effect (the offscreen
// platform of the tests, Wayland without XWayland).
namespace Platform {

enum class WindowSystem { X11, Wayland, Offscreen, Other };

WindowSystem windowSystem();
QString windowSystemName();

} // namespace Platform
